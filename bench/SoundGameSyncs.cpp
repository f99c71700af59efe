// Game-sync hot paths against plain baselines doing the same work: one frame of 255 ordinary and 255
// state transitions (against a loop over arrays), a global game-parameter change reaching 1,000
// node subscriptions (against a loop evaluating the same curves), and the best-match look-up among
// 10,000 scoped values (against std::map::find of the exact key).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/GameSyncUsers.h"
#include "SoundEngine/PoolObject.h"

namespace {

using namespace SN;

// A memory manager with the default pool, for the managers used without the whole engine.
struct PoolScope {
  PoolScope() {
    SnMemoryHooks hooks;
    hooks.alloc = &malloc;
    hooks.free = &free;
    SetMemoryHooks(hooks);
    SnMemSettings settings{20};
    MemoryMgr::Init(&settings);
    g_DefaultPoolId = MemoryMgr::CreatePool(nullptr, 64u << 20, 64, SnMemPool_AllocHook, 0);
    if (g_DefaultPoolId == kInvalidPoolId) std::abort();
  }
  ~PoolScope() {
    MemoryMgr::DestroyPool(g_DefaultPoolId);
    g_DefaultPoolId = kInvalidPoolId;
    MemoryMgr::Term();
  }
};

struct Sink final : ISnTransitionTarget {
  void TransitionUpdate(uint32_t, float value, bool) override { last = value; }
  float last = 0.0f;
};

constexpr uint32_t kPerList = 255;
constexpr uint32_t kFrameCycle = 4000;
constexpr uint32_t kLongMs = 100000;  // no transition ends within the cycle

struct TransitionSetup {
  uint32_t shape(uint32_t i) const { return i % 9; }
  bool dB(uint32_t i) const { return (i & 1) != 0; }
  float from(uint32_t i) const { return dB(i) ? -48.0f : float(i % 7); }
  float to(uint32_t i) const { return dB(i) ? float(i % 6) : 10.0f + float(i % 5); }
};

void BM_TransitionFrame(benchmark::State& state) {
  PoolScope pool;
  CSnTransitionMgr manager;
  manager.Init(kPerList);
  g_pTransitionMgr = &manager;
  std::vector<Sink> sinks(2 * kPerList);
  TransitionSetup setup;
  for (uint32_t list = 0; list < 2; ++list) {
    for (uint32_t i = 0; i < kPerList; ++i) {
      SnTransitionParams params{&sinks[list * kPerList + i], 1, setup.from(i), setup.to(i), kLongMs, setup.shape(i),
                                uint8_t(setup.dB(i)), 0, 0};
      manager.AddTransition(params, true, list);
    }
  }
  if (manager.OrdinaryCount() != kPerList || manager.StateCount() != kPerList) state.SkipWithError("transitions missing");
  uint32_t frame = 0;
  for (auto _ : state) {
    frame = frame % kFrameCycle + 1;
    manager.ProcessFrame(frame);
    benchmark::DoNotOptimize(sinks[7].last);
  }
  manager.Term();
  g_pTransitionMgr = nullptr;
}
BENCHMARK(BM_TransitionFrame);

// The same transitions as plain arrays: each frame computes every value the same way (end check,
// progress, shape, dB conversion), keeps it as the current value and tells its target.
void BM_TransitionFrameBaseline(benchmark::State& state) {
  TransitionSetup setup;
  const uint32_t count = 2 * kPerList;
  std::vector<Sink> sinks(count);
  std::vector<ISnTransitionTarget*> target(count);
  std::vector<float> from(count), to(count), current(count);
  std::vector<uint32_t> kind(count, 1), shape(count), first(count, 0), duration(count);
  std::vector<uint8_t> dB(count);
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t i = n % kPerList;
    target[n] = &sinks[n];
    dB[n] = setup.dB(i);
    from[n] = current[n] = dB[n] ? SnFastMath::DbToLinear(setup.from(i)) : setup.from(i);
    to[n] = dB[n] ? SnFastMath::DbToLinear(setup.to(i)) : setup.to(i);
    shape[n] = setup.shape(i);
    duration[n] = FramesForMs(kLongMs);
  }
  uint32_t frame = 0;
  for (auto _ : state) {
    frame = frame % kFrameCycle + 1;
    for (uint32_t n = 0; n < count; ++n) {
      const bool done = frame >= first[n] + duration[n];
      float value = to[n];
      if (!done) {
        const float t = frame > first[n] ? float(frame - first[n]) / float(duration[n]) : 0.0f;
        value = InterpolateShape(shape[n], t, from[n], to[n]);
      }
      if (dB[n]) value = SnFastMath::LinearToDb(value);
      current[n] = value;
      target[n]->TransitionUpdate(kind[n], value, done);
    }
    benchmark::DoNotOptimize(current.data());
    benchmark::DoNotOptimize(sinks[7].last);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TransitionFrameBaseline);

struct Node final : ISnNodeRTPCSubscriber {
  void UpdateRTPC(uint32_t, const SnRTPCKey&, float value, float delta, const void*) override {
    last = value;
    change = delta;
  }
  float last = 0.0f;
  float change = 0.0f;
};

constexpr uint32_t kSubscriptions = 1000;
constexpr uint32_t kParameter = 77;

SnRTPCGraphPoint CurvePoint(uint32_t node, uint32_t point) {
  return {float(point) * 50.0f, float((node * 7 + point * 13) % 100), point == 1 ? uint32_t(SnCurve_SCurve) : uint32_t(SnCurve_Linear)};
}

void BM_SetGlobalParameter(benchmark::State& state) {
  PoolScope pool;
  CSnRTPCMgr manager;
  manager.Init();
  std::vector<Node> nodes(kSubscriptions);
  for (uint32_t n = 0; n < kSubscriptions; ++n) {
    const SnRTPCGraphPoint points[3] = {CurvePoint(n, 0), CurvePoint(n, 1), CurvePoint(n, 2)};
    manager.AddCurveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&nodes[n]), kParameter, 0, 1, 3, 1, 0, points, 3,
                                 SnRTPCKey{}, SnSubscription_Node, true);
  }
  if (manager.ActiveSubscriptionCount(kParameter) != kSubscriptions) state.SkipWithError("subscriptions missing");
  float value = 0.0f;
  for (auto _ : state) {
    value = value >= 99.0f ? 0.0f : value + 1.0f;
    manager.SetRTPCImmediate(kParameter, value, SnRTPCKey{});
    benchmark::DoNotOptimize(nodes[3].last);
  }
  manager.Term();
}
BENCHMARK(BM_SetGlobalParameter);

