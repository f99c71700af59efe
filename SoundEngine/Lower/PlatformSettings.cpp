// Defaults and the engine's copy of the platform settings.
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN::LowerEngine {
namespace {

constexpr uint32_t kDefaultLowerEnginePoolBytes = 0x1000000;
constexpr uint32_t kDefaultSinkBuffers = 4;

SnPlatformInitSettings& Copy() {
  static SnPlatformInitSettings settings = [] {
    SnPlatformInitSettings defaults;
    GetDefaultPlatformInitSettings(defaults);
    return defaults;
  }();
  return settings;
}

}  // namespace

void GetDefaultPlatformInitSettings(SnPlatformInitSettings& settings) {
  settings.windowHandle = nullptr;
  settings.audioThread = {1, 0, 32768};
  settings.bankThread = {0, 0, 32768};
  settings.thirdThread = {1, 0, 32768};
  settings.lowerEnginePoolBytes = kDefaultLowerEnginePoolBytes;
  settings.memoryThresholdRatio = 1.0f;
  settings.sinkBufferCount = kDefaultSinkBuffers;
  settings.sampleRateMode = 0;
  settings.sinkOptionFlag = 1;
  settings.externalAudioEngine = nullptr;
}

void ApplyPlatformSettings(SnPlatformInitSettings* settings) {
  SnPlatformInitSettings& copy = Copy();
  if (!settings) {
    GetDefaultPlatformInitSettings(copy);
    return;
  }
  copy = *settings;
  if (uint16_t(copy.sinkBufferCount) < 2) copy.sinkBufferCount = (copy.sinkBufferCount & 0xFFFF0000u) | kDefaultSinkBuffers;
  *settings = copy;
}

const SnPlatformInitSettings& PlatformSettings() { return Copy(); }

}  // namespace SN::LowerEngine
