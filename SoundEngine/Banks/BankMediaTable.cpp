// The media table: media by id, each with the banks and game calls that hold it, looked up for sources.
#include "SoundEngine/Banks/SoundBankManager.h"

#include <cstring>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/BankMediaHolder.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

SNRESULT CSnSoundBankManager::AddMediaSource(uint32_t mediaId, CSnBankRecord* bank, const uint8_t* data, uint32_t size) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  MediaEntry* entry = m_media.FindOrInsert(mediaId);
  if (!entry) return SN_InsufficientMemory;
  auto* grown = static_cast<MediaSource*>(
      MemoryMgr::Malloc(g_DefaultPoolId, sizeof(MediaSource) * (size_t(entry->sourceCount) + 1)));
  if (!grown) {
    if (entry->refCount == 0 && !entry->sourceCount) m_media.Erase(m_media.FindWithPrev(mediaId));
    return SN_InsufficientMemory;
  }
  if (entry->sourceCount) memcpy(grown, entry->sources, sizeof(MediaSource) * entry->sourceCount);
  if (entry->sources) MemoryMgr::Free(g_DefaultPoolId, entry->sources);
  entry->sources = grown;
  entry->sources[entry->sourceCount++] = MediaSource{bank, data, size};
  ++entry->refCount;
  return SN_Success;
}

void CSnSoundBankManager::RemoveMediaSource(uint32_t mediaId, CSnBankRecord* bank) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  auto it = m_media.FindWithPrev(mediaId);
  if (it.AtEnd()) return;
  MediaEntry& entry = it.node->value;
  for (uint32_t i = 0; i < entry.sourceCount; ++i) {
    if (entry.sources[i].bank != bank) continue;
    // Order kept: GetMedia hands out the first source.
    memmove(entry.sources + i, entry.sources + i + 1, sizeof(MediaSource) * (entry.sourceCount - i - 1));
    --entry.sourceCount;
    DropMediaReference(it);
    return;
  }
}

CSnBankRecord* CSnSoundBankManager::FindGameMedia(uint32_t mediaId, const void* data) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  const MediaEntry* entry = m_media.Find(mediaId);
  if (!entry) return nullptr;
  for (uint32_t i = 0; i < entry->sourceCount; ++i) {
    CSnBankRecord* owner = entry->sources[i].bank;
    if (owner && owner->IsGameMedia() && !owner->IsUnloading() && entry->sources[i].data == data) return owner;
  }
  return nullptr;
}

void CSnSoundBankManager::DropMediaReference(const SnIdHashTable193<MediaEntry>::Iterator& it) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  MediaEntry& entry = it.node->value;
  ORV_ASSERT(entry.refCount > 0);
  if (--entry.refCount != 0) return;
  if (entry.ownData) MemoryMgr::Falign(SoundEngine::Settings().preparedDataPoolId, entry.ownData);
  if (entry.sources) MemoryMgr::Free(g_DefaultPoolId, entry.sources);
  m_media.Erase(it);
}

SNRESULT CSnSoundBankManager::AddBankMediaSources(CSnBankRecord& record) {
  if (!record.m_pData) return SN_Success;
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < record.m_indexCount; ++i) {
    const SnMediaIndexEntry entry = record.IndexEntry(i);
    if (entry.mediaId == 0) continue;
    if (AddMediaSource(entry.mediaId, &record, record.m_pData + entry.offset, entry.size) != SN_Success) {
      for (uint32_t j = 0; j < i; ++j) {
        const SnMediaIndexEntry undo = record.IndexEntry(j);
        if (undo.mediaId) RemoveMediaSource(undo.mediaId, &record);
      }
      return SN_InsufficientMemory;
    }
  }
  return SN_Success;
}

void CSnSoundBankManager::RemoveBankMediaSources(CSnBankRecord& record) {
  if (!record.m_pData) return;
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < record.m_indexCount; ++i) {
    const SnMediaIndexEntry entry = record.IndexEntry(i);
    if (entry.mediaId) RemoveMediaSource(entry.mediaId, &record);
  }
}

SnMediaRef CSnSoundBankManager::GetMedia(uint32_t mediaId) {
  // The bank lock alone: a bank's unloading flag is raised under it, and a bank's sources leave the
  // table under it before the bank goes, so a source found here belongs to a live bank.
  SnMediaRef ref;
  Platform::ReentrantGuard guard(m_bankLock);
  MediaEntry* entry = m_media.Find(mediaId);
  if (!entry) return ref;
  if (entry->ownData) {
    ++entry->refCount;
    ref.data = entry->ownData;
    ref.size = entry->ownSize;
    return ref;
  }
  for (uint32_t i = 0; i < entry->sourceCount; ++i) {
    const MediaSource& source = entry->sources[i];
    // An unloading bank's bytes are on their way out.
    if (source.bank && source.bank->IsUnloading()) continue;
    ++entry->refCount;
    // The bank stays until the last of its media handed out comes back.
    if (source.bank) source.bank->m_useCount.fetch_add(1);
    ref.data = source.data;
    ref.size = source.size;
    ref.bank = source.bank;
    return ref;
  }
  return ref;
}

