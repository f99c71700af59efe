// The planar f32 buffer that mix buses, output devices and sinks pass along, the channel
// configuration word that describes every such buffer, and the gain-ramp record of the kernels.
#pragma once

#include <cstdint>

namespace SN {

// Bits 0-7 channel count, bits 8-11 configuration type (0 anonymous, 1 standard), bits 12-31 the
// speaker mask. Channels are stored in mask-bit order with the LFE channel always last.
using SnChannelConfig = uint32_t;

constexpr uint32_t kSpeakerFrontLeft = 0x1;
constexpr uint32_t kSpeakerFrontRight = 0x2;
constexpr uint32_t kSpeakerCenter = 0x4;
constexpr uint32_t kSpeakerLfe = 0x8;
constexpr uint32_t kSpeakerBackLeft = 0x10;
constexpr uint32_t kSpeakerBackRight = 0x20;
constexpr uint32_t kSpeakerSideLeft = 0x200;
constexpr uint32_t kSpeakerSideRight = 0x400;
constexpr uint32_t kMaskStereo = 0x3;
constexpr uint32_t kMask51 = 0x60F;
constexpr uint32_t kMask71 = 0x63F;

constexpr uint32_t kConfigTypeAnonymous = 0;
constexpr uint32_t kConfigTypeStandard = 1;

constexpr uint32_t ChannelCount(SnChannelConfig config) { return config & 0xFF; }
constexpr uint32_t ConfigType(SnChannelConfig config) { return (config >> 8) & 0xF; }
constexpr uint32_t ChannelMask(SnChannelConfig config) { return config >> 12; }
// Counted in place: the build targets processors without a bit-count instruction, where the
// builtin becomes a library call on every voice's panning.
constexpr uint32_t MaskChannelCount(uint32_t mask) {
  mask = mask - ((mask >> 1) & 0x55555555u);
  mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
  return (((mask + (mask >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24;
}
constexpr SnChannelConfig StandardConfig(uint32_t mask) {
  return MaskChannelCount(mask) | (kConfigTypeStandard << 8) | (mask << 12);
}
constexpr SnChannelConfig AnonymousConfig(uint32_t channels) { return channels & 0xFF; }
constexpr bool HasLfe(SnChannelConfig config) { return (ChannelMask(config) & kSpeakerLfe) != 0; }

// A sink's frame buffer holds this many channels; a wider mix is not passed.
constexpr uint32_t kMaxFrameChannels = 8;

// The buffer state word takes these result values.
constexpr uint32_t kBufferNeedsData = 43;
constexpr uint32_t kBufferDataReady = 45;

struct SnMixBuffer {
  float* samples = nullptr;  // planar: channel c at samples + c x maxFrames
  SnChannelConfig channelConfig = 0;
  uint32_t state = kBufferNeedsData;
  uint16_t maxFrames = 0;
  uint16_t validFrames = 0;
  float previousGain = 1.0f;
  float nextGain = 1.0f;
};

// Built by a sink from the mix buffer's maximum frames; the kernels step the gain by its reciprocal.
struct SnGainRamp {
  uint16_t frames;
  float reciprocal;
};
static_assert(sizeof(SnGainRamp) == 8, "the ramp record the kernels read is two words");

}  // namespace SN
