// The platform's playback devices by name, and the hand-off through which the window's event pump
// tells the sound output that a playback device arrived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// The playback devices in the platform's order. Empty without a platform that really plays (SDL's
// "dummy" driver has no device of its own), unless tests supplied names.
std::vector<std::string> AudioPlaybackDeviceNames();
// The name of the device that plays when none is named; empty when it is not known.
std::string DefaultAudioPlaybackDeviceName();
// Tests: names that stand in for the platform's (the first is the default); an empty list gives
// the platform's own back.
void SetAudioPlaybackDeviceNamesForTests(const std::vector<std::string>& names);

// For the sound output layers: true, with SDL's audio subsystem held (the caller lets go of it with
// ReleaseAudioDriver), when SDL has a driver that really plays and a playback device on it. Any thread.
bool HoldPlayingAudioDriver();
void ReleaseAudioDriver();
// SDL's reason when its audio subsystem last failed to start (a driver named in SDL_AUDIODRIVER that
// does not exist, a sound server that is not there): the outputs then play on the null device, silent.
// Empty when the last start worked or none was made. Any thread.
std::string AudioDriverFailure();
// Why the last output played on the null device although SDL's audio started: the driver SDL took (not
// its "dummy" one, which is only had by name) has no playback device, as on a machine without a sound
// card; SDL's words from its start follow, if it said any. Empty once an output opens on a device. Any thread.
std::string AudioNoDeviceReason();
// SDL's reason the last playback device asked for did not open; under SDL's disk driver it names the file
// and the variable SDL_DISKAUDIOFILE. Empty once a device opens. Any thread.
std::string AudioDeviceOpenFailure();

// Opens the default playback device pulled by `callback` on SDL's audio thread: 16-bit or float
// interleaved samples of `channels` at `sampleRate`, asked for `frameSamples` at a time. The device's id,
// 0 when it could not be opened. The caller holds the driver (HoldPlayingAudioDriver).
using AudioPullCallback = void (*)(void* context, uint8_t* stream, int length);
uint32_t OpenPulledAudioDevice(uint32_t sampleRate, uint32_t channels, bool floatSamples, uint32_t frameSamples,
                               AudioPullCallback callback, void* context);
// The same on the device of that name (null or empty: the default one), which may settle on another
// rate and channel count: those it settled on are written back into `sampleRate` and `channels`.
uint32_t OpenPulledAudioDevice(const char* deviceName, uint32_t& sampleRate, uint32_t& channels, uint32_t frameSamples,
                               AudioPullCallback callback, void* context);

// Called on the thread that pumps the window's events when a playback device arrives.
using AudioDeviceArrivalHandler = void (*)();
// Null removes the handler. Any thread.
void SetAudioDeviceArrivalHandler(AudioDeviceArrivalHandler handler);
// The window's pump: a device was added; capture devices are not the sound output's concern.
void HandAudioDeviceAdded(bool capture);

}  // namespace Platform
