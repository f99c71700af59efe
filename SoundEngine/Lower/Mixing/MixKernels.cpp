// Mix and output kernels: SSE forms where they beat the compiler's vectorising of a plain loop by half
// again (AVX for the ramped add where the processor has it), plain loops elsewhere; each with the
// same operations in the same order as its plain form, so both round alike (the vector conversion
// and lrintf both round ties to even).
#include "SoundEngine/Lower/Mixing/MixKernels.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"

namespace SN::MixKernels {
namespace {

inline float RampStep(const SnGainRamp& ramp, float previousGain, float nextGain) {
  return (nextGain - previousGain) * ramp.reciprocal;
}

inline float Limit16(float value) {
  return value < -32768.0f ? -32768.0f : (value > 32767.0f ? 32767.0f : value);
}

// Four consecutive frame gains from frame t on: previous + (t + i) x step, as the plain loop forms them.
inline __m128 RampGains(float previousGain, float step, uint32_t t) {
  const __m128 index = _mm_add_ps(_mm_set1_ps(float(t)), _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f));
  return _mm_add_ps(_mm_set1_ps(previousGain), _mm_mul_ps(index, _mm_set1_ps(step)));
}

// A plain loop: the compiler's vectorising of it beats hand-written unpacking for two channels. The
// frame index is signed: an unsigned one could wrap at 2 x t and takes a two-step conversion to float,
// both of which keep the vectoriser away.
void InterleaveStereo(const float* __restrict left, const float* __restrict right, float* __restrict out,
                      uint32_t frames, float previousGain, float step) {
  for (int32_t t = 0; t < int32_t(frames); ++t) {
    const float gain = previousGain + float(t) * step;
    out[2 * t] = left[t] * gain;
    out[2 * t + 1] = right[t] * gain;
  }
}

// Four frames from frame t of six or eight planes, ramped: channels 0-3 of frame i in lows[i], the
// rest in highs[i] (zero past the sixth channel).
inline void RampedFramesOfFour(const float* const* planes, uint32_t channels, uint32_t t, float previousGain,
                               float step, __m128* lows, __m128* highs) {
  const __m128 gains = RampGains(previousGain, step, t);
  __m128 a0 = _mm_mul_ps(_mm_loadu_ps(planes[0] + t), gains);
  __m128 a1 = _mm_mul_ps(_mm_loadu_ps(planes[1] + t), gains);
  __m128 a2 = _mm_mul_ps(_mm_loadu_ps(planes[2] + t), gains);
  __m128 a3 = _mm_mul_ps(_mm_loadu_ps(planes[3] + t), gains);
  __m128 b0 = _mm_mul_ps(_mm_loadu_ps(planes[4] + t), gains);
  __m128 b1 = _mm_mul_ps(_mm_loadu_ps(planes[5] + t), gains);
  __m128 b2 = channels == 8 ? _mm_mul_ps(_mm_loadu_ps(planes[6] + t), gains) : _mm_setzero_ps();
  __m128 b3 = channels == 8 ? _mm_mul_ps(_mm_loadu_ps(planes[7] + t), gains) : _mm_setzero_ps();
  _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
  _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
  lows[0] = a0;
  lows[1] = a1;
  lows[2] = a2;
  lows[3] = a3;
  highs[0] = b0;
  highs[1] = b1;
  highs[2] = b2;
  highs[3] = b3;
}

// Six channels: four frames are 24 samples, six whole vectors. The first four planes are
// transposed; the last two interleaved pairwise and slotted in between, so every store is whole.
// Unity: a gain of exactly 1 all along, which multiplies nothing (x * 1 is x, bit for bit).
template <bool Unity>
uint32_t InterleaveSixFours(const float* const* planes, float* out, uint32_t t, uint32_t frames, float previousGain,
                            float step) {
  for (; t + 4 <= frames; t += 4) {
    const __m128 gains = Unity ? _mm_set1_ps(1.0f) : RampGains(previousGain, step, t);
    const auto load = [&](uint32_t c) {
      const __m128 samples = _mm_loadu_ps(planes[c] + t);
      return Unity ? samples : _mm_mul_ps(samples, gains);
    };
    __m128 a0 = load(0), a1 = load(1), a2 = load(2), a3 = load(3);
    const __m128 c4 = load(4), c5 = load(5);
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    const __m128 early = _mm_unpacklo_ps(c4, c5);  // channels 4 and 5 of frames 0 and 1
    const __m128 late = _mm_unpackhi_ps(c4, c5);   // of frames 2 and 3
    float* frame = out + size_t(t) * 6;
    _mm_storeu_ps(frame, a0);
    _mm_storeu_ps(frame + 4, _mm_movelh_ps(early, a1));
    _mm_storeu_ps(frame + 8, _mm_shuffle_ps(a1, early, _MM_SHUFFLE(3, 2, 3, 2)));
    _mm_storeu_ps(frame + 12, a2);
    _mm_storeu_ps(frame + 16, _mm_movelh_ps(late, a3));
    _mm_storeu_ps(frame + 20, _mm_shuffle_ps(a3, late, _MM_SHUFFLE(3, 2, 3, 2)));
  }
  return t;
}

// The same for eight frames at once in the wide registers: frames 0-3 in the low halves, 4-7 in the
// high, each half shuffled as above, then the halves put in memory order. Half the stores and
// shuffles of the four-frame form, which is what holds it back: it writes as fast as it reads.
template <bool Unity>
__attribute__((target("avx"))) inline __m256 ScaledEight(const float* samples, __m256 gains) {
  return Unity ? _mm256_loadu_ps(samples) : _mm256_mul_ps(_mm256_loadu_ps(samples), gains);
}

// Per lane, the four-by-four transpose of four planes' samples: f[i] holds frame i's four channels
// (frames 0-3 in the low lane, 4-7 in the high).
__attribute__((target("avx"))) inline void TransposeFours(const __m256* q, __m256* f) {
  const __m256 low01 = _mm256_unpacklo_ps(q[0], q[1]), low23 = _mm256_unpacklo_ps(q[2], q[3]);
  const __m256 high01 = _mm256_unpackhi_ps(q[0], q[1]), high23 = _mm256_unpackhi_ps(q[2], q[3]);
  f[0] = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(1, 0, 1, 0));
  f[1] = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(3, 2, 3, 2));
  f[2] = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(1, 0, 1, 0));
  f[3] = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(3, 2, 3, 2));
}