void BM_SetGlobalParameterBaseline(benchmark::State& state) {
  std::vector<Node> nodes(kSubscriptions);
  std::vector<SnRTPCGraphPoint> points(3 * kSubscriptions);
  std::vector<CSnCurveGraph> curves(kSubscriptions);
  std::vector<ISnNodeRTPCSubscriber*> subscribers(kSubscriptions);
  for (uint32_t n = 0; n < kSubscriptions; ++n) {
    for (uint32_t p = 0; p < 3; ++p) points[3 * n + p] = CurvePoint(n, p);
    curves[n] = CSnCurveGraph{&points[3 * n], 3, SnCurveScaling_None};
    subscribers[n] = &nodes[n];
  }
  float value = 0.0f, old = 0.0f;
  const SnRTPCKey key;
  for (auto _ : state) {
    value = value >= 99.0f ? 0.0f : value + 1.0f;
    for (uint32_t n = 0; n < kSubscriptions; ++n) {
      const float now = curves[n].Evaluate(value);
      subscribers[n]->UpdateRTPC(3, key, now, now - curves[n].Evaluate(old), nullptr);
    }
    old = value;
    benchmark::DoNotOptimize(nodes[3].last);
  }
}
BENCHMARK(BM_SetGlobalParameterBaseline);

constexpr uint32_t kObjects = 100;
constexpr uint32_t kPlayingIds = 100;

CSnRegisteredObj* FakeObject(uint32_t index) { return reinterpret_cast<CSnRegisteredObj*>(uintptr_t(0x10000 + 64 * index)); }

void BM_BestMatch(benchmark::State& state) {
  PoolScope pool;
  SnRTPCKeyTree<float> tree;
  for (uint32_t o = 0; o < kObjects; ++o)
    for (uint32_t p = 1; p <= kPlayingIds; ++p)
      tree.Set(SnRTPCKey::ForObjectAndPlayingId(FakeObject(o), p), float(o * 1000 + p));
  std::mt19937 random(7);
  std::vector<SnRTPCKey> queries(4096);
  for (SnRTPCKey& key : queries) key = SnRTPCKey::ForObjectAndPlayingId(FakeObject(random() % kObjects), 1 + random() % kPlayingIds);
  SnRTPCKey probe = queries[0];
  if (!tree.FindBest(probe) || probe.playingId != queries[0].playingId) state.SkipWithError("values missing");
  size_t i = 0;
  for (auto _ : state) {
    SnRTPCKey key = queries[i++ & 4095];
    benchmark::DoNotOptimize(tree.FindBest(key));
  }
  tree.Clear();
}
BENCHMARK(BM_BestMatch);

void BM_BestMatchBaseline(benchmark::State& state) {
  using Key = std::tuple<uintptr_t, uint32_t, uint32_t, uint32_t, uint32_t, uintptr_t>;
  std::map<Key, float> values;
  auto tupleOf = [](const SnRTPCKey& key) {
    return Key{uintptr_t(key.gameObject), key.playingId, key.midiTargetId, key.midiChannel, key.midiNote,
               uintptr_t(key.playbackInstance)};
  };
  for (uint32_t o = 0; o < kObjects; ++o)
    for (uint32_t p = 1; p <= kPlayingIds; ++p)
      values[tupleOf(SnRTPCKey::ForObjectAndPlayingId(FakeObject(o), p))] = float(o * 1000 + p);
  std::mt19937 random(7);
  std::vector<SnRTPCKey> queries(4096);
  for (SnRTPCKey& key : queries) key = SnRTPCKey::ForObjectAndPlayingId(FakeObject(random() % kObjects), 1 + random() % kPlayingIds);
  size_t i = 0;
  for (auto _ : state) {
    auto found = values.find(tupleOf(queries[i++ & 4095]));
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_BestMatchBaseline);

}  // namespace
