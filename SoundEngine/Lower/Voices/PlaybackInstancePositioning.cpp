// The positioning side of the playback instance: its record of the sound's 3D settings, the
// attenuation and the game-parameter curves it subscribes, the path it moves along, the
// emitter-listener rays, priority by distance, and the position and listener queries.
#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

#include "SoundEngine/GameSyncs/PathMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

const SnSoundPosition kDefaultPosition{{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

void Transform(const float m[3][3], const float in[3], float out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = m[r][0] * in[0] + m[r][1] * in[1] + m[r][2] * in[2];
}

// Only the lower engine's own motion keeps targets and frozen orientations.
CSnPathMotion* OwnPathMotion() {
  return LowerEngine::PathMotion() == &LowerEngine::PositionPathMotion() ? &LowerEngine::PositionPathMotion()
                                                                          : nullptr;
}

}  // namespace

bool AttenuationMaxDistance(const SnAttenuationSettings* attenuation, float& maxDistance) {
  const CSnCurveGraph* curve = attenuation ? attenuation->shape.curves[SnAttenuationCurve_Volume] : nullptr;
  if (!curve || !curve->pointCount || !curve->points) return false;
  maxDistance = curve->points[curve->pointCount - 1].x;
  return true;
}

const SnPositioningParams* CSnPlaybackInstance::PositioningSettings() const {
  if (!m_node) return m_givenPositioning;
  const CSnPropertyNode* node = m_node->PositioningNode();
  return node ? node->Positioning() : nullptr;
}

uint8_t CSnPlaybackInstance::PositioningBits() const {
  if (!m_node) return m_givenPositioningBits;
  const CSnPropertyNode* node = m_node->PositioningNode();
  return node ? uint8_t(node->SendFlags() & 0x0F) : 0;
}

bool CSnPlaybackInstance::CreatePositioning() {
  const SnPositioningParams* settings = PositioningSettings();
  if (!settings) return false;
  m_positioning = PoolNew<SnInstancePositioning>(g_DefaultPoolId);
  if (!m_positioning) {
    SOUND_LOG(Error, "Playing id %u: no memory for its positioning; it plays in 2D", m_playingId);
    return false;
  }
  m_positioning->attenuationId = settings->attenuationId;
  m_positioning->pathMode = settings->pathMode;
  m_positioning->flags = settings->flags;
  return true;
}

SNRESULT CSnPlaybackInstance::ResolveAttenuation() {
  SnInstancePositioning& record = *m_positioning;
  if (!record.attenuation && record.attenuationId) {
    ISnAttenuationDirectory* directory = AttenuationDirectory();
    if (!directory) {
      // Nothing to find attenuations in yet: the sound plays unattenuated rather than not at all.
      static bool said = false;
      if (!said) SOUND_LOG(Warning, "Attenuations cannot be looked up yet; 3D sounds play without them");
      said = true;
      return SN_Success;
    }
    record.attenuation = directory->HoldAttenuation(record.attenuationId, record.attenuationHolder);
    if (!record.attenuation) {
      SOUND_LOG(Error, "Playing id %u: attenuation %u is not loaded", m_playingId, record.attenuationId);
      return SN_Failure;
    }
  }
  const SnAttenuationSettings* attenuation = record.attenuation;
  if (!attenuation || m_attenuationSubscribed) return SN_Success;
  record.attenuationValues[0] = attenuation->coneOutsideDb;
  record.attenuationValues[1] = attenuation->coneLowPass;
  record.attenuationValues[2] = attenuation->coneHighPass;
  // Set first: a subscription that fails part-way is still removed with the record.
  m_attenuationSubscribed = true;
  if (!g_pRTPCMgr) return SN_Success;
  for (uint32_t i = 0; i < attenuation->paramCurveCount; ++i) {
    const SnAttenuationParamCurve& curve = attenuation->paramCurves[i];
    if (!curve.curve) continue;
    const SNRESULT result = g_pRTPCMgr->AddCurveSubscription(
        static_cast<ISnPlaybackInstanceParams*>(this), curve.rtpcId, 0, SnCombination_Add, curve.parameterId,
        curve.curveId, curve.curve->scaling, curve.curve->points, curve.curve->pointCount, Key(),
        SnSubscription_Instance, true);
    if (result != SN_Success) {
      SOUND_LOG(Error, "Playing id %u: curve %u of attenuation %u could not be followed", m_playingId, curve.curveId,
                record.attenuationId);
      return result;
    }
  }
  return SN_Success;
}

void CSnPlaybackInstance::DestroyPositioning() {
  if (!m_positioning) return;
  const SnAttenuationSettings* attenuation = m_positioning->attenuation;
  if (m_attenuationSubscribed && attenuation && g_pRTPCMgr)
    for (uint32_t i = 0; i < attenuation->paramCurveCount; ++i)
      g_pRTPCMgr->RemoveSubscription(static_cast<ISnPlaybackInstanceParams*>(this),
                                     attenuation->paramCurves[i].parameterId);
  m_attenuationSubscribed = false;
  // The last reference may be this one: its bank went while the voice played.
  if (m_positioning->attenuationHolder) m_positioning->attenuationHolder->Release();
  FreePositionBlock(m_copiedPositions);
  m_positionsCopied = false;
  PoolDelete(g_DefaultPoolId, m_positioning);
  m_positioning = nullptr;
}

SnPathSavedState* CSnPlaybackInstance::SavedPathState() const {
  const SnPositioningParams* settings = PositioningSettings();
  return settings ? &settings->pathState : nullptr;
}

void CSnPlaybackInstance::CarryPath(CSnPositionPath* path, uint32_t pathId) {
  if (path == m_carriedPath) return;
  DropCarriedPath();
  if (!path || !g_pPathMgr) return;
  path->AddHolder();
  m_carriedPath = path;
  m_carriedPathId = pathId;
}

void CSnPlaybackInstance::DropCarriedPath() {
  CSnPositionPath* path = std::exchange(m_carriedPath, nullptr);
  m_carriedPathId = 0;
  if (path && g_pPathMgr) g_pPathMgr->ReleasePathHolder(path);
}

SNRESULT CSnPlaybackInstance::SetupPath() {
  const SnPositioningParams* settings = PositioningSettings();
  // Only user-defined positions move along a path, and only when the sound has one.
  if (!m_positioning || !settings || m_positioningMode == 0 || m_threeDType == 1 || !settings->items ||
      !settings->itemCount || !g_pPathMgr) {
    DropCarriedPath();
    return SN_Success;
  }
  const bool relaunch = m_positioning->pathMode & SnPathModeBits_Relaunch;
  if (m_path && !relaunch) {
    DropCarriedPath();
    return SN_Success;
  }
  CSnPropertyNode* owner = m_node ? m_node->PositioningNode() : nullptr;
  const uint32_t pathId = owner ? owner->ID() : 0;
  SnPathSavedState* saved = SavedPathState();
  ReleasePath();
  // The item before moved along the same settings' path: this one goes on along it, unless every
  // item is to begin a path of its own.
  CSnPositionPath* path = m_carriedPath && m_carriedPathId == pathId && !relaunch ? m_carriedPath : nullptr;
  const bool made = !path;
  if (made && !(path = g_pPathMgr->CreatePath())) {
    DropCarriedPath();
    SOUND_LOG(Error, "Playing id %u: no path could be made for its sound", m_playingId);
    return SN_Failure;
  }
  if (made) {
    const uint8_t looping = (m_positioning->flags & SnPositioning_PathLooping) ? kPathFlagLooping : 0;
    const SNRESULT result = path->SetPlayList(settings->items, settings->itemCount,
                                              m_positioning->pathMode & SnPathModeBits_Flags, looping, saved);
    if (result != SN_Success) {
      g_pPathMgr->DeletePath(path);
      DropCarriedPath();
      SOUND_LOG(Error, "Playing id %u: its path's play list was refused (%u)", m_playingId, uint32_t(result));
      return result;
    }
    path->HoldListsOwner(owner);
  }
  // A path that takes no more users plays without this sound: it stays where it is.
  const bool joined = g_pPathMgr->AddPathUser(path, m_sequenceNumber) == SN_Success;
  if (!joined && made) g_pPathMgr->DeletePath(path);
  // Given back only now: the holder kept the carried path while this instance was not yet a user.
  DropCarriedPath();
  if (!joined) return SN_Success;
  m_path = path;
  m_pathId = pathId;
  if (CSnPathMotion* motion = OwnPathMotion()) {
    if (motion->AddTarget(*path, this) != SN_Success)
      SOUND_LOG(Error, "Playing id %u: no memory to follow its path; it stays where it is", m_playingId);
    // A path carried on keeps the orientation the listener had when it began.
    if (made && !(m_positioning->flags & SnPositioning_WorldPath)) motion->FreezeListenerMatrices(*path, ListenerMask());
  }
  // A carried path still moving goes on; one that came to its end begins again where the settings'
  // paths left off.
  path->PlayFromSavedState(saved);
  return SN_Success;
}

void CSnPlaybackInstance::ReleasePath() {
  if (!m_path) return;
  if (CSnPathMotion* motion = OwnPathMotion()) motion->RemoveTarget(*m_path, this);
  if (g_pPathMgr) g_pPathMgr->RemovePathUser(m_path, m_sequenceNumber);
  m_path = nullptr;
  m_pathId = 0;
}

void CSnPlaybackInstance::SetPathPosition(const float position[3]) {
  if (!m_positioning) return;
  for (int i = 0; i < 3; ++i) m_positioning->relative[i] = position[i];
}

bool CSnPlaybackInstance::IsPathPositionFrozen() const {
  return m_positioning && (m_positioning->flags & SnPositioning_FrozenPosition);
}

SNRESULT CSnPlaybackInstance::SetRTPCParam13To15(uint32_t paramId, float value) {
  if (m_positioning && paramId >= 13 && paramId <= 15) m_positioning->attenuationValues[paramId - 13] = value;
  return SN_Success;
}

uint32_t CSnPlaybackInstance::RayCapacityNeeded() const {
  const uint32_t listeners = uint32_t(std::popcount(ListenerMask() & 0xFFu));
  if (!m_pGameObject) return listeners;
  const SnPositionBlock& block = m_pGameObject->Positions();
  const uint32_t positions = block.multiPositionType ? std::max<uint32_t>(block.count, 1) : 1;
  return std::max(listeners * positions, m_pGameObject->Rays().Count());
}

uint32_t CSnPlaybackInstance::ComputeEmitterListenerRays(uint32_t positionType, SnEmitterListenerRay* rays,
                                                         uint32_t capacity) {
  if (!m_positioning || !rays) return 0;
  SnInstancePositioning& record = *m_positioning;
  CSnRegisteredObj* object = m_pGameObject;
  uint32_t count = 0;
  if (positionType == 1) {
    if (!object) return 0;
    float nearest = 1e10f;
    if (record.flags & SnPositioning_GameObjectRays) {
      const SnArray<SnEmitterListenerRay>& own = object->Rays();
      for (uint32_t i = 0; i < own.Count() && count < capacity; ++i) {
        const SnEmitterListenerRay& ray = own[i];
        rays[count++] = ray;
        nearest = std::min(nearest, ray.distance);
      }
    } else {
      // Positions taken once: the emitter stays where the sound began.
      if (!m_positionsCopied) {
        const SnPositionBlock& block = object->Positions();
        m_positionsCopied = block.count && CopyPositionBlock(m_copiedPositions, block.positions, block.count,
                                                             block.multiPositionType) == SN_Success;
      }
      const SnPositionBlock& block = m_positionsCopied ? m_copiedPositions : object->Positions();
      const uint32_t positions = block.multiPositionType ? block.count : (block.count ? 1u : 0u);
      for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
        if (!(object->ListenerMask() & (1u << listener))) continue;
        for (uint32_t p = 0; p < positions && count < capacity; ++p) {
          SnEmitterListenerRay& ray = rays[count++];
          ray = SnEmitterListenerRay{};
          ray.factors[0] = ray.factors[1] = ray.factors[2] = 1.0f;
          ray.listenerBit = uint8_t(listener);
          nearest = std::min(nearest, LowerEngine::ComputeEmitterRay(listener, block.positions[p],
                                                                     object->AttenuationScaling(), ray));
        }
      }
    }
    if (count) UpdatePriorityFromDistance(nearest);
    return count;
  }
  const SnAttenuationSettings* attenuation = record.attenuation;
  const bool cone = attenuation && attenuation->shape.coneEnabled;
  CSnPathMotion* motion = OwnPathMotion();
  if (m_path && motion) {
    const bool looping = record.flags & SnPositioning_PathLooping;
    motion->SetLooping(*m_path, looping);
    if (looping && (m_path->ModeFlags() & SnPathMode_Continuous) && m_path->State() == SnPathState_Idle)
      m_path->PlayFromSavedState(SavedPathState());
  }
  const float objectScaling = object ? object->AttenuationScaling() : 1.0f;
  const float r = std::sqrt(record.relative[0] * record.relative[0] + record.relative[1] * record.relative[1] +
                            record.relative[2] * record.relative[2]);
  const uint32_t mask = ListenerMask();
  for (uint32_t listener = 0; listener < kMaxListeners && count < capacity; ++listener) {
    if (!(mask & (1u << listener))) continue;
    const SnListenerRecord& data = LowerEngine::ListenerTable().Listener(listener);
    SnEmitterListenerRay& ray = rays[count++];
    ray = SnEmitterListenerRay{};
    ray.factors[0] = ray.factors[1] = ray.factors[2] = 1.0f;
    ray.listenerBit = uint8_t(listener);
    const float divisor = objectScaling * data.scalingFactor;
    ray.distance = divisor != 0.0f ? r / divisor : r;
    const bool angles = (record.flags & SnPositioning_Spatialize) && data.spatialized;
    if ((!angles && !cone) || !(r > 0.0f)) continue;
    float p[3] = {record.relative[0], record.relative[1], record.relative[2]};
    if (!(record.flags & SnPositioning_WorldPath) && m_path && motion) {
      // The path keeps the orientation the listener had when it began.
      const SnFrozenListenerMatrix* frozen = motion->FrozenListenerMatrix(*m_path, listener);
      if (!frozen) frozen = motion->FreezeListenerMatrix(*m_path, listener);
      if (frozen) {
        float world[3];
        Transform(frozen->matrix, record.relative, world);
        Transform(data.matrix, world, p);
      }
    }
    if (angles) ListenerSpaceAngles(p, r, ray.azimuth, ray.elevation);
    if (cone) ray.emitterAngle = std::acos(std::clamp(p[2] / r, -1.0f, 1.0f));
  }
  return count;
}

