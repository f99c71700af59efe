// The dynamic sequence's item instances: a continuous instance whose next item comes from the
// sequence as the current one ends, reporting each item's end through the playing id's callbacks;
// and the playback the sequences reach through their slot.
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"

#include "SoundEngine/Actions/ContinuePlaybackAction.h"
#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

// Plays one item's node as the first child of a new play-list, now or after its delay, carrying the
// fades and pause count in `carried`.
SNRESULT PlaySequenceItem(const SnSequenceItemPlay& play, SnContinuousParams carried) {
  auto* node = dynamic_cast<CSnPropertyNode*>(play.node);
  if (!node || !play.sequence) return SN_Failure;
  CSnContinuousPlaylist* playlist = CSnContinuousPlaylist::Create();
  if (!playlist) {
    SOUND_LOG(Error, "Dynamic sequence %u: no memory to play node %u", play.playingId, node->ID());
    return SN_InsufficientMemory;
  }
  carried.sequence = play.sequence;
  carried.itemNodeId = node->ID();
  carried.itemInfo = play.customInfo;
  carried.waitForItem = play.continuityId == 0;
  TransParamsBase fade;
  fade.durationMs = play.fadeMs;
  fade.shape = play.curve <= SnCurve_Exp3 ? SnCurveInterpolation(play.curve) : SnCurve_Linear;
  SNRESULT result = SN_Failure;
  // A sample-accurate item after another is made at once, to go on in its predecessor's voice: its
  // wait counts from the predecessor's last sample there, as its initial offset, not from now.
  const bool follows = carried.origin != 0 && play.continuityId != 0;
  if (play.delaySamples > 0 && !follows) {
    CSnContinuePlaybackAction* action =
        g_pAudioMgr ? CSnContinuePlaybackAction::Create(SnAction_ContinuePlayback, 0, playlist) : nullptr;
    CSnPendingActionItem* record = action ? g_pAudioMgr->NewRecord(action, play.playingId) : nullptr;
    if (record) {
      action->SetTargetNode(node);
      action->SetContinuous(carried);
      action->SetFade(fade);
      action->SetDelay(int32_t(play.delaySamples > INT32_MAX ? INT32_MAX : play.delaySamples));
      if (carried.playStop) action->SetPlayStopTransition(carried.playStop);
      if (carried.pause) action->SetPauseTransition(carried.pause);
      record->HoldGameObject(play.gameObject);
      g_pAudioMgr->ScheduleAction(record);
      result = SN_Success;
    } else {
      SOUND_LOG(Error, "Dynamic sequence %u: no memory to play node %u", play.playingId, node->ID());
      result = SN_InsufficientMemory;
    }
    if (action) action->Release();
  } else {
    carried.playlist = playlist;
    CSnContinuousInstanceCreator creator(carried);
    CSnPlayParams params;
    params.gameObject = play.gameObject;
    params.playingId = play.playingId;
    params.transition = fade;
    params.continuousPlaylist = playlist;
    params.instanceCreator = &creator;
    params.frameOffset = int32_t(play.delaySamples > INT32_MAX ? INT32_MAX : play.delaySamples);
    result = node->Play(params);
  }
  playlist->Release();
  return result;
}

void NotifyItemEnded(CSnDynamicSequence* sequence, uint32_t nodeId, void* info) {
  if (g_pPlayingIDCallbackMgr && sequence)
    g_pPlayingIDCallbackMgr->NotifyDynamicSequenceItem(sequence->ID(), nodeId, info);
}

}  // namespace

class CSnDynamicSequencePlaybackInstance final : public CSnContinuousPlaybackInstance {
 public:
  CSnDynamicSequencePlaybackInstance(const Args& args, const SnContinuousParams& params)
      : CSnContinuousPlaybackInstance(args, params),
        m_waitForItem(params.waitForItem),
        m_sequence(params.sequence),
        m_itemNodeId(params.itemNodeId),
        m_itemInfo(params.itemInfo) {
    m_isMotion = false;
    if (m_sequence) m_sequence->AddRef();
  }
  ~CSnDynamicSequencePlaybackInstance() override {
    if (m_sequence) m_sequence->Release();
  }

  void PrepareNext(bool checkOnly) override {
    CSnContinuousPlaybackInstance::PrepareNext(checkOnly);
    if (m_stoppedNow) return;
    if (NextNodeId()) {
      m_firstItemPending = false;
      return;
    }
    if (!m_firstItemPending || (checkOnly && m_waitForItem) || !m_sequence) return;
    m_firstItemPending = false;
    for (;;) {
      uint32_t delayMs = 0;
      void* info = nullptr;
      const uint32_t nodeId = m_sequence->GetNextToPlay(delayMs, info);
      if (!nodeId) return;
      if (PlayNextDynamicItem(nodeId, delayMs, info) == SN_Success) return;
      NotifyItemEnded(m_sequence, nodeId, info);
    }
  }

