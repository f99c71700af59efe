// The main of every test binary: the tests, then the platform shut down before `main` returns.
#include "Platform/Shutdown.h"
#include "tests/Support/LiveThreads.h"

#include <gtest/gtest.h>

#include <cstdio>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  // A device an area keeps for the whole run would otherwise keep the software rasteriser's
  // threads running into exit, where the leak checker stops the world around them.
  Platform::Shutdown();
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's own background thread is none of the code's: this stops and joins it.
  __sanitizer_sandbox_on_notify(nullptr);
#endif
  // Whatever still runs now runs through exit as well: a fault of the code that started it.
  const std::vector<std::string> left = OrvTest::OtherLiveThreads();
  if (!left.empty()) {
    std::fprintf(stderr, "Threads still running after the tests and the platform's shutdown:");
    for (const std::string& name : left) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    result = 1;
  }
  return result;
}
