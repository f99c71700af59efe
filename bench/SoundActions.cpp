// 10,000 event actions coming due in one frame (a play, a set value, a set switch and a stop of all
// but an exception, for each of 2,500 game objects), run by the pending-action scheduler, against
// the same node and manager calls made directly in a plain loop. Both time one audio pass.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "bench/SoundBenchNodes.h"
#include "tools/SoundBank/ActionWriter.h"

namespace {

using namespace SN;

using SoundBench::BenchNode;

constexpr uint32_t kObjects = 2500;
constexpr uint32_t kFirstObject = 5000;
constexpr uint32_t kParentId = 50, kLeafId = 100, kSparedId = 60;
constexpr uint32_t kGroup = 8, kSwitch = 9;
constexpr uint32_t kEvent = 1;
constexpr float kVolume = -3.0f;
constexpr int32_t kDelayMs = 43;  // 2064 samples: two frames and 16

// The engine rendering one frame a pass, a bank of a parent with its leaf, a spared root, the four
// actions and their event, and the game objects.
class Engine {
  SoundBench::NodeEngine m_engine{1, 1u << 20};  // made before and gone after everything below

 public:
  Engine() {
    if (!m_engine.Load(Bank())) std::abort();
    for (uint32_t i = 0; i < kObjects; ++i) objects.push_back(g_pRegistryMgr->RegisterGameObj(kFirstObject + i, 1));
    leaf = SoundBench::NodeEngine::Node(kLeafId);
    parent = SoundBench::NodeEngine::Node(kParentId);
    spared = SoundBench::NodeEngine::Node(kSparedId);
    group = g_pSwitchMgr->GetOrCreateSwitchGroup(kGroup);
    if (!leaf || !parent || !spared || !group) std::abort();
  }
  static Tools::BankDescription Bank() {
    Tools::BankDescription bank;
    bank.bankId = 880;
    bank.order = {{Tools::BankChunkKind::Hierarchy, 0}};
    Tools::BankNodeParams child;
    child.parentId = kParentId;
    bank.objects.push_back({7, Tools::NodePayload(kParentId, {}, Tools::BankNodeParams{}, false)});
    bank.objects.push_back({2, Tools::NodePayload(kLeafId, {}, child, false)});
    bank.objects.push_back({2, Tools::NodePayload(kSparedId, {}, Tools::BankNodeParams{}, false)});
    auto action = [&](uint32_t id, uint16_t type, uint32_t target) {
      Tools::BankAction a;
      a.id = id;
      a.type = type;
      a.target = target;
      a.properties = {Tools::BankNodeProperty::Int(SnActionProp_Delay, kDelayMs)};
      return a;
    };
    Tools::BankAction play = action(10, 0x0403, kLeafId), volume = action(11, 0x0A03, kLeafId);
    volume.value = kVolume;
    Tools::BankAction sw = action(12, 0x1903, 0), stop = action(13, 0x0109, 0);
    sw.groupId = kGroup;
    sw.valueId = kSwitch;
    stop.exceptions = {{kSparedId, 0}};
    for (const Tools::BankAction& a : {play, volume, sw, stop}) bank.objects.push_back({3, Tools::ActionPayload(a)});
    bank.objects.push_back({4, Tools::EventPayload(kEvent, {10, 11, 12, 13})});
    return bank;
  }
  std::vector<CSnRegisteredObj*> objects;
  BenchNode* leaf = nullptr;
  BenchNode* parent = nullptr;
  BenchNode* spared = nullptr;
  CSnSwitchGroup* group = nullptr;
};

// Whether each object got its play, its volume, its switch and its stop (the parent's, as the root
// of the scope; the spared root none).
bool AllDone(const Engine& engine, uint64_t rounds) {
  bool values = true;
  for (CSnRegisteredObj* object : engine.objects) {
    const CSnPropTransitionSet* set = engine.leaf->FindValueSet(object);
    values = values && set && set->ValueOr(0, 0.0f) == kVolume &&
             g_pSwitchMgr->GetCurrentSwitch(kGroup, SnRTPCKey::ForObject(object)) == kSwitch;
  }
  return values && engine.leaf->plays == rounds * kObjects && engine.parent->actions == rounds * kObjects &&
         engine.spared->actions == 0;
}

void BM_ActionsDueInOneFrame(benchmark::State& state) {
  Engine engine;
  uint64_t rounds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t i = 0; i < kObjects; ++i) SoundEngine::PostEvent(kEvent, kFirstObject + i);
    SoundEngine::RenderAudio();  // the posts are scheduled: due two frames on
    if (g_pAudioMgr->DuePendingCount() != 4 * kObjects) state.SkipWithError("the actions are not pending");
    state.ResumeTiming();
    SoundEngine::RenderAudio();
    ++rounds;
  }
  if (g_pAudioMgr->DuePendingCount() != 0 || !AllDone(engine, rounds)) state.SkipWithError("not every action ran");
  if (g_pPlayingIDCallbackMgr->Count() != 0) state.SkipWithError("playing ids are left");
}
BENCHMARK(BM_ActionsDueInOneFrame)->Unit(benchmark::kMicrosecond);

