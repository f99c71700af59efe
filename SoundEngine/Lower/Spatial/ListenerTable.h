// The eight listeners: position and orientation with their ready-made matrix, distance scaling,
// spatialisation with optional per-speaker volumes, the output device each renders to, which
// listeners feed the audio and the feedback pipelines, and the changed flags flushed once a frame.
// Audio thread only (message handlers and the frame), no lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"

namespace SN {

struct SnListenerRecord {
  SnListenerPosition position;
  float scalingFactor;
  bool spatialized;
  float* volumeBlock;      // lower-engine pool, 16-byte aligned: dB values, then linear gains
  const float* volumesDb;  // into the block
  const float* volumesLinear;
  uint32_t volumeConfig;
  float matrix[3][3];  // rows: side (top x front), top, front
  uint32_t outputType;
  uint32_t deviceId;
  bool changed;
};

class CSnListenerTable final : public ISnListenerServices {
 public:
  // Every listener at the origin facing +z with +y up, spatialised, on the main device, changed.
  void Init();
  // Frees the speaker-volume blocks.
  void Term();

  SNRESULT SetPosition(uint32_t listener, const SnListenerPosition& position);
  // `SN_InvalidParameter` for a listener past 7 or an infinite factor.
  SNRESULT SetScalingFactor(uint32_t listener, float factor);
  // Volumes in dB, one per channel of `config`, or null. 31 for a listener past 7 or volumes with
  // no channel count (the old volumes are gone by then); 2 without memory.
  SNRESULT SetSpatialization(uint32_t listener, bool spatialized, uint32_t config, const float* volumesDb);
  // `SN_InvalidParameter` for a listener past 7.
  SNRESULT SetPipeline(uint32_t listener, bool audio, bool feedback);
  void SetOutputDevice(uint32_t listenerMask, uint32_t outputType, uint32_t deviceId);
  // After a panning rule changed: every matrix again from its vectors, every listener changed.
  void RefreshAllMatrices();
  // Marks the game objects that hear a changed listener for positioning and clears the flags.
  void Flush();

  const SnListenerRecord& Listener(uint32_t index) const { return m_listeners[index]; }
  uint32_t AudioMask() const { return m_audioMask; }
  uint32_t FeedbackMask() const { return m_feedbackMask; }

  // ISnListenerServices
  float ComputeEmitterRay(uint32_t listener, const SnSoundPosition& emitter, float scaling,
                          SnEmitterListenerRay& ray) override;
  // The object's voices take the dry paths of its new listeners and leave the others'.
  void SetGameObjectActiveListeners(CSnRegisteredObj* object, uint32_t oldMask, uint32_t newMask) override;

 private:
  void FreeVolumes(SnListenerRecord& listener);
  static void ComputeMatrix(SnListenerRecord& listener);

  SnListenerRecord m_listeners[kMaxListeners] = {};
  uint32_t m_audioMask = 0xFFFFFFFFu;
  uint32_t m_feedbackMask = 0;
};

// Azimuth (positive to the right) and elevation (positive up), in radians, of `p` in a listener's
// space (x right, y up, z ahead) at distance `r`; both 0 when `r` is not above 0.
void ListenerSpaceAngles(const float p[3], float r, float& azimuth, float& elevation);

namespace LowerEngine {

// The lower engine's table of listeners.
CSnListenerTable& ListenerTable();

}  // namespace LowerEngine
}  // namespace SN
