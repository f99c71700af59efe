// Dialogue resolution: the event resolved under its list's lock, names turned into ids first.
#include "SoundEngine/SoundEngineDialogueApi.h"

#include "SoundEngine/DynamicDialogue/DialogueEvent.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN::SoundEngine::DynamicDialogue {

namespace {

// Paths longer than this are no tree's: the tree refuses deeper ones at load.
constexpr uint32_t kMaxArguments = 64;

// Runs `resolve` on the loaded event, under its list's lock; 0 when there is none.
template <typename Resolve>
uint32_t WithDialogueEvent(uint32_t eventId, Resolve&& resolve) {
  SN_CALL_IN_FLIGHT("ResolveDialogueEvent", 0);
  if (!g_pObjectIndex || !IsInitialized()) {
    SOUND_LOG(Warning, "ResolveDialogueEvent: the sound engine is not initialised");
    return 0;
  }
  uint32_t node = 0;
  const bool found = g_pObjectIndex->List(SnIndex_DialogueEvents).WithObject(eventId, [&](CSnIndexedObject* event) {
    node = resolve(*static_cast<CSnDialogueEvent*>(event));
  });
  if (!found) SOUND_LOG(Warning, "ResolveDialogueEvent: dialogue event %u is not loaded", eventId);
  return node;
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
  return WithDialogueEvent(GetIDFromString(eventName), [&](const CSnDialogueEvent& event) {
    uint32_t ids[kMaxArguments];
    return ArgumentIds(event, names, count, ids) == SN_Success ? event.Tree().Resolve(ids, count) : 0u;
  });
}

}  // namespace

uint32_t ResolveDialogueEvent(uint32_t eventId, const uint32_t* argumentValueIds, uint32_t count, uint32_t) {
  return WithDialogueEvent(eventId,
                           [&](const CSnDialogueEvent& event) { return event.Tree().Resolve(argumentValueIds, count); });
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
