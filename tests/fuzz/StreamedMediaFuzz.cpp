// Fuzz target of streamed media: the PCM and ADPCM stream sources over the input served as a file in
// 259-byte buffers (frames and blocks split between them), from the file's start and from prefetched
// first bytes, looping, seeking, and skipped while virtual before they read on, as a voice plays them.
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Shutdown.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Sources/StreamedSources.h"
#include "StreamMgr/StreamManager.h"
#include "bench/SoundBenchSupport.h"
#include "tests/SoundBanks/MemoryFileHook.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Tries a source gets while the device thread has not delivered yet: inputs end, a stalled one too.
constexpr int kMostWaits = 20000;

// The stream manager with one device serving the input as every file: made once for the run.
struct FileStreams {
  FileStreams() {
    SN::SnStreamMgrSettings settings;
    SN::StreamMgr::GetDefaultSettings(settings);
    manager = SN::StreamMgr::Create(settings);
    if (!manager) abort();
    SN::SnDeviceSettings device;
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    device.granularity = 259;
    device.ioMemorySize = 259 * 64;
    file.blockSize = 1;
    file.deviceId = SN::StreamMgr::CreateDevice(device, &file);
    if (file.deviceId == SN::kInvalidDeviceId) abort();
    SN::StreamMgr::SetFileLocationResolver(&file);
  }
  static void Release() {
    FileStreams& streams = Get();
    SN::StreamMgr::SetFileLocationResolver(nullptr);
    SN::StreamMgr::DestroyDevice(streams.file.deviceId);
    streams.manager->Destroy();
  }
  static FileStreams& Get() {
    static FileStreams streams;
    return streams;
  }

  BankTest::MemoryFileHook file;
  SN::ISnStreamMgr* manager = nullptr;
};

void Play(SN::CSnStreamedMediaSource& source, SourceTest::FakeInstance& instance) {
  SN::SNRESULT prepared = SN::SN_NotReadyYet;
  for (int wait = 0; wait < kMostWaits && (prepared = source.PrepareSource()) == SN::SN_NotReadyYet; ++wait)
    std::this_thread::yield();
  if (prepared != SN::SN_Success) {
    source.StopStream();
    return;
  }
  int waits = 0;
  for (int i = 0; i < 24 && waits < kMostWaits;) {
    SN::SnVoiceBuffer in;
    in.maxFrames = 300;
    source.GetBuffer(in);
    if (in.result == SN::SN_NoDataReady) {
      ++waits;
      std::this_thread::yield();
      continue;
    }
    in.FreeMarkers();
    source.ReleaseBuffer();
    source.GetEnvelopeDb(in.validFrames);
    if (in.result != SN::SN_DataReady) break;
    if (++i == 8) {
      instance.seek = SN::SnSeekRequest{true, false, true, 0.0f, 1000, 0};
      source.ApplyPendingSeek();
    } else if (i == 12) {
      // Skipped while virtual by more than a buffer and into a block, then heard again.
      source.VirtualOn(2);
      uint32_t frames = 700;
      source.SkipFrames(frames);
      source.VirtualOff(2, false);
    }
  }
  source.StopStream();
}

template <class Source>
void PlayEach(const std::vector<uint8_t>& bytes, uint32_t codec) {
  for (uint16_t loops : {uint16_t(1), uint16_t(3)}) {
    for (const bool prefetched : {false, true}) {
      SourceTest::FakeInstance instance({}, codec, SN::CSnSourceDesc::Storage_Streamed);
      instance.desc.fileId = 1;
      instance.loopCount = loops;
      if (prefetched) {
        instance.desc.flags |= SN::CSnSourceDesc::kPrefetched;
        instance.prefetch.assign(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() / 2));
      }
      Source source(&instance);
      Play(source, instance);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SoundBench::InitMemory();
  SN::g_DefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16 << 20, 16, SN::SnMemPool_AllocHook, 0);
  SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16 << 20, 64, SN::SnMemPool_AllocHook, 16);
  FileStreams::Get();
  Platform::AddShutdownStep(&FileStreams::Release);
  return OrvFuzz::QuietLog();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;  // an empty file does not open for reading
  const std::vector<uint8_t> bytes(data, data + size);
  {
    std::lock_guard<std::mutex> lock(FileStreams::Get().file.mutex);
    FileStreams::Get().file.file = bytes;
    FileStreams::Get().file.transfers.clear();
    FileStreams::Get().file.hints.clear();
  }
  PlayEach<SN::CSnPcmStreamSource>(bytes, 0x10000);
  PlayEach<SN::CSnAdpcmStreamSource>(bytes, 0x20000);
  return 0;
}
