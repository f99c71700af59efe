// The push mode of the sound output: float frames queued in a ring of slots that a named SDL
// device's callback thread plays from (the device may settle on another rate or channel count),
// and the null device that keeps what it is given for tests.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "Platform/CrashDump.h"

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

constexpr uint32_t kMinQueueSlots = 8;

// Device frames one audio frame of `frames` at `from` gives at `to`, with room for a resampler's
// rounding either way.
uint32_t UnitAtRate(uint32_t frames, uint32_t from, uint32_t to) {
  return uint32_t((uint64_t(frames) * to + from - 1) / from) + 2;
}

class NullQueueOutput final : public AudioQueueOutput {
 public:
  NullQueueOutput(uint32_t sampleRate, uint32_t channels, bool startFails)
      : AudioQueueOutput(sampleRate, channels), m_startFails(startFails) {}
  bool Open(uint32_t slots, uint32_t unitFrames) { return MakeRing(slots, unitFrames); }
  bool Start() override { return !m_startFails; }
  void Stop() override {}
  bool IsLost() override { return NullAudioOutputsLost(); }
  void PlayQueued() override { Take(nullptr, QueuedFrames()); }
  void TakeQueued(std::vector<float>& out) override {
    // The count may run ahead of the slots handed over: only what was taken stays.
    const uint32_t frames = QueuedFrames();
    const size_t at = out.size();
    out.resize(at + size_t(frames) * m_channels);
    out.resize(at + size_t(Take(out.data() + at, frames)) * m_channels);
  }

 private:
  bool m_startFails;
};

// The device's callback thread plays from the ring, silence where it runs dry.
class SdlQueueOutput final : public AudioQueueOutput {
 public:
  SdlQueueOutput() : AudioQueueOutput(0, 0) {}
  ~SdlQueueOutput() override {
    // Closing waits for a callback under way: nothing reads the ring after this.
    if (m_device) SDL_CloseAudioDevice(m_device);
    ReleaseAudioDriver();
  }
  bool Open(const char* name, uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, uint32_t slots) {
    uint32_t rate = sampleRate, settled = channels;
    m_device = OpenPulledAudioDevice(name, rate, settled, frameSamples, &SdlQueueOutput::Callback, this);
    if (!m_device) return false;
    m_sampleRate = rate;
    m_channels = settled;
    return MakeRing(slots, UnitAtRate(frameSamples, sampleRate, rate));
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
  void PlayQueued() override {}
  void TakeQueued(std::vector<float>&) override {}

 private:
  static void Callback(void* context, Uint8* stream, int length) {
    HoldThreadCrashStack();
    auto* self = static_cast<SdlQueueOutput*>(context);
    auto* out = reinterpret_cast<float*>(stream);
    const uint32_t frames = uint32_t(length) / (4 * self->m_channels);
    const uint32_t taken = self->Take(out, frames);
    std::memset(out + size_t(taken) * self->m_channels, 0, size_t(frames - taken) * self->m_channels * 4);
  }

  SDL_AudioDeviceID m_device = 0;
  bool m_started = false;
};

}  // namespace

// ---- the ring ----

AudioQueueOutput::~AudioQueueOutput() {
  delete[] m_pRing;
  delete[] m_pCounts;
}

bool AudioQueueOutput::MakeRing(uint32_t slots, uint32_t unitFrames) {
  m_slotCount = std::max(slots, kMinQueueSlots);
  m_unitFrames = unitFrames;
  m_pRing = new (std::nothrow) float[size_t(m_slotCount) * unitFrames * m_channels]();
  m_pCounts = new (std::nothrow) uint32_t[m_slotCount]();
  return m_pRing && m_pCounts;
}

float* AudioQueueOutput::Reserve() {
  if (m_filledSlots.load(std::memory_order_acquire) >= m_slotCount) return nullptr;
  return m_pRing + size_t(m_writeSlot) * m_unitFrames * m_channels;
}

void AudioQueueOutput::Commit(uint32_t frames) {
  frames = std::min(frames, m_unitFrames);
  if (frames == 0) return;
  m_pCounts[m_writeSlot] = frames;
  m_writeSlot = (m_writeSlot + 1) % m_slotCount;
  m_queuedFrames.fetch_add(frames, std::memory_order_relaxed);
  // Hands the slot, its samples and its count over to the platform's thread.
  m_filledSlots.fetch_add(1, std::memory_order_release);
}

bool AudioQueueOutput::Queue(const float* data, uint32_t frames) {
  while (frames) {
    float* slot = Reserve();
    if (!slot) return false;
    const uint32_t run = std::min(frames, m_unitFrames);
    std::memcpy(slot, data, size_t(run) * m_channels * sizeof(float));
    Commit(run);
    data += size_t(run) * m_channels;
    frames -= run;
  }
  return true;
}

uint32_t AudioQueueOutput::QueuedFrames() const { return m_queuedFrames.load(std::memory_order_relaxed); }

uint32_t AudioQueueOutput::Take(float* out, uint32_t frames) {
  uint32_t taken = 0;
  while (taken < frames && m_filledSlots.load(std::memory_order_acquire) > 0) {
    const float* slot = m_pRing + size_t(m_readSlot) * m_unitFrames * m_channels;
    const uint32_t run = std::min(frames - taken, m_pCounts[m_readSlot] - m_readFrame);
    if (out)
      std::memcpy(out + size_t(taken) * m_channels, slot + size_t(m_readFrame) * m_channels,
                  size_t(run) * m_channels * sizeof(float));
    taken += run;
    m_readFrame += run;
    m_queuedFrames.fetch_sub(run, std::memory_order_relaxed);
    if (m_readFrame == m_pCounts[m_readSlot]) {
      // A slot played whole goes back to the queueing thread.
      m_readFrame = 0;
      m_readSlot = (m_readSlot + 1) % m_slotCount;
      m_filledSlots.fetch_sub(1, std::memory_order_release);
    }
  }
  return taken;
}

AudioQueueOutput* OpenAudioQueueOutput(const char* deviceName, uint32_t sampleRate, uint32_t channels,
                                       uint32_t frameSamples, uint32_t slots) {
  if (!sampleRate || !channels || channels > 255 || !frameSamples) return nullptr;
  if (HoldPlayingAudioDriver()) {
    auto* output = new (std::nothrow) SdlQueueOutput;
    if (!output) {
      ReleaseAudioDriver();
      return nullptr;
    }
    if (output->Open(deviceName, sampleRate, channels, frameSamples, slots)) return output;
    delete output;
    return nullptr;
  }
  NullQueueSettings& null = NullQueue();
  std::lock_guard<std::mutex> hold(null.lock);
  if (!null.enabled) return nullptr;
  const uint32_t rate = null.sampleRate ? null.sampleRate : sampleRate;
  auto* output = new (std::nothrow) NullQueueOutput(rate, null.channels ? null.channels : channels, null.startFails);
  if (output && !output->Open(slots, UnitAtRate(frameSamples, sampleRate, rate))) {
    delete output;
    return nullptr;
  }
  return output;
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