namespace {

// The play's priority at `distance`: the base, plus the share of the offset at the attenuation's
// greatest distance, held to 0..100.
float PriorityAt(const SnPriorityRecord& priority, const SnInstancePositioning* record, uint8_t threeDType,
                 float distance) {
  float farthest = 0.0f;
  if (threeDType == 1 && priority.offsetAtMaxDistance != 0.0f &&
      AttenuationMaxDistance(record ? record->attenuation : nullptr, farthest))
    return priority.AtDistance(distance, farthest);
  return kPriorityRange.Hold(priority.basePriority);
}

}  // namespace

int32_t CSnPlaybackInstance::GetPriorityAtDistance(float distance) const {
  return int32_t(PriorityAt(m_priorityRecord, m_positioning, m_threeDType, distance));
}

void CSnPlaybackInstance::UpdatePriorityFromDistance(float distance) {
  SetPriority(PriorityAt(m_priorityRecord, m_positioning, m_threeDType, distance));
}

bool CSnPlaybackInstance::HasMultiPositionType1() const {
  if (m_positioningMode != 1 || m_threeDType != 1) return false;
  const bool own = m_positioning && (m_positioning->flags & SnPositioning_GameObjectRays);
  const SnPositionBlock* block = own && m_pGameObject ? &m_pGameObject->Positions() : &m_copiedPositions;
  return (block->multiPositionType & 7) == 1;
}