// Six or eight channels. With eight, the last four planes are transposed as the first four, and each
// frame's two halves joined across the lanes: whole frames of the wide registers are stored.
template <uint32_t Channels, bool Unity>
__attribute__((target("avx"))) uint32_t InterleaveEights(const float* const* planes, float* out, uint32_t frames,
                                                        float previousGain, float step) {
  const __m256 previous = _mm256_set1_ps(previousGain);
  const __m256 steps = _mm256_set1_ps(step);
  const __m256 eight = _mm256_set1_ps(8.0f);
  // t + i for each frame, counted in floats (exact below 2^24 frames), so no conversion is needed.
  __m256 index = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
  uint32_t t = 0;
  for (; t + 8 <= frames; t += 8, index = _mm256_add_ps(index, eight)) {
    // previous + (t + i) x step, as RampGains forms it.
    const __m256 gains = Unity ? _mm256_set1_ps(1.0f) : _mm256_add_ps(previous, _mm256_mul_ps(index, steps));
    __m256 a[Channels];
    for (uint32_t c = 0; c < Channels; ++c) a[c] = ScaledEight<Unity>(planes[c] + t, gains);
    __m256 f[8];
    TransposeFours(a, f);
    float* frame = out + size_t(t) * Channels;
    if constexpr (Channels == 8) {
      TransposeFours(a + 4, f + 4);
      for (uint32_t i = 0; i < 4; ++i) {
        _mm256_storeu_ps(frame + 8 * i, _mm256_permute2f128_ps(f[i], f[4 + i], 0x20));
        _mm256_storeu_ps(frame + 8 * (4 + i), _mm256_permute2f128_ps(f[i], f[4 + i], 0x31));
      }
    } else {
      const __m256 early = _mm256_unpacklo_ps(a[4], a[5]);
      const __m256 late = _mm256_unpackhi_ps(a[4], a[5]);
      // Each holds four samples of the first four frames' 24 (low half) and of the last four's (high).
      const __m256 v1 = _mm256_shuffle_ps(early, f[1], _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 v2 = _mm256_shuffle_ps(f[1], early, _MM_SHUFFLE(3, 2, 3, 2));
      const __m256 v4 = _mm256_shuffle_ps(late, f[3], _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 v5 = _mm256_shuffle_ps(f[3], late, _MM_SHUFFLE(3, 2, 3, 2));
      _mm256_storeu_ps(frame, _mm256_permute2f128_ps(f[0], v1, 0x20));
      _mm256_storeu_ps(frame + 8, _mm256_permute2f128_ps(v2, f[2], 0x20));
      _mm256_storeu_ps(frame + 16, _mm256_permute2f128_ps(v4, v5, 0x20));
      _mm256_storeu_ps(frame + 24, _mm256_permute2f128_ps(f[0], v1, 0x31));
      _mm256_storeu_ps(frame + 32, _mm256_permute2f128_ps(v2, f[2], 0x31));
      _mm256_storeu_ps(frame + 40, _mm256_permute2f128_ps(v4, v5, 0x31));
    }
  }
  return t;
}

template <bool Unity>
uint32_t InterleaveSix(const float* const* planes, float* out, uint32_t frames, float previousGain, float step) {
  // Chosen once: the processor does not change under a running engine.
  static const bool wide = CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_AVX);
  const uint32_t t = wide ? InterleaveEights<6, Unity>(planes, out, frames, previousGain, step) : 0;
  return InterleaveSixFours<Unity>(planes, out, t, frames, previousGain, step);
}

// Six or eight channels: four frames of each plane, transposed into frames four channels at a time.
void InterleaveWide(const float* const* planes, uint32_t channels, float* out, uint32_t frames, float previousGain,
                    float step) {
  uint32_t t = 0;
  const bool unity = previousGain == 1.0f && step == 0.0f;
  if (channels == 6) {
    t = unity ? InterleaveSix<true>(planes, out, frames, previousGain, step)
              : InterleaveSix<false>(planes, out, frames, previousGain, step);
  } else {
    // Chosen once: the processor does not change under a running engine.
    static const bool wide = CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_AVX);
    if (wide)
      t = unity ? InterleaveEights<8, true>(planes, out, frames, previousGain, step)
                : InterleaveEights<8, false>(planes, out, frames, previousGain, step);
  }
  for (; t + 4 <= frames; t += 4) {
    __m128 lows[4], highs[4];
    RampedFramesOfFour(planes, channels, t, previousGain, step, lows, highs);
    float* frame = out + size_t(t) * channels;
    for (uint32_t i = 0; i < 4; ++i, frame += channels) {
      _mm_storeu_ps(frame, lows[i]);
      if (channels == 8)
        _mm_storeu_ps(frame + 4, highs[i]);
      else
        _mm_storel_pi(reinterpret_cast<__m64*>(frame + 4), highs[i]);
    }
  }
  for (; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < channels; ++c) out[size_t(t) * channels + c] = planes[c][t] * gain;
  }
}

