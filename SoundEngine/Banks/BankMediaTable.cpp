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
  if (bank) ++bank->m_sourcesInTable;
  return SN_Success;
}

void CSnSoundBankManager::RemoveMediaSource(uint32_t mediaId, CSnBankRecord* bank) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  auto it = m_media.FindWithPrev(mediaId);
  if (it.AtEnd()) return;
  MediaEntry& entry = it.node->value;
  for (uint32_t i = 0; i < entry.sourceCount; ++i) {
    if (entry.sources[i].bank != bank) continue;
    if (bank) --bank->m_sourcesInTable;
    // Order kept: GetMedia hands out the first source.
    memmove(entry.sources + i, entry.sources + i + 1, sizeof(MediaSource) * (entry.sourceCount - i - 1));
    --entry.sourceCount;
    DropMediaReference(it);
    return;
  }
}

CSnBankRecord* CSnSoundBankManager::FindGameMedia(uint32_t mediaId, const void* data, uint32_t* setSize) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  const MediaEntry* entry = m_media.Find(mediaId);
  if (!entry) return nullptr;
  // Newest first: a failed SetMedia takes back the copies it set, not one set before at the same
  // address that a reader may hold.
  for (uint32_t i = entry->sourceCount; i-- > 0;) {
    CSnBankRecord* owner = entry->sources[i].bank;
    if (!owner || !owner->IsGameMedia() || owner->IsUnloading() || entry->sources[i].data != data) continue;
    if (setSize) *setSize = entry->sources[i].size;
    return owner;
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
  Platform::ReentrantGuard guard(m_bankLock);
  if (!record.m_sourcesInTable) return;
  for (uint32_t i = 0; i < record.m_indexCount && record.m_sourcesInTable; ++i) {
    const SnMediaIndexEntry entry = record.IndexEntry(i);
    if (entry.mediaId) RemoveMediaSource(entry.mediaId, &record);
  }
  if (!record.m_sourcesInTable) return;
  // Its index no longer names them all (the game changed its image while the bank was loaded): the
  // rest are looked for entry by entry, since none may outlive the record.
  SOUND_LOG(Error, "Bank %u: its image changed while it was loaded; %u of its media are looked for one by one",
            record.m_bankId, record.m_sourcesInTable);
  for (auto it = m_media.Begin(); !it.AtEnd() && record.m_sourcesInTable;) {
    const uint32_t mediaId = it.node->key;
    uint32_t sources = 0;
    for (uint32_t i = 0; i < it.node->value.sourceCount; ++i) sources += it.node->value.sources[i].bank == &record;
    // On first: the entry may go with its last source.
    m_media.Next(it);
    while (sources--) RemoveMediaSource(mediaId, &record);
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
  if (!bank) return;
  // A bank's end, and the answers waiting for it, come from a pass, whichever thread gives back its
  // last use: outside one (and outside the audio lock) that use is handed to a pass, as an unload
  // hands over the load's. A bank callback there never runs beside another game thread's.
  if (CSnAudioMgr::InAudioPassOnThisThread() || GlobalAudioLock().IsHeldByCurrentThread()) {
    DropUse(bank);
    return;
  }
  int32_t uses = bank->m_useCount.load();
  while (uses > 1 && !bank->m_useCount.compare_exchange_weak(uses, uses - 1)) {
  }
  if (uses > 1) return;
  // The last (no other can come: an unloading bank's media are handed out no more); a game's copy
  // answers nothing.
  if (bank->IsGameMedia()) {
    DropUse(bank);
    return;
  }
  m_holds.EndPosted(bank->m_hold);
  PostUnload(bank);
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

CSnBankRecord* CSnSoundBankManager::TakeBackGameMedia(const SnMediaItem& item, uint32_t& setSize) {
  ORV_ASSERT(m_bankLock.IsHeldByCurrentThread());
  CSnBankRecord* owner = FindGameMedia(item.mediaId, item.data, &setSize);
  if (!owner) return nullptr;
  // The copy is the one set at that address: all of it goes, whatever size the call names.
  if (item.size != setSize)
    SOUND_LOG(Warning,
              "UnsetMedia: media %u was set at that address with %u bytes, not %u: its %u bytes are taken back",
              item.mediaId, setSize, item.size, setSize);
  // Handed out no more from here on.
  owner->m_stateFlags |= CSnBankRecord::kStateUnloading;
  return owner;
}

SNRESULT CSnSoundBankManager::UnsetMedia(const SnMediaItem* items, uint32_t count) {
  if (count == 0) return SN_Success;
  if (!items) return SN_Failure;
  // The game frees its bytes once this returns. Held out of its pass, the audio thread reads none of
  // them meanwhile; what reads them lets go first, moving to another copy or ending, as under an
  // unloaded bank.
  Platform::ReentrantGuard audio(GlobalAudioLock());
  if (CSnAudioMgr::InAudioPassOnThisThread()) return UnsetMediaInPass(items, count);
  for (uint32_t i = 0; i < count; ++i) {
    CSnBankRecord* owner = nullptr;
    uint32_t setSize = 0;
    {
      Platform::ReentrantGuard guard(m_bankLock);
      owner = TakeBackGameMedia(items[i], setSize);
    }
    if (!owner) continue;
    CSnBankMediaHolder::BankDataGoing(owner);
    {
      Platform::ReentrantGuard guard(m_bankLock);
      RemoveMediaSource(items[i].mediaId, owner);
    }
    DropUse(owner);
  }
  return SN_Success;
}

namespace {
uint64_t AlignedMediaBytes(uint32_t size) {
  return (uint64_t(size) + kMediaAlignment - 1) & ~uint64_t(kMediaAlignment - 1);
}
}  // namespace

// Inside an audio pass (a play's or a bus callback) the frame may be running the very voices that
// read the game's copies: none of them may end here, nor read the game's bytes once this returns.
// They move onto copies of the engine's own, one block for the call, whose end is posted before
// anything moves: the next pass takes the copies away as the call would have. What the call cannot
// have first (memory for the copies, room for that post) refuses it as a whole (52), as does a reader
// that cannot move (2): the media stay set.
SNRESULT CSnSoundBankManager::UnsetMediaInPass(const SnMediaItem* items, uint32_t count) {
  auto* taken = static_cast<TakenMedia*>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(TakenMedia) * size_t(count)));
  if (!taken) {
    SOUND_LOG(Error, "UnsetMedia inside an audio pass: no memory to take back %u media; they stay set", count);
    return SN_InsufficientMemory;
  }
  uint64_t copyBytes = 0;
  {
    Platform::ReentrantGuard guard(m_bankLock);
    for (uint32_t i = 0; i < count; ++i) {
      TakenMedia& t = taken[i];
      t.owner = TakeBackGameMedia(items[i], t.size);
      // Only a copy something reads needs one of the engine's own.
      const bool read = t.owner && t.owner->UseCount() > 1;
      t.offset = read && copyBytes < kNoStandInCopy ? uint32_t(copyBytes) : kNoStandInCopy;
      if (read) copyBytes += AlignedMediaBytes(t.size);
    }
  }
  // Offsets past 4 GiB are no block the pools hand out.
  CSnBankRecord* standIn =
      copyBytes && copyBytes < kNoStandInCopy ? StandInCopies(items, count, taken, uint32_t(copyBytes)) : nullptr;
  const char* refused = copyBytes && !standIn ? "no memory to copy them for the voices of the frame running" : nullptr;
  SNRESULT result = SN_InsufficientMemory;
  if (standIn) {
    auto* message = g_pAudioMgr ? g_pAudioMgr->Reserve<SnMsgStopBankVoices>(SnMsg_StopBankVoices) : nullptr;
    if (message) {
      message->bank = standIn;
      g_pAudioMgr->FinishMessage();
    } else {
      refused = "no room to post the end of the copies the frame's voices would move onto";
      ForgetStandIn(items, count, taken, standIn);
      PoolDelete(g_DefaultPoolId, standIn);
      standIn = nullptr;
    }
  }
  // Every reader moves before anything goes. One that cannot follow a copy (a plug-in that cannot
  // relocate its media) cannot end inside the frame either: the call is refused, and those that
  // moved come back to the game's copy with the posted end.
  for (uint32_t i = 0; i < count && !refused; ++i) {
    if (!taken[i].owner) continue;
    CSnBankMediaHolder::MoveReadersOff(taken[i].owner);
    if (taken[i].owner->UseCount() > 1) {
      refused = "a voice or effect reading them cannot move to a copy, nor end inside the frame";
      result = SN_Failure;
    }
  }
  // Only the voices moved onto them read the copies now: the posted end takes them away.
  if (standIn) ForgetStandIn(items, count, taken, standIn);
  if (refused) SOUND_LOG(Error, "UnsetMedia inside an audio pass: %s; the %u media stay set", refused, count);
  for (uint32_t i = 0; i < count; ++i) {
    CSnBankRecord* owner = taken[i].owner;
    if (!owner) continue;
    if (refused) {
      Platform::ReentrantGuard guard(m_bankLock);
      owner->m_stateFlags &= uint8_t(~CSnBankRecord::kStateUnloading);
      continue;
    }
    {
      Platform::ReentrantGuard guard(m_bankLock);
      RemoveMediaSource(items[i].mediaId, owner);
    }
    DropUse(owner);
  }
  MemoryMgr::Free(g_DefaultPoolId, taken);
  return refused ? result : SN_Success;
}

