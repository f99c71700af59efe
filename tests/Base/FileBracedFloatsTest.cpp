// The braced-number reader of text files: the same answer, values, position and end flag as Scan with
// the matching " {%f, %f, ...}" format, whatever the input holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
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

  // `reads` reads in a row by File and by fscanf on the same file: answers, values and positions.
  void ExpectSameAsFscanf(const std::string& input, int count, int reads = 2) {
    SCOPED_TRACE("input \"" + input.substr(0, 60) + "\", " + std::to_string(count) + " numbers");
    std::ofstream(path_, std::ios::binary) << input;
    File mine;
    mine.Open(path_, File::Mode_Read);
    FILE* theirs = std::fopen(path_.c_str(), "r");
    ASSERT_NE(theirs, nullptr);
    for (int read = 0; read < reads; ++read) {
      float got[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
      float want[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
      float* const values[] = {&got[0], &got[1], &got[2], &got[3]};
      int expected = 0;
      if (count == 2) expected = std::fscanf(theirs, " {%f, %f}", &want[0], &want[1]);
      if (count == 3) expected = std::fscanf(theirs, " {%f, %f, %f}", &want[0], &want[1], &want[2]);
      if (count == 4) expected = std::fscanf(theirs, " {%f, %f, %f, %f}", &want[0], &want[1], &want[2], &want[3]);
      ASSERT_EQ(mine.ScanBracedFloats(values, count), expected) << "read " << read;
      ASSERT_EQ(std::memcmp(got, want, sizeof(got)), 0) << "read " << read << ": " << got[0] << " " << want[0];
      ASSERT_EQ(mine.Tell(), std::ftell(theirs)) << "read " << read;
    }
    std::fclose(theirs);
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

// Where the file goes on past the value, as in any real file: the same answers, values and positions as
// the C library's fscanf with the matching format, for the forms the writers use (with their trailing
// zeros, past the 24 bits a float holds exactly, both signs) and every way of departing from them.
TEST_F(FileBracedFloatsTest, ReadsAsTheCLibraryWhereTheFileGoesOn) {
  const std::string more = "\r\n" + std::string(8192, ' ') + "x";
  const char* inputs[] = {"{1.000000, -2.500000, 3.000000, 4.125000}", " {20.000000, 9999.000000, -0.000000, 0.100000}",
                          "{16777217.000000, 16777216.000000, 123456.789000, 0.000001}",
                          "{1234567.000000, 99999999.000000, 1.5, 2}", "{+1.250000, -7.000000, 0.500000, 1.000000}",
                          "\t{1.0, 2.0, 3.0, 4.0}", "  {1.0, 2.0, 3.0, 4.0}", "{ 1.0, 2.0, 3.0, 4.0}",
                          "{1.0,  2.0, 3.0, 4.0}", "{1.0 , 2.0, 3.0, 4.0}", "{1.0, 2.0, 3.0, 4.0 }",
                          "{1.0, 2.0e1, 3.0, 4.0}", "{1.0,2.0,3.0,4.0}", "{1.0, 2.0, 3.0]", "{1., .5, 3.0, 4.0}",
                          "{1.0, 2.0, 3.0, 4.0, 5.0}"};
  for (const char* input : inputs)
    for (int count = 2; count <= 4; ++count) ExpectSameAsFscanf(input + more, count);
  // Many numbers as "%f" writes them, of every size a float takes there.
  std::string many;
  uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int i = 0; i < 3000; ++i) {
    float values[4];
    for (float& value : values) {
      std::memcpy(&value, &(seed = next()), sizeof(value));
      if (!(std::fabs(value) < 1e9f)) value = float(next() % 100000000u) / float(1u << (next() % 24));
    }
    char line[200];
    std::snprintf(line, sizeof(line), "{%f, %f, %f, %f}\r\n", double(values[0]), double(values[1]), double(values[2]),
                  double(values[3]));
    many += line;
  }
  ExpectSameAsFscanf(many + more, 4, 3000);
}

// Lines near the form the writers put, with every part varied in length and shape: digit runs from none
// to nine on either side of the point, signs, stray exponents, separators and blanks of every kind, and
// lines long enough to end anywhere around the first sixty-four bytes. Each line is read as fscanf reads it.
TEST_F(FileBracedFloatsTest, ReadsAsTheCLibraryOnNearlyPlainLines) {
  uint32_t seed = 2024;
  const auto next = [&seed](uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  const auto digits = [&next](uint32_t least, uint32_t most) {
    std::string run;
    for (uint32_t n = least + next(most - least + 1); n > 0; --n) run += char('0' + next(10));
    return run;
  };
  // Each part mostly as the writers put it, else one of its departures.
  const auto part = [&next](const std::string& plain, std::initializer_list<const char*> departures) {
    return next(8) != 0 ? plain : std::string(departures.begin()[next(uint32_t(departures.size()))]);
  };
  const auto value = [&](int count) {
    std::string text = part(next(2) ? "{" : " {", {"  {", "\t{", "{ ", "[", ""});
    for (int i = 0; i < count + (next(30) == 0 ? 1 : 0); ++i) {
      if (i > 0) text += part(", ", {",", " , ", ",  ", ",\t", ";", ""});
      text += part(next(3) ? "" : "-", {"+", "--", "-+", "+-"});
      text += part(digits(1, 7), {"", "00000000", "123456789", "9999999999"});
      text += part(std::string(".") + digits(0, 7), {"", ".", ".12345678", ".123456789", "e5", ".5E-2", ".5e", "x"});
    }
    return text + part("}", {" }", "]", "", ",}"});
  };
  const std::string more = "\r\n" + std::string(8192, ' ') + "x";
  for (int count = 2; count <= 4; ++count)
    for (int i = 0; i < 400; ++i) {
      // Two values, the second on the next line or right after the first: the second read starts where
      // the first stopped.
      const std::string first = value(count);
      ExpectSameAsFscanf(first + (next(3) == 0 ? "" : "\r\n") + value(count) + more, count);
      if (HasFatalFailure()) return;
    }
}

// Plain numbers with one to seven decimals whose value lies next to a point halfway between two floats,
// where a conversion that is not correctly rounded goes the wrong way: braced and single values read as
// fscanf reads them.
TEST_F(FileBracedFloatsTest, NumbersNextToHalfwayPointsReadAsTheCLibrary) {
  constexpr int kLines = 2000;
  uint32_t seed = 777;
  const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  std::string text;
  std::string singles;  // the same numbers one to a line, as the writers put single values
  for (int i = 0; i < kLines * 4; ++i) {
    const int decimals = 1 + i % 7;
    const uint64_t scale = uint64_t(std::pow(10.0, decimals));
    // A float whose digits, with that many decimals, stay within the 24 bits of the plain reading.
    const float below = float(next() % ((uint64_t(1) << 24) / scale)) + float(next() % 1000) / 1000.0f;
    const double halfway = (double(below) + double(std::nextafter(below, 1e30f))) / 2.0;
    const int64_t digits = std::llround(halfway * double(scale)) + int64_t(next() % 3) - 1;
    char number[40];
    std::snprintf(number, sizeof(number), "%lld.%0*lld", static_cast<long long>(digits / int64_t(scale)), decimals,
                  static_cast<long long>(digits % int64_t(scale)));
    text += (i % 4 == 0 ? "{" : ", ") + std::string(number) + (i % 4 == 3 ? "}\r\n" : "");
    singles += " " + std::string(number) + "\r\n";
  }
  const std::string more = "\r\n" + std::string(8192, ' ') + "x";
  ExpectSameAsFscanf(text + more, 4, kLines);
  if (HasFatalFailure()) return;

  std::ofstream(path_, std::ios::binary) << singles + more;
  File mine;
  mine.Open(path_, File::Mode_Read);
  FILE* theirs = std::fopen(path_.c_str(), "r");
  ASSERT_NE(theirs, nullptr);
  for (int read = 0; read < kLines * 4; ++read) {
    float got = -1.0f;
    float want = -1.0f;
    ASSERT_EQ(mine.ScanValue(got), std::fscanf(theirs, "%f", &want)) << "read " << read;
    ASSERT_EQ(std::memcmp(&got, &want, sizeof(got)), 0) << "read " << read << ": " << got << " " << want;
    ASSERT_EQ(mine.Tell(), std::ftell(theirs)) << "read " << read;
  }
  std::fclose(theirs);
}

}  // namespace
