// Test helpers of sound banks: a loading bank that records what the chunk loop hands it, banks built
// with the bank writer, and a sound engine with its real game-sync managers over the real stream
// manager, one blocking device and a scratch "Sound/Banks/" folder.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Audio/DefaultIOHookBlocking.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/GameSyncHooks.h"
#include "SoundEngine/SoundEngineApi.h"
#include "StreamMgr/StreamManager.h"
#include "tests/SoundEngine/SoundTestSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace BankTest {

// The hash of "TestBank" (32-bit FNV-1 of the lower-case name), the bank most tests build.
constexpr uint32_t kTestBankId = 0xC42E767B;

inline uint32_t Id(const char* name) { return SN::SoundEngine::GetIDFromString(name); }

// A fuzz target's committed seeds, in tests/fuzz/corpus/<target>/, are the bytes a writer makes
// today; with the environment variable `rewrite` set they are written afresh (a layout changed on
// purpose). Run from the source tree.
inline void ExpectCommittedSeeds(const std::string& target,
                                 const std::vector<std::pair<std::string, std::vector<uint8_t>>>& seeds,
                                 const char* rewrite) {
  for (const auto& [name, bytes] : seeds) {
    const std::string path = "tests/fuzz/corpus/" + target + "/" + name;
    if (std::getenv(rewrite))
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> committed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(committed, bytes) << name;
  }
}

// Expected bytes, written field by field with the values worked out by hand.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Tag(const char* tag) {
    b.insert(b.end(), tag, tag + 4);
    return *this;
  }
  Bytes& U8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Bytes& U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
  Bytes& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  Bytes& Text(const char* text) {
    b.insert(b.end(), text, text + strlen(text));
    return *this;
  }
  Bytes& Zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  Bytes& Append(const std::vector<uint8_t>& more) {
    b.insert(b.end(), more.begin(), more.end());
    return *this;
  }
};

// A bank from description text, named `name` (its id the hash of the name).
inline std::vector<uint8_t> Build(const std::string& text, const std::string& name = "TestBank") {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(Tools::ParseBankText(text, name, bank, error)) << error;
  return Tools::WriteBank(bank);
}

// The game's bank as its description in content/banks gives it.
inline std::vector<uint8_t> ContentBank(const std::string& name) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_TRUE(Tools::ReadBankTextFile("content/banks/" + name + ".txt", bank, error)) << error;
  return Tools::WriteBank(bank);
}

struct CorpusEntry {
  std::string name;
  std::string text;
  int expected;
};

// tests/SoundBanks/corpus/<name>.txt, each opening with "# expect <result>".
inline std::vector<CorpusEntry> Corpus() {
  std::vector<CorpusEntry> entries;
  for (const auto& file : std::filesystem::directory_iterator("tests/SoundBanks/corpus")) {
    std::ifstream in(file.path());
    CorpusEntry entry{file.path().stem().string(),
                      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), 0};
    const size_t at = entry.text.find("# expect ");
    if (at == 0) entry.expected = atoi(entry.text.c_str() + 9);
    entries.push_back(entry);
  }
  return entries;
}

// Records every call of the chunk loop; objects are read whole through GetData.
class RecordingBank : public SN::CSnLoadedBank {
 public:
  struct Object {
    uint8_t type;
    uint32_t id;
    std::vector<uint8_t> payload;
    bool operator==(const Object&) const = default;
  };

  SN::SNRESULT ReserveObjects(uint32_t count) override {
    reserved += count;
    return reserveResult;
  }
  SN::SNRESULT LoadObject(uint8_t type, uint32_t size, SN::CSnSoundBankReader& reader) override {
    const uint8_t* data = reader.GetData(size);
    if (!data) return SN::SN_Failure;
    Object object{type, 0, std::vector<uint8_t>(data, data + size)};
    memcpy(&object.id, data, sizeof object.id);
    reader.ReleaseData();
    objects.push_back(object);
    return objectResult;
  }
  void AddObject(SN::CSnIndexedObject* object) override { added.push_back(object); }
  SN::SNRESULT LoadMediaIndex(const SN::SnMediaIndexView& view) override {
    ++indexCalls;
    for (uint32_t i = 0; i < view.count; ++i) index.push_back(view[i]);
    return SN::SN_Success;
  }
  SN::SNRESULT LoadMediaData(SN::CSnSoundBankReader& reader, uint32_t size, SN::SnBankLoadMode mode) override {
    ++dataCalls;
    dataMode = mode;
    if (mode == SN::SnBankLoad_Normal) {
      // Piece by piece: a size the bank cannot hold ends at its end, not in a 4 GiB allocation.
      data.clear();
      for (uint32_t done = 0; done < size;) {
        const uint32_t piece = std::min<uint32_t>(size - done, 1u << 16);
        data.resize(size_t(done) + piece);
        const SN::SNRESULT result = reader.ReadExact(data.data() + done, piece);
        if (result != SN::SN_Success) return result;
        done += piece;
      }
      return SN::SN_Success;
    }
    // Entry by entry, in the order the media lie.
    uint32_t at = 0;
    for (const SN::SnMediaIndexEntry& entry : index) {
      uint32_t skipped = 0;
      if (entry.offset < at || reader.Skip(entry.offset - at, skipped) != SN::SN_Success) return SN::SN_Failure;
      std::vector<uint8_t>& bytes = media[entry.mediaId];
      bytes.resize(entry.size);
      if (reader.ReadExact(bytes.data(), entry.size) != SN::SN_Success) return SN::SN_Failure;
      at = entry.offset + entry.size;
    }
    return SN::SN_Success;
  }
  SN::SNRESULT AddBankName(uint32_t bankId, const char* name, uint32_t length) override {
    names[bankId] = std::string(name, length);
    return SN::SN_Success;
  }
  // The media bytes an index entry addresses in a normal load.
  std::vector<uint8_t> Media(uint32_t mediaId) const {
    for (const SN::SnMediaIndexEntry& entry : index)
      if (entry.mediaId == mediaId && size_t(entry.offset) + entry.size <= data.size())
        return std::vector<uint8_t>(data.begin() + entry.offset, data.begin() + entry.offset + entry.size);
    return {};
  }

