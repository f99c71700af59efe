// The sample loops at the end of the voice pipeline: a planar buffer added into another through a
// ramped gain matrix, interleaving into a sink's float frame or straight into the platform's 16-bit
// frame, planar 16-bit conversion, and the voice filters' cutoff mapping. Every kernel has a vector
// form and a plain form that give the same bits; the plain forms are public so that tests and
// benchmarks can set them side by side.
// Any thread; no kernel allocates or keeps state.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN::MixKernels {

// The plane (in samples from the buffer's start) of each interleaved channel: without LFE channel k
// is plane k; with LFE the LFE plane is the last and sits after the front speakers it follows.
// Writes ChannelCount(config) offsets.
void ChannelPlaneOffsets(SnChannelConfig config, uint32_t planeFrames, uint32_t* offsets);

// out[t] += in[t] x (initialGain + t x step); `in` and `out` do not overlap. Eight frames a step
// where the processor has AVX, with the plain form's bits.
void AddRamped(const float* in, float* out, float initialGain, float step, uint32_t frames);
void AddRampedPlain(const float* in, float* out, float initialGain, float step, uint32_t frames);
// out[t] = in[t] x (initialGain + t x step): the first input of a buffer that is not cleared.
void SetRamped(const float* in, float* out, float initialGain, float step, uint32_t frames);

// Output planes += input planes x the matrix gains ramped from (previous matrix x previous gain) to
// (next matrix x next gain). A matrix row per input plane holds ceil(output channels / 4) x 4 gains.
// The LFE planes meet only each other. The output's valid frames become `frames`. With `overwrite`
// the output's samples are taken as silence and never read: the planes come out as if cleared first.
// Input past `heard` frames (at most `frames`) is silence, and so are its first `silent` frames:
// neither is mixed, and the ramp still spans `frames` with each frame's gain where it would be.
void AddWithMatrix(SnMixBuffer& out, const SnMixBuffer& in, const float* previousMatrix, const float* nextMatrix,
                   float previousGain, float nextGain, uint32_t frames, bool overwrite = false,
                   uint32_t heard = 0xFFFFFFFFu, uint32_t silent = 0);

// The samples past a buffer's valid frames become silence, and the whole buffer valid; so do its
// first `leadingSilence` frames.
void ClearPastValid(SnMixBuffer& buffer, uint32_t leadingSilence = 0);

// `ramp.frames` frames of `in` interleaved into `out` (ChannelCount(in.channelConfig) samples a
// frame) with gain previous + t x (next - previous) x ramp.reciprocal at frame t.
void InterleaveWithRamp(const SnGainRamp& ramp, const SnMixBuffer& in, float* out, float previousGain,
                        float nextGain);
void InterleaveWithRampPlain(const SnGainRamp& ramp, const SnMixBuffer& in, float* out, float previousGain,
                             float nextGain);

// `ramp.frames` frames of `in` ramped as InterleaveWithRamp does, limited to -1..1 (a NaN becomes 0), scaled by 32767
// and rounded to nearest (ties to even) into interleaved 16-bit frames of the same layout: the
// interleave, conversion and packing of a platform frame in one pass.
void InterleaveToInt16WithRamp(const SnGainRamp& ramp, const SnMixBuffer& in, int16_t* out, float previousGain,
                               float nextGain);
void InterleaveToInt16WithRampPlain(const SnGainRamp& ramp, const SnMixBuffer& in, int16_t* out,
                                    float previousGain, float nextGain);

// Planar samples (planes `planeFrames` apart, channels of `config`) to interleaved 16-bit frames of
// `outChannels` samples: sample x gain(t) x 32767, limited to -32768..32767, rounded to nearest
// (ties to even). Output channels the input lacks are silent; input channels beyond are dropped.
void ToInt16WithRamp(const float* in, uint32_t planeFrames, int16_t* out, uint32_t frames, SnChannelConfig config,
                     uint32_t outChannels, float previousGain, float nextGain);
void ToInt16WithRampPlain(const float* in, uint32_t planeFrames, int16_t* out, uint32_t frames,
                          SnChannelConfig config, uint32_t outChannels, float previousGain, float nextGain);

}  // namespace SN::MixKernels

namespace SN {

// The voice filters' cutoff in hertz for a filter value of 0 to 100 (the high-pass form passes
// 100 - value), at most 0.45 x the engine's sample rate. Motion voices map onto their own rate.
float FilterCutoff(float value, bool motion);

}  // namespace SN