void InterleaveGeneric(const float* const* planes, uint32_t channels, float* out, uint32_t frames,
                       float previousGain, float step) {
  for (uint32_t t = 0; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    const __m128 gains = _mm_set1_ps(gain);
    float* frame = out + size_t(t) * channels;
    uint32_t c = 0;
    for (; c + 4 <= channels; c += 4) {
      const __m128 samples = _mm_setr_ps(planes[c][t], planes[c + 1][t], planes[c + 2][t], planes[c + 3][t]);
      _mm_storeu_ps(frame + c, _mm_mul_ps(samples, gains));
    }
    for (; c < channels; ++c) frame[c] = planes[c][t] * gain;
  }
}

// One played sample: the ramped value limited to -1..1, then scaled and rounded. A NaN is silence
// (left alone, the vector maximum would make it full-scale DC); both forms take the same steps.
inline int16_t PlayedSample(float value) {
  value = value == value ? value : 0.0f;
  value = value > -1.0f ? value : -1.0f;
  value = value < 1.0f ? value : 1.0f;
  return int16_t(lrintf(value * 32767.0f));
}

inline __m128i PlayedSamples(__m128 values) {
  values = _mm_and_ps(values, _mm_cmpord_ps(values, values));
  const __m128 limited = _mm_min_ps(_mm_max_ps(values, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
  return _mm_cvtps_epi32(_mm_mul_ps(limited, _mm_set1_ps(32767.0f)));
}

void StereoToInt16(const float* left, const float* right, int16_t* out, uint32_t frames, float previousGain,
                   float step) {
  uint32_t t = 0;
  for (; t + 4 <= frames; t += 4) {
    const __m128 gains = RampGains(previousGain, step, t);
    const __m128i l = PlayedSamples(_mm_mul_ps(_mm_loadu_ps(left + t), gains));
    const __m128i r = PlayedSamples(_mm_mul_ps(_mm_loadu_ps(right + t), gains));
    const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * t), packed);
  }
  for (; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    out[2 * t] = PlayedSample(left[t] * gain);
    out[2 * t + 1] = PlayedSample(right[t] * gain);
  }
}

