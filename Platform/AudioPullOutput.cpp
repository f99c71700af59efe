// The pull mode of the sound output: an SDL device whose callback thread asks for float frames,
// and the null device that a test's thread pulls in its place.
#include <SDL2/SDL.h>

#include <atomic>
#include <new>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "Platform/CrashDump.h"

namespace Platform {
namespace {

std::atomic<bool>& NullPullEnabled() {
  static std::atomic<bool> enabled{false};
  return enabled;
}

class NullPullOutput final : public AudioPullOutput {
 public:
  NullPullOutput(uint32_t sampleRate, uint32_t channels, AudioPullFill fill, void* context)
      : AudioPullOutput(sampleRate, channels), m_fill(fill), m_context(context) {}
  bool Start() override {
    m_playing.store(true, std::memory_order_release);
    return true;
  }
  void Stop() override { m_playing.store(false, std::memory_order_release); }
  bool IsLost() override { return NullAudioOutputsLost(); }
  void Pull(float* out, uint32_t frames) override {
    if (m_playing.load(std::memory_order_acquire)) m_fill(m_context, out, frames);
  }

 private:
  AudioPullFill m_fill;
  void* m_context;
  std::atomic<bool> m_playing{false};
};

class SdlPullOutput final : public AudioPullOutput {
 public:
  SdlPullOutput(uint32_t sampleRate, uint32_t channels, AudioPullFill fill, void* context)
      : AudioPullOutput(sampleRate, channels), m_fill(fill), m_context(context) {}
  ~SdlPullOutput() override {
    if (m_device) SDL_CloseAudioDevice(m_device);
    ReleaseAudioDriver();
  }
  bool Open(uint32_t frameSamples) {
    m_device = OpenPulledAudioDevice(m_sampleRate, m_channels, true, frameSamples, &SdlPullOutput::Callback, this);
    return m_device != 0;
  }
  bool Start() override {
    SDL_PauseAudioDevice(m_device, 0);
    m_started = true;
    return SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_PLAYING;
  }
  void Stop() override {
    SDL_PauseAudioDevice(m_device, 1);
    m_started = false;
  }
  // SDL stops a device it has lost; a device not started is not lost.
  bool IsLost() override { return m_started && SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_PLAYING; }
  void Pull(float*, uint32_t) override {}

 private:
  static void Callback(void* context, Uint8* stream, int length) {
    HoldThreadCrashStack();
    auto* self = static_cast<SdlPullOutput*>(context);
    const uint32_t frames = uint32_t(length) / (4 * self->m_channels);
    self->m_fill(self->m_context, reinterpret_cast<float*>(stream), frames);
  }

  AudioPullFill m_fill;
  void* m_context;
  SDL_AudioDeviceID m_device = 0;
  bool m_started = false;
};

}  // namespace

AudioPullOutput* OpenAudioPullOutput(uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, AudioPullFill fill,
                                     void* context) {
  if (!sampleRate || !channels || channels > 255 || !frameSamples || !fill) return nullptr;
  if (HoldPlayingAudioDriver()) {
    auto* output = new (std::nothrow) SdlPullOutput(sampleRate, channels, fill, context);
    if (!output) {
      ReleaseAudioDriver();
      return nullptr;
    }
    if (output->Open(frameSamples)) return output;
    delete output;
    return nullptr;
  }
  if (!NullPullEnabled().load()) return nullptr;
  return new (std::nothrow) NullPullOutput(sampleRate, channels, fill, context);
}

void CloseAudioPullOutput(AudioPullOutput* output) {
  if (!output) return;
  // SDL's close waits for a running callback, so nothing pulls once this returns.
  output->Stop();
  delete output;
}

void SetNullAudioPullOutputs(bool enabled) { NullPullEnabled().store(enabled); }

}  // namespace Platform
