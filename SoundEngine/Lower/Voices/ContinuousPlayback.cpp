// The continuous playback instance: choosing the next child of the performance, handing it on at the
// near-end notification or at termination with the transition of the container, and the creator.
#include "SoundEngine/Lower/Voices/ContinuousPlayback.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "SoundEngine/Actions/ContinuePlaybackAction.h"
#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {
namespace {

// Below this much time left a crossfade is not begun at the near-end: the termination hands on.
constexpr uint32_t kMinCrossfadeTimeLeftMs = 50;
// Added to the engine's look-ahead for a hand-on after the source already ended.
constexpr uint32_t kLateHandOnExtraFrames = 10;

// Far deeper than any hierarchy nests its containers: a cycle of nested play-lists ends here.
constexpr uint32_t kMostNestedLevels = 256;

// Whether the innermost level below a nested item, followed down its nested play-lists, runs at the
// trigger rate: only then does the nested level go on before its item ends.
bool InnermostRunsAtTriggerRate(const CSnContinuousPlaylist* playlist, const CSnContinuousPlaylistItem& item) {
  const CSnContinuousPlaylistItem* level = &item;
  for (uint32_t depth = 0; level->owningContainer; ++depth) {
    const auto* owner = dynamic_cast<const ISnPlaylistUseOwner*>(level->owningContainer);
    const CSnContinuousPlaylist* nested = owner ? owner->NestedPlaylist(playlist, level->useKey) : nullptr;
    if (!nested || nested->Count() == 0 || depth == kMostNestedLevels) return false;
    playlist = nested;
    level = &nested->At(nested->Count() - 1);
  }
  const auto* container = dynamic_cast<const ISnContinuousContainer*>(level->node);
  return container && container->ContinuousTransitionMode() == SnContinuous_TriggerRate;
}

uint32_t NextOrigin() {
  static uint32_t counter = 0;
  if (++counter == 0) ++counter;  // 0 means "none"
  return counter;
}

int32_t MillisecondsToSamples(double ms) {
  const double samples = ms * double(LowerEngine::SampleRate()) / 1000.0;
  if (!(samples > 0.0)) return 0;
  return samples >= double(INT32_MAX) ? INT32_MAX : int32_t(std::lround(samples));
}

// The samples of its first frame that came before the item's first sample. Once due, the voice's
// offset is what the frame loop left of it past that frame's start (source samples at its speed).
int32_t SamplesBeforeFirstSample(const CSnPlaybackInstance& item, int32_t frame) {
  if (!item.HasInitialOffset() || item.InitialOffset() >= 0) return 0;
  const double speed = item.RateFactor() > 0.0f ? double(item.RateFactor()) : 1.0;
  const double samples = std::round((double(frame) * speed + double(item.InitialOffset())) / speed);
  return samples > 0.0 ? int32_t(std::min(samples, double(frame))) : 0;
}

// The rate counts from the start of the frame this item began in, as a due hand-on's delay does.
// A hand-on within the engine's look-ahead is made at once, and once that frame is performed what is
// made begins in the next one: the performed frame comes off its delay.
int32_t FrameAlreadyPerformed(int32_t delaySamples) {
  if (!g_pAudioMgr || !g_pAudioMgr->CurrentFramePerformed()) return 0;
  const uint32_t samplesPerFrame = LowerEngine::SamplesPerFrame();
  const bool madeAtOnce = uint32_t(delaySamples) / samplesPerFrame <= SoundEngine::Settings().lookAheadFrames;
  return madeAtOnce && uint32_t(delaySamples) >= samplesPerFrame ? int32_t(samplesPerFrame) : 0;
}

bool IsCrossfade(SnContinuousTransitionMode mode) {
  return mode == SnContinuous_Crossfade || mode == SnContinuous_CrossfadePower;
}

}  // namespace

bool IsUnderContinuousLevel(const CSnHierarchyNode* node, const CSnHierarchyNode* ancestor) {
  if (!ancestor) return true;
  for (const CSnHierarchyNode* n = node; n; n = n->Parent())
    if (n == ancestor) return true;
  return node && node->OutputBus() == ancestor;
}

