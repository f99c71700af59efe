// The main of every test binary: a scratch folder of its own, the tests, then the platform shut down
// before `main` returns.
#include "Platform/Shutdown.h"
#include "tests/Support/LiveThreads.h"
#include "tests/Support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string g_scratch;
pid_t g_scratchOwner = 0;

// A death test's forked child exits through here too: only the process that made the folder removes it.
void RemoveScratchFolder() {
  if (getpid() != g_scratchOwner) return;
  std::error_code error;
  std::filesystem::remove_all(g_scratch, error);
}

// Tests name their scratch files after what they hold, and test binaries of other builds run at the
// same time on the same machine: each process gets a folder of its own for the temporary directory
// (the C++ library's and the test framework's both), removed at exit, also when a test ends the
// process early with `exit`. A run killed before its exit leaves its folder to the next run's start.
void MakeScratchFolder() {
  const std::string folder = OrvTest::MakeScratchFolder();
  if (folder.empty()) return;
  setenv("TMPDIR", folder.c_str(), 1);
  setenv("TEST_TMPDIR", folder.c_str(), 1);
  g_scratch = folder;
  g_scratchOwner = getpid();
  std::atexit(RemoveScratchFolder);
}

// A "threadsafe" death test runs its statement in a fresh run of this binary, which usually ends in an
// abort that skips the exit handlers: it works in its parent's folder, which the parent removes.
bool IsDeathTestChild(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--gtest_internal_run_death_test", 31) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!IsDeathTestChild(argc, argv)) MakeScratchFolder();
  // Headless unless the caller chose otherwise: no display, and SDL's silent audio driver (which the
  // output layer takes as no device). Tests of a particular driver set their own.
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  // A device an area keeps for the whole run would otherwise keep the software rasteriser's
  // threads running into exit, where the leak checker stops the world around them.
  Platform::Shutdown();
#ifndef __SANITIZE_THREAD__  // ThreadSanitizer keeps a thread of its own running until exit
  // Whatever still runs now runs through exit as well: a fault of the code that started it.
  const std::vector<std::string> left = OrvTest::OtherLiveThreads();
  if (!left.empty()) {
    std::fprintf(stderr, "Threads still running after the tests and the platform's shutdown:");
    for (const std::string& name : left) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    result = 1;
  }
#endif
  return result;
}
