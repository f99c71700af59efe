// File packages in front of the loose files: lookups by id and name, newest first, per language,
// and corrupt packages refused without a stream left behind. Packages come from the writer tool.
#include <gtest/gtest.h>

#include "Platform/ContentPath.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/StreamMgr/StreamTestSupport.h"

namespace {

using namespace SN;
using StreamTest::Pattern;

constexpr uint32_t kEnglish = 1, kFrench = 2;

class PackageTest : public StreamTest::StreamFixture {
 protected:
  // Two banks and two media, a bank per language, and one external source.
  Tools::PackageContents Contents() {
    Tools::PackageContents contents;
    contents.blockSize = 16;
    contents.languages = {{u"English", kEnglish}, {u"French", kFrench}};
    contents.banks = {{SoundEngine::GetIDFromString("Init"), 0, Pattern(1000, 1)},
                      {SoundEngine::GetIDFromString("GeneralBank"), 0, Pattern(5000, 2)},
                      {SoundEngine::GetIDFromString("Voice"), kEnglish, Pattern(300, 3)},
                      {SoundEngine::GetIDFromString("Voice"), kFrench, Pattern(400, 4)}};
    contents.streamedFiles = {{500, 0, Pattern(40000, 5)}, {501, 0, Pattern(70, 6)}};
    contents.externals = {{u"Ext/Line.snm", 0, Pattern(90, 7)}};
    return contents;
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(Tools::WriteBytesFile(banks_ + name, bytes));
    return name;
  }
  SNRESULT Load(const std::string& name, uint32_t& id) {
    return io_.LoadPackage(StreamTest::Wide(name).c_str(), id, kInvalidPoolId);
  }
  std::vector<uint8_t> ReadById(uint32_t id, SnFileLookupFlags flags, SNRESULT* result = nullptr) {
    ISnStandardStream* stream = nullptr;
    const SNRESULT opened = Manager()->OpenStandardStream(id, &flags, SnOpenMode_Read, stream, true);
    if (result) *result = opened;
    if (opened != SN_Success) return {};
    std::vector<uint8_t> bytes = ReadAll(stream, 16384);
    stream->Destroy();
    return bytes;
  }
};

TEST_F(PackageTest, FilesAreFoundByIdAndNameBeforeLooseFiles) {
  StartDevice();
  const Tools::PackageContents contents = Contents();
  WriteLoose(std::to_string(contents.banks[0].id) + ".bnk", Pattern(10, 99));  // hidden by the package
  uint32_t id = 0;
  ASSERT_EQ(Load(Write("Sound.pck", Tools::WritePackage(contents)), id), SN_PartialSuccess);  // no language yet
  EXPECT_EQ(id, SoundEngine::GetIDFromString(u"Sound.pck"));
  const SnFileLookupFlags bank{0, 0, 0, nullptr, false, false, -1};
  EXPECT_EQ(ReadById(contents.banks[0].id, bank), contents.banks[0].bytes);
  EXPECT_EQ(ReadById(500, SnFileLookupFlags{0, 3, 0, nullptr, false, false, -1}), contents.streamedFiles[0].bytes);

  SnFileLookupFlags flags = bank;
  ISnStandardStream* stream = nullptr;
  ASSERT_EQ(Manager()->OpenStandardStream(u"GeneralBank.bnk", &flags, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(stream->GetBlockSize(), 16u);
  std::vector<uint8_t> odd(17);
  uint32_t got = 0;
  EXPECT_EQ(stream->Read(odd.data(), 17, true, 50, 0.0f, got), SN_Failure);  // not whole blocks
  EXPECT_EQ(stream->GetStatus(), SnStmStatus_Idle);
  EXPECT_EQ(ReadAll(stream, 16384), contents.banks[1].bytes);
  stream->Destroy();

  SnFileLookupFlags external{1, 0, 0, nullptr, false, false, -1};
  ASSERT_EQ(Manager()->OpenStandardStream(u"Ext/Line.snm", &external, SnOpenMode_Read, stream, true), SN_Success);
  EXPECT_EQ(ReadAll(stream, 16384), contents.externals[0].bytes);
  stream->Destroy();

  // A media file streamed automatically from inside the package.
  SnFileLookupFlags media{0, 3, 0, nullptr, false, true, -1};
  ISnAutomaticStream* automatic = nullptr;
  ASSERT_EQ(Manager()->OpenAutomaticStream(500, &media, SnAutoStmHeuristics{100.0f, 0, 0, 0, 50}, nullptr, automatic,
                                           true),
            SN_Success);
  automatic->Activate();
  std::vector<uint8_t> read;
  for (SNRESULT result = SN_DataReady; result == SN_DataReady;) {
    void* data = nullptr;
    uint32_t bytes = 0;
    result = automatic->GetBuffer(data, bytes, true);
    ASSERT_TRUE(result == SN_DataReady || result == SN_NoMoreData);
    read.insert(read.end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + bytes);
    automatic->ReleaseBuffer();
  }
  EXPECT_EQ(read, contents.streamedFiles[0].bytes);
  automatic->Destroy();

  EXPECT_EQ(io_.UnloadPackage(id + 1), SN_Failure);
  EXPECT_EQ(io_.UnloadPackage(id), SN_Success);
  EXPECT_EQ(ReadById(contents.banks[0].id, bank), Pattern(10, 99));  // the loose file again
}

TEST_F(PackageTest, LaterPackagesWinAndLanguagesRetargetLookups) {
  StartDevice();
  ASSERT_EQ(StreamMgr::SetCurrentLanguage(u"english"), SN_Success);
  Tools::PackageContents first = Contents();
  Tools::PackageContents later;
  later.banks = {{first.banks[0].id, 0, Pattern(64, 42)}};  // no language map: one language
  uint32_t firstId = 0, laterId = 0;
  ASSERT_EQ(Load(Write("First.pck", Tools::WritePackage(first)), firstId), SN_Success);
  ASSERT_EQ(Load(Write("Later.pck", Tools::WritePackage(later)), laterId), SN_Success);
  const SnFileLookupFlags bank{0, 0, 0, nullptr, false, false, -1};
  EXPECT_EQ(ReadById(first.banks[0].id, bank), later.banks[0].bytes);

  const uint32_t voice = SoundEngine::GetIDFromString("Voice");
  const SnFileLookupFlags voiceFlags{0, 0, 0, nullptr, true, false, -1};
  EXPECT_EQ(ReadById(voice, voiceFlags), first.banks[2].bytes);
  ASSERT_EQ(StreamMgr::SetCurrentLanguage(u"French"), SN_Success);
  EXPECT_EQ(ReadById(voice, voiceFlags), first.banks[3].bytes);

  // A package of one language loads whatever the current language.
  Tools::PackageContents single;
  single.languages = {{u"german", 5}};
  single.streamedFiles = {{900, 5, Pattern(32, 1)}};
  uint32_t singleId = 0;
  EXPECT_EQ(Load(Write("Single.pck", Tools::WritePackage(single)), singleId), SN_Success);
  EXPECT_EQ(io_.UnloadAllPackages(), SN_Success);
  EXPECT_EQ(io_.PackageCount(), 0u);
}

TEST_F(PackageTest, CorruptPackagesAreRefusedAndLeaveNoStream) {
  StartDevice();
  const std::vector<uint8_t> good = Tools::WritePackage(Contents());
  auto corrupt = [&](auto change) {
    std::vector<uint8_t> bytes = good;
    change(bytes);
    return bytes;
  };
  using Bytes = std::vector<uint8_t>;
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"tag", corrupt([](Bytes& b) { b[0] = 'X'; })},
      {"zero header", corrupt([](Bytes& b) { Audio::PackageFormat::WriteU32(&b[4], 0); })},
      {"version 0", corrupt([](Bytes& b) { Audio::PackageFormat::WriteU32(&b[8], 0); })},
      {"bank count beyond its table", corrupt([](Bytes& b) {
         const uint32_t languages = Audio::PackageFormat::ReadU32(&b[12]);
         Audio::PackageFormat::WriteU32(&b[28 + languages], 0x10000000);
       })},
      {"table sizes that wrap", corrupt([](Bytes& b) { Audio::PackageFormat::WriteU32(&b[24], 0xFFFFFFF0u); })},
      {"name outside the map", corrupt([](Bytes& b) { Audio::PackageFormat::WriteU32(&b[32], 0x7FFFFFF0u); })},
      {"header beyond the file", corrupt([](Bytes& b) { Audio::PackageFormat::WriteU32(&b[4], 1u << 30); })},
      {"truncated", Bytes(good.begin(), good.begin() + 40)},
  };
  for (const auto& [name, bytes] : cases) {
    uint32_t id = 0;
    EXPECT_EQ(Load(Write("Bad.pck", bytes), id), SN_Failure) << name;
  }
  EXPECT_EQ(io_.PackageCount(), 0u);
  EXPECT_NE(log_.Take().find("LoadPackage"), std::string::npos);
  // Every refused package's stream is gone: the device stops.
  io_.Term();
}

TEST_F(PackageTest, AnEntryPastTheEndOfItsPackageIsRefusedAndTheRestIsServed) {
  StartDevice();
  const Tools::PackageContents contents = Contents();
  std::vector<uint8_t> bytes = Tools::WritePackage(contents);
  bytes.resize(bytes.size() - 40);  // the last file, the external source, loses its tail
  uint32_t id = 0;
  ASSERT_EQ(Load(Write("Short.pck", bytes), id), SN_PartialSuccess);
  const std::string logged = log_.Take();
  EXPECT_NE(logged.find("\"Short.pck\" refuses external source"), std::string::npos) << logged;
  EXPECT_NE(logged.find("past the end of the file"), std::string::npos) << logged;
  ISnStandardStream* stream = nullptr;
  SnFileLookupFlags external{1, 0, 0, nullptr, false, false, -1};
  EXPECT_EQ(Manager()->OpenStandardStream(u"Ext/Line.snm", &external, SnOpenMode_Read, stream, true),
            SN_FileNotFound);
  EXPECT_EQ(ReadById(501, SnFileLookupFlags{0, 3, 0, nullptr, false, false, -1}), contents.streamedFiles[1].bytes);
}

TEST_F(PackageTest, EntriesWhoseDataCannotBeServedAreRefusedAloneAsThePackageLoads) {
  StartDevice();
  const Tools::PackageContents contents = Contents();
  const std::vector<uint8_t> good = Tools::WritePackage(contents);
  // The header of Contents(): 28 fixed bytes, a language map of 4 + 2 x 8 + 16 + 14 bytes padded to
  // 52, the bank table of 4 + 4 x 20, then the streamed-file table, whose first entry (media 500)
  // starts 4 bytes in: at 168. The header ends at 236, so files start at block 15 of 16 bytes.
  constexpr size_t kMedia500 = 28 + 52 + 84 + 4;
  ASSERT_EQ(Audio::PackageFormat::ReadU32(&good[kMedia500]), 500u);
  ASSERT_EQ(Audio::PackageFormat::ReadU32(&good[kMedia500 + 4]), 16u);
  const uint32_t firstBlock = Audio::PackageFormat::ReadU32(&good[kMedia500 + 12]);
  struct Case {
    const char* name;
    size_t field;  // from the entry's start
    uint32_t value;
    const char* reason;
  };
  const Case cases[] = {
      {"block size 0", 4, 0, "not a power of two"},
      {"block size 24", 4, 24, "not a power of two"},
      {"first block in the header", 12, 14, "starts inside the header"},
      {"size past the end", 8, 0x7FFFFFFF, "past the end of the file"},
      // 2^28 blocks of 16 bytes are 2^32 bytes: in 32 bits the data would land back on its own place.
      {"offset past 32 bits", 12, firstBlock + (1u << 28), "past the end of the file"},
  };
  // A refused entry leaves the open to the loose file of the same id.
  const std::vector<uint8_t> loose = Pattern(24, 77);
  WriteLoose("500.snm", loose);
  const SnFileLookupFlags media{0, 3, 0, nullptr, false, false, -1};
  for (const Case& test : cases) {
    std::vector<uint8_t> bytes = good;
    Audio::PackageFormat::WriteU32(&bytes[kMedia500 + test.field], test.value);
    uint32_t id = 0;
    ASSERT_EQ(Load(Write("Damaged.pck", bytes), id), SN_PartialSuccess) << test.name;
    const std::string logged = log_.Take();
    EXPECT_NE(logged.find("[Audio]"), std::string::npos) << test.name;
    EXPECT_NE(logged.find("\"Damaged.pck\" refuses streamed file 500 (language 0)"), std::string::npos)
        << test.name << ": " << logged;
    EXPECT_NE(logged.find(test.reason), std::string::npos) << test.name << ": " << logged;
    EXPECT_EQ(ReadById(500, media), loose) << test.name;
    // The package's other files are served from its shared handle, which the loose file left alone.
    EXPECT_EQ(ReadById(501, media), contents.streamedFiles[1].bytes) << test.name;
    EXPECT_EQ(ReadById(contents.banks[1].id, SnFileLookupFlags{0, 0, 0, nullptr, false, false, -1}),
              contents.banks[1].bytes)
        << test.name;
    EXPECT_EQ(io_.UnloadPackage(id), SN_Success);
  }
}

TEST_F(PackageTest, PathsComposeUnderTheBaseAndLanguageFolders) {
  StartDevice();
  char16_t path[Audio::kMaxPathChars];
  const SnFileLookupFlags bank{0, 0, 0, nullptr, true, false, -1};
  ASSERT_EQ(StreamMgr::SetCurrentLanguage(u"english"), SN_Success);
  ASSERT_EQ(io_.ComposePathById(1234, &bank, SnOpenMode_Read, path), SN_Success);
  EXPECT_EQ(Platform::ToContentPath(path), banks_ + "english/1234.bnk");
  const SnFileLookupFlags media{0, 3, 0, nullptr, false, false, -1};
  ASSERT_EQ(io_.ComposePathById(1234, &media, SnOpenMode_Read, path), SN_Success);
  EXPECT_EQ(Platform::ToContentPath(path), banks_ + "1234.snm");
  const SnFileLookupFlags other{2, 0, 0, nullptr, false, false, -1};
  EXPECT_EQ(io_.ComposePathById(1, &other, SnOpenMode_Read, path), SN_Failure);
  // Base, language and separator reaching 246 characters leave no room for an id.
  const std::u16string deep(246 - 8, u'd');
  io_.SetBaseFolder(deep.c_str());
  EXPECT_EQ(io_.ComposePathById(1, &bank, SnOpenMode_Read, path), SN_Failure);
  EXPECT_EQ(io_.SetBaseFolder(u"/no/such/folder/"), SN_PathNotFound);
  EXPECT_EQ(io_.ComposePathByName(std::u16string(260, u'n').c_str(), &bank, SnOpenMode_Read, path),
            SN_InvalidParameter);
  // Opening a name no path can hold is an invalid parameter; a name whose folders leave it no room
  // is a failed open.
  bool syncOpen = true;
  SnFileDescriptor descriptor{};
  SnFileLookupFlags bankFlags = bank;
  EXPECT_EQ(io_.OpenByName(std::u16string(260, u'n').c_str(), SnOpenMode_Read, &bankFlags, syncOpen, descriptor),
            SN_InvalidParameter);
  EXPECT_EQ(descriptor.packageBlockSize, 0u);
  EXPECT_EQ(io_.OpenByName(nullptr, SnOpenMode_Read, &bankFlags, syncOpen, descriptor), SN_InvalidParameter);
  EXPECT_EQ(io_.OpenByName(std::u16string(250, u'n').c_str(), SnOpenMode_Read, &bankFlags, syncOpen, descriptor),
            SN_Failure);
  SnDeviceInfo info{};
  io_.DescribeDevice(info);
  EXPECT_EQ(std::u16string(info.name), u"POSIX Blocking");
  EXPECT_EQ(info.nameLength, 15u);
}

}  // namespace
