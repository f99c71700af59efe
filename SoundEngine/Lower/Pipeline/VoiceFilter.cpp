// Voice filters: Butterworth sections by the bilinear transform, their ramps and bypass, and the
// block form run four samples at a time with SSE.
#include "SoundEngine/Lower/Pipeline/VoiceFilter.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.4142135;

SnFilterParamState InitialState() { return SnFilterParamState{0.0f, 0.0f, kFilterRampSteps, 0, 1, 1, 1}; }

// Motion voices run at eight samples per frame.
double FilterRate(bool motion) {
  const double rate = LowerEngine::SampleRate();
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  return motion && samples ? rate / samples * 8.0 : rate;
}

float ClampValue(float value) { return value >= 0.0f ? std::min(value, 100.0f) : 0.0f; }  // NaN gives 0

void SetTarget(SnFilterParamState& state, float value) {
  value = ClampValue(value);
  if (value == state.target) return;
  state.target = value;
  state.changed = 1;
}

inline float Step(const CSnBiquadRecord& r, SnBiquadMemory& m, float x) {
  const float y = r.b0 * x + r.b1 * m.x1 + r.b2 * m.x2 + r.negA1 * m.y1 + r.negA2 * m.y2;
  m.x2 = m.x1, m.x1 = x;
  m.y2 = m.y1, m.y1 = y;
  return y;
}

}  // namespace

CSnVoiceFilter::CSnVoiceFilter() : m_lowPassState(InitialState()), m_highPassState(InitialState()) {
  m_lowPass.Init();
  m_highPass.Init();
}

SNRESULT CSnVoiceFilter::Init(uint32_t channels, bool motion) {
  m_channels = channels;
  m_motion = motion ? 1 : 0;
  m_lowPassState = m_highPassState = InitialState();
  // Both stages' memories in one block: a voice begins with one allocation for them at most, not two.
  const size_t perStage = channels ? channels : 1;
  Term();
  m_lowPassMemory = perStage <= kMemoryInPlace
                        ? m_memoryInPlace
                        : static_cast<SnBiquadMemory*>(
                              MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(SnBiquadMemory) * perStage * 2, 16));
  if (!m_lowPassMemory) {
    SOUND_LOG(Error, "Voice filter: no memory for %u channels", channels);
    return SN_Failure;
  }
  m_highPassMemory = m_lowPassMemory + perStage;
  std::memset(m_lowPassMemory, 0, sizeof(SnBiquadMemory) * perStage * 2);
  return SN_Success;
}

void CSnVoiceFilter::Reset() {
  m_lowPassState.first = m_highPassState.first = 1;
  m_lowPassState.changed = m_highPassState.changed = 1;
  if (m_lowPassMemory) std::memset(m_lowPassMemory, 0, sizeof(SnBiquadMemory) * m_channels);
  if (m_highPassMemory) std::memset(m_highPassMemory, 0, sizeof(SnBiquadMemory) * m_channels);
}

void CSnVoiceFilter::Term() {
  if (m_lowPassMemory && m_lowPassMemory != m_memoryInPlace)
    MemoryMgr::Falign(g_LEngineDefaultPoolId, m_lowPassMemory);  // the high-pass's too
  m_lowPassMemory = m_highPassMemory = nullptr;
}

void CSnVoiceFilter::SetLowPass(float value) { SetTarget(m_lowPassState, value); }
void CSnVoiceFilter::SetHighPass(float value) { SetTarget(m_highPassState, value); }

void CSnVoiceFilter::DesignLowPass(CSnBiquadRecord& record, float value, bool motion) {
  const double w = kPi * FilterCutoff(value, motion) / FilterRate(motion);
  const double k = 1.0 / std::tan(w);
  const double n = 1.0 / (1.0 + kSqrt2 * k + k * k);
  record.SetCoefficients(n, 2.0 * n, n, 1.0, 2.0 * (1.0 - k * k) * n, (1.0 - kSqrt2 * k + k * k) * n);
}

void CSnVoiceFilter::DesignHighPass(CSnBiquadRecord& record, float value, bool motion) {
  const double w = kPi * FilterCutoff(100.0f - value, motion) / FilterRate(motion);
  const double t = std::tan(w);
  const double n = 1.0 / (1.0 + kSqrt2 * t + t * t);
  record.SetCoefficients(n, -2.0 * n, n, 1.0, 2.0 * (t * t - 1.0) * n, (1.0 - kSqrt2 * t + t * t) * n);
}

void CSnVoiceFilter::Design(CSnBiquadRecord& record, float value, bool highPass) const {
  if (highPass)
    DesignHighPass(record, value, m_motion);
  else
    DesignLowPass(record, value, m_motion);
}

