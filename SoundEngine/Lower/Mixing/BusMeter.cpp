// The bus meter: SSE peak, RMS and true-peak passes over a planar mix buffer and the two-stage
// K-weighting, all scaled by the bus gain.
#include "SoundEngine/Lower/Mixing/BusMeter.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {

void CSnBiquadRecord::Init() {
  std::memset(blockForm, 0, sizeof(blockForm));
  b0 = 1.0f;
  b1 = b2 = negA1 = negA2 = 0.0f;
  x1 = x2 = y1 = y2 = 0.0f;
}

void CSnBiquadRecord::SetCoefficients(double b0d, double b1d, double b2d, double a0d, double a1d, double a2d) {
  b0 = float(b0d / a0d);
  b1 = float(b1d / a0d);
  b2 = float(b2d / a0d);
  negA1 = float(-a1d / a0d);
  negA2 = float(-a2d / a0d);
  // Each input alone through four steps of the recursion.
  const double c[5] = {b0d / a0d, b1d / a0d, b2d / a0d, -a1d / a0d, -a2d / a0d};
  for (int input = 0; input < 8; ++input) {
    double x[6] = {};  // x2, x1, x[n], ..., x[n+3]
    double y[6] = {};  // y2, y1, y[n], ..., y[n+3]
    if (input < 4) x[2 + input] = 1.0;
    if (input == 4) x[1] = 1.0;
    if (input == 5) x[0] = 1.0;
    if (input == 6) y[1] = 1.0;
    if (input == 7) y[0] = 1.0;
    for (int k = 2; k < 6; ++k) {
      y[k] = c[0] * x[k] + c[1] * x[k - 1] + c[2] * x[k - 2] + c[3] * y[k - 1] + c[4] * y[k - 2];
      blockForm[input * 4 + (k - 2)] = float(y[k]);
    }
  }
}

namespace BusMeter {
namespace {

// The zeroth-order modified Bessel function of the first kind, by its power series.
double BesselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

// A sinc at the input Nyquist under a Kaiser window as wide as the 12 taps around the point; each
// phase scaled to unit DC gain so a constant reads the same at every phase. Phase 0 falls on tap 5,
// where the sinc is 1 and 0 on every other tap: the sample itself.
TruePeakTable DesignTruePeak() {
  constexpr double kPi = 3.14159265358979323846;
  constexpr double kHalfWidth = kTruePeakTaps / 2.0;
  const double norm = BesselI0(kTruePeakKaiserBeta);
  TruePeakTable table{};
  for (int phase = 0; phase < kTruePeakPhases; ++phase) {
    const double centre = (kTruePeakTaps / 2 - 1) + phase / double(kTruePeakPhases);
    double taps[kTruePeakTaps];
    double sum = 0.0;
    for (int tap = 0; tap < kTruePeakTaps; ++tap) {
      const double x = tap - centre;
      const double sinc = x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
      const double r = x / kHalfWidth;
      const double window = BesselI0(kTruePeakKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
      taps[tap] = sinc * window;
      sum += taps[tap];
    }
    for (int tap = 0; tap < kTruePeakTaps; ++tap) table[tap][phase] = float(taps[tap] / sum);
  }
  return table;
}

}  // namespace

const TruePeakTable& TruePeakCoefficients() {
  static const TruePeakTable table = DesignTruePeak();
  return table;
}

BiquadDesign DesignStageA(double sampleRate) {
  const double w = 238.76105 / sampleRate;
  const double s = std::sin(w), c = std::cos(w);
  const double k = 1.0 / (1.0 + s);
  const double b0 = (1.0 + c) * 0.5 * k;
  return {b0, -(1.0 + c) * k, b0, 1.0, -2.0 * c * k, (1.0 - s) * k};
}

BiquadDesign DesignStageB(double sampleRate) {
  const double a = std::pow(10.0, 0.1);
  const double w = 9443.0 / sampleRate;
  const double c = std::cos(w);
  const double t = 2.0 * std::sqrt(a) * std::sin(w) * 0.70422536;
  const double a0 = (a + 1.0) - (a - 1.0) * c + t;
  return {a * ((a + 1.0) + (a - 1.0) * c + t),
          -2.0 * a * ((a - 1.0) + (a + 1.0) * c),
          a * ((a + 1.0) + (a - 1.0) * c - t),
          a0,
          2.0 * ((a - 1.0) - (a + 1.0) * c),
          (a + 1.0) - (a - 1.0) * c - t};
}

}  // namespace BusMeter

namespace {

constexpr float kLaneStart = 2147483648.0f;
constexpr uint32_t kHistory = BusMeter::kTruePeakTaps;

uint32_t Padded(uint32_t channels) { return (channels + 3u) & ~3u; }

float* AllocZeroed(uint32_t floats, uint32_t zeroed) {
  auto* block = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
  if (block) std::memset(block, 0, zeroed * sizeof(float));
  return block;
}

void FreeAligned(float*& block) {
  if (block) MemoryMgr::Falign(g_LEngineDefaultPoolId, block);
  block = nullptr;
}

float ReduceMax(__m128 v) {
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, v);
  return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
float ReduceMin(__m128 v) {
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, v);
  return std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
}

// Four phase outputs for each of `positions` positions; position i reads in[i] .. in[i + 11].
void Interpolate(const float* in, uint32_t positions, __m128& lo, __m128& hi) {
  const auto& table = BusMeter::TruePeakCoefficients();
  __m128 coef[kHistory];
  for (uint32_t tap = 0; tap < kHistory; ++tap) coef[tap] = _mm_loadu_ps(table[tap].data());
  for (uint32_t i = 0; i < positions; ++i) {
    __m128 acc = _mm_mul_ps(_mm_set1_ps(in[i]), coef[0]);
    for (uint32_t tap = 1; tap < kHistory; ++tap) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(in[i + tap]), coef[tap]));
    lo = _mm_min_ps(lo, acc);
    hi = _mm_max_ps(hi, acc);
  }
}

}  // namespace

