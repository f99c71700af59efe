// The bank reader over memory images and over standard streams: a device with 2048-byte blocks seen
// through a counting low-level hook, and the game's banks read from a scratch "Sound/Banks/" folder.
#include <cfloat>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string_view>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/SoundBanks/MemoryFileHook.h"

namespace {

using namespace SN;
using BankTest::RecordingBank;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((i * 7 + (i >> 9)) & 0xFF);
  return bytes;
}

// The reader alone, on a stream manager whose one device is a file in memory.
class BankReaderBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SnStreamMgrSettings settings;
    StreamMgr::GetDefaultSettings(settings);
    ASSERT_NE(StreamMgr::Create(settings), nullptr);
    SnDeviceSettings device;
    StreamMgr::GetDefaultDeviceSettings(device);
    device.granularity = 128 * 1024;  // one transfer carries a whole direct read
    hook_.deviceId = StreamMgr::CreateDevice(device, &hook_);
    ASSERT_NE(hook_.deviceId, kInvalidDeviceId);
    StreamMgr::SetFileLocationResolver(&hook_);
    pool_ = MemoryMgr::CreatePool(nullptr, 1024 * 1024, 64, SnMemPool_AllocHook, 0);
    ASSERT_NE(pool_, kInvalidPoolId);
    previousPool_ = g_DefaultPoolId;
    g_DefaultPoolId = pool_;
    ASSERT_EQ(reader_.Init(), SN_Success);
  }
  void TearDown() override {
    reader_.Term();
    g_DefaultPoolId = previousPool_;
    MemoryMgr::DestroyPool(pool_);
    StreamMgr::SetFileLocationResolver(nullptr);
    StreamMgr::DestroyDevice(hook_.deviceId);
    ISnStreamMgr::m_pStreamMgr->Destroy();
  }

  OrvTest::LogCapture log_;
  SoundTest::MemoryScope memory_;
  BankTest::MemoryFileHook hook_;
  SnMemPoolId pool_ = kInvalidPoolId, previousPool_ = kInvalidPoolId;
  CSnSoundBankReader reader_;
};

TEST_F(BankReaderBlockTest, ALargeReadGoesStraightToItsDestinationInWholeBlocks) {
  hook_.file = Pattern(48 * 2048 + 32768 + 5000);
  ASSERT_EQ(reader_.OpenByID(42, 0, 0, nullptr, false), SN_Success);
  EXPECT_EQ(reader_.BufferCapacity(), 32768u);
  uint32_t count = 99;
  EXPECT_EQ(reader_.Read(nullptr, 0, count), SN_Success);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(hook_.Transfers().empty());

  std::vector<uint8_t> out(48 * 2048 + 10);
  ASSERT_EQ(reader_.Read(out.data(), uint32_t(out.size()), count), SN_Success);
  EXPECT_EQ(count, out.size());
  EXPECT_EQ(out, std::vector<uint8_t>(hook_.file.begin(), hook_.file.begin() + out.size()));
  // One direct read of the 48 whole blocks, then one buffer of 16 blocks for the last ten bytes.
  const std::vector<BankTest::MemoryFileHook::Transfer> expected{{0, 48 * 2048}, {48 * 2048, 32768}};
  EXPECT_EQ(hook_.Transfers(), expected);

  // The rest of that buffer serves the next small reads.
  uint8_t more[20];
  ASSERT_EQ(reader_.ReadExact(more, sizeof more), SN_Success);
  EXPECT_EQ(memcmp(more, hook_.file.data() + out.size(), sizeof more), 0);
  EXPECT_EQ(hook_.Transfers().size(), 2u);
  EXPECT_EQ(reader_.Position(), out.size() + sizeof more);
}

