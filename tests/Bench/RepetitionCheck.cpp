// A benchmark program for the tests of the benchmarks' entry: the repetition that ORV_FAILING_REPETITION
// names (counted from 0, per benchmark) fails. "Repeated" shows its five repetitions as aggregates on
// the console, "Hidden" hides its three from every report, "Single" repeats as the command line asks.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

template <int kBenchmark>
void Counted(benchmark::State& state) {
  static int repetition = 0;
  const int index = repetition++;
  for (auto _ : state) benchmark::DoNotOptimize(index);
  const char* failing = std::getenv("ORV_FAILING_REPETITION");
  if (failing && std::to_string(index) == failing) state.SkipWithError("the repetition asked to fail");
}
BENCHMARK(Counted<0>)->Name("Repeated")->Iterations(10)->Repetitions(5)->DisplayAggregatesOnly(true);
BENCHMARK(Counted<1>)->Name("Hidden")->Iterations(10)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(Counted<2>)->Name("Single")->Iterations(10);

}  // namespace
