// The value text format: round trips through real files, hand-written and damaged input, and the
// file wrapper's open/close bookkeeping.
#include <gtest/gtest.h>

#include "tests/Support/LogCapture.h"
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "Base/Handle.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"

namespace SerialTest {

struct TextPart {
  int m_count = 0;
  std::string m_label;
};

struct TextSample {
  char m_char = 'x';
  int m_int = 0;
  unsigned m_unsigned = 0;
  float m_float = 0.0f;
  double m_double = 0.0;
  bool m_on = false;
  std::string m_text;
  std::string m_empty = "not yet";
  Base::Vec2 m_v2;
  Base::Vec3 m_v3;
  Base::Vec4 m_v4;
  Base::Quaternion m_q;
  TextPart m_part;
  Base::Handle m_handle;
  Base::TraceLevel m_level = Base::TraceLevel_Error;
};

// Writes itself, with a tag taken from the caller's context.
struct Tagged {
  int m_value = 0;
};

}  // namespace SerialTest

ORV_REFLECT_TYPE(SerialTest::TextPart, false) {
  ORV_FIELD(m_count);
  ORV_FIELD(m_label);
}

ORV_REFLECT_TYPE(SerialTest::TextSample, false) {
  ORV_FIELD(m_char);
  ORV_FIELD(m_int);
  ORV_FIELD(m_unsigned);
  ORV_FIELD(m_float);
  ORV_FIELD(m_double);
  ORV_FIELD(m_on);
  ORV_FIELD(m_text);
  ORV_FIELD(m_empty);
  ORV_FIELD(m_v2);
  ORV_FIELD(m_v3);
  ORV_FIELD(m_v4);
  ORV_FIELD(m_q);
  ORV_FIELD(m_part);
  ORV_FIELD(m_handle);
  ORV_FIELD(m_level);
}

ORV_ON_LOAD {
  using namespace Base;
  Reflection::TypeInfo* tagged = Reflection::RegisterType<SerialTest::Tagged>("Tagged", false);
  tagged->SetSerializeFunction([](File& file, const Reflection::Variant& value) {
    Serializer* serializer = file.GetSerializer();
    file.Write("%s %d\r\n", static_cast<const char*>(serializer->GetContext()),
               static_cast<SerialTest::Tagged*>(value.data)->m_value);
  });
}

namespace {

using namespace Base;
using Reflection::MakeVariant;
using SerialTest::TextSample;

class SerializerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceLog::GetInstance().SetLevel(TraceLevel_Verbose);
    path_ = testing::TempDir() + "orv_serializer_" + std::to_string(getpid()) + ".txt";
  }
  void TearDown() override {
    std::remove(path_.c_str());
  }
  std::string TakeLog() { return capture_.Take(); }
  // The error lines of the log taken so far (opening and closing files logs at Verbose).
  std::string TakeErrors() {
    std::istringstream lines(TakeLog());
    std::string errors;
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("[ Error ]", 0) == 0) errors += line + "\n";
    return errors;
  }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }

  std::string Write(const TextSample& sample) {
    File file;
    file.Open(path_, File::Mode_Write);
    Serializer().SerializeInstance(file, MakeVariant(const_cast<TextSample&>(sample)));
    file.Close();
    TakeLog();
    return Contents();
  }
  TextSample Read(const std::string& text, TextSample sample = {}) {
    Put(text);
    File file;
    file.Open(path_, File::Mode_Read);
    Serializer().DeserializeInstance(file, MakeVariant(sample));
    return sample;
  }

  OrvTest::LogCapture capture_;
  std::string path_;
};

TextSample FullSample() {
  TextSample s;
  s.m_char = 'Q';
  s.m_int = -42;
  s.m_unsigned = 4000000000u;
  s.m_float = 2.5f;
  s.m_double = 0.1;
  s.m_on = true;
  s.m_text = "two words";
  s.m_empty = "";
  s.m_v2 = {1.0f, -2.0f};
  s.m_v3 = {1.0f, 2.0f, 3.0f};
  s.m_v4 = {0.25f, 0.5f, 0.75f, 1.0f};
  s.m_q = {1.0f, 2.0f, 3.0f, 4.0f};
  s.m_part = {7, "inner part"};
  s.m_handle = MakeHandle(3, 2);
  s.m_level = TraceLevel_Info;
  return s;
}

