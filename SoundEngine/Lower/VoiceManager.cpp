// The voice manager's active instances, limiter lists, limiter pass and deferred instance commands.
#include "SoundEngine/Lower/VoiceManager.h"

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/PlaybackInstance.h"
#include "SoundEngine/Lower/PlaybackLimiter.h"
#include "SoundEngine/Lower/VoiceCommands.h"

namespace SN::VoiceManager {
namespace {

constexpr float kChooseLowest = 101.0f;
constexpr uint8_t kStopReasonNodeLimit = 1;
constexpr uint8_t kStopReasonGlobalLimit = 2;

struct SnInstanceCommand {
  CSnPlaybackInstance* instance;
  uint32_t kind;
  uint32_t parameter;
  float time;
};

struct ManagerState {
  CSnPlaybackInstance* activeHead = nullptr;
  CSnPlaybackInstance* activeTail = nullptr;
  uint32_t activeCount = 0;
  uint32_t excludedCount = 0;
  CSnPlaybackLimiter globalLimiter{kDefaultMaxVoices, true, true};
  CSnPlaybackLimiter* activeKind1 = nullptr;
  CSnPlaybackLimiter* activeKind2 = nullptr;
  SnPooledList<SnInstanceCommand> commands;
};

ManagerState& Manager() {
  static ManagerState state;
  return state;
}

void Push(CSnPlaybackLimiter*& head, CSnPlaybackLimiter* limiter) {
  ORV_ASSERT(limiter);
  limiter->m_pNextActive = head;
  head = limiter;
}

void Unlink(CSnPlaybackLimiter*& head, CSnPlaybackLimiter* limiter) {
  for (CSnPlaybackLimiter** link = &head; *link; link = &(*link)->m_pNextActive) {
    if (*link != limiter) continue;
    *link = limiter->m_pNextActive;
    limiter->m_pNextActive = nullptr;
    return;
  }
}

// Out of the active list (the tail fixed when it was last); false when it was not there.
bool UnlinkActive(CSnPlaybackInstance* instance) {
  ManagerState& state = Manager();
  CSnPlaybackInstance* previous = nullptr;
  for (CSnPlaybackInstance* i = state.activeHead; i; previous = i, i = i->m_pNextActive) {
    if (i != instance) continue;
    (previous ? previous->m_pNextActive : state.activeHead) = i->m_pNextActive;
    if (state.activeTail == i) state.activeTail = previous;
    i->m_pNextActive = nullptr;
    --state.activeCount;
    // A virtual instance that goes takes its exclusion with it, or admissions stay short forever.
    if (i->m_excluded && state.excludedCount) --state.excludedCount;
    return true;
  }
  return false;
}

void Retire(CSnPlaybackInstance* instance) {
  if (instance->Voice()) LowerEngine::RemoveQueuedVoiceCommands(instance->Voice());
  instance->Term(0);
  instance->Destroy();
}

}  // namespace

SNRESULT InitInstanceBookkeeping() {
  ManagerState& state = Manager();
  state.activeHead = state.activeTail = nullptr;
  state.activeCount = state.excludedCount = 0;
  state.activeKind1 = state.activeKind2 = nullptr;
  state.commands.Term();
  if (!state.commands.Init(kPooledInstanceCommands, SnPooledList<SnInstanceCommand>::kUnlimited, g_DefaultPoolId)) {
    // The queue stays empty; nodes will come one by one from the default pool.
    state.commands.Init(0, SnPooledList<SnInstanceCommand>::kUnlimited, g_DefaultPoolId);
    return SN_InsufficientMemory;
  }
  return SN_Success;
}

void TermInstanceBookkeeping() {
  ManagerState& state = Manager();
  while (CSnPlaybackInstance* instance = state.activeHead) {
    UnlinkActive(instance);
    if (!instance->m_stopping) {
      instance->m_stopping = true;
      instance->StopNow();
    }
    Retire(instance);
  }
  state.activeTail = nullptr;
  state.activeCount = state.excludedCount = 0;
  state.commands.Term();
  state.globalLimiter.Term();
  state.activeKind1 = state.activeKind2 = nullptr;
}

void AddActiveInstance(CSnPlaybackInstance* instance) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  instance->m_pNextActive = nullptr;
  (state.activeTail ? state.activeTail->m_pNextActive : state.activeHead) = instance;
  state.activeTail = instance;
  ++state.activeCount;
}