TEST_F(BankReaderBlockTest, SkipsMoveTheStreamAndDataComesAlignedOrInPlace) {
  hook_.file = Pattern(200000);
  ASSERT_EQ(reader_.OpenByName("Init.bnk", 0, false), SN_Success);
  uint32_t count = 0;
  // 100000 bytes: the stream moves 48 blocks, the buffer takes the remaining 1696.
  ASSERT_EQ(reader_.Skip(100000, count), SN_Success);
  EXPECT_EQ(count, 100000u);
  uint8_t byte = 0;
  ASSERT_EQ(reader_.ReadExact(&byte, 1), SN_Success);
  EXPECT_EQ(byte, hook_.file[100000]);
  const std::vector<BankTest::MemoryFileHook::Transfer> expected{{98304, 32768}};
  EXPECT_EQ(hook_.Transfers(), expected);

  // Enough buffered: a pointer into the buffer. Not enough: a block whose streamed part is 32-aligned.
  const uint8_t* inPlace = reader_.GetData(100);
  ASSERT_NE(inPlace, nullptr);
  EXPECT_EQ(memcmp(inPlace, hook_.file.data() + 100001, 100), 0);
  const uint32_t buffered = 98304 + 32768 - 100101;
  const uint8_t* copied = reader_.GetData(50000);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(copied + buffered) % 32, 0u);
  EXPECT_EQ(memcmp(copied, hook_.file.data() + 100101, 50000), 0);
  reader_.ReleaseData();

  // Past the end: a skip comes up short and says so.
  EXPECT_EQ(reader_.Skip(60000, count), SN_Failure);
  EXPECT_LT(count, 60000u);
}

TEST_F(BankReaderBlockTest, AnInitialOffsetStartsInsideABlock) {
  hook_.file = Pattern(10000);
  ASSERT_EQ(reader_.OpenByID(7, 5000, 0, nullptr, false), SN_Success);
  uint8_t bytes[4];
  ASSERT_EQ(reader_.ReadExact(bytes, 4), SN_Success);
  EXPECT_EQ(memcmp(bytes, hook_.file.data() + 5000, 4), 0);
  EXPECT_EQ(reader_.Position(), 5004u);
  reader_.Close();
  EXPECT_EQ(reader_.OpenByID(7, 20000, 0, nullptr, false), SN_Failure);
  EXPECT_FALSE(reader_.IsStreaming());
}

TEST_F(BankReaderBlockTest, SettingsAndMemoryImages) {
  EXPECT_EQ(reader_.Init(), SN_Failure);
  EXPECT_EQ(reader_.SetIOSettings(0.0f, 100), SN_Success);
  EXPECT_EQ(reader_.SetIOSettings(-1.0f, 50), SN_InvalidParameter);
  EXPECT_EQ(reader_.SetIOSettings(10.0f, 101), SN_InvalidParameter);

  // With no deadline the reads still complete.
  hook_.file = Pattern(4096);
  ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
  uint8_t bytes[8];
  EXPECT_EQ(reader_.ReadExact(bytes, 8), SN_Success);
  reader_.Close();

  const std::vector<uint8_t> image = Pattern(30);
  reader_.SetMemory(image.data(), 30);
  uint32_t count = 0;
  ASSERT_EQ(reader_.Skip(20, count), SN_Success);
  uint8_t out[20] = {};
  EXPECT_EQ(reader_.Read(out, 20, count), SN_Success);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(memcmp(out, image.data() + 20, 10), 0);
  reader_.SetMemory(image.data(), 30);
  EXPECT_EQ(reader_.GetData(12), image.data());  // the image itself, never a copy
  EXPECT_EQ(reader_.GetData(8), image.data() + 12);
  EXPECT_EQ(reader_.GetData(11), nullptr);
  EXPECT_EQ(reader_.ReadExact(out, 20), SN_ShortRead);
  EXPECT_TRUE(hook_.Transfers().size() == 1u);
}

