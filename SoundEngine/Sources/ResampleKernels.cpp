// The kernels: copies (scalar and SSE2), fixed-step and ramping-step linear interpolation of 16-bit
// and float media. Positions are 16.16 in 64-bit integers; x[0] is the frame saved from the previous
// input, x[k] input frame k - 1, so the first output of a buffer can lean on the one before it.
#include "SoundEngine/Sources/ResampleKernels.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Sources/PitchResampler.h"

namespace SN {

namespace {

constexpr float kInt16ToFloat = 3.0517578e-5f;
constexpr float kFixedToFloat = 4.656613e-10f;

// Where channel c of the input begins (at the input offset) and how far apart its frames lie. Samples
// are loaded through memcpy: a streamed source's frames may begin on any byte of a stream buffer.
struct InputView {
  const uint8_t* s16 = nullptr;
  const uint8_t* f32 = nullptr;
  uint32_t stride = 1;
  uint32_t planeStride = 0;
  uint32_t frames = 0;
  uint32_t channels = 0;

  InputView(const SnVoiceBuffer& in, const CSnPitchResampler& r) {
    channels = r.m_channels;
    frames = in.validFrames;
    if (r.IsFloat()) {
      f32 = static_cast<const uint8_t*>(in.data) + size_t(r.m_inputOffset) * sizeof(float);
      planeStride = in.maxFrames;
    } else {
      s16 = static_cast<const uint8_t*>(in.data) + size_t(r.m_inputOffset) * channels * sizeof(int16_t);
      stride = channels;
    }
  }
  int16_t S16(size_t index) const {
    int16_t value;
    memcpy(&value, s16 + index * sizeof(int16_t), sizeof value);
    return value;
  }
  float F32(size_t index) const {
    float value;
    memcpy(&value, f32 + index * sizeof(float), sizeof value);
    return value;
  }
};

float* OutputPlane(SnVoiceBuffer& out, uint32_t plane, uint32_t offset) {
  return static_cast<float*>(out.data) + size_t(plane) * out.maxFrames + offset;
}

// The bookkeeping every kernel ends with.
SNRESULT Finish(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r,
                uint32_t produced, uint32_t consumed) {
  in.validFrames = uint16_t(in.validFrames - consumed);
  r.m_inputOffset = in.validFrames ? r.m_inputOffset + consumed : 0;
  r.m_outputOffset += produced;
  out.validFrames = uint16_t(r.m_outputOffset);
  return r.m_outputOffset >= requested ? SN_DataReady : SNRESULT(43);
}

void SaveFrame(const InputView& v, CSnPitchResampler& r, uint32_t frame) {
  if (v.s16) {
    int16_t* store = r.LastFrame16();
    for (uint32_t c = 0; c < v.channels; ++c) store[c] = v.S16(size_t(frame) * v.stride + c);
  } else {
    float* store = r.LastFrameFloat();
    for (uint32_t c = 0; c < v.channels; ++c) store[c] = v.F32(size_t(c) * v.planeStride + frame);
  }
}

// ---- copies (state 0) ----

uint32_t CopyCount(const SnVoiceBuffer& in, uint32_t requested, const CSnPitchResampler& r) {
  return std::min<uint32_t>(requested > r.m_outputOffset ? requested - r.m_outputOffset : 0, in.validFrames);
}

SNRESULT CopyEnd(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r,
                 const InputView& v, uint32_t n) {
  if (n) SaveFrame(v, r, n - 1);
  r.m_position = kUnitStep;
  return Finish(in, out, requested, r, n, n);
}

// 16-bit mono and N channels keep the interleaved order; the stage de-interleaves afterwards.
SNRESULT CopyInterleaved16(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t n = CopyCount(in, requested, r);
  float* dst = static_cast<float*>(out.data) + size_t(r.m_outputOffset) * v.channels;
  const size_t samples = size_t(n) * v.channels;
  for (size_t i = 0; i < samples; ++i) dst[i] = float(v.S16(i)) * kInt16ToFloat;
  return CopyEnd(in, out, requested, r, v, n);
}

SNRESULT CopyStereo16(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t n = CopyCount(in, requested, r);
  float* left = OutputPlane(out, 0, r.m_outputOffset);
  float* right = OutputPlane(out, 1, r.m_outputOffset);
  for (uint32_t i = 0; i < n; ++i) {
    left[i] = float(v.S16(2 * size_t(i))) * kInt16ToFloat;
    right[i] = float(v.S16(2 * size_t(i) + 1)) * kInt16ToFloat;
  }
  return CopyEnd(in, out, requested, r, v, n);
}

__m128 Int16Lanes(__m128i widened) { return _mm_mul_ps(_mm_cvtepi32_ps(widened), _mm_set1_ps(kInt16ToFloat)); }

SNRESULT CopyInterleaved16Sse2(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t n = CopyCount(in, requested, r);
  float* dst = static_cast<float*>(out.data) + size_t(r.m_outputOffset) * v.channels;
  const size_t samples = size_t(n) * v.channels;
  size_t i = 0;
  for (; i + 16 <= samples; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.s16 + i * 2));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.s16 + (i + 8) * 2));
    _mm_storeu_ps(dst + i, Int16Lanes(_mm_srai_epi32(_mm_unpacklo_epi16(a, a), 16)));
    _mm_storeu_ps(dst + i + 4, Int16Lanes(_mm_srai_epi32(_mm_unpackhi_epi16(a, a), 16)));
    _mm_storeu_ps(dst + i + 8, Int16Lanes(_mm_srai_epi32(_mm_unpacklo_epi16(b, b), 16)));
    _mm_storeu_ps(dst + i + 12, Int16Lanes(_mm_srai_epi32(_mm_unpackhi_epi16(b, b), 16)));
  }
  for (; i < samples; ++i) dst[i] = float(v.S16(i)) * kInt16ToFloat;
  return CopyEnd(in, out, requested, r, v, n);
}

