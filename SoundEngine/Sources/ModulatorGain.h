// The gains a voice's volume modulators put on its frame: a signal a sample from each modulator
// that moves faster than a frame can follow, a ramp across the frame from each of the others.
// Planar float frames, planes `planeFrames` apart; every channel alike, the LFE too. Any thread; no
// allocation.
#pragma once

#include <cstdint>

namespace SN {

struct SnModulatorBuffer;

// Frames [first, frames) of every channel x, for each buffer, its mapping at the buffer's sample of
// the same frame (a buffer shorter than the frame holds its last sample from there on).
void ApplyAudioRateGains(float* samples, uint32_t planeFrames, uint32_t channels, uint32_t first, uint32_t frames,
                         const SnModulatorBuffer* buffers, uint32_t count);

// Frames [first, frames) of every channel x (g0 + t x (g1 - g0) / rampFrames) at frame t: one
// constant gain when both ends are equal, and nothing at all when that gain is 1.
void ApplyGainOrRamp(float* samples, uint32_t planeFrames, uint32_t channels, uint32_t first, uint32_t frames,
                     uint32_t rampFrames, float g0, float g1);

}  // namespace SN
