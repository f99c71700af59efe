// Playback device names over SDL, our holds on its audio subsystem, the test stand-in list, and the
// device-arrival hand-off.
#include "Platform/AudioDevices.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

namespace Platform {
namespace {

struct TestNames {
  std::mutex lock;
  std::vector<std::string> names;
};

TestNames& Stand() {
  static TestNames names;
  return names;
}

std::atomic<AudioDeviceArrivalHandler>& Arrival() {
  static std::atomic<AudioDeviceArrivalHandler> handler{nullptr};
  return handler;
}

bool TestNamesIn(std::vector<std::string>& out) {
  std::lock_guard<std::mutex> hold(Stand().lock);
  if (Stand().names.empty()) return false;
  out = Stand().names;
  return true;
}

// Orders our starts and stops of SDL's audio subsystem, so that whether a start is SDL's first is
// known while it is made.
std::mutex& SubsystemLock() {
  static std::mutex lock;
  return lock;
}

// A reason kept for whoever asks later, from any thread.
struct Note {
  std::mutex lock;
  std::string reason;

  void Set(std::string text) {
    std::lock_guard<std::mutex> hold(lock);
    reason = std::move(text);
  }
  std::string Get() {
    std::lock_guard<std::mutex> hold(lock);
    return reason;
  }
};

// What the audio's starts and the device opens left to be asked about later.
struct Notes {
  Note startFailure;  // SDL's reason its audio subsystem last failed to start; empty after a start that worked
  Note startWords;    // what SDL said while it started all the same: why it passed over the drivers it tried first
  Note noDevice;      // why the last output played on no device: the driver SDL took has no playback device
  Note openFailure;   // SDL's reason the last playback device asked for did not open
};

Notes& Noted() {
  static Notes notes;
  return notes;
}

std::string SdlError() {
  const char* reason = SDL_GetError();
  return reason && reason[0] ? reason : "SDL gave no reason";
}

void NoteStart(bool started) {
  Noted().startFailure.Set(started ? std::string() : SdlError());
  const char* words = SDL_GetError();
  Noted().startWords.Set(started && words ? words : "");
}

// SDL's disk driver writes a file: a device of it that does not open is a file that cannot be written,
// named by the variable or SDL's default.
void NoteOpenFailure() {
  std::string reason = SdlError();
  const char* driver = SDL_GetCurrentAudioDriver();
  if (driver && std::strcmp(driver, "disk") == 0) {
    const char* file = SDL_getenv("SDL_DISKAUDIOFILE");
    if (!file)
      reason += " (SDL_DISKAUDIOFILE is not set, and SDL's own file sdlaudio.raw cannot be written)";
    else if (!file[0])
      reason += " (SDL_DISKAUDIOFILE is empty: it names no file)";
    else
      reason += std::string(" (SDL_DISKAUDIOFILE names ") + file + ", which cannot be written)";
  }
  Noted().openFailure.Set(reason);
}

void NoteOpened() {
  Noted().noDevice.Set("");
  Noted().openFailure.Set("");
}

// SDL announces every device it finds whenever its audio subsystem starts from nothing, in the same
// event as a device plugged in later. Those are no arrivals: heard as such, they made the sound
// output drop its device and open it again, which started the subsystem again, without end. A first
// start is made with the announcement turned off; while the subsystem is held, arrivals are heard.
bool StartAudioSubsystem() {
  std::lock_guard<std::mutex> hold(SubsystemLock());
  if (SDL_WasInit(SDL_INIT_AUDIO)) return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  const Uint8 announced = SDL_EventState(SDL_AUDIODEVICEADDED, SDL_QUERY);
  SDL_EventState(SDL_AUDIODEVICEADDED, SDL_IGNORE);
  SDL_ClearError();
  const bool started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  NoteStart(started);
  SDL_EventState(SDL_AUDIODEVICEADDED, announced);
  return started;
}

}  // namespace

bool HoldPlayingAudioDriver() {
  if (!StartAudioSubsystem()) return false;
  const char* driver = SDL_GetCurrentAudioDriver();
  const bool dummy = !driver || std::strcmp(driver, "dummy") == 0;
  if (!dummy && SDL_GetNumAudioDevices(0) > 0) return true;
  // SDL's silent driver is only ever asked for by name; any other without a device is a machine
  // without a sound card, which nothing else would tell.
  if (!dummy) {
    const std::string words = Noted().startWords.Get();
    Noted().noDevice.Set("SDL's " + std::string(driver) + " driver has no playback device" +
                   (words.empty() ? "" : "; SDL: " + words));
  }
  ReleaseAudioDriver();
  return false;
}

std::string AudioDriverFailure() { return Noted().startFailure.Get(); }

std::string AudioNoDeviceReason() { return Noted().noDevice.Get(); }

std::string AudioDeviceOpenFailure() { return Noted().openFailure.Get(); }

void ReleaseAudioDriver() {
  std::lock_guard<std::mutex> hold(SubsystemLock());
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::vector<std::string> AudioPlaybackDeviceNames() {
  std::vector<std::string> names;
  if (TestNamesIn(names) || !HoldPlayingAudioDriver()) return names;
  const int count = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 0);
    names.emplace_back(name ? name : "");
  }
  ReleaseAudioDriver();
  return names;
}