SNRESULT CopyStereo16Sse2(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t n = CopyCount(in, requested, r);
  float* left = OutputPlane(out, 0, r.m_outputOffset);
  float* right = OutputPlane(out, 1, r.m_outputOffset);
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    for (uint32_t q = 0; q < 16; q += 4) {
      // Four frames: left in the low halves of the 32-bit lanes, right in the high halves.
      const __m128i frames = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.s16 + 4 * size_t(i + q)));
      _mm_storeu_ps(left + i + q, Int16Lanes(_mm_srai_epi32(_mm_slli_epi32(frames, 16), 16)));
      _mm_storeu_ps(right + i + q, Int16Lanes(_mm_srai_epi32(frames, 16)));
    }
  }
  for (; i < n; ++i) {
    left[i] = float(v.S16(2 * size_t(i))) * kInt16ToFloat;
    right[i] = float(v.S16(2 * size_t(i) + 1)) * kInt16ToFloat;
  }
  return CopyEnd(in, out, requested, r, v, n);
}

SNRESULT CopyFloat(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t n = CopyCount(in, requested, r);
  for (uint32_t c = 0; c < v.channels; ++c)
    if (n) {
      memcpy(OutputPlane(out, c, r.m_outputOffset), v.f32 + size_t(c) * v.planeStride * sizeof(float),
             n * sizeof(float));
    }
  return CopyEnd(in, out, requested, r, v, n);
}

// ---- interpolation (states 1 and 2) ----

// One output of channel c between x[i] and x[i + 1] at fraction f; `saved` is x[0] of that channel.
// FromSaved: the phase where i is 0; otherwise i is at least 1 and x[i] is an input frame.
struct Lerp16 {
  using Saved = int64_t;
  static Saved SavedOf(const CSnPitchResampler& r, uint32_t c) {
    return r.m_pStore ? static_cast<const int16_t*>(r.m_pStore)[c] : r.m_inline.s16[c];
  }
  template <bool FromSaved>
  static float At(const InputView& v, Saved saved, uint32_t c, int64_t position) {
    const int64_t i = position >> 16;
    const int64_t f = position & 0xFFFF;
    const int64_t a = FromSaved ? saved : v.S16(size_t(i - 1) * v.stride + c);
    const int64_t b = v.S16(size_t(i) * v.stride + c);
    return float((b - a) * f + a * 65536) * kFixedToFloat;
  }
};
struct LerpFloat {
  using Saved = double;
  static Saved SavedOf(const CSnPitchResampler& r, uint32_t c) {
    return r.m_pStore ? static_cast<const float*>(r.m_pStore)[c] : r.m_inline.f32[c];
  }
  template <bool FromSaved>
  static float At(const InputView& v, Saved saved, uint32_t c, int64_t position) {
    const int64_t i = position >> 16;
    const double f = double(position & 0xFFFF);
    const size_t plane = size_t(c) * v.planeStride;
    const double a = FromSaved ? saved : v.F32(plane + size_t(i - 1));
    const double b = v.F32(plane + size_t(i));
    return float(a + (b - a) * f * (1.0 / 65536.0));
  }
};


