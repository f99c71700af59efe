// Bank loading against plain reads: a 64 MiB bank of 1,000 media in one DATA chunk read by the chunk
// loop through a standard stream (the media straight into their destination) on devices of 1 MiB and
// 4 MiB transfers and of the game's default 16 KiB, against a pread loop of the same file in 1 MiB
// requests into a destination that keeps them, as the bank does (the fair pair), and, as an upper bound
// that never leaves the cache, into one reused buffer; all opening the file afresh; and 200,000 HIRC objects of 80 bytes
// walked in memory by the chunk loop with a loader that reads only each id, against a memcpy walk of
// the same image. Compare the medians of each pair.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Audio/DefaultIOHookBlocking.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "bench/SoundBenchSupport.h"
#include "SoundEngine/Banks/BankChunks.h"
#include "SoundEngine/Banks/LoadedBank.h"
#include "SoundEngine/Banks/SoundBankReader.h"
#include "SoundEngine/SoundEngine.h"
#include "StreamMgr/StreamManager.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace SN;

constexpr uint32_t kMediaCount = 1000;
constexpr uint32_t kMediaBytes = (64u << 20) / kMediaCount / 16 * 16;
constexpr uint32_t kObjectCount = 200000;
constexpr uint32_t kObjectBytes = 80;

// Takes the media into one block it keeps, and of each object only its id.
class BenchBank final : public CSnLoadedBank {
 public:
  SNRESULT ReserveObjects(uint32_t) override { return SN_Success; }
  SNRESULT LoadObject(uint8_t, uint32_t, CSnSoundBankReader& reader) override {
    uint32_t id = 0;
    const SNRESULT result = reader.ReadExact(&id, sizeof id);
    idSum += id;
    return result;
  }
  void AddObject(CSnIndexedObject*) override {}
  SNRESULT LoadMediaIndex(const SnMediaIndexView& index) override {
    mediaCount = index.count;
    return SN_Success;
  }
  SNRESULT LoadMediaData(CSnSoundBankReader& reader, uint32_t size, SnBankLoadMode) override {
    data.resize(size);
    return reader.ReadExact(data.data(), size);
  }
  SNRESULT AddBankName(uint32_t, const char*, uint32_t) override { return SN_Success; }

  std::vector<uint8_t> data;
  uint32_t mediaCount = 0;
  uint64_t idSum = 0;
};

// Memory, a stream manager with three blocking devices (1 MiB, 4 MiB and 16 KiB transfers), the big bank on disk (read
// once so that both sides find it in the page cache) and the object bank in memory.
struct Banks {
  Banks() {
    SoundBench::InitMemory();
    g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, 8u << 20, 64, SnMemPool_AllocHook, 0);
    SnStreamMgrSettings settings;
    StreamMgr::GetDefaultSettings(settings);
    StreamMgr::Create(settings);
    folder = std::filesystem::temp_directory_path() / ("orv-bench-banks-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    for (uint32_t i = 0; i < 3; ++i) {
      SnDeviceSettings device;
      StreamMgr::GetDefaultDeviceSettings(device);
      if (i < 2) device.granularity = (i ? 4u : 1u) << 20;
      device.ioMemorySize = 8u << 20;
      io[i].Init(device, false);
      io[i].SetBaseFolder(std::u16string(folder.begin(), folder.end()).append(u"/").c_str());
    }
    path = folder + "/Big.bnk";

    Tools::BankDescription big;
    big.bankId = 1;
    big.order.push_back({Tools::BankChunkKind::Media, 0});
    for (uint32_t i = 0; i < kMediaCount; ++i) {
      Tools::BankMedia media;
      media.id = i + 1;
      media.bytes.assign(kMediaBytes, uint8_t(i * 13));
      big.media.push_back(std::move(media));
    }
    const std::vector<uint8_t> bytes = Tools::WriteBank(big);
    fileBytes = bytes.size();
    Tools::WriteBytesFile(path, bytes);