std::string DefaultAudioPlaybackDeviceName() {
  std::vector<std::string> names;
  if (TestNamesIn(names)) return names.front();
  if (!HoldPlayingAudioDriver()) return std::string();
  char* name = nullptr;
  SDL_AudioSpec spec{};
  std::string result;
  if (SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0 && name) result = name;
  SDL_free(name);
  // A platform that cannot say which is the default plays its first device.
  if (result.empty() && SDL_GetNumAudioDevices(0) > 0) {
    const char* first = SDL_GetAudioDeviceName(0, 0);
    result = first ? first : "";
  }
  ReleaseAudioDriver();
  return result;
}

void SetAudioPlaybackDeviceNamesForTests(const std::vector<std::string>& names) {
  std::lock_guard<std::mutex> hold(Stand().lock);
  Stand().names = names;
}

void SetAudioDeviceArrivalHandler(AudioDeviceArrivalHandler handler) { Arrival().store(handler); }

void HandAudioDeviceAdded(bool capture) {
  if (capture) return;
  if (AudioDeviceArrivalHandler handler = Arrival().load()) handler();
}

namespace {
SDL_AudioSpec PulledSpec(uint32_t sampleRate, uint32_t channels, bool floatSamples, uint32_t frameSamples,
                         AudioPullCallback callback, void* context) {
  SDL_AudioSpec want{};
  want.freq = int(sampleRate);
  want.format = floatSamples ? AUDIO_F32SYS : AUDIO_S16SYS;
  want.channels = uint8_t(channels);
  want.samples = uint16_t(frameSamples);
  want.callback = callback;
  want.userdata = context;
  return want;
}
}  // namespace

uint32_t OpenPulledAudioDevice(uint32_t sampleRate, uint32_t channels, bool floatSamples, uint32_t frameSamples,
                               AudioPullCallback callback, void* context) {
  const SDL_AudioSpec want = PulledSpec(sampleRate, channels, floatSamples, frameSamples, callback, context);
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device)
    NoteOpened();
  else
    NoteOpenFailure();
  return device;
}

uint32_t OpenPulledAudioDevice(const char* deviceName, uint32_t& sampleRate, uint32_t& channels, uint32_t frameSamples,
                               AudioPullCallback callback, void* context) {
  const SDL_AudioSpec want = PulledSpec(sampleRate, channels, true, frameSamples, callback, context);
  SDL_AudioSpec have{};
  // The sample format stays float; rate and channels may become the device's own.
  const SDL_AudioDeviceID device =
      SDL_OpenAudioDevice(deviceName && deviceName[0] ? deviceName : nullptr, 0, &want, &have,
                          SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (!device) {
    NoteOpenFailure();
    return 0;
  }
  if (have.channels == 0 || have.freq <= 0) {
    SDL_CloseAudioDevice(device);
    Noted().openFailure.Set("the device settled on no format");
    return 0;
  }
  NoteOpened();
  sampleRate = uint32_t(have.freq);
  channels = have.channels;
  return device;
}

}  // namespace Platform
