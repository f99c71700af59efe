// Ray gains from the attenuation's curves, the cone and the environment curves, the filter values of
// an output path, and the motion players' gains.
#include "SoundEngine/Lower/Spatial/VoiceParams.h"

#include <algorithm>
#include <cmath>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Lower/Spatial/EnvironmentCurves.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"

namespace SN {
namespace {

enum EnvironmentGroup : uint32_t { Obstruction = 0, Occlusion = 1 };
enum EnvironmentCurve : uint32_t { Volume = 0, LowPass = 1, HighPass = 2 };

const CSnCurveGraph* Present(const CSnCurveGraph* curve) { return curve && curve->pointCount ? curve : nullptr; }

const CSnCurveGraph* EnvironmentCurveFor(uint32_t group, uint32_t curve) {
  if (!g_pEnvironmentCurves || !g_pEnvironmentCurves->IsCurveEnabled(group, curve)) return nullptr;
  return Present(g_pEnvironmentCurves->Curve(group, curve));
}

// An environment curve at a percentage, or `absent` when it is off or empty.
float Environment(uint32_t group, uint32_t curve, float percent, float absent) {
  const CSnCurveGraph* graph = EnvironmentCurveFor(group, curve);
  return graph ? graph->Evaluate(percent) : absent;
}

float Percent(const uint8_t* values, uint32_t listener) {
  return values && listener < kMaxListeners ? float(values[listener]) / 255.0f * 100.0f : 0.0f;
}

const ISnListenerPlayerMap*& PlayerMap() {
  static const ISnListenerPlayerMap* map = nullptr;
  return map;
}

}  // namespace

namespace VoiceParams {

float VoiceLevelToLinear(float dB) { return FastDbToLinear(kDecibelRange.Hold(dB)); }

float VoiceOwnLevel(float volumeDb, float secondDb) {
  // Nothing is held here but the floor: the whole level is held once, where its parts meet.
  auto floored = [](float dB) { return dB == dB ? std::max(dB, kDecibelRange.min) : 0.0f; };
  return floored(volumeDb) + (floored(secondDb) - kDecibelRange.Hold(secondDb));
}

float VoiceVolumeToLinear(float volumeDb, float secondDb) {
  const float carried = kDecibelRange.Hold(secondDb);
  // Connections that carry nothing leave nothing to hear, and no gain past the floats' reach to
  // multiply by their nothing.
  if (FastDbToLinear(carried) == 0.0f) return 0.0f;
  return FastDbToLinear(std::min(VoiceOwnLevel(volumeDb, secondDb), kDecibelRange.max - carried));
}

float VoiceGainCeiling(float secondDb) { return FastDbToLinear(kDecibelRange.max - kDecibelRange.Hold(secondDb)); }

float DbToLinearFullRange(float dB) {
  if (!(dB > 0.0f)) return FastDbToLinear(dB);
  const float quiet = FastDbToLinear(-dB);
  return quiet > 0.0f ? 1.0f / quiet : 65535.0f;
}

float ConeGain(float inner, float outer, float outsideDb, float coneAngle, float& coneFactor) {
  if (coneAngle <= inner)
    coneFactor = 0.0f;
  else if (coneAngle >= outer)
    coneFactor = 1.0f;
  else
    coneFactor = (coneAngle - inner) / (outer - inner);
  return FastDbToLinear(coneFactor * outsideDb);
}

void EvaluateAttenuation(const SnAttenuation* attenuation, const SnEmitterListenerRay& ray, float outsideDb,
                         float& coneFactor, float& volume, float& gameSendVolume, float& userSendVolume) {
  coneFactor = volume = gameSendVolume = userSendVolume = 1.0f;
  if (!attenuation) return;
  const float d = ray.distance;
  const CSnCurveGraph* dry = Present(attenuation->curves[SnAttenuationCurve_Volume]);
  volume = dry ? dry->Evaluate(d) : 1.0f;
  auto send = [&](SnAttenuationCurve slot) {
    const CSnCurveGraph* curve = Present(attenuation->curves[slot]);
    if (!curve) return 1.0f;
    return curve == dry ? volume : curve->Evaluate(d);
  };
  gameSendVolume = send(SnAttenuationCurve_GameSendVolume);
  userSendVolume = send(SnAttenuationCurve_UserSendVolume);
  if (attenuation->coneEnabled)
    volume *= ConeGain(attenuation->coneInner, attenuation->coneOuter, outsideDb, ray.emitterAngle, coneFactor);
}

void ComputeRayVolumes(const SnVoiceGainParams& voice, SnEmitterListenerRay* rays, uint32_t rayCount) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  // The attenuation, the output-bus volume and the voice's volume may each lift it, and the second
  // volume lower it again: only their product is held, so that the voice as a whole is heard within
  // +24 dB and as it is below.
  const float v = FastDbToLinear(VoiceOwnLevel(voice.volumeDb, voice.secondVolumeDb));
  const float ceiling = VoiceGainCeiling(voice.secondVolumeDb);
  const float b = voice.busVolume;
  if (voice.feedback) ClearFeedbackGains(*voice.feedback);
  const uint32_t feedbackMask = LowerEngine::ListenerTable().FeedbackMask();
  for (uint32_t i = 0; i < rayCount; ++i) {
    SnEmitterListenerRay& ray = rays[i];
    float cone, volume, gameSend, userSend;
    EvaluateAttenuation(voice.attenuation, ray, voice.coneOutsideDb, cone, volume, gameSend, userSend);
    ray.coneFactor = cone;
    if (!voice.positionsFromGameObject) {
      ray.factors[0] = std::min(volume * b * v, ceiling);
      ray.factors[1] = gameSend;
      ray.factors[2] = userSend;
      continue;
    }
    const uint32_t listener = ray.listenerBit;
    const float occlusion = Environment(Occlusion, Volume, Percent(voice.occlusion, listener), 1.0f);
    const float obstruction = Environment(Obstruction, Volume, Percent(voice.obstruction, listener), 1.0f);
    ray.factors[0] = std::min(obstruction * occlusion * volume * b * v, ceiling);
    ray.factors[1] = occlusion * gameSend;
    ray.factors[2] = occlusion * userSend;
    if (voice.feedback && listener < kMaxListeners && (feedbackMask & (1u << listener)))
      AddFeedbackGain(*voice.feedback, listener, ray.factors[0]);
  }
}

void ComputeFilters(const SnVoiceGainParams& voice, const SnEmitterListenerRay* rays, uint32_t rayCount,
                    uint32_t listenerMask, SnOutputPathFilters& filters) {
  float lowest = 100.0f, lowestHigh = 100.0f, obstructionShare = 1.0f;
  const SnAttenuation* attenuation = voice.attenuation;
  const CSnCurveGraph* lowPass = attenuation ? Present(attenuation->curves[SnAttenuationCurve_LowPass]) : nullptr;
  const CSnCurveGraph* highPass = attenuation ? Present(attenuation->curves[SnAttenuationCurve_HighPass]) : nullptr;
  const bool cone = attenuation && attenuation->coneEnabled;
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
    if (!(listenerMask & (1u << listener))) continue;
    float floorLow = 0.0f, floorHigh = 0.0f;
    if (voice.positionsFromGameObject) {
      const float occlusion = Percent(voice.occlusion, listener);
      floorLow = Environment(Occlusion, LowPass, occlusion, 0.0f);
      floorHigh = Environment(Occlusion, HighPass, occlusion, 0.0f);
      obstructionShare = std::min(obstructionShare, Percent(voice.obstruction, listener) / 100.0f);
    }
    for (uint32_t i = 0; i < rayCount; ++i) {
      const SnEmitterListenerRay& ray = rays[i];
      if (ray.listenerBit != listener) continue;
      float low = floorLow, high = floorHigh;
      if (lowPass) low = std::max(lowPass->Evaluate(ray.distance), floorLow);
      if (highPass) high = std::max(highPass->Evaluate(ray.distance), floorHigh);
      if (cone) {
        low = std::max(low, ray.coneFactor * voice.coneLowPass);
        high = std::max(high, ray.coneFactor * voice.coneHighPass);
      }
      lowest = std::min(lowest, low);
      lowestHigh = std::min(lowestHigh, high);
    }
  }
  filters.lowPass = std::max(voice.baseLowPass, lowest);
  filters.highPass = std::max(voice.baseHighPass, lowestHigh);
  filters.obstructionLowPass = filters.obstructionHighPass = 0.0f;
  if (voice.positionsFromGameObject) {
    filters.obstructionLowPass = Environment(Obstruction, LowPass, obstructionShare * 100.0f, 0.0f);
    filters.obstructionHighPass = Environment(Obstruction, HighPass, obstructionShare * 100.0f, 0.0f);
  }
}

