// The platform part of the sound engine's settings: thread settings of its threads, the lower
// engine's pool and the output sinks' options. The engine keeps its own copy.
#pragma once

#include <cstdint>

namespace SN {

struct SnThreadSettings {
  int32_t priority;
  uint32_t affinityMask;
  uint32_t stackSize;
};

struct SnPlatformInitSettings {
  void* windowHandle;             // for device-change notifications; none on this platform
  SnThreadSettings audioThread;   // "SN::EventManager" and "SN Suspended"
  SnThreadSettings bankThread;    // "SN::BankManager"
  SnThreadSettings thirdThread;   // read by nothing
  uint32_t lowerEnginePoolBytes;  // 64 or less means 16 MiB
  float memoryThresholdRatio;
  uint32_t sinkBufferCount;       // a 16-bit count; below 2 becomes 4
  uint32_t sampleRateMode;        // 1 selects 24000 Hz
  uint32_t sinkOptionFlag;
  void* externalAudioEngine;
};

namespace LowerEngine {

void GetDefaultPlatformInitSettings(SnPlatformInitSettings& settings);
// Takes the caller's record (defaults when null) as the engine's copy, raising a sink buffer count
// below 2 to 4, and writes the copy back to the caller.
void ApplyPlatformSettings(SnPlatformInitSettings* settings);
const SnPlatformInitSettings& PlatformSettings();

}  // namespace LowerEngine
}  // namespace SN
