// Test signals and the RIFF layout of media, PCM and IMA-ADPCM.
#include "tools/SoundBank/ToneMedia.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SoundEngine/Sources/ImaAdpcm.h"
#include "SoundEngine/Sources/MediaHeader.h"
#include "tools/ContentWriters/Bytes.h"

namespace Tools {

namespace {

using ContentWriters::Put;

void PutTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) Put(out, uint8_t(tag[i]));
}

// The integer and float sub-formats of the extensible format record.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint16_t kXwmaFormatTag = 0x0161;

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

void PutFormat(std::vector<uint8_t>& out, const ToneDesc& tone, uint16_t channels) {
  const bool adpcm = tone.encoding == MediaEncoding::ImaAdpcm;
  const bool isFloat = tone.encoding == MediaEncoding::Float32;
  uint32_t bytes = tone.formatBytes ? tone.formatBytes : (adpcm ? 24 : 40);
  if (bytes < 24) bytes = 24;
  if (tone.fault == MediaFault::ShortFormat) bytes = 16;
  uint16_t bits = adpcm ? 4 : isFloat ? 32 : 16;
  if (tone.fault == MediaFault::Bits24) bits = 24;
  uint16_t blockAlign = uint16_t(adpcm ? SN::kAdpcmBlockBytes * channels : channels * (bits / 8));
  if (tone.fault == MediaFault::BlockAlignZero) blockAlign = 0;
  if (tone.fault == MediaFault::BlockAlignWide) ++blockAlign;
  uint16_t fileChannels = tone.fault == MediaFault::NoChannels ? 0 : channels;
  const uint32_t rate = tone.fault == MediaFault::RateZero ? 0 : tone.sampleRate;

  std::vector<uint8_t> body;
  // An "XWMA" form carries the format tag of its codec; its samples stay the tone's, for the parser.
  const uint16_t tag = tone.xwmaForm ? kXwmaFormatTag : adpcm ? SN::kWaveFormatImaAdpcm : SN::kWaveFormatExtensible;
  Put(body, tag);
  Put(body, fileChannels);
  Put(body, rate);
  Put(body, uint32_t(adpcm ? uint64_t(rate) * blockAlign / 64 : uint64_t(rate) * blockAlign));
  Put(body, blockAlign);
  Put(body, bits);
  Put(body, uint16_t(bytes >= 18 ? bytes - 18 : 0));  // extension bytes
  Put(body, uint16_t(adpcm ? SN::kAdpcmBlockFrames : bits));  // samples per block, or valid bits
  Put(body, ToneChannelMask(tone));
  if (!adpcm) for (uint8_t b : isFloat ? kFloatSubFormat : kPcmSubFormat) Put(body, b);
  body.resize(bytes, 0);
  PutTag(out, "fmt ");
  Put(out, uint32_t(bytes));
  ContentWriters::PutAll(out, body);
}

void PutCues(std::vector<uint8_t>& out, const ToneDesc& tone) {
  if (tone.markers.empty()) return;
  PutTag(out, "cue ");
  const uint32_t count = uint32_t(tone.markers.size());
  Put(out, uint32_t(4 + 24 * count));
  Put(out, tone.fault == MediaFault::CueCountPastChunk ? count + 1 : count);
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
  if (tone.fault == MediaFault::ShortLabel) {
    PutTag(labels, "labl");
    Put(labels, uint32_t(2));
    Put(labels, uint16_t(0));
  }
  if (!labels.empty()) {
    PutTag(out, "LIST");
    Put(out, uint32_t(4 + labels.size()));
    PutTag(out, "adtl");
    ContentWriters::PutAll(out, labels);
  }
}

void PutLoop(std::vector<uint8_t>& out, const ToneDesc& tone) {
  if (!tone.loop) return;
  const bool past = tone.fault == MediaFault::LoopRecordPastChunk;
  PutTag(out, "smpl");
  Put(out, uint32_t(36 + (tone.loopRecords ? 24 : 0)));
  Put(out, uint32_t(0));                                                    // manufacturer
  Put(out, uint32_t(0));                                                    // product
  Put(out, uint32_t(tone.sampleRate ? 1000000000u / tone.sampleRate : 0));  // sample period, ns
  Put(out, uint32_t(60));                                                   // unity note
  Put(out, uint32_t(0));                                                    // pitch fraction
  Put(out, uint32_t(0));                                                    // SMPTE format
  Put(out, uint32_t(0));                                                    // SMPTE offset
  Put(out, tone.loopRecords ? uint32_t(1) : uint32_t(0));                   // loops
  Put(out, uint32_t(past ? 0x40000000u : 0));                               // sampler data bytes
  if (!tone.loopRecords) return;
  Put(out, uint32_t(0));  // loop id
  Put(out, uint32_t(0));  // forward
  Put(out, tone.loopStart);
  Put(out, tone.loopEnd);
  Put(out, uint32_t(0));  // fraction
  Put(out, uint32_t(0));  // endless
}

