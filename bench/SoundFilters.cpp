// The voice filters (low-pass then high-pass) on 8 channels of 1024 frames against a plain scalar
// direct-form loop with the same coefficients, steady and while every frame ramps to a new value
// (read each pair as filters / plain: the block form should earn 1.5x steady and lose nothing while
// ramping, where both design eight sections per stage).
#include <benchmark/benchmark.h>

#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceFilter.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;

constexpr uint32_t kChannels = 8;
constexpr uint32_t kFrames = 1024;

struct Section {
  float b0 = 1, b1 = 0, b2 = 0, negA1 = 0, negA2 = 0;
  void From(const CSnBiquadRecord& r) { b0 = r.b0, b1 = r.b1, b2 = r.b2, negA1 = r.negA1, negA2 = r.negA2; }
};
struct Memory {
  float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// Coefficients and memories are locals: kept behind the references beside the sample pointer, each
// sample would store and reload them, as the compiler cannot tell that the samples do not alias them.
__attribute__((noipa)) void PlainRun(const Section& s, Memory& m, float* x, uint32_t count) {
  const float b0 = s.b0, b1 = s.b1, b2 = s.b2, negA1 = s.negA1, negA2 = s.negA2;
  float x1 = m.x1, x2 = m.x2, y1 = m.y1, y2 = m.y2;
  for (uint32_t t = 0; t < count; ++t) {
    const float in = x[t];
    const float y = b0 * in + b1 * x1 + b2 * x2 + negA1 * y1 + negA2 * y2;
    x2 = x1, x1 = in, y2 = y1, y1 = y;
    x[t] = y;
  }
  m.x1 = x1, m.x2 = x2, m.y1 = y1, m.y2 = y2;
}

// The plain filters: the same two stages, designing their sections with the same formulas.
struct PlainFilters {
  Memory low[kChannels], high[kChannels];
  Section lowSection, highSection;
  float lowValue = 0, highValue = 0;
  void Design(float lowTarget, float highTarget, float share) {
    CSnBiquadRecord r;
    r.Init();
    CSnVoiceFilter::DesignLowPass(r, lowValue + (lowTarget - lowValue) * share, false);
    lowSection.From(r);
    CSnVoiceFilter::DesignHighPass(r, highValue + (highTarget - highValue) * share, false);
    highSection.From(r);
  }
  void Steady(float* planes) {
    for (uint32_t c = 0; c < kChannels; ++c) PlainRun(lowSection, low[c], planes + c * kFrames, kFrames);
    for (uint32_t c = 0; c < kChannels; ++c) PlainRun(highSection, high[c], planes + c * kFrames, kFrames);
  }
  void Ramp(float* planes, float lowTarget, float highTarget) {
    const uint32_t block = LowerEngine::RateFactor();
    for (uint32_t step = 1, done = 0; done < kFrames; ++step, done += block) {
      Design(lowTarget, highTarget, float(step) * 0.125f);
      for (uint32_t c = 0; c < kChannels; ++c) PlainRun(lowSection, low[c], planes + c * kFrames + done, block);
      for (uint32_t c = 0; c < kChannels; ++c) PlainRun(highSection, high[c], planes + c * kFrames + done, block);
    }
    lowValue = lowTarget, highValue = highTarget;
  }
};

// 16-byte aligned planes of a half-scale sine, refreshed before each frame so the filters never
// settle into denormals.
struct Planes {
  std::vector<float> storage = std::vector<float>(kChannels * kFrames + 4);
  std::vector<float> source = std::vector<float>(kChannels * kFrames);
  float* data = nullptr;
  Planes() {
    auto address = reinterpret_cast<uintptr_t>(storage.data());
    data = storage.data() + ((16 - (address & 15)) & 15) / 4;
    for (uint32_t i = 0; i < kChannels * kFrames; ++i) source[i] = std::sin(float(i) * 0.05f) * 0.5f;
  }
  void Refresh() { std::copy(source.begin(), source.end(), data); }
};

void Filters(benchmark::State& state, bool plain, bool ramping) {
  SoundBench::EnsureLowerEnginePool();
  Planes planes;
  CSnVoiceFilter filter;
  if (filter.Init(kChannels, false) != SN_Success) {
    state.SkipWithError("the filter could not be made");
    return;
  }
  PlainFilters reference;
  // Both start filtering at 30 / 20.
  filter.SetLowPass(30.0f);
  filter.SetHighPass(20.0f);
  reference.lowValue = 30.0f, reference.highValue = 20.0f;
  reference.Design(30.0f, 20.0f, 1.0f);
  planes.Refresh();
  filter.Process(planes.data, kFrames, kFrames);
  bool up = false;
  for (auto _ : state) {
    planes.Refresh();
    const float low = up ? 60.0f : 30.0f, high = up ? 40.0f : 20.0f;
    if (ramping) up = !up;
    if (plain) {
      if (ramping)
        reference.Ramp(planes.data, low, high);
      else
        reference.Steady(planes.data);
    } else {
      filter.SetLowPass(low);
      filter.SetHighPass(high);
      filter.Process(planes.data, kFrames, kFrames);
    }
    benchmark::DoNotOptimize(planes.data[kFrames - 1]);
    benchmark::ClobberMemory();
  }
  filter.Term();
}
BENCHMARK_CAPTURE(Filters, Steady, false, false);
BENCHMARK_CAPTURE(Filters, SteadyPlain, true, false);
BENCHMARK_CAPTURE(Filters, Ramping, false, true);
BENCHMARK_CAPTURE(Filters, RampingPlain, true, true);

}  // namespace
