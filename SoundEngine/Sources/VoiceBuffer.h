// The records a voice source hands to the source stage: the media format it writes into its playback
// instance, the buffer it fills (with its markers and position), and the buffer's sample block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class ISnSourceInstance;

// Format word: bits 0-5 bits per sample, 6-15 block align in bytes, 16-17 sample type (0 integer,
// 1 float), bit 18 set when not interleaved.
struct SnMediaFormat {
  uint32_t sampleRate = 0;
  SnChannelConfig channelConfig = 0;
  uint32_t formatWord = 0;

  static constexpr uint32_t Word(uint32_t bits, uint32_t blockAlign, uint32_t sampleType, bool planar) {
    return (bits & 0x3F) | ((blockAlign & 0x3FF) << 6) | ((sampleType & 3) << 16) | (planar ? 1u << 18 : 0u);
  }
  uint32_t BitsPerSample() const { return formatWord & 0x3F; }
  uint32_t BlockAlign() const { return (formatWord >> 6) & 0x3FF; }
  uint32_t SampleType() const { return (formatWord >> 16) & 3; }
  bool IsPlanar() const { return (formatWord >> 18) & 1; }
  uint32_t Channels() const { return ChannelCount(channelConfig); }
};
static_assert(sizeof(SnMediaFormat) == 12, "the media format is three words");

// The channel configuration of media: standard when it names its speakers, anonymous otherwise.
constexpr SnChannelConfig MediaChannelConfig(uint32_t channels, uint32_t mask) {
  return (channels & 0xFF) | ((mask ? 1u : 0u) << 8) | (mask << 12);
}

struct SnMediaMarker {
  uint32_t id = 0;
  uint32_t position = 0;  // sample frames
  char* label = nullptr;  // owned, zero-terminated, or null
};

// One marker reached inside a buffer, `offset` frames after its first frame.
struct SnMarkerNotification {
  ISnSourceInstance* instance = nullptr;
  uint32_t offset = 0;
  uint32_t id = 0;
  uint32_t position = 0;
  const char* label = nullptr;
};

constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

struct SnBufferPosition {
  uint32_t position = kNoPosition;  // source frame of the first frame
  float rateFactor = 1.0f;
  uint32_t totalLength = kNoPosition;
  uint32_t sampleRate = 1;
};

// A source fills it interleaved 16-bit or planar float after its media format; after the source
// stage it is planar float, channel c at data + c x maxFrames.
struct SnVoiceBuffer {
  void* data = nullptr;
  SnChannelConfig channelConfig = 0;
  uint32_t state = kBufferNeedsData;
  uint16_t maxFrames = 0;
  uint16_t validFrames = 0;
  uint16_t markerCount = 0;
  SnMarkerNotification* markers = nullptr;
  SnBufferPosition position;
  SNRESULT result = SN_Success;

  // A planar float block of frames x channels from the lower engine's pool, 16-byte aligned; frees
  // the one held first. SN_InsufficientMemory leaves the buffer without data.
  SNRESULT AllocData(uint32_t frames, SnChannelConfig config);
  void FreeData();
  // The notification array goes back to the default pool.
  void FreeMarkers();
  float* Plane(uint32_t channel) const { return static_cast<float*>(data) + size_t(channel) * maxFrames; }
  // Empties it as a source with nothing to give leaves it.
  void Clear() {
    data = nullptr;
    validFrames = maxFrames = 0;
    markerCount = 0;
    markers = nullptr;
    position = SnBufferPosition{};
  }
};

// The block the source stages write their voices' frames into, one voice after another: the voice
// pipeline has mixed a voice's frame before the next voice runs, so a single block serves every voice
// and stays in the processor's cache where a block per voice would not. What a stage writes there is
// gone once another stage has run. Null when `floats` is more than it holds. Audio thread, under the
// global audio lock.
float* SharedFrameBlock(size_t floats);

}  // namespace SN
