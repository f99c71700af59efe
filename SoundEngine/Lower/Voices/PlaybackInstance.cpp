// The playback instance's life: registration, play, stop, pause and resume with their fades, the
// virtual state, the pipeline's notifications and the release of everything at the end.
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

#include <cmath>

#include "Base/Assert.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/BusNode.h"
#include "SoundEngine/Hierarchy/LeafNode.h"
#include "SoundEngine/Hierarchy/NodeLimiter.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Midi/MidiNoteState.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

constexpr uint16_t kTransitionFlagsLinearMirrored = 256;

uint32_t& InstanceCounter() {
  static uint32_t counter = 0;
  return counter;
}

}  // namespace

SnRTPCKey CSnPlaybackInstance::KeyFor(const Args& args, CSnPlaybackInstance* self) {
  SnRTPCKey key;
  key.gameObject = args.gameObject;
  key.playingId = args.playingId;
  key.midiChannel = args.midiEvent.channel;
  key.midiNote = args.midiEvent.CarriesNote() ? args.midiEvent.note : 255;
  key.midiTargetId = args.midiEvent.status ? args.midiTargetId : 0;
  key.playbackInstance = self;
  return key;
}

CSnPlaybackInstance::CSnPlaybackInstance() : m_link(this, SnRTPCKey{}), m_real(false) {}

CSnPlaybackInstance::CSnPlaybackInstance(const Args& args)
    : m_pGameObject(args.gameObject),
      m_link(this, KeyFor(args, this)),
      m_playingId(args.playingId),
      m_node(args.node),
      m_source(args.source),
      m_isMotion(args.isMotion),
      m_ownsSource(args.ownsSource) {
  m_priorityRecord = args.priority;
  m_priorityRecord.sequenceNumber = ++InstanceCounter();
  m_priority = m_priorityRecord.priority;
  m_virtualBehaviour = m_cachedBehaviour = args.voiceBehaviour;
  m_sequenceNumber = m_priorityRecord.sequenceNumber;
  m_givenPositioning = args.positioning;
  m_givenPositioningBits = args.positioningBits;
  if (m_pGameObject) m_pGameObject->AddRef();
  if (m_node) m_node->AddRef();
  if (args.seekOffset) {
    m_seekTarget = uint32_t(args.seekOffset);
    m_seekPending = true;
    m_sourceSeek.pending = true;
    m_sourceSeek.outputFrames = m_seekTarget;
  }
  // A sound's own passes; other nodes (music tracks, tools) play their media once unless told.
  if (const CSnLeafNode* leaf = m_node ? m_node->AsLeaf() : nullptr) m_loopCount = leaf->GetLoopCount();
  m_pendingOffset = args.frameOffset > 0 ? args.frameOffset : -1;
  m_hasFrameOffset = args.frameOffset > 0;
}

CSnPlaybackInstance::Args CSnPlaybackInstance::ArgsFor(CSnPropertyNode* node, const CSnSourceDesc* source,
                                                     const CSnPlayParams& params, const SnPriorityRecord& priority,
                                                     bool ownsSource) {
  Args args;
  args.node = node;
  args.source = source;
  args.ownsSource = ownsSource;
  args.gameObject = params.gameObject;
  args.midiEvent = params.midiEvent;
  args.midiTargetId = params.GetMidiTargetID();
  args.playMode = params.playMode;
  args.playingId = params.playingId;
  args.priority = priority;
  args.frameOffset = params.frameOffset;
  args.isMotion = (params.flags & CSnPlayParams::kFlagMotion) != 0;
  return args;
}

CSnPlaybackInstance::~CSnPlaybackInstance() {
  if (!m_real) return;
  if (m_inLeafChain) static_cast<CSnLeafNode*>(m_node)->DetachInstance(this);
  ReleaseTransitions();
  ReleasePath();
  DropCarriedPath();
  DestroyPositioning();
  ReleaseMotionContext();
  if (m_node) m_node->Release();
  if (m_pGameObject) m_pGameObject->Release();
  ReleaseMedia();
  if (m_ownsSource) CSnSourceDesc::Destroy(const_cast<CSnSourceDesc*>(m_source));
}

