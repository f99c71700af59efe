// The base of the tests' mono voice sources: planar float frames from the source's own storage, a
// position that seeks and skips, and nothing to do on pause, stop-looping or release.
#pragma once

#include <vector>

#include "SoundEngine/Lower/Pipeline/VoiceSource.h"

namespace OutputTest {

class MonoTestSource : public SN::ISnVoiceSource {
 public:
  SN::SnChannelConfig Format() const override { return SN::StandardConfig(SN::kSpeakerCenter); }
  void ReleaseBuffer() override {}
  void StopLooping() override {}
  void Seek(uint32_t target, bool, bool) override { m_position = target; }
  SN::SNRESULT SkipFrames(uint32_t frames) override {
    m_position += frames;
    return SN::SNRESULT(SN::SnVoice_DataReady);
  }
  void SetPaused(bool) override {}
  void Destroy() override { delete this; }

 protected:
  // `frames` samples of storage, zeroed, for the derived source to write the first `valid` of; the
  // buffer points at them and the position moves on by `valid`.
  float* Hand(SN::SnMixBuffer& buffer, uint32_t frames, uint32_t valid) {
    m_samples.assign(frames, 0.0f);
    buffer.samples = m_samples.data();
    buffer.channelConfig = Format();
    buffer.maxFrames = uint16_t(frames);
    buffer.validFrames = uint16_t(valid);
    return m_samples.data();
  }

  uint64_t m_position = 0;

 private:
  std::vector<float> m_samples;
};

}  // namespace OutputTest
