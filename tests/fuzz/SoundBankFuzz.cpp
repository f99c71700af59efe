// Fuzz target of the bank chunk loop: an image read from memory into a bank that takes every object,
// the media index and the media, with a running sound engine for the global chunks, in a normal and a
// structure-only load, with and without a music hook; the same bytes read as a file through standard
// streams of 1- and 2048-byte blocks, which must give what memory gives; then loaded and unloaded by
// the engine's bank manager, in place and copied, with the music engine loading music objects.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MusicEngine/MusicEngine.h"
#include "Platform/Shutdown.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/GameSyncHooks.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/StreamManager.h"
#include "bench/SoundBenchSupport.h"
#include "tests/SoundBanks/MemoryFileHook.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Reads what it is handed the way the bank manager's loaders do: objects and the index whole, the
// media whole or entry by entry.
class TakingBank final : public SN::CSnLoadedBank {
 public:
  SN::SNRESULT ReserveObjects(uint32_t) override { return SN::SN_Success; }
  SN::SNRESULT LoadObject(uint8_t, uint32_t size, SN::CSnSoundBankReader& reader) override {
    const uint8_t* data = reader.GetData(size);
    if (!data) return SN::SN_Failure;
    uint32_t id = 0;
    memcpy(&id, data, sizeof id);
    reader.ReleaseData();
    return id ? SN::SN_Success : SN::SN_ZeroActionId;
  }
  void AddObject(SN::CSnIndexedObject*) override {}
  SN::SNRESULT LoadMediaIndex(const SN::SnMediaIndexView& index) override {
    m_index.assign(index.count, SN::SnMediaIndexEntry{});
    for (uint32_t i = 0; i < index.count; ++i) m_index[i] = index[i];
    return SN::SN_Success;
  }
  SN::SNRESULT LoadMediaData(SN::CSnSoundBankReader& reader, uint32_t size, SN::SnBankLoadMode mode) override {
    if (mode == SN::SnBankLoad_Normal) return reader.GetData(size) ? SN::SN_Success : SN::SN_Failure;
    uint32_t at = 0;
    for (const SN::SnMediaIndexEntry& entry : m_index) {
      uint32_t moved = 0;
      if (entry.offset < at || uint64_t(entry.offset) + entry.size > size) continue;
      // A skip the bank ends inside is short from memory and a failure from a stream: both refuse.
      if (reader.Skip(entry.offset - at, moved) != SN::SN_Success || moved != entry.offset - at ||
          !reader.GetData(entry.size))
        return SN::SN_Failure;
      at = entry.offset + entry.size;
    }
    return SN::SN_Success;
  }
  SN::SNRESULT AddBankName(uint32_t, const char*, uint32_t length) override {
    return length ? SN::SN_Success : SN::SN_Failure;
  }

 private:
  std::vector<SN::SnMediaIndexEntry> m_index;
};

// Takes the music types and reads half of each payload.
SN::SNRESULT MusicHook(const SN::SnHircObjectHeader& header, SN::CSnLoadedBank* bank, uint32_t) {
  if (header.type < 10 || header.type > 13) return SN::SN_NothingChanged;
  uint32_t skipped = 0;
  return bank->LoadingReader()->Skip(header.size / 2, skipped);
}

SoundBench::SilentLowerEngine& LowerEngine() {
  static SoundBench::SilentLowerEngine engine(0, false);
  return engine;
}

SoundBench::NoStreams& NoStreams() {
  static SoundBench::NoStreams streams;
  return streams;
}

// Every input meets a fresh engine: nothing an earlier bank set (platform, groups) carries over.
void StartEngine() {
  SN::SnInitSettings settings;
  SN::SoundEngine::GetDefaultInitSettings(settings);
  settings.useAudioThread = 0;
  settings.useBankThread = 0;
  settings.defaultPoolBytes = 4 * 1024 * 1024;
  if (SN::SoundEngine::Init(&settings, nullptr) != SN::SN_Success) abort();
}

// A stream manager whose one device serves the input as a file: made once, kept for the run and given
// back at shutdown. The bank manager's loads keep the stand-in, which serves no files.
class FileStreams {
 public:
  static FileStreams& Get() {
    static FileStreams streams;
    return streams;
  }
  // Reading from `image` through the real manager for the length of a scope.
  class Use {
   public:
    Use(const std::vector<uint8_t>& image, uint32_t blockSize) {
      FileStreams& streams = Get();
      streams.m_file.file = image;
      streams.m_file.blockSize = blockSize;
      streams.m_file.transfers.clear();  // the record of one input's reads only
      streams.m_file.hints.clear();
      SN::ISnStreamMgr::m_pStreamMgr = streams.m_manager;
    }
    ~Use() { SN::ISnStreamMgr::m_pStreamMgr = &NoStreams(); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
  };