bool CSnPlaybackInstance::AcquireMedia() {
  if (m_mediaHeld) return true;
  if (!m_source || !m_source->GetMedia(m_media, m_mediaSize, m_mediaBank)) {
    m_media = nullptr;
    m_mediaSize = 0;
    return false;
  }
  m_mediaHeld = true;
  return true;
}

bool CSnPlaybackInstance::HoldsBankMedia(const CSnLoadedBank* bank) const {
  return bank && m_mediaHeld && static_cast<const CSnLoadedBank*>(m_mediaBank) == bank;
}

bool CSnPlaybackInstance::OnMediaContextChanged(const CSnLoadedBank* bank) {
  return HoldsBankMedia(bank) && !RefreshMedia();
}

bool CSnPlaybackInstance::RefreshMedia() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!m_mediaHeld) return false;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  CSnBankRecord* bank = nullptr;
  // An unloading bank hands out nothing: the copy found is another bank's or a prepared one.
  if (!m_source->GetMedia(data, size, bank)) return false;
  bool moved = data != m_media && size == m_mediaSize;
  if (!moved && data != m_media)
    SOUND_LOG(Warning, "Media %u: its other copy is %u bytes, not %u; the voice cannot move to it",
              m_source->sourceId, size, m_mediaSize);
  if (moved && m_pipeline) moved = m_pipeline->MoveSourceMedia(this, data, m_media, size);
  if (!moved) {
    m_source->ReleaseMedia(bank);
    return false;
  }
  m_source->ReleaseMedia(m_mediaBank);
  m_media = data;
  m_mediaBank = bank;
  return true;
}

void CSnPlaybackInstance::ReleaseMedia() {
  if (!m_mediaHeld) return;
  m_source->ReleaseMedia(m_mediaBank);
  m_mediaHeld = false;
  m_media = nullptr;
  m_mediaSize = 0;
  m_mediaBank = nullptr;
}

void CSnPlaybackInstance::Destroy() { PoolDelete(g_DefaultPoolId, this); }

// ---- registration ----

SNRESULT CSnPlaybackInstance::Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  m_limiters[0] = limiterA;
  m_limiters[1] = limiterB;
  // A limiter with no room leaves the instance in none: those that took it give it back, as nothing
  // else would once it is destroyed.
  uint32_t added = 0;
  while (added < 2 && (!m_limiters[added] || m_limiters[added]->Add(this))) ++added;
  if (added < 2 || !VoiceManager::GlobalLimiter().Add(this)) {
    while (added--)
      if (m_limiters[added]) m_limiters[added]->Remove(this);
    return SN_InsufficientMemory;
  }
  m_inLimiters = m_inGlobalLimiter = true;
  if (m_playingId == 0) return SN_Failure;
  if (g_pPlayingIDCallbackMgr) {
    uint32_t flags = 0;
    const SNRESULT result = g_pPlayingIDCallbackMgr->AddPlaybackRef(m_playingId, &flags);
    if (result != SN_Success) return result;
    m_callbackFlags = flags;
  }
  m_playbackRefTaken = true;
  if (m_node) m_link.Attach(m_node);
  // The game parameters of the motion bus it gives motion through reach it too.
  if (m_node && (m_isMotion || CSnBusNode::HasMotionOutput(m_node))) {
    CSnBusNode* bus = CSnBusNode::MotionBusFor(m_node);
    m_link.AttachMotionBus(bus, !m_isMotion);
    if (bus) bus->Release();
  }
  // In its sound's chain from here until it ends: stops, pauses, seeks and gains of the node reach it.
  if (CSnLeafNode* leaf = m_node ? m_node->AsLeaf() : nullptr) {
    leaf->AttachInstance(this);
    m_inLeafChain = true;
  }
  return SN_Success;
}

