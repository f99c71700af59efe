// The SoundPack tool run as content authors run it: the package it writes is read back through the
// game's packages, and arguments the game would misread are refused with a message and no file.
#include <filesystem>

#include "tests/StreamMgr/StreamTestSupport.h"
#include "tests/Support/RunTool.h"

namespace {

using namespace SN;
using StreamTest::Pattern;

class SoundPackToolTest : public StreamTest::StreamFixture {
 protected:
  void SetUp() override {
    StreamFixture::SetUp();
    for (int i = 0; i < 4; ++i) {
      inputs_.push_back(Pattern(size_t(40 + 30 * i), uint32_t(i + 1)));
      ASSERT_TRUE(Tools::WriteBytesFile(root_ + "/" + char('a' + i) + ".bin", inputs_.back()));
    }
    output_ = banks_ + "Tool.pck";
  }
  // Runs the tool from the scratch folder, writing `output_`; its exit code and what it printed.
  int Run(const std::string& arguments, std::string& printed) {
    return OrvTest::RunTool("cd " + root_ + " && " + ORV_SOUND_PACK + " " + output_ + " " + arguments, printed);
  }

  std::vector<std::vector<uint8_t>> inputs_;  // a.bin, b.bin, c.bin, d.bin
  std::string output_;
};

TEST_F(SoundPackToolTest, APackageItWritesIsServedByLanguageIdAndName) {
  std::string printed;
  ASSERT_EQ(Run("--block 16 --language English=1 --language French=2 --bank 7:1=a.bin --bank 7:2=b.bin "
                "--media 500=c.bin --external Ext/Line.snm=d.bin",
                printed),
            0)
      << printed;
  StartDevice();
  ASSERT_EQ(StreamMgr::SetCurrentLanguage(u"French"), SN_Success);
  uint32_t id = 0;
  ASSERT_EQ(io_.LoadPackage(u"Tool.pck", id, kInvalidPoolId), SN_Success);
  EXPECT_EQ(log_.Take().find("refuses"), std::string::npos);
  auto read = [&](ISnStandardStream* stream) {
    std::vector<uint8_t> bytes = ReadAll(stream, 16384);
    stream->Destroy();
    return bytes;
  };
  ISnStandardStream* stream = nullptr;
  SnFileLookupFlags bank{0, 0, 0, nullptr, true, false, -1};
  ASSERT_EQ(Manager()->OpenStandardStream(7, &bank, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(stream->GetBlockSize(), 16u);
  EXPECT_EQ(read(stream), inputs_[1]);
  SnFileLookupFlags media{0, 3, 0, nullptr, false, false, -1};
  ASSERT_EQ(Manager()->OpenStandardStream(500, &media, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(read(stream), inputs_[2]);
  SnFileLookupFlags external{1, 0, 0, nullptr, false, false, -1};
  ASSERT_EQ(Manager()->OpenStandardStream(u"Ext/Line.snm", &external, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(read(stream), inputs_[3]);
}

TEST_F(SoundPackToolTest, ArgumentsTheGameWouldMisreadAreRefusedWithoutAFile) {
  struct Case {
    const char* arguments;
    const char* message;
  };
  const Case cases[] = {
      // -1 read as an unsigned number is a block of 4 GB: a package of at least that size.
      {"--block -1 --bank 7=a.bin", "bad block size \"-1\""},
      {"--block 24 --bank 7=a.bin", "block size 24 is not a power of two"},
      {"--block 0 --bank 7=a.bin", "block size 0 is not a power of two"},
      {"--block 131072 --bank 7=a.bin", "block size 131072 is not a power of two from 1 to 65536"},
      {"--block 16x --bank 7=a.bin", "bad block size \"16x\""},
      // Two entries of one id and language: the lookup would find either.
      {"--bank 7=a.bin --bank 7=b.bin", "bank 7 of language 0 is given twice"},
      {"--media 500:0=a.bin --media 500=b.bin", "media 500 of language 0 is given twice"},
      {"--external Ext/Line.snm=a.bin --external ext/line.SNM=b.bin", "is given twice"},
      // Text where an id belongs used to become id 0.
      {"--bank seven=a.bin", "bad id \"seven\""},
      {"--media 12x=a.bin", "bad id \"12x\""},
      {"--bank -5=a.bin", "bad id \"-5\""},
      {"--media =a.bin", "bad id \"\""},
      // 4294967297 is 2^32 + 1: cut to 32 bits it would be language 1.
      {"--language english=4294967297 --bank 7:1=a.bin", "bad language \"english=4294967297\""},
      {"--bank 7:4294967297=a.bin", "bad file \"7:4294967297=a.bin\""},
      {"--language english=65537", "bad language \"english=65537\""},
      {"--language english=0", "bad language \"english=0\""},
      {"--language english=1 --language English=2", "language \"English\" is given twice"},
      {"--language english=1 --language french=1", "language id 1 is given twice"},
      {"--language english=1 --bank 7:3=a.bin", "bank 7 is of language 3, which the language map lacks"},
      {"--bank 7=missing.bin", "cannot read \"missing.bin\""},
      {"--bank 7=a.bin --block", "option \"--block\" has no value"},
      {"--sound 7=a.bin", "unknown option \"--sound\""},
  };
  for (const Case& test : cases) {
    std::string printed;
    EXPECT_EQ(Run(test.arguments, printed), 2) << test.arguments;
    EXPECT_NE(printed.find("SoundPack: "), std::string::npos) << test.arguments;
    EXPECT_NE(printed.find(test.message), std::string::npos) << test.arguments << ": " << printed;
    EXPECT_FALSE(std::filesystem::exists(output_)) << test.arguments;
    std::filesystem::remove(output_);
  }
}

}  // namespace
