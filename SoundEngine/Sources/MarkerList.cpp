// Marker storage and notification.
#include "SoundEngine/Sources/MarkerList.h"

#include <cstring>
#include <new>

#include "SoundEngine/Containers.h"
#include "SoundEngine/Sources/SourceInstance.h"

namespace SN {

SNRESULT CSnMarkerList::Allocate(uint32_t count) {
  Free();
  if (count == 0) return SN_Success;
  void* block = MemoryMgr::Malloc(g_DefaultPoolId, size_t(count) * sizeof(SnMediaMarker));
  if (!block) return SN_InsufficientMemory;
  m_markers = static_cast<SnMediaMarker*>(block);
  for (uint32_t i = 0; i < count; ++i) new (&m_markers[i]) SnMediaMarker();
  m_count = count;
  return SN_Success;
}

SNRESULT CSnMarkerList::SetLabel(uint32_t index, const char* text, uint32_t length) {
  if (index >= m_count) return SN_InvalidParameter;
  char* label = static_cast<char*>(MemoryMgr::Malloc(g_DefaultPoolId, size_t(length) + 1));
  if (!label) return SN_InsufficientMemory;
  if (length) memcpy(label, text, length);
  label[length] = '\0';
  if (m_markers[index].label) MemoryMgr::Free(g_DefaultPoolId, m_markers[index].label);
  m_markers[index].label = label;
  return SN_Success;
}

void CSnMarkerList::Free() {
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_markers[i].label) MemoryMgr::Free(g_DefaultPoolId, m_markers[i].label);
  if (m_markers) MemoryMgr::Free(g_DefaultPoolId, m_markers);
  m_markers = nullptr;
  m_count = 0;
}

const SnMediaMarker* CSnMarkerList::FindNearest(uint32_t frame) const {
  const SnMediaMarker* nearest = nullptr;
  uint32_t best = 0;
  for (uint32_t i = 0; i < m_count; ++i) {
    const uint32_t p = m_markers[i].position;
    const uint32_t distance = p > frame ? p - frame : frame - p;
    if (!nearest || distance < best) {
      nearest = &m_markers[i];
      best = distance;
    }
  }
  return nearest;
}

void CSnMarkerList::NotifyRange(ISnSourceInstance* instance, uint32_t from, uint32_t to) const {
  if (!instance || !instance->WantsMarkers() || m_count == 0) return;
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_markers[i].position >= from && m_markers[i].position < to) instance->PostMarker(m_markers[i]);
}

void CSnMarkerList::AttachToBuffer(ISnSourceInstance* instance, SnVoiceBuffer& buffer, uint32_t first) const {
  buffer.markerCount = 0;
  buffer.markers = nullptr;
  if (!instance || !instance->WantsMarkers() || m_count == 0) return;
  const uint64_t end = uint64_t(first) + buffer.validFrames;
  uint32_t count = 0;
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_markers[i].position >= first && m_markers[i].position < end) ++count;
  if (count == 0 || count > 0xFFFF) return;
  auto* notes = static_cast<SnMarkerNotification*>(
      MemoryMgr::Malloc(g_DefaultPoolId, size_t(count) * sizeof(SnMarkerNotification)));
  if (!notes) return;  // the buffer goes without its markers
  uint32_t n = 0;
  for (uint32_t i = 0; i < m_count; ++i) {
    const SnMediaMarker& m = m_markers[i];
    if (m.position < first || m.position >= end) continue;
    notes[n++] = SnMarkerNotification{instance, m.position - first, m.id, m.position, m.label};
  }
  buffer.markers = notes;
  buffer.markerCount = uint16_t(count);
}

}  // namespace SN