void CSnPlaybackInstance::OnPlaybackEnded() {
  if (m_inLeafChain) {
    static_cast<CSnLeafNode*>(m_node)->DetachInstance(this);
    m_inLeafChain = false;
  }
  if (m_virtual) LeaveVirtual(false);
  if (m_ended) return;
  m_ended = true;
  if (m_inLimiters) {
    for (CSnNodeLimiter* limiter : m_limiters)
      if (limiter) limiter->Remove(this);
    m_inLimiters = false;
  }
  LeaveGlobalLimiter();
  if (m_nodeCounted && m_node) {
    SnCountRecord record;
    record.priority = 0.0f;
    record.gameObject = m_pGameObject;
    m_node->UncountInstance(record);
    m_nodeCounted = false;
  }
}

bool CSnPlaybackInstance::LeaveNodeCount() {
  if (!m_nodeCounted || !m_node || m_ended) return false;
  if (m_inLimiters)
    for (CSnNodeLimiter* limiter : m_limiters)
      if (limiter) limiter->Remove(this);
  SnCountRecord record;
  record.priority = 0.0f;
  record.gameObject = m_pGameObject;
  m_node->UncountInstance(record);
  m_nodeCounted = false;
  return true;
}

void CSnPlaybackInstance::RejoinNodeCount() {
  SnCountRecord record;
  record.priority = m_priority;
  record.gameObject = m_pGameObject;
  record.enforce = false;
  if (m_node->CountInstance(record) == SN_InsufficientMemory) {
    // Counted nowhere, so its end gives nothing back; it plays on outside the limits of its new roads.
    SOUND_LOG(Error, "Node %u: no memory to count a playing voice on its new roads; it plays on outside their limits",
              m_node->ID());
    m_limiters[0] = m_limiters[1] = nullptr;
    return;
  }
  m_nodeCounted = true;
  m_limiters[0] = record.limiter;
  m_limiters[1] = record.busLimiter;
  if (!m_inLimiters) return;
  // One with no room leaves the play out of it rather than holding a limiter it is not in.
  for (CSnNodeLimiter*& limiter : m_limiters)
    if (limiter && !limiter->Add(this)) limiter = nullptr;
}

void CSnPlaybackInstance::LeaveGlobalLimiter() {
  if (!m_inGlobalLimiter) return;
  VoiceManager::GlobalLimiter().Remove(this);
  m_inGlobalLimiter = false;
}