void CSnVoiceFilter::FilterRunScalar(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples,
                                     uint32_t count) {
  for (uint32_t t = 0; t < count; ++t) samples[t] = Step(record, memory, samples[t]);
}

namespace {

// Four outputs from the block form, one lane at a time in the vector kernel's order of operations.
struct PlainBlock {
  float c[32];
  float x1, x2, y1, y2;
  void Run(float* p) {
    float out[4];
    for (int i = 0; i < 4; ++i) {
      const float acc = (c[i] * p[0] + c[4 + i] * p[1]) + (c[8 + i] * p[2] + c[12 + i] * p[3]);
      const float past = acc + (c[16 + i] * x1 + c[20 + i] * x2);
      out[i] = past + (c[24 + i] * y1 + c[28 + i] * y2);
    }
    x1 = p[3], x2 = p[2], y1 = out[3], y2 = out[2];
    std::memcpy(p, out, sizeof out);
  }
};

// The samples up to the first 16-byte boundary one at a time (all of them when the run is not on a
// float boundary), then whole blocks of four, then the rest one at a time.
uint32_t HeadSamples(const float* samples, uint32_t count) {
  const uint32_t misalignment = uint32_t(reinterpret_cast<uintptr_t>(samples) & 15u);
  if (misalignment % 4u) return count;
  return std::min(misalignment ? (16u - misalignment) / 4u : 0u, count);
}

// A run: the recursion to the first 16-byte boundary, `blocks(memory, first, count)` over the whole
// blocks of four, the recursion over what is left.
template <typename Blocks>
void WalkRun(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples, uint32_t count, Blocks blocks) {
  const uint32_t head = HeadSamples(samples, count);
  CSnVoiceFilter::FilterRunScalar(record, memory, samples, head);
  const uint32_t whole = (count - head) / 4;
  if (whole) blocks(memory, samples + head, whole);
  const uint32_t done = head + 4 * whole;
  CSnVoiceFilter::FilterRunScalar(record, memory, samples + done, count - done);
}

}  // namespace

void CSnVoiceFilter::FilterRunPlain(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples,
                                    uint32_t count) {
  WalkRun(record, memory, samples, count, [&record](SnBiquadMemory& past, float* p, uint32_t blocks) {
    PlainBlock block;
    std::memcpy(block.c, record.blockForm, sizeof block.c);
    block.x1 = past.x1, block.x2 = past.x2, block.y1 = past.y1, block.y2 = past.y2;
    for (uint32_t b = 0; b < blocks; ++b) block.Run(p + 4 * b);
    past = SnBiquadMemory{block.x1, block.x2, block.y1, block.y2};
  });
}

void CSnVoiceFilter::FilterRun(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples,
                               uint32_t count) {
  WalkRun(record, memory, samples, count, [&record](SnBiquadMemory& past, float* p, uint32_t blocks) {
    __m128 c[8];
    for (int i = 0; i < 8; ++i) c[i] = _mm_loadu_ps(record.blockForm + 4 * i);
    // The past, each value in all four lanes.
    __m128 x1 = _mm_set1_ps(past.x1), x2 = _mm_set1_ps(past.x2);
    __m128 y1 = _mm_set1_ps(past.y1), y2 = _mm_set1_ps(past.y2);
    for (uint32_t b = 0; b < blocks; ++b, p += 4) {
      const __m128 in = _mm_load_ps(p);
      // The inputs' terms first; only the last two products wait on the block before.
      __m128 acc = _mm_add_ps(_mm_add_ps(_mm_mul_ps(c[0], _mm_shuffle_ps(in, in, 0x00)),
                                         _mm_mul_ps(c[1], _mm_shuffle_ps(in, in, 0x55))),
                              _mm_add_ps(_mm_mul_ps(c[2], _mm_shuffle_ps(in, in, 0xAA)),
                                         _mm_mul_ps(c[3], _mm_shuffle_ps(in, in, 0xFF))));
      acc = _mm_add_ps(acc, _mm_add_ps(_mm_mul_ps(c[4], x1), _mm_mul_ps(c[5], x2)));
      const __m128 out = _mm_add_ps(acc, _mm_add_ps(_mm_mul_ps(c[6], y1), _mm_mul_ps(c[7], y2)));
      _mm_store_ps(p, out);
      x1 = _mm_shuffle_ps(in, in, 0xFF), x2 = _mm_shuffle_ps(in, in, 0xAA);
      y1 = _mm_shuffle_ps(out, out, 0xFF), y2 = _mm_shuffle_ps(out, out, 0xAA);
    }
    past.x1 = _mm_cvtss_f32(x1), past.x2 = _mm_cvtss_f32(x2);
    past.y1 = _mm_cvtss_f32(y1), past.y2 = _mm_cvtss_f32(y2);
  });
}

