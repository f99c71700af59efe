// Sound streaming against plain reads of the same file: a 64 MiB page-cached file through a
// standard stream in 1 MiB requests (manager, device thread, hook) against a pread loop of 1 MiB;
// through an automatic stream drained with GetBuffer/ReleaseBuffer against a pread loop of 16 KiB;
// and I/O-memory blocks of 16 KiB against malloc/free. Compare the medians of each pair.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Audio/FilePackageLowLevelIO.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "bench/SoundBenchSupport.h"
#include "StreamMgr/StreamDevice.h"
#include "StreamMgr/StreamManager.h"

namespace {

using namespace SN;

constexpr size_t kFileBytes = 64u << 20;

// One stream manager and device for the whole run, over a file written once and read once to be
// in the page cache.
struct Streaming {
  Streaming() {
    SoundBench::InitMemory();
    SnStreamMgrSettings settings;
    StreamMgr::GetDefaultSettings(settings);
    StreamMgr::Create(settings);
    SnDeviceSettings device;
    StreamMgr::GetDefaultDeviceSettings(device);
    io.Init(device, false);
    folder = std::filesystem::temp_directory_path() / ("orv-bench-stream-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    io.SetBaseFolder(std::u16string(folder.begin(), folder.end()).append(u"/").c_str());
    path = folder + "/1.snm";
    std::vector<uint8_t> bytes(kFileBytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 13);
    FILE* file = fopen(path.c_str(), "wb");
    if (file) {
      fwrite(bytes.data(), 1, bytes.size(), file);
      fclose(file);
    }
  }
  ~Streaming() {
    io.Term();
    ISnStreamMgr::m_pStreamMgr->Destroy();
    MemoryMgr::Term();
    std::filesystem::remove_all(folder);
  }
  Audio::CSnFilePackageLowLevelIOBlocking io;
  std::string folder, path;
};

Streaming& Setup() {
  static Streaming streaming;
  return streaming;
}

size_t PreadLoop(const std::string& path, std::vector<uint8_t>& buffer) {
  const int fd = open(path.c_str(), O_RDONLY);
  size_t total = 0;
  for (ssize_t got; (got = pread(fd, buffer.data(), buffer.size(), off_t(total))) > 0;) total += size_t(got);
  close(fd);
  return total;
}

void BM_PreadLoop1MiB(benchmark::State& state) {
  std::vector<uint8_t> buffer(1u << 20);
  for (auto _ : state) benchmark::DoNotOptimize(PreadLoop(Setup().path, buffer));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileBytes));
}

void BM_StandardStream1MiB(benchmark::State& state) {
  Setup();
  std::vector<uint8_t> buffer(1u << 20);
  SnFileLookupFlags flags{0, 3, 0, nullptr, false, false, -1};
  for (auto _ : state) {
    ISnStandardStream* stream = nullptr;
    if (ISnStreamMgr::m_pStreamMgr->OpenStandardStream(1, &flags, SnOpenMode_Read, stream, true) != SN_Success) {
      state.SkipWithError("no stream");
      return;
    }
    size_t total = 0;
    for (uint32_t got = 0; stream->Read(buffer.data(), uint32_t(buffer.size()), true, 50, 0.0f, got) == SN_Success && got;)
      total += got;
    stream->Destroy();
    if (total != kFileBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileBytes));
}

void BM_PreadLoop16KiB(benchmark::State& state) {
  std::vector<uint8_t> buffer(16384);
  for (auto _ : state) benchmark::DoNotOptimize(PreadLoop(Setup().path, buffer));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileBytes));
}

void BM_AutomaticStreamDrained(benchmark::State& state) {
  Setup();
  SnFileLookupFlags flags{0, 3, 0, nullptr, false, true, -1};
  // A reader fast enough that the device keeps its whole I/O memory filled ahead.
  const SnAutoStmHeuristics heuristics{1.0e6f, 0, 0, 0, 50};
  for (auto _ : state) {
    ISnAutomaticStream* stream = nullptr;
    if (ISnStreamMgr::m_pStreamMgr->OpenAutomaticStream(1, &flags, heuristics, nullptr, stream, true) != SN_Success) {
      state.SkipWithError("no stream");
      return;
    }
    stream->Activate();
    size_t total = 0;
    for (;;) {
      void* data = nullptr;
      uint32_t size = 0;
      const SNRESULT result = stream->GetBuffer(data, size, true);
      if (result != SN_DataReady && result != SN_NoMoreData) break;
      benchmark::DoNotOptimize(data);
      total += size;
      stream->ReleaseBuffer();
      if (result == SN_NoMoreData) break;
    }
    stream->Destroy();
    if (total != kFileBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileBytes));
}

void BM_MallocFree16KiB(benchmark::State& state) {
  for (auto _ : state) {
    void* block = malloc(16384);
    benchmark::DoNotOptimize(block);
    free(block);
  }
}

void BM_TransferBlock16KiB(benchmark::State& state) {
  CSnStreamDevice* device = StreamMgr::GetDevice(Setup().io.DeviceId());
  CSnIOMemoryManager& memory = device->IOMemory();
  for (auto _ : state) {
    // The device lock is part of what every block costs its callers.
    StreamGuard guard(device->DeviceLock());
    SnIOBlock* block = memory.AcquireTransferBlock(16384, 16384);
    benchmark::DoNotOptimize(block);
    memory.ReleaseBlock(block);
  }
}

}  // namespace

BENCHMARK(BM_PreadLoop1MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_StandardStream1MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PreadLoop16KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_AutomaticStreamDrained)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MallocFree16KiB)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_TransferBlock16KiB)->Repetitions(7)->DisplayAggregatesOnly(true);
