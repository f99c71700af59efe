// A child process that faults after installing the crash handler: it leaves its dump only where a
// "dumps" folder exists, and dies of the signal either way.
#include "Platform/CrashDump.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class CrashDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("orv_crash_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a child in the folder that writes to a page it may not touch; returns its wait status and
  // the address it faulted at.
  int CrashChild(uintptr_t* address) {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(page, MAP_FAILED);
    *address = reinterpret_cast<uintptr_t>(page);
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(3);
      Platform::InstallCrashHandler();
      *static_cast<volatile int*>(page) = 1;
      _exit(4);
    }
    int status = 0;
    waitpid(child, &status, 0);
    munmap(page, 4096);
    return status;
  }

  fs::path dir_;
};

TEST_F(CrashDumpTest, AFaultWritesItsDumpIntoAnExistingDumpsFolder) {
  fs::create_directory(dir_ / "dumps");
  const time_t before = time(nullptr);
  uintptr_t address = 0;
  const int status = CrashChild(&address);
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
}

TEST_F(CrashDumpTest, WithoutADumpsFolderNothingIsWritten) {
  uintptr_t address = 0;
  const int status = CrashChild(&address);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
