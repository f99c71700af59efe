// The bus meter with all four measures on one 5.1 frame of 1024 samples against a plain loop of the
// same measures and coefficients, left to the compiler's vectoriser (read the pair as meter / plain;
// the meter earns its four lanes at 1.5x). Both keep their true-peak history and filter states from
// frame to frame, as a bus does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/Mixing/BusMeter.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;

constexpr uint32_t kAll = SnMeteringFlags_Peak | SnMeteringFlags_RMS | SnMeteringFlags_TruePeak | SnMeteringFlags_KPower;

using SoundBench::Planes;

// The plain meter: the same four measures, one sample and one phase at a time.
struct PlainMeter {
  struct Stage {
    float b0, b1, b2, negA1, negA2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  };
  explicit PlainMeter(uint32_t channels)
      : peak(channels), rms(channels), truePeak(channels), history(size_t(channels) * 12, 0.0f) {
    auto make = [](const BusMeter::BiquadDesign& d) {
      return Stage{float(d.b0 / d.a0), float(d.b1 / d.a0), float(d.b2 / d.a0), float(-d.a1 / d.a0), float(-d.a2 / d.a0)};
    };
    a.assign(channels, make(BusMeter::DesignStageA(48000.0)));
    b.assign(channels, make(BusMeter::DesignStageB(48000.0)));
  }
  std::vector<float> peak, rms, truePeak, history;
  std::vector<Stage> a, b;
  float kPower = 0.0f;
};

__attribute__((noipa)) float PlainInterpolatedPeak(const float* in, uint32_t positions) {
  const auto& table = BusMeter::TruePeakCoefficients();
  float top = 0.0f;
  // Phases innermost, so the four sums of a position sit side by side for the vectoriser.
  for (uint32_t i = 0; i < positions; ++i) {
    float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int tap = 0; tap < 12; ++tap)
      for (int phase = 0; phase < 4; ++phase) acc[phase] += in[i + tap] * table[tap][phase];
    for (int phase = 0; phase < 4; ++phase) top = std::max(top, std::fabs(acc[phase]));
  }
  return top;
}

__attribute__((noipa)) void PlainCompute(PlainMeter& m, float gain, const SnMixBuffer& buffer) {
  const float scale = gain * BusMeter::kMeterScale;
  const uint32_t channels = ChannelCount(buffer.channelConfig), frames = buffer.maxFrames;
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    float top = 0.0f;
    for (uint32_t i = 0; i < frames; ++i) top = std::max(top, std::fabs(in[i]));
    m.peak[c] = top * scale;
  }
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    float sum = 0.0f;
    for (uint32_t i = 0; i < frames; ++i) sum += in[i] * in[i];
    m.rms[c] = std::sqrt(sum / float(frames)) * scale;
  }
  for (uint32_t c = 0; c < channels; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    float work[24];
    std::memcpy(work, &m.history[size_t(c) * 12], 12 * sizeof(float));
    std::memcpy(work + 12, in, 12 * sizeof(float));
    const float top = std::max(PlainInterpolatedPeak(work, 12), PlainInterpolatedPeak(in, frames - 12));
    std::memcpy(&m.history[size_t(c) * 12], in + frames - 12, 12 * sizeof(float));
    m.truePeak[c] = top * scale;
  }
  const uint32_t mask = ChannelMask(buffer.channelConfig);
  const uint32_t front = MaskChannelCount(mask & 0x7), surround = MaskChannelCount(mask & 0x630);
  float sums[2] = {0.0f, 0.0f};
  for (uint32_t c = 0; c < front + surround; ++c) {
    const float* in = buffer.samples + size_t(c) * frames;
    // The stages are copied to locals and back: behind the references their memories would be stored
    // and reloaded at every sample.
    PlainMeter::Stage a = m.a[c];
    PlainMeter::Stage b = m.b[c];
    float sum = 0.0f;
    for (uint32_t i = 0; i < frames; ++i) {
      const float ya = a.b0 * in[i] + a.b1 * a.x1 + a.b2 * a.x2 + a.negA1 * a.y1 + a.negA2 * a.y2;
      a.x2 = a.x1, a.x1 = in[i], a.y2 = a.y1, a.y1 = ya;
      const float yb = b.b0 * ya + b.b1 * b.x1 + b.b2 * b.x2 + b.negA1 * b.y1 + b.negA2 * b.y2;
      b.x2 = b.x1, b.x1 = ya, b.y2 = b.y1, b.y1 = yb;
      sum += yb * yb;
    }
    m.a[c] = a;
    m.b[c] = b;
    sums[c < front ? 0 : 1] += sum;
  }
  m.kPower = scale * scale * (sums[0] + BusMeter::kSurroundWeight * sums[1]) / float(frames);
}

void Meter(benchmark::State& state, bool plain) {
  SoundBench::EnsureLowerEnginePool();
  Planes planes(StandardConfig(kMask51));
  CSnBusMeter* meter = CSnBusMeter::New();
  if (!meter || meter->Create(6, 48000, kAll) != SN_Success) {
    state.SkipWithError("the meter could not be made");
    CSnBusMeter::Delete(meter);
    return;
  }
  PlainMeter reference(6);
  for (auto _ : state) {
    if (plain) {
      PlainCompute(reference, 0.9f, planes.buffer);
      benchmark::DoNotOptimize(reference.kPower);
    } else {
      meter->Compute(0.9f, planes.buffer);
      benchmark::DoNotOptimize(meter->GetKWeightedPower());
    }
    benchmark::ClobberMemory();
  }
  CSnBusMeter::Delete(meter);
}
BENCHMARK_CAPTURE(Meter, FiveOne, false);
BENCHMARK_CAPTURE(Meter, FiveOnePlain, true);

}  // namespace