// Six or eight channels: transposed four frames at a time as InterleaveWide does, each frame
// converted and packed whole.
void WideToInt16(const float* const* planes, uint32_t channels, int16_t* out, uint32_t frames, float previousGain,
                 float step) {
  uint32_t t = 0;
  for (; t + 4 <= frames; t += 4) {
    __m128 lows[4], highs[4];
    RampedFramesOfFour(planes, channels, t, previousGain, step, lows, highs);
    int16_t* frame = out + size_t(t) * channels;
    for (uint32_t i = 0; i < 4; ++i, frame += channels) {
      const __m128i packed = _mm_packs_epi32(PlayedSamples(lows[i]), PlayedSamples(highs[i]));
      if (channels == 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frame), packed);
      } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), packed);
        const int32_t lastPair = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
        std::memcpy(frame + 4, &lastPair, sizeof lastPair);
      }
    }
  }
  for (; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < channels; ++c) out[size_t(t) * channels + c] = PlayedSample(planes[c][t] * gain);
  }
}

// out[t] (+)= in[t] x (initialGain + t x step): the first input of a buffer stores, the others add.
// From frame `first` on, the ramp standing where it would had it begun at frame 0.
template <bool kAdd>
void RampedPlain(const float* __restrict in, float* __restrict out, float initialGain, float step, uint32_t first,
                 uint32_t frames) {
  for (int32_t t = int32_t(first); t < int32_t(frames); ++t) {
    const float added = in[t] * (initialGain + float(t) * step);
    out[t] = kAdd ? out[t] + added : added;
  }
}

// Eight frames a vector through the wide registers, multiplies and adds kept apart (no fused form):
// the same operations in the same order as the plain loop, so the same bits. The frame index is
// counted in floats (exact below 2^24 frames) in four chains, so that the adds stepping it do not
// hold the loop to their latency.
template <bool kAdd>
__attribute__((target("avx"))) inline void RampedEight(const float* in, float* out, uint32_t t, __m256 index,
                                                       __m256 initial, __m256 steps) {
  const __m256 added = _mm256_mul_ps(_mm256_loadu_ps(in + t), _mm256_add_ps(initial, _mm256_mul_ps(index, steps)));
  _mm256_storeu_ps(out + t, kAdd ? _mm256_add_ps(_mm256_loadu_ps(out + t), added) : added);
}

template <bool kAdd>
__attribute__((target("avx"))) void RampedWide(const float* in, float* out, float initialGain, float step,
                                               uint32_t first, uint32_t frames) {
  const __m256 initial = _mm256_set1_ps(initialGain);
  const __m256 steps = _mm256_set1_ps(step);
  const __m256 eight = _mm256_set1_ps(8.0f);
  const __m256 stride = _mm256_set1_ps(32.0f);
  __m256 index0 =
      _mm256_add_ps(_mm256_set1_ps(float(first)), _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f));
  __m256 index1 = _mm256_add_ps(index0, eight);
  __m256 index2 = _mm256_add_ps(index1, eight);
  __m256 index3 = _mm256_add_ps(index2, eight);
  uint32_t t = first;
  for (; t + 32 <= frames; t += 32) {
    RampedEight<kAdd>(in, out, t, index0, initial, steps);
    RampedEight<kAdd>(in, out, t + 8, index1, initial, steps);
    RampedEight<kAdd>(in, out, t + 16, index2, initial, steps);
    RampedEight<kAdd>(in, out, t + 24, index3, initial, steps);
    index0 = _mm256_add_ps(index0, stride);
    index1 = _mm256_add_ps(index1, stride);
    index2 = _mm256_add_ps(index2, stride);
    index3 = _mm256_add_ps(index3, stride);
  }
  for (; t + 8 <= frames; t += 8) {
    RampedEight<kAdd>(in, out, t, index0, initial, steps);
    index0 = _mm256_add_ps(index0, eight);
  }
  for (; t < frames; ++t) {
    const float added = in[t] * (initialGain + float(t) * step);
    out[t] = kAdd ? out[t] + added : added;
  }
}

