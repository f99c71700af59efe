// Device ids from playback device names, and the arrival notice over the platform's hand-off.
#include "SoundEngine/Lower/Platform/AudioEndpoints.h"

#include <vector>

#include "Platform/AudioDevices.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Lower/OutputDevice.h"
#include "SoundEngine/SoundEngineApi.h"

namespace SN {
namespace {

// Names come from the platform in UTF-8; a caller's 16-bit name is compared in the same form.
std::string Utf8Of(const char16_t* text) {
  std::string out;
  for (size_t i = 0; text[i]; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

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
  const std::string wanted = Utf8Of(name);
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