uint32_t ActiveInstanceCount() { return Manager().activeCount; }
uint32_t ExcludedInstanceCount() { return Manager().excludedCount; }

void ExcludeInstance() { ++Manager().excludedCount; }

void RecountInstance(bool enforce) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  if (state.excludedCount) --state.excludedCount;
  CSnPlaybackLimiter& global = state.globalLimiter;
  if (enforce && state.activeCount - state.excludedCount > global.Maximum()) {
    CSnPlaybackInstance* givesWay = nullptr;
    global.EnforceForNewInstance(global.Maximum(), kChooseLowest, nullptr, true, true, &givesWay,
                                 kStopReasonGlobalLimit);
  }
}

CSnPlaybackLimiter& GlobalLimiter() { return Manager().globalLimiter; }
void SetGlobalMaximum(uint16_t maximum) { Manager().globalLimiter.SetMaximum(maximum); }

void LinkActiveLimiterKind1(CSnPlaybackLimiter* limiter) { Push(Manager().activeKind1, limiter); }
void LinkActiveLimiterKind2(CSnPlaybackLimiter* limiter) { Push(Manager().activeKind2, limiter); }
void UnlinkActiveLimiterKind1(CSnPlaybackLimiter* limiter) { Unlink(Manager().activeKind1, limiter); }
void UnlinkActiveLimiterKind2(CSnPlaybackLimiter* limiter) { Unlink(Manager().activeKind2, limiter); }
CSnPlaybackLimiter* FirstActiveLimiterKind1() { return Manager().activeKind1; }
CSnPlaybackLimiter* FirstActiveLimiterKind2() { return Manager().activeKind2; }

void ApplyLimiters() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ManagerState& state = Manager();
  for (CSnPlaybackInstance* i = state.activeHead; i; i = i->m_pNextActive) {
    i->m_limitedLastFrame = i->m_limitedThisFrame;
    i->m_limitedThisFrame = false;
  }
  for (CSnPlaybackLimiter* l = state.activeKind1; l; l = l->m_pNextActive) l->ApplyLimit(kStopReasonNodeLimit);
  for (CSnPlaybackLimiter* l = state.activeKind2; l; l = l->m_pNextActive) l->ApplyLimit(kStopReasonNodeLimit);
  state.globalLimiter.ApplyLimit(kStopReasonGlobalLimit);
}

SNRESULT QueueInstanceCommand(CSnPlaybackInstance* instance, uint32_t kind, uint32_t parameter, float time) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnPooledList<SnInstanceCommand>& commands = Manager().commands;
  const SnInstanceCommand command{instance, kind, parameter, time};
  if (commands.Append(command)) return SN_Success;
  RunQueuedInstanceCommands();
  if (commands.Append(command)) return SN_Success;
  SOUND_LOG(Error, "QueueInstanceCommand: no memory for a command of kind %u", kind);
  return SN_InsufficientMemory;
}

void RunQueuedInstanceCommands() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnPooledList<SnInstanceCommand>& commands = Manager().commands;
  // Handlers may queue further commands: they run in this same walk, after the ones before them.
  while (auto* item = commands.Head()) {
    const SnInstanceCommand command = item->payload;
    commands.Remove(nullptr, item);
    command.instance->OnInstanceCommand(command.kind, command.parameter, command.time);
    if (command.kind != SnInstanceCommand_ContextDetached) continue;
    UnlinkActive(command.instance);
    // Nothing may reach the instance once it is gone, not even a command queued after this one.
    SnPooledList<SnInstanceCommand>::Item* previous = nullptr;
    for (auto* later = commands.Head(); later;) {
      auto* next = later->next;
      if (later->payload.instance == command.instance)
        commands.Remove(previous, later);
      else
        previous = later;
      later = next;
    }
    Retire(command.instance);
  }
}

uint32_t QueuedInstanceCommandCount() { return Manager().commands.Count(); }

}  // namespace SN::VoiceManager
