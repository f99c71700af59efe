// The benchmarks' entry: the library's own run, ending with a failure code when any run of any
// repetition failed or the engine logged an error line anywhere in the run, so that `make bench` stops
// on it. A figure taken beside an error path measures something else than it says.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bench/TraceWatch.h"

namespace {

// The library computes a repeated benchmark's aggregates from its repetitions that did not fail, and a
// side of the report asked for aggregates only never sees those that did. The failures are counted on
// the file side, which the benchmarks leave every run (they ask for their aggregates on the console
// only, DisplayAggregatesOnly); one that hides its repetitions there as well fails the binary, as its
// failures could not be seen. The runs go on to the output file's format when a file was asked for.
class FailureCounter : public benchmark::BenchmarkReporter {
 public:
  explicit FailureCounter(std::unique_ptr<benchmark::BenchmarkReporter> format) : format_(std::move(format)) {}

  bool ReportContext(const Context& context) override {
    if (!format_) return true;
    format_->SetOutputStream(&GetOutputStream());
    format_->SetErrorStream(&GetErrorStream());
    return format_->ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::pair<int64_t, int64_t> instance(run.family_index, run.per_family_instance_index);
      if (run.run_type == Run::RT_Iteration)
        repeated_.insert(instance);
      else if (repeated_.insert(instance).second)
        failed.push_back(run.run_name.str() +
                         ": its repetitions are reported as aggregates only, where a failed one goes unseen (ask "
                         "for DisplayAggregatesOnly instead)");
      if (run.error_occurred) failed.push_back(run.benchmark_name() + ": " + run.error_message);
    }
    if (format_) format_->ReportRuns(runs);
  }
  void Finalize() override {
    if (format_) format_->Finalize();
  }

  std::vector<std::string> failed;

 private:
  std::unique_ptr<benchmark::BenchmarkReporter> format_;
  std::set<std::pair<int64_t, int64_t>> repeated_;  // the instances whose single runs were seen
};

bool StartsWith(const char* text, const char* start) { return std::strncmp(text, start, std::strlen(start)) == 0; }

}  // namespace

int main(int argc, char** argv) {
  // The arguments as the library is to read them: aggregates asked for on the command line are shown on
  // the console only, and without an output file of the caller's the file side writes to /dev/null.
  std::vector<std::string> words(argv, argv + argc);
  bool outputFile = false;
  std::string outputFormat = "json";
  for (std::string& word : words) {
    if (StartsWith(word.c_str(), "--benchmark_report_aggregates_only"))
      word.replace(0, std::strlen("--benchmark_report"), "--benchmark_display");
    if (StartsWith(word.c_str(), "--benchmark_out=")) outputFile = true;
    if (StartsWith(word.c_str(), "--benchmark_out_format=")) outputFormat = word.substr(word.find('=') + 1);
  }
  if (!outputFile) words.push_back("--benchmark_out=/dev/null");
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  int count = int(words.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;

  // The library's own output formats, but its deprecated one.
  std::unique_ptr<benchmark::BenchmarkReporter> format;
  if (outputFile && outputFormat == "console") {
    format = std::make_unique<benchmark::ConsoleReporter>(benchmark::ConsoleReporter::OO_None);
  } else if (outputFile && outputFormat == "json") {
    format = std::make_unique<benchmark::JSONReporter>();
  } else if (outputFile) {
    std::fprintf(stderr, "The output file's format is json or console, not %s.\n", outputFormat.c_str());
    return 1;
  }
  benchmark::ConsoleReporter console;
  FailureCounter counter(std::move(format));
  std::string logged;
  {
    // Lines logged outside a benchmark's own watch land here; a benchmark's watch takes its own.
    OrvBench::TraceWatch whole;
    benchmark::RunSpecifiedBenchmarks(&console, &counter);
    logged = whole.Take();
  }
  benchmark::Shutdown();
  std::fputs(logged.c_str(), stdout);
  const std::string error = OrvBench::FirstErrorLine(logged);
  if (!error.empty()) counter.failed.push_back("the engine logged an error: " + error);
  if (counter.failed.empty()) return 0;
  std::fprintf(stderr, "%zu benchmark run(s) failed:\n", counter.failed.size());
  for (const std::string& line : counter.failed) std::fprintf(stderr, "  %s\n", line.c_str());
  return 1;
}