CSnBusMeter* CSnBusMeter::New() {
  void* memory = MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CSnBusMeter), 16);
  return memory ? new (memory) CSnBusMeter : nullptr;
}

void CSnBusMeter::Delete(CSnBusMeter* meter) {
  if (!meter) return;
  meter->~CSnBusMeter();
  MemoryMgr::Falign(g_LEngineDefaultPoolId, meter);
}

CSnBusMeter::~CSnBusMeter() {
  FreeAligned(m_peak);
  FreeAligned(m_rms);
  FreeAligned(m_truePeak);
  FreeAligned(m_truePeakHistory);
  if (m_stageA) MemoryMgr::Free(g_LEngineDefaultPoolId, m_stageA);
  if (m_stageB) MemoryMgr::Free(g_LEngineDefaultPoolId, m_stageB);
  m_stageA = m_stageB = nullptr;
}

SNRESULT CSnBusMeter::Create(uint32_t channels, uint32_t sampleRate, uint32_t flags) {
  if (channels == 0 || channels > 255 || sampleRate == 0) {
    SOUND_LOG(Error, "Bus meter: %u channels at %u Hz cannot be metered", channels, sampleRate);
    return SN_Failure;
  }
  m_channels = channels;
  const uint32_t padded = Padded(channels);
  if ((flags & SnMeteringFlags_Peak) && !(m_peak = AllocZeroed(padded, channels))) return SN_Failure;
  if ((flags & SnMeteringFlags_RMS) && !(m_rms = AllocZeroed(padded, channels))) return SN_Failure;
  if (flags & SnMeteringFlags_TruePeak) {
    if (!(m_truePeak = AllocZeroed(padded, channels))) return SN_Failure;
    if (!(m_truePeakHistory = AllocZeroed(kHistory * channels, kHistory * channels))) return SN_Failure;
    BusMeter::TruePeakCoefficients();  // designed here rather than inside the first measured frame
  }
  if (flags & SnMeteringFlags_KPower) {
    const size_t bytes = sizeof(CSnBiquadRecord) * channels;
    m_stageA = static_cast<CSnBiquadRecord*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, bytes));
    if (!m_stageA) return SN_Failure;
    m_stageB = static_cast<CSnBiquadRecord*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, bytes));
    if (!m_stageB) return SN_Failure;
    const BusMeter::BiquadDesign a = BusMeter::DesignStageA(sampleRate);
    const BusMeter::BiquadDesign b = BusMeter::DesignStageB(sampleRate);
    for (uint32_t c = 0; c < channels; ++c) {
      m_stageA[c].Init();
      m_stageA[c].SetCoefficients(a.b0, a.b1, a.b2, a.a0, a.a1, a.a2);
      m_stageB[c].Init();
      m_stageB[c].SetCoefficients(b.b0, b.b1, b.b2, b.a0, b.a1, b.a2);
    }
  }
  m_flags = flags;
  return SN_Success;
}

void CSnBusMeter::Compute(float gain, const SnMixBuffer& buffer) {
  if (buffer.validFrames == 0) gain = 0.0f;
  const float scale = gain * BusMeter::kMeterScale;
  // A buffer wider than the meter was made for is measured on the channels the meter has.
  const uint32_t channels = std::min(ChannelCount(buffer.channelConfig), m_channels);
  // A frame with nothing valid (or no room, or no samples) reads as zeros and leaves the true-peak history as it
  // was; a bus at gain 0 still measures, so its history stays that of the stream.
  // Each pass measures the channels it is given and writes zero for the rest of the meter's.
  const bool empty = buffer.validFrames == 0 || buffer.maxFrames == 0 || buffer.samples == nullptr;
  const uint32_t measured = empty ? 0 : channels;
  if (m_flags & SnMeteringFlags_Peak) ComputePeak(buffer, measured, scale);
  if (m_flags & SnMeteringFlags_RMS) ComputeRms(buffer, measured, scale);
  if (m_flags & SnMeteringFlags_TruePeak) ComputeTruePeak(buffer, measured, scale);
  if (m_flags & SnMeteringFlags_KPower) {
    if (buffer.samples == nullptr)
      m_kPower = 0.0f;
    else
      ComputeKPower(buffer, scale);
  }
}

