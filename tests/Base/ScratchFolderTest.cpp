// The scratch folder of a test process: its own, whichever way a test asks for the temporary directory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
