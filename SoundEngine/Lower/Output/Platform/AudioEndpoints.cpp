// Device ids from playback device names, and the arrival notice over the platform's hand-off.
#include "SoundEngine/Lower/Output/Platform/AudioEndpoints.h"

#include <vector>

#include "Platform/AudioDevices.h"
#include "Platform/TextNarrowing.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN {
namespace {

// Raised on the thread that pumps the window: only the flag and the wake are touched there.
void OnPlaybackDeviceArrived() {
  if (g_pAudioMgr) LowerEngine::NotifyDeviceChanged();
}

}  // namespace

uint32_t DeviceIdOfName(const std::string& name) {
  return name.empty() ? kNoDeviceId : SoundEngine::GetIDFromString(name.c_str());
}

uint32_t GetDeviceIDFromName(const char16_t* name) {
  if (!name || !name[0]) return kNoDeviceId;
  // Names come from the platform in UTF-8; the caller's is compared in the same form.
  const std::string wanted = Platform::Utf8Text(name);
  // The name stands for both the id string and the friendly name a platform might keep apart.
  for (const std::string& device : Platform::AudioPlaybackDeviceNames())
    if (device.find(wanted) != std::string::npos) return DeviceIdOfName(device);
  return kNoDeviceId;
}

void* GetDirectSoundInstance() { return nullptr; }
void* GetEngineXAudio2Interface() { return nullptr; }

namespace LowerEngine {

void SetUpDeviceNotifications() { Platform::SetAudioDeviceArrivalHandler(&OnPlaybackDeviceArrived); }

void RemoveDeviceNotifications() { Platform::SetAudioDeviceArrivalHandler(nullptr); }

}  // namespace LowerEngine
}  // namespace SN
