// A small linear resampler of interleaved float frames from one fixed rate to another, for outputs
// whose device plays at another rate than the engine. Positions are kept as exact fractions of the
// two rates, so a long run gives exactly rate-out / rate-in of the frames it was given.
// Any thread; one stream per object.
#pragma once

#include <cstdint>

namespace SN {

class CSnLinearResampler {
 public:
  static constexpr uint32_t kMaxChannels = 8;

  // False for a rate of 0 or a channel count of 0 or above kMaxChannels.
  bool Init(uint32_t inRate, uint32_t outRate, uint32_t channels);
  // Frames one call may write for `inFrames` frames in: a bound for the output's room.
  uint32_t MaxOutputFrames(uint32_t inFrames) const;
  // Consumes all `inFrames` frames and writes the output frames due before the last of them (at
  // most `outRoom`, which MaxOutputFrames covers); returns the frames written.
  uint32_t Process(const float* in, uint32_t inFrames, float* out, uint32_t outRoom);
  void Reset();

 private:
  uint32_t m_inRate = 0;
  uint32_t m_outRate = 0;
  uint32_t m_channels = 0;
  // The next output frame's position after the previous input's last frame, in 1/outRate input frames.
  uint64_t m_position = 0;
  float m_last[kMaxChannels] = {};
};

}  // namespace SN
