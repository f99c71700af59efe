// The scratch folder of a test process: its own, whichever way a test asks for the temporary directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/Support/ScratchFolder.h"
#include "tests/Support/WaitFor.h"

namespace {

namespace fs = std::filesystem;

TEST(TestScratchFolder, IsThisProcesssOwnForTheFrameworkAndTheLibraryAlike) {
  const fs::path library = fs::temp_directory_path();
  ASSERT_TRUE(fs::is_directory(library));
  EXPECT_TRUE(fs::equivalent(testing::TempDir(), library));
  // Not the machine's shared folder, where another build's tests write files of the same names.
  EXPECT_FALSE(fs::equivalent(library, "/tmp"));
  EXPECT_EQ(library.filename().string().rfind("orv_test_", 0), 0u) << library;
  // Nothing but this process writes there.
  EXPECT_TRUE(fs::is_empty(library));
  const fs::path file = library / "mine.txt";
  std::ofstream(file) << getpid();
  EXPECT_TRUE(fs::exists(file));
  fs::remove(file);
}

// The first folder under `temp` that process `pid` made, or an empty path.
fs::path FolderOf(const fs::path& temp, pid_t pid) {
  for (const auto& entry : fs::directory_iterator(temp))
    if (entry.path().filename().string().rfind("orv_test_" + std::to_string(pid) + "_", 0) == 0) return entry.path();
  return {};
}

// A run killed before its exit handlers (as CTest kills one at its time-out) leaves its folder, with
// what its tests wrote; the next run of a test binary removes it as it starts.
TEST(TestScratchFolder, AKilledRunsFolderIsGoneAfterTheNextRun) {
  const fs::path temp = fs::temp_directory_path();
  const pid_t killed = fork();
  if (killed == 0) {
    const std::string folder = OrvTest::MakeScratchFolder();
    std::ofstream(folder + "/written.bin") << std::string(1 << 20, 'x');
    sleep(60);  // killed long before
    _exit(1);
  }
  ASSERT_GT(killed, 0);
  fs::path folder;
  OrvTest::WaitUntil([&] { return !(folder = FolderOf(temp, killed)).empty() && fs::exists(folder / "written.bin"); },
                     "the killed run's folder");
  kill(killed, SIGKILL);
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return waitpid(killed, nullptr, WNOHANG) == killed; }, "the killed run's end"));
  ASSERT_TRUE(fs::is_directory(folder));

  // The next run: this binary again, running no test.
  const pid_t next = fork();
  if (next == 0) {
    if (!freopen("/dev/null", "w", stdout)) _exit(126);
    execl("/proc/self/exe", "next", "--gtest_filter=-*", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(next, 0);
  int status = -1;
  ASSERT_TRUE(OrvTest::WaitUntil([&] { return waitpid(next, &status, WNOHANG) == next; }, "the next run's end"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(folder)) << folder;
  EXPECT_TRUE(fs::is_empty(temp));
}

}  // namespace
