// Tone synthesis and the RIFF WAVE layout of media.
#include "tools/SoundBank/ToneMedia.h"

#include <cmath>
#include <cstring>

#include "tools/ContentWriters/Bytes.h"

namespace Tools {

namespace {

using ContentWriters::Put;

void PutTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) Put(out, uint8_t(tag[i]));
}

// The integer PCM sub-format of the extensible format record.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t ChannelMask(uint16_t channels) {
  if (channels == 1) return 0x4;  // front centre
  if (channels == 2) return 0x3;  // front left and right
  return (channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1u);
}

}  // namespace

std::vector<uint8_t> WriteToneMedia(const ToneDesc& tone) {
  const uint16_t channels = tone.channels ? tone.channels : 1;
  const uint16_t blockAlign = uint16_t(2 * channels);
  std::vector<uint8_t> out;
  PutTag(out, "RIFF");
  Put(out, uint32_t(0));  // patched below
  PutTag(out, "WAVE");

  PutTag(out, "fmt ");
  Put(out, uint32_t(40));
  Put(out, uint16_t(0xFFFE));
  Put(out, channels);
  Put(out, tone.sampleRate);
  Put(out, uint32_t(tone.sampleRate * blockAlign));
  Put(out, blockAlign);
  Put(out, uint16_t(16));
  Put(out, uint16_t(22));
  Put(out, uint16_t(16));
  Put(out, ChannelMask(channels));
  for (uint8_t b : kPcmSubFormat) Put(out, b);

  if (!tone.markers.empty()) {
    PutTag(out, "cue ");
    Put(out, uint32_t(4 + 24 * tone.markers.size()));
    Put(out, uint32_t(tone.markers.size()));
    for (const ToneMarker& marker : tone.markers) {
      Put(out, marker.id);
      Put(out, marker.frame);
      PutTag(out, "data");
      Put(out, uint32_t(0));
      Put(out, uint32_t(0));
      Put(out, marker.frame);
    }
    std::vector<uint8_t> labels;
    for (const ToneMarker& marker : tone.markers) {
      if (marker.label.empty()) continue;
      const uint32_t size = uint32_t(4 + marker.label.size() + 1);
      PutTag(labels, "labl");
      Put(labels, size);
      Put(labels, marker.id);
      for (char c : marker.label) Put(labels, uint8_t(c));
      Put(labels, uint8_t(0));
      if (size % 2) Put(labels, uint8_t(0));  // chunks start on even offsets
    }
    if (!labels.empty()) {
      PutTag(out, "LIST");
      Put(out, uint32_t(4 + labels.size()));
      PutTag(out, "adtl");
      out.insert(out.end(), labels.begin(), labels.end());
    }
  }

  if (tone.loop) {
    PutTag(out, "smpl");
    Put(out, uint32_t(36 + 24));
    Put(out, uint32_t(0));                                                  // manufacturer
    Put(out, uint32_t(0));                                                  // product
    Put(out, uint32_t(tone.sampleRate ? 1000000000u / tone.sampleRate : 0));  // sample period, ns
    Put(out, uint32_t(60));                                                 // unity note
    Put(out, uint32_t(0));                                                  // pitch fraction
    Put(out, uint32_t(0));                                                  // SMPTE format
    Put(out, uint32_t(0));                                                  // SMPTE offset
    Put(out, uint32_t(1));                                                  // loops
    Put(out, uint32_t(0));                                                  // sampler data bytes
    Put(out, uint32_t(0));                                                  // loop id
    Put(out, uint32_t(0));                                                  // forward
    Put(out, tone.loopStart);
    Put(out, tone.loopEnd);
    Put(out, uint32_t(0));                                                  // fraction
    Put(out, uint32_t(0));                                                  // endless
  }

  PutTag(out, "data");
  Put(out, uint32_t(tone.frames * blockAlign));
  const double twoPi = 6.283185307179586;
  for (uint32_t frame = 0; frame < tone.frames; ++frame) {
    for (uint16_t c = 0; c < channels; ++c) {
      const double phase = twoPi * tone.frequency * (c + 1) * frame / (tone.sampleRate ? tone.sampleRate : 1);
      Put(out, int16_t(std::lround(16383.0 * std::sin(phase))));
    }
  }
  const uint32_t riffSize = uint32_t(out.size() - 8);
  memcpy(out.data() + 4, &riffSize, sizeof riffSize);
  return out;
}

}  // namespace Tools
