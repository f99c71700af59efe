// The playing-id table: counts that decide when a playing id ends, the callbacks it asked for, and
// cancellation that returns only when no other thread still runs a callback with the cookie.
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"

#include "SoundEngine/Callbacks/PlayPositionStore.h"
#include "SoundEngine/GameCode.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Modulators/ModulatorObjects.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

CSnPlayingIDCallbackMgr* g_pPlayingIDCallbackMgr = nullptr;

SNRESULT CSnPlayingIDCallbackMgr::Init() {
  for (Stripe& stripe : m_stripes) {
    stripe.buckets = stripe.ownBuckets;
    stripe.bucketCount = kBuckets;
    for (Entry*& head : stripe.ownBuckets) head = nullptr;
    stripe.count = 0;
  }
  m_running = nullptr;
  return SN_Success;
}

void CSnPlayingIDCallbackMgr::FreeEntries(Stripe& stripe) {
  for (uint32_t bucket = 0; bucket < stripe.bucketCount; ++bucket) {
    while (Entry* entry = stripe.buckets[bucket]) {
      stripe.buckets[bucket] = entry->next;
      if (entry->externalSources) entry->externalSources->Release();
      entry->modulators.Term();
      entry->parameters.Term();
      PoolDelete(g_DefaultPoolId, entry);
    }
  }
  if (stripe.buckets != stripe.ownBuckets) MemoryMgr::Free(g_DefaultPoolId, stripe.buckets);
  stripe.buckets = stripe.ownBuckets;
  stripe.bucketCount = kBuckets;
  stripe.count = 0;
}

void CSnPlayingIDCallbackMgr::Term() {
  for (Stripe& stripe : m_stripes) {
    Platform::ReentrantGuard guard(stripe.lock);
    FreeEntries(stripe);
  }
}

uint32_t CSnPlayingIDCallbackMgr::Count() {
  uint32_t count = 0;
  for (Stripe& stripe : m_stripes) {
    Platform::ReentrantGuard guard(stripe.lock);
    count += stripe.count;
  }
  return count;
}

CSnPlayingIDCallbackMgr::Entry* CSnPlayingIDCallbackMgr::FindLocked(Stripe& stripe, uint32_t playingId) {
  for (Entry* entry = BucketOf(stripe, playingId); entry; entry = entry->next)
    if (entry->playingId == playingId) return entry;
  return nullptr;
}

void CSnPlayingIDCallbackMgr::GrowBuckets(Stripe& stripe) {
  const uint32_t count = stripe.bucketCount * 2;
  auto** grown = static_cast<Entry**>(MemoryMgr::Malloc(g_DefaultPoolId, sizeof(Entry*) * count));
  if (!grown) return;
  for (uint32_t bucket = 0; bucket < count; ++bucket) grown[bucket] = nullptr;
  for (uint32_t bucket = 0; bucket < stripe.bucketCount; ++bucket) {
    while (Entry* entry = stripe.buckets[bucket]) {
      stripe.buckets[bucket] = entry->next;
      Entry*& head = grown[(entry->playingId / kStripes) & (count - 1)];
      entry->next = head;
      head = entry;
    }
  }
  if (stripe.buckets != stripe.ownBuckets) MemoryMgr::Free(g_DefaultPoolId, stripe.buckets);
  stripe.buckets = grown;
  stripe.bucketCount = count;
}

