// The listener table and the emitter-to-listener ray.
#include "SoundEngine/Lower/Spatial/ListenerTable.h"

#include <cmath>
#include <cstring>

#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"

namespace SN {
namespace {

constexpr float kHalfPi = 1.57079632679f;

float Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

void CSnListenerTable::Init() {
  for (SnListenerRecord& listener : m_listeners) {
    listener = SnListenerRecord{};
    listener.position = SnListenerPosition{{0, 0, 1}, {0, 1, 0}, {0, 0, 0}};
    listener.scalingFactor = 1.0f;
    listener.spatialized = true;
    listener.outputType = SnOutput_Main;
    listener.deviceId = 0;
    listener.changed = true;
    ComputeMatrix(listener);
  }
  m_audioMask = 0xFFFFFFFFu;
  m_feedbackMask = 0;
}

void CSnListenerTable::Term() {
  for (SnListenerRecord& listener : m_listeners) FreeVolumes(listener);
}

void CSnListenerTable::FreeVolumes(SnListenerRecord& listener) {
  if (listener.volumeBlock) MemoryMgr::Falign(g_LEngineDefaultPoolId, listener.volumeBlock);
  listener.volumeBlock = nullptr;
  listener.volumesDb = listener.volumesLinear = nullptr;
  listener.volumeConfig = 0;
}

void CSnListenerTable::ComputeMatrix(SnListenerRecord& listener) {
  const float* f = listener.position.front;
  const float* t = listener.position.top;
  // side = top x front
  listener.matrix[0][0] = f[2] * t[1] - f[1] * t[2];
  listener.matrix[0][1] = f[0] * t[2] - f[2] * t[0];
  listener.matrix[0][2] = f[1] * t[0] - f[0] * t[1];
  std::memcpy(listener.matrix[1], t, sizeof(float) * 3);
  std::memcpy(listener.matrix[2], f, sizeof(float) * 3);
}

SNRESULT CSnListenerTable::SetPosition(uint32_t index, const SnListenerPosition& position) {
  if (index >= kMaxListeners) return SN_InvalidParameter;
  SnListenerRecord& listener = m_listeners[index];
  listener.position = position;
  ComputeMatrix(listener);
  listener.changed = true;
  return SN_Success;
}

SNRESULT CSnListenerTable::SetScalingFactor(uint32_t index, float factor) {
  if (index >= kMaxListeners) return SN_InvalidParameter;
  // Every distance would become 0: the curves' first point for every sound.
  if (std::isinf(factor)) {
    SOUND_LOG(Error, "SetListenerScalingFactor: listener %u cannot take an infinite factor", index);
    return SN_InvalidParameter;
  }
  m_listeners[index].scalingFactor = factor;
  m_listeners[index].changed = true;
  return SN_Success;
}

SNRESULT CSnListenerTable::SetSpatialization(uint32_t index, bool spatialized, uint32_t config,
                                             const float* volumesDb) {
  if (index >= kMaxListeners) return SN_InvalidParameter;
  SnListenerRecord& listener = m_listeners[index];
  listener.spatialized = spatialized;
  FreeVolumes(listener);
  if (!volumesDb) return SN_Success;
  const uint32_t channels = config & 0xFF;
  if (channels == 0) return SN_InvalidParameter;
  const uint32_t groups = (channels + 3) / 4;
  auto* block = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, groups * 32, 16));
  if (!block) return SN_InsufficientMemory;
  float* linear = block + groups * 4;
  for (uint32_t c = 0; c < groups * 4; ++c) {
    block[c] = c < channels ? volumesDb[c] : 0.0f;
    linear[c] = c < channels ? VoiceParams::FastDbToLinear(volumesDb[c]) : 0.0f;
  }
  listener.volumeBlock = block;
  listener.volumesDb = block;
  listener.volumesLinear = linear;
  listener.volumeConfig = config;
  return SN_Success;
}

SNRESULT CSnListenerTable::SetPipeline(uint32_t index, bool audio, bool feedback) {
  // Bits past the eighth name no listener; they would stay set in the masks the voices read.
  if (index >= kMaxListeners) {
    SOUND_LOG(Error, "SetListenerPipeline: there is no listener %u", index);
    return SN_InvalidParameter;
  }
  const uint32_t bit = 1u << index;
  m_audioMask = audio ? m_audioMask | bit : m_audioMask & ~bit;
  m_feedbackMask = feedback ? m_feedbackMask | bit : m_feedbackMask & ~bit;
  return SN_Success;
}

void CSnListenerTable::SetOutputDevice(uint32_t listenerMask, uint32_t outputType, uint32_t deviceId) {
  for (uint32_t i = 0; i < kMaxListeners; ++i)
    if (listenerMask & (1u << i)) {
      m_listeners[i].outputType = outputType;
      m_listeners[i].deviceId = deviceId;
    }
}

void CSnListenerTable::RefreshAllMatrices() {
  for (SnListenerRecord& listener : m_listeners) {
    ComputeMatrix(listener);
    listener.changed = true;
  }
}

void CSnListenerTable::Flush() {
  uint32_t mask = 0;
  for (uint32_t i = 0; i < kMaxListeners; ++i)
    if (m_listeners[i].changed) mask |= 1u << i;
  if (mask && g_pRegistryMgr) g_pRegistryMgr->FlagObjectsForListeners(mask);
  for (SnListenerRecord& listener : m_listeners) listener.changed = false;
}

float CSnListenerTable::ComputeEmitterRay(uint32_t index, const SnSoundPosition& emitter, float scaling,
                                          SnEmitterListenerRay& ray) {
  const SnListenerRecord& listener = m_listeners[index < kMaxListeners ? index : 0];
  const float d[3] = {emitter.position[0] - listener.position.position[0],
                      emitter.position[1] - listener.position.position[1],
                      emitter.position[2] - listener.position.position[2]};
  const float r = std::sqrt(Dot(d, d));
  const float divisor = listener.scalingFactor * scaling;
  ray.distance = divisor != 0.0f ? r / divisor : r;
  ray.azimuth = ray.elevation = ray.emitterAngle = 0.0f;
  if (r > 0.0f) {
    const float local[3] = {Dot(listener.matrix[0], d), Dot(listener.matrix[1], d), Dot(listener.matrix[2], d)};
    ListenerSpaceAngles(local, r, ray.azimuth, ray.elevation);
    float c = -Dot(emitter.orientation, d) / r;
    c = c < -1.0f ? -1.0f : (c > 1.0f ? 1.0f : c);
    ray.emitterAngle = std::acos(c);
  }
  // The listener field stays as the caller filled it.
  return ray.distance;
}

void ListenerSpaceAngles(const float p[3], float r, float& azimuth, float& elevation) {
  azimuth = elevation = 0.0f;
  if (!(r > 0.0f)) return;
  const float x = p[0], y = p[1], z = p[2];
  // Rounding, or vectors that are not quite orthogonal, can put |y| a little above r.
  const float ratio = y / r < -1.0f ? -1.0f : (y / r > 1.0f ? 1.0f : y / r);
  if (z != 0.0f) {
    azimuth = std::atan2(x, z);
    elevation = std::asin(ratio);
  } else if (x != 0.0f) {
    azimuth = x > 0.0f ? kHalfPi : -kHalfPi;
    elevation = std::asin(ratio);
  } else {
    elevation = y > 0.0f ? kHalfPi : (y < 0.0f ? -kHalfPi : 0.0f);
  }
}

namespace LowerEngine {

CSnListenerTable& ListenerTable() {
  static CSnListenerTable table;
  return table;
}

}  // namespace LowerEngine
}  // namespace SN
