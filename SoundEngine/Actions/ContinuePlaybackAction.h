// The engine-made action (type 0x0503) that carries a play past its initial delay and hands a
// continuous performance on to its next item: what the play was, where it goes next, the fades it
// has joined and the references it holds until it runs.
#pragma once

#include <cstdint>

#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/Effects/VoiceInfoProvider.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"
#include "SoundEngine/PlayParams.h"

namespace SN {

class CSnContinuousPlaylist;
class CSnMidiNoteState;
class CSnPlaybackInstance;

class CSnContinuePlaybackAction final : public CSnActionPlay, public ISnTransitionTarget {
 public:
  static constexpr uint32_t kPlayParamWords = 18;

  // A new action in the action list with one reference, holding one on `playlist` (a new empty one
  // when null); null without memory.
  static CSnContinuePlaybackAction* Create(uint16_t actionType, uint32_t id, CSnContinuousPlaylist* playlist);
  CSnContinuePlaybackAction(uint32_t id, uint16_t actionType) : CSnActionPlay(id, actionType) {}
  ~CSnContinuePlaybackAction() override;

  void SetPlayParams(const uint32_t (&block)[kPlayParamWords]);
  // The node played next, referenced; null clears it.
  void SetTargetNode(CSnHierarchyNode* node);
  // Joins the transition (leaving the one it had): its failure, or SN_Success.
  SNRESULT SetPlayStopTransition(CSnTransition* transition);
  SNRESULT SetPauseTransition(CSnTransition* transition);
  // Leaves the pause transition when it fades out.
  void ClearPauseTransition();
  void SetOwnerRef(const void* owner) { m_owner = owner; }
  void SetOriginContext(uint32_t context) { m_originContext = context; }
  // The MIDI event of the play and the target that sent it. A play made at a note's end has no note
  // to tell its target: the action keeps it, so that what it plays hears its target's controllers.
  void SetMidiEvent(SnMidiEvent event, uint32_t targetId) {
    m_midiEvent = event;
    m_midiTargetId = targetId;
  }
  // The note that began the play: the action holds it and stands in its list until it goes, so that
  // the note's end (or pause) reaches it while it waits, and the voice it plays joins the note.
  // False when the note's list cannot take it (the action then holds no note).
  bool SetMidiNote(CSnMidiNoteState* note);
  void SetVoiceInfoOwner(CSnRefCountedObject* owner) { m_voiceInfo.SetOwner(owner); }
  // The item this one crossfades from, the fade's time and its curve (`SnCurve_Linear`, or
  // `SnCurve_Sine` for a power crossfade).
  void SetCrossfadeSource(CSnPlaybackInstance* instance, int32_t fadeMs, SnCurveInterpolation shape) {
    m_crossfadeSource = instance;
    m_crossfadeMs = fadeMs;
    m_crossfadeShape = shape;
  }
  void SetFade(const TransParamsBase& fade) { m_fade = fade; }
  void SetFirstPlay(bool first) { m_firstPlay = first; }
  void SetPaused(bool paused) { m_paused = paused; }
  void SetDelay(int32_t samples) { SetPropertyValue(SnActionProp_Delay, samples, 0, 0); }
  void SetPlayMode(uint32_t mode) { m_playMode = mode; }
  void SetFrameOffset(int32_t offset) { m_frameOffset = offset; }
  // The performance the play continues: its next child is made a continuous instance with this state
  // (the play-list and the fades are the action's own). The container and sequence are referenced,
  // the path held until the play is made.
  void SetContinuous(const SnContinuousParams& params);
  bool IsContinuous() const { return m_isContinuous; }
  // The levels of the chain at or under `node` stop continuing (a break of it): they go, and the level
  // left asks its container for the next item for `gameObject`, which the action then plays when it
  // comes due. True when nothing is left to continue; false, and nothing changes, when neither the
  // next item nor a level lies under the node.
  bool AdvancePastNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject);

  SNRESULT Execute(CSnPendingActionItem& record) override;
  SNRESULT ReadParameters(SnBankCursor&) override { return SN_Failure; }  // never read from a bank
  bool WantsPendingNotification() override { return true; }
  void NotifyPending(const CSnPendingActionItem& record) override;
  void NotifyPendingEnded(const CSnPendingActionItem& record) override;
  void ClearOwnerRef(const void* owner) override;
  void ClearTransitionRef(bool pauseTransition) override;
  void ClearPauseState() override { m_paused = false; }
  // ISnTransitionTarget: the ends of the fades it joined reach its pending record.
  void TransitionUpdate(uint32_t kind, float value, bool done) override;

  CSnContinuousPlaylist* Playlist() const { return m_playlist; }
  CSnHierarchyNode* TargetNode() const { return m_targetNode; }
  const void* OwnerRef() const { return m_owner; }
  bool Paused() const { return m_paused; }
  const CSnRefCountedObject* VoiceInfoOwner() const { return m_voiceInfo.Owner(); }
  // Continue-playback actions that have played since the engine started.
  static uint32_t ContinuousPlayCount();

 private:
  void ReleasePathHolder();

  CSnContinuousPlaylist* m_playlist = nullptr;
  uint32_t m_playParams[kPlayParamWords] = {};
  CSnTransition* m_playStopTransition = nullptr;
  CSnTransition* m_pauseTransition = nullptr;
  CSnHierarchyNode* m_targetNode = nullptr;
  CSnPlaybackInstance* m_crossfadeSource = nullptr;
  int32_t m_crossfadeMs = 0;
  SnCurveInterpolation m_crossfadeShape = SnCurve_Linear;
  TransParamsBase m_fade;
  const void* m_owner = nullptr;
  uint32_t m_originContext = 0;
  SnMidiEvent m_midiEvent;
  uint32_t m_midiTargetId = 0;
  CSnMidiNoteState* m_midiNote = nullptr;
  CSnVoiceInfoProvider m_voiceInfo;
  uint32_t m_playMode = 0;
  int32_t m_frameOffset = 0;
  const CSnPendingActionItem* m_pending = nullptr;
  SnContinuousParams m_continuous;
  bool m_isContinuous = false;
  bool m_firstPlay = true;
  bool m_paused = false;
};

}  // namespace SN
