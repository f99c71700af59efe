// MIDI notes played through the hierarchy and the voice manager.
#include "SoundEngine/Midi/EngineMidiPlayback.h"

#include "SoundEngine/Actions/EventAction.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Midi/MidiEventTarget.h"
#include "SoundEngine/Midi/MidiNoteEntries.h"
#include "SoundEngine/Midi/MidiNoteState.h"

namespace SN {
namespace {

// The instant fade a note's end stops its voices with.
TransParamsBase Instant() {
  TransParamsBase fade;
  fade.durationMs = 0;
  fade.shape = SnCurve_Linear;
  return fade;
}

// A target names an indexed object; only the playable nodes of the hierarchy play notes.
CSnPropertyNode* PlayableNode(CSnIndexedObject* object) { return dynamic_cast<CSnPropertyNode*>(object); }

void PlayFor(CSnMidiEventTarget& target, CSnIndexedObject* object, const SnMidiEvent& event, uint32_t frameOffset,
             CSnMidiNoteState* note) {
  CSnPropertyNode* node = PlayableNode(object);
  if (!node) {
    SOUND_LOG(Error, "MIDI target %u: its object plays no notes", target.ID());
    return;
  }
  CSnPlayParams params;
  params.gameObject = target.GameObject();
  params.playingId = target.PlayingId();
  params.midiEvent = event;
  params.midiTargetId = target.ID();
  params.frameOffset = int32_t(frameOffset & 0x7FFFFFFF);
  params.midiNote = note;
  const SNRESULT result = node->Play(params);
  if (result != SN_Success && result != SN_MidiFiltered)
    SOUND_LOG(Error, "MIDI target %u: node %u did not play note %u (result %d)", target.ID(), node->ID(),
              uint32_t(event.note), int(result));
}

}  // namespace

uint32_t CSnEngineMidiPlayback::NodeCategory(CSnIndexedObject* object) {
  const auto* node = dynamic_cast<CSnHierarchyNode*>(object);
  // Nothing that is not a node takes notes: as a bus, it takes control changes only.
  return node ? node->NodeCategory() : uint32_t(CSnHierarchyNode::Category_Bus);
}

void CSnEngineMidiPlayback::PlayNote(CSnMidiEventTarget& target, const SnMidiEvent& event, uint32_t frameOffset,
                                     CSnMidiNoteState& note) {
  PlayFor(target, target.Node(), event, frameOffset, &note);
}

void CSnEngineMidiPlayback::PlayNoteEntry(CSnMidiEventTarget& target, const SnMidiNoteEntry& entry,
                                          const SnMidiEvent& noteOff, uint32_t frameOffset) {
  SnMidiEvent event = noteOff;
  event.channel = entry.Channel();
  event.note = entry.Note();
  // The voices of a note-off play outlive the note: they join none.
  PlayFor(target, entry.node, event, frameOffset, nullptr);
}

void CSnEngineMidiPlayback::ReleaseVoice(CSnPlaybackInstance* voice, uint32_t) {
  if (!voice) return;
  SnInstanceActionRecord release;
  release.code = SnInstanceAction_ReleaseModulators;
  voice->ExecuteActionOnInstance(release);
}

void CSnEngineMidiPlayback::StopVoice(CSnPlaybackInstance* voice) {
  if (voice && !voice->IsStoppedNow()) voice->Stop(Instant(), false);
}

void CSnEngineMidiPlayback::StopVoiceAt(CSnPlaybackInstance* voice, uint32_t frameOffset) {
  if (!voice || voice->IsStoppedNow()) return;
  // A short initial delay runs within the look-ahead as a voice that starts later: a note that ends
  // before that start leaves nothing to hear, and the voice ends unheard.
  if (voice->InitialOffset() >= int32_t(frameOffset))
    voice->SetInitialOffset(-1);
  else
    voice->SetMidiStopOffset(frameOffset);
  StopVoice(voice);
}

void CSnEngineMidiPlayback::PauseVoice(CSnPlaybackInstance* voice) {
  if (voice) voice->Pause(Instant());
}

void CSnEngineMidiPlayback::ResumeVoice(CSnPlaybackInstance* voice) {
  if (voice) voice->Resume(Instant(), false);
}

void CSnEngineMidiPlayback::StopAction(void* action, CSnMidiEventTarget&, uint32_t) {
  if (g_pAudioMgr && action) g_pAudioMgr->RemovePendingActionsOfAction(static_cast<CSnEventAction*>(action));
}

void CSnEngineMidiPlayback::PauseAction(void* action, CSnMidiEventTarget&) {
  if (g_pAudioMgr && action) g_pAudioMgr->PausePendingActionsOfAction(static_cast<CSnEventAction*>(action), 0);
}

void CSnEngineMidiPlayback::ResumeAction(void* action, CSnMidiEventTarget&) {
  if (g_pAudioMgr && action) g_pAudioMgr->ResumePendingActionsOfAction(static_cast<CSnEventAction*>(action), 0);
}

void CSnEngineMidiPlayback::SetParameter(uint32_t parameterId, float value, const SnRTPCKey& key) {
  if (g_pRTPCMgr) g_pRTPCMgr->SetRTPCImmediate(parameterId, value, key);
}

void CSnEngineMidiPlayback::ResetParameter(uint32_t parameterId, const SnRTPCKey& key) {
  if (g_pRTPCMgr) g_pRTPCMgr->ResetRTPCInternal(parameterId, key, Instant());
}

void CSnEngineMidiPlayback::MidiCallback(uint32_t playingId, const SnMidiEvent& event) {
  const uint8_t bytes[4] = {event.status, event.channel, event.note, event.velocity};
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->NotifyMIDIEvent(playingId, bytes);
}

ISnMidiPlayback& EngineMidiPlayback() {
  static CSnEngineMidiPlayback playback;
  return playback;
}

}  // namespace SN
