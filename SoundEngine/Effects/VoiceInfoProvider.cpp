// The voice information an effect plug-in on a voice reads, from the voice's playback instance and
// pipeline.
#include "SoundEngine/Effects/VoiceInfoProvider.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "SoundEngine/Effects/ParamCopy.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Pipeline/VoicePipeline.h"
#include "SoundEngine/Lower/Spatial/Listeners.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

namespace SN {

CSnVoiceInfoProvider::~CSnVoiceInfoProvider() {
  DropParamCopy(m_mixerDefinition, m_mixerParams);
  if (m_mixerDefinition) m_mixerDefinition->Release();
  SetOwner(nullptr);
}

ISnPluginParam* CSnVoiceInfoProvider::GetInputMixerParams() {
  if (m_mixerLooked) return m_mixerParams;
  CSnPlaybackInstance* instance = Instance();
  // Looked for once there is a voice to look from.
  if (!instance || !instance->Node()) return nullptr;
  m_mixerLooked = true;
  ISnEffectDefinition* definition = instance->Node()->GetMixerPlugin();
  if (!definition) return nullptr;
  m_mixerParams = MakeParamCopy(*definition, instance->Key(), &instance->Modulators());
  if (m_mixerParams) m_mixerDefinition = definition;  // the look-up's reference is ours
  else definition->Release();
  return m_mixerParams;
}

ISnVoiceQueries* CSnVoiceInfoProvider::Queries() const { return m_pipeline ? m_pipeline->Queries() : nullptr; }

uint32_t CSnVoiceInfoProvider::GetNodeId() {
  const CSnPlaybackInstance* instance = Instance();
  return instance && instance->Node() ? instance->Node()->ID() : 0;
}

CSnPlaybackInstance* CSnVoiceInfoProvider::Instance() const {
  ISnVoiceInstance* voice = m_pipeline ? m_pipeline->FirstSource() : nullptr;
  return voice ? voice->PlaybackInstance() : nullptr;
}

uint32_t CSnVoiceInfoProvider::DeviceListenerMask() const {
  const CSnOutputDevice* device = LowerEngine::FindOutputDevice(m_outputType, m_deviceId);
  return device ? device->ListenerMask() : 0;
}

bool CSnVoiceInfoProvider::IsPositioned() {
  const CSnPlaybackInstance* instance = Instance();
  return instance && (instance->PositioningMode() != 0 || instance->PannerEnabled());
}

float CSnVoiceInfoProvider::GetCenterPercentage() {
  const CSnPlaybackInstance* instance = Instance();
  return instance ? instance->PanCentre() * 0.01f : 0.0f;
}

uint8_t CSnVoiceInfoProvider::GetPositioningMode() {
  const CSnPlaybackInstance* instance = Instance();
  return instance ? uint8_t(instance->PositioningMode() & 3) : 0;
}

uint8_t CSnVoiceInfoProvider::Get3DType() {
  const CSnPlaybackInstance* instance = Instance();
  return instance && instance->PositioningMode() != 0 ? uint8_t(instance->ThreeDType() & 3) : 0;
}

void CSnVoiceInfoProvider::GetPanning(float (&pan)[3]) {
  pan[0] = pan[1] = pan[2] = 0.0f;
  const CSnPlaybackInstance* instance = Instance();
  if (!instance || !instance->PannerEnabled() || instance->PositioningMode() != 0) return;
  pan[0] = std::clamp(instance->PanLeftRight() * 0.01f, -1.0f, 1.0f);
  pan[1] = std::clamp(instance->PanFrontRear() * 0.01f, -1.0f, 1.0f);
}

const SnEmitterListenerRay* CSnVoiceInfoProvider::DeviceRay(uint32_t index) const {
  const auto* pipeline = dynamic_cast<const CSnVoicePipeline*>(m_pipeline);
  const CSnPlaybackInstance* instance = Instance();
  if (!pipeline || !instance || instance->PositioningMode() != 1 || !pipeline->Rays()) return nullptr;
  const uint32_t mask = DeviceListenerMask();
  for (uint32_t i = 0; i < pipeline->RayCount(); ++i) {
    const SnEmitterListenerRay& ray = pipeline->Rays()[i];
    if (ray.listenerBit >= 32 || !((mask >> ray.listenerBit) & 1u)) continue;
    if (index-- == 0) return &ray;
  }
  return nullptr;
}

uint32_t CSnVoiceInfoProvider::GetRayCount() {
  uint32_t count = 0;
  while (DeviceRay(count)) ++count;
  return count;
}

SNRESULT CSnVoiceInfoProvider::GetRay(uint32_t index, SnEmitterListenerRay& ray) {
  const SnEmitterListenerRay* found = DeviceRay(index);
  if (!found) return SN_Failure;
  ray = *found;
  return SN_Success;
}

float CSnVoiceInfoProvider::CurveAtRay(uint32_t index, uint32_t curve) const {
  const SnEmitterListenerRay* ray = DeviceRay(index);
  const CSnPlaybackInstance* instance = Instance();
  const SnInstancePositioning* positioning = instance ? instance->Positioning() : nullptr;
  if (!ray || !positioning || !positioning->attenuation) return 0.0f;
  const CSnCurveGraph* graph = positioning->attenuation->shape.curves[curve];
  return graph ? graph->Evaluate(ray->distance * std::cos(ray->elevation)) : 0.0f;
}

float CSnVoiceInfoProvider::GetCurveValueB(uint32_t index) { return CurveAtRay(index, SnAttenuationCurve_Spread); }
float CSnVoiceInfoProvider::GetCurveValueA(uint32_t index) { return CurveAtRay(index, SnAttenuationCurve_Focus); }

uint32_t CSnVoiceInfoProvider::GetNumEmitterPositions() {
  const CSnPlaybackInstance* instance = Instance();
  const CSnRegisteredObj* object = instance ? instance->m_pGameObject : nullptr;
  return object ? object->CountEmitterListenerRays(DeviceListenerMask()) : 0;
}

SNRESULT CSnVoiceInfoProvider::GetEmitterPosition(uint32_t index, SnSoundPosition& position) {
  const CSnPlaybackInstance* instance = Instance();
  return instance ? instance->GetEmitterPosition(index, DeviceListenerMask(), position) : SN_Failure;
}

uint32_t CSnVoiceInfoProvider::GetListenerMask() {
  const CSnPlaybackInstance* instance = Instance();
  return instance ? instance->ListenerMask() & DeviceListenerMask() : 0;
}

SNRESULT CSnVoiceInfoProvider::GetListenerData(uint32_t mask, SnListenerData& data) {
  const CSnPlaybackInstance* instance = Instance();
  const uint32_t shared = mask & DeviceListenerMask();
  if (!instance || std::popcount(shared) != 1) return SN_Failure;
  return instance->GetListenerData(shared, data);
}

void CSnVoiceInfoProvider::GetVolumeMatrices(float* first, float* second, uint32_t floats) {
  // Never more than the mix holds: a plug-in asking for more gets zeros past it.
  const uint32_t known = std::min(floats, m_matrixFloats);
  auto fill = [&](float* out, const float* matrix) {
    if (!out) return;
    if (known) std::memcpy(out, matrix, known * sizeof(float));
    std::fill(out + known, out + floats, 0.0f);
  };
  fill(first, m_matrices[1]);
  fill(second, m_matrices[0]);
}

}  // namespace SN