void CSnBusMeter::ComputePeak(const SnMixBuffer& buffer, uint32_t channels, float scale) {
  const uint32_t frames = buffer.maxFrames;
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    __m128 lo = _mm_set1_ps(kLaneStart), hi = _mm_set1_ps(-kLaneStart);
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
      const __m128 v = _mm_loadu_ps(in + i);
      lo = _mm_min_ps(lo, v);
      hi = _mm_max_ps(hi, v);
    }
    float mn = ReduceMin(lo), mx = ReduceMax(hi);
    for (; i < frames; ++i) {
      mn = std::min(mn, in[i]);
      mx = std::max(mx, in[i]);
    }
    m_peak[c] = std::max(mx, std::fabs(mn)) * scale;
  }
  for (uint32_t c = channels; c < m_channels; ++c) m_peak[c] = 0.0f;
}

void CSnBusMeter::ComputeRms(const SnMixBuffer& buffer, uint32_t channels, float scale) {
  const uint32_t frames = buffer.maxFrames;
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    __m128 acc = _mm_setzero_ps();
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
      const __m128 v = _mm_loadu_ps(in + i);
      acc = _mm_add_ps(acc, _mm_mul_ps(v, v));
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, acc);
    float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; i < frames; ++i) sum += in[i] * in[i];
    m_rms[c] = frames ? std::sqrt(sum / float(frames)) * scale : 0.0f;
  }
  for (uint32_t c = channels; c < m_channels; ++c) m_rms[c] = 0.0f;
}

void CSnBusMeter::ComputeTruePeak(const SnMixBuffer& buffer, uint32_t channels, float scale) {
  const uint32_t frames = buffer.maxFrames;
  const uint32_t head = std::min(frames, kHistory);
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    float* history = m_truePeakHistory + size_t(c) * kHistory;
    __m128 lo = _mm_set1_ps(kLaneStart), hi = _mm_set1_ps(-kLaneStart);
    // The joint: the last frame's tail and this frame's head, so no point between frames is missed.
    float work[2 * kHistory] = {};
    std::memcpy(work, history, kHistory * sizeof(float));
    std::memcpy(work + kHistory, in, head * sizeof(float));
    Interpolate(work, head, lo, hi);
    if (frames > kHistory) Interpolate(in, frames - kHistory, lo, hi);
    // The new history is the stream's last 12 samples, also when the frame is shorter than that.
    std::memcpy(history, frames >= kHistory ? in + (frames - kHistory) : work + head, kHistory * sizeof(float));
    const float mn = ReduceMin(lo), mx = ReduceMax(hi);
    m_truePeak[c] = std::max(mx, std::fabs(mn)) * scale;
  }
  for (uint32_t c = channels; c < m_channels; ++c) m_truePeak[c] = 0.0f;
}

void CSnBusMeter::ComputeKPower(const SnMixBuffer& buffer, float scale) {
  const SnChannelConfig config = buffer.channelConfig;
  if (ConfigType(config) != kConfigTypeStandard) {
    m_kPower = 0.0f;
    return;
  }
  const uint32_t mask = ChannelMask(config);
  const uint32_t front = MaskChannelCount(mask & 0x7);
  const uint32_t surround = MaskChannelCount(mask & 0x637 & ~0x7u);
  const uint32_t counted = std::min(front + surround, std::min(m_channels, ChannelCount(config)));
  const uint32_t frames = buffer.maxFrames;
  float frontSum = 0.0f, surroundSum = 0.0f;
  for (uint32_t c = 0; c < counted; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    CSnBiquadRecord& a = m_stageA[c];
    CSnBiquadRecord& b = m_stageB[c];
    float ax1 = a.x1, ax2 = a.x2, ay1 = a.y1, ay2 = a.y2;
    float bx1 = b.x1, bx2 = b.x2, by1 = b.y1, by2 = b.y2;
    float sum = 0.0f;
    for (uint32_t i = 0; i < frames; ++i) {
      const float x = in[i];
      const float ya = a.b0 * x + a.b1 * ax1 + a.b2 * ax2 + a.negA1 * ay1 + a.negA2 * ay2;
      ax2 = ax1;
      ax1 = x;
      ay2 = ay1;
      ay1 = ya;
      const float yb = b.b0 * ya + b.b1 * bx1 + b.b2 * bx2 + b.negA1 * by1 + b.negA2 * by2;
      bx2 = bx1;
      bx1 = ya;
      by2 = by1;
      by1 = yb;
      sum += yb * yb;
    }
    a.x1 = ax1, a.x2 = ax2, a.y1 = ay1, a.y2 = ay2;
    b.x1 = bx1, b.x2 = bx2, b.y1 = by1, b.y2 = by2;
    (c < front ? frontSum : surroundSum) += sum;
  }
  m_kPower = frames ? scale * scale * (frontSum + BusMeter::kSurroundWeight * surroundSum) / float(frames) : 0.0f;
}

}  // namespace SN