 private:
  FileStreams() {
    SN::SnStreamMgrSettings settings;
    SN::StreamMgr::GetDefaultSettings(settings);
    SN::ISnStreamMgr::m_pStreamMgr = nullptr;  // the stand-in steps aside while the manager is made
    m_manager = SN::StreamMgr::Create(settings);
    if (!m_manager) abort();
    SN::SnDeviceSettings device;
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    device.ioMemorySize = 256 * 1024;
    m_file.deviceId = SN::StreamMgr::CreateDevice(device, &m_file);
    if (m_file.deviceId == SN::kInvalidDeviceId) abort();
    SN::StreamMgr::SetFileLocationResolver(&m_file);
    SN::ISnStreamMgr::m_pStreamMgr = &NoStreams();
    Platform::AddShutdownStep(&Release);
  }
  static void Release() {
    FileStreams& streams = Get();
    if (!streams.m_manager) return;
    SN::ISnStreamMgr::m_pStreamMgr = streams.m_manager;
    SN::StreamMgr::SetFileLocationResolver(nullptr);
    SN::StreamMgr::DestroyDevice(streams.m_file.deviceId);
    streams.m_manager->Destroy();
    streams.m_manager = nullptr;
    SN::ISnStreamMgr::m_pStreamMgr = &NoStreams();
  }

  BankTest::MemoryFileHook m_file;
  SN::ISnStreamMgr* m_manager = nullptr;
};

// The chunk loop's result for the image read from memory (`blockSize` 0) or as a file through a
// standard stream of `blockSize`-byte blocks, each on an engine of its own.
SN::SNRESULT ReadOnce(const std::vector<uint8_t>& image, SN::SnBankLoadMode mode, uint32_t blockSize) {
  FileStreams::Use streams(image, blockSize ? blockSize : 1);
  StartEngine();
  SN::CSnSoundBankReader reader;
  reader.Init();
  TakingBank bank;
  SN::SnBankHeader header{};
  if (blockSize == 0)
    reader.SetMemory(image.data(), uint32_t(image.size()));
  else if (reader.OpenByName("Fuzz.bnk", 0, false) != SN::SN_Success)
    abort();
  const SN::SNRESULT result = SN::ReadBankChunks(reader, bank, mode, header);
  reader.Term();
  SN::SoundEngine::Term();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SN::SnMemoryHooks hooks;
  hooks.alloc = &malloc;
  hooks.free = &free;
  hooks.virtualAlloc = [](size_t bytes) { return Platform::VirtualAllocate(bytes); };
  hooks.virtualFree = [](void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); };
  SN::SetMemoryHooks(hooks);
  SN::SnMemSettings settings{20};
  SN::MemoryMgr::Init(&settings);
  SN::ISnStreamMgr::m_pStreamMgr = &NoStreams();
  SN::LowerEngine::Install(&LowerEngine());
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact copy, so that a read past the image lands outside it.
  std::vector<uint8_t> image(data, data + size);
  // A file says what its bytes in memory say. Streamed chunks are copied into the engine's pool, which
  // holds inputs of up to a megabyte; an empty file does not open for reading at all.
  if (size > 0 && size <= 1024 * 1024) {
    for (SN::SnBankLoadMode mode : {SN::SnBankLoad_Normal, SN::SnBankLoad_MediaOnly}) {
      const SN::SNRESULT fromMemory = ReadOnce(image, mode, 0);
      for (uint32_t blockSize : {1u, 2048u}) {
        const SN::SNRESULT fromStream = ReadOnce(image, mode, blockSize);
        if (fromStream != fromMemory) {
          fprintf(stderr, "load mode %d: memory gives %d, a stream of %u-byte blocks %d\n", int(mode), int(fromMemory),
                  blockSize, int(fromStream));
          abort();
        }
      }
    }
  }
  StartEngine();
  SN::CSnSoundBankReader reader;
  reader.Init();
  for (SN::SnBankLoadMode mode : {SN::SnBankLoad_Normal, SN::SnBankLoad_StructureOnly, SN::SnBankLoad_MediaOnly}) {
    SN::SoundEngine::SetExtraHircObjectLoader(mode == SN::SnBankLoad_StructureOnly ? &MusicHook : nullptr);
    TakingBank bank;
    SN::SnBankHeader header{};
    reader.SetMemory(image.data(), uint32_t(image.size()));
    SN::ReadBankChunks(reader, bank, mode, header);
    reader.Close();
  }
  SN::SoundEngine::SetExtraHircObjectLoader(nullptr);
  reader.Term();
  // The real records: whatever a load made, its unload (or its failure) gives back; music objects
  // through the music engine's loader.
  if (SN::g_pBankManager && size >= 28) {
    if (SN::MusicEngine::Init(nullptr) != SN::SN_Success) abort();
    for (bool copied : {false, true}) {
      uint32_t bankId = 0;
      if (SN::g_pBankManager->LoadBankImageWait(image.data(), uint32_t(image.size()), copied, -1, &bankId) ==
          SN::SN_Success)
        SN::g_pBankManager->UnloadBankWait(bankId, copied ? nullptr : image.data());
    }
  }
  SN::SoundEngine::Term();
  return 0;
}
