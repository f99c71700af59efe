// The text file wrapper's reads: scans that consume, assign and report exactly what fscanf does on
// the same file, tokens, lines, remembered positions and the end of input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Base/Serialization/File.h"
#include "Base/TraceLog.h"

namespace {

using Base::File;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    level_ = Base::TraceLog::GetInstance().GetLevel();
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
    path_ = testing::TempDir() + "orv_file_" + std::to_string(getpid()) + ".txt";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    Base::TraceLog::GetInstance().SetLevel(level_);
  }
  void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }

  // Two scans in a row, by File and by fscanf: counts, every byte assigned, positions and end flags.
  void ExpectSameAsFscanf(const std::string& input, const char* format) {
    SCOPED_TRACE("input \"" + input + "\", format \"" + format + "\"");
    Put(input);
    File file;
    file.Open(path_, File::Mode_Read);
    FILE* stream = std::fopen(path_.c_str(), "r");
    ASSERT_NE(stream, nullptr);
    for (const char* step : {format, "%255s"}) {
      alignas(16) unsigned char mine[4][256];
      alignas(16) unsigned char theirs[4][256];
      std::memset(mine, 0xAB, sizeof(mine));
      std::memset(theirs, 0xAB, sizeof(theirs));
      EXPECT_EQ(file.Scan(step, mine[0], mine[1], mine[2], mine[3]),
                std::fscanf(stream, step, theirs[0], theirs[1], theirs[2], theirs[3]));
      EXPECT_EQ(std::memcmp(mine, theirs, sizeof(mine)), 0);
      EXPECT_EQ(file.Tell(), std::ftell(stream));
      EXPECT_EQ(file.IsGood(), !std::feof(stream));
    }
    std::fclose(stream);
  }

  std::string path_;
  Base::TraceLevel level_ = Base::TraceLevel_Verbose;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
TEST_F(FileTest, ScansConsumeAssignAndCountAsFscanfDoes) {
  const char* inputs[] = {"  -42 rest", "+7", "-", "- 5", "4294967297", "-1", "99999999999999999999",
                          "-9223372036854775809", "1.5.3", "1e+", "2E-3x", ".e5", "-.5", ".", "0x1p3",
                          "inf", "-nan", "Infinity", "1e-50", "3.5e39", "0.100000\r\n", "20.000000",
                          "123456789.123456789", "0.0000000001", "{1.000000, -2.5,3}", "{9.5 , 9.5, 1}",
                          "x", "", "   \r\n", "A", "\n  B", "12:GameObject"};
  const char* formats[] = {"%d", "%u", "%f", "%lf", " %c", "%c", "%255s", " {%f, %f, %f}", "%d:%s", "%*d %f", "x"};
  for (const char* input : inputs)
    for (const char* format : formats) ExpectSameAsFscanf(input, format);
  // Again with the window holding far more than the value or token: reads that take the whole of it from
  // the window at once, without looking at its end.
  const std::string more = std::string(2 * File::kLookahead, ' ') + "end";
  for (const char* input : inputs)
    for (const char* format : formats) ExpectSameAsFscanf(input + more, format);
  for (const char* number : {"-1234567.1234567", "16777217.000000", "0.0000001", "99999999.5", "7.", "-0.000000",
                             "3.40282e38", "12345678.1", "1.12345678", "+2.5", "9.999999e5"})
    for (const char* format : {"%f", "%lf", " {%f, %f, %f}"}) {
      ExpectSameAsFscanf(number + more, format);
      ExpectSameAsFscanf("{" + std::string(number) + ", " + number + "," + number + "}" + more, format);
    }
}
#pragma GCC diagnostic pop