void CSnSoundBankManager::ReleaseMedia(uint32_t mediaId, CSnBankRecord* bank) {
  {
    Platform::ReentrantGuard guard(m_bankLock);
    auto it = m_media.FindWithPrev(mediaId);
    if (!it.AtEnd()) DropMediaReference(it);
  }
  if (bank) DropUse(bank);
}

uint32_t CSnSoundBankManager::MediaReferences(uint32_t mediaId) {
  Platform::ReentrantGuard guard(m_bankLock);
  const MediaEntry* entry = m_media.Find(mediaId);
  return entry ? entry->refCount : 0;
}

SNRESULT CSnSoundBankManager::SetMedia(const SnMediaItem* items, uint32_t count) {
  if (count == 0) return SN_Success;
  if (!items) {
    SOUND_LOG(Error, "SetMedia: no media array");
    return SN_Failure;
  }
  Platform::ReentrantGuard guard(m_bankLock);
  uint32_t done = 0;
  SNRESULT result = SN_Success;
  for (; done < count; ++done) {
    const SnMediaItem& item = items[done];
    if (!item.data || item.size == 0) {
      SOUND_LOG(Error, "SetMedia: media %u has no bytes", item.mediaId);
      result = SN_Failure;
      break;
    }
    // The copy's owner holds the game's use of it; each reader adds its own.
    auto* owner = PoolNew<CSnBankRecord>(g_DefaultPoolId, *this, 0u, item.data);
    if (!owner) {
      result = SN_InsufficientMemory;
      break;
    }
    owner->m_bankFlags = CSnBankRecord::kFlagGameMedia;
    owner->m_useCount.store(1);
    result = AddMediaSource(item.mediaId, owner, static_cast<const uint8_t*>(item.data), item.size);
    if (result != SN_Success) {
      PoolDelete(g_DefaultPoolId, owner);
      break;
    }
  }
  // Under the bank lock throughout: no reader has seen the copies taken back here.
  if (result != SN_Success)
    while (done) {
      const SnMediaItem& item = items[--done];
      CSnBankRecord* owner = FindGameMedia(item.mediaId, item.data);
      RemoveMediaSource(item.mediaId, owner);
      PoolDelete(g_DefaultPoolId, owner);
    }
  return result;
}

SNRESULT CSnSoundBankManager::UnsetMedia(const SnMediaItem* items, uint32_t count) {
  if (count == 0) return SN_Success;
  if (!items) return SN_Failure;
  // The game frees its bytes once this returns. Held out of its pass, the audio thread reads none of
  // them meanwhile; what reads them lets go first, moving to another copy or ending, as under an
  // unloaded bank.
  Platform::ReentrantGuard audio(GlobalAudioLock());
  for (uint32_t i = 0; i < count; ++i) {
    CSnBankRecord* owner = nullptr;
    {
      Platform::ReentrantGuard guard(m_bankLock);
      owner = FindGameMedia(items[i].mediaId, items[i].data);
      if (!owner) continue;
      // Handed out no more from here on.
      owner->m_stateFlags |= CSnBankRecord::kStateUnloading;
    }
    // Inside an audio pass (a play's callback) the frame may be running the very voices that read the
    // copy: they cannot end here, nor read the game's bytes once this returns. They move onto a copy
    // of the engine's own, which the next pass takes away as this call would have.
    CSnBankRecord* standIn = CSnAudioMgr::InAudioPassOnThisThread() && owner->UseCount() > 1
                                 ? StandInCopy(items[i].mediaId, items[i].data, items[i].size)
                                 : nullptr;
    CSnBankMediaHolder::BankDataGoing(owner);
    {
      Platform::ReentrantGuard guard(m_bankLock);
      RemoveMediaSource(items[i].mediaId, owner);
      if (standIn) {
        standIn->m_stateFlags |= CSnBankRecord::kStateUnloading;
        RemoveMediaSource(items[i].mediaId, standIn);
      }
    }
    DropUse(owner);
    if (standIn) PostUnload(standIn);
  }
  return SN_Success;
}

CSnBankRecord* CSnSoundBankManager::StandInCopy(uint32_t mediaId, const void* data, uint32_t size) {
  auto* bytes = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, size, kMediaAlignment));
  auto* standIn = bytes ? PoolNew<CSnBankRecord>(g_DefaultPoolId, *this, 0u, bytes) : nullptr;
  if (!standIn) {
    if (bytes) MemoryMgr::Falign(g_DefaultPoolId, bytes);
    SOUND_LOG(Error, "UnsetMedia: no memory to copy media %u (%u bytes) for the voices of the frame running; "
              "they stop now", mediaId, size);
    return nullptr;
  }
  memcpy(bytes, data, size);
  standIn->m_bankFlags = CSnBankRecord::kFlagGameMedia;
  standIn->m_useCount.store(1);
  // Freed with the record, once its last reader has let go.
  standIn->m_pData = bytes;
  standIn->m_dataSize = size;
  standIn->m_poolId = g_DefaultPoolId;
  Platform::ReentrantGuard guard(m_bankLock);
  if (AddMediaSource(mediaId, standIn, bytes, size) == SN_Success) return standIn;
  PoolDelete(g_DefaultPoolId, standIn);
  SOUND_LOG(Error, "UnsetMedia: no memory to copy media %u for the voices of the frame running; they stop now",
            mediaId);
  return nullptr;
}

}  // namespace SN
