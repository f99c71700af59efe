// Delayed plays ride on continue-playback actions queued with the audio manager.
#include "SoundEngine/Actions/DelayedPlay.h"

#include "SoundEngine/Actions/ContinuePlaybackAction.h"
#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {

class CSnDelayedPlayCarrier final : public ISnDelayedPlayScheduler {
 public:
  SNRESULT ScheduleDelayedPlay(CSnHierarchyNode* node, const CSnPlayParams& params, int32_t delaySamples) override {
    if (!g_pAudioMgr || !node) return SN_Failure;
    CSnContinuePlaybackAction* action = CSnContinuePlaybackAction::Create(
        SnAction_ContinuePlayback, 0, static_cast<CSnContinuousPlaylist*>(params.continuousPlaylist));
    if (!action) {
      SOUND_LOG(Error, "Node %u: no memory for its delayed play", node->ID());
      return SN_InsufficientMemory;
    }
    action->SetTargetNode(node);
    action->SetFade(params.transition);
    action->SetMidiEvent(params.midiEvent, params.GetMidiTargetID());
    if (!action->SetMidiNote(params.midiNote))
      SOUND_LOG(Error, "Node %u: no memory to tie its delayed play to its MIDI note; the note's end will not stop it",
                node->ID());
    action->SetPlayMode(params.playMode);
    action->SetFrameOffset(params.frameOffset);
    action->SetFirstPlay(params.flags & CSnPlayParams::kFlagFirstPlay);
    action->SetDelay(delaySamples > 0 ? delaySamples : 0);
    CSnPendingActionItem* record = g_pAudioMgr->NewRecord(action, params.playingId);
    if (!record) {
      action->Release();
      SOUND_LOG(Error, "Node %u: no memory for its delayed play", node->ID());
      return SN_InsufficientMemory;
    }
    record->HoldGameObject(params.gameObject);
    g_pAudioMgr->ScheduleAction(record);  // takes its own reference on the action
    action->Release();
    return SN_Success;
  }
};

}  // namespace

ISnDelayedPlayScheduler& EngineDelayedPlayScheduler() {
  static CSnDelayedPlayCarrier carrier;
  return carrier;
}

}  // namespace SN