// Chosen once: the processor does not change under a running engine.
template <bool kAdd>
void Ramped(const float* in, float* out, float initialGain, float step, uint32_t first, uint32_t frames) {
  static const bool wide = CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_AVX);
  if (wide)
    RampedWide<kAdd>(in, out, initialGain, step, first, frames);
  else
    RampedPlain<kAdd>(in, out, initialGain, step, first, frames);
}

}  // namespace

void ChannelPlaneOffsets(SnChannelConfig config, uint32_t planeFrames, uint32_t* offsets) {
  const uint32_t channels = ChannelCount(config);
  if (!HasLfe(config)) {
    for (uint32_t k = 0; k < channels; ++k) offsets[k] = k * planeFrames;
    return;
  }
  // The LFE sits after the front speakers the mask has (left, right, centre) and is stored last.
  const uint32_t lfeAt = MaskChannelCount(ChannelMask(config) & (kSpeakerFrontLeft | kSpeakerFrontRight | kSpeakerCenter));
  for (uint32_t k = 0; k < channels; ++k) {
    const uint32_t plane = k < lfeAt ? k : (k == lfeAt ? channels - 1 : k - 1);
    offsets[k] = plane * planeFrames;
  }
}

// A signed index converts to float in one vector step and cannot wrap, so the compiler vectorises
// the plain form as well as a hand-written SSE kernel would.
void AddRampedPlain(const float* in, float* out, float initialGain, float step, uint32_t frames) {
  RampedPlain<true>(in, out, initialGain, step, 0, frames);
}

void AddRamped(const float* in, float* out, float initialGain, float step, uint32_t frames) {
  Ramped<true>(in, out, initialGain, step, 0, frames);
}

void SetRamped(const float* in, float* out, float initialGain, float step, uint32_t frames) {
  Ramped<false>(in, out, initialGain, step, 0, frames);
}

void AddWithMatrix(SnMixBuffer& out, const SnMixBuffer& in, const float* previousMatrix, const float* nextMatrix,
                   float previousGain, float nextGain, uint32_t frames, bool overwrite, uint32_t heard,
                   uint32_t silent) {
  const uint32_t mixed = heard < frames ? heard : frames;
  const uint32_t first = silent < mixed ? silent : mixed;
  const uint32_t inChannels = ChannelCount(in.channelConfig);
  const uint32_t outChannels = ChannelCount(out.channelConfig);
  const bool inLfe = HasLfe(in.channelConfig) && inChannels > 0;
  const bool outLfe = HasLfe(out.channelConfig) && outChannels > 0;
  const uint32_t inMain = inChannels - (inLfe ? 1 : 0);
  const uint32_t outMain = outChannels - (outLfe ? 1 : 0);
  const uint32_t rowStride = (outChannels + 3) / 4 * 4;
  const float reciprocal = frames ? 1.0f / float(frames) : 0.0f;
  auto rampOf = [&](uint32_t i, uint32_t o, float& g0, float& step) {
    g0 = previousMatrix[i * rowStride + o] * previousGain;
    step = (nextGain * nextMatrix[i * rowStride + o] - g0) * reciprocal;
  };
  // Overwriting, an output plane's first pair stores and a plane no pair reaches is cleared: the
  // same values as clearing first and adding, without the pass that clears.
  bool written[256] = {};
  auto mix = [&](uint32_t i, uint32_t o, float g0, float step) {
    const float* source = in.samples + size_t(i) * in.maxFrames;
    float* target = out.samples + size_t(o) * out.maxFrames;
    if (overwrite && !written[o])
      Ramped<false>(source, target, g0, step, first, mixed);
    else
      Ramped<true>(source, target, g0, step, first, mixed);
    written[o] = true;
  };
  // One ramped add per pair of planes, each output taking its inputs in order. A pair silent at
  // both ends of the ramp adds nothing and is skipped: speaker matrices are mostly such pairs.
  for (uint32_t i = 0; i < inMain; ++i)
    for (uint32_t o = 0; o < outMain; ++o) {
      float g0, step;
      rampOf(i, o, g0, step);
      if (g0 == 0.0f && step == 0.0f) continue;
      mix(i, o, g0, step);
    }
  if (inLfe && outLfe) {
    float g0, step;
    rampOf(inChannels - 1, outChannels - 1, g0, step);
    mix(inChannels - 1, outChannels - 1, g0, step);
  }
  if (overwrite)
    for (uint32_t o = 0; o < outChannels; ++o) {
      if (written[o] && first) memset(out.samples + size_t(o) * out.maxFrames, 0, sizeof(float) * first);
      const uint32_t from = written[o] ? mixed : 0;
      if (from < out.maxFrames)
        memset(out.samples + size_t(o) * out.maxFrames + from, 0, sizeof(float) * (out.maxFrames - from));
    }
  out.validFrames = uint16_t(frames);
}