uint32_t PlaneFor(const CSnPitchResampler& r, uint32_t channel, bool mapped) {
  return mapped ? PlaneOfChannel(channel, r.m_channelConfig) : channel;
}

// Consumes the input frames the position passed and keeps the last of them.
uint32_t Consume(const InputView& v, CSnPitchResampler& r, int64_t position) {
  const uint32_t consumed = uint32_t(std::min<int64_t>(position >> 16, v.frames));
  if (consumed) SaveFrame(v, r, consumed - 1);
  r.m_position = uint32_t(position - (int64_t(consumed) << 16));
  return consumed;
}

// Outputs at step S from position P that stay on x[i + 1] <= the last input frame: ceil((N << 16 - P) / S),
// never below 0 (a step that fell between calls leaves P past the input).
uint32_t FixedCount(const InputView& v, int64_t position, int64_t step, uint32_t room) {
  const int64_t allowed = ((int64_t(v.frames) << 16) - position - 1 + step) / step;
  return uint32_t(std::clamp<int64_t>(allowed, 0, room));
}

// CH: the channel count when the kernel is made for one (1 or 2), 0 for any. Channels are the inner
// loop, so a frame's position and fraction are worked out once for all of them. Interleaved: the
// output holds whole frames one after another rather than planes.
template <class Lerp, bool Mapped, int CH, bool Interleaved = false>
SNRESULT FixedStep(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t channels = CH ? uint32_t(CH) : v.channels;
  const int64_t step = r.m_currentStep;
  const int64_t start = r.m_position;
  const uint32_t room = requested > r.m_outputOffset ? requested - r.m_outputOffset : 0;
  const uint32_t n = FixedCount(v, start, step, room);
  // Phase 1 leans on the saved frame; phase 2 on input frames only.
  const uint32_t first = start < 0x10000 ? uint32_t(std::min<int64_t>(n, (0x10000 - start + step - 1) / step)) : 0;
  float* dst[256];
  typename Lerp::Saved saved[256];
  const size_t stride = Interleaved ? channels : 1;
  for (uint32_t c = 0; c < channels; ++c) {
    dst[c] = Interleaved ? static_cast<float*>(out.data) + size_t(r.m_outputOffset) * channels + c
                         : OutputPlane(out, PlaneFor(r, c, Mapped), r.m_outputOffset);
    saved[c] = Lerp::SavedOf(r, c);
  }
  int64_t p = start;
  uint32_t k = 0;
  for (; k < first; ++k, p += step)
    for (uint32_t c = 0; c < channels; ++c) dst[c][k * stride] = Lerp::template At<true>(v, saved[c], c, p);
  for (; k < n; ++k, p += step)
    for (uint32_t c = 0; c < channels; ++c) dst[c][k * stride] = Lerp::template At<false>(v, saved[c], c, p);
  const uint32_t consumed = Consume(v, r, p);
  return Finish(in, out, requested, r, n, consumed);
}

