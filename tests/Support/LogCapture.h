// Test helper: sends the trace log to a temporary file for the helper's lifetime and hands back
// what was written.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Base/TraceLog.h"

namespace OrvTest {

class LogCapture {
 public:
  LogCapture() : file_(tmpfile()) { Base::TraceLog::GetInstance().SetOutput(file_); }
  ~LogCapture() {
    Base::TraceLog::GetInstance().SetOutput(stdout);
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
};

}  // namespace OrvTest