void DropContinuousLevelsUnder(CSnContinuousPlaylist& playlist, SnSequencePosition& position,
                               const CSnHierarchyNode* node) {
  while (playlist.Count()) {
    CSnContinuousPlaylistItem& item = playlist.At(playlist.Count() - 1);
    if (item.owningContainer) {
      auto* owner = dynamic_cast<ISnPlaylistUseOwner*>(item.owningContainer);
      if (CSnContinuousPlaylist* nested = owner ? owner->TakePlaylistUse(&playlist, item.useKey) : nullptr)
        nested->Release();
      item.useKey = 0;
    } else if (!IsUnderContinuousLevel(item.node, node)) {
      break;
    }
    if (position.depth > 0) --position.depth;
    position.LowerToSequenceLevel();
    playlist.Pop();
  }
}

CSnContinuousPlaybackInstance::CSnContinuousPlaybackInstance(const Args& args, const SnContinuousParams& continuous)
    : CSnPlaybackInstance(args),
      m_playlist(continuous.playlist),
      m_position(continuous.position),
      m_container(continuous.container),
      m_origin(continuous.origin ? continuous.origin : NextOrigin()),
      m_carriedPlayStop(continuous.playStop),
      m_carriedPause(continuous.pause),
      m_midiEvent(args.midiEvent),
      m_playMode(args.playMode),
      m_firstPlay(continuous.firstPlay),
      m_joinsOrigin(continuous.origin != 0) {
  if (m_playlist) m_playlist->AddRef();
  if (m_container) m_container->AddRef();
  CarryPath(continuous.path, continuous.pathId);
  m_pauseCount = continuous.pauseCount;
  m_position.LowerToSequenceLevel();
}

CSnContinuousPlaybackInstance::~CSnContinuousPlaybackInstance() {
  ReleasePlaylist();
  if (m_container) m_container->Release();
}

void CSnContinuousPlaybackInstance::ReleasePlaylist() {
  if (m_playlist) m_playlist->Release();
  m_playlist = nullptr;
}

SNRESULT CSnContinuousPlaybackInstance::Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB) {
  const SNRESULT result = CSnPlaybackInstance::Init(limiterA, limiterB);
  CSnTransition* playStop = std::exchange(m_carriedPlayStop, nullptr);
  CSnTransition* pause = std::exchange(m_carriedPause, nullptr);
  if (result != SN_Success) return result;
  // The fades in progress go on with this child: a stop it cannot join still stops it.
  if (playStop) {
    if (playStop->AddTarget(this) == SN_Success)
      m_playStop = playStop;
    else
      m_pendingState = Pending_Stop;
  }
  if (pause && pause->AddTarget(this) == SN_Success) m_pauseResume = pause;
  if (m_pendingState == Pending_None && m_pauseCount != 0 && !m_pauseResume) m_pendingState = Pending_Pause;
  return SN_Success;
}

SnNextContinuousChild TakeNextContinuousChild(CSnContinuousPlaylist*& playlist, SnSequencePosition& position,
                                              CSnRegisteredObj* gameObject, bool checkOnly) {
  SnNextContinuousChild next;
  auto release = [&playlist] {
    if (playlist) playlist->Release();
    playlist = nullptr;
  };
  for (;;) {
    if (!playlist || playlist->Count() == 0) {
      release();
      return next;
    }
    CSnContinuousPlaylistItem& item = playlist->At(playlist->Count() - 1);
    if (item.owningContainer) {
      // A nested level of a switch or layer container gives its use back at the termination, or
      // ahead of it when its innermost level runs at the trigger rate.
      next.settled = false;
      if (checkOnly && !InnermostRunsAtTriggerRate(playlist, item)) return next;
      auto* owner = dynamic_cast<ISnPlaylistUseOwner*>(item.owningContainer);
      CSnContinuousPlaylist* nested = owner ? owner->TakePlaylistUse(playlist, item.useKey) : nullptr;
      item.useKey = 0;  // taken: nothing to give back
      playlist->Pop();
      release();
      if (!nested) return next;
      playlist = nested;
      next.settled = true;
      continue;
    }
    auto* container = dynamic_cast<ISnContinuousContainer*>(item.node);
    uint16_t index = 0;
    next.node = container ? container->NextContinuousChild(gameObject, item, index) : nullptr;
    if (!next.node) {
      // The level has played out: the performance goes on one level up.
      if (position.depth > 0) --position.depth;
      position.LowerToSequenceLevel();
      playlist->Pop();
      continue;
    }
    position.Store(position.depth, index);
    next.level = item.node;
    next.container = container;
    return next;
  }
}