CSnBankRecord* CSnSoundBankManager::StandInCopies(const SnMediaItem* items, uint32_t count,
                                                  const TakenMedia* taken, uint32_t bytes) {
  auto* block = static_cast<uint8_t*>(MemoryMgr::Malign(g_DefaultPoolId, bytes, kMediaAlignment));
  auto* standIn = block ? PoolNew<CSnBankRecord>(g_DefaultPoolId, *this, 0u, block) : nullptr;
  if (!standIn) {
    if (block) MemoryMgr::Falign(g_DefaultPoolId, block);
    return nullptr;
  }
  standIn->m_bankFlags = CSnBankRecord::kFlagGameMedia;
  standIn->m_useCount.store(1);
  // Freed with the record, once its last reader has let go.
  standIn->m_pData = block;
  standIn->m_dataSize = bytes;
  standIn->m_poolId = g_DefaultPoolId;
  // The game's bytes are whole until the call returns; each copy is as long as its media was set.
  for (uint32_t i = 0; i < count; ++i)
    if (taken[i].offset != kNoStandInCopy) memcpy(block + taken[i].offset, items[i].data, taken[i].size);
  Platform::ReentrantGuard guard(m_bankLock);
  for (uint32_t i = 0; i < count; ++i) {
    if (taken[i].offset == kNoStandInCopy) continue;
    if (AddMediaSource(items[i].mediaId, standIn, block + taken[i].offset, taken[i].size) == SN_Success) continue;
    while (i--)
      if (taken[i].offset != kNoStandInCopy) RemoveMediaSource(items[i].mediaId, standIn);
    PoolDelete(g_DefaultPoolId, standIn);
    return nullptr;
  }
  return standIn;
}

void CSnSoundBankManager::ForgetStandIn(const SnMediaItem* items, uint32_t count, const TakenMedia* taken,
                                        CSnBankRecord* standIn) {
  Platform::ReentrantGuard guard(m_bankLock);
  standIn->m_stateFlags |= CSnBankRecord::kStateUnloading;
  for (uint32_t i = 0; i < count; ++i)
    if (taken[i].offset != kNoStandInCopy) RemoveMediaSource(items[i].mediaId, standIn);
}

}  // namespace SN
