// The continue-playback action: the references it holds, the fades it joins and the play it makes.
#include "SoundEngine/Actions/ContinuePlaybackAction.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/DynamicSequence/DynamicSequence.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Midi/MidiNoteState.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
std::atomic<uint32_t> g_continuousPlays{0};
}  // namespace

uint32_t CSnContinuePlaybackAction::ContinuousPlayCount() { return g_continuousPlays.load(); }

CSnContinuePlaybackAction* CSnContinuePlaybackAction::Create(uint16_t actionType, uint32_t id,
                                                             CSnContinuousPlaylist* playlist) {
  CSnContinuePlaybackAction* action = PoolNew<CSnContinuePlaybackAction>(g_DefaultPoolId, id, actionType);
  if (!action) return nullptr;
  if (playlist) {
    playlist->AddRef();
  } else {
    playlist = CSnContinuousPlaylist::Create();
    if (!playlist) {
      action->Release();
      return nullptr;
    }
  }
  action->m_playlist = playlist;
  if (g_pObjectIndex) g_pObjectIndex->List(SnIndex_Actions).Insert(action);
  return action;
}

CSnContinuePlaybackAction::~CSnContinuePlaybackAction() {
  if (m_playStopTransition) m_playStopTransition->RemoveTarget(this);
  if (m_pauseTransition) m_pauseTransition->RemoveTarget(this);
  SetTargetNode(nullptr);
  SetMidiNote(nullptr);
  if (m_playlist) m_playlist->Release();
  if (m_continuous.container) m_continuous.container->Release();
  if (m_continuous.sequence) m_continuous.sequence->Release();
  ReleasePathHolder();
}

void CSnContinuePlaybackAction::ReleasePathHolder() {
  CSnPositionPath* path = std::exchange(m_continuous.path, nullptr);
  m_continuous.pathId = 0;
  if (path && g_pPathMgr) g_pPathMgr->ReleasePathHolder(path);
}

bool CSnContinuePlaybackAction::SetMidiNote(CSnMidiNoteState* note) {
  if (note == m_midiNote) return true;
  if (m_midiNote) {
    m_midiNote->RemoveAction(static_cast<CSnEventAction*>(this));
    m_midiNote->Release();
    m_midiNote = nullptr;
  }
  if (!note) return true;
  if (!note->AddAction(static_cast<CSnEventAction*>(this))) return false;
  note->AddRef();
  m_midiNote = note;
  return true;
}

void CSnContinuePlaybackAction::SetContinuous(const SnContinuousParams& params) {
  if (params.container) params.container->AddRef();
  if (params.sequence) params.sequence->AddRef();
  if (params.path && g_pPathMgr) params.path->AddHolder();
  if (m_continuous.container) m_continuous.container->Release();
  if (m_continuous.sequence) m_continuous.sequence->Release();
  ReleasePathHolder();
  m_continuous = params;
  if (!g_pPathMgr) m_continuous.path = nullptr;
  m_continuous.playlist = nullptr;
  m_continuous.playStop = m_continuous.pause = nullptr;
  m_isContinuous = true;
}

void CSnContinuePlaybackAction::SetPlayParams(const uint32_t (&block)[kPlayParamWords]) {
  memcpy(m_playParams, block, sizeof m_playParams);
}

void CSnContinuePlaybackAction::SetTargetNode(CSnHierarchyNode* node) {
  if (node) node->AddRef();
  if (m_targetNode) m_targetNode->Release();
  m_targetNode = node;
  if (node) SetTarget(node->ID(), node->IsBus());
}

namespace {

SNRESULT Join(CSnTransition*& slot, CSnTransition* transition, ISnTransitionTarget* self) {
  if (slot == transition) return SN_Success;
  if (transition) {
    const SNRESULT joined = transition->AddTarget(self);
    if (joined != SN_Success) return joined;
  }
  if (slot) slot->RemoveTarget(self);
  slot = transition;
  return SN_Success;
}

}  // namespace

SNRESULT CSnContinuePlaybackAction::SetPlayStopTransition(CSnTransition* transition) {
  return Join(m_playStopTransition, transition, this);
}

SNRESULT CSnContinuePlaybackAction::SetPauseTransition(CSnTransition* transition) {
  return Join(m_pauseTransition, transition, this);
}

void CSnContinuePlaybackAction::ClearPauseTransition() {
  if (m_pauseTransition && m_pauseTransition->IsFadeOutKind()) {
    m_pauseTransition->RemoveTarget(this);
    m_pauseTransition = nullptr;
  }
}

void CSnContinuePlaybackAction::ClearTransitionRef(bool pauseTransition) {
  // The transition is over and lets its targets go itself.
  (pauseTransition ? m_pauseTransition : m_playStopTransition) = nullptr;
}

