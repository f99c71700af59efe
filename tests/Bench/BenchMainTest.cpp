// The benchmarks' entry on a program of its own: whichever repetition of a benchmark fails, the binary
// ends with exit code 1 and names the run, although the console shows the repetitions as aggregates
// only; a benchmark that hides its repetitions from every report fails the binary as well.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Ended {
  int exitCode = -1;
  std::string output;
};

// The program with `arguments`, the repetition `failing` asked to fail (none when empty).
Ended RunCheck(const std::string& arguments, const std::string& failing = {}) {
  const std::string command = (failing.empty() ? "" : "ORV_FAILING_REPETITION=" + failing + " ") +
                              ORV_REPETITION_CHECK + " " + arguments + " 2>&1";
  Ended ended;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return ended;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) ended.output.append(buffer, n);
  const int status = pclose(pipe);
  ended.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ended;
}

TEST(BenchMain, AFailedRepetitionShownAsAggregatesFailsTheBinary) {
  Ended ended = RunCheck("--benchmark_filter=Repeated");
  EXPECT_EQ(ended.exitCode, 0) << ended.output;
  EXPECT_NE(ended.output.find("Repeated/iterations:10/repeats:5_median"), std::string::npos) << ended.output;

  // The fourth of five: the median is still taken from the four others.
  ended = RunCheck("--benchmark_filter=Repeated", "3");
  EXPECT_EQ(ended.exitCode, 1) << ended.output;
  EXPECT_NE(ended.output.find("1 benchmark run(s) failed:\n  Repeated/iterations:10/repeats:5: the repetition asked "
                              "to fail\n"),
            std::string::npos)
      << ended.output;
}

TEST(BenchMain, AggregatesAskedForOnTheCommandLineStillShowAFailedRepetition) {
  const Ended ended =
      RunCheck("--benchmark_filter=Single --benchmark_repetitions=4 --benchmark_report_aggregates_only=true", "2");
  EXPECT_EQ(ended.exitCode, 1) << ended.output;
  EXPECT_NE(ended.output.find("Single/iterations:10: the repetition asked to fail"), std::string::npos)
      << ended.output;
  EXPECT_NE(ended.output.find("Single/iterations:10_mean"), std::string::npos) << ended.output;
}

TEST(BenchMain, ABenchmarkHidingItsRepetitionsFromEveryReportFailsTheBinary) {
  const Ended ended = RunCheck("--benchmark_filter=Hidden");
  EXPECT_EQ(ended.exitCode, 1) << ended.output;
  EXPECT_NE(ended.output.find("Hidden/iterations:10/repeats:3: its repetitions are reported as aggregates only"),
            std::string::npos)
      << ended.output;
}

}  // namespace