TEST_F(BankReaderBlockTest, AStreamEndsWhereItsFileDoesAsAnImageOfTheSameBytes) {
  for (uint32_t block : {2048u, 1u}) {
    SCOPED_TRACE("blocks of " + std::to_string(block));
    hook_.blockSize = block;
    hook_.file = Pattern(50000);
    const std::vector<uint8_t> image = hook_.file;
    // A skip far past the end passes over what there is and says it came up short, from either source.
    uint32_t count = 0;
    ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
    ASSERT_EQ(reader_.Skip(10, count), SN_Success);
    EXPECT_EQ(reader_.Skip(100000, count), SN_Failure);
    EXPECT_EQ(count, 49990u);
    EXPECT_EQ(reader_.Position(), 50000u);
    reader_.Close();
    reader_.SetMemory(image.data(), uint32_t(image.size()));
    ASSERT_EQ(reader_.Skip(10, count), SN_Success);
    reader_.Skip(100000, count);
    EXPECT_EQ(count, 49990u);

    // A read larger than the buffer that runs past the end delivers what there is, as an image does.
    std::vector<uint8_t> out(80000);
    ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
    EXPECT_EQ(reader_.Read(out.data(), uint32_t(out.size()), count), SN_Success);
    EXPECT_EQ(count, 50000u);
    EXPECT_EQ(memcmp(out.data(), image.data(), 50000), 0);
    reader_.Close();
    ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
    EXPECT_EQ(reader_.ReadExact(out.data(), uint32_t(out.size())), SN_ShortRead);
    reader_.Close();
    reader_.SetMemory(image.data(), uint32_t(image.size()));
    EXPECT_EQ(reader_.ReadExact(out.data(), uint32_t(out.size())), SN_ShortRead);

    // An initial offset past the end is refused, even where the stream could stand there.
    EXPECT_EQ(reader_.OpenByID(1, 60000, 0, nullptr, false), SN_Failure);
    EXPECT_FALSE(reader_.IsStreaming());
    ASSERT_EQ(reader_.OpenByID(1, 50000, 0, nullptr, false), SN_Success);
    EXPECT_EQ(reader_.Read(out.data(), 8, count), SN_Success);
    EXPECT_EQ(count, 0u);
    reader_.Close();
  }
}

// What is left of a bank, from a file or an image of the same bytes. Data asked for past the end is
// refused with nothing read, taken or allocated for it, and the reader stays where it was.
TEST_F(BankReaderBlockTest, ABankTellsWhatItHoldsAndDataPastItIsNeverFetched) {
  for (uint32_t block : {2048u, 1u}) {
    SCOPED_TRACE("blocks of " + std::to_string(block));
    hook_.blockSize = block;
    hook_.file = Pattern(50000);
    const std::vector<uint8_t> image = hook_.file;
    for (bool fromFile : {true, false}) {
      SCOPED_TRACE(fromFile ? "file" : "image");
      uint32_t count = 0;
      if (fromFile) {
        ASSERT_EQ(reader_.OpenByID(1, 100, 0, nullptr, false), SN_Success);
      } else {
        reader_.SetMemory(image.data(), uint32_t(image.size()));
        ASSERT_EQ(reader_.Skip(100, count), SN_Success);
      }
      EXPECT_EQ(reader_.BytesLeft(), 49900u);
      const size_t transfers = hook_.Transfers().size();
      log_.Take();
      EXPECT_EQ(reader_.GetData(49901), nullptr);
      EXPECT_EQ(reader_.GetData(0xFFFFFFF0u), nullptr);
      EXPECT_EQ(hook_.Transfers().size(), transfers);
      EXPECT_EQ(log_.Take().find("no memory"), std::string::npos);
      EXPECT_EQ(reader_.Position(), 100u);
      ASSERT_EQ(reader_.Skip(40000, count), SN_Success);
      EXPECT_EQ(reader_.BytesLeft(), 9900u);
      const uint8_t* data = reader_.GetData(9900);
      ASSERT_NE(data, nullptr);
      EXPECT_EQ(memcmp(data, image.data() + 40100, 9900), 0);
      reader_.ReleaseData();
      EXPECT_EQ(reader_.BytesLeft(), 0u);
      reader_.Close();
    }
    EXPECT_EQ(reader_.BytesLeft(), 0u);  // nothing open
  }
}

