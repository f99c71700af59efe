// Linear interpolation between neighbouring input frames, the previous call's last frame carried.
#include "SoundEngine/Lower/LinearResampler.h"

#include <cstddef>

namespace SN {

bool CSnLinearResampler::Init(uint32_t inRate, uint32_t outRate, uint32_t channels) {
  if (!inRate || !outRate || !channels || channels > kMaxChannels) return false;
  m_inRate = inRate;
  m_outRate = outRate;
  m_channels = channels;
  Reset();
  return true;
}

void CSnLinearResampler::Reset() {
  // The first output frame falls on the first input frame.
  m_position = m_outRate;
  for (float& sample : m_last) sample = 0.0f;
}

uint32_t CSnLinearResampler::MaxOutputFrames(uint32_t inFrames) const {
  if (!m_inRate) return 0;
  return uint32_t((uint64_t(inFrames) * m_outRate + m_inRate - 1) / m_inRate) + 1;
}

uint32_t CSnLinearResampler::Process(const float* in, uint32_t inFrames, float* out, uint32_t outRoom) {
  if (!m_inRate || !inFrames) return 0;
  const uint64_t end = uint64_t(inFrames) * m_outRate;  // the position of the last input frame + 1 step
  uint32_t written = 0;
  // Position p (in 1/outRate input frames) lies between frame p / outRate - 1 and p / outRate, where
  // frame -1 is the last one of the previous call.
  while (m_position <= end && written < outRoom) {
    const uint64_t whole = m_position / m_outRate;
    const float t = float(m_position % m_outRate) / float(m_outRate);
    const float* a = whole == 0 ? m_last : in + (whole - 1) * m_channels;
    const float* b = whole < inFrames ? in + whole * m_channels : a;
    for (uint32_t c = 0; c < m_channels; ++c) out[c] = a[c] + (b[c] - a[c]) * t;
    out += m_channels;
    ++written;
    m_position += m_inRate;
  }
  // Positions past the last frame wait for the next call's first one.
  m_position = m_position > end ? m_position - end : 0;
  const float* last = in + size_t(inFrames - 1) * m_channels;
  for (uint32_t c = 0; c < m_channels; ++c) m_last[c] = last[c];
  return written;
}

}  // namespace SN
