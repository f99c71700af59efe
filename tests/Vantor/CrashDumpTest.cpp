// A child process that faults after installing the crash handler: it leaves its dump only where a
// "dumps" folder exists, says so (or why there is none) in one line on standard error, and dies of the
// signal either way.
#include "Platform/CrashDump.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/Vantor/GameProcess.h"

namespace {

namespace fs = std::filesystem;

class CrashDumpTest : public GameProcess::TestFolder {
 protected:
  // Runs a child in the folder that writes to a page it may not touch; returns its wait status and
  // the address it faulted at, and what it wrote on standard error in `said`.
  int CrashChild(uintptr_t* address, std::string* said = nullptr) {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(page, MAP_FAILED);
    *address = reinterpret_cast<uintptr_t>(page);
    int errors[2];
    EXPECT_EQ(pipe(errors), 0);
    const pid_t child = fork();
    if (child == 0) {
      close(errors[0]);
      if (chdir(dir_.c_str()) != 0 || dup2(errors[1], STDERR_FILENO) < 0) _exit(3);
      Platform::InstallCrashHandler();
      *static_cast<volatile int*>(page) = 1;
      _exit(4);
    }
    close(errors[1]);
    // Its line fits the pipe: the child never waits for it to be read.
    const int status = GameProcess::WaitForEnd(child, std::chrono::seconds(60), "the crashing child");
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(errors[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(got));
    close(errors[0]);
    if (said) *said = text;
    munmap(page, 4096);
    return status;
  }
  // The line the crash says on standard error, up to what follows its address.
  static std::string CrashLine(uintptr_t address) {
    char hex[32];
    snprintf(hex, sizeof(hex), "0x%016llx", static_cast<unsigned long long>(address));
    return std::string("The game crashed: SIGSEGV (signal 11) at address ") + hex + "; ";
  }
};

TEST_F(CrashDumpTest, AFaultWritesItsDumpIntoAnExistingDumpsFolder) {
  fs::create_directory(dir_ / "dumps");
  const time_t before = time(nullptr);
  uintptr_t address = 0;
  std::string said;
  const int status = CrashChild(&address, &said);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);

  std::vector<fs::path> dumps;
  for (const auto& entry : fs::directory_iterator(dir_ / "dumps")) dumps.push_back(entry.path());
  ASSERT_EQ(dumps.size(), 1u);
  // Named after the local time: month from 0, then day, hour, minute and second without zeros.
  tm local{};
  localtime_r(&before, &local);
  const std::regex name("CRASH_(\\d+)_(\\d+)_(\\d+)_(\\d+)_(\\d+)\\.dmp");
  std::smatch parts;
  const std::string file = dumps[0].filename().string();
  ASSERT_TRUE(std::regex_match(file, parts, name)) << file;
  EXPECT_EQ(std::stoi(parts[1]), local.tm_mon);
  EXPECT_EQ(std::stoi(parts[2]), local.tm_mday);
  EXPECT_EQ(std::stoi(parts[3]), local.tm_hour);

  std::ifstream in(dumps[0]);
  std::stringstream text;
  text << in.rdbuf();
  char hex[32];
  snprintf(hex, sizeof(hex), "0x%016llx", static_cast<unsigned long long>(address));
  EXPECT_EQ(text.str().rfind("ORVANEL CRASH DUMP 1\nsignal 11 SIGSEGV\n", 0), 0u) << text.str();
  EXPECT_NE(text.str().find(std::string("address ") + hex + "\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\nregisters\n"), std::string::npos);
  EXPECT_NE(text.str().find("\nbacktrace\n"), std::string::npos);
  EXPECT_EQ(text.str().substr(text.str().size() - 4), "end\n");
  // One line on the terminal names the dump.
  EXPECT_EQ(said, CrashLine(address) + "its dump is dumps/" + file + ".\n");
}

// Nothing is written, and the crash is still not silent: its line says why there is no dump.
TEST_F(CrashDumpTest, WithoutADumpsFolderNothingIsWritten) {
  uintptr_t address = 0;
  std::string said;
  const int status = CrashChild(&address, &said);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(said, CrashLine(address) + "no dump was written, as there is no \"dumps\" folder.\n");
}

}  // namespace
