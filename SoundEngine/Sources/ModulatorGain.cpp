// The modulator gain kernels: a block of gains at a time from the buffers, then every plane by it.
#include "SoundEngine/Sources/ModulatorGain.h"

#include <algorithm>

#include "SoundEngine/Modulators/ModulatorInstanceList.h"

namespace SN {

namespace {

// Gains are gathered a block at a time: on the stack, and still in cache when the planes read them.
constexpr uint32_t kGainBlock = 256;

// gains[i] x= the mapping at the buffer's sample `start + i`.
void MultiplyMapped(const SnModulatorBuffer& buffer, uint32_t start, uint32_t count, float* gains) {
  const uint32_t last = buffer.frameSamples - 1;
  const uint32_t inside = start > last ? 0 : std::min(count, last + 1 - start);
  const float* in = buffer.samples + start;
  const SnModulatorMapping* mapping = buffer.mapping;
  if (mapping && mapping->HasCurve()) {
    for (uint32_t i = 0; i < inside; ++i) gains[i] *= mapping->Map(in[i]);
  } else {
    // The straight line of the mapping, inline: the common case costs a multiply and an add.
    const float low = mapping ? mapping->low : -3.4028235e38f, high = mapping ? mapping->high : 3.4028235e38f;
    const float base = buffer.base, slope = buffer.slope;
    for (uint32_t i = 0; i < inside; ++i) gains[i] *= base + slope * std::clamp(in[i], low, high);
  }
  if (inside == count) return;
  const float held = mapping ? mapping->Map(buffer.samples[last]) : buffer.base + buffer.slope * buffer.samples[last];
  for (uint32_t i = inside; i < count; ++i) gains[i] *= held;
}

}  // namespace

void ApplyAudioRateGains(float* samples, uint32_t planeFrames, uint32_t channels, uint32_t first, uint32_t frames,
                         const SnModulatorBuffer* buffers, uint32_t count) {
  if (!samples || !count || first >= frames) return;
  float gains[kGainBlock];
  for (uint32_t start = first; start < frames; start += kGainBlock) {
    const uint32_t n = std::min(kGainBlock, frames - start);
    std::fill(gains, gains + n, 1.0f);
    for (uint32_t b = 0; b < count; ++b)
      if (buffers[b].samples && buffers[b].frameSamples) MultiplyMapped(buffers[b], start, n, gains);
    for (uint32_t c = 0; c < channels; ++c) {
      float* x = samples + size_t(c) * planeFrames + start;
      for (uint32_t i = 0; i < n; ++i) x[i] *= gains[i];
    }
  }
}

void ApplyGainOrRamp(float* samples, uint32_t planeFrames, uint32_t channels, uint32_t first, uint32_t frames,
                     uint32_t rampFrames, float g0, float g1) {
  if (!samples || first >= frames) return;
  if (g0 == g1) {
    if (g0 == 1.0f) return;
    for (uint32_t c = 0; c < channels; ++c) {
      float* x = samples + size_t(c) * planeFrames;
      for (uint32_t t = first; t < frames; ++t) x[t] *= g0;
    }
    return;
  }
  // By index, as the mix's ramps are: no error piles up across the frame.
  const float step = rampFrames ? (g1 - g0) / float(rampFrames) : 0.0f;
  for (uint32_t c = 0; c < channels; ++c) {
    float* x = samples + size_t(c) * planeFrames;
    for (uint32_t t = first; t < frames; ++t) x[t] *= g0 + float(int32_t(t)) * step;
  }
}

}  // namespace SN
