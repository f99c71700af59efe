// Where each play's music stands, for the game to poll: one entry per playing id, refreshed every
// frame by the renderer and read from any thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"

namespace SN {

// Any thread: every call takes the repository's lock.
namespace SegmentInfoRepository {

// Finds or adds the entry of the play, zeroed and stamped now; SN_Failure when it cannot be added.
SNRESULT CreateEntry(uint32_t playingId);
// Nothing when the play has no entry.
void UpdateEntry(uint32_t playingId, const SnSegmentInfo& info);
void EraseEntry(uint32_t playingId);
// SN_Failure (the record untouched) without an entry. With `extrapolate` and a positive duration,
// the position moves on by the time since the last update, saturating.
SNRESULT Read(uint32_t playingId, SnSegmentInfo& info, bool extrapolate);
// Frees the entries (the music engine's end).
void Clear();
uint32_t EntryCount();

}  // namespace SegmentInfoRepository

namespace MusicEngine {
SNRESULT GetPlayingSegmentInfo(uint32_t playingId, SnSegmentInfo& info, bool extrapolate);
}  // namespace MusicEngine

}  // namespace SN
