// Music that plays segment after segment: a context that can be a play's root, the chain context
// holding time-ordered items (one segment context each, with its play, stop and the play root's
// actions), and the iterator that walks the chains of a context tree.
//
// Threads: audio thread only, inside the music frame.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "MusicEngine/MusicContext.h"
#include "MusicEngine/MusicSlots.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"

namespace SN {

class CSnHierarchyNode;
class CSnMusicPlayRoot;
class CSnMusicSegmentContext;
class CSnMusicSegmentNode;
class CSnMusicChainContext;
class CSnMusicChainIterator;
class CSnRegisteredObj;
struct CSnPlayParams;

// A frame window's cut: a stinger's chain stops what begins at or after `time` when `cut` is set.
struct SnMusicCutWindow {
  int64_t time = 0;
  bool cut = false;
};

// What the play root attaches to a chain item: a stinger's time or a held state change.
struct SnMusicScheduledAction {
  enum Kind : uint32_t { Stinger = 0, HeldState = 1 };
  int64_t time;  // item-local
  uint32_t kind;
  void* payload;
  SnMusicScheduledAction* next;
};

// Where a context is asked to begin other than at its entry: a position in its first segment (samples
// from the entry cue, or a fraction of the active part), and the playlist item a rule jumps to.
struct SnMusicSeek {
  int64_t value = 0;  // samples
  float fraction = 0.0f;
  bool percent = false;
  bool snapToMarker = false;  // the position moves to the nearest marker of the segment it falls in
  uint32_t playlistItemId = 0;  // 0: none
  bool IsPosition() const { return value != 0 || percent; }
};

// A context that may be the root of a play: it holds the play root, its own time offset, and its
// link in the renderer's list through the play root.
class CSnMatrixAwareContext : public CSnMusicContext {
 public:
  // Joins the parent, or as a root registers the play with the renderer (which makes the play
  // root). SN_Failure when the play is refused.
  SNRESULT Init(CSnRegisteredObj* gameObject, const CSnPlayParams& params);
  void OnStopComplete() override;

  // One frame of `length` samples at the play's `time`.
  virtual void ProcessFrame(int64_t time, int64_t length, SnMusicCutWindow& out) = 0;
  virtual void StepIterator(CSnMusicChainIterator& iterator, bool noExtend) = 0;
  // The chains of `child` have no item left: the iterator goes on with what plays after it here,
  // or has no item (the default: a context plays one child at a time).
  virtual void StepPastChild(CSnMusicChainIterator&, CSnMatrixAwareContext*) {}
  // The node the context plays.
  virtual CSnHierarchyNode* GetNode() const = 0;
  // The earliest play and the latest begin reference of its items; zeros without a segment.
  virtual void GetPlayWindow(int64_t& begin, int64_t& end) const = 0;
  // Whether a stinger may cut it, and the cut itself at a time of the context (its local time).
  virtual bool CanBeCut() const = 0;
  virtual void CutAt(int64_t time) = 0;
  // Seeks refused (SN_Failure) by contexts that cannot seek.
  virtual SNRESULT SeekPercent(float fraction, bool snapToMarker);
  virtual SNRESULT SeekTime(int32_t ms, bool snapToMarker);
  // Where the play stands in its current segment; SN_Failure without a current chain item.
  SNRESULT GetSegmentInfo(SnSegmentInfo& out);

  CSnMusicPlayRoot* PlayRoot() const { return m_playRoot; }
  void SetPlayRoot(CSnMusicPlayRoot* root) { m_playRoot = root; }
  int64_t TimeOffset() const { return m_timeOffset; }
  void SetTimeOffset(int64_t offset) { m_timeOffset = offset; }
  // Its own offset plus its ancestors'.
  int64_t GetGlobalOffset() const;
  uint32_t GetPlayWindowLength() const;
  // A root holds itself until its stop completes.
  void HoldUntilStopped();
  // A new root (the creator's reference given here) plays from the entry `rule` gives: its time 0 is
  // the first sample it plays. SN_Failure (logged, the context gone) when it cannot.
  SNRESULT PlayAsRoot(const SnMusicRuleDestination* rule, const CSnPlayParams& params);
  // As the child of another context: ready to play from the entry `rule` gives (its own first rule
  // when null); the pre-roll it needs before its entry. SN_Failure when it cannot play.
  virtual SNRESULT PrepareAsChild(const SnMusicRuleDestination* rule, int64_t& preRoll) = 0;
  // As `PrepareAsChild`, from the place `seek` asks for (what is left of it stays in the record).
  // SN_Failure when the place cannot be played; contexts that cannot seek refuse any position.
  virtual SNRESULT PrepareAtSeek(const SnMusicRuleDestination* rule, SnMusicSeek& seek, int64_t& preRoll);

