// How the API writes a message: the engine must be running, the reservation may be refused (a
// message over the queue's limits), the payload is cleared before the caller fills it.
#pragma once

#include <cstring>
#include <mutex>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/SoundEngine.h"

namespace SN::ApiQueue {

// The audio manager while the engine runs, else null (logged under the caller's name).
inline CSnAudioMgr* Running(const char* caller) {
  if (g_pAudioMgr && SoundEngine::IsInitialized()) return g_pAudioMgr;
  SOUND_LOG_REPEATING(Warning, "%s: the sound engine is not initialised", caller);
  return nullptr;
}

// Whether the queue refuses a message of `bytes` for its size; else it refused a post made on the
// audio thread into the full ring, its messages waiting aside at their bound (said by the queue).
inline bool OverQueueLimit(const CSnAudioMgr& manager, uint32_t bytes) {
  return RoundMessageSize(bytes) > manager.MaxMessageBytes();
}

// A cleared message of `bytes` (header written), or null with the reason logged; with `order` held
// when there is one (ReserveMessage).
template <typename Message>
Message* Reserve(CSnAudioMgr& manager, uint16_t type, const char* caller, uint32_t bytes = MessageSize<Message>(),
                 std::mutex* order = nullptr) {
  SnMsgHeader* header = manager.ReserveMessage(type, bytes, order);
  if (!header) {
    if (OverQueueLimit(manager, bytes))
      SOUND_LOG(Error, "%s: a message of %u bytes does not fit the command queue", caller, bytes);
    return nullptr;
  }
  std::memset(reinterpret_cast<uint8_t*>(header) + sizeof(SnMsgHeader), 0, sizeof(Message) - sizeof(SnMsgHeader));
  return reinterpret_cast<Message*>(header);
}

// Writes one fixed message: 2 when the engine is not running, 31 when the queue refuses it for its
// size, 52 when a post on the audio thread finds the ring full and its waiting messages at their
// bound, else what `fill` answers: 1 keeps the message, anything else cancels it. With `order` the
// reservation and `fill` are made holding it, so the posts made under one such lock reach the pass
// in the order they took it, and `fill` may look at what the posts before it said.
template <typename Message, typename Fill>
SNRESULT PostInOrder(uint16_t type, const char* caller, std::mutex* order, Fill&& fill) {
  CSnAudioMgr* manager = Running(caller);
  if (!manager) return SN_Failure;
  Message* message = Reserve<Message>(*manager, type, caller, MessageSize<Message>(), order);
  if (!message) return OverQueueLimit(*manager, MessageSize<Message>()) ? SN_InvalidParameter : SN_InsufficientMemory;
  SNRESULT result;
  {
    std::unique_lock<std::mutex> held;
    if (order) held = std::unique_lock<std::mutex>(*order, std::adopt_lock);
    result = fill(*message);
  }
  if (result != SN_Success) reinterpret_cast<SnMsgHeader*>(message)->type = SnMsg_Cancelled;
  manager->FinishMessage();
  return result;
}

template <typename Message, typename Fill>
SNRESULT Post(uint16_t type, const char* caller, Fill&& fill) {
  return PostInOrder<Message>(type, caller, nullptr, [&](Message& message) {
    fill(message);
    return SN_Success;
  });
}

// The event with one reference, or null (logged).
inline CSnIndexedObject* FindEvent(uint32_t eventId, const char* caller) {
  CSnIndexedObject* event = g_pObjectIndex ? g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(eventId) : nullptr;
  if (!event) SOUND_LOG_REPEATING_ABOUT(Warning, eventId, "%s: event %u is not loaded", caller, eventId);
  return event;
}

// A message on an event that holds a reference until its handler is done: 2 when the engine is not
// running or the event is not loaded, 31 or 52 when the queue refuses it as Post says (the reference
// given back).
template <typename Message, typename Fill>
SNRESULT PostOnEvent(uint16_t type, uint32_t eventId, const char* caller, Fill&& fill) {
  CSnAudioMgr* manager = Running(caller);
  if (!manager) return SN_Failure;
  CSnIndexedObject* event = FindEvent(eventId, caller);
  if (!event) return SN_Failure;
  Message* message = Reserve<Message>(*manager, type, caller);
  if (!message) {
    event->Release();
    return OverQueueLimit(*manager, MessageSize<Message>()) ? SN_InvalidParameter : SN_InsufficientMemory;
  }
  message->event = event;
  fill(*message);
  manager->FinishMessage();
  return SN_Success;
}

// A new playing id; 0 is never one.
uint32_t NextPlayingId();

// Enters the playing id with the game's callback (an entry whose first count is the caller's); false,
// logged, when the callback manager refuses it.
inline bool RegisterPlayingId(uint32_t gameObject, uint32_t playingId, CSnRefCountedObject* externalSources,
                              SnCallbackFunc callback, void* cookie, uint32_t flags, uint32_t eventId,
                              const char* caller) {
  SnPlayingIdParams params;
  params.gameObjectId = gameObject;
  params.playingId = playingId;
  params.externalSources = externalSources;
  if (g_pPlayingIDCallbackMgr &&
      g_pPlayingIDCallbackMgr->AddPlayingID(params, callback, cookie, flags, eventId) == SN_Success)
    return true;
  SOUND_LOG(Error, "%s: playing id %u cannot be registered", caller, playingId);
  return false;
}

}  // namespace SN::ApiQueue
