// The game's dynamic sequences (a playlist of audio nodes played one after another on one game
// object), the motion engine's per-player devices and the bus callbacks. Commands are queued for the
// audio thread; before Init and after Term every call returns SN_Failure (playing id 0, no playlist)
// and queues nothing.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Callbacks/BusCallbackMgr.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/GameSyncs/Curves.h"

namespace SN::SoundEngine {

namespace DynamicSequence {

using Playlist = SnDynamicPlaylist;

enum DynamicSequenceType : uint32_t {
  DynamicSequenceType_SampleAccurate = CSnDynamicSequence::Type_SampleAccurate,
  DynamicSequenceType_NormalTransition = CSnDynamicSequence::Type_NormalTransition,
};

// The sequence's playing id, or 0 when it cannot be made or its playing id not registered.
uint32_t Open(uint32_t gameObject, uint32_t callbackFlags = 0, SnCallbackFunc callback = nullptr,
              void* cookie = nullptr, DynamicSequenceType type = DynamicSequenceType_SampleAccurate);
// SN_Failure for a playing id without a sequence or a closed one.
SNRESULT Play(uint32_t playingId, int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear);
SNRESULT Pause(uint32_t playingId, int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear);
SNRESULT Resume(uint32_t playingId, int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear);
SNRESULT Stop(uint32_t playingId, int32_t durationMs = 0, SnCurveInterpolation curve = SnCurve_Linear);
// The item playing ends as it would; nothing follows it.
SNRESULT Break(uint32_t playingId);
// The last command: the sequence goes once its items are done.
SNRESULT Close(uint32_t playingId);
// The playlist to edit, locked for the calling thread until UnlockPlaylist on the same thread; null
// for a playing id without a sequence. In a play's, bus or bank callback it never waits: null (said
// once) while another thread holds the playlist.
Playlist* LockPlaylist(uint32_t playingId);
// A sequence waiting for items plays on with the ones added. SN_Failure, logged and changing
// nothing, for an unlock that pairs with no LockPlaylist of the calling thread.
SNRESULT UnlockPlaylist(uint32_t playingId);

}  // namespace DynamicSequence

SNRESULT RegisterBusVolumeCallback(uint32_t busId, SnBusVolumeCallback callback);
SNRESULT RegisterBusMeteringCallback(uint32_t busId, SnBusMeteringCallback callback, uint32_t meteringFlags);

}  // namespace SN::SoundEngine

namespace SN::MotionEngine {

// Players 0 to 3. SN_Failure for another player.
SNRESULT AddPlayerMotionDevice(uint8_t player, uint32_t companyId, uint32_t deviceId, void* device = nullptr);
// Nothing for a player above 3.
void RemovePlayerMotionDevice(uint8_t player, uint32_t companyId, uint32_t deviceId);
void SetPlayerListener(uint8_t player, uint8_t listener);
void SetPlayerVolume(uint8_t player, float volume);

}  // namespace SN::MotionEngine
