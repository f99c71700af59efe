// The benchmarks' rule that a timed run is a clean one: the engine's trace output is taken while a
// benchmark runs, and an error line in it fails the benchmark with that line, since a figure that
// times an error path (a missing shader, a failing script) measures something else than it says.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <string>
#include <unistd.h>

#include "Base/TraceLog.h"

namespace OrvBench {

// How the trace log opens an error line.
inline constexpr const char* kErrorTag = "[ Error ]";

// The first error line of a trace text, without its line end; empty when there is none.
inline std::string FirstErrorLine(const std::string& text) {
  const size_t at = text.find(kErrorTag);
  if (at == std::string::npos) return {};
  const size_t end = text.find_first_of("\r\n", at);
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Fails the benchmark with the first error line of `text`; true when the text has none. Once an error
// line was seen, every later run of the binary fails as well: the library cannot take the median of
// repetitions some of which failed (it stops), and a run after a failed one may share its broken state.
// The line also goes to standard error at once, so that it is seen whatever follows.
inline bool FailOnErrorLine(benchmark::State& state, const std::string& text) {
  // The library keeps the message's address until it reports, after the benchmark has returned.
  static std::deque<std::string> messages;
  static std::string first;
  const std::string line = FirstErrorLine(text);
  if (line.empty() && first.empty()) return true;
  if (!line.empty()) {
    std::fprintf(stderr, "the engine logged an error: %s\n", line.c_str());
    messages.push_back("the engine logged an error: " + line);
    if (first.empty()) first = line;
  } else {
    messages.push_back("an earlier run logged an error: " + first);
  }
  if (!state.error_occurred()) state.SkipWithError(messages.back().c_str());
  return false;
}

// Sends the engine's trace log to a file of its own for its lifetime; the log's output goes back to
// where it was when it ends. A watch is made around the work a benchmark times (its set-up included).
class TraceWatch {
 public:
  TraceWatch() : file_(tmpfile()), previous_(Base::TraceLog::GetInstance().GetOutput()) {
    if (file_) Base::TraceLog::GetInstance().SetOutput(file_);
  }
  ~TraceWatch() {
    Base::TraceLog::GetInstance().SetOutput(previous_);
    if (file_) fclose(file_);
  }
  TraceWatch(const TraceWatch&) = delete;
  TraceWatch& operator=(const TraceWatch&) = delete;

  // Everything logged since the watch began or the last call.
  std::string Take() {
    std::string text;
    if (!file_) return text;
    fflush(file_);
    rewind(file_);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    // Written again from the start; what is left beyond is read no more.
    rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) text += "\n[ Error ][Base] the watched trace could not be emptied\n";
    return text;
  }

  // Fails the benchmark when an error line was logged since the watch began or the last call; true
  // when none was. Called after the timed loop: inside it, the file work would be timed too.
  bool Check(benchmark::State& state) { return FailOnErrorLine(state, Take()); }

 private:
  FILE* file_;
  FILE* previous_;
};

}  // namespace OrvBench
