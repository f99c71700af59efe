// Container plays against plain baselines doing the same work: 100,000 step plays of a random
// container of 16 weighted items with an avoid-repeat history of 3 against a loop making the same
// draws and history updates over flat arrays and playing the same leaves; and one value change
// of a continuous switch container followed by 200 game objects, each switching 4 children, against
// a loop making the same stop and play calls on the same nodes directly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Base/MathUtil.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/RandomSequenceContainer.h"
#include "SoundEngine/Hierarchy/SwitchContainer.h"
#include "bench/SoundBenchNodes.h"
#include "bench/TraceWatch.h"
#include "tools/SoundBank/ContainerWriter.h"

namespace {

using namespace SN;
using SoundBench::BenchNode;
using Engine = SoundBench::NodeEngine;

constexpr uint32_t kItems = 16;
constexpr uint32_t kFirstLeaf = 100;
constexpr uint32_t kContainer = 50;
constexpr uint16_t kAvoid = 3;
constexpr uint32_t kPlays = 100000;

uint32_t Weight(uint32_t item) { return 1000 + item * 250; }

// Leaves 100.. (the bench's counting kind) under the random container.
Tools::BankDescription RandomBank() {
  Tools::BankDescription bank;
  bank.bankId = 801;
  bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
  Tools::BankRandomSequence container;
  container.avoidRepeat = kAvoid;
  for (uint32_t i = 0; i < kItems; ++i) {
    bank.objects.push_back({2, Tools::NodePayload(kFirstLeaf + i, {}, {}, false)});
    container.children.push_back(kFirstLeaf + i);
    container.playlist.push_back({kFirstLeaf + i, Weight(i)});
  }
  bank.objects.push_back({Tools::kBankRandomSequenceType, Tools::RandomSequencePayload(kContainer, {}, container)});
  return bank;
}

uint64_t LeafPlays() {
  uint64_t plays = 0;
  for (uint32_t i = 0; i < kItems; ++i) plays += Engine::Node(kFirstLeaf + i)->plays;
  return plays;
}

void BM_RandomContainerStepPlays(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Engine engine;
  if (!engine.Load(RandomBank())) std::abort();
  auto* container = static_cast<CSnRandomSequenceContainer*>(g_pObjectIndex->FindNodeAndAddRef(kContainer, false));
  container->Release();
  Base::SeedRand15(11);
  CSnPlayParams params;
  for (auto _ : state) {
    for (uint32_t i = 0; i < kPlays; ++i) {
      CSnPlayParams copy = params;
      benchmark::DoNotOptimize(container->Play(copy));
    }
  }
  if (LeafPlays() != uint64_t(state.iterations()) * kPlays) state.SkipWithError("a step play played nothing");
  state.SetItemsProcessed(int64_t(state.iterations()) * kPlays);
  watch.Check(state);
}
BENCHMARK(BM_RandomContainerStepPlays)->Unit(benchmark::kMillisecond);

// The same draws, cycle and history over flat arrays, each pick played on its leaf through the same
// leaf play.
void BM_RandomContainerStepPlaysBaseline(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Engine engine;
  if (!engine.Load(RandomBank())) std::abort();
  BenchNode* leaves[kItems];
  uint64_t total = 0;
  for (uint32_t i = 0; i < kItems; ++i) {
    leaves[i] = Engine::Node(kFirstLeaf + i);
    total += Weight(i);
  }
  bool played[kItems] = {}, blocked[kItems] = {};
  uint16_t history[kAvoid + 1];
  uint32_t historyLength = 0, itemsLeft = 0;
  uint64_t remaining = total;
  Base::SeedRand15(11);
  CSnPlayParams params;
  for (auto _ : state) {
    for (uint32_t n = 0; n < kPlays; ++n) {
      if (itemsLeft == 0) {
        itemsLeft = kItems;
        for (bool& bit : played) bit = false;
      }
      const uint64_t draw = (uint64_t(Base::Rand15()) << 15) + uint64_t(Base::Rand15());
      const int64_t r = int64_t(draw % remaining);
      int64_t sum = -1;
      uint32_t chosen = 0;
      for (uint32_t i = 0; i < kItems; ++i) {
        if (blocked[i]) continue;
        sum += Weight(i);
        if (sum >= r) {
          chosen = i;
          break;
        }
      }
      if (!played[chosen]) {
        played[chosen] = true;
        --itemsLeft;
      }
      history[historyLength++] = uint16_t(chosen);
      blocked[chosen] = true;
      remaining -= Weight(chosen);
      if (historyLength > kAvoid) {
        const uint16_t oldest = history[0];
        for (uint32_t i = 1; i < historyLength; ++i) history[i - 1] = history[i];
        --historyLength;
        blocked[oldest] = false;
        remaining += Weight(oldest);
      }
      CSnPlayParams copy = params;
      benchmark::DoNotOptimize(leaves[chosen]->Play(copy));
    }
  }
  benchmark::DoNotOptimize(leaves);
  if (LeafPlays() != uint64_t(state.iterations()) * kPlays) state.SkipWithError("the baseline lost picks");
  state.SetItemsProcessed(int64_t(state.iterations()) * kPlays);
  watch.Check(state);
}
BENCHMARK(BM_RandomContainerStepPlaysBaseline)->Unit(benchmark::kMillisecond);

// ---- a continuous switch container followed by 200 game objects ----

constexpr uint32_t kObjects = 200;
constexpr uint32_t kPerValue = 4;
constexpr uint32_t kSwitchContainer = 60;
constexpr uint32_t kSwitchGroup = 30;
constexpr uint32_t kValueA = 1, kValueB = 2;
constexpr uint32_t kFadeOut = 200, kFadeIn = 100;

Tools::BankDescription SwitchBank() {
  Tools::BankDescription bank;
  bank.bankId = 802;
  bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
  Tools::BankSwitch container;
  container.groupId = kSwitchGroup;
  container.defaultSwitch = kValueA;
  container.continuous = 1;
  container.lists = {{kValueA, {}}, {kValueB, {}}};
  for (uint32_t i = 0; i < 2 * kPerValue; ++i) {
    const uint32_t id = kFirstLeaf + i;
    bank.objects.push_back({2, Tools::NodePayload(id, {}, {}, false)});
    container.children.push_back(id);
    container.lists[i / kPerValue].children.push_back(id);
    container.settings.push_back({id, 0, 0, kFadeOut, kFadeIn});
  }
  bank.objects.push_back({Tools::kBankSwitchType, Tools::SwitchPayload(kSwitchContainer, {}, container)});
  return bank;
}

struct Followed {
  Followed() {
    if (!engine.Load(SwitchBank())) std::abort();
    container = static_cast<CSnSwitchContainer*>(g_pObjectIndex->FindNodeAndAddRef(kSwitchContainer, false));
    container->Release();
    for (uint32_t i = 0; i < kObjects; ++i) {
      objects.push_back(g_pRegistryMgr->RegisterGameObj(1000 + i, 1));
      CSnPlayParams params;
      params.gameObject = objects.back();
      params.playingId = 1 + i;
      if (container->Play(params) != SN_Success) std::abort();
    }
    for (uint32_t i = 0; i < 2 * kPerValue; ++i) leaves[i] = Engine::Node(kFirstLeaf + i);
  }
  uint64_t Calls() const {
    uint64_t calls = 0;
    for (BenchNode* leaf : leaves) calls += leaf->plays + leaf->actions;
    return calls;
  }
  Engine engine;
  CSnSwitchContainer* container = nullptr;
  std::vector<CSnRegisteredObj*> objects;
  BenchNode* leaves[2 * kPerValue] = {};
};

void BM_SwitchValueChange(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Followed followed;
  const uint64_t before = followed.Calls();
  uint32_t value = kValueB;
  for (auto _ : state) {
    followed.container->SwitchChanged(value, SnRTPCKey{}, nullptr);
    value = value == kValueA ? kValueB : kValueA;
  }
  if (followed.Calls() - before != uint64_t(state.iterations()) * kObjects * 2 * kPerValue)
    state.SkipWithError("a change did not stop and play every child of every object");
  watch.Check(state);
}
BENCHMARK(BM_SwitchValueChange);

// The same stops (with the fade-out) and plays (a copy of the object's play with the fade-in) on the
// same nodes, and the same stored value per object.
void BM_SwitchValueChangeBaseline(benchmark::State& state) {
  OrvBench::TraceWatch watch;
  Followed followed;
  const uint64_t before = followed.Calls();
  std::vector<CSnPlayParams> plays(kObjects);
  for (uint32_t i = 0; i < kObjects; ++i) {
    plays[i].gameObject = followed.objects[i];
    plays[i].playingId = 1 + i;
  }
  uint32_t value = kValueB;
  for (auto _ : state) {
    BenchNode** stopped = followed.leaves + (value == kValueB ? 0 : kPerValue);
    BenchNode** started = followed.leaves + (value == kValueB ? kPerValue : 0);
    for (uint32_t o = 0; o < kObjects; ++o) {
      CSnRegisteredObj* object = followed.objects[o];
      for (uint32_t c = 0; c < kPerValue; ++c) stopped[c]->Stop(object, 0, int32_t(kFadeOut), SnCurve_Linear);
      for (uint32_t c = 0; c < kPerValue; ++c) {
        CSnPlayParams copy = plays[o];
        copy.transition.durationMs = int32_t(kFadeIn);
        started[c]->Play(copy);
      }
      object->SetNodeSwitchState(kSwitchContainer, SnSwitchPair{value, 1});
    }
    value = value == kValueA ? kValueB : kValueA;
  }
  if (followed.Calls() - before != uint64_t(state.iterations()) * kObjects * 2 * kPerValue)
    state.SkipWithError("the baseline missed a stop or a play");
  watch.Check(state);
}
BENCHMARK(BM_SwitchValueChangeBaseline);

}  // namespace