void ClearPastValid(SnMixBuffer& buffer, uint32_t leadingSilence) {
  if (const uint32_t leading = std::min<uint32_t>(leadingSilence, buffer.validFrames))
    for (uint32_t c = 0; c < ChannelCount(buffer.channelConfig); ++c)
      memset(buffer.samples + size_t(c) * buffer.maxFrames, 0, sizeof(float) * leading);
  if (buffer.validFrames < buffer.maxFrames)
    for (uint32_t c = 0; c < ChannelCount(buffer.channelConfig); ++c)
      memset(buffer.samples + size_t(c) * buffer.maxFrames + buffer.validFrames, 0,
             sizeof(float) * (buffer.maxFrames - buffer.validFrames));
  buffer.validFrames = buffer.maxFrames;
}

void InterleaveWithRampPlain(const SnGainRamp& ramp, const SnMixBuffer& in, float* out, float previousGain,
                             float nextGain) {
  const uint32_t channels = ChannelCount(in.channelConfig);
  uint32_t offsets[256];
  ChannelPlaneOffsets(in.channelConfig, in.maxFrames, offsets);
  const float step = RampStep(ramp, previousGain, nextGain);
  for (uint32_t t = 0; t < ramp.frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < channels; ++c) out[size_t(t) * channels + c] = in.samples[offsets[c] + t] * gain;
  }
}

void InterleaveWithRamp(const SnGainRamp& ramp, const SnMixBuffer& in, float* out, float previousGain,
                        float nextGain) {
  const uint32_t channels = ChannelCount(in.channelConfig);
  if (channels == 0) return;
  uint32_t offsets[256];
  ChannelPlaneOffsets(in.channelConfig, in.maxFrames, offsets);
  const float* planes[256];
  for (uint32_t c = 0; c < channels; ++c) planes[c] = in.samples + offsets[c];
  const float step = RampStep(ramp, previousGain, nextGain);
  if (channels == 2)
    InterleaveStereo(planes[0], planes[1], out, ramp.frames, previousGain, step);
  else if (channels == 6 || channels == 8)
    InterleaveWide(planes, channels, out, ramp.frames, previousGain, step);
  else
    InterleaveGeneric(planes, channels, out, ramp.frames, previousGain, step);
}

void InterleaveToInt16WithRampPlain(const SnGainRamp& ramp, const SnMixBuffer& in, int16_t* out,
                                    float previousGain, float nextGain) {
  const uint32_t channels = ChannelCount(in.channelConfig);
  uint32_t offsets[256];
  ChannelPlaneOffsets(in.channelConfig, in.maxFrames, offsets);
  const float step = RampStep(ramp, previousGain, nextGain);
  for (uint32_t t = 0; t < ramp.frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < channels; ++c)
      out[size_t(t) * channels + c] = PlayedSample(in.samples[offsets[c] + t] * gain);
  }
}

void InterleaveToInt16WithRamp(const SnGainRamp& ramp, const SnMixBuffer& in, int16_t* out, float previousGain,
                               float nextGain) {
  const uint32_t channels = ChannelCount(in.channelConfig);
  if (channels != 2 && channels != 6 && channels != 8) {
    InterleaveToInt16WithRampPlain(ramp, in, out, previousGain, nextGain);
    return;
  }
  uint32_t offsets[8];
  ChannelPlaneOffsets(in.channelConfig, in.maxFrames, offsets);
  const float* planes[8];
  for (uint32_t c = 0; c < channels; ++c) planes[c] = in.samples + offsets[c];
  const float step = RampStep(ramp, previousGain, nextGain);
  if (channels == 2)
    StereoToInt16(planes[0], planes[1], out, ramp.frames, previousGain, step);
  else
    WideToInt16(planes, channels, out, ramp.frames, previousGain, step);
}

