// What belongs to one music play as a whole: its identity and game object, its music clock and
// speed, the stingers its triggers launch, the sync callbacks sent to the game and the segment
// information it reports. The renderer advances it once a frame.
//
// Threads: audio thread only (the frame pass and the trigger dispatch run there).
#pragma once

#include <cstdint>

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicMidiPlaybackContext.h"
#include "MusicEngine/MusicTopContext.h"
#include "MusicEngine/MusicTypes.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/PlayParams.h"

namespace SN {

class CSnExternalSourceList;
class CSnMusicHierarchyNode;
struct SnMusicStinger;

class CSnMusicPlayRoot final : public CSnMusicTopContext, public ISnGameSyncSubscriber {
 public:
  static constexpr float kMinSpeed = 0.25f;
  static constexpr float kMaxSpeed = 4.0f;
  static constexpr uint32_t kSyncCallbacks = 0x7F00;

  CSnMusicPlayRoot(CSnMatrixAwareContext* top, const CSnPlayParams& params, CSnRegisteredObj* gameObject);
  ~CSnMusicPlayRoot() override;
  CSnMusicPlayRoot(const CSnMusicPlayRoot&) = delete;
  CSnMusicPlayRoot& operator=(const CSnMusicPlayRoot&) = delete;

  // ---- the renderer's view ----
  bool IsPlayingUnpaused() const override;
  bool StateSyncDelay(uint32_t groupId, int64_t& delay) override;
  bool ScheduleStateSync(SnMusicPendingState* item, int64_t delay) override;
  SNRESULT GetSegmentInfo(SnSegmentInfo& info) override { return m_top->GetSegmentInfo(info); }
  void AdvanceFrame(uint32_t samples) override;
  CSnMatrixAwareContext* TopContext() const override { return m_top; }
  CSnRegisteredObj* PlayGameObject() const override { return m_gameObject; }

  // ---- triggers ----
  void TriggerReceived(uint32_t triggerId) override { ScheduleStinger(triggerId, false); }
  void StateChanged(uint32_t, const SnRTPCKey&, const void*) override {}
  // The trigger's stinger at its sync point in the current segment, or with `tryNextSegment` in
  // the one after it; nothing within the don't-repeat time of the trigger's last stinger.
  void ScheduleStinger(uint32_t triggerId, bool tryNextSegment) {
    ScheduleStinger(triggerId, tryNextSegment, nullptr, nullptr);
  }
  void ClearStingers();

  // ---- what the contexts call ----
  // Stingers and sync notifications of the window [time, time + length) of the top context.
  void ProcessFrameWindow(int64_t time, int64_t length);
  // A held state change at the top context's `time`, on the item `itemsToSkip` after the current.
  SNRESULT ScheduleAction(void* payload, uint32_t itemsToSkip, int64_t time);
  // The actions of an item removed before they ran. When they come from the chains of `ended`, a
  // context that stops as a whole, its stingers are tried again in what plays after it.
  void RehomeActions(SnMusicScheduledAction* actions, const CSnMatrixAwareContext* ended = nullptr);
  SNRESULT FillSegmentInfo(const CSnMusicChainItem* item, int64_t position, SnSegmentInfo& out) const;
  // The delay from now to where `groupId` may change; `stepped` when that is in the next item.
  int64_t GetStateSyncTime(uint32_t groupId, bool& stepped, int64_t& syncTime);
  // A frame's speed: property 54 and parameter 41 of the node and its ancestors, clamped; a value
  // that is not finite counts as 1.
  void UpdateSpeed(uint32_t frameSamples, CSnHierarchyNode* node);
  void RequestReset(uint8_t value) override {
    m_speedUpToDate = false;
    m_resetPending = value;
  }

  int64_t CurrentTime() const { return m_time; }
  float Speed() const { return m_speed; }
  CSnRegisteredObj* GameObject() const { return m_gameObject; }
  CSnMatrixAwareContext* Top() const { return m_top; }
  const CSnPlayParams& Params() const { return m_params; }
  // The MIDI clock the play's MIDI clips queue their messages to.
  CSnMusicMidiPlaybackContext& MidiContext() { return m_midi; }
  uint32_t StingerCount() const;

 private:
  struct Stinger {
    Stinger* next;
    CSnMatrixAwareContext* context;  // referenced, or null once released
    uint32_t triggerId;
    uint32_t segmentId;
    int64_t syncTime;
    uint32_t dontRepeat;
    uint32_t preRoll;
    uint32_t playingLength;
    // Worked out once from the times above: the end of the don't-repeat time, the first sample the
    // stinger's context plays (its pre-roll before the sync point) and where its play ends.
    int64_t repeatsUntil;
    int64_t playsFrom;
    int64_t stopsAt;
    bool mayRetry;
    bool blocksRepeats;  // false once another record stands in for it
  };
  enum StateSync { SyncFound = 0, SyncNotFound = 1, SyncImmediate = 2, SyncNoRules = 3 };
  // Follows parameter 41 of the played node and those above it for the play's game object: the
  // speed is worked out again when it moves.
  class SpeedLink final : public CSnTargetLink {
   public:
    SpeedLink(CSnMusicPlayRoot* root, const SnRTPCKey& key) : CSnTargetLink(key), m_root(root) {}
    void SetParamValue(uint32_t parameterId, float, float) override;
    uint64_t WantedMask() const override;

   private:
    CSnMusicPlayRoot* m_root;
  };

  CSnHierarchyNode* CurrentNode();
  // Steps past the chains of a context that ends, at most.
  static constexpr uint32_t kMaxRetrySteps = 64;
  // `retrying` (a record whose segment was cut before its stinger ran) does not count as a repeat;
  // the next segment is looked for past what is left of `ended`. Whether a stinger was scheduled.
  bool ScheduleStinger(uint32_t triggerId, bool tryNextSegment, const Stinger* retrying,
                       const CSnMatrixAwareContext* ended);
  // Whether the iterator stands in the chains of `context`.
  static bool Holds(const CSnMusicChainIterator& iterator, const CSnMatrixAwareContext* context);
  // A stinger of the trigger played within its don't-repeat time (the record `retrying` left aside).
  bool Repeats(uint32_t triggerId, const Stinger* retrying) const;
  CSnMatrixAwareContext* CreateStingerContext(const SnMusicStinger& stinger, int64_t& preRoll);
  SNRESULT ScheduleStingerRecord(CSnMusicChainIterator& iterator, CSnMatrixAwareContext* context,
                                 const SnMusicStinger& stinger, int64_t syncTime, int64_t preRoll, bool mayRetry);
  void ProcessStingers(int64_t time, int64_t length);
  void NotifySyncs(int64_t time, int64_t length);
  StateSync FindStateSync(CSnMusicChainIterator& iterator, uint32_t groupId, int64_t localTime, int64_t& syncTime);

  int64_t m_time = 0;
  CSnMatrixAwareContext* m_top;
  // The play's identity: its words, external-source list (referenced) and playing id.
  CSnPlayParams m_params;
  CSnRegisteredObj* m_gameObject;
  Stinger* m_stingers = nullptr;
  float m_speed = 1.0f;
  bool m_speedUpToDate = false;
  uint8_t m_resetPending = 0;
  bool m_subscribed = false;
  SpeedLink m_speedLink;
  CSnMusicMidiPlaybackContext m_midi;
};

// The meter's beat, bar and grid in seconds at the output rate.
void SetMeterDurations(const SnMusicMeter& meter, SnSegmentInfo& info);

}  // namespace SN
