// Mixed frames as the platform plays them: 16-bit or float frames of the output's layout, by speaker,
// never beyond full scale.
#include "SoundEngine/Lower/Mixing/FrameConvert.h"

#include <immintrin.h>

#include <cmath>
#include <limits>

#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"

namespace SN::FrameConvert {
namespace {

constexpr float kFoldGain = 0.707f;

// Held to -1..1 with a NaN as silence: the same operations as the vector form below, so that both
// give the same bits. Float platforms take any value they are given, so this is what keeps a NaN or
// an infinity from the speaker.
inline float FullScale(float value) {
  value = value == value ? value : 0.0f;
  value = value > -1.0f ? value : -1.0f;
  return value < 1.0f ? value : 1.0f;
}

inline __m128 FullScale(__m128 values) {
  values = _mm_and_ps(values, _mm_cmpord_ps(values, values));
  return _mm_min_ps(_mm_max_ps(values, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
}

// What a source gives: a NaN or an infinity is silence, and a finite sample is held to +24 dB, the
// most the engine lets a voice's gains lift it, so that a source written loud for its voice's volume
// to bring down is heard as it was written. The vector form gives the same bits.
constexpr float kSourceCeiling = kLinearVolumeRange.max;

inline float SourceSample(float value) {
  if (!std::isfinite(value)) return 0.0f;
  value = value > -kSourceCeiling ? value : -kSourceCeiling;
  return value < kSourceCeiling ? value : kSourceCeiling;
}

inline __m128 SourceSample(__m128 values) {
  const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), values);
  values = _mm_and_ps(values, _mm_cmplt_ps(magnitude, _mm_set1_ps(std::numeric_limits<float>::infinity())));
  return _mm_min_ps(_mm_max_ps(values, _mm_set1_ps(-kSourceCeiling)), _mm_set1_ps(kSourceCeiling));
}

// `count` samples held four at a time, then one by one; true when one was changed (a NaN differs
// from everything, so one is always changed).
template <__m128 (*HoldFour)(__m128), float (*HoldOne)(float)>
bool HoldSamples(const float* in, float* out, size_t count) {
  size_t i = 0;
  __m128 changed = _mm_setzero_ps();
  for (; i + 4 <= count; i += 4) {
    const __m128 value = _mm_loadu_ps(in + i);
    const __m128 held = HoldFour(value);
    changed = _mm_or_ps(changed, _mm_cmpneq_ps(value, held));
    _mm_storeu_ps(out + i, held);
  }
  bool any = _mm_movemask_ps(changed) != 0;
  for (; i < count; ++i) {
    const float value = in[i];
    out[i] = HoldOne(value);
    any |= !(value == out[i]);
  }
  return any;
}

// Limited as the fused kernel limits, scaled and rounded to nearest.
inline int16_t ToSample(float value) { return int16_t(lrintf(FullScale(value) * 32767.0f)); }

// The interleaved index of each speaker bit of a mask (LFE after the front speakers), -1 when absent.
void SpeakerIndices(SnChannelConfig config, int32_t* indexOfBit) {
  for (int b = 0; b < 20; ++b) indexOfBit[b] = -1;
  const uint32_t mask = ChannelMask(config);
  uint32_t offsets[256];
  const uint32_t channels = ChannelCount(config);
  MixKernels::ChannelPlaneOffsets(config, 1, offsets);
  // Planes in mask order with the LFE last; the interleaved order puts it after the front speakers.
  int32_t plane = 0;
  int32_t lfePlane = int32_t(channels) - 1;
  for (int b = 0; b < 20; ++b) {
    if (!(mask & (1u << b))) continue;
    const int32_t p = (1u << b) == kSpeakerLfe ? lfePlane : plane++;
    for (uint32_t k = 0; k < channels; ++k)
      if (int32_t(offsets[k]) == p) indexOfBit[b] = int32_t(k);
  }
}

int Bit(uint32_t speaker) { return __builtin_ctz(speaker); }

template <class Sample, Sample (*ToOut)(float)>
void Remap(const float* in, SnChannelConfig inConfig, Sample* out, SnChannelConfig outConfig, uint32_t frames) {
  const uint32_t inChannels = ChannelCount(inConfig);
  const uint32_t outChannels = ChannelCount(outConfig);
  if (inConfig == outConfig) {
    for (uint32_t i = 0; i < inChannels * frames; ++i) out[i] = ToOut(in[i]);
    return;
  }
  int32_t inAt[20], outAt[20];
  SpeakerIndices(inConfig, inAt);
  SpeakerIndices(outConfig, outAt);
  const bool byMask = ChannelMask(inConfig) != 0 && ChannelMask(outConfig) != 0;
  const uint32_t inMask = ChannelMask(inConfig);
  const uint32_t outMask = ChannelMask(outConfig);
  // Input speakers the output lacks, folded into its front pair.
  const int32_t centre = !(outMask & kSpeakerCenter) ? inAt[Bit(kSpeakerCenter)] : -1;
  int32_t lefts[2] = {-1, -1}, rights[2] = {-1, -1};
  if (!(outMask & kSpeakerBackLeft)) lefts[0] = inAt[Bit(kSpeakerBackLeft)];
  if (!(outMask & kSpeakerSideLeft)) lefts[1] = inAt[Bit(kSpeakerSideLeft)];
  if (!(outMask & kSpeakerBackRight)) rights[0] = inAt[Bit(kSpeakerBackRight)];
  if (!(outMask & kSpeakerSideRight)) rights[1] = inAt[Bit(kSpeakerSideRight)];
  const int32_t outLeft = outAt[Bit(kSpeakerFrontLeft)];
  const int32_t outRight = outAt[Bit(kSpeakerFrontRight)];
  const int32_t inLeft = inAt[Bit(kSpeakerFrontLeft)];
  const int32_t inRight = inAt[Bit(kSpeakerFrontRight)];
  for (uint32_t t = 0; t < frames; ++t) {
    const float* frame = in + size_t(t) * inChannels;
    Sample* target = out + size_t(t) * outChannels;
    if (!byMask) {
      for (uint32_t c = 0; c < outChannels; ++c) target[c] = c < inChannels ? ToOut(frame[c]) : 0;
      continue;
    }
    for (uint32_t b = 0; b < 20; ++b)
      if (outAt[b] >= 0) target[outAt[b]] = inAt[b] >= 0 ? ToOut(frame[inAt[b]]) : 0;
    if (outLeft >= 0 && outRight >= 0 && (inMask & ~outMask)) {
      float left = inLeft >= 0 ? frame[inLeft] : 0.0f;
      float right = inRight >= 0 ? frame[inRight] : 0.0f;
      if (centre >= 0) {
        left += kFoldGain * frame[centre];
        right += kFoldGain * frame[centre];
      }
      for (int i = 0; i < 2; ++i) {
        if (lefts[i] >= 0) left += kFoldGain * frame[lefts[i]];
        if (rights[i] >= 0) right += kFoldGain * frame[rights[i]];
      }
      target[outLeft] = ToOut(left);
      target[outRight] = ToOut(right);
    }
  }
}

}  // namespace

void ClipToFullScale(const float* in, float* out, size_t count) { HoldSamples<FullScale, FullScale>(in, out, count); }

bool HoldSourceSamples(float* samples, size_t count) {
  return HoldSamples<SourceSample, SourceSample>(samples, samples, count);
}

void InterleavedToInt16(const float* in, SnChannelConfig inConfig, int16_t* out, SnChannelConfig outConfig,
                        uint32_t frames) {
  Remap<int16_t, ToSample>(in, inConfig, out, outConfig, frames);
}

void InterleavedToFloat(const float* in, SnChannelConfig inConfig, float* out, SnChannelConfig outConfig,
                        uint32_t frames) {
  Remap<float, FullScale>(in, inConfig, out, outConfig, frames);
}

bool MixToInt16(const SnMixBuffer& mix, uint32_t frames, float previousGain, float nextGain,
                SnChannelConfig outConfig, float* scratch, int16_t* out) {
  if (ChannelCount(mix.channelConfig) > kMaxFrameChannels || ChannelCount(outConfig) > kMaxFrameChannels) return false;
  const SnGainRamp ramp{uint16_t(frames), 1.0f / float(mix.maxFrames)};
  if (mix.channelConfig == outConfig) {
    MixKernels::InterleaveToInt16WithRamp(ramp, mix, out, previousGain, nextGain);
  } else {
    MixKernels::InterleaveWithRamp(ramp, mix, scratch, previousGain, nextGain);
    InterleavedToInt16(scratch, mix.channelConfig, out, outConfig, frames);
  }
  return true;
}

}  // namespace SN::FrameConvert