 protected:
  explicit CSnMatrixAwareContext(CSnMusicContext* parent) : CSnMusicContext(parent) {}
  // The end of a frame's processing: a root runs its play root's stingers and sync notifications
  // for the window, then the frame's reference on the context goes.
  void EndFrame(int64_t time, int64_t length);
  void LeaveWithoutParent() override;

 private:
  CSnMusicPlayRoot* m_playRoot = nullptr;
  int64_t m_timeOffset = 0;
  bool m_activityTaken = false;
  bool m_heldUntilStopped = false;
};

// One segment of a chain with the times it begins, plays and stops.
class CSnMusicChainItem {
 public:
  static constexpr uint16_t kPlayPending = 0x1;
  static constexpr uint16_t kStopPending = 0x2;
  static constexpr uint16_t kStopped = 0x4;

  CSnMusicChainItem(int64_t beginTime, CSnMusicSegmentContext* segment);
  ~CSnMusicChainItem();
  CSnMusicChainItem(const CSnMusicChainItem&) = delete;
  CSnMusicChainItem& operator=(const CSnMusicChainItem&) = delete;

  // The segment context begins its look-ahead before `playAt` (item-local); the pre-roll the chain
  // needs before `position`.
  int64_t SetPlayAt(int64_t playAt, int64_t position);
  void SchedulePlay(const SnMusicFade& fade);
  void ScheduleStop(int32_t fadeTimeMs, uint32_t curve, int64_t stopAt);
  void SetStopAtEnd(bool includePostExit);
  // Held state changes are applied, every action freed, the segment context let go.
  void ClearItem();
  void ProcessFrame(int64_t chainTime, int64_t length, float speed, bool cut);
  bool IsFinished() const;
  void FlushStateActions();
  // Moves into `list` the actions after `time`, and the stingers exactly at it.
  void TakeActionsAfter(int64_t time, SnMusicScheduledAction*& list);
  void AddAction(SnMusicScheduledAction* action);
  // Actions on the items of every chain: with none, a cut has nothing to move.
  static uint32_t ActionCount();
  // The segment context's stop completed: it leaves the item.
  void SegmentEnded();

  CSnMusicChainItem* next = nullptr;
  int64_t begin;
  SnMusicScheduledAction* actions = nullptr;
  CSnMusicSegmentContext* segment;  // one reference held; null for an empty item
  uint32_t segmentId = 0;
  uint32_t playlistItemId = 0;  // the playlist item a random/sequence container scheduled it for
  int32_t playAt = 0;
  SnMusicFade fadeIn{0, 4, 0};
  int32_t stopAt = 0;
  SnMusicFade fadeOut{0, 4, 0};
  uint16_t flags = 0;

 private:
  void CutSegment(int64_t position);
};

// A context playing a chain of items.
class CSnMusicChainContext : public CSnMatrixAwareContext {
 public:
  ~CSnMusicChainContext() override;
  void OnStopComplete() override;
  void ProcessFrame(int64_t time, int64_t length, SnMusicCutWindow& out) override;
  void StepIterator(CSnMusicChainIterator& iterator, bool noExtend) override;
  void GetPlayWindow(int64_t& begin, int64_t& end) const override;
  bool CanBeCut() const override;
  void CutAt(int64_t time) override;
  // Whether its segments give no sync points.
  virtual bool HasNoSyncPoints() const = 0;
  // A chain that can grow schedules its next item; false here.
  virtual bool ExtendChain() { return false; }
  // Chains that grow when a walk of what plays reaches their last item, alive anywhere: with none, a
  // walk changes nothing, and one whose answer is known may be left out.
  static uint32_t GrowingChainCount();
  virtual void OnChainTime(int64_t) {}
  virtual void OnItemBegins(CSnMusicChainItem*) {}
  virtual void OnItemRemoved(CSnMusicChainItem*) {}