void CSnContinuePlaybackAction::ClearOwnerRef(const void* owner) {
  if (m_owner != owner) return;
  m_owner = nullptr;
  if (m_crossfadeSource == owner) m_crossfadeSource = nullptr;
}

void CSnContinuePlaybackAction::NotifyPending(const CSnPendingActionItem& record) { m_pending = &record; }

void CSnContinuePlaybackAction::NotifyPendingEnded(const CSnPendingActionItem& record) {
  if (m_pending == &record) m_pending = nullptr;
}

void CSnContinuePlaybackAction::TransitionUpdate(uint32_t kind, float, bool done) {
  if (!m_pending) return;
  // The record may remove itself and with it the last reference on this action.
  AddRef();
  const_cast<CSnPendingActionItem*>(m_pending)->TransitionNotification(kind, done);
  Release();
}

bool CSnContinuePlaybackAction::AdvancePastNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject) {
  if (!m_playlist) return true;
  bool reached = m_targetNode && IsUnderContinuousLevel(m_targetNode, node);
  for (uint32_t i = 0; i < m_playlist->Count() && !reached; ++i)
    reached = IsUnderContinuousLevel(m_playlist->At(i).node, node);
  if (!reached) return false;
  DropContinuousLevelsUnder(*m_playlist, m_continuous.position, node);
  // The item it would have played is not; the level left chooses, as at the end of an item.
  const SnNextContinuousChild next = TakeNextContinuousChild(m_playlist, m_continuous.position, gameObject, false);
  if (!next.node) return true;
  SetTargetNode(next.node);
  next.node->Release();
  next.level->AddRef();
  if (m_continuous.container) m_continuous.container->Release();
  m_continuous.container = next.level;
  return false;
}

SNRESULT CSnContinuePlaybackAction::Execute(CSnPendingActionItem& record) {
  m_pending = nullptr;
  TransParamsBase fade = m_fade;
  if (m_crossfadeSource) {
    fade.durationMs = m_crossfadeMs;
    fade.shape = m_crossfadeShape;
  }
  CSnHierarchyNode* node = m_targetNode;
  if (node) {
    node->AddRef();
  } else {
    node = static_cast<CSnHierarchyNode*>(g_pObjectIndex->FindNodeAndAddRef(TargetId(), TargetIsBus()));
    if (!node) {
      SOUND_LOG(Error, "Continued play: node %u is not loaded", TargetId());
      return SN_IdNotFound;
    }
  }
  SNRESULT result = SN_Failure;
  if (CSnPropertyNode* target = dynamic_cast<CSnPropertyNode*>(node)) {
    CSnPlayParams params;
    params.gameObject = record.gameObject;
    params.playingId = record.playingId;
    params.playMode = m_playMode;
    params.externalSources = record.externalSources;
    params.midiEvent = m_midiEvent;
    params.midiTargetId = m_midiTargetId;
    params.midiNote = m_midiNote;
    params.flags = uint8_t(CSnPlayParams::kFlagDelayed | (m_firstPlay ? CSnPlayParams::kFlagFirstPlay : 0));
    const int64_t offset = int64_t(m_frameOffset) + record.sampleOffset;
    params.frameOffset = int32_t(offset > INT32_MAX ? INT32_MAX : offset);
    params.continuousPlaylist = m_playlist;  // borrowed for the call: a node that keeps it takes a reference
    params.transition = fade;
    params.flags |= m_paused ? CSnPlayParams::kFlagPaused : 0;
    SnContinuousParams continuous = m_continuous;
    continuous.playlist = m_playlist;
    continuous.playStop = m_playStopTransition;
    continuous.pause = m_pauseTransition;
    continuous.firstPlay = m_firstPlay;
    CSnContinuousInstanceCreator creator(continuous);
    if (m_isContinuous) params.instanceCreator = &creator;
    // The item crossfaded from fades out as this one fades in.
    if (m_crossfadeSource && m_owner == m_crossfadeSource && !m_crossfadeSource->IsStoppedNow()) {
      TransParamsBase out;
      out.durationMs = m_crossfadeMs;
      out.shape = m_crossfadeShape;
      m_crossfadeSource->Stop(out, false);
    }
    g_continuousPlays.fetch_add(1, std::memory_order_relaxed);
    result = target->Play(params);
  } else {
    SOUND_LOG(Error, "Continued play: object %u cannot be played", node->ID());
  }
  node->Release();
  // What the play needed is handed back now, not when the action goes.
  if (m_playlist) {
    m_playlist->Release();
    m_playlist = nullptr;
  }
  ReleasePathHolder();
  m_owner = nullptr;
  return result;
}

}  // namespace SN
