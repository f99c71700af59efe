// The braced-number reader of text files: the same answer, values, position and end flag as Scan with
// the matching " {%f, %f, ...}" format, whatever the input holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "Base/Serialization/File.h"
#include "Base/TraceLog.h"

namespace {

using Base::File;

class FileBracedFloatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    level_ = Base::TraceLog::GetInstance().GetLevel();
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    path_ = testing::TempDir() + "orv_braced_" + std::to_string(getpid()) + ".txt";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    Base::TraceLog::GetInstance().SetLevel(level_);
  }

  // Two reads in a row, so that what the first leaves behind is compared too.
  void ExpectSameAsScan(const std::string& input, int count) {
    SCOPED_TRACE("input \"" + input + "\", " + std::to_string(count) + " numbers");
    std::ofstream(path_, std::ios::binary) << input;
    File mine;
    File theirs;
    mine.Open(path_, File::Mode_Read);
    theirs.Open(path_, File::Mode_Read);
    for (int read = 0; read < 2; ++read) {
      float got[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
      float want[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
      float* const values[] = {&got[0], &got[1], &got[2], &got[3]};
      int expected = 0;
      if (count == 2) expected = theirs.Scan(" {%f, %f}", &want[0], &want[1]);
      if (count == 3) expected = theirs.Scan(" {%f, %f, %f}", &want[0], &want[1], &want[2]);
      if (count == 4) expected = theirs.Scan(" {%f, %f, %f, %f}", &want[0], &want[1], &want[2], &want[3]);
      EXPECT_EQ(mine.ScanBracedFloats(values, count), expected);
      EXPECT_EQ(std::memcmp(got, want, sizeof(got)), 0);
      EXPECT_EQ(mine.Tell(), theirs.Tell());
      EXPECT_EQ(mine.IsGood(), theirs.IsGood());
    }
  }

  std::string path_;
  Base::TraceLevel level_ = Base::TraceLevel_Verbose;
};

TEST_F(FileBracedFloatsTest, ReadsAsTheMatchingScan) {
  const char* inputs[] = {"{1.000000, -2.500000, 3.000000}\r\n", "  \r\n {0.5,0.25 ,  7}", "{1, 2, 3, 4}{5, 6}",
                          "{1.5, 2.5}", "{1.5 2.5}", "{1.5, x}", "{}", "{", "{1.0,", "{1.0, 2.0",
                          "{-0.000000, +4e2, .5e-1, 1e}", "{inf, 1, 2, 3}", "{1, nan, 2, 3}", "{0x10, 1, 2}",
                          "{3.5e39, 1, 2, 3}", "{123456789.123456789, 0.0000000001, 20.000000, 1}",
                          "Vec3 {1, 2, 3}", "", "   ", "}"};
  for (const char* input : inputs)
    for (int count = 2; count <= 4; ++count) ExpectSameAsScan(input, count);
}

TEST_F(FileBracedFloatsTest, RefusesBadCountsAndClosedFiles) {
  std::ofstream(path_, std::ios::binary) << "{1, 2, 3, 4, 5}";
  File file;
  float value = -1.0f;
  float* const values[] = {&value, &value, &value, &value, &value};
  EXPECT_EQ(file.ScanBracedFloats(values, 3), EOF);  // not open
  file.Open(path_, File::Mode_Read);
  EXPECT_EQ(file.ScanBracedFloats(values, 5), 0);
  EXPECT_EQ(file.ScanBracedFloats(values, 1), 0);
  EXPECT_EQ(file.ScanBracedFloats(nullptr, 3), 0);
  EXPECT_EQ(file.Tell(), 0);
  EXPECT_EQ(value, -1.0f);
}

}  // namespace
