// A playing segment: its tracks as timed work (play a sub-track, stop a track context, a switch
// change), done as each frame reaches it, and the switch tracks that follow their group and change
// sub-tracks at the sync point their transition asks for.
//
// Threads: audio thread only, inside the music frame; switch notifications arrive there.
#pragma once

#include <cstdint>

#include "SoundEngine/PoolObject.h"
#include "MusicEngine/MusicContext.h"
#include "MusicEngine/MusicSlots.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"

namespace SN {

class CSnMusicChainItem;
class CSnMusicSegmentNode;
class CSnMusicTrackContext;
class CSnMusicTrackNode;
class CSnRegisteredObj;
class CSnMusicSegmentContext;

// A switch track's follower of its group for one segment context.
class CSnMusicTrackSwitchFollower final : public ISnSwitchSubscriber, public ISnGameSyncSubscriber {
 public:
  CSnMusicTrackSwitchFollower(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track);
  ~CSnMusicTrackSwitchFollower();
  CSnMusicTrackSwitchFollower(const CSnMusicTrackSwitchFollower&) = delete;
  CSnMusicTrackSwitchFollower& operator=(const CSnMusicTrackSwitchFollower&) = delete;
  // Subscribes and takes the current value; false when it cannot subscribe.
  bool Init();
  bool Matches(uint32_t subTrack) const;
  void SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void* filter) override;
  void TriggerReceived(uint32_t) override {}
  void StateChanged(uint32_t stateId, const SnRTPCKey& key, const void* filter) override;

  CSnMusicTrackSwitchFollower* next = nullptr;
  CSnMusicTrackNode* track;
  uint32_t current = 0;
  uint32_t previous = 0;

 private:
  void Changed(uint32_t switchId, const SnRTPCKey& key);
  CSnMusicSegmentContext* m_segment;
  bool m_subscribed = false;
};

class CSnMusicSegmentContext final : public CSnMusicContext {
 public:
  struct Action {
    enum Kind : uint32_t { PlayTrack = 0, StopTrack = 1, SwitchChange = 2 };
    Action* next;
    int64_t time;  // from the entry cue
    uint32_t kind;
    CSnMusicTrackNode* track;  // referenced while the action lives (kind 0)
    uint16_t subTrack;
    SnMusicFade fade;
    int64_t beginPosition;
    CSnMusicTrackContext* trackContext;  // kind 1
    CSnMusicTrackSwitchFollower* follower;  // kind 2
  };

  // Referenced once for the caller; null without markers, memory or a follower that fails.
  static CSnMusicSegmentContext* Create(CSnMusicSegmentNode* segment, CSnMusicContext* parent,
                                        CSnRegisteredObj* gameObject, uint32_t playingId);
  ~CSnMusicSegmentContext() override;

  void SetPlaying() override;
  void OnStopComplete() override;

  // One frame of the segment from `position` (from the entry cue).
  void Perform(int64_t position, int64_t length, float speed);
  void ProcessActions(int64_t position, int64_t length);
  // The most streaming look-ahead the tracks need at `position` (from the entry cue); kept as the
  // position the tracks begin from.
  int64_t GetLookAhead(int64_t position);
  void OnSwitchChange(CSnMusicTrackSwitchFollower* follower);
  void RemoveStopActionsOf(const CSnMusicTrackContext* trackContext);

  CSnMusicSegmentNode* Segment() const { return m_segment; }
  CSnMusicChainItem* Item() const { return m_item; }
  void SetItem(CSnMusicChainItem* item) { m_item = item; }
  CSnRegisteredObj* GameObject() const { return m_gameObject; }
  uint32_t PlayingId() const { return m_playingId; }
  int64_t Position() const { return m_position; }
  void SetPosition(int64_t position) { m_position = position; }
  // From the segment's beginning.
  int64_t CurrentPosition() const;
  int64_t BeginReference() const { return m_beginReference; }
  const Action* FirstAction() const { return m_actions; }

 private:
  template <typename T, typename... Args>
  friend T* NewMusicContext(Args&&...);
  void DeleteSelf() override;
  CSnMusicSegmentContext(CSnMusicSegmentNode* segment, CSnMusicContext* parent, CSnRegisteredObj* gameObject,
                         uint32_t playingId);
  bool InitFollowers();
  Action* NewAction(uint32_t kind, int64_t time);
  void Insert(Action* action);
  void Remove(Action* action);
  void FreeAction(Action* action);
  void FreeActions();
  void ScheduleSwitchChange(CSnMusicTrackSwitchFollower* follower, int64_t time);
  // Of the actions `match` picks, those later than `time` go; true when one at or before it stays.
  template <typename Match>
  bool KeepActionsBy(int64_t time, Match&& match);
  void ScheduleInitialTracks();
  // A track context of (track, sub-track) playing or about to, not ending; null for none.
  CSnMusicTrackContext* LiveTrackContext(const CSnMusicTrackNode* track, uint32_t subTrack) const;

  CSnMusicSegmentNode* m_segment;
  CSnMusicChainItem* m_item = nullptr;
  Action* m_actions = nullptr;
  CSnMusicTrackSwitchFollower* m_followers = nullptr;
  int64_t m_beginReference = 0;
  int64_t m_position = 0;
  CSnRegisteredObj* m_gameObject;
  uint32_t m_playingId;
  // A play of each track and a switch track's change or two: the actions a segment usually holds.
  SnMusicSlots<Action, 6> m_actionRoom;
};

}  // namespace SN