uint8_t CSnPlaybackInstance::MultiPositionType() const {
  return m_threeDType == 1 && m_pGameObject ? m_pGameObject->Positions().multiPositionType & 7 : 0;
}

void CSnPlaybackInstance::GetVoiceGainParams(SnVoiceGainParams& params, uint8_t (&obstruction)[kMaxListeners],
                                             uint8_t (&occlusion)[kMaxListeners]) const {
  const CSnRegisteredObj* object = m_pGameObject;
  params.volumeDb = m_block.volume;
  params.secondVolumeDb = m_block.SecondVolume();
  params.busVolume = object ? object->OutputBusVolume() : 1.0f;
  params.positionsFromGameObject = m_threeDType == 1;
  const SnAttenuationSettings* attenuation = m_positioning ? m_positioning->attenuation : nullptr;
  params.attenuation = attenuation ? &attenuation->shape : nullptr;
  if (m_positioning) {
    params.coneOutsideDb = m_positioning->attenuationValues[0];
    params.coneLowPass = m_positioning->attenuationValues[1];
    params.coneHighPass = m_positioning->attenuationValues[2];
  }
  params.baseLowPass = m_block.params[1];
  params.baseHighPass = m_block.params[2];
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
    obstruction[listener] = object ? object->Obstruction(listener) : 0;
    occlusion[listener] = object ? object->Occlusion(listener) : 0;
  }
  params.obstruction = obstruction;
  params.occlusion = occlusion;
  params.feedback = nullptr;
}

