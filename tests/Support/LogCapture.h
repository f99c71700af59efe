// Test helper: sends the trace log to a temporary file for the helper's lifetime and hands back
// what was written, every level of it (tests otherwise log Info and above, as the game does); the
// log's output and level are put back as they were when it goes.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Base/TraceLog.h"

namespace OrvTest {

class LogCapture {
 public:
  LogCapture()
      : file_(tmpfile()),
        previousOutput_(Base::TraceLog::GetInstance().GetOutput()),
        previousLevel_(Base::TraceLog::GetInstance().GetLevel()) {
    Base::TraceLog::GetInstance().SetOutput(file_);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Verbose);
  }
  ~LogCapture() {
    Base::TraceLog::GetInstance().SetOutput(previousOutput_);
    Base::TraceLog::GetInstance().SetLevel(previousLevel_);
    fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged since the last call.
  std::string Take() {
    std::string text;
    rewind(file_);
    for (int c; (c = fgetc(file_)) != EOF;) text += char(c);
    rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) ADD_FAILURE() << "could not empty the captured log";
    return text;
  }

 private:
  FILE* file_;
  FILE* previousOutput_;
  Base::TraceLevel previousLevel_;
};

}  // namespace OrvTest
