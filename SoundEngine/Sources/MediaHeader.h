// The layout of media files (RIFF "WAVE" or "XWMA" with format, cue, label, sampler-loop, envelope and
// seek chunks) and the parser of their header, with the format record read from the "fmt " chunk.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnMarkerList;

constexpr SNRESULT SN_MalformedMedia = SNRESULT(7);
constexpr SNRESULT SN_IncompleteHeader = SNRESULT(8);

constexpr uint16_t kWaveFormatExtensible = 0xFFFE;  // PCM media
constexpr uint16_t kWaveFormatImaAdpcm = 0x0002;
constexpr uint32_t kAdpcmBlockBytes = 36;
constexpr uint32_t kAdpcmBlockFrames = 64;

// A chunk's body as the parser found it.
struct SnMediaChunk {
  uint32_t size = 0;
  const uint8_t* data = nullptr;
};

// The fields of the "fmt " body that the engine uses.
struct SnWaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint32_t channelMask = 0;
};

// Reads the 24 bytes it needs of "fmt " (channel mask at 20): SN_MalformedMedia for a shorter body.
SNRESULT ReadWaveFormat(const SnMediaChunk& fmt, SnWaveFormat& format);

// Refuses with SN_MalformedMedia, logged, what no reader can play safely: no channels or more than
// 255, rate 0, a block align that is not one frame (PCM: channels x bytes; ADPCM: 36 x channels), bit
// depths other than 16 and 32, and 32-bit (float) media of more than one channel. Other format tags
// pass: their codec judges them.
SNRESULT CheckWaveFormat(const SnWaveFormat& format);

// Walks the chunks up to "data". `markers`, `akd` and `seek` may be null. SN_Success, SN_InvalidParameter
// for no data, SN_MalformedMedia, SN_IncompleteHeader when the bytes end first, or a marker allocation's
// failure. Counts and offsets inside chunks are checked against the chunk.
SNRESULT ParseMediaHeader(const uint8_t* data, uint32_t size, SnMediaChunk& fmt, CSnMarkerList* markers,
                          uint32_t& loopBegin, uint32_t& loopEnd, uint32_t& dataSize, uint32_t& dataOffset,
                          SnMediaChunk* akd, SnMediaChunk* seek);

}  // namespace SN
