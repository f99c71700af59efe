// The play-position store: entries per tracked playing id, updated under the lock by the audio
// thread and read under it by the game, with positions carried forward by the tick clock.
#include "SoundEngine/Callbacks/PlayPositionStore.h"

#include <algorithm>

#include "Platform/Clock.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

CSnPlayPositionStore* g_pPlayPositionStore = nullptr;

namespace {
constexpr uint32_t kUnknown = 0xFFFFFFFFu;
}  // namespace

SNRESULT CSnPlayPositionStore::Init() { return m_positions.GrowBy(8) ? SN_Success : SN_InsufficientMemory; }

void CSnPlayPositionStore::Term() {
  Platform::ReentrantGuard guard(m_lock);
  m_positions.Term();
  m_buffering.Term();
}

int32_t CSnPlayPositionStore::FindPosition(uint32_t playingId) const {
  for (uint32_t i = 0; i < m_positions.Count(); ++i)
    if (m_positions[i].playingId == playingId) return int32_t(i);
  return -1;
}

void CSnPlayPositionStore::AddSourceEntry(uint32_t playingId, uint32_t cookie) {
  // Only the audio thread adds or removes entries, so this look-up needs no lock.
  if (FindPosition(playingId) >= 0) return;
  Platform::ReentrantGuard guard(m_lock);
  m_positions.Add({playingId, 0, cookie, kUnknown, 1.0f, kUnknown, 1});
}

void CSnPlayPositionStore::RemoveSourceEntry(uint32_t playingId, uint32_t cookie) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t index = FindPosition(playingId);
  if (index >= 0 && m_positions[uint32_t(index)].cookie == cookie) m_positions.RemoveAt(uint32_t(index));
}

void CSnPlayPositionStore::UpdatePosition(uint32_t playingId, const SnPositionUpdate& update, uint32_t cookie) {
  Platform::ReentrantGuard guard(m_lock);
  int32_t index = FindPosition(playingId);
  if (index < 0) {
    m_renderTimestamp = uint64_t(Platform::TicksNow());
    if (!m_positions.Add({playingId, m_renderTimestamp, cookie, kUnknown, 1.0f, kUnknown, 1})) return;
    index = int32_t(m_positions.Count() - 1);
  }
  PositionEntry& entry = m_positions[uint32_t(index)];
  if (entry.cookie != cookie) return;
  entry.position = update.position;
  entry.rate = update.rate;
  entry.duration = update.duration;
  entry.sampleRate = update.sampleRate;
  entry.timestamp = m_renderTimestamp;
}

void CSnPlayPositionStore::SetRate(uint32_t playingId, float rate) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t index = FindPosition(playingId);
  if (index < 0) return;
  m_positions[uint32_t(index)].timestamp = m_renderTimestamp;
  m_positions[uint32_t(index)].rate = rate;
}

void CSnPlayPositionStore::UpdateBuffering(uint32_t playingId, int32_t value, uint32_t status, uint32_t frame) {
  Platform::ReentrantGuard guard(m_lock);
  for (BufferingEntry& entry : m_buffering) {
    if (entry.playingId != playingId) continue;
    if (entry.frame != frame) {
      entry.value = value;
      entry.status = status;
    } else if (status != SnBuffering_Unknown) {
      entry.value = std::min(entry.value, value);
      if (entry.status != SnBuffering_Filling) entry.status = status;
    }
    entry.frame = frame;
    return;
  }
  m_buffering.Add({playingId, frame, value, status});
}

void CSnPlayPositionStore::RefreshRenderTimestamp() {
  Platform::ReentrantGuard guard(m_lock);
  m_renderTimestamp = uint64_t(Platform::TicksNow());
}

bool CSnPlayPositionStore::HasPositionEntries() {
  Platform::ReentrantGuard guard(m_lock);
  return m_positions.Count() != 0;
}

SNRESULT CSnPlayPositionStore::GetSourcePlayPosition(uint32_t playingId, uint32_t& positionMs, bool extrapolate) {
  Platform::ReentrantGuard guard(m_lock);
  const int32_t index = FindPosition(playingId);
  if (index < 0 || m_positions[uint32_t(index)].sampleRate == 1) {
    positionMs = 0;
    return SN_Failure;
  }
  const PositionEntry& entry = m_positions[uint32_t(index)];
  double position = double(entry.position) * 1000.0 / double(entry.sampleRate);
  const double duration = double(entry.duration) * 1000.0 / double(entry.sampleRate);
  if (extrapolate) {
    const double ticksPerMs = SoundEngine::TicksPerMillisecond();
    const double elapsed = double(int64_t(uint64_t(Platform::TicksNow()) - entry.timestamp));
    if (ticksPerMs > 0.0) position += elapsed / ticksPerMs * double(entry.rate);
  }
  const uint32_t positionWhole = position <= 0.0 ? 0u : position >= 4294967295.0 ? kUnknown : uint32_t(position);
  const uint32_t durationWhole = duration >= 4294967295.0 ? kUnknown : uint32_t(duration);
  positionMs = std::min(positionWhole, durationWhole);
  return SN_Success;
}

SNRESULT CSnPlayPositionStore::GetSourceStreamBuffering(uint32_t playingId, int32_t& value, uint32_t& status) {
  Platform::ReentrantGuard guard(m_lock);
  for (const BufferingEntry& entry : m_buffering) {
    if (entry.playingId != playingId) continue;
    value = entry.value;
    status = entry.status;
    return SN_Success;
  }
  return SN_Failure;
}

void CSnPlayPositionStore::RemovePlayingId(uint32_t playingId) {
  Platform::ReentrantGuard guard(m_lock);
  EraseUnlocked(playingId);
}

void CSnPlayPositionStore::RemoveBuffering(uint32_t playingId) {
  Platform::ReentrantGuard guard(m_lock);
  for (uint32_t i = 0; i < m_buffering.Count(); ++i)
    if (m_buffering[i].playingId == playingId) return m_buffering.RemoveAt(i);
}

CSnPlayPositionStore::PositionEntry* CSnPlayPositionStore::FindOrAddUnlocked(uint32_t playingId) {
  const int32_t index = FindPosition(playingId);
  if (index >= 0) return &m_positions[uint32_t(index)];
  return m_positions.Add({playingId, m_renderTimestamp, 0, kUnknown, 1.0f, kUnknown, 1});
}

void CSnPlayPositionStore::EraseUnlocked(uint32_t playingId) {
  const int32_t index = FindPosition(playingId);
  if (index >= 0) m_positions.RemoveAt(uint32_t(index));
}

}  // namespace SN