void ToInt16WithRampPlain(const float* in, uint32_t planeFrames, int16_t* out, uint32_t frames,
                          SnChannelConfig config, uint32_t outChannels, float previousGain, float nextGain) {
  const uint32_t channels = ChannelCount(config);
  uint32_t offsets[256];
  ChannelPlaneOffsets(config, planeFrames, offsets);
  const float step = frames ? (nextGain - previousGain) / float(frames) : 0.0f;
  for (uint32_t t = 0; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < outChannels; ++c) {
      const float value = c < channels ? in[offsets[c] + t] * gain * 32767.0f : 0.0f;
      out[size_t(t) * outChannels + c] = int16_t(lrintf(Limit16(value)));
    }
  }
}

void ToInt16WithRamp(const float* in, uint32_t planeFrames, int16_t* out, uint32_t frames, SnChannelConfig config,
                     uint32_t outChannels, float previousGain, float nextGain) {
  const uint32_t channels = ChannelCount(config);
  const uint32_t used = channels < outChannels ? channels : outChannels;
  uint32_t offsets[256];
  ChannelPlaneOffsets(config, planeFrames, offsets);
  const float step = frames ? (nextGain - previousGain) / float(frames) : 0.0f;
  const __m128 scale = _mm_set1_ps(32767.0f);
  const __m128 low = _mm_set1_ps(-32768.0f);
  const __m128 high = _mm_set1_ps(32767.0f);
  uint32_t t = 0;
  for (; t + 4 <= frames; t += 4) {
    const __m128 gains = RampGains(previousGain, step, t);
    int16_t* frame = out + size_t(t) * outChannels;
    for (uint32_t c = 0; c < used; ++c) {
      const __m128 values = _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(in + offsets[c] + t), gains), scale);
      alignas(16) int32_t rounded[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(rounded), _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(values, low), high)));
      frame[c] = int16_t(rounded[0]);
      frame[outChannels + c] = int16_t(rounded[1]);
      frame[2 * outChannels + c] = int16_t(rounded[2]);
      frame[3 * outChannels + c] = int16_t(rounded[3]);
    }
    for (uint32_t c = used; c < outChannels; ++c)
      for (uint32_t i = 0; i < 4; ++i) frame[i * outChannels + c] = 0;
  }
  for (; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < outChannels; ++c) {
      const float value = c < used ? in[offsets[c] + t] * gain * 32767.0f : 0.0f;
      out[size_t(t) * outChannels + c] = int16_t(lrintf(Limit16(value)));
    }
  }
}

}  // namespace SN::MixKernels

namespace SN {
namespace {

// 2^(x x 0.12432813) from the float bits of a scaled x and a quadratic on the mantissa.
float FastPow2Scaled(float x) {
  const int32_t bits = int32_t(x * 1042939.9375f + 1065353216.0f);
  float whole;
  std::memcpy(&whole, &bits, sizeof whole);
  const int32_t mantissaBits = (bits & 0x007FFFFF) | 0x3F800000;
  const int32_t exponentBits = bits & 0x7F800000;
  float mantissa, exponent;
  std::memcpy(&mantissa, &mantissaBits, sizeof mantissa);
  std::memcpy(&exponent, &exponentBits, sizeof exponent);
  (void)whole;
  return ((mantissa * 0.32518977f + 0.020805772f) * mantissa + 0.65304345f) * exponent;
}

}  // namespace

float FilterCutoff(float value, bool motion) {
  const float limit = 0.45f * float(LowerEngine::SampleRate());
  float hertz;
  if (motion) {
    const uint32_t samples = LowerEngine::SamplesPerFrame();
    const uint16_t rate = samples ? uint16_t(uint32_t(float(LowerEngine::SampleRate()) / float(samples) * 8.0f)) : 0;
    const float half = float(rate) * 0.5f;
    hertz = half - (half - 1.0f) * 0.01f * value;
  } else if (value < 30.0f) {
    hertz = 7000.0f + (30.0f - value) * 433.3333f;
  } else {
    hertz = 16.797443f * FastPow2Scaled(100.0f - value);
  }
  return hertz > limit ? limit : hertz;
}

}  // namespace SN
