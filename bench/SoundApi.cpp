// The game-facing API's hot paths against baselines doing the same work: 10,000 queued game-parameter
// changes with the render that applies them (against the same 10,000 changes made on the RTPC
// manager directly), and the name hash of 32-character mixed-case names (against a bare FNV-1 loop
// over the same bytes).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;
using SoundBench::NoStreams;
using SoundBench::SilentLowerEngine;


// The whole engine, synchronous: RenderAudio runs the pass on the benchmark's thread.
struct EngineScope {
  EngineScope() {
    SnMemoryHooks hooks;
    hooks.alloc = &malloc;
    hooks.free = &free;
    SetMemoryHooks(hooks);
    SnMemSettings memory{20};
    MemoryMgr::Init(&memory);
    ISnStreamMgr::m_pStreamMgr = &streams;
    LowerEngine::Install(&lower);
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.defaultPoolBytes = 64u << 20;
    if (SoundEngine::Init(&settings, nullptr) != SN_Success) std::abort();
  }
  ~EngineScope() {
    SoundEngine::Term();
    LowerEngine::Install(nullptr);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  SilentLowerEngine lower{0, true};
  NoStreams streams;
};

constexpr int kChanges = 10000;
constexpr uint32_t kParameters = 64;

void BM_SetRTPCValueQueuedAndRendered(benchmark::State& state) {
  EngineScope engine;
  float value = 0.0f;
  for (auto _ : state) {
    for (int i = 0; i < kChanges; ++i) SoundEngine::SetRTPCValue(1 + uint32_t(i) % kParameters, value + float(i));
    SoundEngine::RenderAudio();
    value += 1.0f;
  }
  float check = 0.0f;
  if (!g_pRTPCMgr->GetValue(1, SnRTPCKey{}, check)) state.SkipWithError("no value arrived");
  state.SetItemsProcessed(state.iterations() * kChanges);
}
BENCHMARK(BM_SetRTPCValueQueuedAndRendered)->Unit(benchmark::kMicrosecond);

void BM_SetRTPCInternalDirect(benchmark::State& state) {
  EngineScope engine;
  const TransParamsBase params;
  float value = 0.0f;
  for (auto _ : state) {
    for (int i = 0; i < kChanges; ++i)
      g_pRTPCMgr->SetRTPCInternal(1 + uint32_t(i) % kParameters, value + float(i), SnRTPCKey{}, params,
                                  SnValueMeaning_Absolute);
    value += 1.0f;
  }
  state.SetItemsProcessed(state.iterations() * kChanges);
}
BENCHMARK(BM_SetRTPCInternalDirect)->Unit(benchmark::kMicrosecond);

std::vector<std::string> MixedCaseNames() {
  std::vector<std::string> names(256);
  uint32_t seed = 12345;
  for (std::string& name : names) {
    name.resize(32);
    for (char& c : name) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t pick = (seed >> 16) % 64;
      c = pick < 26 ? char('a' + pick) : pick < 52 ? char('A' + pick - 26) : pick < 62 ? char('0' + pick - 52) : '_';
    }
  }
  return names;
}

void BM_GetIDFromString(benchmark::State& state) {
  const std::vector<std::string> names = MixedCaseNames();
  for (auto _ : state)
    for (const std::string& name : names) benchmark::DoNotOptimize(SoundEngine::GetIDFromString(name.c_str()));
  state.SetItemsProcessed(state.iterations() * int64_t(names.size()));
}
BENCHMARK(BM_GetIDFromString);

void BM_BareFnv1(benchmark::State& state) {
  const std::vector<std::string> names = MixedCaseNames();
  for (auto _ : state) {
    for (const std::string& name : names) {
      uint32_t hash = 2166136261u;
      for (const char* p = name.c_str(); *p; ++p) hash = (hash * 16777619u) ^ uint8_t(*p);
      benchmark::DoNotOptimize(hash);
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(names.size()));
}
BENCHMARK(BM_BareFnv1);

}  // namespace
