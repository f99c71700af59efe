// Synthesised tones as the engine's media: 16-bit PCM in a RIFF WAVE with the extensible format tag,
// optional cue points with labels and a sampler loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tools {

struct ToneMarker {
  uint32_t id = 0;
  uint32_t frame = 0;
  std::string label;  // none when empty
};

struct ToneDesc {
  uint32_t sampleRate = 48000;
  uint16_t channels = 1;
  uint32_t frames = 0;
  float frequency = 440.0f;  // channel c sounds (c + 1) times this
  std::vector<ToneMarker> markers;
  bool loop = false;
  uint32_t loopStart = 0;
  uint32_t loopEnd = 0;  // inclusive
};

// "RIFF" ... "WAVE": "fmt " (40 bytes, tag 0xFFFE), then "cue " and a "LIST" "adtl" of "labl" chunks
// when there are markers, "smpl" when it loops, and "data".
std::vector<uint8_t> WriteToneMedia(const ToneDesc& tone);

}  // namespace Tools
