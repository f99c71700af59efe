// Creation and teardown of the game-sync managers, and their per-frame work, in the engine's order.
#include "SoundEngine/GameSyncs/FrontEndManagers.h"

#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/Callbacks/BusCallbackMgr.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/ModulatorRegistry.h"
#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

template <typename T, typename InitCall>
SNRESULT Create(T*& global, InitCall&& init) {
  if (global) return SN_Success;
  global = PoolNew<T>(g_DefaultPoolId);
  if (!global) return SN_InsufficientMemory;
  return init(*global);
}

template <typename T>
void Destroy(T*& global) {
  if (!global) return;
  global->Term();
  PoolDelete(g_DefaultPoolId, global);
  global = nullptr;
}

}  // namespace

SNRESULT CreateGameSyncManagers(const SnInitSettings& settings) {
  SNRESULT result = Create(g_pRTPCMgr, [](CSnRTPCMgr& m) { return m.Init(); });
  if (result == SN_Success) result = Create(g_pEnvironmentCurves, [](CSnEnvironmentCurves& c) { return c.Init(); });
  if (result == SN_Success) result = CreateBankManager(settings.useBankThread != 0);
  if (result == SN_Success) {
    result = Create(g_pPlayingIDCallbackMgr, [](CSnPlayingIDCallbackMgr& m) { return m.Init(); });
    if (g_pPlayingIDCallbackMgr) g_pPlayingIdPendingCounts = g_pPlayingIDCallbackMgr;
  }
  if (result == SN_Success) result = Create(g_pPlayPositionStore, [](CSnPlayPositionStore& m) { return m.Init(); });
  if (result == SN_Success) result = Create(g_pRegistryMgr, [](CSnRegistryMgr& m) { return m.Init(); });
  if (result == SN_Success) result = Create(g_pModulatorRegistry, [](CSnModulatorRegistry& m) { return m.Init(); });
  if (result == SN_Success)
    result = Create(g_pTransitionMgr, [&](CSnTransitionMgr& m) { return m.Init(settings.maxTransitions); });
  if (result == SN_Success) result = Create(g_pPathMgr, [&](CSnPathMgr& m) { return m.Init(settings.maxPaths); });
  if (result == SN_Success) result = Create(g_pSwitchMgr, [](CSnSwitchMgr& m) { return m.Init(); });
  if (result == SN_Success) result = Create(g_pStateMgr, [](CSnStateMgr& m) { return m.Init(); });
  return result;
}

void TermModulatorContents() {
  if (g_pModulatorRegistry) g_pModulatorRegistry->TermContents();
}

void TermGameSyncManagers() {
  Destroy(g_pPathMgr);
  Destroy(g_pTransitionMgr);
  Destroy(g_pRegistryMgr);
  if (g_pPlayingIdPendingCounts == g_pPlayingIDCallbackMgr) g_pPlayingIdPendingCounts = nullptr;
  Destroy(g_pPlayingIDCallbackMgr);
  Destroy(g_pPlayPositionStore);
  Destroy(g_pEnvironmentCurves);
  Destroy(g_pSwitchMgr);
  Destroy(g_pStateMgr);
  Destroy(g_pRTPCMgr);
  Destroy(g_pModulatorRegistry);
  CSnBusCallbackMgr::Get().Clear();
}

void ProcessGameSyncFrame(uint32_t frame) {
  if (g_pTransitionMgr) g_pTransitionMgr->ProcessFrame(frame);
  if (g_pPathMgr) g_pPathMgr->ProcessFrame(frame);
}

void UpdateGameObjectPositioning() {
  if (g_pRegistryMgr) g_pRegistryMgr->UpdateFrame();
}

}  // namespace SN
