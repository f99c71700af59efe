// Where the source of a playing id is and how well its stream is buffered: written by the audio
// thread, read by the game from any thread, extrapolated to the moment of the question.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Containers.h"

namespace SN {

struct SnPositionUpdate {
  uint32_t position;  // samples
  float rate;         // 0 while paused
  uint32_t duration;  // samples
  uint32_t sampleRate;
};

// What a playing id's streams told in a frame. One still filling keeps the playing id buffering for
// the rest of that frame; a stream that could not say changes nothing another already told.
enum SnBufferingStatus : uint32_t {
  SnBuffering_Ready = 0,
  SnBuffering_Filling = 1,
  SnBuffering_Unknown = 2,
};

class CSnPlayPositionStore {
 public:
  struct PositionEntry {
    uint32_t playingId;
    uint64_t timestamp;
    uint32_t cookie;
    uint32_t position;
    float rate;
    uint32_t duration;
    uint32_t sampleRate;  // 1: no data yet
  };
  struct BufferingEntry {
    uint32_t playingId;
    uint32_t frame;
    int32_t value;
    uint32_t status;
  };

  SNRESULT Init();
  void Term();

  void AddSourceEntry(uint32_t playingId, uint32_t cookie);
  void RemoveSourceEntry(uint32_t playingId, uint32_t cookie);
  void UpdatePosition(uint32_t playingId, const SnPositionUpdate& update, uint32_t cookie);
  void SetRate(uint32_t playingId, float rate);
  // `status` a SnBufferingStatus, `frame` the audio manager's.
  void UpdateBuffering(uint32_t playingId, int32_t value, uint32_t status, uint32_t frame);
  // At the start of each render pass while positions are tracked.
  void RefreshRenderTimestamp();
  bool HasPositionEntries();

  SNRESULT GetSourcePlayPosition(uint32_t playingId, uint32_t& positionMs, bool extrapolate);
  SNRESULT GetSourceStreamBuffering(uint32_t playingId, int32_t& value, uint32_t& status);

  void RemovePlayingId(uint32_t playingId);
  void RemoveBuffering(uint32_t playingId);

  // For a caller that holds Lock() itself.
  PositionEntry* FindOrAddUnlocked(uint32_t playingId);
  void EraseUnlocked(uint32_t playingId);
  Platform::ReentrantLock& Lock() { return m_lock; }

 private:
  int32_t FindPosition(uint32_t playingId) const;

  SnArray<PositionEntry> m_positions;
  SnArray<BufferingEntry> m_buffering;
  Platform::ReentrantLock m_lock;
  uint64_t m_renderTimestamp = 0;
};

// Null while the sound engine is not initialised.
extern CSnPlayPositionStore* g_pPlayPositionStore;

}  // namespace SN