  // Null when out of memory.
  CSnMusicChainItem* AppendItem(int64_t beginTime, CSnMusicSegmentContext* segment);
  void RemoveHead();
  void ClearItems();
  CSnMusicChainItem* Head() const { return m_head; }
  int64_t ChainOrigin() const { return m_origin; }
  void SetChainOrigin(int64_t origin) { m_origin = origin; }

 protected:
  explicit CSnMusicChainContext(CSnMusicContext* parent) : CSnMatrixAwareContext(parent) {}
  // A chain whose ExtendChain schedules items counts itself (+1, -1) while it lives.
  static void CountGrowingChain(int32_t delta);
  // The limit of `item` in the iterator: to the next item's begin, or unbounded.
  void SetIteratorLimit(CSnMusicChainIterator& iterator, CSnMusicChainItem* item, bool noExtend);

 private:
  CSnMusicChainItem* m_tail = nullptr;
  CSnMusicChainItem* m_head = nullptr;
  int64_t m_origin = 0;
  // A segment's chain holds two items (the segment and the empty one at its exit): room for them.
  SnMusicSlots<CSnMusicChainItem, 2> m_itemRoom;
};

// Walks the chain items of a context tree, from the one playing now.
class CSnMusicChainIterator {
 public:
  static constexpr uint32_t kMaxDepth = 32;
  enum SyncResult { Found = 1, NotFound = 2, BeyondItem = 3 };

  void Init(CSnMatrixAwareContext* context, bool nested);
  // Refused (false, logged once) past the deepest nesting: the iterator then has no item.
  bool PushContext(CSnMatrixAwareContext* context);
  CSnMatrixAwareContext* GetStackEntry(uint32_t level) const { return level < m_count ? m_stack[level] : nullptr; }
  void SetCurrent(CSnMusicChainItem* item, CSnMusicChainContext* chain);
  void SetLimit(int64_t limit, bool unbounded) {
    m_limit = limit;
    m_unbounded = unbounded;
  }
  // One step to the next item in time: past the last item of a nested chain, the context above it
  // goes on with what follows that chain.
  void Step();

  CSnMusicChainItem* Item() const { return m_item; }
  CSnMusicChainContext* Chain() const { return m_chain; }
  bool IsUnbounded() const { return m_unbounded; }
  bool IsNested() const { return m_nested; }
  int64_t Limit() const { return m_limit; }
  int64_t GetAccumulatedOffset(uint32_t fromLevel = 0) const;
  int64_t ItemLocalTime(int64_t chainTime) const;
  int64_t ChainTime(int64_t localTime) const;
  int64_t ItemBegin() const;
  // The maximum without an item.
  int64_t GetCurrentItemBegin() const;
  // The segment node of the current item, or null with the chain's node as the fallback.
  CSnMusicSegmentNode* GetCurrentSegmentNode(CSnHierarchyNode** fallback) const;
  bool IsAtExitCue(int64_t time) const;
  // From `fromTime` (the play's local time), the next sync point of the type; `cueFilter` gives the
  // cue found.
  SyncResult FindSyncPoint(int64_t fromTime, uint32_t syncType, uint32_t& cueFilter, bool allowWithoutSegment,
                           int64_t& syncTime) const;
  // The chain is cut at `time` (the play's local time): the actions of the current item after it,
  // and every action of the items after that one, move into `list`.
  void TakeActionsAfter(int64_t time, SnMusicScheduledAction*& list) const;

 private:
  // Entries below m_count only: left unset, an iterator costs no clearing of the deepest nesting.
  CSnMatrixAwareContext* m_stack[kMaxDepth];
  uint32_t m_count = 0;
  CSnMusicChainItem* m_item = nullptr;
  CSnMusicChainContext* m_chain = nullptr;
  int64_t m_limit = 0;
  bool m_unbounded = true;
  bool m_noSync = false;
  bool m_done = false;
  bool m_nested = false;
};

}  // namespace SN
