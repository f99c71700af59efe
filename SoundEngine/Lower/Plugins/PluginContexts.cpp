// The plug-in contexts of mix buses and their media tables.
#include "SoundEngine/Lower/Plugins/PluginContexts.h"

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {

namespace {
constexpr uint32_t kNoMedia = 0xFFFFFFFFu;
}

SNRESULT CSnPluginMediaTable::Get(const ISnMediaIdSource* source, uint32_t slot, uint32_t index,
                                  const uint8_t*& data, uint32_t& size) {
  data = nullptr;
  size = 0;
  for (uint32_t i = 0; i < m_count; ++i) {
    if (m_entries[i].index != index) continue;
    data = m_entries[i].data;
    size = m_entries[i].size;
    return SN_Success;
  }
  const uint32_t mediaId = source ? source->MediaIdOf(slot, index) : kNoMedia;
  if (mediaId == kNoMedia || !g_pBankManager) return SN_Failure;
  const SnMediaRef media = g_pBankManager->GetMedia(mediaId);
  if (!media.data) return SN_Failure;
  if (m_count == m_capacity) {
    auto* grown = static_cast<Entry*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry) * (m_capacity + 1)));
    if (!grown) {
      // The plug-in goes without: the reference just taken must not be kept by nobody.
      g_pBankManager->ReleaseMedia(mediaId, media.bank);
      SOUND_LOG(Error, "GetMediaByIndex: no memory for media %u", mediaId);
      return SN_Failure;
    }
    for (uint32_t i = 0; i < m_count; ++i) grown[i] = m_entries[i];
    if (m_entries) MemoryMgr::Free(g_DefaultPoolId, m_entries);
    m_entries = grown;
    ++m_capacity;
  }
  m_entries[m_count++] = Entry{index, media.data, media.size, mediaId, media.bank};
  data = media.data;
  size = media.size;
  return SN_Success;
}

bool CSnPluginMediaTable::Uses(const void* data) const {
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_entries[i].data == data) return true;
  return false;
}

bool CSnPluginMediaTable::HoldsBank(const CSnLoadedBank* bank) const {
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_entries[i].bank && static_cast<const CSnLoadedBank*>(m_entries[i].bank) == bank) return true;
  return false;
}

bool CSnPluginMediaTable::Relocate(const CSnLoadedBank* bank, ISnPlugin* relocator) {
  bool stuck = false;
  for (uint32_t i = 0; i < m_count; ++i) {
    Entry& entry = m_entries[i];
    if (!bank || static_cast<const CSnLoadedBank*>(entry.bank) != bank) continue;
    if (!relocator || !relocator->CanRelocateMedia() || !g_pBankManager) {
      stuck = true;
      continue;
    }
    // An unloading bank hands out nothing: the copy found is another bank's or a prepared one.
    const SnMediaRef copy = g_pBankManager->GetMedia(entry.mediaId);
    // A copy of another size is other media under the same id: a plug-in reading it as the old
    // one could read past its end.
    const bool moved = copy.data && copy.data != entry.data && copy.size == entry.size &&
                       relocator->RelocateMedia(copy.data, entry.data) == SN_Success;
    if (!moved) {
      if (copy.data) g_pBankManager->ReleaseMedia(entry.mediaId, copy.bank);
      stuck = true;
      continue;
    }
    g_pBankManager->ReleaseMedia(entry.mediaId, entry.bank);
    entry.data = copy.data;
    entry.bank = copy.bank;
  }
  return stuck;
}

void CSnPluginMediaTable::Release() {
  for (uint32_t i = 0; i < m_count; ++i)
    if (g_pBankManager) g_pBankManager->ReleaseMedia(m_entries[i].mediaId, m_entries[i].bank);
  if (m_entries) MemoryMgr::Free(g_DefaultPoolId, m_entries);
  m_entries = nullptr;
  m_count = m_capacity = 0;
}

ISnStreamMgr* CSnBusEffectContext::GetStreamManager() { return ISnStreamMgr::m_pStreamMgr; }
uint16_t CSnBusEffectContext::GetFrameLength() { return uint16_t(LowerEngine::SamplesPerFrame()); }
SNRESULT CSnBusEffectContext::GetOutputDevice(uint32_t& deviceId, uint32_t& deviceType) {
  deviceId = m_owner.deviceId;
  deviceType = m_owner.deviceType;
  return SN_Success;
}
SNRESULT CSnBusEffectContext::GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) {
  return m_media.Get(m_owner.media, m_slot, index, data, size);
}
const CSnCpuInfo* CSnBusEffectContext::GetCpuInfo() { return &CSnCpuInfo::GetInstance(); }

}  // namespace SN