void ExpectSame(const TextSample& a, const TextSample& b) {
  EXPECT_EQ(a.m_char, b.m_char);
  EXPECT_EQ(a.m_int, b.m_int);
  EXPECT_EQ(a.m_unsigned, b.m_unsigned);
  EXPECT_EQ(a.m_float, b.m_float);
  EXPECT_EQ(a.m_double, b.m_double);
  EXPECT_EQ(a.m_on, b.m_on);
  EXPECT_EQ(a.m_text, b.m_text);
  EXPECT_EQ(a.m_empty, b.m_empty);
  EXPECT_EQ(a.m_v2, b.m_v2);
  EXPECT_EQ(a.m_v3, b.m_v3);
  EXPECT_EQ(a.m_v4, b.m_v4);
  EXPECT_EQ(Vec4(a.m_q.w, a.m_q.x, a.m_q.y, a.m_q.z), Vec4(b.m_q.w, b.m_q.x, b.m_q.y, b.m_q.z));
  EXPECT_EQ(a.m_part.m_count, b.m_part.m_count);
  EXPECT_EQ(a.m_part.m_label, b.m_part.m_label);
  EXPECT_EQ(uint32_t(a.m_handle), uint32_t(b.m_handle));
  EXPECT_EQ(a.m_level, b.m_level);
}

TEST_F(SerializerTest, EveryValueSurvivesARoundTripWithEitherLineEnd) {
  const std::string text = Write(FullSample());
  EXPECT_EQ(text,
            "TextSample\r\n{\r\n"
            "  m_char char Q\r\n"
            "  m_int int -42\r\n"
            "  m_unsigned unsigned 4000000000\r\n"
            "  m_float float 2.500000\r\n"
            "  m_double double 0.100000\r\n"
            "  m_on bool true\r\n"
            "  m_text string \"two words\"\r\n"
            "  m_empty string \"\"\r\n"
            "  m_v2 Vec2 {1.000000, -2.000000}\r\n"
            "  m_v3 Vec3 {1.000000, 2.000000, 3.000000}\r\n"
            "  m_v4 Vec4 {0.250000, 0.500000, 0.750000, 1.000000}\r\n"
            "  m_q Quaternion {1.000000, 2.000000, 3.000000, 4.000000}\r\n"
            "  m_part TextPart\r\n  {\r\n    m_count int 7\r\n    m_label string \"inner part\"\r\n  }\r\n"
            "  m_handle Handle 131075\r\n"
            "  m_level TraceLevel 3\r\n"
            "}\r\n");
  ExpectSame(Read(text), FullSample());

  std::string lf;
  for (char c : text)
    if (c != '\r') lf += c;
  ExpectSame(Read(lf), FullSample());
  EXPECT_EQ(TakeErrors(), "");

  TextSample none;
  none.m_handle = kNullHandle;
  EXPECT_NE(Write(none).find("  m_handle Handle -1\r\n"), std::string::npos);
  EXPECT_EQ(uint32_t(Read(Contents(), FullSample()).m_handle), kNullHandle);
}

TEST_F(SerializerTest, HandWrittenLinesAreReadAsTheFormatSays) {
  TextSample before = FullSample();
  const TextSample after = Read(
      "TextSample {\n"
      "  m_unknown int 5\n"                  // a member the type does not have: passed over
      "  m_on bool True\n"                   // only "true" is true
      "  m_v3 Vec2 {9.0, 9.0}\n"             // another type: logged, value kept
      "  m_v4 Vec4 {9.5 , 9.5, 9.5, 9.5}\n"  // a blank before the comma ends the scan
      "  m_v2 Vec2 {5,6}\n"
      "  m_char char\n  A\n"
      "  m_text string \"line one\nline two\"\n"
      "}\n",
      before);
  EXPECT_FALSE(after.m_on);
  EXPECT_EQ(after.m_v3, before.m_v3);
  EXPECT_EQ(after.m_v4, Vec4(9.5f, before.m_v4.y, before.m_v4.z, before.m_v4.w));
  EXPECT_EQ(after.m_v2, Vec2(5.0f, 6.0f));
  EXPECT_EQ(after.m_char, 'A');
  EXPECT_EQ(after.m_text, "line one\nline two");
  EXPECT_EQ(after.m_int, before.m_int);  // missing members keep their values
  EXPECT_EQ(after.m_part.m_label, before.m_part.m_label);
  EXPECT_EQ(TakeErrors(), "[ Error ][Base] Attempted to deseralize \"Vec3\" from different wrong type!\n");
}

