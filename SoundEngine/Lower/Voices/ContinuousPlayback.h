// Continuous playback: the playback instance of one child of a continuous performance (random and
// sequence containers playing their children one after another), which works out the child that comes
// next, when and with which transition, and hands the performance on through a continue-playback
// action; the state such a performance carries from child to child; and the creator object a
// container puts in its play parameters. Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"

namespace SN {

class CSnContinuousPlaylist;
struct CSnContinuousPlaylistItem;
class CSnDynamicSequence;
class CSnHierarchyNode;

// How one child leads into the next.
enum SnContinuousTransitionMode : int8_t {
  SnContinuous_None = 0,
  SnContinuous_Crossfade = 1,
  SnContinuous_CrossfadePower = 2,
  SnContinuous_Delay = 3,
  SnContinuous_SampleAccurate = 4,
  SnContinuous_TriggerRate = 5,
};

// The position of each sequence level of a performance: level d (1 to 32) at positions[d - 1].
// Deeper nestings are counted in `depth` but their positions are not kept.
struct SnSequencePosition {
  static constexpr uint32_t kMaxLevels = 32;
  uint32_t depth = 0;
  uint16_t positions[kMaxLevels] = {};
  uint32_t sequenceMask = 0;  // bit d - 1: level d is a sequence

  bool IsSequenceLevel(uint32_t level) const {
    return level >= 1 && level <= kMaxLevels && (sequenceMask >> (level - 1)) & 1;
  }
  // Only levels 1 to 32 are stored.
  void Store(uint32_t level, uint16_t position) {
    if (level >= 1 && level <= kMaxLevels) positions[level - 1] = position;
  }
  // Down to the deepest sequence level at or below `depth`, or 0.
  void LowerToSequenceLevel() {
    while (depth > 0 && !IsSequenceLevel(depth)) --depth;
  }
};
static_assert(sizeof(SnSequencePosition) == 4 + 16 * 4 + 4, "depth, 16 words of positions, mask");

// What a random or sequence container answers for the instances of its continuous performance.
class ISnContinuousContainer {
 public:
  // The level's next child for the game object (one reference) and its index among the children,
  // from the item's continuation state and loop count; null when the level has played out.
  virtual CSnHierarchyNode* NextContinuousChild(CSnRegisteredObj* gameObject, CSnContinuousPlaylistItem& item,
                                                uint16_t& position) = 0;
  virtual SnContinuousTransitionMode ContinuousTransitionMode() const = 0;
  // The duration of the transition into the next child, in ms.
  virtual float ContinuousTransitionDuration(CSnRegisteredObj* gameObject) = 0;

 protected:
  ~ISnContinuousContainer() = default;
};

// A switch or layer container that keeps a nested play-list for one level of a performance.
class ISnPlaylistUseOwner {
 public:
  // Drops one use of the level keyed `key` in `playlist`; on the last use the nested play-list to go
  // on with (one reference), else null.
  virtual CSnContinuousPlaylist* TakePlaylistUse(CSnContinuousPlaylist* playlist, uint32_t key) = 0;
  // The nested play-list the level keyed `key` in `playlist` goes on with, without taking it; null
  // when it keeps none.
  virtual const CSnContinuousPlaylist* NestedPlaylist(const CSnContinuousPlaylist* playlist, uint32_t key) const = 0;
  // The level keyed `key` goes before its branch played out (its play-list let go, a stop): the use
  // it held goes with it, so the other branches still find the last use.
  virtual void GiveBackPlaylistUse(uint32_t key) { (void)key; }

 protected:
  ~ISnPlaylistUseOwner() = default;
};

// The child a performance goes on with, walked from the innermost level of its play-list.
struct SnNextContinuousChild {
  CSnHierarchyNode* node = nullptr;  // one reference; null when nothing follows
  CSnHierarchyNode* level = nullptr;  // the container level it is a child of
  ISnContinuousContainer* container = nullptr;
  // False when a nested level is left for later (the look ahead of the near-end) or when this branch
  // of a switch or layer level has ended while others go on: nothing follows yet.
  bool settled = true;
};
// Levels that have played out are dropped (the sequence depth lowered with them); a switch or layer
// level gives its use back and the walk goes on in the play-list it hands back. `playlist` (one
// reference, given up when nothing follows) ends as the play-list of the child found; `checkOnly`
// leaves nested levels to the termination unless their innermost level runs at the trigger rate.
SnNextContinuousChild TakeNextContinuousChild(CSnContinuousPlaylist*& playlist, SnSequencePosition& position,
                                              CSnRegisteredObj* gameObject, bool checkOnly);
// Unwinds `playlist` from its innermost level while the levels lie at or under `node` (null: all): a
// switch or layer level gives its use back, a plain one is dropped with its sequence depth.
void DropContinuousLevelsUnder(CSnContinuousPlaylist& playlist, SnSequencePosition& position,
                               const CSnHierarchyNode* node);
// True when `node` is `ancestor` or lies under it (parents, then the bus it routes to); null: all.
bool IsUnderContinuousLevel(const CSnHierarchyNode* node, const CSnHierarchyNode* ancestor);

// The state a performance hands from one child to the next. Borrowed pointers: whoever holds the
// record holds the references.
struct SnContinuousParams {
  CSnContinuousPlaylist* playlist = nullptr;
  CSnTransition* playStop = nullptr;
  CSnTransition* pause = nullptr;
  uint32_t pauseCount = 0;
  SnSequencePosition position;
  CSnHierarchyNode* container = nullptr;  // the container whose child is played
  // The path the performance moves along and the node whose settings it plays: the next item goes on
  // along it when its settings are the same.
  CSnPositionPath* path = nullptr;
  uint32_t pathId = 0;
  uint32_t origin = 0;                    // 0: a new performance takes the next origin
  bool firstPlay = true;
  bool waitForItem = false;               // a dynamic sequence's first item that waits to be handed on
  // A dynamic sequence's item: the sequence and the ids its callbacks report.
  CSnDynamicSequence* sequence = nullptr;
  uint32_t itemNodeId = 0;
  void* itemInfo = nullptr;
};

class CSnContinuousPlaybackInstance : public CSnPlaybackInstance {
 public:
  CSnContinuousPlaybackInstance(const Args& args, const SnContinuousParams& continuous);
  ~CSnContinuousPlaybackInstance() override;