  uint32_t reserved = 0;
  SN::SNRESULT reserveResult = SN::SN_Success;
  SN::SNRESULT objectResult = SN::SN_Success;
  std::vector<Object> objects;
  std::vector<SN::CSnIndexedObject*> added;
  std::vector<SN::SnMediaIndexEntry> index;
  int indexCalls = 0, dataCalls = 0;
  SN::SnBankLoadMode dataMode = SN::SnBankLoad_StructureOnly;
  std::vector<uint8_t> data;
  std::map<uint32_t, std::vector<uint8_t>> media;
  std::map<uint32_t, std::string> names;
};

// The sound engine (synchronous, recording back end) with its real managers, the real stream manager
// with the game's blocking hook over "<scratch>/Sound/Banks/", and an initialised bank reader.
class BankFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orv-banks-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    banks_ = root_ + "/Sound/Banks/";
    std::filesystem::create_directories(banks_);
    SN::SnStreamMgrSettings streamSettings;
    SN::StreamMgr::GetDefaultSettings(streamSettings);
    ASSERT_NE(SN::StreamMgr::Create(streamSettings), nullptr);
    SN::SnDeviceSettings device;
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    ASSERT_EQ(io_.Init(device, false), SN::SN_Success);
    std::string folder = banks_;
    for (char& c : folder)
      if (c == '/') c = '\\';
    ASSERT_EQ(io_.SetBaseFolder(std::u16string(folder.begin(), folder.end()).c_str()), SN::SN_Success);
    SN::LowerEngine::Install(&lower_);
    SN::SoundEngine::GetDefaultInitSettings(settings_);
    settings_.useAudioThread = 0;
    AdjustSettings(settings_);
    ASSERT_EQ(SN::SoundEngine::Init(&settings_, nullptr), SN::SN_Success);
    ASSERT_EQ(reader_.Init(), SN::SN_Success);
  }
  void TearDown() override {
    reader_.Term();
    SN::SoundEngine::SetExtraHircObjectLoader(nullptr);
    SN::SoundEngine::Term();
    SN::LowerEngine::Install(nullptr);
    SN::g_pPlayingIdPendingCounts = nullptr;
    if (io_.DeviceId() != SN::kInvalidDeviceId) io_.Term();
    if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
    std::filesystem::remove_all(root_);
  }
  // Before the engine starts: a fixture's own settings.
  virtual void AdjustSettings(SN::SnInitSettings&) {}
  void WriteBankFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(Tools::WriteBytesFile(banks_ + name, bytes));
  }
  // Loads an image from memory into `bank`.
  SN::SNRESULT LoadImage(const std::vector<uint8_t>& image, RecordingBank& bank,
                         SN::SnBankLoadMode mode = SN::SnBankLoad_Normal) {
    reader_.SetMemory(image.data(), uint32_t(image.size()));
    const SN::SNRESULT result = SN::ReadBankChunks(reader_, bank, mode, header_);
    reader_.Close();
    return result;
  }
  // Loads a bank file of the scratch folder through a standard stream.
  SN::SNRESULT LoadFile(const char* name, RecordingBank& bank, SN::SnBankLoadMode mode = SN::SnBankLoad_Normal) {
    SN::SNRESULT result = reader_.OpenByName(name, 0, false);
    if (result != SN::SN_Success) return result;
    result = SN::ReadBankChunks(reader_, bank, mode, header_);
    reader_.Close();
    return result;
  }

  OrvTest::LogCapture log_;
  SoundTest::MemoryScope memory_;
  SoundTest::FakeLowerEngine lower_;
  Audio::CSnDefaultIOHookBlocking io_;
  SN::SnInitSettings settings_{};
  SN::CSnSoundBankReader reader_;
  SN::SnBankHeader header_{};
  std::string root_, banks_;
};

}  // namespace BankTest