TEST_F(FileTest, TokensLinesAndPositionsReadAsTheStreamDid) {
  const std::string longWord(300, 'w');
  Put("Space\r\n12\r\n  " + longWord + " {\r\n}");
  File file;
  file.Open(path_, File::Mode_Read);
  EXPECT_EQ(file.ReadUntil('\n'), "Space\r");
  const long remembered = file.Tell();
  EXPECT_EQ(remembered, 7);
  int count = 0;
  EXPECT_EQ(file.Scan("%d", &count), 1);
  EXPECT_EQ(count, 12);

  char token[256];
  ASSERT_TRUE(file.ReadToken(token, sizeof(token)));  // a longer run of non-blanks is split
  EXPECT_EQ(std::string(token), longWord.substr(0, 255));
  ASSERT_TRUE(file.ReadToken(token, sizeof(token)));
  EXPECT_EQ(std::string(token), longWord.substr(255));
  ASSERT_TRUE(file.ReadToken(token, sizeof(token)));
  EXPECT_STREQ(token, "{");
  EXPECT_TRUE(file.IsGood());
  ASSERT_TRUE(file.ReadToken(token, sizeof(token)));  // the last token ends the input
  EXPECT_STREQ(token, "}");
  EXPECT_FALSE(file.IsGood());
  EXPECT_FALSE(file.ReadToken(token, sizeof(token)));

  file.SeekTo(remembered);  // a seek clears the end of input
  EXPECT_TRUE(file.IsGood());
  EXPECT_EQ(file.ReadUntil('\n'), "12\r");
  file.SeekTo(1000);
  EXPECT_EQ(file.Tell(), 1000);
  EXPECT_FALSE(file.ReadToken(token, sizeof(token)));
  EXPECT_EQ(file.Scan("%d", &count), EOF);
  file.SeekToEnd();
  EXPECT_EQ(file.Tell(), long(11 + 2 + longWord.size() + 5));
  EXPECT_TRUE(file.IsGood());
  EXPECT_EQ(file.ReadUntilAny(" \r\n"), "");
  EXPECT_FALSE(file.IsGood());

  // Writing to a file opened for reading fails as the stream did: as a read error.
  file.SeekTo(0);
  file.WriteText("x");
  EXPECT_FALSE(file.IsGood());
}