void CSnPlaybackInstance::Term(uint32_t) {
  if (!m_real) return;
  OnPlaybackEnded();
  ReleaseTransitions();
  m_nearEnd = false;
  if (m_playbackRefTaken && g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->ReleasePlaybackRef(m_playingId);
  m_playbackRefTaken = false;
  RemoveOwnedValues();
  m_modulators.Detach();
  m_gainFactors.Term();
  ReleasePath();
  DropCarriedPath();
  DestroyPositioning();
  if (m_link.Target()) m_link.Detach();
  SetMidiNoteContext(nullptr);
  ReleaseMotionContext();
}

void CSnPlaybackInstance::SetMidiNoteContext(CSnMidiNoteState* note) {
  if (note == m_midiNote) return;
  if (m_midiNote) {
    m_midiNote->RemoveVoice(this);
    m_midiNote->Release();
    m_midiNote = nullptr;
  }
  if (!note) return;
  // Without room in the note the voice plays on untracked, as a note entry that cannot be taken does.
  if (!note->AddVoice(this, CSnMidiNoteState::Voice_Stop)) {
    SOUND_LOG(Error, "Playing id %u: no memory to join its MIDI note; the note's end will not stop it", m_playingId);
    return;
  }
  note->AddRef();
  m_midiNote = note;
}

uint32_t CSnPlaybackInstance::ListenerMask() const { return m_pGameObject ? m_pGameObject->ListenerMask() : 1u; }

// ---- commands to the voice ----

SNRESULT CSnPlaybackInstance::PostVoiceCommand(SnVoiceCommandKind kind) {
  return LowerEngine::QueueVoiceCommand(kind, this);
}

void CSnPlaybackInstance::RequestFade(CSnTransition*& slot, uint32_t kind, float from, float to,
                                      const TransParamsBase& fade) {
  const uint32_t time = fade.durationMs > 0 ? uint32_t(fade.durationMs) : 0;
  if (slot) {
    slot->Retarget(kind, to, time, fade.shape, SnValueMeaning_Absolute);
    return;
  }
  SnTransitionParams params;
  params.target = this;
  params.kind = kind;
  params.initial = from;
  params.end = to;
  params.timeMs = time;
  params.curve = fade.shape;
  params.dB = 0;
  params.mirror = kTransitionFlagsLinearMirrored >> 8;
  if (!g_pTransitionMgr) {
    // No fade to be had: the request completes at once, so a stop still stops.
    TransitionUpdate(kind, to, true);
    return;
  }
  // A transition the manager cannot make has already been completed on this target.
  slot = g_pTransitionMgr->AddTransition(params, true, 0);
}

void CSnPlaybackInstance::ReleaseTransitions() {
  for (CSnTransition** slot : {&m_playStop, &m_pauseResume}) {
    if (*slot) (*slot)->RemoveTarget(this);
    *slot = nullptr;
  }
}

void CSnPlaybackInstance::PauseTransition(CSnTransition* transition) {
  if (transition) transition->Pause();
}

void CSnPlaybackInstance::ResumeTransition(CSnTransition* transition) {
  if (transition) transition->Resume();
}

void CSnPlaybackInstance::TransitionUpdate(uint32_t kind, float value, bool done) {
  switch (kind) {
    case SnTransitionKind_PlayFadeIn:
      m_playStopFactor = value;
      if (done) {
        m_playStop = nullptr;
        m_fadeInRunning = false;
      }
      break;
    case SnTransitionKind_StopFadeOut:
      m_playStopFactor = value;
      if (done) {
        m_playStop = nullptr;
        StopNow(kStopReleasesAll, true);
      }
      break;
    case SnTransitionKind_PauseFadeOut:
      m_pauseResumeFactor = value;
      if (done) {
        m_pauseResume = nullptr;
        PauseNow(true);
      }
      break;
    case SnTransitionKind_ResumeFadeIn:
      m_pauseResumeFactor = value;
      if (done) m_pauseResume = nullptr;
      break;
    default: break;
  }
  m_gainDirty = true;
}

SNRESULT CSnPlaybackInstance::Play(const TransParamsBase& fade, bool beginPaused, bool newPlayBatch) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (fade.durationMs > 0) {
    m_playStopFactor = 0.0f;
    m_gainDirty = true;
    RequestFade(m_playStop, SnTransitionKind_PlayFadeIn, 0.0f, 1.0f, fade);
    m_fadeInRunning = m_playStop != nullptr;
  }
  SNRESULT result;
  if (beginPaused || m_pendingState == Pending_Pause) {
    m_paused = true;
    result = PostVoiceCommand(SnVoiceCommand_BeginPaused);
    PauseTransition(m_playStop);
  } else {
    result = PostVoiceCommand(SnVoiceCommand_Begin);
  }
  if (result != SN_Success) return result;
  if (m_pendingState == Pending_Stop) StopNow(kStopReleasesAll, false);
  // The play-batch counter is the group key: the voices of one action begin in the same frame.
  if (newPlayBatch) LowerEngine::IncrementVoiceGroupKey();
  return SN_Success;
}

void CSnPlaybackInstance::Stop(const TransParamsBase& fade, bool fromAction) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (m_paused || (m_pauseResume && m_pauseResume->IsFadeOutKind())) {
    // A paused voice, or one fading to a pause, is already silent: it ends without a fade.
    StopNow(kStopReleasesAll, false);
    return;
  }
  m_stopping = true;
  if (fade.durationMs > 0) {
    const bool created = m_playStop == nullptr;
    RequestFade(m_playStop, SnTransitionKind_StopFadeOut, m_playStopFactor, 0.0f, fade);
    if (created) m_fadeInRunning = false;
    return;
  }
  if (m_pipelineState == Pipeline_None && !m_launched) {
    StopNow(kStopReleasesAll, true);
  } else if (!m_playStop) {
    // Not from an action the voice still ends: silencing it alone would leave a looping voice
    // playing forever.
    if (fromAction)
      StopImmediately();
    else
      StopNow(kStopReleasesAll, false);
  } else {
    TransParamsBase now;
    now.shape = SnCurve_Linear;
    RequestFade(m_playStop, SnTransitionKind_StopFadeOut, m_playStopFactor, 0.0f, now);
  }
}