TEST_F(SerializerTest, DamagedNamesAndVectorsCostNothingElse) {
  TextSample before = FullSample();
  // A name holding NUL bytes names no member (and is never compared past a member's name); a vector cut
  // short is reported and its brace taken, so the members after it are still read.
  const TextSample after = Read(std::string("TextSample\r\n{\r\n  m_on\0\0 bool false\r\n", 36) +
                                    "  m_v3 Vec3 {7.0, 8.0}\r\n  m_int int 9\r\n"
                                    "  m_v2 Vec2 {}\r\n  m_unsigned unsigned 5\r\n"
                                    "  m_text string \"line one\r\nline two\"\r\n}\r\n",
                                before);
  EXPECT_TRUE(after.m_on);
  EXPECT_EQ(after.m_v3, Vec3(7.0f, 8.0f, before.m_v3.z));
  EXPECT_EQ(after.m_int, 9);
  EXPECT_EQ(after.m_v2, before.m_v2);
  EXPECT_EQ(after.m_unsigned, 5u);
  EXPECT_EQ(after.m_text, "line one\nline two");  // CR LF inside quotes reads as an LF file's line break
  EXPECT_EQ(TakeErrors(), "[ Error ][Base] A \"Vec3\" value holds 2 of its 3 numbers in file: " + path_ +
                              "\n[ Error ][Base] A \"Vec2\" value holds 0 of its 2 numbers in file: " + path_ + "\n");
}

TEST_F(SerializerTest, InstancesOfAnotherOrUnknownTypeAreLoggedAndChangeNothing) {
  const TextSample kept = Read("TextPart\n{\n  m_count int 3\n}\n", FullSample());
  EXPECT_EQ(kept.m_int, -42);
  EXPECT_EQ(TakeErrors(),
            "[ Error ][Base] Attempted to deserialize an instance of \"TextSample\" using a "
            "\"TextPart\" in file: " +
                path_ + "\n");

  Read("Nowhere\n{\n}\n");
  EXPECT_EQ(TakeErrors(),
            "[ Error ][Base] No type info found when deserializing an instance of "
            "\"TextSample\" in file: " +
                path_ + "\n");
}

// A real file goes on past the instance being read (the next object, the rest of a space). Each text
// reads the same, with the same errors, whether it ends the file or 8 KiB more follow: members in their
// order and out of it, names that only start like a member's or a type's, blanks of every kind.
TEST_F(SerializerTest, TextReadsTheSameWhereTheFileGoesOnPastIt) {
  const std::string written = Write(FullSample());
  const std::string texts[] = {
      written,
      "TextSample\r\n{\r\n  m_intx int 5\r\n  m_in int 6\r\n  m_int\tint\t7\r\n  m_unsigned unsignedx 8\r\n"
      "  m_v3 Vec3x {1.0, 2.0, 3.0}\r\n  m_v2   Vec2   {3.500000, 4.000000}\r\n}\r\n",
      "TextSample\n{\n  m_q Quaternion {4.000000, 3.000000, 2.000000, 1.000000}\n  m_part TextPart\n  {\n"
      "    m_label string \"moved\"\n    m_count int 11\n  }\n  m_float float 16777217.000000\n"
      "  m_int int -3\n  m_char char Q\n}\n",
      "TextSample\r\n{\r\n  m_v4 Vec4 {1.0, 2.0 , 3.0, 4.0}\r\n  m_v3 Vec3 { 5.0, 6.0, 7.0}\r\n"
      "  m_v2 Vec2 {8.0, 9.0 }\r\n  m_double double 0.100000\r\n  m_unsigned unsigned 12\r\n}\r\n",
      std::string("TextSample\r\n{\r\n  m_on\0\0 bool false\r\n  m_int int 9\r\n}\r\n", 46),
      // Braces where they are not expected: blocks after the last member, before the type name, none.
      written.substr(0, written.rfind('}')) + "{ { }\r\n  m_level TraceLevel 1\r\n  }\r\n  m_level TraceLevel 4\r\n}\r\n",
      written.substr(0, written.rfind('}')) + "}\r\n  m_int int 5\r\n}\r\n",
      "{ TextSample\r\n{\r\n  m_int int 4\r\n}\r\n  m_unsigned unsigned 6\r\n}\r\n",
      "TextSample\r\n{\r\n}\r\n  m_int int 4\r\n}\r\n",
      "TextSample\r\n  m_int int 4\r\n  m_unsigned unsigned 6\r\n",
      "TextSample{\r\n  m_int int 4\r\n}\r\n",
      "TextSample TextSample\r\n{\r\n  m_int int 4\r\n}\r\n",
  };
  const std::string more = "\r\n" + std::string(8192, ' ') + "\r\n";
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const TextSample alone = Read(text, FullSample());
    const std::string aloneErrors = TakeErrors();
    const TextSample followed = Read(text + more, FullSample());
    ExpectSame(followed, alone);
    EXPECT_EQ(TakeErrors(), aloneErrors);
  }
  // And what the writer wrote comes back whole.
  ExpectSame(Read(written + more), FullSample());
}

