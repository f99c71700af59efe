#!/usr/bin/env bash
# Builds the readers' fuzz targets (tests/fuzz) with clang, libFuzzer and the address and
# undefined-behaviour sanitizers, then fuzzes each from its committed seed corpus for a bounded time.
#   FUZZ_SECONDS  seconds per target (60)      FUZZ_TARGETS  which targets (all)
#   JOBS          targets fuzzed at once (nproc)
# New inputs collect in build/fuzz/corpus/<target>; the committed seeds are only read. An input that
# crashes is kept in build/fuzz/crashes/<target>/, and the run fails after every target has had its turn.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
# Every target with a seed corpus.
targets=${FUZZ_TARGETS:-$(ls tests/fuzz/corpus)}
jobs=${JOBS:-$(nproc)}

bash scripts/install-deps.sh fuzz
mkdir -p build

cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="-O1 -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link" \
  -DORV_SANITIZE=ON -DORV_FUZZ=ON -DORV_TESTS=ON -DORV_BENCH=OFF > build/fuzz-configure.log
cmake --build build/fuzz -j "$jobs" --target $(for t in $targets; do echo "fuzz_$t"; done)

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
# Reports name functions and lines when the matching symbolizer is there.
if command -v llvm-symbolizer > /dev/null; then export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer)"; fi
# Up to $jobs targets fuzz at once, each for its own $seconds; a target's output is shown whole when it
# ends, so that the reports of targets running side by side do not interleave.
mkdir -p build/fuzz/logs
fuzz_one() {
  local t=$1
  mkdir -p "build/fuzz/corpus/$t" "build/fuzz/crashes/$t"
  # Levels name spaces of the content tree: the targets run from the repository root.
  "build/fuzz/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/$t/" "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
    > "build/fuzz/logs/$t.log" 2>&1
}
declare -A running=()  # pid -> target
failed=()
# Waits for one running target to end, shows its output and records whether it failed.
reap_one() {
  local pid status=0
  wait -n -p pid "${!running[@]}" || status=$?
  local t=${running[$pid]}
  unset "running[$pid]"
  echo "== fuzz_$t for ${seconds}s"
  cat "build/fuzz/logs/$t.log"
  if [ "$status" -ne 0 ]; then failed+=("$t"); fi
}
for t in $targets; do
  while [ ${#running[@]} -ge "$jobs" ]; do reap_one; done
  fuzz_one "$t" &
  running[$!]=$t
done
while [ ${#running[@]} -gt 0 ]; do reap_one; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in build/fuzz/crashes/)" >&2
  exit 1
fi
