// The sound engine's start and stop: settings, the default pool, the managers in their fixed order,
// and the audio manager with its thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN {

using SnAssertHook = void (*)(const char* expression, const char* file, int line);
using SnBehavioralExtension = void (*)(bool lastCall);
using SnBackgroundMusicCallback = void (*)(bool muted, void* cookie);

struct SnInitSettings {
  SnAssertHook assertHook;
  uint32_t maxPaths;
  uint32_t maxTransitions;
  uint32_t defaultPoolBytes;
  float memoryThresholdRatio;
  uint32_t commandQueueBytes;
  int32_t preparedDataPoolId;
  bool gameSyncPreparation;
  uint32_t lookAheadFrames;
  uint32_t samplesPerFrame;
  uint32_t reservedPoolBytesA;
  uint32_t reservedPoolBytesB;
  uint32_t mainOutputKind;
  SnOutputSettings mainOutputSettings;
  uint32_t deviceTimeoutMs;
  uint8_t useBankThread;
  uint8_t useAudioThread;
  SnBackgroundMusicCallback backgroundMusicCallback;
  void* backgroundMusicCookie;
};

extern SnMemPoolId g_DefaultPoolId;
extern SnAssertHook g_pAssertHook;

namespace SoundEngine {

void GetDefaultInitSettings(SnInitSettings& settings);
void GetDefaultPlatformInitSettings(SnPlatformInitSettings& settings);
// Either pointer may be null (defaults). The caller's records receive the effective settings.
SNRESULT Init(SnInitSettings* settings, SnPlatformInitSettings* platformSettings);
bool IsInitialized();
// From its start every public call is refused (SN_Failure); it waits, holding no lock, until the
// calls already inside have returned, then stops the threads and frees the engine. Refused inside a
// call on this thread, an audio pass or a bank callback, and while another Term runs.
void Term();

// Closes the messages queued so far into a frame and has the audio thread (or, without one, the
// caller) process it. 2 when the engine is not initialised.
SNRESULT RenderAudio();

// Extensions run once per rendered frame with false and at Term with true, last registered first.
// Add gives SN_InvalidParameter for a null function, SN_InsufficientMemory when the list cannot grow; Remove takes out the first equal entry,
// keeping the order of the rest, or gives SN_Failure when there is none. Any thread: both take the
// global audio lock, since the audio thread may be walking the list.
SNRESULT AddBehavioralExtension(SnBehavioralExtension extension);
SNRESULT RemoveBehavioralExtension(SnBehavioralExtension extension);
// The game's way to the same list, with the same results, under the global audio lock.
SNRESULT RegisterGlobalCallback(SnBehavioralExtension callback);
SNRESULT UnregisterGlobalCallback(SnBehavioralExtension callback);
void CallBehavioralExtensions(bool lastCall);

// Bank thread only. The first bank's platform string (`length` characters, not terminated) is kept
// until Term; a later bank must name the same one (SN_PlatformMismatch, 83). SN_InsufficientMemory
// when the first string cannot be kept.
SNRESULT MatchBankPlatform(const char* platform, uint32_t length);

// The engine's copy of its settings, valid while initialised.
const SnInitSettings& Settings();
// The lower engine writes back the layout the main output settled on.
void SetMainOutputChannelConfig(uint32_t channelConfig);
double TicksPerMillisecond();

}  // namespace SoundEngine
}  // namespace SN
