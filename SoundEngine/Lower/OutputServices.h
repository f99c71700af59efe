// What the queued listener, output, capture and motion messages and the direct output getters ask of
// the voice pipeline: its listener store, its output devices, output capture, the motion engine,
// background-music muting and the voices of a playing id or a bank.
#pragma once

#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"
#include "MemoryMgr/SnResult.h"
#include "SoundEngine/ServiceSlot.h"

namespace SN {

class CSnLoadedBank;

struct SnListenerPosition {
  float front[3];
  float top[3];
  float position[3];
};

// The voice pipeline's own pool; listener volume-offset blocks come from it.
extern SnMemPoolId g_LEngineDefaultPoolId;

class ISnOutputServices {
 public:
  virtual ~ISnOutputServices() = default;

  // Listener store.
  virtual void SetListenerPosition(uint32_t listener, const SnListenerPosition& position) = 0;
  // The offsets (one float per channel, or null) are only read during the call.
  virtual void SetListenerSpatialization(uint32_t listener, bool spatialized, uint32_t channelConfig,
                                         const float* volumeOffsets) = 0;
  virtual void SetListenerPipeline(uint32_t listener, bool audio, bool motion) = 0;
  virtual void SetListenerScalingFactor(uint32_t listener, float factor) = 0;

  // Output devices, found by (output type, device id); a missing device changes nothing.
  virtual void SetSecondaryOutputVolume(uint32_t outputType, uint32_t deviceId, float volume) = 0;
  virtual void AddSecondaryOutput(uint32_t outputType, uint32_t deviceId, uint32_t listenerMask) = 0;
  virtual void RemoveSecondaryOutput(uint32_t outputType, uint32_t deviceId) = 0;
  virtual void SetPanningRule(uint32_t outputType, uint32_t deviceId, uint32_t rule) = 0;
  virtual void SetSpeakerAngles(uint32_t outputType, uint32_t deviceId, const float* angles, uint32_t count,
                                float heightAngle) = 0;
  // False when no device matches.
  virtual bool GetPanningRule(uint32_t outputType, uint32_t deviceId, uint32_t& rule) = 0;
  // `count` in: room in `angles` (null asks only for the count); out: the device's count.
  virtual bool GetSpeakerAngles(uint32_t outputType, uint32_t deviceId, float* angles, uint32_t& count,
                                float& heightAngle) = 0;
  // 0 when no device matches or it has no sink.
  virtual uint32_t GetSpeakerConfiguration(uint32_t outputType, uint32_t deviceId) = 0;

  // Motion engine (players and their devices).
  virtual void AddPlayerMotionDevice(uint32_t player, void* device, uint32_t listenerMask) = 0;
  virtual void RemovePlayerMotionDevice(uint32_t player) = 0;
  virtual void SetPlayerListener(uint8_t player, uint8_t listener) = 0;
  virtual void SetPlayerVolume(uint32_t player, float volume) = 0;

  // Output capture (of the main output and of the motion engine).
  virtual void StartOutputCapture(const char16_t* fileName) = 0;
  virtual void StopOutputCapture() = 0;
  virtual void AddOutputCaptureMarker(const char* text) = 0;

  // Volume 0 or 1 on every bus flagged as background music.
  virtual void SetBackgroundMusicMuted(bool muted) = 0;

  // Voices.
  virtual void StopPlayingID(uint32_t playingId, int32_t transitionMs, uint32_t curve) = 0;
  virtual void StopVoicesUsingBankData(CSnLoadedBank* bank) = 0;
  // The same inside a frame, which may be running what reads the data: what can follow another copy
  // moves there, and nothing ends; what cannot keeps the bank's media it holds.
  virtual void MoveVoicesOffBankData(CSnLoadedBank* bank) { (void)bank; }
};

inline ISnOutputServices*& OutputServices() { return ServiceSlot<ISnOutputServices>(); }

namespace LowerEngine {

// Seeds the 15-bit generator of the sound engine; 0 seeds it from the clock.
void SeedRandom(uint32_t seed);

}  // namespace LowerEngine
}  // namespace SN
