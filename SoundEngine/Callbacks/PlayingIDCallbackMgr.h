// Playing ids and the game's callbacks: one entry per posted event or dynamic sequence with its
// callback, cookie and flags, counted down by its pending actions and playbacks; the end of a playing
// id cleans up what was keyed by it. Callbacks run without the table's lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "MemoryMgr/SnResult.h"
#include "Platform/Threading.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/Callbacks/PlayingIdCounts.h"
#include "SoundEngine/GameSyncs/SortedU32Array.h"

namespace SN {

class CSnRefCountedObject;

struct SnPlayingIdParams {
  uint32_t gameObjectId = 0;
  uint32_t playingId = 0;
  uint32_t custom[3] = {};
  CSnRefCountedObject* externalSources = nullptr;  // referenced by the entry
};

class CSnPlayingIDCallbackMgr final : public ISnPlayingIdPendingCounts {
 public:
  // Buckets to begin with in each stripe; a stripe doubles whenever it holds twice as many entries
  // as buckets, so that a flood of posts never makes a lookup walk a long chain.
  static constexpr uint32_t kBuckets = 32;
  // The table is split by playing id into stripes, each under its own lock: the audio thread takes
  // the lock of a playing id thousands of times a frame under a flood, and a game thread
  // registering a new playing id would otherwise wait for a turn at one lock it keeps losing.
  static constexpr uint32_t kStripes = 16;
  static constexpr uint32_t kFlagsWithoutCallback = 0x000FDFFBu;

  SNRESULT Init();
  void Term();

  SNRESULT AddPlayingID(const SnPlayingIdParams& params, SnCallbackFunc callback, void* cookie, uint32_t flags,
                        uint32_t eventId);
  void AddPendingActionRef(uint32_t playingId);
  void ReleasePendingActionRef(uint32_t playingId);
  // Copies the entry's flags out; 1 even for an unknown id, which changes nothing.
  SNRESULT AddPlaybackRef(uint32_t playingId, uint32_t* flags);
  void ReleasePlaybackRef(uint32_t playingId);
  uint32_t GetGameObjectFromPlayingID(uint32_t playingId);
  bool IsPlayingIdActive(uint32_t playingId);
  bool RegisterValueOwner(uint32_t playingId, uint32_t id, bool modulator);

  // Each sends one callback when the entry asked for the type.
  void NotifyEvent(uint32_t type, uint32_t playingId, SnEventCallbackInfo& info);
  void NotifyMarker(uint32_t playingId, uint32_t identifier, uint32_t position, const char* label);
  // A u16 count followed by the markers; the batch is freed (default pool) afterwards.
  void NotifyMarkerBatch(uint32_t playingId, void* batch);
  void NotifyDuration(uint32_t playingId, float duration, float estimated, uint32_t audioNodeId, uint32_t mediaId,
                      float pitchRatio);
  void NotifyStarvation(uint32_t playingId);
  void NotifyMIDIEvent(uint32_t playingId, const uint8_t midiEvent[4]);
  // The game may replace the child a music playlist group chose (`selection`) or end the group.
  void NotifyMusicPlaylistSelect(uint32_t playingId, uint32_t groupItemId, uint32_t childCount, uint32_t& selection,
                                 bool& endGroup);
  void NotifyDynamicSequenceItem(uint32_t playingId, uint32_t audioNodeId, void* customInfo);

  // No callback of the playing id (of the playing ids posted with the cookie so far) starts after
  // these return; a post made after them calls back as any other. Unless told not to (a call inside an
  // audio pass), they also wait until none of those callbacks runs on another thread: one
  // running on this thread (the cancel is made inside it) goes on.
  void CancelEventCallback(uint32_t playingId, bool waitForRunning = true);
  void CancelEventCallbackCookie(void* cookie, bool waitForRunning = true);
  // For tests: the cancels waiting for callbacks running on other threads.
  uint32_t WaitingCancels();

  uint32_t Count();

  // The pending-action scheduler's view.
  void AddPendingAction(uint32_t playingId) override { AddPendingActionRef(playingId); }
  void RemovePendingAction(uint32_t playingId) override { ReleasePendingActionRef(playingId); }

 private:
  struct Entry {
    SnSortedU32Array modulators;
    SnSortedU32Array parameters;
    uint32_t playbackCount;
    uint32_t pendingCount;
    uint32_t eventId;
    uint32_t gameObjectId;
    uint32_t custom[3];
    CSnRefCountedObject* externalSources;
    uint32_t playingId;
    SnCallbackFunc callback;
    void* cookie;
    uint32_t flags;
    Entry* next;
  };
  struct alignas(64) Stripe {
    Platform::ReentrantLock lock;
    Entry* ownBuckets[kBuckets] = {};
    Entry** buckets = ownBuckets;  // a power of two of them
    uint32_t bucketCount = kBuckets;
    uint32_t count = 0;
  };
  Stripe& StripeOf(uint32_t playingId) { return m_stripes[playingId & (kStripes - 1)]; }
  static Entry*& BucketOf(Stripe& stripe, uint32_t playingId) {
    return stripe.buckets[(playingId / kStripes) & (stripe.bucketCount - 1)];
  }
  // With the stripe's lock held.
  static Entry* FindLocked(Stripe& stripe, uint32_t playingId);
  // Twice the buckets, when the memory can be had (else the chains just grow longer).
  static void GrowBuckets(Stripe& stripe);
  static void FreeEntries(Stripe& stripe);
  // Called with the stripe's lock held once; returns with it released.
  void FinaliseAndUnlock(Stripe& stripe, Entry* entry, std::unique_lock<Platform::ReentrantLock>& lock);
  // One callback running, on the stack of the thread that runs it.
  struct Running {
    uint32_t playingId = 0;
    void* cookie = nullptr;
    std::thread::id thread;
    uint64_t order = 0;  // its place among the callbacks begun
    Running* next = nullptr;
  };
  // Counts a callback as running; called before the entry lock goes, so that a cancel taking that
  // lock next waits for this callback.
  void CountCallback(Running& running, uint32_t playingId, void* cookie);
  // Runs a callback CountCallback counted, without the entry lock.
  void Call(Running& running, SnCallbackFunc callback, uint32_t type, SnCallbackInfo* info);
  // Until no callback begun before the call, of the playing id (or of the cookie), runs on another thread.
  void WaitForCancelled(uint32_t playingId, void* cookie, bool byCookie);
  template <typename Fill>
  void Notify(uint32_t playingId, uint32_t type, Fill&& fill);

  Stripe m_stripes[kStripes];
  // Callbacks running on any thread, and the signal that one has returned.
  std::mutex m_runningLock;
  std::condition_variable m_runningChanged;
  Running* m_running = nullptr;
  uint64_t m_begun = 0;
  uint32_t m_waitingCancels = 0;
};

// Null while the sound engine is not initialised.
extern CSnPlayingIDCallbackMgr* g_pPlayingIDCallbackMgr;

}  // namespace SN
