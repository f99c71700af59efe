// The game's sound system against the calls it makes: bringing the sound engine up and down with the
// game's banks (Initialize then Shutdown) against the same parts started and stopped by hand. Compare
// the medians of the pair. A frame of emitters against direct posts is not timed here: with the game's
// audio thread running beside it, such a pair measures that thread rather than the emitters.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Audio/FilePackageLowLevelIO.h"
#include "Audio/SoundSystem.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "bench/TraceWatch.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

// The game's banks, written from content/banks into a scratch working folder for the binary's run.
class BankFolder {
 public:
  BankFolder() {
    std::vector<std::vector<uint8_t>> banks;
    for (const char* name : {"Init", "GeneralBank"}) {
      Tools::BankDescription bank;
      std::string error;
      if (!Tools::ReadBankTextFile(std::string("content/banks/") + name + ".txt", bank, error)) {
        fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
      }
      banks.push_back(Tools::WriteBank(bank));
    }
    char pattern[] = "/tmp/orv-bench-gamesound-XXXXXX";
    if (!mkdtemp(pattern)) std::exit(1);
    root_ = pattern;
    std::filesystem::current_path(root_);
    std::filesystem::create_directories("Sound/Banks");
    Tools::WriteBytesFile("Sound/Banks/Init.bnk", banks[0]);
    Tools::WriteBytesFile("Sound/Banks/GeneralBank.bnk", banks[1]);
  }
  ~BankFolder() { std::filesystem::remove_all(root_); }

 private:
  std::string root_;
};

void EnsureBankFolder() { static BankFolder folder; }

// The music engine is not part of the program yet: its line is the one error a start logs.
bool CheckTrace(benchmark::State& state, OrvBench::TraceWatch& watch) {
  std::string text = watch.Take();
  const std::string music = "[ Error ][Audio] Could not create Sound Music Engine.\n";
  for (size_t at; (at = text.find(music)) != std::string::npos;) text.erase(at, music.size());
  return OrvBench::FailOnErrorLine(state, text);
}

void BM_SoundSystemInitializeShutdown(benchmark::State& state) {
  EnsureBankFolder();
  OrvBench::TraceWatch watch;
  for (auto _ : state) {
    Audio::SoundSystem system;
    system.Initialize(nullptr);
    system.Shutdown(nullptr);
  }
  CheckTrace(state, watch);
}
BENCHMARK(BM_SoundSystemInitializeShutdown)->Unit(benchmark::kMillisecond);

void* Allocate(size_t bytes) { return malloc(bytes); }
void Release(void* pointer) { free(pointer); }
void* Reserve(size_t bytes) { return Platform::VirtualAllocate(bytes); }
void Unreserve(void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); }

// The same parts, started and stopped by hand in the same order, with the same banks.
void BM_DirectStartAndStop(benchmark::State& state) {
  EnsureBankFolder();
  OrvBench::TraceWatch watch;
  for (auto _ : state) {
    SN::SetMemoryHooks({&Allocate, &Release, &Reserve, &Unreserve});
    SN::SnMemSettings memory;
    memory.maxNumPools = 20;
    SN::MemoryMgr::Init(&memory);
    SN::SnStreamMgrSettings streams;
    SN::StreamMgr::GetDefaultSettings(streams);
    SN::StreamMgr::Create(streams);
    SN::SnDeviceSettings device;
    SN::StreamMgr::GetDefaultDeviceSettings(device);
    Audio::CSnFilePackageLowLevelIOBlocking& io = Audio::LowLevelIO();
    io.Init(device, false);
    SN::SnInitSettings init;
    SN::SnPlatformInitSettings platform;
    SN::SoundEngine::GetDefaultInitSettings(init);
    SN::SoundEngine::GetDefaultPlatformInitSettings(platform);
    SN::SoundEngine::Init(&init, &platform);
    io.SetBaseFolder(u"Sound\\Banks\\");
    uint32_t bankId = 0;
    SN::SoundEngine::LoadBank("Init.bnk", -1, bankId);
    SN::SoundEngine::LoadBank("GeneralBank.bnk", -1, bankId);

    SN::SoundEngine::Term();
    io.UnloadAllPackages();
    io.Term();
    SN::ISnStreamMgr::m_pStreamMgr->Destroy();
    SN::MemoryMgr::Term();
    SN::SetMemoryHooks({});
  }
  CheckTrace(state, watch);
}
BENCHMARK(BM_DirectStartAndStop)->Unit(benchmark::kMillisecond);

}  // namespace