TEST_F(BankReaderBlockTest, ThroughputZeroAsksForNoDeadline) {
  hook_.file = Pattern(100000);
  uint8_t bytes[8];
  // The default: a buffer of 32768 bytes at 1048.576 bytes a millisecond is due within 31.25 ms.
  ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
  ASSERT_EQ(reader_.ReadExact(bytes, sizeof bytes), SN_Success);
  reader_.Close();
  ASSERT_EQ(hook_.Hints().size(), 1u);
  EXPECT_LE(hook_.Hints()[0].deadlineMs, 31.25f);
  EXPECT_EQ(hook_.Hints()[0].priority, 50);

  // Throughput 0: the latest deadline there is, which still orders against other requests.
  ASSERT_EQ(reader_.SetIOSettings(0.0f, 100), SN_Success);
  ASSERT_EQ(reader_.OpenByID(1, 0, 0, nullptr, false), SN_Success);
  ASSERT_EQ(reader_.ReadExact(bytes, sizeof bytes), SN_Success);
  std::vector<uint8_t> large(70000);
  ASSERT_EQ(reader_.ReadExact(large.data(), uint32_t(large.size())), SN_Success);
  reader_.Close();
  // A buffer, a direct read of 18 blocks and a buffer for the last 376 bytes.
  const std::vector<SnTransferHints> hints = hook_.Hints();
  ASSERT_EQ(hints.size(), 4u);
  for (size_t i = 1; i < hints.size(); ++i) {
    EXPECT_EQ(hints[i].deadlineMs, FLT_MAX) << i;
    EXPECT_EQ(hints[i].priority, 100) << i;
  }
}

// The game's banks, from memory and from files, with the real managers.
class GameBanksTest : public BankTest::BankFixture {};

TEST_F(GameBanksTest, BothGameBanksLoadFromMemoryAndFromFiles) {
  const std::vector<uint8_t> init = BankTest::ContentBank("Init");
  const std::vector<uint8_t> general = BankTest::ContentBank("GeneralBank");
  // The build wrote the same bytes.
  for (const auto& [name, bytes] : {std::pair{"Init", &init}, std::pair{"GeneralBank", &general}}) {
    std::ifstream in(std::string("Sound/Banks/") + name + ".bnk", std::ios::binary);
    ASSERT_TRUE(in) << name;
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), *bytes);
  }
  WriteBankFile("Init.bnk", init);
  WriteBankFile("GeneralBank.bnk", general);

  RecordingBank fromMemory, fromFile, byId;
  ASSERT_EQ(LoadImage(init, fromMemory), SN_Success) << log_.Take();
  EXPECT_EQ(header_.bankId, BankTest::Id("Init"));
  EXPECT_EQ(SoundEngine::MaxNumVoicesLimit(), 64);
  EXPECT_EQ(SoundEngine::VolumeThresholdDB(), -80.0f);
  EXPECT_TRUE(g_pEnvironmentCurves->IsCurveEnabled(1, 1));
  ASSERT_EQ(LoadFile("Init.bnk", fromFile), SN_Success) << log_.Take();
  EXPECT_EQ(fromFile.names, fromMemory.names);
  EXPECT_EQ(LoadFile("init.bnk", fromFile), SN_FileNotFound);  // names are case-sensitive

  RecordingBank general1, general2;
  ASSERT_EQ(LoadImage(general, general1), SN_Success) << log_.Take();
  ASSERT_EQ(LoadFile("GeneralBank.bnk", general2), SN_Success) << log_.Take();
  // The beep, the chord, the hum, the tune, the drone, the tense tone, the bell, the rumble and the
  // three chimes.
  ASSERT_EQ(general1.index.size(), 11u);
  EXPECT_EQ(general2.data, general1.data);
  EXPECT_EQ(general2.names.at(BankTest::Id("GeneralBank")), "GeneralBank");
  for (const SnMediaIndexEntry& entry : general1.index) {
    EXPECT_EQ(entry.offset % 16, 0u);
    const std::vector<uint8_t> media = general1.Media(entry.mediaId);
    ASSERT_GE(media.size(), 12u);
    EXPECT_EQ(memcmp(media.data(), "RIFF", 4), 0);
    EXPECT_EQ(memcmp(media.data() + 8, "WAVE", 4), 0);
  }
  // The looping tone carries its markers and loop.
  const std::vector<uint8_t> hum = general1.Media(BankTest::Id("Hum"));
  const std::string text(hum.begin(), hum.end());
  EXPECT_NE(text.find("cue "), std::string::npos);
  EXPECT_NE(text.find("labl"), std::string::npos);
  EXPECT_NE(text.find("smpl"), std::string::npos);

  // Opened by id: "<id>.bnk" under the base folder.
  WriteBankFile(std::to_string(BankTest::Id("GeneralBank")) + ".bnk", general);
  ASSERT_EQ(reader_.OpenByID(BankTest::Id("GeneralBank"), 0, 0, nullptr, true), SN_Success);
  EXPECT_EQ(ReadBankChunks(reader_, byId, SnBankLoad_Normal, header_), SN_Success);
  reader_.Close();
  EXPECT_EQ(byId.data, general1.data);
}