// The same calls made directly, each object's in the event's order, then the same audio pass with
// nothing due: the leaf played, its volume set, the switch set in a notification pass, the stop's
// scope found by a plain walk of the node list and handed the stop, the object's pending actions
// (none) removed but the spared, and each action's hold on its playing id given back. The playing
// ids are live as the posts' are: four holds each, the last one ending the id.
void BM_ActionsDueInOneFrameBaseline(benchmark::State& state) {
  Engine engine;
  const SnActionException spared[1] = {{kSparedId, 0}};
  TransParamsBase fade;
  uint64_t rounds = 0;
  uint32_t nextId = 0x40000000;
  std::vector<uint32_t> ids(kObjects);
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t i = 0; i < kObjects; ++i) {
      SnPlayingIdParams params;
      params.gameObjectId = kFirstObject + i;
      params.playingId = ids[i] = nextId++;
      if (g_pPlayingIDCallbackMgr->AddPlayingID(params, nullptr, nullptr, 0, kEvent) != SN_Success)
        state.SkipWithError("no playing id");
      for (int hold = 1; hold < 4; ++hold) g_pPlayingIDCallbackMgr->AddPendingActionRef(ids[i]);
    }
    state.ResumeTiming();
    for (uint32_t i = 0; i < kObjects; ++i) {
      CSnRegisteredObj* object = engine.objects[i];
      // Each call gives back its hold on the playing id right after it, as each action does.
      CSnPlayParams params;
      params.gameObject = object;
      params.playingId = ids[i];
      params.transition = fade;
      engine.leaf->Play(params);
      g_pPlayingIDCallbackMgr->ReleasePendingActionRef(ids[i]);
      engine.leaf->SetRuntimeValue(object, 0, kVolume, fade);
      g_pPlayingIDCallbackMgr->ReleasePendingActionRef(ids[i]);
      {
        CSnSwitchNotifyGuard pass(*g_pSwitchMgr);
        engine.group->SetSwitch(kSwitch, object);
      }
      g_pPlayingIDCallbackMgr->ReleasePendingActionRef(ids[i]);
      SnActionParams stop;
      stop.gameObject = object;
      g_pObjectIndex->GetNodeList(false).ForEach([&](CSnIndexedObject* found) {
        CSnHierarchyNode* node = static_cast<CSnHierarchyNode*>(found);
        if (!node->Parent() && node->ID() != kSparedId) node->ExecuteAction(stop);
      });
      g_pAudioMgr->RemovePendingActionsExcept(object, spared, 1, 0);
      g_pPlayingIDCallbackMgr->ReleasePendingActionRef(ids[i]);
    }
    SoundEngine::RenderAudio();
    ++rounds;
  }
  if (!AllDone(engine, rounds)) state.SkipWithError("not every call was made");
  if (g_pPlayingIDCallbackMgr->Count() != 0) state.SkipWithError("playing ids are left");
}
BENCHMARK(BM_ActionsDueInOneFrameBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace
