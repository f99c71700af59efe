// Frame-format values, recomputed by their two setters only.
#include "SoundEngine/Lower/Mixing/FrameFormat.h"

#include <atomic>

namespace SN::LowerEngine {
namespace {

struct FrameFormat {
  std::atomic<uint32_t> sampleRate{48000};
  std::atomic<uint32_t> samplesPerFrame{1024};
  std::atomic<uint32_t> frameDurationMs{21};
  std::atomic<uint32_t> quarterFrameDurationMs{5};
  std::atomic<uint32_t> rateFactor{128};
};

FrameFormat& Format() {
  static FrameFormat format;
  return format;
}

void UpdateDurations() {
  FrameFormat& f = Format();
  const uint32_t rate = f.sampleRate;
  const uint32_t samples = f.samplesPerFrame;
  if (rate == 0) return;
  // 0.001 in single precision, truncated like the rest of the format's conversions.
  f.frameDurationMs = uint32_t(float(samples) / (0.001f * float(rate)));
  f.quarterFrameDurationMs = uint32_t(double(samples) * 1000.0 / double(rate) * 0.25);
}

}  // namespace

uint32_t SampleRate() { return Format().sampleRate; }
uint32_t SamplesPerFrame() { return Format().samplesPerFrame; }
uint32_t FrameDurationMs() { return Format().frameDurationMs; }
uint32_t QuarterFrameDurationMs() { return Format().quarterFrameDurationMs; }
uint32_t RateFactor() { return Format().rateFactor; }

void SetSampleRate(uint32_t hertz) {
  Format().sampleRate = hertz;
  Format().rateFactor = hertz * 128u / 48000u;
  UpdateDurations();
}

void SetSamplesPerFrame(uint32_t samples) {
  Format().samplesPerFrame = samples;
  UpdateDurations();
}

}  // namespace SN::LowerEngine
