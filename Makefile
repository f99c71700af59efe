# Entry points: `make run`, `make test`, `make bench`, `make fuzz`, `make screenshots`. Each installs what is
# missing first.
JOBS ?= $(shell nproc)
CI_WERROR := $(if $(CI),ON,OFF)

.PHONY: deps run test test-threads bench fuzz screenshots release clean

deps:
	@bash scripts/install-deps.sh

# Under CI the release build must be free of warnings too: its optimiser sees what the test build's does not.
release: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=OFF -DORV_TESTS=OFF -DORV_WERROR=$(CI_WERROR)
	cmake --build build/release -j $(JOBS)

run: release
	./build/release/bin/Orvanel

test: deps
	@if [ -n "$(CI)" ]; then $(MAKE) --no-print-directory release; fi
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_WERROR=$(CI_WERROR)
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure --timeout 300 -j $(JOBS)
	$(MAKE) --no-print-directory test-threads

# The tests of the sound engine's threads again under ThreadSanitizer, built alone in build/tsan. The
# build runs through scripts/tsan-run.sh as well: it runs the sanitized content tools.
test-threads: deps
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DORV_TSAN=ON -DORV_WERROR=$(CI_WERROR)
	scripts/tsan-run.sh cmake --build build/tsan -j $(JOBS) --target ThreadTests
	cd build/tsan && ctest --output-on-failure --timeout 300 -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/bin/bench_*; do echo "== $$b"; ./$$b || exit 1; done

# A small picture of each level under docs/, rendered headless by the game in process (the level
# picture tests of the test configuration, whose target builds the content they draw). Each picture is
# written only once its test has passed.
screenshots: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_WERROR=$(CI_WERROR)
	cmake --build build/test -j $(JOBS) --target VantorTests
	@mkdir -p docs
	SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy LSAN_OPTIONS=suppressions=tests/lsan.supp:print_suppressions=0 \
	ORV_WRITE_SCREENSHOTS=docs build/test/bin/VantorTests --gtest_filter='LevelPictures.*'

# The readers' fuzz targets under clang, FUZZ_SECONDS each (60 by default): scripts/fuzz.sh.
fuzz:
	@JOBS=$(JOBS) bash scripts/fuzz.sh

clean:
	rm -rf build
