// The benchmarks' entry: the library's own run, ending with a failure code when any benchmark failed
// or the engine logged an error line anywhere in the run, so that `make bench` stops on it. A figure
// taken beside an error path measures something else than it says.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/TraceWatch.h"

namespace {

// The console's report, with the runs that failed kept aside.
class FailureCountingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.error_occurred) failed.push_back(run.benchmark_name() + ": " + run.error_message);
    ConsoleReporter::ReportRuns(runs);
  }
  std::vector<std::string> failed;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FailureCountingReporter reporter;
  std::string logged;
  {
    // Lines logged outside a benchmark's own watch land here; a benchmark's watch takes its own.
    OrvBench::TraceWatch whole;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    logged = whole.Take();
  }
  benchmark::Shutdown();
  std::fputs(logged.c_str(), stdout);
  const std::string error = OrvBench::FirstErrorLine(logged);
  if (!error.empty()) reporter.failed.push_back("the engine logged an error: " + error);
  if (reporter.failed.empty()) return 0;
  std::fprintf(stderr, "%zu benchmark run(s) failed:\n", reporter.failed.size());
  for (const std::string& line : reporter.failed) std::fprintf(stderr, "  %s\n", line.c_str());
  return 1;
}
