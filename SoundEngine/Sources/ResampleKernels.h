// The conversion and resampling kernels of the source stage: 16-bit interleaved or float planar input
// to planar float output, copied, at a fixed step or along a step ramp, chosen from a table by the
// resampler's state and the media format; and the channel orders between interleaved and planar.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/VoiceBuffer.h"

namespace SN {

class CSnPitchResampler;

// (input, output, requested output frames, resampler) -> 45 output full, 43 input used up.
using SnResampleKernel = SNRESULT (*)(SnVoiceBuffer& input, SnVoiceBuffer& output, uint32_t requested,
                                      CSnPitchResampler& resampler);

struct SnResampleKernelTable {
  SnResampleKernel entries[24];
};

// Index = state x 8 + format index.
SnResampleKernelTable& ResampleKernels();
// The fixed-step kernel of float planar input writing interleaved frames into `output` (whole frames
// of the input's channels, one after another), for a device that plays them so: the planar kernel's
// samples. SN_Failure unless the resampler reads float at a fixed step and the input has frames.
SNRESULT ResampleFloatToInterleaved(SnVoiceBuffer& input, SnVoiceBuffer& output, uint32_t requested,
                                    CSnPitchResampler& resampler);
// 16 bits: 1 channel 0, 2 channels 1, 3 or 4 channels 2, more 3; float adds 4; kNoKernelFormat else.
uint8_t ResampleFormatIndex(uint32_t bitsPerSample, uint32_t channels);

// With SSE2 the 16-bit copies take their vector forms, which give the same bits.
void SelectVectorKernels();
// The plain forms everywhere (what the vector forms are held to).
void SelectScalarKernels();

// The plane interleaved channel j goes to: with an LFE in the mask it goes last.
uint32_t PlaneOfChannel(uint32_t channel, SnChannelConfig config);
// `frames` interleaved frames to planes of `planeStride` floats, and back.
void DeinterleaveToPlanar(const float* interleaved, float* planar, uint32_t frames, SnChannelConfig config,
                          uint32_t planeStride);
void InterleaveFromPlanar(const float* planar, float* interleaved, uint32_t frames, SnChannelConfig config,
                          uint32_t planeStride);

}  // namespace SN
