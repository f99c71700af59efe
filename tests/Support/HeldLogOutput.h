// Test helper: the trace log's output as a slow console that holds each writer until the test lets it
// go. A writer held past any reasonable time notes it and lets itself go, so that a test of a call
// that waits for it fails rather than hangs. Put back as it was when the helper goes.
#pragma once

#include <stdio.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "Base/TraceLog.h"
#include "tests/Support/WaitFor.h"

namespace OrvTest {

class HeldLogOutput {
 public:
  explicit HeldLogOutput(bool open = false) : open_(open), previous_(Base::TraceLog::GetInstance().GetOutput()) {
    cookie_io_functions_t functions{nullptr, &Write, nullptr, nullptr};
    file_ = fopencookie(this, "w", functions);
    EXPECT_NE(file_, nullptr);
    if (!file_) return;
    setvbuf(file_, nullptr, _IONBF, 0);
    Base::TraceLog::GetInstance().SetOutput(file_);
  }
  ~HeldLogOutput() {
    Open();
    Base::TraceLog::GetInstance().SetOutput(previous_);
    if (file_) fclose(file_);
  }
  HeldLogOutput(const HeldLogOutput&) = delete;
  HeldLogOutput& operator=(const HeldLogOutput&) = delete;

  // Writers are held from now on; the next one to come is waited for.
  void Hold() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = false;
    writing_ = false;
  }
  bool WaitForWriter() {
    std::unique_lock<std::mutex> guard(lock_);
    return OrvTest::WaitUntil(changed_, guard, [&] { return writing_; }, "a writer of the log");
  }
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool TimedOut() {
    std::lock_guard<std::mutex> guard(lock_);
    return timedOut_;
  }
  std::string Written() {
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
  }

 private:
  static ssize_t Write(void* cookie, const char* data, size_t size) {
    HeldLogOutput& self = *static_cast<HeldLogOutput*>(cookie);
    std::unique_lock<std::mutex> guard(self.lock_);
    self.writing_ = true;
    self.changed_.notify_all();
    if (!OrvTest::WaitUntil(self.changed_, guard, [&] { return self.open_; }, "the test to let the log line be written",
                            std::chrono::seconds(10))) {
      self.timedOut_ = true;
      self.open_ = true;
    }
    self.written_.append(data, size);
    return ssize_t(size);
  }

  std::mutex lock_;
  std::condition_variable changed_;
  bool open_;
  bool writing_ = false;
  bool timedOut_ = false;
  std::string written_;
  FILE* previous_;
  FILE* file_ = nullptr;
};

}  // namespace OrvTest