void CSnPlaybackInstance::StopImmediately() {
  if (!m_isMotion) {
    m_playStopFactor = 0.0f;
    m_block.gain = 0.0f;
  }
  if (!m_reasonRecorded) {
    m_stopReason = 0;
    m_reasonRecorded = true;
  }
  StopNow(kStopReleasesAll, false);
}

void CSnPlaybackInstance::StopWithReason(uint8_t reason) {
  if (!m_reasonRecorded) {
    m_stopReason = reason & 7;
    m_reasonRecorded = true;
  }
  TransParamsBase now;
  Stop(now, true);
}

void CSnPlaybackInstance::StopNow(uint8_t reason, bool) {
  if (m_stoppedNow) return;
  m_stoppedNow = true;
  if (reason != 0 && reason != 2) return;
  ReleaseTransitions();
  // A performance stopped does not go on along its path: the next one begins the path anew.
  if (m_path && (m_path->ModeFlags() & SnPathMode_Continuous))
    if (SnPathSavedState* saved = SavedPathState()) ResetPathState(*saved);
  ReleasePath();
  m_nearEnd = false;
  m_transitionsReleased = true;
}

void CSnPlaybackInstance::Pause(const TransParamsBase& fade) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ++m_pauseCount;
  if (fade.durationMs > 0) {
    RequestFade(m_pauseResume, SnTransitionKind_PauseFadeOut, m_pauseResumeFactor, 0.0f, fade);
  } else if (m_pipelineState == Pipeline_None && !m_launched) {
    PauseNow(false);
  } else if (!m_pauseResume) {
    PauseNow(false);
  } else {
    TransParamsBase now;
    RequestFade(m_pauseResume, SnTransitionKind_PauseFadeOut, m_pauseResumeFactor, 0.0f, now);
  }
}

void CSnPlaybackInstance::Resume(const TransParamsBase& fade, bool force) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!force && m_pauseCount > 1) {
    --m_pauseCount;
    return;
  }
  m_pauseCount = 0;
  ResumeNow();
  if (fade.durationMs > 0) {
    RequestFade(m_pauseResume, SnTransitionKind_ResumeFadeIn, m_pauseResumeFactor, 1.0f, fade);
  } else if (!m_pauseResume) {
    m_pauseResumeFactor = 1.0f;
    RecomputeGain();
  } else {
    TransParamsBase now;
    RequestFade(m_pauseResume, SnTransitionKind_ResumeFadeIn, m_pauseResumeFactor, 1.0f, now);
  }
}

void CSnPlaybackInstance::PauseNow(bool silently) {
  if (m_paused || m_stoppedNow) return;
  m_paused = true;
  m_modulators.Pause();
  if (!m_isMotion) {
    m_pauseResumeFactor = 0.0f;
    m_block.gain = 0.0f;
  }
  if (!silently) PostVoiceCommand(SnVoiceCommand_Pause);
  PauseTransition(m_playStop);
}

void CSnPlaybackInstance::ResumeNow() {
  if (m_stoppedNow || !m_paused) return;
  m_paused = false;
  m_modulators.Resume();
  PostVoiceCommand(SnVoiceCommand_Resume);
  ResumeTransition(m_playStop);
}

void CSnPlaybackInstance::StopLooping() {
  m_loopCount = 1;
  PostVoiceCommand(SnVoiceCommand_StopLooping);
}