void CSnContinuousPlaybackInstance::PrepareNext(bool checkOnly) {
  if (m_nextComputed) return;
  const SnNextContinuousChild next = TakeNextContinuousChild(m_playlist, m_position, m_pGameObject, checkOnly);
  if (!next.settled) return;
  m_nextComputed = true;
  if (!next.node) return;
  m_nextNodeId = next.node->ID();
  m_mode = next.container->ContinuousTransitionMode();
  const bool timed = m_mode == SnContinuous_Crossfade || m_mode == SnContinuous_CrossfadePower ||
                     m_mode == SnContinuous_Delay || m_mode == SnContinuous_TriggerRate;
  m_duration = timed ? next.container->ContinuousTransitionDuration(m_pGameObject) : 0.0f;
  if (!std::isfinite(m_duration) || m_duration < 0.0f) m_duration = 0.0f;
  next.node->Release();
}

void CSnContinuousPlaybackInstance::HandOnToNext(const HandOn& plan) {
  CSnIndexedObject* found = g_pObjectIndex ? g_pObjectIndex->FindNodeAndAddRef(m_nextNodeId, false) : nullptr;
  auto* next = static_cast<CSnHierarchyNode*>(found);
  CSnContinuePlaybackAction* action =
      next && g_pAudioMgr ? CSnContinuePlaybackAction::Create(SnAction_ContinuePlayback, 0, m_playlist) : nullptr;
  if (action) {
    action->SetTargetNode(next);
    SnContinuousParams carried;
    carried.pauseCount = m_pauseCount;
    carried.position = m_position;
    carried.container = m_container;
    carried.path = Path();
    carried.pathId = PathId();
    carried.origin = plan.withOrigin ? m_origin : 0;
    action->SetContinuous(carried);
    action->SetOwnerRef(this);
    action->SetFirstPlay(plan.firstPlay);
    action->SetPaused(plan.withOrigin && m_paused);
    // A performance a MIDI note began belongs to the note to its end: the note's end takes back the
    // hand-on still waiting, and the next item joins the note as this one did.
    action->SetPlayMode(m_playMode);
    action->SetMidiEvent(m_midiEvent, Key().midiTargetId);
    if (!action->SetMidiNote(MidiNoteContext()))
      SOUND_LOG(Error, "Continuous play %u: no memory to tie its next item to its MIDI note; the note's end will "
                "not stop it", m_playingId);
    if (plan.crossfade) action->SetCrossfadeSource(this, plan.crossfadeMs,
                                  m_mode == SnContinuous_CrossfadePower ? SnCurve_Sine : SnCurve_Linear);
    // A transition the action cannot join is left behind; the next child plays without it.
    if (plan.handPause && m_pauseResume && action->SetPauseTransition(m_pauseResume) != SN_Success)
      SOUND_LOG(Warning, "Continuous play %u: the next item does not take over the pause fade", m_playingId);
    if (plan.handPlayStop && m_playStop && action->SetPlayStopTransition(m_playStop) != SN_Success)
      SOUND_LOG(Warning, "Continuous play %u: the next item does not take over the fade", m_playingId);
    action->SetDelay(plan.delaySamples);
    auto* record = g_pAudioMgr->NewRecord(action, m_playingId);
    if (record) {
      record->HoldGameObject(m_pGameObject);
      g_pAudioMgr->ScheduleAction(record);  // takes its own reference; may run at once
      if (plan.pausePending) g_pAudioMgr->PausePendingActionsOfAction(action, m_playingId);
    } else {
      SOUND_LOG(Error, "Continuous play %u: no memory to hand the performance on", m_playingId);
    }
    action->Release();
  } else if (next) {
    SOUND_LOG(Error, "Continuous play %u: no memory to hand the performance on", m_playingId);
  }
  if (next) next->Release();
  MarkNextPrepared();
  ReleasePlaylist();
  m_nextNodeId = 0;
}

