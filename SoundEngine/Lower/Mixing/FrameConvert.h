// Mixed frames as the platform plays them: a planar mix, or interleaved float frames, turned into
// interleaved 16-bit (or float) frames of an output layout, speaker by speaker, and held to full scale.
// The platform sinks and the output capture all convert here, so that a capture holds what was played
// and no sink hands the platform a NaN, an infinity or a sample beyond full scale. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN::FrameConvert {

// Interleaved f32 frames of `inConfig` as 16-bit frames of `outConfig`: the same layout is copied;
// otherwise every output speaker takes the input speaker of its mask bit, input speakers the
// output lacks fold into front left and right (centre to both, left and right surrounds to their
// side, all at 0.707; the LFE is dropped), and the rest is silent. Layouts without a mask go
// channel by channel. Samples are limited to -1..1 (a NaN becomes 0), scaled by 32767 and rounded to
// nearest.
void InterleavedToInt16(const float* in, SnChannelConfig inConfig, int16_t* out, SnChannelConfig outConfig,
                        uint32_t frames);

// The same speaker by speaker, into float frames held to full scale as ClipToFullScale holds them.
void InterleavedToFloat(const float* in, SnChannelConfig inConfig, float* out, SnChannelConfig outConfig,
                        uint32_t frames);

// The mix's first `frames` frames ramped from the previous to the next gain, as 16-bit frames of
// `outConfig`: one fused pass for the same layout, else interleaved into `scratch` (room for
// kMaxFrameChannels x frames floats) and converted as above. False, with nothing written, for a
// mix or layout wider than kMaxFrameChannels.
bool MixToInt16(const SnMixBuffer& mix, uint32_t frames, float previousGain, float nextGain,
                SnChannelConfig outConfig, float* scratch, int16_t* out);

// `count` float samples as a float platform may take them: a NaN becomes 0, everything else is held
// to -1..1 (infinities to the nearer end). Four samples a step; `in` may be `out`. Many voices summed
// reach far beyond full scale and a broken gain gives infinities and NaNs: the platform gets neither.
void ClipToFullScale(const float* in, float* out, size_t count);

// A source's `count` float samples as a voice takes them, in place: a NaN or an infinity becomes 0,
// everything else is held to +24 dB either way (10^(24/20)). True when a sample was changed.
bool HoldSourceSamples(float* samples, size_t count);

}  // namespace SN::FrameConvert
