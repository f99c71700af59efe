// The random/sequence container: each play picks the next child of its play-list, drawn by weight
// with an avoid-repeat history or a shuffle, or stepped in sequence; selection state kept once for
// the container or once per game object. Audio thread; read on the bank thread under
// GlobalAudioLock().
#pragma once

#include <cstdint>

#include "SoundEngine/Hierarchy/ParentNode.h"
#include "SoundEngine/Hierarchy/Playlist.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"

namespace SN {

constexpr uint8_t kHircRandomSequenceType = 5;
constexpr SNRESULT SN_AlreadyInPlaylist = SNRESULT(35);

class CSnRandomSequenceContainer final : public CSnContainerNode, public ISnContinuousContainer {
 public:
  enum PlayMode : uint8_t { Mode_Random = 0, Mode_Sequence = 1 };
  enum RandomType : uint8_t { Random_Standard = 0, Random_Shuffle = 1 };
  // Second mode byte
  static constexpr uint8_t kPlayModeMask = 0x07;
  static constexpr uint8_t kWeightsInUse = 0x08;
  static constexpr uint8_t kResetEachPlay = 0x10;
  static constexpr uint8_t kPingPong = 0x20;
  static constexpr uint8_t kContinuous = 0x40;
  static constexpr uint8_t kGlobalScope = 0x80;

  explicit CSnRandomSequenceContainer(uint32_t id, uint8_t playMode = Mode_Random);
  ~CSnRandomSequenceContainer() override;

  uint32_t NodeCategory() const override { return Category_RandomSequence; }
  // The common node parameters, the loop, transition and mode fields, the children, the play-list.
  SNRESULT SetInitialValues(const uint8_t* data, uint32_t size);

  // ---- settings: a change discards every selection state and stops a container that has played ----
  SNRESULT SetPlayMode(uint8_t mode);
  void SetRandomType(uint8_t type);
  void SetAvoidRepeatCount(uint16_t count);
  void SetContinuous(bool on) { SetModeBit(kContinuous, on); }
  void SetPingPong(bool on) { SetModeBit(kPingPong, on); }
  void SetResetEachPlay(bool on) { SetModeBit(kResetEachPlay, on); }
  void SetGlobalScope(bool on) { SetModeBit(kGlobalScope, on); }
  void SetTransitionType(uint8_t type);
  void SetLoop(int16_t count, int16_t offsetMin, int16_t offsetMax);
  void SetTransition(float ms, float offsetMin, float offsetMax);
  // A weight other than the default puts weights in use; SN_AlreadyInPlaylist for a random list's
  // second entry of an id.
  SNRESULT AddPlaylistItem(uint32_t id, uint32_t weight);

  uint8_t PlayMode() const { return m_modes & kPlayModeMask; }
  uint8_t RandomTypeOf() const { return uint8_t((m_modeA >> 4) & 3); }
  uint8_t TransitionType() const { return m_modeA & 0x0F; }
  uint8_t Modes() const { return m_modes; }
  uint16_t AvoidRepeatCount() const { return m_avoidRepeat; }
  uint32_t PlaylistLength() const { return m_playlist ? m_playlist->Length() : 0; }
  const CSnPlaylist* Playlist() const { return m_playlist; }
  bool HasPlayed() const { return m_state & 1; }

  // Step mode: without a game object every state goes, else that object's.
  void ResetPlaylist(CSnRegisteredObj* gameObject);
  void DropGameObjectValues(CSnRegisteredObj* gameObject) override;
  // The state a step play of the game object walks (null: none made yet); for inspection.
  const CSnPlaylistState* StateOf(CSnRegisteredObj* gameObject) const;

  SNRESULT PlayNode(CSnPlayParams& params) override;
  // The next child of a step play and its index, with a reference; null when nothing can play.
  CSnHierarchyNode* GetNextToPlay(CSnRegisteredObj* gameObject, uint16_t& index);
  // The next child of a continuous play whose own state is `state` (made on its first step) and
  // whose turns `loop` counts; null when nothing more plays.
  CSnHierarchyNode* GetNextToPlayContinuous(CSnRegisteredObj* gameObject, CSnPlaylistState*& state,
                                            SnLoopRecord& loop, uint16_t& index);
  // ISnContinuousContainer: the level's state lives in the play-list item, made on its first step.
  CSnHierarchyNode* NextContinuousChild(CSnRegisteredObj* gameObject, CSnContinuousPlaylistItem& item,
                                        uint16_t& position) override;
  SnContinuousTransitionMode ContinuousTransitionMode() const override {
    return TransitionType() <= SnContinuous_TriggerRate ? SnContinuousTransitionMode(TransitionType()) : SnContinuous_None;
  }
  float ContinuousTransitionDuration(CSnRegisteredObj* gameObject) override { return GetTransitionDuration(gameObject); }
  // The loop record a continuous play of this container begins with.
  SnLoopRecord BeginLoop() const;
  // The loop count with its random offset; below 2 plays once.
  int32_t ComputeLoopCount() const;
  // Milliseconds, with the random offset and the property-7 game parameter in seconds; never negative.
  float GetTransitionDuration(CSnRegisteredObj* gameObject) const;

 private:
  SNRESULT ReadPayload(const uint8_t* data, uint32_t size);
  // A continuous play: this level joins the performance's play-list and its first child plays with
  // the continuous instance creator, which hands the performance on from child to child.
  SNRESULT PlayContinuous(CSnPlayParams& params);
  // The index of the next loaded item of a step play, and the child itself when it is listed here;
  // false when nothing can play.
  bool SelectNext(CSnRegisteredObj* gameObject, uint16_t& index, CSnHierarchyNode*& listed);
  // Whether the item's node is loaded; `listed` is the node when it is a child of this container.
  bool Playable(uint32_t id, CSnHierarchyNode*& listed) const;
  void SetModeBit(uint8_t bit, bool on);
  void SettingChanged();
  void DiscardStates();
  void DropState(CSnRegisteredObj* gameObject);
  SNRESULT MakePlaylist(uint8_t mode);
  CSnPlaylistState* NewState() const;
  CSnPlaylistState* GetState(CSnRegisteredObj* gameObject);
  CSnRandomPlaylistState::Options RandomOptions() const;
  CSnHierarchyNode* TakeChild(uint16_t index);

  struct ObjectState {
    CSnRegisteredObj* gameObject;
    CSnPlaylistState* state;
  };
  CSnPlaylist* m_playlist = nullptr;
  SnArray<ObjectState> m_objectStates;  // sorted by game object
  CSnPlaylistState* m_globalState = nullptr;
  float m_transitionMs = 0.0f;
  float m_transitionMin = 0.0f;
  float m_transitionMax = 0.0f;
  int16_t m_loopCount = 1;
  int16_t m_loopMin = 0;
  int16_t m_loopMax = 0;
  uint16_t m_avoidRepeat = 0;
  uint8_t m_modeA = 0;
  uint8_t m_modes = kResetEachPlay | kGlobalScope;
  uint8_t m_state = 0;
};

}  // namespace SN