void CSnContinuousPlaybackInstance::PrepareNextNow() {
  if (m_stoppedNow) return;
  PrepareNext(true);
  if (m_mode != SnContinuous_SampleAccurate || !m_nextNodeId || !m_playlist) return;
  // Scheduled now, so that the next source is there to follow this one without a gap.
  HandOn plan;
  plan.withOrigin = true;
  HandOnToNext(plan);
}

ISnVoicePipeline* CSnContinuousPlaybackInstance::PipelineForSecondSource() const {
  if (!m_joinsOrigin) return nullptr;
  for (ISnVoicePipeline* p = LowerEngine::FirstActivePipeline(); p; p = p->m_pNextInList) {
    if (p->GetState() != ISnVoicePipeline::Playing || p->SecondSource()) continue;
    ISnVoiceInstance* first = p->FirstSource();
    auto* before = dynamic_cast<CSnContinuousPlaybackInstance*>(first ? first->PlaybackInstance() : nullptr);
    // One told to stop at a sample of this frame (a note's end) sounds up to it: this item joins it
    // all the same, so that it begins where that one's source ends, and the same stop cuts it there.
    const bool sounds = before && (!before->IsStoppedNow() || before->StopOffset() >= 0);
    if (sounds && before != this && before->m_origin == m_origin) return p;
  }
  return nullptr;
}

void CSnContinuousPlaybackInstance::UpdatePlayProgress(uint32_t timeLeftMs) {
  if (m_stopping || m_stoppedNow) return;
  PrepareNext(true);
  if (!m_nextNodeId || !m_playlist) return;
  const int32_t frame = int32_t(m_isMotion ? 8 : LowerEngine::SamplesPerFrame());
  HandOn plan;
  if (IsCrossfade(m_mode)) {
    if (timeLeftMs < kMinCrossfadeTimeLeftMs) return;
    const double fade = std::min(double(m_duration), double(timeLeftMs) / 2.0);
    plan.crossfade = true;
    plan.crossfadeMs = int32_t(fade);
    plan.handPlayStop = false;
    plan.delaySamples = MillisecondsToSamples(double(timeLeftMs) - double(plan.crossfadeMs));
  } else if (m_mode == SnContinuous_TriggerRate) {
    // The rate counts from the item's first sample, the hand-on's delay from its first frame's start.
    const int64_t delay =
        int64_t(std::max(MillisecondsToSamples(m_duration), frame)) + SamplesBeforeFirstSample(*this, frame);
    plan.delaySamples = int32_t(std::min<int64_t>(delay, INT32_MAX));
  } else {
    return;
  }
  plan.pausePending = plan.delaySamples >= frame && m_pauseCount != 0;
  if (m_mode == SnContinuous_TriggerRate) plan.delaySamples -= FrameAlreadyPerformed(plan.delaySamples);
  HandOnToNext(plan);
}

