// Frames a broken mix may hand an output (NaNs, infinities, values far past full scale) and what every
// output must play in their place: silence for a NaN, full scale for anything louder than it.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace BrokenFrames {

constexpr uint32_t kFrame = 1024;
constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Ten samples a broken mix may hold, what a float output plays for each, and what a 16-bit one does.
inline const float kBroken[10] = {kNaN, kInf, -kInf, 3e37f, -3e37f, 33.0f, 0.5f, -0.25f, 1.0f, -1.0f};
inline const float kPlayed[10] = {0.0f, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f, 0.5f, -0.25f, 1.0f, -1.0f};
// x 32767 rounded to nearest, ties to even: 16383.5 gives 16384, -8191.75 gives -8192.
inline const int16_t kPlayed16[10] = {0, 32767, -32767, 32767, -32767, 32767, 16384, -8192, 32767, -32767};

// Channel c of frame t: the broken samples in turn, each channel three steps further on.
inline float Broken(uint32_t c, uint32_t t) { return kBroken[(t + 3 * c) % 10]; }
inline float Played(uint32_t c, uint32_t t) { return kPlayed[(t + 3 * c) % 10]; }
inline int16_t Played16(uint32_t c, uint32_t t) { return kPlayed16[(t + 3 * c) % 10]; }

// One planar frame of `config`, sample by sample from `sample` (the broken samples unless told).
struct Mix {
  std::vector<float> planes;
  SN::SnMixBuffer mix{};
  explicit Mix(SN::SnChannelConfig config, float (*sample)(uint32_t, uint32_t) = &Broken) {
    const uint32_t channels = SN::ChannelCount(config);
    planes.resize(size_t(channels) * kFrame);
    for (uint32_t c = 0; c < channels; ++c)
      for (uint32_t t = 0; t < kFrame; ++t) planes[size_t(c) * kFrame + t] = sample(c, t);
    mix.samples = planes.data();
    mix.channelConfig = config;
    mix.maxFrames = mix.validFrames = kFrame;
    mix.previousGain = mix.nextGain = 1.0f;
  }
};

// The first `frames` interleaved stereo frames are what a float output plays for the broken samples.
inline void ExpectPlayedStereo(const std::vector<float>& interleaved, size_t frames, const char* what) {
  ASSERT_GE(interleaved.size(), frames * 2) << what;
  for (uint32_t t = 0; t < frames; ++t)
    for (uint32_t c = 0; c < 2; ++c)
      ASSERT_EQ(interleaved[size_t(t) * 2 + c], Played(c, t)) << what << " frame " << t << " channel " << c;
}

// The first `frames` interleaved 16-bit stereo frames are what a 16-bit output plays for them.
inline void ExpectPlayedStereo16(const std::vector<int16_t>& interleaved, size_t frames) {
  ASSERT_GE(interleaved.size(), frames * 2);
  for (uint32_t t = 0; t < frames; ++t)
    for (uint32_t c = 0; c < 2; ++c)
      ASSERT_EQ(interleaved[size_t(t) * 2 + c], Played16(c, t)) << "frame " << t << " channel " << c;
}

}  // namespace BrokenFrames
