// Dynamic-sequence commands (message 22 to bind, 23 to command), motion-device messages (27 to 29)
// and the bus-callback registrations.
#include "SoundEngine/SoundEngineSequenceApi.h"

#include <cmath>

#include "SoundEngine/ApiQueue.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/CallsInFlight.h"
#include "SoundEngine/SoundEngineApi.h"
#include "SoundEngine/ThreadPlace.h"

namespace SN::SoundEngine {

namespace {

// The open sequence of a playing id with a reference, or null (logged).
CSnDynamicSequence* FindSequence(uint32_t playingId, const char* caller, bool closedToo) {
  CSnIndexedObject* found =
      g_pObjectIndex ? g_pObjectIndex->List(SnIndex_DynamicSequences).FindAndAddRef(playingId) : nullptr;
  auto* sequence = static_cast<CSnDynamicSequence*>(found);
  if (sequence && !closedToo && sequence->IsClosed()) {
    sequence->Release();
    sequence = nullptr;
  }
  if (!sequence) SOUND_LOG(Warning, "DynamicSequence::%s: no open sequence has playing id %u", caller, playingId);
  return sequence;
}

// Message 23 carrying `sequence`'s reference; a refused reservation gives the reference back.
SNRESULT PostCommand(CSnAudioMgr& manager, CSnDynamicSequence* sequence, SnSequenceCommand command, int32_t ms,
                     uint32_t curve, const char* caller) {
  auto* m = ApiQueue::Reserve<SnMsgDynamicSequenceCommand>(manager, SnMsg_DynamicSequenceCommand, caller);
  if (!m) {
    sequence->Release();
    return SN_InvalidParameter;
  }
  m->sequence = sequence;
  m->command = command;
  m->transitionMs = ms;
  m->curve = curve;
  manager.FinishMessage();
  return SN_Success;
}

SNRESULT Command(uint32_t playingId, SnSequenceCommand command, int32_t ms, uint32_t curve, const char* caller) {
  SN_CALL_IN_FLIGHT(caller, SN_Failure);
  CSnAudioMgr* manager = ApiQueue::Running(caller);
  if (!manager) return SN_Failure;
  CSnDynamicSequence* sequence = FindSequence(playingId, caller, false);
  if (!sequence) return SN_Failure;
  if (command == SnSequence_Close) sequence->MarkClosed();
  return PostCommand(*manager, sequence, command, ms, curve, caller);
}

// Frees `sequence`'s playlist this thread holds (`unlocked`: false when it holds none), gives back
// LockPlaylist's reference and wakes the sequence when it waits for items. The lock is free before
// the wake-up is written: a full ring has this thread run the handlers.
SNRESULT Unlock(CSnAudioMgr& manager, CSnDynamicSequence* sequence, bool& unlocked) {
  bool waiting = false;
  unlocked = sequence->UnlockPlaylist(waiting);
  if (!unlocked) return SN_Failure;
  sequence->Release();  // LockPlaylist's
  if (!waiting) return SN_Success;
  sequence->AddRef();  // the wake-up's
  return PostCommand(manager, sequence, SnSequence_WakeUpAfterUnlock, 0, 4, "UnlockPlaylist");
}

}  // namespace

namespace DynamicSequence {

uint32_t Open(uint32_t gameObject, uint32_t callbackFlags, SnCallbackFunc callback, void* cookie,
              DynamicSequenceType type) {
  SN_CALL_IN_FLIGHT("DynamicSequence::Open", 0);
  CSnAudioMgr* manager = ApiQueue::Running("DynamicSequence::Open");
  if (!manager) return 0;
  const uint32_t playingId = ApiQueue::NextPlayingId();
  CSnDynamicSequence* sequence = CSnDynamicSequence::Create(playingId, type);
  if (!sequence) {
    SOUND_LOG(Error, "DynamicSequence::Open: no memory for a sequence");
    return 0;
  }
  // The message carries no reference: the index holds the sequence until it is closed.
  auto* m = ApiQueue::Reserve<SnMsgOpenDynamicSequence>(*manager, SnMsg_OpenDynamicSequence, "DynamicSequence::Open");
  if (!m) {
    sequence->Release();
    return 0;
  }
  m->gameObject = gameObject;
  m->playingId = playingId;
  m->sequence = sequence;
  if (!ApiQueue::RegisterPlayingId(gameObject, playingId, nullptr, callback, cookie, callbackFlags, 0,
                                   "DynamicSequence::Open")) {
    m->header.type = SnMsg_Cancelled;
    m->sequence = nullptr;
    manager->FinishMessage();
    sequence->Release();
    return 0;
  }
  // The entry's first count is the sequence's, given back when it is closed (or the engine stops):
  // its end of event waits for the close.
  manager->FinishMessage();
  return playingId;
}

SNRESULT Play(uint32_t playingId, int32_t durationMs, SnCurveInterpolation curve) {
  return Command(playingId, SnSequence_Play, durationMs, curve, "Play");
}
SNRESULT Pause(uint32_t playingId, int32_t durationMs, SnCurveInterpolation curve) {
  return Command(playingId, SnSequence_Pause, durationMs, curve, "Pause");
}
SNRESULT Resume(uint32_t playingId, int32_t durationMs, SnCurveInterpolation curve) {
  return Command(playingId, SnSequence_Resume, durationMs, curve, "Resume");
}
SNRESULT Stop(uint32_t playingId, int32_t durationMs, SnCurveInterpolation curve) {
  return Command(playingId, SnSequence_Stop, durationMs, curve, "Stop");
}
SNRESULT Break(uint32_t playingId) { return Command(playingId, SnSequence_Break, 0, 4, "Break"); }
SNRESULT Close(uint32_t playingId) { return Command(playingId, SnSequence_Close, 0, 0, "Close"); }

Playlist* LockPlaylist(uint32_t playingId) {
  SN_CALL_IN_FLIGHT("DynamicSequence::LockPlaylist", nullptr);
  CSnAudioMgr* manager = ApiQueue::Running("DynamicSequence::LockPlaylist");
  if (!manager) return nullptr;
  // The reference stays until UnlockPlaylist: the sequence cannot go while the game edits it.
  CSnDynamicSequence* sequence = FindSequence(playingId, "LockPlaylist", true);
  if (!sequence) return nullptr;
  // A game thread holding the playlist may be waiting for this thread: for the audio lock (a post
  // into a full ring, a RenderAudio without the audio thread) or for a waited bank call. Inside a
  // pass, a bank callback or on the bank thread the lock is only tried.
  const bool mayWait = !ThisThread::OnlyTriesGameLocks();
  Playlist* playlist = sequence->LockPlaylist(mayWait);
  if (!playlist) {
    SOUND_LOG_REPEATING(Warning,
                        "DynamicSequence::LockPlaylist: playing id %u: another thread holds the playlist; refused "
                        "inside the engine's callbacks, which never wait for it",
                        playingId);
    sequence->Release();
    return nullptr;
  }
  // The hold counts as a call until its unlock: Term waits for it, and frees nothing it edits. A
  // lock got once Term has begun is given back at once, so that Term's wait ends with the holder's.
  if (CallsInFlight::BeginHold()) return playlist;
  SOUND_LOG_REPEATING(Error, "DynamicSequence::LockPlaylist: refused, the sound engine is being terminated");
  bool unlocked = false;
  Unlock(*manager, sequence, unlocked);
  return nullptr;
}

SNRESULT UnlockPlaylist(uint32_t playingId) {
  // Admitted while this thread holds a playlist, also once Term has begun: Term waits for the hold.
  const SnCallInFlight inFlight("DynamicSequence::UnlockPlaylist", SnCallInFlight::EndsHold);
  if (!inFlight.Admitted()) return SN_Failure;
  CSnAudioMgr* manager = ApiQueue::Running("DynamicSequence::UnlockPlaylist");
  if (!manager) return SN_Failure;
  CSnDynamicSequence* sequence = FindSequence(playingId, "UnlockPlaylist", true);
  if (!sequence) return SN_Failure;
  bool unlocked = false;
  const SNRESULT result = Unlock(*manager, sequence, unlocked);
  if (!unlocked) {
    // Its reference would be one that LockPlaylist never took.
    SOUND_LOG(Error, "DynamicSequence::UnlockPlaylist: playing id %u has no LockPlaylist of this thread to pair with",
              playingId);
    sequence->Release();
    return SN_Failure;
  }
  CallsInFlight::EndHold();
  sequence->Release();  // this call's
  return result;
}

}  // namespace DynamicSequence

SNRESULT RegisterBusVolumeCallback(uint32_t busId, SnBusVolumeCallback callback) {
  SN_CALL_IN_FLIGHT("RegisterBusVolumeCallback", SN_Failure);
  if (!IsInitialized()) return SN_Failure;
  return CSnBusCallbackMgr::Get().RegisterBusVolumeCallback(busId, callback);
}

SNRESULT RegisterBusMeteringCallback(uint32_t busId, SnBusMeteringCallback callback, uint32_t meteringFlags) {
  SN_CALL_IN_FLIGHT("RegisterBusMeteringCallback", SN_Failure);
  if (!IsInitialized()) return SN_Failure;
  return CSnBusCallbackMgr::Get().RegisterBusMeteringCallback(busId, callback, meteringFlags);
}

}  // namespace SN::SoundEngine

