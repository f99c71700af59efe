// Hierarchy node hot paths against plain baselines doing the same work: the sound parameters of a leaf
// eight levels deep (constants, two curves, a state link, a ranged bundle and run-time values at each
// level) against a loop over flat arrays making the same sums with the same curve evaluation, and a
// parameter change keyed to one of 100 game objects on a node with 1,000 targets against
// std::multimap::equal_range over the same targets.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "Base/MathUtil.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Hierarchy/StateGroupLink.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchNodes.h"
#include "tools/SoundBank/NodeParamsWriter.h"

namespace {

using namespace SN;

using SoundBench::BenchNode;
using Engine = SoundBench::NodeEngine;

constexpr uint32_t kLevels = 8;
constexpr uint32_t kFirstId = 100;
constexpr float kVolume = -0.5f, kPitch = 10.0f, kLowPass = 1.0f, kHighPass = 2.0f, kSecondGain = -0.25f;
constexpr float kStateVolume = -1.0f, kStatePitch = 5.0f, kRuntimeVolume = -0.1f, kRuntimePitch = 3.0f;

Tools::BankNodeCurve Curve(uint32_t rtpc, uint8_t parameter, float low, float high) {
  Tools::BankNodeCurve curve;
  curve.rtpcId = rtpc;
  curve.parameterId = parameter;
  curve.curveId = parameter + 1;
  curve.points = {
      {0.0f, low, SnCurve_Linear}, {50.0f, (low + high) * 0.3f, SnCurve_Linear}, {100.0f, high, SnCurve_Linear}};
  return curve;
}

// The state group, loaded (and set) before the nodes that follow it.
Tools::BankDescription SettingsBank() {
  Tools::BankDescription bank;
  bank.bankId = 776;
  bank.settings.stateGroups = {{5, 0, {}}};
  bank.order = {{Tools::BankChunkKind::Settings, 0}};
  return bank;
}

Tools::BankDescription ChainBank() {
  Tools::BankDescription bank;
  bank.bankId = 777;
  bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
  bank.objects.push_back({1, Tools::StatePropertiesPayload(400, {Tools::BankNodeProperty::Float(0, kStateVolume),
                                                                 Tools::BankNodeProperty::Float(2, kStatePitch)})});
  for (uint32_t level = 0; level < kLevels; ++level) {
    Tools::BankNodeParams params;
    params.parentId = level ? kFirstId + level - 1 : 0;
    params.properties = {Tools::BankNodeProperty::Float(0, kVolume),      Tools::BankNodeProperty::Float(2, kPitch),
                         Tools::BankNodeProperty::Float(3, kLowPass),     Tools::BankNodeProperty::Float(4, kHighPass),
                         Tools::BankNodeProperty::Float(33, kSecondGain), Tools::BankNodeProperty::Float(6, 60.0f)};
    params.ranges = {{0, -1.0f, 1.0f}};
    params.stateGroups = {{5, 0, {{10, 400}}}};
    params.curves = {Curve(7, 0, 0.0f, -12.0f), Curve(8, 2, -100.0f, 100.0f)};
    const uint8_t type = level + 1 == kLevels ? 2 : 7;
    bank.objects.push_back({type, Tools::NodePayload(kFirstId + level, {}, params, false)});
  }
  return bank;
}

// Every level's constant, state and run-time volume, and its curve at the parameter's 40.
float ExpectedChainVolume() {
  return kLevels * (kVolume + kStateVolume + kRuntimeVolume) + kLevels * (-12.0f * 0.3f * 0.8f);
}

// The chain loaded, its states, parameters and run-time values set.
struct Chain {
  Chain() {
    if (!engine.Load(SettingsBank())) std::abort();
    g_pStateMgr->SetState(5, 10, true, false);
    if (!engine.Load(ChainBank())) std::abort();
    g_pRTPCMgr->SetRTPCImmediate(7, 40.0f, SnRTPCKey{});
    g_pRTPCMgr->SetRTPCImmediate(8, 65.0f, SnRTPCKey{});
    for (uint32_t level = 0; level < kLevels; ++level) {
      BenchNode* node = Engine::Node(kFirstId + level);
      node->RefreshStateValues();
      node->SetRuntimeValue(nullptr, SnProp_Volume, kRuntimeVolume, TransParamsBase{});
      node->SetRuntimeValue(nullptr, SnProp_Pitch, kRuntimePitch, TransParamsBase{});
    }
    leaf = Engine::Node(kFirstId + kLevels - 1);
  }
  Engine engine;
  BenchNode* leaf = nullptr;
};

void BM_NodeSoundParams(benchmark::State& state) {
  Chain chain;
  Base::SeedRand15(1);
  const SnRTPCKey key;
  SnSoundParams params;
  for (auto _ : state) {
    params = SnSoundParams{};
    SnRandomOffsets random;
    chain.leaf->GetSoundParams(params, 0x3F, key, &random, true, true);
    benchmark::DoNotOptimize(params);
    benchmark::DoNotOptimize(random);
  }
  if (std::abs(params.volume - ExpectedChainVolume()) > 0.01f)
    state.SkipWithError("the chain's volume is not the expected sum");
}
BENCHMARK(BM_NodeSoundParams);

// The same sums over flat arrays: per level the constants, the state and run-time values, the two
// curves evaluated by the game-parameter manager for the key, and one draw for the ranged volume.
void BM_NodeSoundParamsBaseline(benchmark::State& state) {
  Chain chain;
  struct Level {
    float volume, pitch, lowPass, highPass, secondGain, group32;
    float stateVolume, statePitch, runtimeVolume, runtimePitch;
    float rangeMin, rangeMax;
    void* curves;
  };
  std::vector<Level> levels(kLevels);
  for (uint32_t level = 0; level < kLevels; ++level)
    levels[level] = {kVolume,
                     kPitch,
                     kLowPass,
                     kHighPass,
                     kSecondGain,
                     12.0f,
                     kStateVolume,
                     kStatePitch,
                     kRuntimeVolume,
                     kRuntimePitch,
                     -1.0f,
                     1.0f,
                     Engine::Node(kFirstId + level)->RTPCSubscriber()};
  Base::SeedRand15(1);
  const SnRTPCKey key;
  SnSoundParams params;
  for (auto _ : state) {
    params = SnSoundParams{};
    SnRandomOffsets random;
    for (uint32_t level = 0; level < kLevels; ++level) {
      const Level& l = levels[level];
      params.volume += l.stateVolume + l.volume + g_pRTPCMgr->EvaluateSubscription(l.curves, 0, key) + l.runtimeVolume;
      params.pitch += l.statePitch + l.pitch + g_pRTPCMgr->EvaluateSubscription(l.curves, 2, key) + l.runtimePitch;
      params.lowPass += l.lowPass;
      params.highPass += l.highPass;
      params.secondGain += l.secondGain;
      if (level == 0) params.group32 = l.group32;
      random.volume += l.rangeMin + float(Base::Rand15()) * 3.051851e-05f * (l.rangeMax - l.rangeMin);
    }
    benchmark::DoNotOptimize(params);
    benchmark::DoNotOptimize(random);
  }
  if (std::abs(params.volume - ExpectedChainVolume()) > 0.01f)
    state.SkipWithError("the baseline's volume is not the expected sum");
}
BENCHMARK(BM_NodeSoundParamsBaseline);

// ---- a keyed parameter change ----

constexpr uint32_t kObjects = 100;
constexpr uint32_t kTargets = 1000;

struct CountingLink final : CSnTargetLink {
  explicit CountingLink(const SnRTPCKey& key) : CSnTargetLink(key) {}
  void SetParamValue(uint32_t, float value, float) override {
    last = value;
    ++told;
  }
  uint64_t WantedMask() const override { return ParameterBit(0); }
  float last = 0.0f;
  uint64_t told = 0;
};

struct Targets {
  Targets() {
    Tools::BankDescription bank;
    bank.bankId = 778;
    bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
    Tools::BankNodeParams params;
    params.curves = {Curve(7, 0, 0.0f, -12.0f)};
    bank.objects.push_back({2, Tools::NodePayload(kFirstId, {}, params, false)});
    if (!engine.Load(bank)) std::abort();
    node = Engine::Node(kFirstId);
    for (uint32_t i = 0; i < kObjects; ++i) objects.push_back(g_pRegistryMgr->RegisterGameObj(1000 + i, 1));
    links.reserve(kTargets);
    for (uint32_t i = 0; i < kTargets; ++i) {
      SnRTPCKey key = SnRTPCKey::ForObjectAndPlayingId(objects[i % kObjects], 1 + i);
      links.push_back(std::make_unique<CountingLink>(key));
      links.back()->Attach(node);
    }
    if (node->Targets()->Count() != kTargets) std::abort();
  }
  ~Targets() {
    for (auto& link : links) link->Detach();
  }
  Engine engine;
  BenchNode* node = nullptr;
  std::vector<CSnRegisteredObj*> objects;
  std::vector<std::unique_ptr<CountingLink>> links;
};

void BM_NodeKeyedChange(benchmark::State& state) {
  Targets targets;
  uint32_t next = 0;
  for (auto _ : state) {
    const SnRTPCKey key = SnRTPCKey::ForObject(targets.objects[next]);
    next = (next + 37) % kObjects;
    targets.node->UpdateRTPC(0, key, -3.0f, -1.0f, nullptr);
  }
  uint64_t told = 0;
  for (auto& link : targets.links) told += link->told;
  if (told != uint64_t(state.iterations()) * (kTargets / kObjects)) state.SkipWithError("not every target was told");
}
BENCHMARK(BM_NodeKeyedChange);

// The same targets in a multimap by game object; a change tells those of the key's object whose mask
// holds the parameter.
void BM_NodeKeyedChangeBaseline(benchmark::State& state) {
  Targets targets;
  struct Entry {
    uint64_t mask;
    CountingLink* link;
  };
  std::multimap<CSnRegisteredObj*, Entry> byObject;
  for (auto& link : targets.links) byObject.insert({link->Key().gameObject, Entry{ParameterBit(0), link.get()}});
  uint32_t next = 0;
  for (auto _ : state) {
    CSnRegisteredObj* object = targets.objects[next];
    next = (next + 37) % kObjects;
    const auto [first, last] = byObject.equal_range(object);
    for (auto it = first; it != last; ++it)
      if (it->second.mask & ParameterBit(0)) it->second.link->SetParamValue(0, -3.0f, -1.0f);
  }
  uint64_t told = 0;
  for (auto& link : targets.links) told += link->told;
  if (told != uint64_t(state.iterations()) * (kTargets / kObjects)) state.SkipWithError("not every target was told");
}
BENCHMARK(BM_NodeKeyedChangeBaseline);

}  // namespace
