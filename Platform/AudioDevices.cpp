// Playback device names over SDL, the test stand-in list, and the device-arrival hand-off.
#include "Platform/AudioDevices.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <cstring>
#include <mutex>

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

}  // namespace

bool HoldPlayingAudioDriver() {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  const char* driver = SDL_GetCurrentAudioDriver();
  if (driver && std::strcmp(driver, "dummy") != 0 && SDL_GetNumAudioDevices(0) > 0) return true;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return false;
}

std::vector<std::string> AudioPlaybackDeviceNames() {
  std::vector<std::string> names;
  if (TestNamesIn(names) || !HoldPlayingAudioDriver()) return names;
  const int count = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 0);
    names.emplace_back(name ? name : "");
  }
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
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
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
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

}  // namespace Platform