void CSnPlaybackInstance::SeekTime(uint32_t ms, bool snapToMarker) {
  // In 64 bits: a long seek at a high rate would wrap the field.
  const uint64_t samples = uint64_t(ms) * (LowerEngine::SampleRate() / 1000);
  m_seekTarget = samples > UINT32_MAX ? UINT32_MAX : uint32_t(samples);
  m_seekPending = true;
  m_seekIsPercent = false;
  m_snapToMarker = snapToMarker;
  PostVoiceCommand(SnVoiceCommand_Seek);
}

void CSnPlaybackInstance::SeekPercent(float fraction, bool snapToMarker) {
  if (!std::isfinite(fraction)) {
    SOUND_LOG(Error, "Seek: the fraction is not a number; the seek goes to the beginning");
    fraction = 0.0f;
  }
  memcpy(&m_seekTarget, &fraction, sizeof fraction);
  m_seekPending = true;
  m_seekIsPercent = true;
  m_snapToMarker = snapToMarker;
  PostVoiceCommand(SnVoiceCommand_Seek);
}

void CSnPlaybackInstance::ExecuteActionOnInstance(const SnInstanceActionRecord& record) {
  if (record.gameObject && record.gameObject != m_pGameObject) return;
  if (record.playingId && record.playingId != m_playingId) return;
  switch (record.code) {
    case SnInstanceAction_Stop: Stop(record.fade, true); break;
    case SnInstanceAction_Pause: Pause(record.fade); break;
    case SnInstanceAction_Resume: Resume(record.fade, record.force != 0); break;
    case SnInstanceAction_StopLooping: StopLoopingUnder(record.node); break;
    case SnInstanceAction_ReleaseModulators:
      // Envelopes begin their release where the instance stands; a list with nothing attached notes it.
      if (m_modulators.HasRecord()) m_modulators.Release(0);
      else m_modulators.SetStateWord(0);
      break;
    default: break;
  }
}

void CSnPlaybackInstance::ApplyAction(const SnActionParams& params) {
  SnInstanceActionRecord record;
  switch (params.kind) {
    case SnActionParams::Stop: record.code = SnInstanceAction_Stop; break;
    case SnActionParams::Pause: record.code = SnInstanceAction_Pause; break;
    case SnActionParams::Resume: record.code = SnInstanceAction_Resume; break;
    case SnActionParams::Break: record.code = SnInstanceAction_StopLooping; break;
    default: return;
  }
  record.node = params.node;
  record.gameObject = params.gameObject;
  record.playingId = params.playingId;
  record.fade.durationMs = params.transitionMs;
  record.fade.shape = SnCurveInterpolation(params.fadeCurve);
  // A resume's flag forces it past nested pauses; a pause's says whether delayed plays pause too.
  if (params.kind == SnActionParams::Resume) record.force = params.flag != 0;
  ExecuteActionOnInstance(record);
}

void CSnPlaybackInstance::SeekToTime(int32_t milliseconds, bool toNearestMarker) {
  SeekTime(milliseconds > 0 ? uint32_t(milliseconds) : 0u, toNearestMarker);
}

void CSnPlaybackInstance::ParameterChanged(const SnParamChange& change) {
  SnInstanceParamFilter filter;
  filter.parameterId = change.parameterId;
  filter.key = change.key;
  filter.value = change.value;
  ApplyIfKeyMatches(filter);
}

void CSnPlaybackInstance::SetGainFactor(float gain) {
  // One factor for every node above (a muted bus, background music): the latest replaces it.
  constexpr uint32_t kNodesAboveKey = 0;
  SetGainFactorEntry(gain, kNodesAboveKey, true);
  RecomputeGain();
}

void CSnPlaybackInstance::NodeEffectChanged(uint32_t slot) {
  if (m_pipeline) m_pipeline->ReplaceEffect(slot);
}

// ---- virtual voices ----

void CSnPlaybackInstance::EnterVirtual() {
  if (m_virtual) return;
  m_virtual = true;
  m_excluded = true;
  VoiceManager::ExcludeInstance();
}

void CSnPlaybackInstance::LeaveVirtual(bool enforceLimit) {
  if (!m_virtual) return;
  m_virtual = false;
  m_excluded = false;
  m_virtualRequested = false;
  VoiceManager::RecountInstance(enforceLimit);
}

