// The bank manager against plain code doing the same work: a waiting load and unload of a 32 MiB bank
// of 500 media through the bank thread, against a pread of the file plus 500 inserts into a
// std::unordered_map, both freed; and GetMedia/ReleaseMedia of 1,000 media from 4 threads, against a
// std::mutex over a std::unordered_map of reference counts. Compare the medians.
// The media calls run from one thread too, for their cost without contention.
// The loads come twice. Fresh: the bank's DATA lands in a pool of its own, the baseline's bytes in a
// new anonymous mapping, so both sides page-fault their 32 MiB every time (large blocks are always
// mapped anew: see the malloc threshold below). Kept: the DATA goes into a caller's pool made once,
// the baseline's bytes into a buffer made once, both touched before the timing.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "Audio/DefaultIOHookBlocking.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "StreamMgr/StreamManager.h"
#include "bench/SoundBenchSupport.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kBigMedia = 500;
constexpr uint32_t kBigMediaBytes = (32u << 20) / kBigMedia / 16 * 16;
constexpr uint32_t kTableMedia = 1000;
constexpr size_t kReadBytes = 1u << 20;

// The engine with its bank thread over a blocking device, the big bank on disk (read once so that
// both sides find it in the page cache) and 1,000 media the game set.
struct Engine {
  Engine() : lower(0, false) {
    // A fixed threshold: every block of a megabyte or more is a mapping of its own, made and
    // unmapped with it, so a fresh DATA pool is fresh on every load, not heap memory by chance.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    SoundBench::InitMemory();
    SnStreamMgrSettings streamSettings;
    StreamMgr::GetDefaultSettings(streamSettings);
    StreamMgr::Create(streamSettings);
    folder = std::filesystem::temp_directory_path() / ("orv-bench-bankmgr-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    SnDeviceSettings device;
    StreamMgr::GetDefaultDeviceSettings(device);
    device.granularity = kReadBytes;
    device.ioMemorySize = 8u << 20;
    io.Init(device, false);
    io.SetBaseFolder(std::u16string(folder.begin(), folder.end()).append(u"/").c_str());
    LowerEngine::Install(&lower);
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.useBankThread = 1;
    settings.defaultPoolBytes = 16u << 20;
    SoundEngine::Init(&settings, nullptr);

    Tools::BankDescription big;
    big.bankId = SoundEngine::GetIDFromString("Big");
    big.order.push_back({Tools::BankChunkKind::Media, 0});
    for (uint32_t i = 0; i < kBigMedia; ++i) {
      Tools::BankMedia media;
      media.id = i + 1;
      media.bytes.assign(kBigMediaBytes, uint8_t(i * 13));
      big.media.push_back(std::move(media));
    }
    const std::vector<uint8_t> bytes = Tools::WriteBank(big);
    fileBytes = bytes.size();
    path = folder + "/Big.bnk";
    Tools::WriteBytesFile(path, bytes);
    // The kept sides, touched once: a pool of one block that holds the DATA, and a buffer for the file.
    keptPool = MemoryMgr::CreatePool(nullptr, uint32_t(fileBytes), uint32_t(fileBytes),
                                     SnMemPool_AllocHook | SnMemPool_FixedBlocks, 16);
    uint32_t bankId = 0;
    if (g_pBankManager->LoadBankWait("Big.bnk", keptPool, &bankId) == SN_Success)
      g_pBankManager->UnloadBankWait(bankId, nullptr);
    // Aligned to a page, as the mapping of the fresh side is: a vector's bytes start 16 off a cache line,
    // which slows the copy into them by about a third.
    keptBuffer = static_cast<uint8_t*>(std::aligned_alloc(4096, (fileBytes + 4095) / 4096 * 4096));
    if (keptBuffer) std::memset(keptBuffer, 0, fileBytes);

    table.assign(kTableMedia * 16, 1);
    std::vector<SnMediaItem> items;
    for (uint32_t i = 0; i < kTableMedia; ++i) items.push_back({10000 + i, table.data() + i * 16, 16});
    g_pBankManager->SetMedia(items.data(), kTableMedia);
  }
  ~Engine() {
    SoundEngine::Term();
    MemoryMgr::DestroyPool(keptPool);
    std::free(keptBuffer);
    LowerEngine::Install(nullptr);
    io.Term();
    ISnStreamMgr::m_pStreamMgr->Destroy();
    MemoryMgr::Term();
    std::filesystem::remove_all(folder);
  }
  SoundBench::SilentLowerEngine lower;
  Audio::CSnDefaultIOHookBlocking io;
  std::string folder, path;
  size_t fileBytes = 0;
  std::vector<uint8_t> table;
  SnMemPoolId keptPool = kInvalidPoolId;
  uint8_t* keptBuffer = nullptr;
};

Engine& Setup() {
  static Engine engine;
  return engine;
}

// Reads the whole file into `data` and indexes its 500 media in a map; false on a short read. The
// reads are of the device's granularity, 1 MiB: faster here than one read of the whole file.
bool PreadAndIndex(const Engine& engine, uint8_t* data) {
  const int fd = open(engine.path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  size_t total = 0;
  for (ssize_t got; total < engine.fileBytes &&
                    (got = pread(fd, data + total, std::min<size_t>(engine.fileBytes - total, kReadBytes), off_t(total))) > 0;)
    total += size_t(got);
  close(fd);
  std::unordered_map<uint32_t, const uint8_t*> media;
  for (uint32_t i = 0; i < kBigMedia; ++i) media.emplace(i + 1, data + size_t(i) * kBigMediaBytes);
  benchmark::DoNotOptimize(media.size());
  return total == engine.fileBytes;
}

void BM_PreadFreshAndMapInserts(benchmark::State& state) {
  Engine& engine = Setup();
  for (auto _ : state) {
    void* data = mmap(nullptr, engine.fileBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool read = data != MAP_FAILED && PreadAndIndex(engine, static_cast<uint8_t*>(data));
    if (data != MAP_FAILED) munmap(data, engine.fileBytes);
    if (!read) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(engine.fileBytes));
}

void BM_PreadKeptAndMapInserts(benchmark::State& state) {
  Engine& engine = Setup();
  for (auto _ : state)
    if (!engine.keptBuffer || !PreadAndIndex(engine, engine.keptBuffer)) state.SkipWithError("short read");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(engine.fileBytes));
}

void LoadAndUnload(benchmark::State& state, SnMemPoolId pool) {
  Engine& engine = Setup();
  for (auto _ : state) {
    uint32_t bankId = 0;
    if (g_pBankManager->LoadBankWait("Big.bnk", pool, &bankId) != SN_Success ||
        g_pBankManager->UnloadBankWait(bankId, nullptr) != SN_Success) {
      state.SkipWithError("the bank did not load and unload");
      return;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(engine.fileBytes));
}

void BM_BankManagerLoadUnload(benchmark::State& state) { LoadAndUnload(state, kInvalidPoolId); }
void BM_BankManagerLoadUnloadKeptPool(benchmark::State& state) { LoadAndUnload(state, Setup().keptPool); }

struct PlainTable {
  std::mutex lock;
  std::unordered_map<uint32_t, std::pair<const uint8_t*, uint32_t>> media;  // data, references
};
PlainTable& Plain() {
  static PlainTable* table = [] {
    auto* made = new PlainTable;
    for (uint32_t i = 0; i < kTableMedia; ++i) made->media[10000 + i] = {Setup().table.data() + i * 16, 1};
    return made;
  }();
  return *table;
}

void BM_MutexMapGetRelease(benchmark::State& state) {
  PlainTable& table = Plain();
  uint32_t i = uint32_t(state.thread_index()) * 250;
  for (auto _ : state) {
    const uint32_t id = 10000 + i++ % kTableMedia;
    const uint8_t* data;
    {
      std::lock_guard<std::mutex> guard(table.lock);
      auto& entry = table.media[id];
      ++entry.second;
      data = entry.first;
    }
    benchmark::DoNotOptimize(data);
    std::lock_guard<std::mutex> guard(table.lock);
    --table.media[id].second;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_BankManagerGetRelease(benchmark::State& state) {
  Setup();
  uint32_t i = uint32_t(state.thread_index()) * 250;
  for (auto _ : state) {
    const uint32_t id = 10000 + i++ % kTableMedia;
    const SnMediaRef media = g_pBankManager->GetMedia(id);
    benchmark::DoNotOptimize(media.data);
    g_pBankManager->ReleaseMedia(id, media.bank);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_PreadFreshAndMapInserts)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankManagerLoadUnload)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PreadKeptAndMapInserts)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankManagerLoadUnloadKeptPool)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MutexMapGetRelease)->Threads(4)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MutexMapGetRelease)->Threads(1)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankManagerGetRelease)->Threads(1)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankManagerGetRelease)->Threads(4)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
