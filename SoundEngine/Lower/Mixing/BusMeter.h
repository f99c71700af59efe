// A mix bus's meter: sample peak, four-times oversampled true peak, RMS and K-weighted power of the
// bus's mixed frame, measured once per frame for the metering callback and the bus's mixer plug-in.
#pragma once

#include <array>
#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

enum SnMeteringFlags : uint32_t {
  SnMeteringFlags_None = 0,
  SnMeteringFlags_Peak = 1,
  SnMeteringFlags_TruePeak = 2,
  SnMeteringFlags_RMS = 4,
  SnMeteringFlags_KPower = 16,
};

// What a metering callback and a mixer plug-in read; a measure not asked for is a null array.
class ISnMetering {
 public:
  virtual ~ISnMetering() = default;
  virtual float* GetPeakValues() = 0;
  virtual float* GetTruePeakValues() = 0;
  virtual float* GetRMSValues() = 0;
  virtual float GetKWeightedPower() = 0;
};

// One channel of one biquad stage: the plain coefficients and their block form, which gives four
// outputs y[n..n+3] at once from x[n..n+3], x1, x2, y1 and y2 (the meter runs the plain ones, the
// voice filters the block form).
struct CSnBiquadRecord {
  // Column j (four floats) is what input j adds to y[n..n+3]; inputs in the order x[n], x[n+1],
  // x[n+2], x[n+3], x1, x2, y1, y2.
  float blockForm[32];
  float b0, b1, b2;
  float negA1, negA2;
  float x1, x2, y1, y2;

  void Init();
  // b and a as designed, a0 included; a0 is divided out. The block form is worked out in double.
  void SetCoefficients(double b0d, double b1d, double b2d, double a0d, double a1d, double a2d);
};
static_assert(sizeof(CSnBiquadRecord) == 41 * sizeof(float), "the filter record is 41 floats");

namespace BusMeter {

// The true-peak interpolator: four phases of 12 taps at 0, 1/4, 1/2 and 3/4 of a sample past tap 5.
constexpr int kTruePeakPhases = 4;
constexpr int kTruePeakTaps = 12;
constexpr double kTruePeakKaiserBeta = 5.0;
// coefficients[tap][phase], each phase summing to 1.
using TruePeakTable = std::array<std::array<float, kTruePeakPhases>, kTruePeakTaps>;
const TruePeakTable& TruePeakCoefficients();

// Every measure's scale besides the bus gain: the inverse of the fast conversion of 0 dB.
constexpr float kMeterScale = 1.0009619f;
// +1.5 dB on surround channels.
constexpr float kSurroundWeight = 1.4125375f;

// The two K-weighting stages for sample rate fs, as b0 b1 b2 a0 a1 a2 in double precision.
struct BiquadDesign {
  double b0, b1, b2, a0, a1, a2;
};
BiquadDesign DesignStageA(double sampleRate);
BiquadDesign DesignStageB(double sampleRate);

}  // namespace BusMeter

class CSnBusMeter final : public ISnMetering {
 public:
  // Made in the lower engine's pool; null when the pool is out of memory.
  static CSnBusMeter* New();
  // Destroys a meter made by New (null is accepted).
  static void Delete(CSnBusMeter* meter);

  ~CSnBusMeter() override;

  // Allocates what the flags need and designs the K-weighting; 2 when any allocation fails, and the
  // flags are then not stored.
  SNRESULT Create(uint32_t channels, uint32_t sampleRate, uint32_t flags);
  // Measures one frame of the buffer at `gain` (the bus's target volume).
  void Compute(float gain, const SnMixBuffer& buffer);

  float* GetPeakValues() override { return m_peak; }
  float* GetTruePeakValues() override { return m_truePeak; }
  float* GetRMSValues() override { return m_rms; }
  float GetKWeightedPower() override { return m_kPower; }
  uint32_t GetFlags() const { return m_flags; }

 private:
  void ComputePeak(const SnMixBuffer& buffer, uint32_t channels, float scale);
  void ComputeRms(const SnMixBuffer& buffer, uint32_t channels, float scale);
  void ComputeTruePeak(const SnMixBuffer& buffer, uint32_t channels, float scale);
  void ComputeKPower(const SnMixBuffer& buffer, float scale);

  float* m_peak = nullptr;
  float* m_rms = nullptr;
  float* m_truePeak = nullptr;
  float* m_truePeakHistory = nullptr;
  CSnBiquadRecord* m_stageA = nullptr;
  CSnBiquadRecord* m_stageB = nullptr;
  float m_kPower = 0.0f;
  uint32_t m_flags = 0;
  uint32_t m_channels = 0;
};

}  // namespace SN