uint32_t CSnPlaybackInstance::GameObjectPositionCount() const {
  const SnPositionBlock* block = m_pGameObject ? &m_pGameObject->Positions() : nullptr;
  const bool has = block && block->count && block->positions;
  return has && block->multiPositionType ? block->count : 1;
}

SNRESULT CSnPlaybackInstance::GetGameObjectPosition(uint32_t index, SnSoundPosition& out) const {
  if (index >= GameObjectPositionCount()) return SN_Failure;
  const SnPositionBlock* block = m_pGameObject ? &m_pGameObject->Positions() : nullptr;
  out = block && block->count && block->positions ? block->positions[index] : kDefaultPosition;
  return SN_Success;
}

SNRESULT CSnPlaybackInstance::GetEmitterPosition(uint32_t index, uint32_t listenerMask, SnSoundPosition& out) const {
  if (!(ListenerMask() & listenerMask)) return SN_Failure;
  return GetGameObjectPosition(index, out);
}

SNRESULT CSnPlaybackInstance::GetListenerData(uint32_t listenerMask, SnListenerData& out) const {
  const uint32_t mask = listenerMask & ListenerMask() & 0xFFu;
  if (!mask) return SN_Failure;
  const SnListenerRecord& listener = LowerEngine::ListenerTable().Listener(uint32_t(std::countr_zero(mask)));
  out.position = listener.position;
  out.scalingFactor = listener.scalingFactor;
  out.spatialized = listener.spatialized;
  return SN_Success;
}

}  // namespace SN