  void Term(uint32_t flags) override {
    // A play that failed is reported by the sequence that tried it, and the sequence goes on itself.
    if (flags & 1)
      m_firstItemPending = false;
    else
      NotifyItemEnded(m_sequence, m_itemNodeId, m_itemInfo);
    CSnContinuousPlaybackInstance::Term(flags);
  }

  // The sequence was broken: this item plays out and none follows it.
  void Break() { m_firstItemPending = false; }
  const CSnDynamicSequence* Sequence() const { return m_sequence; }

 private:
  SNRESULT PlayNextDynamicItem(uint32_t nodeId, uint32_t delayMs, void* info) {
    CSnIndexedObject* node = g_pObjectIndex ? g_pObjectIndex->FindNodeAndAddRef(nodeId, false) : nullptr;
    if (!node) {
      SOUND_LOG(Warning, "Dynamic sequence %u: node %u is not loaded", m_sequence->ID(), nodeId);
      return SN_Failure;
    }
    const uint64_t delay = uint64_t(LowerEngine::SampleRate() / 1000) * delayMs;
    SnSequenceItemPlay play{m_sequence, node, m_pGameObject, m_playingId, 0, SnCurve_Linear,
                            uint32_t(delay > INT32_MAX ? INT32_MAX : delay), m_waitForItem ? 0u : 1u, info};
    SnContinuousParams carried;
    carried.playStop = m_playStop;
    carried.pause = m_pauseResume;
    carried.pauseCount = m_pauseCount;
    carried.path = Path();
    carried.pathId = PathId();
    carried.origin = Origin();
    const SNRESULT result = PlaySequenceItem(play, carried);
    node->Release();
    if (result == SN_Success) {
      MarkNextPrepared();
      LowerEngine::IncrementVoiceGroupKey();
    }
    return result;
  }

  bool m_firstItemPending = true;
  bool m_waitForItem;
  CSnDynamicSequence* m_sequence;  // one reference
  uint32_t m_itemNodeId;
  void* m_itemInfo;
};

CSnPlaybackInstance* CreateDynamicSequenceInstance(const CSnPlaybackInstance::Args& args,
                                                   const SnContinuousParams& params) {
  return PoolNew<CSnDynamicSequencePlaybackInstance>(g_DefaultPoolId, args, params);
}

namespace {

class CSnSequenceItemPlayback final : public ISnDynamicSequencePlayback {
 public:
  SNRESULT PlayItem(const SnSequenceItemPlay& play) override { return PlaySequenceItem(play, SnContinuousParams{}); }

  void ActOnItem(uint32_t nodeId, SnSequenceItemAction action, CSnRegisteredObj* gameObject, uint32_t playingId,
                 int32_t fadeMs, uint32_t curve) override {
    TransParamsBase fade;
    fade.durationMs = fadeMs;
    fade.shape = curve <= SnCurve_Exp3 ? SnCurveInterpolation(curve) : SnCurve_Linear;
    // An action may end an instance, which stays in the list until it is retired: the walk holds.
    for (CSnPlaybackInstance* i = VoiceManager::FirstActiveInstance(); i; i = i->m_pNextActive) {
      auto* item = dynamic_cast<CSnDynamicSequencePlaybackInstance*>(i);
      if (!item || i->PlayingId() != playingId || i->m_pGameObject != gameObject || !i->Node() ||
          i->Node()->ID() != nodeId || i->IsStoppedNow())
        continue;
      switch (action) {
        case SnSequenceItem_Pause: i->Pause(fade); break;
        case SnSequenceItem_Resume: i->Resume(fade, false); break;
        case SnSequenceItem_Stop: i->Stop(fade, true); break;
        case SnSequenceItem_Break: item->Break(); break;
      }
    }
  }
};

CSnSequenceItemPlayback& ThePlayback() {
  static CSnSequenceItemPlayback playback;
  return playback;
}

}  // namespace

void InstallDynamicSequencePlayback() {
  if (!DynamicSequencePlayback()) DynamicSequencePlayback() = &ThePlayback();
}

void RemoveDynamicSequencePlayback() {
  if (DynamicSequencePlayback() == &ThePlayback()) DynamicSequencePlayback() = nullptr;
}

}  // namespace SN