TEST_F(GameBanksTest, TheMalformedCorpusGivesTheSameResultsThroughStreams) {
  const std::vector<std::pair<std::string, SNRESULT>> cases{
      {"version 112", SN_WrongBankVersion}, {"headersize 16\nbankname Init", SN_ShortRead},
      {"bankname Init\nappend 414243", SN_InvalidFile}, {"chunk ENVS", SN_Failure},
      {"chunk STMG 0000a0c2 4000 ffffffff", SN_InvalidFile}, {"platform Linux\nbankname Init\ncut 5", SN_InvalidFile},
      {"chunk ZZZZ 00112233445566778899\nbankname Init", SN_Success}};
  for (const auto& [text, expected] : cases) {
    WriteBankFile("Case.bnk", BankTest::Build(text));
    RecordingBank bank;
    EXPECT_EQ(LoadFile("Case.bnk", bank), expected) << text;
  }
}

TEST_F(GameBanksTest, ALanguageBankIsLookedForInTheLanguageFolderThenInTheBaseFolder) {
  const std::u16string previous = StreamMgr::GetCurrentLanguage();
  ASSERT_EQ(StreamMgr::SetCurrentLanguage(u"French"), SN_Success);
  std::filesystem::create_directories(banks_ + "French");
  const uint32_t voiceId = BankTest::Id("Voice"), sharedId = BankTest::Id("Shared");
  WriteBankFile("French/Voice.bnk", BankTest::Build("bankname French"));
  WriteBankFile("French/" + std::to_string(voiceId) + ".bnk", BankTest::Build("bankname French"));
  WriteBankFile("Voice.bnk", BankTest::Build("bankname Base"));
  WriteBankFile(std::to_string(voiceId) + ".bnk", BankTest::Build("bankname Base"));
  WriteBankFile("Shared.bnk", BankTest::Build("bankname Base"));
  WriteBankFile(std::to_string(sharedId) + ".bnk", BankTest::Build("bankname Base"));

  // Which bank a reader opened on: the one name it holds.
  auto nameRead = [&](SNRESULT opened) -> std::string {
    if (opened != SN_Success) return "result " + std::to_string(int(opened));
    RecordingBank bank;
    const SNRESULT result = ReadBankChunks(reader_, bank, SnBankLoad_Normal, header_);
    reader_.Close();
    if (result != SN_Success || bank.names.size() != 1) return "load " + std::to_string(int(result));
    return bank.names.begin()->second;
  };
  EXPECT_EQ(nameRead(reader_.OpenByName("Voice.bnk", 0, true)), "French");
  EXPECT_EQ(nameRead(reader_.OpenByName("Voice.bnk", 0, false)), "Base");
  EXPECT_EQ(nameRead(reader_.OpenByID(voiceId, 0, 0, nullptr, true)), "French");
  EXPECT_EQ(nameRead(reader_.OpenByID(voiceId, 0, 0, nullptr, false)), "Base");
  // Not in the language's folder: asked again without the language.
  EXPECT_EQ(nameRead(reader_.OpenByName("Shared.bnk", 0, true)), "Base");
  EXPECT_EQ(nameRead(reader_.OpenByID(sharedId, 0, 0, nullptr, true)), "Base");
  // In neither: the second answer stands, and the reader stays closed.
  EXPECT_EQ(nameRead(reader_.OpenByName("Nowhere.bnk", 0, true)), "result " + std::to_string(int(SN_FileNotFound)));
  EXPECT_FALSE(reader_.IsStreaming());
  EXPECT_EQ(StreamMgr::SetCurrentLanguage(previous.c_str()), SN_Success);
}

