// Output devices named by the platform: ids made from the platform's playback device names, the
// lookup of an id by part of a name, and the device-arrival notice that rebuilds the main output.
#pragma once

#include <cstdint>
#include <string>

namespace SN {

constexpr uint32_t kNoDeviceId = 0xFFFFFFFFu;

// The id of the first playback device, in the platform's order, whose name contains `name`;
// kNoDeviceId for a null or empty name and when none does. Any thread.
uint32_t GetDeviceIDFromName(const char16_t* name);
// The id of a device by its whole name (kNoDeviceId for an empty one).
uint32_t DeviceIdOfName(const std::string& name);
// The platform's own output interfaces of the main device: none on this platform, always null.
void* GetDirectSoundInstance();
void* GetEngineXAudio2Interface();

namespace LowerEngine {

// The last step of lower-engine Init: a playback device that arrives raises the device-change
// notice (the window's pump hands the arrival over; runs without a window raise none).
void SetUpDeviceNotifications();
// The first step of Term.
void RemoveDeviceNotifications();

}  // namespace LowerEngine
}  // namespace SN