void PutEnvelope(std::vector<uint8_t>& out, const ToneDesc& tone) {
  if (tone.envelope.empty()) return;
  const uint32_t count = uint32_t(tone.envelope.size());
  PutTag(out, "akd ");
  Put(out, uint32_t(16 + 6 * count));
  Put(out, uint32_t(0));
  Put(out, uint32_t(0));
  Put(out, tone.fault == MediaFault::EnvelopePastChunk ? count + 1 : count);
  Put(out, tone.envelopeReference);
  for (const EnvelopePoint& point : tone.envelope) {
    Put(out, point.frame);
    Put(out, point.attenuation);
  }
}

std::vector<uint8_t> SampleBytes(const ToneDesc& tone, uint16_t channels) {
  std::vector<uint8_t> out;
  if (tone.encoding == MediaEncoding::Float32) {
    for (uint32_t frame = 0; frame < tone.frames; ++frame) Put(out, ToneFloatSample(tone, frame));
    return out;
  }
  std::vector<int16_t> samples(size_t(tone.frames) * channels);
  for (uint32_t frame = 0; frame < tone.frames; ++frame)
    for (uint16_t c = 0; c < channels; ++c) samples[size_t(frame) * channels + c] = ToneSample(tone, frame, c);
  if (tone.encoding == MediaEncoding::Pcm16) {
    ContentWriters::PutAll(out, samples);
    return out;
  }
  out = EncodeImaAdpcm(samples, channels);
  if (tone.fault == MediaFault::StepIndexPast88 && !out.empty()) out[2] = 200;
  if (tone.fault == MediaFault::PartialBlockGroup) out.resize(out.size() + SN::kAdpcmBlockBytes * channels / 2, 0);
  return out;
}

// A sine stops at rest when its last frame closes a half cycle of every channel; any other stops off
// zero, a click, unless its last frames ramp down. 5 ms (a quarter of a shorter tone) is short
// enough to keep the tone's length and long enough to hear no edge. A loop running into those frames
// would ramp on every pass: a looping tone keeps them whole.
uint32_t TailRampFrames(const ToneDesc& tone) {
  if (tone.signal != ToneSignal::Sine || tone.sampleRate == 0 || tone.frames == 0) return 0;
  const uint32_t ramp = std::min(tone.frames / 4, tone.sampleRate / 200);
  if (tone.loop && tone.loopEnd + ramp >= tone.frames) return 0;
  const uint16_t channels = tone.channels ? tone.channels : 1;
  for (uint16_t c = 0; c < channels; ++c) {
    const double halfCycles = 2.0 * double(tone.frequency) * (c + 1) * tone.frames / tone.sampleRate;
    if (std::fabs(halfCycles - std::round(halfCycles)) > 1e-6) return ramp;
  }
  return 0;
}

double SineGain(const ToneDesc& tone, uint32_t frame) {
  const uint32_t ramp = TailRampFrames(tone);
  if (frame + ramp < tone.frames) return 1.0;
  return double(tone.frames - frame) / (ramp + 1.0);
}

}  // namespace

bool MediaFaultNamed(const std::string& name, MediaFault& fault) {
  static const struct {
    const char* name;
    MediaFault fault;
  } kNames[] = {
      {"data-before-format", MediaFault::DataBeforeFormat}, {"cue-before-format", MediaFault::CueBeforeFormat},
      {"cue-count-past-chunk", MediaFault::CueCountPastChunk}, {"short-label", MediaFault::ShortLabel},
      {"loop-record-past-chunk", MediaFault::LoopRecordPastChunk},
      {"envelope-past-chunk", MediaFault::EnvelopePastChunk}, {"short-format", MediaFault::ShortFormat},
      {"block-align-zero", MediaFault::BlockAlignZero}, {"block-align-wide", MediaFault::BlockAlignWide},
      {"no-channels", MediaFault::NoChannels}, {"rate-zero", MediaFault::RateZero}, {"bits-24", MediaFault::Bits24},
      {"trailing-bytes", MediaFault::TrailingBytes}, {"partial-block-group", MediaFault::PartialBlockGroup},
      {"step-index-past-88", MediaFault::StepIndexPast88}, {"cut-in-header", MediaFault::CutInHeader},
  };
  for (const auto& entry : kNames)
    if (name == entry.name) {
      fault = entry.fault;
      return true;
    }
  return false;
}

uint32_t ToneChannelMask(const ToneDesc& tone) {
  if (tone.channelMask) return tone.channelMask;
  if (tone.channels <= 1) return 0x4;  // front centre
  if (tone.channels == 2) return 0x3;  // front left and right
  return (tone.channels >= 32 ? 0xFFFFFFFFu : (1u << tone.channels) - 1u);
}