TEST_F(FileTest, FilesLargerThanTheReadingWindowReadAsTheStreamDid) {
  // Words of every length up to 255 and numbers, so that reads straddle every refill of the window; then
  // runs longer than the window's lookahead: blanks, digits, and a quoted text of two windows.
  std::string text;
  int pairs = 0;
  for (; text.size() < 3 * File::kWindowSize; ++pairs)
    text += std::string(size_t(pairs % 255) + 1, char('a' + pairs % 26)) + (pairs % 3 ? " " : "\r\n") +
            std::to_string(pairs) + "." + std::to_string(pairs % 7) + "e-2\t";
  const std::string quoted(2 * File::kWindowSize, 'q');
  text += std::string(3 * File::kLookahead, ' ') + std::string(2 * File::kLookahead, '7') + " \"" + quoted + "\" end";
  Put(text);
  File file;
  file.Open(path_, File::Mode_Read);
  FILE* stream = std::fopen(path_.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  char mine[256];
  char theirs[256];
  for (int i = 0; i <= pairs; ++i) {
    SCOPED_TRACE(i);
    float a = -1.0f;
    float b = -2.0f;
    if (i < pairs) {
      ASSERT_TRUE(file.ReadToken(mine, sizeof(mine)));
      ASSERT_EQ(std::fscanf(stream, "%255s", theirs), 1);
      ASSERT_STREQ(mine, theirs);
    }
    ASSERT_EQ(file.Scan("%f", &a), std::fscanf(stream, "%f", &b));
    ASSERT_EQ(a, b);
    ASSERT_EQ(file.Tell(), std::ftell(stream));
  }
  EXPECT_EQ(file.ReadUntil('"'), " ");
  EXPECT_EQ(file.ReadUntil('"'), quoted);
  ASSERT_TRUE(file.ReadToken(mine, sizeof(mine)));
  EXPECT_STREQ(mine, "end");
  EXPECT_FALSE(file.IsGood());

  // Back to a position long gone from the window.
  file.SeekTo(100);
  std::fseek(stream, 100, SEEK_SET);
  ASSERT_TRUE(file.ReadToken(mine, sizeof(mine)));
  ASSERT_EQ(std::fscanf(stream, "%255s", theirs), 1);
  EXPECT_STREQ(mine, theirs);
  EXPECT_EQ(file.Tell(), std::ftell(stream));
  std::fclose(stream);
}

// `reads` values of type T in a row from the start of the file, by ScanValue and by fscanf with
// `format`: answers, every byte of the values, positions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class T>
void ExpectValuesAsFscanf(const std::string& path, const char* format, int reads) {
  SCOPED_TRACE(format);
  File file;
  file.Open(path, File::Mode_Read);
  FILE* stream = std::fopen(path.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  for (int read = 0; read < reads; ++read) {
    T mine = T(-1), theirs = T(-1);
    EXPECT_EQ(file.ScanValue(mine), std::fscanf(stream, format, &theirs)) << read;
    EXPECT_EQ(std::memcmp(&mine, &theirs, sizeof(T)), 0) << read << ": " << mine << " " << theirs;
    EXPECT_EQ(file.Tell(), std::ftell(stream)) << read;
  }
  std::fclose(stream);
}
#pragma GCC diagnostic pop

// Single values where the file goes on past them, as in any real file: the same answers, values and
// positions as fscanf with "%d", "%u", "%f" and "%lf", for the numbers as the writers put them and for
// every other shape, one after another in one file.
TEST_F(FileTest, SingleValuesReadAsFscanfWhereTheFileGoesOn) {
  const std::string more = std::string(8192, ' ') + "x";
  Put(" 5 -7 +8 12345678 -12345678 123456789 4294967295 4294967296 -4294967297 999999999999999"
      " 9999999999999999 99999999999999999999 -2147483649 00000000012 0 -0\r\n  77" + more);
  ExpectValuesAsFscanf<int32_t>(path_, "%d", 17);
  ExpectValuesAsFscanf<uint32_t>(path_, "%u", 17);
  Put(" 1.000000 -2.500000 +0.125000 16777217.000000 9999.000000 -0.000000 0.100000 1234567.890000 12345678.5"
      " 1e3 -2.5e-3 .5 7. 3 123456789012345678901234.5 0.000000000000000000001\r\n  4.25" + more);
  ExpectValuesAsFscanf<float>(path_, "%f", 17);
  ExpectValuesAsFscanf<double>(path_, "%lf", 17);
  // Next to the writers' shape: the longest runs of digits it has, one digit more, marks after it.
  Put(" 1234567.1234567 7654321.7654321 1.12345678 12345678.1 -.5 +7. 1.5E3 1.2.3 0.0000001 9.9999999"
      " 16777216.0 16777215.9999999 +0.5\r\n 3 -1.0- 1.5e 1.5x" + more);
  ExpectValuesAsFscanf<float>(path_, "%f", 22);
  ExpectValuesAsFscanf<double>(path_, "%lf", 22);
}

// A name the reader expects next is taken only when it is the whole next token, exactly as far as
// ReadTokenView would read; otherwise nothing is read. Each text is followed by more of the file, as
// names in a real file are.
TEST_F(FileTest, AnExpectedNameIsTakenOnlyAsTheWholeNextToken) {
  const std::string more = std::string(8192, ' ') + "x";
  const std::pair<std::string, std::string> cases[] = {
      {"  m_id int", "m_id"},   {"m_idx int", "m_id"},      {"m_i int", "m_id"},       {"\r\n\t m_id\r\n", "m_id"},
      {"{ m_id", "m_id"},       {"{ m_id", "{"},           {"m id x", "m id"},        {"ab", ""},
      {"m_position Vec3", "m_position"},                   {"  m_aMuchLongerMemberName int", "m_aMuchLongerMemberName"},
      {"  m_aMuchLongerMemberNam int", "m_aMuchLongerMemberName"}, {std::string("m_\0d int", 8), std::string("m_\0d", 4)},
      {"               Quaternion {", "Quaternion"},      {"                Quaternion {", "Quaternion"},
      {"  iXt 5", "int"},       {"  Xnt 5", "int"},         {"  inX 5", "int"},        {"  nt 5", "int"},
      {" { x", "}"},            {" ab x", "aX"},            {" Xb x", "ab"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE("text \"" + text + "\", expected \"" + expected + "\"");
    Put(text + more);
    File taking;
    File reading;
    taking.Open(path_, File::Mode_Read);
    reading.Open(path_, File::Mode_Read);
    std::string_view token;
    ASSERT_TRUE(reading.ReadTokenView(token));
    const bool took = taking.TakeToken(expected);
    EXPECT_EQ(took, !expected.empty() && token == expected);
    EXPECT_EQ(taking.Tell(), took ? reading.Tell() : 0);
  }
  // Names one after another, each after its own run of blanks (as many as the last one's or not): every
  // take ends where reading the token ends.
  std::string names;
  std::vector<std::string> expected;
  uint32_t seed = 77;
  const auto next = [&seed](uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  const char* const blanks[] = {" ", "\r\n  ", "\r\n    ", "\n", "\t", "  ", "\r\n", ""};
  const char* const words[] = {"m_id", "int", "m_position", "Vec3", "{", "}", "Quaternion", "m_aMuchLongerMemberName"};
  for (int i = 0; i < 2000; ++i) {
    expected.push_back(words[next(8)]);
    names += blanks[next(i % 3 == 0 ? 8 : 3)] + expected.back();
  }
  Put(names + more);
  File taking;
  File reading;
  taking.Open(path_, File::Mode_Read);
  reading.Open(path_, File::Mode_Read);
  for (const std::string& name : expected) {
    std::string_view token;
    ASSERT_TRUE(reading.ReadTokenView(token));
    // A name glued to the one before it is part of that token: the token read is taken whole.
    ASSERT_TRUE(taking.TakeToken(token)) << token;
    ASSERT_EQ(taking.Tell(), reading.Tell()) << name;
    if (reading.Tell() == long(names.size())) break;
  }

  // Near the end of the file the general reading decides: nothing is taken.
  Put("m_id int 5");
  File file;
  file.Open(path_, File::Mode_Read);
  EXPECT_FALSE(file.TakeToken("m_id"));
  EXPECT_EQ(file.Tell(), 0);
}

}  // namespace
