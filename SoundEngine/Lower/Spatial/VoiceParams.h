// What a 3D voice's rays give before it is mixed: the gains of its dry path and its two kinds of
// sends from distance, cone, obstruction and occlusion, the low-pass and high-pass values of each
// output path, and the per-player gains of a voice that feeds motion devices. Audio thread (the
// voice's frame), under the global audio lock.
#pragma once

#include <cstdint>

namespace SN {

class ISnMixerPluginContext;
struct CSnCurveGraph;
struct SnEmitterListenerRay;

// The curves of an attenuation, in slot order; a curve that is null or has no points is absent.
enum SnAttenuationCurve : uint32_t {
  SnAttenuationCurve_Volume = 0,
  SnAttenuationCurve_GameSendVolume = 1,
  SnAttenuationCurve_UserSendVolume = 2,
  SnAttenuationCurve_LowPass = 3,
  SnAttenuationCurve_HighPass = 4,
  SnAttenuationCurve_Spread = 5,
  SnAttenuationCurve_Focus = 6,
  SnAttenuationCurve_Count = 7,
};

struct SnAttenuation {
  const CSnCurveGraph* curves[SnAttenuationCurve_Count] = {};
  bool coneEnabled = false;
  float coneInner = 0.0f;  // radians
  float coneOuter = 0.0f;
};

// Four players' gains and the two levels whose difference scales them.
struct SnFeedbackGains {
  float firstValue = 0.0f;   // dB
  float secondValue = 0.0f;  // dB
  float players[4] = {};
};

// A voice as its gains and filters see it.
struct SnVoiceGainParams {
  float volumeDb = 0.0f;
  float secondVolumeDb = 0.0f;  // what the voice's connections carry besides the rays
  float busVolume = 1.0f;  // the game object's output-bus volume, linear
  bool positionsFromGameObject = true;
  const SnAttenuation* attenuation = nullptr;  // null: no attenuation
  float coneOutsideDb = 0.0f;
  float coneLowPass = 0.0f;
  float coneHighPass = 0.0f;
  float baseLowPass = 0.0f;
  float baseHighPass = 0.0f;
  const uint8_t* obstruction = nullptr;  // per listener, value x 255; null: none
  const uint8_t* occlusion = nullptr;
  SnFeedbackGains* feedback = nullptr;  // when the voice feeds motion devices
};

// The four values that drive one output path's filters, 0 to 100.
struct SnOutputPathFilters {
  float lowPass = 0.0f;
  float obstructionLowPass = 0.0f;  // the dry path only
  float highPass = 0.0f;
  float obstructionHighPass = 0.0f;
};

// What the game's speaker-volume-matrix callback receives: an output path's matrices, each one row
// per input channel of ceil(outputs / 4) x 4 gains, which it may change before they are mixed, and
// the mixer context of the bus the path feeds, whose panning services know that bus's speakers.
struct SnSpeakerVolumeMatrixRecord {
  uint32_t inputConfig;
  uint32_t outputConfig;
  float* currentGains;
  float* previousGains;
  void* outputPath;
  ISnMixerPluginContext* mixerPluginData;
};

// Which motion players a listener feeds (the motion devices' table); until it is installed, none.
class ISnListenerPlayerMap {
 public:
  virtual ~ISnListenerPlayerMap() = default;
  // Bit p for player p (0 to 3), among the active players.
  virtual uint32_t PlayersOfListener(uint32_t listener) const = 0;
};

namespace VoiceParams {

// A voice's level in dB (the sum along its path) as a gain, held to the levels first: each node's
// levels are held to +24 dB, but a path of many sums past them; past +24 dB the voice is clipped
// however it is mixed, and near 10^38 the gains after it would carry it to infinity.
float VoiceLevelToLinear(float dB);
// What of a voice's whole level its own gain carries, in dB: its volume, and the part of its second
// volume `secondDb` past +24 dB, which its connections (holding theirs alone) leave to it. Unheld but
// for its floor.
float VoiceOwnLevel(float volumeDb, float secondDb);
// A 2D voice's own gain, held so that it and its connections' second volume together stay within
// +24 dB: only the whole is held, so that a volume past +24 dB that the second volume brings back
// under it is heard as it is. 0 where the connections carry nothing.
float VoiceVolumeToLinear(float volumeDb, float secondDb);
// The most a voice's other gains may multiply to, their product with the second volume `secondDb`
// within +24 dB.
float VoiceGainCeiling(float secondDb);
// 10^(dB / 20) also above 0 dB: the reciprocal of the conversion of -dB, 65535 past its reach.
float DbToLinearFullRange(float dB);
// 0 inside the inner angle, 1 outside the outer one, linear between; the gain of that share of the
// outside volume.
float ConeGain(float inner, float outer, float outsideDb, float coneAngle, float& coneFactor);
void EvaluateAttenuation(const SnAttenuation* attenuation, const SnEmitterListenerRay& ray, float outsideDb,
                         float& coneFactor, float& volume, float& gameSendVolume, float& userSendVolume);
// Fills the dry, send and cone values of every ray.
void ComputeRayVolumes(const SnVoiceGainParams& voice, SnEmitterListenerRay* rays, uint32_t rayCount);
// The filters of an output path that hears the listeners of `listenerMask`.
void ComputeFilters(const SnVoiceGainParams& voice, const SnEmitterListenerRay* rays, uint32_t rayCount,
                    uint32_t listenerMask, SnOutputPathFilters& filters);

// Hands the record to the game when `playingId` asked for speaker-volume-matrix callbacks.
void NotifyVolumeMatrix(uint32_t playingId, SnSpeakerVolumeMatrixRecord& record);

void ClearFeedbackGains(SnFeedbackGains& record);
void AddFeedbackGain(SnFeedbackGains& record, uint32_t listener, float gain);
float PlayerGain(const SnFeedbackGains& record, uint32_t player);

}  // namespace VoiceParams

namespace LowerEngine {

// Null uninstalls.
void InstallListenerPlayerMap(const ISnListenerPlayerMap* map);
const ISnListenerPlayerMap* ListenerPlayerMap();

}  // namespace LowerEngine
}  // namespace SN