namespace SN::MotionEngine {

namespace {

constexpr uint8_t kMaxPlayer = 3;

SNRESULT PostMotionDevice(uint8_t player, uint32_t deviceId, void* device, bool add, const char* caller) {
  SN_CALL_IN_FLIGHT(caller, SN_Failure);
  return ApiQueue::Post<SnMsgSecondaryOutput>(SnMsg_SecondaryOutput, caller, [&](SnMsgSecondaryOutput& m) {
    m.listenerMask = deviceId;
    m.device = device;
    m.outputType = kMotionOutputType;
    m.deviceId = player;
    m.add = add;
  });
}

}  // namespace

SNRESULT AddPlayerMotionDevice(uint8_t player, uint32_t, uint32_t deviceId, void* device) {
  if (player > kMaxPlayer) {
    SOUND_LOG(Error, "MotionEngine::AddPlayerMotionDevice: player %u is not 0 to 3", unsigned(player));
    return SN_Failure;
  }
  return PostMotionDevice(player, deviceId, device, true, "MotionEngine::AddPlayerMotionDevice");
}

void RemovePlayerMotionDevice(uint8_t player, uint32_t, uint32_t deviceId) {
  if (player > kMaxPlayer) return;
  PostMotionDevice(player, deviceId, nullptr, false, "MotionEngine::RemovePlayerMotionDevice");
}

void SetPlayerListener(uint8_t player, uint8_t listener) {
  SN_CALL_IN_FLIGHT("MotionEngine::SetPlayerListener");
  ApiQueue::Post<SnMsgSetPlayerListener>(SnMsg_SetPlayerListener, "MotionEngine::SetPlayerListener",
                                         [&](SnMsgSetPlayerListener& m) {
                                           m.player = player;
                                           m.listener = listener;
                                         });
}

void SetPlayerVolume(uint8_t player, float volume) {
  SN_CALL_IN_FLIGHT("MotionEngine::SetPlayerVolume");
  // Not a number would turn the player's motors off. Every other volume, infinities too, has its
  // gain: the motors end at full speed above 740 dB and at rest below -740 dB.
  if (std::isnan(volume)) {
    SOUND_LOG(Error, "MotionEngine::SetPlayerVolume: volume %f is not a number", double(volume));
    return;
  }
  ApiQueue::Post<SnMsgSetPlayerVolume>(SnMsg_SetPlayerVolume, "MotionEngine::SetPlayerVolume",
                                       [&](SnMsgSetPlayerVolume& m) {
                                         m.volume = volume;
                                         m.player = player;
                                       });
}

}  // namespace SN::MotionEngine
