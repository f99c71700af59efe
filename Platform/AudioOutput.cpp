// The looping 16-bit output over an SDL playback device, and the clock-driven null device.
#include "Platform/AudioOutput.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "Platform/AudioDevices.h"
#include "Platform/Clock.h"
#include "Platform/CrashDump.h"

namespace Platform {
namespace {

std::atomic<bool>& NullLost() {
  static std::atomic<bool> lost{false};
  return lost;
}

std::atomic<uint32_t>& NullMaxChannels() {
  static std::atomic<uint32_t> channels{0};
  return channels;
}

void CopyIntoRing(uint8_t* ring, uint32_t ringBytes, uint32_t offset, const void* data, uint32_t bytes) {
  const auto* from = static_cast<const uint8_t*>(data);
  offset %= ringBytes;
  while (bytes) {
    const uint32_t run = bytes < ringBytes - offset ? bytes : ringBytes - offset;
    std::memcpy(ring + offset, from, run);
    from += run;
    bytes -= run;
    offset = 0;
  }
}

// Plays nothing: its play cursor moves one frame for every frame of engine-clock time since Start.
class NullAudioOutput final : public AudioOutput {
 public:
  NullAudioOutput(uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, uint32_t ringBytes)
      : AudioOutput(sampleRate, channels, ringBytes, true), m_frameSamples(frameSamples) {}
  bool Start() override {
    if (m_playing) return true;
    m_startTicks = TicksNow();
    m_playing = true;
    return true;
  }
  void Stop() override { m_playing = false; }
  bool GetCursors(uint32_t& play, uint32_t& write) override {
    if (NullLost().load(std::memory_order_relaxed)) return false;
    const uint32_t blockAlign = m_channels * 2;
    if (!m_playing) {
      play = write = 0;
      return true;
    }
    play = uint32_t(PlayedBytes() % m_ringBytes);
    // The platform is always a sample ahead of what it plays.
    write = uint32_t((play + blockAlign) % m_ringBytes);
    return true;
  }
  void Write(uint32_t, const void*, uint32_t) override {}
  uint64_t PlayedBytes() override {
    if (!m_playing) return 0;
    const int64_t now = TicksNow();
    const uint64_t elapsed = now > m_startTicks ? uint64_t(now - m_startTicks) : 0;
    const unsigned __int128 samples = (unsigned __int128)elapsed * m_sampleRate / uint64_t(kTicksPerSecond);
    const uint64_t frames = uint64_t(samples / m_frameSamples);
    return frames * m_frameSamples * m_channels * 2;
  }

 private:
  uint32_t m_frameSamples;
  int64_t m_startTicks = 0;
  bool m_playing = false;
};

class SdlAudioOutput final : public AudioOutput {
 public:
  SdlAudioOutput(uint32_t sampleRate, uint32_t channels, uint32_t ringBytes)
      : AudioOutput(sampleRate, channels, ringBytes, false), m_ring(ringBytes, 0) {}
  ~SdlAudioOutput() override {
    if (m_device) SDL_CloseAudioDevice(m_device);
    ReleaseAudioDriver();
  }

  bool Open(uint32_t frameSamples) {
    m_device = OpenPulledAudioDevice(m_sampleRate, m_channels, false, frameSamples, &SdlAudioOutput::Callback, this);
    return m_device != 0;
  }
  bool Start() override {
    if (SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_PLAYING) return true;
    m_read.store(0, std::memory_order_relaxed);
    m_played.store(0, std::memory_order_relaxed);
    SDL_PauseAudioDevice(m_device, 0);
    return SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_PLAYING;
  }
  void Stop() override { SDL_PauseAudioDevice(m_device, 1); }
  bool GetCursors(uint32_t& play, uint32_t& write) override {
    if (SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_PLAYING) return false;
    play = m_read.load(std::memory_order_acquire);
    write = (play + m_channels * 2) % m_ringBytes;
    return true;
  }
  void Write(uint32_t offset, const void* data, uint32_t bytes) override {
    CopyIntoRing(m_ring.data(), m_ringBytes, offset, data, bytes);
    // Publishes the bytes to the callback, which takes this count before it reads.
    m_written.fetch_add(bytes, std::memory_order_release);
  }
  uint64_t PlayedBytes() override { return m_played.load(std::memory_order_acquire); }

 private:
  // SDL's thread: copies the next bytes of the ring out, clears them and moves the play cursor.
  static void Callback(void* context, Uint8* stream, int length) {
    HoldThreadCrashStack();
    auto* self = static_cast<SdlAudioOutput*>(context);
    (void)self->m_written.load(std::memory_order_acquire);
    uint32_t at = self->m_read.load(std::memory_order_relaxed);
    for (uint32_t left = uint32_t(length); left;) {
      const uint32_t run = left < self->m_ringBytes - at ? left : self->m_ringBytes - at;
      std::memcpy(stream, self->m_ring.data() + at, run);
      std::memset(self->m_ring.data() + at, 0, run);
      stream += run;
      left -= run;
      at = (at + run) % self->m_ringBytes;
    }
    self->m_read.store(at, std::memory_order_release);
    self->m_played.fetch_add(uint64_t(length), std::memory_order_release);
  }

  std::vector<uint8_t> m_ring;
  SDL_AudioDeviceID m_device = 0;
  std::atomic<uint32_t> m_read{0};
  std::atomic<uint64_t> m_written{0};
  std::atomic<uint64_t> m_played{0};
};

}  // namespace

uint32_t DefaultAudioOutputChannels() {
  if (!HoldPlayingAudioDriver()) return 2;
  SDL_AudioSpec spec{};
  char* name = nullptr;
  const uint32_t channels = SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0 ? spec.channels : 2;
  SDL_free(name);
  ReleaseAudioDriver();
  return channels ? channels : 2;
}

AudioOutput* OpenAudioOutput(uint32_t sampleRate, uint32_t channels, uint32_t frameSamples, uint32_t ringBytes) {
  if (!sampleRate || !channels || channels > 255 || !frameSamples || !ringBytes) return nullptr;
  if (HoldPlayingAudioDriver()) {
    auto* output = new (std::nothrow) SdlAudioOutput(sampleRate, channels, ringBytes);
    if (!output) {
      ReleaseAudioDriver();
      return nullptr;
    }
    if (output->Open(frameSamples)) return output;
    delete output;  // the device refused the format as asked
    return nullptr;
  }
  const uint32_t most = NullMaxChannels().load(std::memory_order_relaxed);
  if (most && channels > most) return nullptr;
  return new (std::nothrow) NullAudioOutput(sampleRate, channels, frameSamples, ringBytes);
}

void CloseAudioOutput(AudioOutput* output) {
  if (!output) return;
  output->Stop();
  delete output;
}

void EndAudioOutputThread() {
  // SDL keeps an error text per thread it has seen; only the thread itself can free it.
  SDL_TLSCleanup();
}

void SetNullAudioOutputsLost(bool lost) { NullLost().store(lost, std::memory_order_relaxed); }
bool NullAudioOutputsLost() { return NullLost().load(std::memory_order_relaxed); }
void SetNullAudioOutputMaxChannels(uint32_t channels) { NullMaxChannels().store(channels, std::memory_order_relaxed); }

}  // namespace Platform