TEST_F(SerializerTest, EveryTruncatedCopyEndsWithAnError) {
  const std::string text = Write(FullSample());
  const size_t closing = text.rfind('}');
  for (size_t cut = 0; cut < text.size(); ++cut) {
    SCOPED_TRACE(cut);
    Read(text.substr(0, cut));  // must return
    const std::string log = TakeErrors();
    if (cut > closing) {
      EXPECT_EQ(log, "");
    } else if (cut > text.find('\r')) {
      EXPECT_NE(log.find("Unexpected end of file while deserializing an instance of \""), std::string::npos);
    } else {
      EXPECT_NE(log.find("No type info found"), std::string::npos);
    }
  }
}

TEST_F(SerializerTest, TypesThatWriteThemselvesReachTheCallersContext) {
  SerialTest::Tagged tagged{12};
  {
    File file;
    file.Open(path_, File::Mode_Write);
    Serializer serializer(const_cast<char*>("tag"));
    serializer.WriteValue(file, MakeVariant(tagged));
    EXPECT_EQ(file.GetSerializer(), nullptr);
  }
  EXPECT_EQ(Contents(), "tag 12\r\n");
}

size_t OpenDescriptors() {
  return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                              std::filesystem::directory_iterator()));
}

TEST_F(SerializerTest, FilesLogTheirOpeningAndClosingAndNeverLeakAStream) {
  const std::string other = path_ + ".other";
  const size_t descriptors = OpenDescriptors();
  {
    File file;
    file.Open(path_, File::Mode_Write);
    file.Open(other, File::Mode_Write);  // the first stream is closed, not leaked
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);
    file.Close();
    file.Close();
    EXPECT_EQ(TakeLog(), "[Verbose][Base] Opened file: " + path_ + "\n[Verbose][Base] Closed file: " + path_ +
                             "\n[Verbose][Base] Opened file: " + other +
                             "\n[Verbose][Base] Closed file: " + other + "\n");
    EXPECT_TRUE(File::Exists(other.c_str()));

    file.Open(other + ".missing", File::Mode_Read);
    file.Open(other, 3);
    EXPECT_FALSE(file.IsGood());
    int number = 0;
    EXPECT_EQ(file.Scan("%d", &number), EOF);  // a closed file reads as end of input
    EXPECT_EQ(TakeLog(), "[ Error ][Base] Failed to open file: " + other +
                             ".missing\n[ Error ][Base] Failed "
                             "to open file: " +
                             other + "\n");
    EXPECT_FALSE(File::Exists((other + ".missing").c_str()));
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  std::remove(other.c_str());
}

TEST_F(SerializerTest, NumbersUseAPointWhateverTheProcessLocale) {
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    // scripts/install-deps.sh generates the locale, so a CI run always has it.
    if (std::getenv("CI")) FAIL() << "no locale de_DE.UTF-8: run scripts/install-deps.sh as root";
    GTEST_SKIP() << "no locale with a decimal comma here";
  }
  const std::string text = Write(FullSample());
  ExpectSame(Read(text), FullSample());
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_NE(text.find("float 2.500000"), std::string::npos);
}

}  // namespace