    Tools::BankDescription objects;
    objects.bankId = 2;
    objects.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    for (uint32_t i = 0; i < kObjectCount; ++i) {
      Tools::BankObject object;
      object.type = 2;
      object.payload.assign(kObjectBytes, 0);
      const uint32_t id = i + 1;
      memcpy(object.payload.data(), &id, sizeof id);
      objects.objects.push_back(std::move(object));
    }
    objectImage = Tools::WriteBank(objects);
    reader.Init();
  }
  ~Banks() {
    reader.Term();
    StreamMgr::SetFileLocationResolver(nullptr);
    for (Audio::CSnDefaultIOHookBlocking& device : io) device.Term();
    ISnStreamMgr::m_pStreamMgr->Destroy();
    MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_DefaultPoolId = kInvalidPoolId;
    MemoryMgr::Term();
    std::filesystem::remove_all(folder);
  }
  Audio::CSnDefaultIOHookBlocking io[3];  // devices of 1 MiB, 4 MiB and 16 KiB transfers
  CSnSoundBankReader reader;
  std::string folder, path;
  size_t fileBytes = 0;
  std::vector<uint8_t> objectImage;
};

Banks& Setup() {
  static Banks banks;
  return banks;
}

// 1 MiB requests into `destination`, `step` bytes further each time (0: always the same buffer).
size_t PreadLoop(const std::string& path, uint8_t* destination, size_t step) {
  const int fd = open(path.c_str(), O_RDONLY);
  size_t total = 0;
  for (ssize_t got; (got = pread(fd, destination + total / (1u << 20) * step, 1u << 20, off_t(total))) > 0;)
    total += size_t(got);
  close(fd);
  return total;
}

// The bytes kept, as a bank load keeps its media: the fair side of the comparison.
void BM_PreadLoop1MiBKept(benchmark::State& state) {
  std::vector<uint8_t> destination(Setup().fileBytes + (1u << 20));
  for (auto _ : state)
    if (PreadLoop(Setup().path, destination.data(), 1u << 20) != Setup().fileBytes) state.SkipWithError("short read");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Setup().fileBytes));
}

// One 1 MiB buffer read over and over, which stays in the cache: an upper bound.
void BM_PreadLoop1MiBReused(benchmark::State& state) {
  std::vector<uint8_t> buffer(1u << 20);
  for (auto _ : state)
    if (PreadLoop(Setup().path, buffer.data(), 0) != Setup().fileBytes) state.SkipWithError("short read");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Setup().fileBytes));
}

// The argument is the device's transfer size in KiB.
void BM_BankChunkLoopStream(benchmark::State& state) {
  Banks& banks = Setup();
  StreamMgr::SetFileLocationResolver(&banks.io[state.range(0) == 4096 ? 1 : state.range(0) == 16 ? 2 : 0]);
  BenchBank bank;
  for (auto _ : state) {
    SnBankHeader header{};
    if (banks.reader.OpenByName("Big.bnk", 0, false) != SN_Success ||
        ReadBankChunks(banks.reader, bank, SnBankLoad_Normal, header) != SN_Success || bank.mediaCount != kMediaCount) {
      state.SkipWithError("the bank did not load");
      banks.reader.Close();
      return;
    }
    banks.reader.Close();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(banks.fileBytes));
}

void BM_MemcpyObjectWalk(benchmark::State& state) {
  const std::vector<uint8_t>& image = Setup().objectImage;
  for (auto _ : state) {
    // Header chunk, HIRC chunk header and count, then each object's type, size and id.
    size_t at = 28 + 8;
    uint32_t count = 0;
    memcpy(&count, image.data() + at, 4);
    at += 4;
    uint64_t idSum = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t type = 0;
      uint32_t size = 0, id = 0;
      memcpy(&type, image.data() + at, 1);
      memcpy(&size, image.data() + at + 1, 4);
      memcpy(&id, image.data() + at + 5, 4);
      benchmark::DoNotOptimize(type);
      idSum += id;
      at += 5 + size;
    }
    benchmark::DoNotOptimize(idSum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kObjectCount);
}

void BM_BankChunkLoopObjects(benchmark::State& state) {
  Banks& banks = Setup();
  const std::vector<uint8_t>& image = banks.objectImage;
  for (auto _ : state) {
    BenchBank bank;
    SnBankHeader header{};
    banks.reader.SetMemory(image.data(), uint32_t(image.size()));
    if (ReadBankChunks(banks.reader, bank, SnBankLoad_Normal, header) != SN_Success) state.SkipWithError("no load");
    banks.reader.Close();
    benchmark::DoNotOptimize(bank.idSum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kObjectCount);
}

}  // namespace

BENCHMARK(BM_PreadLoop1MiBKept)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_PreadLoop1MiBReused)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankChunkLoopStream)->Arg(1024)->Arg(4096)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_MemcpyObjectWalk)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
BENCHMARK(BM_BankChunkLoopObjects)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly(true);