void CSnVoiceFilter::Settle(SnFilterParamState& state, CSnBiquadRecord& record, bool highPass) {
  if (state.changed) {
    state.changed = 0;
    if (state.first) {
      // The first value applies at once: nothing was heard through the filter yet.
      state.first = 0;
      state.current = state.target;
      state.rampStep = kFilterRampSteps;
      state.bypassed = state.target <= kFilterOffValue;
      if (!state.bypassed) {
        state.bypassCountdown = 0;
        Design(record, state.target, highPass);
      }
    } else {
      state.bypassed = state.current <= kFilterOffValue && state.target <= kFilterOffValue;
      if (!state.bypassed) state.bypassCountdown = 0;
      state.rampStep = state.bypassed ? kFilterRampSteps : 0;
    }
  }
}

void CSnVoiceFilter::RunStage(SnFilterParamState& state, CSnBiquadRecord& record, SnBiquadMemory* memory,
                              bool highPass, float* samples, uint32_t planeFrames, uint32_t frames) {
  if (state.changed) Settle(state, record, highPass);
  if (state.bypassed) {
    // The memories follow the signal so that a later ramp starts without a click.
    if (frames >= 2)
      for (uint32_t c = 0; c < m_channels; ++c) {
        const float* plane = samples + size_t(c) * planeFrames;
        memory[c] = SnBiquadMemory{plane[frames - 1], plane[frames - 2], plane[frames - 1], plane[frames - 2]};
      }
    return;
  }
  if (state.rampStep == kFilterRampSteps) {
    for (uint32_t c = 0; c < m_channels; ++c) FilterRun(record, memory[c], samples + size_t(c) * planeFrames, frames);
    if (state.bypassCountdown > 0 && --state.bypassCountdown == 0) state.bypassed = 1;
    return;
  }
  const uint32_t subBlock = std::max(1u, LowerEngine::RateFactor());
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(subBlock, frames - done);
    if (state.rampStep < kFilterRampSteps) {
      ++state.rampStep;
      Design(record, state.current + (state.target - state.current) * float(state.rampStep) * 0.125f, highPass);
    }
    for (uint32_t c = 0; c < m_channels; ++c)
      FilterRun(record, memory[c], samples + size_t(c) * planeFrames + done, n);
    done += n;
  }
  if (state.rampStep == kFilterRampSteps) {
    state.current = state.target;
    if (state.target <= kFilterOffValue) state.bypassCountdown = kFilterTailFrames;
  }
}

void CSnVoiceFilter::WriteReadSilence(float* samples, uint32_t planeFrames, uint32_t validFrames, uint32_t unwritten) {
  Settle(m_lowPassState, m_lowPass, false);
  Settle(m_highPassState, m_highPass, true);
  // A filter that runs reads every frame; bypassed ones read the last two to follow the signal.
  const bool read = !m_lowPassState.bypassed || !m_highPassState.bypassed || validFrames < unwritten + 2;
  if (read)
    for (uint32_t c = 0; c < m_channels; ++c)
      std::memset(samples + size_t(c) * planeFrames, 0, std::min(unwritten, validFrames) * sizeof(float));
}

void CSnVoiceFilter::Process(float* samples, uint32_t planeFrames, uint32_t validFrames, uint32_t unwritten) {
  if (!m_lowPassMemory || !m_highPassMemory || !samples) return;
  validFrames = std::min(validFrames, planeFrames);
  if (unwritten) [[unlikely]]
    WriteReadSilence(samples, planeFrames, validFrames, unwritten);
  RunStage(m_lowPassState, m_lowPass, m_lowPassMemory, false, samples, planeFrames, validFrames);
  RunStage(m_highPassState, m_highPass, m_highPassMemory, true, samples, planeFrames, validFrames);
}

namespace VoiceParams {

float* AllocMatrixPair(uint32_t inputs, uint32_t outputs) {
  const size_t bytes = size_t((outputs + 3) / 4) * inputs * 32;
  if (bytes == 0) return nullptr;
  auto* pair = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
  if (pair) std::memset(pair, 0, bytes);
  return pair;
}

void FreeMatrixPair(float* pair) {
  if (pair) MemoryMgr::Falign(g_LEngineDefaultPoolId, pair);
}

}  // namespace VoiceParams
}  // namespace SN