// ---- the pipeline's notifications ----

void CSnPlaybackInstance::PostMarker(const SnMediaMarker& marker) {
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->NotifyMarker(m_playingId, marker.id, marker.position, marker.label);
}

void CSnPlaybackInstance::ReportStarvation() {
  if (g_pPlayingIDCallbackMgr) g_pPlayingIDCallbackMgr->NotifyStarvation(m_playingId);
}

void CSnPlaybackInstance::UpdatePlayPosition(uint32_t position, float rate, uint32_t total) {
  if (!g_pPlayPositionStore) return;
  const uint32_t sampleRate = m_mediaFormat.sampleRate ? m_mediaFormat.sampleRate : 1;
  // Its sequence number tells it from the other voices of its playing id.
  g_pPlayPositionStore->UpdatePosition(m_playingId, SnPositionUpdate{position, rate, total, sampleRate},
                                       m_sequenceNumber);
}

void CSnPlaybackInstance::AddPlayPositionEntry() {
  if (g_pPlayPositionStore) g_pPlayPositionStore->AddSourceEntry(m_playingId, m_sequenceNumber);
}

void CSnPlaybackInstance::RemovePlayPositionEntry() {
  if (g_pPlayPositionStore) g_pPlayPositionStore->RemoveSourceEntry(m_playingId, m_sequenceNumber);
}

void CSnPlaybackInstance::PostBufferingStatus(SNRESULT result, uint32_t bufferedMs) {
  if (!g_pPlayPositionStore) return;
  const uint32_t status = result == SN_NoDataReady ? SnBuffering_Filling
                          : result == SN_DataReady ? SnBuffering_Ready
                                                   : SnBuffering_Unknown;
  const int32_t value = bufferedMs > 0x7FFFFFFFu ? 0x7FFFFFFF : int32_t(bufferedMs);
  g_pPlayPositionStore->UpdateBuffering(m_playingId, value, status, g_pAudioMgr ? g_pAudioMgr->CurrentFrame() : 0);
}

void CSnPlaybackInstance::PostDuration(float duration, float estimated) {
  if (!g_pPlayingIDCallbackMgr) return;
  g_pPlayingIDCallbackMgr->NotifyDuration(m_playingId, duration, estimated, m_node ? m_node->ID() : 0u,
                                          m_source ? m_source->sourceId : 0u, m_playbackSpeed);
}

void CSnPlaybackInstance::NotifyNearEnd(uint32_t value) {
  m_pipelineState = Pipeline_Launching;
  VoiceManager::QueueInstanceCommand(this, SnInstanceCommand_FadeBegun, value, 0.0f);
}

void CSnPlaybackInstance::DetachVoiceContext(uint32_t arg) {
  m_pipeline = nullptr;
  if (m_retireQueued) return;
  m_retireQueued = true;
  VoiceManager::QueueInstanceCommand(this, SnInstanceCommand_ContextDetached, arg, 0.0f);
}

void CSnPlaybackInstance::OnInstanceCommand(uint32_t kind, uint32_t parameter, float) {
  if (kind == SnInstanceCommand_FadeBegun) {
    m_nearEnd = true;
    PrepareNextNow();
    UpdatePlayProgress(parameter);
  } else if (kind == SnInstanceCommand_ContextDetached && parameter == 1) {
    m_nearEnd = false;
    m_endedAfterNearEnd = true;
  }
}

void CSnPlaybackInstance::Stop() {
  // Stopped before its voice was launched, or no voice could be made for it: the play ends and its
  // playing id with it, at the end of this pass.
  if (!m_retireQueued && !m_stoppedNow)
    SOUND_LOG(Error, "Sound %u of playing id %u: no voice could be made; the play ends",
              m_node ? m_node->ID() : 0u, m_playingId);
  StopRefused();
}

void CSnPlaybackInstance::StopRefused() {
  StopNow(kStopReleasesAll, true);
  DetachVoiceContext(0);
}

}  // namespace SN