// The interleaved float form for the common channel counts: a frame's input index and fraction are
// worked out once and its channels written one after another, with the channel loop unrolled. The
// sums are LerpFloat's, in the same order: f / 65536 scales by a power of two, so taking it first
// gives the same bits as scaling the product.
template <int CH>
SNRESULT FixedStepFloatInterleaved(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const int64_t step = r.m_currentStep;
  const int64_t start = r.m_position;
  const uint32_t room = requested > r.m_outputOffset ? requested - r.m_outputOffset : 0;
  const uint32_t n = FixedCount(v, start, step, room);
  const uint32_t first = start < 0x10000 ? uint32_t(std::min<int64_t>(n, (0x10000 - start + step - 1) / step)) : 0;
  // Byte pointers loaded through memcpy, as InputView does: the planes need not be aligned.
  const uint8_t* planes[CH];
  double saved[CH];
  for (uint32_t c = 0; c < CH; ++c) {
    planes[c] = v.f32 + size_t(c) * v.planeStride * sizeof(float);
    saved[c] = LerpFloat::SavedOf(r, c);
  }
  const auto load = [](const uint8_t* plane, size_t index) {
    float value;
    memcpy(&value, plane + index * sizeof(float), sizeof value);
    return double(value);
  };
  float* dst = static_cast<float*>(out.data) + size_t(r.m_outputOffset) * CH;
  int64_t p = start;
  uint32_t k = 0;
  for (; k < first; ++k, p += step, dst += CH) {
    const double f = double(p & 0xFFFF) * (1.0 / 65536.0);
    for (uint32_t c = 0; c < CH; ++c) {
      const double b = load(planes[c], 0);
      dst[c] = float(saved[c] + (b - saved[c]) * f);
    }
  }
  for (; k < n; ++k, p += step, dst += CH) {
    const size_t i = size_t(p >> 16);
    const double f = double(p & 0xFFFF) * (1.0 / 65536.0);
    for (uint32_t c = 0; c < CH; ++c) {
      const double a = load(planes[c], i - 1);
      const double b = load(planes[c], i);
      dst[c] = float(a + (b - a) * f);
    }
  }
  const uint32_t consumed = Consume(v, r, p);
  return Finish(in, out, requested, r, n, consumed);
}

template <class Lerp, bool Mapped, int CH>
SNRESULT RampingStep(SnVoiceBuffer& in, SnVoiceBuffer& out, uint32_t requested, CSnPitchResampler& r) {
  const InputView v(in, r);
  const uint32_t channels = CH ? uint32_t(CH) : v.channels;
  const int64_t from = r.m_currentStep, to = r.m_targetStep;
  const int64_t d = r.m_rampIncrement ? r.m_rampIncrement : 1;
  const uint32_t room = requested > r.m_outputOffset ? requested - r.m_outputOffset : 0;
  // The last ramp unit is shortened so that the counter lands on 1024 whatever d divides.
  const int64_t rampOutputs =
      r.m_rampCounter >= kRampLength ? 0 : (int64_t(kRampLength) - r.m_rampCounter + d - 1) / d;
  const int64_t limit = std::min<int64_t>(room, rampOutputs);
  const int64_t end = int64_t(v.frames) << 16;
  float* dst[256];
  typename Lerp::Saved saved[256];
  for (uint32_t c = 0; c < channels; ++c) {
    dst[c] = OutputPlane(out, PlaneFor(r, c, Mapped), r.m_outputOffset);
    saved[c] = Lerp::SavedOf(r, c);
  }
  int64_t p = r.m_position, k = r.m_rampCounter, n = 0;
  // The step after k ramp units of d goes from S0 to S1 over 1024: ((S0 << 10) + (S1 - S0) x k) >> 10.
  // Its numerator is kept from output to output: below the ramp's end it grows by the same product
  // each time, exact in integers, so no multiply is needed until the last, shortened unit.
  const int64_t growth = (to - from) * d;
  int64_t numerator = (from << 10) + (to - from) * k;
  auto advance = [&] {
    if (k + d < int64_t(kRampLength)) {
      k += d;
      numerator += growth;
    } else {
      k = kRampLength;
      numerator = (from << 10) + (to - from) * k;
    }
    p += numerator >> 10;
  };
  for (; n < limit && p < end && p < 0x10000; ++n) {
    for (uint32_t c = 0; c < channels; ++c) dst[c][n] = Lerp::template At<true>(v, saved[c], c, p);
    advance();
  }
  for (; n < limit && p < end; ++n) {
    for (uint32_t c = 0; c < channels; ++c) dst[c][n] = Lerp::template At<false>(v, saved[c], c, p);
    advance();
  }
  r.m_rampCounter = uint32_t(k);
  const uint32_t consumed = Consume(v, r, p);
  return Finish(in, out, requested, r, uint32_t(n), consumed);
}