SNRESULT CSnPlayingIDCallbackMgr::AddPlayingID(const SnPlayingIdParams& params, SnCallbackFunc callback, void* cookie,
                                               uint32_t flags, uint32_t eventId) {
  // Made before the lock is taken: the pool's own lock is busy under a flood too.
  Entry* entry = PoolNew<Entry>(g_DefaultPoolId);
  if (!entry) return SN_Failure;
  entry->playbackCount = 0;
  entry->pendingCount = 1;
  entry->eventId = eventId;
  entry->gameObjectId = params.gameObjectId;
  for (uint32_t i = 0; i < 3; ++i) entry->custom[i] = params.custom[i];
  entry->externalSources = params.externalSources;
  if (entry->externalSources) entry->externalSources->AddRef();
  entry->playingId = params.playingId;
  entry->callback = callback;
  entry->cookie = cookie;
  entry->flags = callback ? flags : flags & ~kFlagsWithoutCallback;
  Stripe& stripe = StripeOf(params.playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  if (stripe.count >= 2 * stripe.bucketCount) GrowBuckets(stripe);
  Entry*& head = BucketOf(stripe, params.playingId);
  entry->next = head;
  head = entry;
  ++stripe.count;
  return SN_Success;
}

void CSnPlayingIDCallbackMgr::AddPendingActionRef(uint32_t playingId) {
  Stripe& stripe = StripeOf(playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  if (Entry* entry = FindLocked(stripe, playingId)) ++entry->pendingCount;
}

void CSnPlayingIDCallbackMgr::ReleasePendingActionRef(uint32_t playingId) {
  Stripe& stripe = StripeOf(playingId);
  std::unique_lock<Platform::ReentrantLock> lock(stripe.lock);
  Entry* entry = FindLocked(stripe, playingId);
  if (!entry || entry->pendingCount == 0) return;
  if (--entry->pendingCount == 0 && entry->playbackCount == 0) FinaliseAndUnlock(stripe, entry, lock);
}

SNRESULT CSnPlayingIDCallbackMgr::AddPlaybackRef(uint32_t playingId, uint32_t* flags) {
  if (playingId == 0) return SN_Success;
  Stripe& stripe = StripeOf(playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  if (Entry* entry = FindLocked(stripe, playingId)) {
    ++entry->playbackCount;
    if (flags) *flags = entry->flags;
  }
  return SN_Success;
}

void CSnPlayingIDCallbackMgr::ReleasePlaybackRef(uint32_t playingId) {
  Stripe& stripe = StripeOf(playingId);
  std::unique_lock<Platform::ReentrantLock> lock(stripe.lock);
  Entry* entry = FindLocked(stripe, playingId);
  if (!entry || entry->playbackCount == 0) return;
  if (--entry->playbackCount == 0 && entry->pendingCount == 0) FinaliseAndUnlock(stripe, entry, lock);
}

uint32_t CSnPlayingIDCallbackMgr::GetGameObjectFromPlayingID(uint32_t playingId) {
  Stripe& stripe = StripeOf(playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  Entry* entry = FindLocked(stripe, playingId);
  return entry ? entry->gameObjectId : kInvalidGameObjectId;
}

bool CSnPlayingIDCallbackMgr::IsPlayingIdActive(uint32_t playingId) {
  Stripe& stripe = StripeOf(playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  return FindLocked(stripe, playingId) != nullptr;
}

bool CSnPlayingIDCallbackMgr::RegisterValueOwner(uint32_t playingId, uint32_t id, bool modulator) {
  Stripe& stripe = StripeOf(playingId);
  Platform::ReentrantGuard guard(stripe.lock);
  Entry* entry = FindLocked(stripe, playingId);
  if (!entry) return false;
  return modulator ? entry->modulators.Add(id) : entry->parameters.Add(id);
}

void CSnPlayingIDCallbackMgr::FinaliseAndUnlock(Stripe& stripe, Entry* entry,
                                                std::unique_lock<Platform::ReentrantLock>& lock) {
  const uint32_t playingId = entry->playingId;
  if (g_pPlayPositionStore) {
    if (entry->flags & SnCallback_EnableGetSourcePlayPosition) g_pPlayPositionStore->RemovePlayingId(playingId);
    if (entry->flags & SnCallback_EnableGetSourceStreamBuffering) g_pPlayPositionStore->RemoveBuffering(playingId);
  }
  SnEventCallbackInfo info{};
  info.cookie = entry->cookie;
  info.gameObjectId = entry->gameObjectId;
  info.playingId = playingId;
  info.eventId = entry->eventId;
  const SnCallbackFunc callback = entry->callback;
  const uint32_t flags = entry->flags;

  for (Entry** link = &BucketOf(stripe, playingId); *link; link = &(*link)->next) {
    if (*link == entry) {
      *link = entry->next;
      break;
    }
  }
  --stripe.count;

  CSnRegisteredObj* object = g_pRegistryMgr ? g_pRegistryMgr->Find(entry->gameObjectId) : nullptr;
  const SnRTPCKey key = SnRTPCKey::ForObjectAndPlayingId(object, playingId);
  if (g_pRTPCMgr)
    for (uint32_t i = 0; i < entry->parameters.Count(); ++i) g_pRTPCMgr->RemoveValuesOfOwner(entry->parameters[i], key);
  for (uint32_t i = 0; i < entry->modulators.Count(); ++i) ModulatorObjects::DropContexts(entry->modulators[i], key);
  if (entry->externalSources) entry->externalSources->Release();
  entry->modulators.Term();
  entry->parameters.Term();
  PoolDelete(g_DefaultPoolId, entry);

  const bool calls = callback && (flags & SnCallback_EndOfEvent);
  Running running;
  if (calls) CountCallback(running, playingId, info.cookie);
  lock.unlock();
  if (calls) Call(running, callback, SnCallback_EndOfEvent, &info);
}

void CSnPlayingIDCallbackMgr::CountCallback(Running& running, uint32_t playingId, void* cookie) {
  running.playingId = playingId;
  running.cookie = cookie;
  running.thread = std::this_thread::get_id();
  std::lock_guard<std::mutex> guard(m_runningLock);
  running.order = ++m_begun;
  running.next = m_running;
  m_running = &running;
}

void CSnPlayingIDCallbackMgr::Call(Running& running, SnCallbackFunc callback, uint32_t type, SnCallbackInfo* info) {
  // The record leaves the running list however the callback ends.
  struct Ends {
    CSnPlayingIDCallbackMgr& manager;
    Running& running;
    ~Ends() {
      std::lock_guard<std::mutex> guard(manager.m_runningLock);
      for (Running** link = &manager.m_running; *link; link = &(*link)->next) {
        if (*link != &running) continue;
        *link = running.next;
        break;
      }
      manager.m_runningChanged.notify_all();
    }
  } ends{*this, running};
  GameCode::Call(GameCode::Kind::PlayCallback, [&] { callback(type, info); });
}

template <typename Fill>
void CSnPlayingIDCallbackMgr::Notify(uint32_t playingId, uint32_t type, Fill&& fill) {
  Stripe& stripe = StripeOf(playingId);
  std::unique_lock<Platform::ReentrantLock> lock(stripe.lock);
  Entry* entry = FindLocked(stripe, playingId);
  if (!entry || !entry->callback || !(entry->flags & type)) return;
  const SnCallbackFunc callback = entry->callback;
  SnCallbackInfo* info = fill(*entry);
  Running running;
  CountCallback(running, playingId, entry->cookie);
  lock.unlock();
  Call(running, callback, type, info);
}

namespace {
template <typename Info, typename Entry>
void FillEvent(Info& info, const Entry& entry) {
  info.cookie = entry.cookie;
  info.gameObjectId = entry.gameObjectId;
  info.playingId = entry.playingId;
  info.eventId = entry.eventId;
}
}  // namespace

void CSnPlayingIDCallbackMgr::NotifyEvent(uint32_t type, uint32_t playingId, SnEventCallbackInfo& info) {
  Notify(playingId, type, [&](const Entry& entry) {
    FillEvent(info, entry);
    return &info;
  });
}

void CSnPlayingIDCallbackMgr::NotifyMarker(uint32_t playingId, uint32_t identifier, uint32_t position,
                                           const char* label) {
  SnMarkerCallbackInfo info{};
  Notify(playingId, SnCallback_Marker, [&](const Entry& entry) {
    FillEvent(info, entry);
    info.identifier = identifier;
    info.position = position;
    info.label = label;
    return &info;
  });
}

void CSnPlayingIDCallbackMgr::NotifyMarkerBatch(uint32_t playingId, void* batch) {
  if (!batch) return;
  const uint16_t count = *static_cast<const uint16_t*>(batch);
  const auto* markers = reinterpret_cast<const SnMarker*>(static_cast<const uint8_t*>(batch) + alignof(SnMarker));
  for (uint16_t i = 0; i < count; ++i)
    NotifyMarker(playingId, markers[i].identifier, markers[i].position, markers[i].label);
  MemoryMgr::Free(g_DefaultPoolId, batch);
}

void CSnPlayingIDCallbackMgr::NotifyDuration(uint32_t playingId, float duration, float estimated,
                                             uint32_t audioNodeId, uint32_t mediaId, float pitchRatio) {
  SnDurationCallbackInfo info{};
  const float ratio = pitchRatio > 0.0f ? pitchRatio : 1.0f;
  Notify(playingId, SnCallback_Duration, [&](const Entry& entry) {
    FillEvent(info, entry);
    info.duration = duration / ratio;
    info.estimatedDuration = estimated / ratio;
    info.audioNodeId = audioNodeId;
    info.mediaId = mediaId;
    return &info;
  });
}

void CSnPlayingIDCallbackMgr::NotifyStarvation(uint32_t playingId) {
  SnEventCallbackInfo info{};
  NotifyEvent(SnCallback_Starvation, playingId, info);
}

void CSnPlayingIDCallbackMgr::NotifyMIDIEvent(uint32_t playingId, const uint8_t midiEvent[4]) {
  SnMIDIEventCallbackInfo info{};
  Notify(playingId, SnCallback_MIDIEvent, [&](const Entry& entry) {
    FillEvent(info, entry);
    for (int i = 0; i < 4; ++i) info.midiEvent[i] = midiEvent[i];
    return &info;
  });
}

void CSnPlayingIDCallbackMgr::NotifyMusicPlaylistSelect(uint32_t playingId, uint32_t groupItemId,
                                                        uint32_t childCount, uint32_t& selection, bool& endGroup) {
  SnMusicPlaylistCallbackInfo info{};
  info.playlistSelection = selection;
  Notify(playingId, SnCallback_MusicPlaylistSelect, [&](const Entry& entry) {
    FillEvent(info, entry);
    info.playlistId = groupItemId;
    info.numPlaylistItems = childCount;
    return &info;
  });
  selection = info.playlistSelection;
  endGroup = info.playlistItemDone != 0;
}

void CSnPlayingIDCallbackMgr::NotifyDynamicSequenceItem(uint32_t playingId, uint32_t audioNodeId, void* customInfo) {
  SnDynamicSequenceItemCallbackInfo info{};
  Notify(playingId, SnCallback_EndOfDynamicSequenceItem, [&](const Entry& entry) {
    info.cookie = entry.cookie;
    info.gameObjectId = entry.gameObjectId;
    info.playingId = entry.playingId;
    info.audioNodeId = audioNodeId;
    info.customInfo = customInfo;
    return &info;
  });
}

void CSnPlayingIDCallbackMgr::WaitForCancelled(uint32_t playingId, void* cookie, bool byCookie) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(m_runningLock);
  // A callback begun later is of a post the cancel did not cover.
  const uint64_t upTo = m_begun;
  ++m_waitingCancels;
  m_runningChanged.wait(lock, [&] {
    for (const Running* running = m_running; running; running = running->next)
      if (running->order <= upTo && running->thread != self &&
          (byCookie ? running->cookie == cookie : running->playingId == playingId))
        return false;
    return true;
  });
  --m_waitingCancels;
}

uint32_t CSnPlayingIDCallbackMgr::WaitingCancels() {
  std::lock_guard<std::mutex> lock(m_runningLock);
  return m_waitingCancels;
}

void CSnPlayingIDCallbackMgr::CancelEventCallback(uint32_t playingId, bool waitForRunning) {
  {
    Stripe& stripe = StripeOf(playingId);
    Platform::ReentrantGuard guard(stripe.lock);
    if (Entry* entry = FindLocked(stripe, playingId)) {
      entry->callback = nullptr;
      entry->flags &= ~0xFFFFFu;
    }
  }
  if (waitForRunning) WaitForCancelled(playingId, nullptr, false);
}

void CSnPlayingIDCallbackMgr::CancelEventCallbackCookie(void* cookie, bool waitForRunning) {
  for (Stripe& stripe : m_stripes) {
    Platform::ReentrantGuard guard(stripe.lock);
    for (uint32_t bucket = 0; bucket < stripe.bucketCount; ++bucket) {
      for (Entry* entry = stripe.buckets[bucket]; entry; entry = entry->next) {
        if (entry->cookie != cookie) continue;
        entry->callback = nullptr;
        entry->flags &= ~0xFFFFFu;
      }
    }
  }
  if (waitForRunning) WaitForCancelled(0, cookie, true);
}

}  // namespace SN
