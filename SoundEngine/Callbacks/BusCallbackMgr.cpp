// Bus callback registrations and their calls, and the seam that tells the bus graph about them.
//
// Lock order: GlobalAudioLock(), then the registry lock. The audio thread calls the callbacks under
// both, so a registration tells the bus graph only after its registry lock is released.
#include "SoundEngine/Callbacks/BusCallbackMgr.h"

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/Lower/Mixing/BusCallbackFlags.h"

namespace SN {

namespace LowerEngine {
namespace {
ISnBusCallbackFlags*& Receiver() {
  static ISnBusCallbackFlags* receiver = nullptr;
  return receiver;
}
}  // namespace
void InstallBusCallbackFlags(ISnBusCallbackFlags* receiver) { Receiver() = receiver; }
ISnBusCallbackFlags* InstalledBusCallbackFlags() { return Receiver(); }
void SetBusVolumeCallbackFlag(uint32_t busId, bool hasCallback) {
  if (Receiver()) Receiver()->SetBusVolumeCallbackFlag(busId, hasCallback);
}
void SetBusMeteringFlags(uint32_t busId, uint32_t flags) {
  if (Receiver()) Receiver()->SetBusMeteringFlags(busId, flags);
}
}  // namespace LowerEngine

CSnBusCallbackMgr& CSnBusCallbackMgr::Get() {
  static CSnBusCallbackMgr manager;
  return manager;
}

SNRESULT CSnBusCallbackMgr::RegisterBusVolumeCallback(uint32_t busId, SnBusVolumeCallback callback) {
  SNRESULT result = SN_Success;
  bool registered;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!callback) {
      Remove(m_volume, busId);
    } else if (Volume* entry = Find(m_volume, busId)) {
      entry->callback = callback;
    } else if (!m_volume.Add({busId, callback})) {
      result = SN_InsufficientMemory;
    }
    registered = Find(m_volume, busId) != nullptr;
  }
  Platform::ReentrantGuard audio(GlobalAudioLock());
  LowerEngine::SetBusVolumeCallbackFlag(busId, registered);
  return result;
}

SNRESULT CSnBusCallbackMgr::RegisterBusMeteringCallback(uint32_t busId, SnBusMeteringCallback callback,
                                                        uint32_t flags) {
  SNRESULT result = SN_Success;
  {
    Platform::ReentrantGuard guard(m_lock);
    if (!callback && flags) {
      Remove(m_metering, busId);
    } else if (Metering* entry = Find(m_metering, busId)) {
      entry->callback = callback;
      entry->flags = flags;
    } else if (!m_metering.Add({busId, callback, flags})) {
      result = SN_InsufficientMemory;
    }
  }
  Platform::ReentrantGuard audio(GlobalAudioLock());
  LowerEngine::SetBusMeteringFlags(busId, callback ? flags : 0);
  return result;
}

bool CSnBusCallbackMgr::HasVolumeCallback(uint32_t busId) {
  Platform::ReentrantGuard guard(m_lock);
  return Find(m_volume, busId) != nullptr;
}

uint32_t CSnBusCallbackMgr::GetMeteringFlags(uint32_t busId) {
  Platform::ReentrantGuard guard(m_lock);
  const Metering* entry = Find(m_metering, busId);
  return entry ? entry->flags : 0;
}

bool CSnBusCallbackMgr::DoVolumeCallback(uint32_t busId, void* info) {
  Platform::ReentrantGuard guard(m_lock);
  const Volume* entry = Find(m_volume, busId);
  if (!entry || !entry->callback) return false;
  const SnBusVolumeCallback callback = entry->callback;
  GameCode::Call(GameCode::Kind::BusVolumeCallback, [&] { callback(info); });
  return true;
}

bool CSnBusCallbackMgr::DoMeteringCallback(uint32_t busId, void* metering, uint32_t channelConfig) {
  Platform::ReentrantGuard guard(m_lock);
  const Metering* entry = Find(m_metering, busId);
  if (!entry || !entry->callback) return false;
  const SnBusMeteringCallback callback = entry->callback;
  const uint32_t flags = entry->flags;
  GameCode::Call(GameCode::Kind::BusMeteringCallback, [&] { callback(metering, channelConfig, flags); });
  return true;
}

void CSnBusCallbackMgr::Clear() {
  Platform::ReentrantGuard guard(m_lock);
  m_volume.Term();
  m_metering.Term();
}

}  // namespace SN