  SNRESULT Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB) override;
  void Term(uint32_t flags) override;
  void StopNow(uint8_t reason, bool flag) override;
  using CSnPlaybackInstance::StopNow;
  void UpdatePlayProgress(uint32_t timeLeftMs) override;
  // The whole performance stops looping: this child plays out and nothing follows it.
  void StopLooping() override;
  // Only the levels at or under `node` stop (null: all); the levels above it go on as they would
  // have, with this child's end.
  void StopLoopingUnder(const CSnHierarchyNode* node) override;
  void SeekTime(uint32_t ms, bool snapToMarker) override;
  void SeekPercent(float fraction, bool snapToMarker) override;
  void SetContinuousFlag(bool value) override { m_continuousFlag = value; }
  void PrepareNextNow() override;
  // A child handed on sample-accurately joins the voice of the child before it, still playing.
  ISnVoicePipeline* PipelineForSecondSource() const override;
  // Works out the next child once; `checkOnly` is the near-end's look, which leaves nested levels to
  // the termination.
  virtual void PrepareNext(bool checkOnly);

  CSnContinuousPlaylist* Playlist() const { return m_playlist; }
  const SnSequencePosition& Position() const { return m_position; }
  uint32_t NextNodeId() const { return m_nextNodeId; }
  SnContinuousTransitionMode Mode() const { return m_mode; }
  float TransitionDuration() const { return m_duration; }
  uint32_t Origin() const { return m_origin; }
  bool ContinuousFlag() const { return m_continuousFlag; }

 protected:
  // How the next child is scheduled.
  struct HandOn {
    int32_t delaySamples = 0;
    bool handPlayStop = true;
    bool handPause = true;
    bool crossfade = false;
    int32_t crossfadeMs = 0;
    bool withOrigin = false;
    bool firstPlay = false;
    bool pausePending = false;  // the pending item waits paused
  };
  // Schedules the next child and lets the play-list go.
  void HandOnToNext(const HandOn& plan);
  void ReleasePlaylist();
  // After the near-end, a next play made means the termination has nothing left to hand on.
  void MarkNextPrepared() {
    if (m_nearEnd) m_nextPrepared = true;
  }

 private:
  bool SeekAllowed() const;

  CSnContinuousPlaylist* m_playlist = nullptr;
  SnSequencePosition m_position;
  CSnHierarchyNode* m_container = nullptr;
  float m_duration = 0.0f;
  uint32_t m_nextNodeId = 0;
  SnContinuousTransitionMode m_mode = SnContinuous_None;
  uint32_t m_origin = 0;
  CSnTransition* m_carriedPlayStop = nullptr;  // joined at Init
  CSnTransition* m_carriedPause = nullptr;
  // How the performance was asked to play, handed on with it.
  SnMidiEvent m_midiEvent;
  uint32_t m_playMode = 0;
  bool m_firstPlay = false;
  bool m_joinsOrigin = false;  // made by a hand-on that named its predecessor's origin
  bool m_continuousFlag = false;
  bool m_nextComputed = false;
  bool m_nextPrepared = false;
};

// A dynamic sequence's item instance (DynamicSequencePlayback.cpp); null without memory.
CSnPlaybackInstance* CreateDynamicSequenceInstance(const CSnPlaybackInstance::Args& args,
                                                   const SnContinuousParams& params);

// What a container puts in its play parameters (`instanceCreator`) for a continuous play: each play
// of a sound under it makes a continuous instance (a dynamic sequence's item instance when the
// parameters name a sequence).
class CSnContinuousInstanceCreator final : public ISnPlaybackInstanceCreator {
 public:
  explicit CSnContinuousInstanceCreator(const SnContinuousParams& params) : m_params(params) {}
  CSnPlaybackInstance* CreatePlaybackInstance(CSnPropertyNode* node, const CSnSourceDesc* source,
                                              const CSnPlayParams& params, const SnPriorityRecord& priority,
                                              bool ownsSource) override;
  const SnContinuousParams& Params() const { return m_params; }

 private:
  SnContinuousParams m_params;
};

}  // namespace SN
