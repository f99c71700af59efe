// The engine's media written from test signals: RIFF "WAVE" with the extensible format tag (16-bit or
// mono float PCM) or IMA-ADPCM blocks of our own encoder, with cue points and labels, a sampler loop, a
// loudness envelope, a format record of any size from 24 bytes, and the malformed variants the
// parser must refuse.
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

enum class MediaEncoding : uint8_t { Pcm16, Float32, ImaAdpcm };

// Sine: channel c sounds (c + 1) times the frequency at half scale from phase 0; a sine whose last frame
// does not close a half cycle of every channel fades to zero over its last 5 ms (a quarter of a shorter
// tone), unless its loop runs through them. Ramp: a sawtooth over the whole
// 16-bit range, one step of 37 x (c + 1) per frame, which tells every frame apart. Noise: a fixed
// sequence of each channel. Dc: every sample of every channel at `level` of full scale.
enum class ToneSignal : uint8_t { Sine, Ramp, Noise, Dc };

struct EnvelopePoint {
  uint32_t frame = 0;
  uint16_t attenuation = 0;  // dB below the reference
};

// What a malformed variant breaks; the rest of the media stays as described.
enum class MediaFault : uint8_t {
  None,
  DataBeforeFormat,     // "data" ahead of "fmt "
  CueBeforeFormat,
  CueCountPastChunk,    // a "cue " point count larger than its chunk holds
  ShortLabel,           // a "labl" of 2 bytes
  LoopRecordPastChunk,  // a "smpl" whose sampler-data size puts the loop record past the chunk
  EnvelopePastChunk,    // an "akd " point count larger than its chunk holds
  ShortFormat,          // a "fmt " of 16 bytes
  BlockAlignZero,
  BlockAlignWide,       // one byte more than a frame (or a block group)
  NoChannels,
  RateZero,
  Bits24,
  TrailingBytes,        // 6 bytes after "data"
  PartialBlockGroup,    // ADPCM data ending half way into a block group
  StepIndexPast88,      // an ADPCM block header with step index 200
  CutInHeader,          // the media ends inside the "cue " chunk
};

struct ToneDesc {
  uint32_t sampleRate = 48000;
  uint16_t channels = 1;
  uint32_t frames = 0;  // ADPCM media hold whole blocks of 64: the last is completed with silence
  float frequency = 440.0f;
  float level = 0.5f;  // a Dc signal's, -1 to 1
  MediaEncoding encoding = MediaEncoding::Pcm16;
  ToneSignal signal = ToneSignal::Sine;
  uint32_t channelMask = 0;  // 0: centre for mono, front pair for stereo, the low bits for more
  uint32_t formatBytes = 0;  // 0: 40 for PCM, 24 for ADPCM; never below 24 but for ShortFormat
  std::vector<ToneMarker> markers;
  bool loop = false;
  uint32_t loopStart = 0;
  uint32_t loopEnd = 0;  // inclusive
  bool loopRecords = true;  // false: a "smpl" that counts no loop
  std::vector<EnvelopePoint> envelope;  // an "akd " chunk when not empty
  float envelopeReference = 0.0f;
  bool xwmaForm = false;  // "XWMA" with the WMA format tag: parsed, played by no built-in source
  MediaFault fault = MediaFault::None;
};

std::vector<uint8_t> WriteToneMedia(const ToneDesc& tone);
// The fault of a name as bank descriptions give it ("cue-count-past-chunk"); false for none such.
bool MediaFaultNamed(const std::string& name, MediaFault& fault);

// Where the first sample byte of media lies: the body of its "data" chunk (its whole size without one).
uint32_t MediaDataOffset(const std::vector<uint8_t>& media);

// The signal's 16-bit sample (what PCM media hold and what the ADPCM encoder is given).
int16_t ToneSample(const ToneDesc& tone, uint32_t frame, uint16_t channel);
// The float samples of mono float media.
float ToneFloatSample(const ToneDesc& tone, uint32_t frame);
// The channel mask written for the tone.
uint32_t ToneChannelMask(const ToneDesc& tone);

// IMA-ADPCM of interleaved 16-bit samples: frames / 64 rounded up block groups, each nibble the one
// whose decoded value comes nearest the signal, worked out by the decoder's own step.
std::vector<uint8_t> EncodeImaAdpcm(const std::vector<int16_t>& interleaved, uint16_t channels);

}  // namespace Tools