void CSnContinuousPlaybackInstance::Term(uint32_t flags) {
  OnPlaybackEnded();
  PrepareNext(false);
  const bool stoppedInCrossfade = m_stopping && IsCrossfade(m_mode);
  if (m_playlist && !m_transitionsReleased && !stoppedInCrossfade && m_nextNodeId) {
    HandOn plan;
    const bool timed = m_mode == SnContinuous_Delay || m_mode == SnContinuous_TriggerRate;
    const int32_t duration = timed ? MillisecondsToSamples(m_duration) : 0;
    if (m_endedAfterNearEnd || (flags & 1)) {
      plan.firstPlay = m_firstPlay;
      const int32_t limit = int32_t((SoundEngine::Settings().lookAheadFrames + kLateHandOnExtraFrames) *
                                    LowerEngine::SamplesPerFrame());
      plan.delaySamples = std::max(limit, duration);
    } else if (m_mode == SnContinuous_Delay) {
      // Counted, as every queued action's delay, from the start of this frame: the gap keeps to the
      // frame clock, not to where in the frame the item's last sample fell.
      plan.delaySamples = duration;
    } else if (m_mode == SnContinuous_SampleAccurate) {
      plan.withOrigin = true;
    }
    plan.pausePending = plan.delaySamples > 0 && m_pauseCount != 0 && !m_pauseResume;
    HandOnToNext(plan);
  }
  ReleasePlaylist();
  if (m_nextPrepared) m_nearEnd = false;
  // A pending hand-on that names this instance (a crossfade's source) must not reach it any more.
  if (g_pAudioMgr) g_pAudioMgr->ClearContinuationOwnerRefs(this);
  CSnPlaybackInstance::Term(flags);
}

void CSnContinuousPlaybackInstance::StopNow(uint8_t reason, bool flag) {
  // A stopped child ends the performance of its branch.
  m_nextComputed = true;
  m_nextNodeId = 0;
  ReleasePlaylist();
  CSnPlaybackInstance::StopNow(reason, flag);
}

void CSnContinuousPlaybackInstance::StopLooping() { StopLoopingUnder(nullptr); }

void CSnContinuousPlaybackInstance::StopLoopingUnder(const CSnHierarchyNode* node) {
  if (m_nextNodeId) {
    CSnIndexedObject* found = g_pObjectIndex ? g_pObjectIndex->FindNodeAndAddRef(m_nextNodeId, false) : nullptr;
    const bool under = found && IsUnderContinuousLevel(static_cast<CSnHierarchyNode*>(found), node);
    if (found) found->Release();
    if (!under) {
      CSnPlaybackInstance::StopLooping();
      return;
    }
  }
  // The levels at or below the stopped node are not continued; the next child is asked again, of the
  // levels left, when this one ends.
  m_nextNodeId = 0;
  m_nextComputed = false;
  if (m_playlist) DropContinuousLevelsUnder(*m_playlist, m_position, node);
  if (m_playlist && m_playlist->Count() == 0) ReleasePlaylist();
  CSnPlaybackInstance::StopLooping();
}

bool CSnContinuousPlaybackInstance::SeekAllowed() const {
  for (const CSnHierarchyNode* n = m_node ? m_node->Parent() : nullptr; n; n = n->Parent()) {
    if (n->NodeCategory() != CSnHierarchyNode::Category_RandomSequence) continue;
    auto* container = dynamic_cast<const ISnContinuousContainer*>(n);
    if (!container) continue;
    const SnContinuousTransitionMode mode = container->ContinuousTransitionMode();
    if (IsCrossfade(mode) || mode == SnContinuous_TriggerRate) return false;
    if (mode == SnContinuous_SampleAccurate && !m_firstPlay) return false;
  }
  return true;
}

void CSnContinuousPlaybackInstance::SeekTime(uint32_t ms, bool snapToMarker) {
  if (SeekAllowed()) CSnPlaybackInstance::SeekTime(ms, snapToMarker);
}

void CSnContinuousPlaybackInstance::SeekPercent(float fraction, bool snapToMarker) {
  if (SeekAllowed()) CSnPlaybackInstance::SeekPercent(fraction, snapToMarker);
}

CSnPlaybackInstance* CSnContinuousInstanceCreator::CreatePlaybackInstance(CSnPropertyNode* node,
                                                                          const CSnSourceDesc* source,
                                                                          const CSnPlayParams& params,
                                                                          const SnPriorityRecord& priority,
                                                                          bool ownsSource) {
  const CSnPlaybackInstance::Args args = CSnPlaybackInstance::ArgsFor(node, source, params, priority, ownsSource);
  if (m_params.sequence) return CreateDynamicSequenceInstance(args, m_params);
  return PoolNew<CSnContinuousPlaybackInstance>(g_DefaultPoolId, args, m_params);
}

}  // namespace SN