// Every corpus bank and both game banks from memory, from a file through the game's hook, and through
// devices of 2048-byte and of 1-byte blocks, in each load mode: the same result and the same things read.
class SameBankEveryWayTest : public BankTest::BankFixture {
 protected:
  void SetUp() override {
    BankFixture::SetUp();
    bytes_.blockSize = 1;
    SnDeviceSettings device;
    StreamMgr::GetDefaultDeviceSettings(device);
    for (BankTest::MemoryFileHook* hook : {&blocks_, &bytes_}) {
      hook->deviceId = StreamMgr::CreateDevice(device, hook);
      ASSERT_NE(hook->deviceId, kInvalidDeviceId);
    }
  }
  void TearDown() override {
    StreamMgr::SetFileLocationResolver(&io_);
    for (BankTest::MemoryFileHook* hook : {&blocks_, &bytes_})
      if (hook->deviceId != kInvalidDeviceId) StreamMgr::DestroyDevice(hook->deviceId);
    BankFixture::TearDown();
  }

  // What a load gave and everything the bank was handed, as text that shows where two loads part.
  static std::string Describe(SNRESULT result, const RecordingBank& bank) {
    auto hash = [](const std::vector<uint8_t>& bytes) {
      return std::to_string(bytes.size()) + ":" +
             std::to_string(std::hash<std::string_view>()(
                 std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    };
    std::string text = "result " + std::to_string(int(result)) + ", reserved " + std::to_string(bank.reserved);
    for (const RecordingBank::Object& object : bank.objects)
      text += ", object " + std::to_string(object.type) + "/" + std::to_string(object.id) + " " + hash(object.payload);
    for (const SnMediaIndexEntry& entry : bank.index)
      text += ", entry " + std::to_string(entry.mediaId) + "@" + std::to_string(entry.offset) + "+" +
              std::to_string(entry.size);
    text += ", data " + hash(bank.data);
    for (const auto& [id, bytes] : bank.media) text += ", media " + std::to_string(id) + " " + hash(bytes);
    for (const auto& [id, name] : bank.names) text += ", name " + std::to_string(id) + "=" + name;
    return text;
  }
  std::string FromMemory(const std::vector<uint8_t>& image, SnBankLoadMode mode) {
    RecordingBank bank;
    const SNRESULT result = LoadImage(image, bank, mode);
    return Describe(result, bank);
  }
  std::string FromGameFile(const std::vector<uint8_t>& image, SnBankLoadMode mode) {
    WriteBankFile("Case.bnk", image);
    RecordingBank bank;
    const SNRESULT result = LoadFile("Case.bnk", bank, mode);
    return Describe(result, bank);
  }
  std::string FromHook(BankTest::MemoryFileHook& hook, const std::vector<uint8_t>& image, SnBankLoadMode mode) {
    hook.file = image;
    StreamMgr::SetFileLocationResolver(&hook);
    RecordingBank bank;
    const SNRESULT result = LoadFile("Case.bnk", bank, mode);
    StreamMgr::SetFileLocationResolver(&io_);
    return Describe(result, bank);
  }

  BankTest::MemoryFileHook blocks_, bytes_;
};

TEST_F(SameBankEveryWayTest, EveryBankSaysTheSameFromMemoryAndThroughStreams) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> banks{{"Init", BankTest::ContentBank("Init")},
                                                                   {"GeneralBank", BankTest::ContentBank("GeneralBank")}};
  for (const BankTest::CorpusEntry& entry : BankTest::Corpus())
    banks.emplace_back(entry.name, BankTest::Build(entry.text, entry.name));
  for (const auto& [name, image] : banks) {
    for (SnBankLoadMode mode : {SnBankLoad_Normal, SnBankLoad_MediaOnly, SnBankLoad_StructureOnly}) {
      const std::string memory = FromMemory(image, mode);
      EXPECT_EQ(FromGameFile(image, mode), memory) << name << ", mode " << mode;
      EXPECT_EQ(FromHook(blocks_, image, mode), memory) << name << ", mode " << mode << ", blocks of 2048";
      EXPECT_EQ(FromHook(bytes_, image, mode), memory) << name << ", mode " << mode << ", blocks of 1";
    }
  }
}

}  // namespace
