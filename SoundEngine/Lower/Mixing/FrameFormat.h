// The audio frame format every part of the voice pipeline reads: sample rate, samples per frame and
// the durations and rate factor derived from them.
#pragma once

#include <cstdint>

namespace SN::LowerEngine {

// A motion voice's frame, whatever the audio frame is: motion runs at 8 samples a frame.
constexpr uint32_t kMotionFrameSamples = 8;

uint32_t SampleRate();             // hertz
uint32_t SamplesPerFrame();        // 1024 before initialisation
uint32_t FrameDurationMs();        // whole milliseconds, truncated
uint32_t QuarterFrameDurationMs();
uint32_t RateFactor();             // 128 at 48000 Hz

void SetSampleRate(uint32_t hertz);
void SetSamplesPerFrame(uint32_t samples);

}  // namespace SN::LowerEngine