int16_t ToneSample(const ToneDesc& tone, uint32_t frame, uint16_t channel) {
  switch (tone.signal) {
    case ToneSignal::Ramp:
      return int16_t(uint16_t(uint32_t(frame) * 37u * (channel + 1u)));
    case ToneSignal::Noise:
      return int16_t(uint16_t(Hash(frame * 8u + channel) >> 3) & 0xFFFF);
    case ToneSignal::Dc: {
      const long value = std::lround(double(tone.level) * 32768.0);
      return int16_t(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
    }
    case ToneSignal::Sine:
      break;
  }
  const double twoPi = 6.283185307179586;
  const double phase = twoPi * tone.frequency * (channel + 1) * frame / (tone.sampleRate ? tone.sampleRate : 1);
  return int16_t(std::lround(16383.0 * std::sin(phase) * SineGain(tone, frame)));
}

float ToneFloatSample(const ToneDesc& tone, uint32_t frame) {
  if (tone.signal != ToneSignal::Sine) return float(ToneSample(tone, frame, 0)) / 32768.0f;
  const double twoPi = 6.283185307179586;
  return float(0.5 * std::sin(twoPi * tone.frequency * frame / (tone.sampleRate ? tone.sampleRate : 1)) *
               SineGain(tone, frame));
}

std::vector<uint8_t> EncodeImaAdpcm(const std::vector<int16_t>& interleaved, uint16_t channels) {
  std::vector<uint8_t> out;
  if (channels == 0) return out;
  const size_t frames = interleaved.size() / channels;
  const size_t groups = (frames + SN::kAdpcmBlockFrames - 1) / SN::kAdpcmBlockFrames;
  out.assign(groups * SN::kAdpcmBlockBytes * channels, 0);
  auto sample = [&](size_t frame, uint16_t c) -> int {
    // Past the end the last sample is held: the completed block ends without a step.
    if (frames == 0) return 0;
    return interleaved[(frame < frames ? frame : frames - 1) * channels + c];
  };
  for (uint16_t c = 0; c < channels; ++c) {
    int index = 0;
    for (size_t g = 0; g < groups; ++g) {
      uint8_t* block = out.data() + (g * channels + c) * SN::kAdpcmBlockBytes;
      const size_t first = g * SN::kAdpcmBlockFrames;
      int predictor = sample(first, c);
      const int16_t head = int16_t(predictor);
      memcpy(block, &head, sizeof head);
      block[2] = uint8_t(index);
      block[3] = 0;
      for (uint32_t s = 1; s < SN::kAdpcmBlockFrames; ++s) {
        const int target = sample(first + s, c);
        uint32_t best = 0;
        int bestError = -1, bestPredictor = predictor, bestIndex = index;
        for (uint32_t nibble = 0; nibble < 16; ++nibble) {
          int p = predictor, i = index;
          const int error = std::abs(SN::ImaAdpcmNext(p, i, nibble) - target);
          if (bestError < 0 || error < bestError) {
            bestError = error;
            best = nibble;
            bestPredictor = p;
            bestIndex = i;
          }
        }
        predictor = bestPredictor;
        index = bestIndex;
        uint8_t& byte = block[4 + (s - 1) / 2];
        byte = uint8_t((s - 1) % 2 ? byte | (best << 4) : best);
      }
    }
  }
  return out;
}

std::vector<uint8_t> WriteToneMedia(const ToneDesc& tone) {
  const uint16_t channels = tone.channels ? tone.channels : 1;
  std::vector<uint8_t> out;
  PutTag(out, "RIFF");
  Put(out, uint32_t(0));  // patched below
  if (tone.xwmaForm)
    PutTag(out, "XWMA");
  else
    PutTag(out, "WAVE");

  const std::vector<uint8_t> samples = SampleBytes(tone, channels);
  auto putData = [&] {
    PutTag(out, "data");
    Put(out, uint32_t(samples.size()));
    ContentWriters::PutAll(out, samples);
  };
  if (tone.fault == MediaFault::DataBeforeFormat) putData();
  if (tone.fault == MediaFault::CueBeforeFormat) PutCues(out, tone);
  PutFormat(out, tone, channels);
  if (tone.fault != MediaFault::CueBeforeFormat) PutCues(out, tone);
  PutLoop(out, tone);
  PutEnvelope(out, tone);
  if (tone.fault == MediaFault::CutInHeader) {
    // Ends within a chunk body: the reader has not got the header yet.
    PutTag(out, "cue ");
    Put(out, uint32_t(4 + 24));
    Put(out, uint32_t(1));
  } else if (tone.fault != MediaFault::DataBeforeFormat) {
    putData();
  }
  if (tone.fault == MediaFault::TrailingBytes) out.resize(out.size() + 6, 0);
  const uint32_t riffSize = uint32_t(out.size() - 8);
  memcpy(out.data() + 4, &riffSize, sizeof riffSize);
  return out;
}

uint32_t MediaDataOffset(const std::vector<uint8_t>& media) {
  auto word = [&](size_t at) {
    uint32_t value = 0;
    memcpy(&value, media.data() + at, sizeof value);
    return value;
  };
  // Top-level chunks only: a "LIST" is stepped over whole, the "data" chunk never lies inside one.
  for (size_t at = 12; at + 8 <= media.size(); at += 8 + size_t(word(at + 4))) {
    if (word(at) == 0x61746164 /* data */) return uint32_t(at + 8);
  }
  return uint32_t(media.size());
}

}  // namespace Tools