void NotifyVolumeMatrix(uint32_t playingId, SnSpeakerVolumeMatrixRecord& record) {
  if (!g_pPlayingIDCallbackMgr) return;
  SnSpeakerVolumeMatrixCallbackInfo info{};
  info.volumeMatrix = &record;
  g_pPlayingIDCallbackMgr->NotifyEvent(SnCallback_SpeakerVolumeMatrix, playingId, info);
}

void ClearFeedbackGains(SnFeedbackGains& record) { std::fill(record.players, record.players + 4, 0.0f); }

void AddFeedbackGain(SnFeedbackGains& record, uint32_t listener, float gain) {
  const ISnListenerPlayerMap* map = PlayerMap();
  if (!map) return;
  const uint32_t players = map->PlayersOfListener(listener);
  for (uint32_t p = 0; p < 4; ++p)
    if (players & (1u << p)) record.players[p] = std::max(record.players[p], gain);
}

float PlayerGain(const SnFeedbackGains& record, uint32_t player) {
  if (player >= 4) return 0.0f;
  return DbToLinearFullRange(record.firstValue - record.secondValue) * record.players[player];
}

}  // namespace VoiceParams

namespace LowerEngine {

void InstallListenerPlayerMap(const ISnListenerPlayerMap* map) { PlayerMap() = map; }
const ISnListenerPlayerMap* ListenerPlayerMap() { return PlayerMap(); }

}  // namespace LowerEngine
}  // namespace SN