SnResampleKernelTable MakeTable(bool vector) {
  SnResampleKernelTable t{};
  SnResampleKernel interleaved = vector ? CopyInterleaved16Sse2 : CopyInterleaved16;
  t.entries[0] = interleaved;
  t.entries[1] = vector ? CopyStereo16Sse2 : CopyStereo16;
  t.entries[2] = t.entries[3] = interleaved;
  for (int i = 4; i < 8; ++i) t.entries[i] = CopyFloat;
  t.entries[8] = FixedStep<Lerp16, false, 1>;
  t.entries[9] = FixedStep<Lerp16, false, 2>;
  t.entries[10] = t.entries[11] = FixedStep<Lerp16, true, 0>;
  t.entries[12] = FixedStep<LerpFloat, false, 1>;
  t.entries[13] = FixedStep<LerpFloat, false, 2>;
  t.entries[14] = t.entries[15] = FixedStep<LerpFloat, false, 0>;
  t.entries[16] = RampingStep<Lerp16, false, 1>;
  t.entries[17] = RampingStep<Lerp16, false, 2>;
  t.entries[18] = t.entries[19] = RampingStep<Lerp16, true, 0>;
  t.entries[20] = RampingStep<LerpFloat, false, 1>;
  t.entries[21] = RampingStep<LerpFloat, false, 2>;
  t.entries[22] = t.entries[23] = RampingStep<LerpFloat, false, 0>;
  return t;
}

}  // namespace

SnResampleKernelTable& ResampleKernels() {
  static SnResampleKernelTable table = MakeTable(false);
  return table;
}

SNRESULT ResampleFloatToInterleaved(SnVoiceBuffer& input, SnVoiceBuffer& output, uint32_t requested,
                                    CSnPitchResampler& resampler) {
  if (!resampler.IsFloat() || resampler.m_state != SnResample_Fixed || input.validFrames == 0) return SN_Failure;
  switch (resampler.m_channels) {
    case 1: return FixedStepFloatInterleaved<1>(input, output, requested, resampler);
    case 2: return FixedStepFloatInterleaved<2>(input, output, requested, resampler);
    case 4: return FixedStepFloatInterleaved<4>(input, output, requested, resampler);
    case 6: return FixedStepFloatInterleaved<6>(input, output, requested, resampler);
    case 8: return FixedStepFloatInterleaved<8>(input, output, requested, resampler);
    default: return FixedStep<LerpFloat, false, 0, true>(input, output, requested, resampler);
  }
}

uint8_t ResampleFormatIndex(uint32_t bitsPerSample, uint32_t channels) {
  if (channels == 0 || (bitsPerSample != 16 && bitsPerSample != 32)) return kNoKernelFormat;
  const uint8_t count = channels == 1 ? 0 : channels == 2 ? 1 : channels <= 4 ? 2 : 3;
  return uint8_t(count + (bitsPerSample == 32 ? 4 : 0));
}

void SelectVectorKernels() {
  ResampleKernels() = MakeTable(CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_SSE2));
}

void SelectScalarKernels() { ResampleKernels() = MakeTable(false); }

uint32_t PlaneOfChannel(uint32_t channel, SnChannelConfig config) {
  if (!HasLfe(config)) return channel;
  const uint32_t lfeAt = MaskChannelCount(ChannelMask(config) & 0x7);
  if (channel == lfeAt) return ChannelCount(config) - 1;
  return channel > lfeAt ? channel - 1 : channel;
}

void DeinterleaveToPlanar(const float* interleaved, float* planar, uint32_t frames, SnChannelConfig config,
                          uint32_t planeStride) {
  const uint32_t channels = ChannelCount(config);
  for (uint32_t c = 0; c < channels; ++c) {
    float* plane = planar + size_t(PlaneOfChannel(c, config)) * planeStride;
    for (uint32_t i = 0; i < frames; ++i) plane[i] = interleaved[size_t(i) * channels + c];
  }
}

void InterleaveFromPlanar(const float* planar, float* interleaved, uint32_t frames, SnChannelConfig config,
                          uint32_t planeStride) {
  const uint32_t channels = ChannelCount(config);
  for (uint32_t c = 0; c < channels; ++c) {
    const float* plane = planar + size_t(PlaneOfChannel(c, config)) * planeStride;
    for (uint32_t i = 0; i < frames; ++i) interleaved[size_t(i) * channels + c] = plane[i];
  }
}

}  // namespace SN
