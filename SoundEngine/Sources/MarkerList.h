// The markers of a media (cue points and their labels): kept in the default pool, told to the
// instance as playback passes them, and attached to the buffers that hold them.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/VoiceBuffer.h"

namespace SN {

class CSnMarkerList {
 public:
  CSnMarkerList() = default;
  ~CSnMarkerList() { Free(); }
  CSnMarkerList(const CSnMarkerList&) = delete;
  CSnMarkerList& operator=(const CSnMarkerList&) = delete;

  // SN_Success, or SN_InsufficientMemory with the count back at 0. Frees what was held first.
  SNRESULT Allocate(uint32_t count);
  // A zero-terminated copy of `length` bytes of `text` (which need not be terminated).
  SNRESULT SetLabel(uint32_t index, const char* text, uint32_t length);
  void Free();

  uint32_t Count() const { return m_count; }
  SnMediaMarker& operator[](uint32_t index) { return m_markers[index]; }
  const SnMediaMarker& operator[](uint32_t index) const { return m_markers[index]; }

  // The marker closest to `frame`, the first of equals; null when there are none.
  const SnMediaMarker* FindNearest(uint32_t frame) const;
  // Tells the instance of every marker at from <= position < to, in list order.
  void NotifyRange(ISnSourceInstance* instance, uint32_t from, uint32_t to) const;
  // Gives the buffer the markers among its valid frames, which begin at source frame `first`.
  void AttachToBuffer(ISnSourceInstance* instance, SnVoiceBuffer& buffer, uint32_t first) const;

 private:
  uint32_t m_count = 0;
  SnMediaMarker* m_markers = nullptr;
};

}  // namespace SN
