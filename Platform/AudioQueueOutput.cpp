// The push mode of the sound output: float frames queued on a named SDL device that may settle on
// another rate or channel count, and the null device that keeps what it is given for tests.
#include <SDL2/SDL.h>

#include <mutex>
#include <new>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"

namespace Platform {
namespace {

struct NullQueueSettings {
  std::mutex lock;
  bool enabled = false;
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  bool startFails = false;
};

NullQueueSettings& NullQueue() {
  static NullQueueSettings settings;
  return settings;
}

class NullQueueOutput final : public AudioQueueOutput {
 public:
  NullQueueOutput(uint32_t sampleRate, uint32_t channels, bool startFails)
      : AudioQueueOutput(sampleRate, channels), m_startFails(startFails) {}
  bool Start() override { return !m_startFails; }
  void Stop() override {}
  bool Queue(const float* data, uint32_t frames) override {
    if (NullAudioOutputsLost()) return false;
    std::lock_guard<std::mutex> hold(m_lock);
    m_queued.insert(m_queued.end(), data, data + size_t(frames) * m_channels);
    return true;
  }
  uint32_t QueuedFrames() override {
    std::lock_guard<std::mutex> hold(m_lock);
    return uint32_t(m_queued.size() / m_channels);
  }
  bool IsLost() override { return NullAudioOutputsLost(); }
  void TakeQueued(std::vector<float>& out) override {
    std::lock_guard<std::mutex> hold(m_lock);
    out.insert(out.end(), m_queued.begin(), m_queued.end());
    m_queued.clear();
  }

 private:
  std::mutex m_lock;
  std::vector<float> m_queued;
  bool m_startFails;
};

class SdlQueueOutput final : public AudioQueueOutput {
 public:
  SdlQueueOutput() : AudioQueueOutput(0, 0) {}
  ~SdlQueueOutput() override {
    if (m_device) SDL_CloseAudioDevice(m_device);
    ReleaseAudioDriver();
  }
  bool Open(const char* name, uint32_t sampleRate, uint32_t channels, uint32_t frameSamples) {
    SDL_AudioSpec want{};
    want.freq = int(sampleRate);
    want.format = AUDIO_F32SYS;
    want.channels = uint8_t(channels);
    want.samples = uint16_t(frameSamples);
    SDL_AudioSpec have{};
    // The sample format stays float; rate and channels may become the device's own.
    m_device = SDL_OpenAudioDevice(name && name[0] ? name : nullptr, 0, &want, &have,
                                   SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (!m_device || have.channels == 0 || have.freq <= 0) return false;
    m_sampleRate = uint32_t(have.freq);
    m_channels = have.channels;
    return true;
  }
  bool Start() override {
    SDL_PauseAudioDevice(m_device, 0);
    return SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_PLAYING;
  }
  void Stop() override { SDL_PauseAudioDevice(m_device, 1); }
  bool Queue(const float* data, uint32_t frames) override {
    return SDL_QueueAudio(m_device, data, frames * m_channels * 4) == 0;
  }
  uint32_t QueuedFrames() override { return SDL_GetQueuedAudioSize(m_device) / (4 * m_channels); }
  bool IsLost() override { return SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED; }
  void TakeQueued(std::vector<float>&) override {}

 private:
  SDL_AudioDeviceID m_device = 0;
};

}  // namespace

AudioQueueOutput* OpenAudioQueueOutput(const char* deviceName, uint32_t sampleRate, uint32_t channels,
                                       uint32_t frameSamples) {
  if (!sampleRate || !channels || channels > 255 || !frameSamples) return nullptr;
  if (HoldPlayingAudioDriver()) {
    auto* output = new (std::nothrow) SdlQueueOutput;
    if (!output) {
      ReleaseAudioDriver();
      return nullptr;
    }
    if (output->Open(deviceName, sampleRate, channels, frameSamples)) return output;
    delete output;
    return nullptr;
  }
  NullQueueSettings& null = NullQueue();
  std::lock_guard<std::mutex> hold(null.lock);
  if (!null.enabled) return nullptr;
  return new (std::nothrow) NullQueueOutput(null.sampleRate ? null.sampleRate : sampleRate,
                                            null.channels ? null.channels : channels, null.startFails);
}

void CloseAudioQueueOutput(AudioQueueOutput* output) {
  if (!output) return;
  output->Stop();
  delete output;
}

void SetNullAudioQueueOutputs(bool enabled, uint32_t sampleRate, uint32_t channels, bool startFails) {
  NullQueueSettings& null = NullQueue();
  std::lock_guard<std::mutex> hold(null.lock);
  null.enabled = enabled;
  null.sampleRate = sampleRate;
  null.channels = channels;
  null.startFails = startFails;
}

}  // namespace Platform
