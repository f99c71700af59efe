// Dialogue resolution: the event looked up with a reference for the call, names turned into ids.
#include "SoundEngine/SoundEngineDialogueApi.h"

#include "SoundEngine/DynamicDialogue/DialogueEvent.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN::SoundEngine::DynamicDialogue {

namespace {

// Paths longer than this are no tree's: the tree refuses deeper ones at load.
constexpr uint32_t kMaxArguments = 64;

CSnDialogueEvent* FindDialogueEvent(uint32_t eventId) {
  if (!g_pObjectIndex || !IsInitialized()) {
    SOUND_LOG(Warning, "ResolveDialogueEvent: the sound engine is not initialised");
    return nullptr;
  }
  CSnIndexedObject* found = g_pObjectIndex->List(SnIndex_DialogueEvents).FindAndAddRef(eventId);
  if (!found) SOUND_LOG(Warning, "ResolveDialogueEvent: dialogue event %u is not loaded", eventId);
  return static_cast<CSnDialogueEvent*>(found);
}

// The argument conversion: SN_Failure for a count that is not the tree's depth or a null name.
template <typename Char>
SNRESULT ArgumentIds(const CSnDialogueEvent& event, const Char* const* names, uint32_t count, uint32_t* ids) {
  if (count != event.Tree().Depth() || count > kMaxArguments || (count && !names)) {
    SOUND_LOG(Error, "ResolveDialogueEvent: event %u takes %u arguments, not %u", event.ID(), event.Tree().Depth(),
              count);
    return SN_Failure;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!names[i]) return SN_Failure;
    ids[i] = names[i][0] ? GetIDFromString(names[i]) : 0;
  }
  return SN_Success;
}

template <typename Char>
uint32_t ResolveByNames(const Char* eventName, const Char* const* names, uint32_t count) {
  CSnDialogueEvent* event = FindDialogueEvent(GetIDFromString(eventName));
  if (!event) return 0;
  uint32_t ids[kMaxArguments];
  const uint32_t node = ArgumentIds(*event, names, count, ids) == SN_Success ? event->Tree().Resolve(ids, count) : 0;
  event->Release();
  return node;
}

}  // namespace

uint32_t ResolveDialogueEvent(uint32_t eventId, const uint32_t* argumentValueIds, uint32_t count, uint32_t) {
  CSnDialogueEvent* event = FindDialogueEvent(eventId);
  if (!event) return 0;
  const uint32_t node = event->Tree().Resolve(argumentValueIds, count);
  event->Release();
  return node;
}

uint32_t ResolveDialogueEvent(const char* eventName, const char* const* argumentValueNames, uint32_t count,
                              uint32_t) {
  return ResolveByNames(eventName, argumentValueNames, count);
}

uint32_t ResolveDialogueEvent(const char16_t* eventName, const char16_t* const* argumentValueNames, uint32_t count,
                              uint32_t) {
  return ResolveByNames(eventName, argumentValueNames, count);
}

}  // namespace SN::SoundEngine::DynamicDialogue
