// The track context: the clips of its sub-track scheduled from where it begins, each source made a
// music voice at its exact sample of the frame and stopped at the clip's end, and the clips'
// automation applied to their voices every frame.
#include "MusicEngine/MusicTrackContext.h"

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicContextBlocks.h"
#include "MusicEngine/MusicMidiClipContext.h"
#include "MusicEngine/MusicPlayRoot.h"
#include "MusicEngine/MusicPlaybackInstance.h"
#include "MusicEngine/MusicSegmentContext.h"
#include "MusicEngine/MusicTrack.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Modulators/ModulatorTypes.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kMidiCodec = 16;
enum AutomationType : uint32_t { Volume = 0, LowPass = 1, HighPass = 2, FadeIn = 3, FadeOut = 4 };

bool IsMidi(const CSnSourceDesc& desc) { return ((desc.codecId >> 16) & 0xFF) == kMidiCodec; }
bool IsStreamed(const CSnSourceDesc& desc) { return desc.StorageType() == CSnSourceDesc::Storage_Streamed; }

int32_t Modulo(int64_t value, int64_t period) {
  if (period <= 0) return 0;
  const int64_t rest = value % period;
  return int32_t(rest < 0 ? rest + period : rest);
}
}  // namespace

float EvaluateMusicAutomation(const SnMusicClipAutomation& automation, float at) {
  const SnMusicAutomationPoint* points = automation.points;
  const uint32_t count = automation.pointCount;
  if (!count) return 0.0f;
  if (at <= points[0].time) return points[0].value;
  for (uint32_t i = 1; i < count; ++i) {
    if (at >= points[i].time) continue;
    const float span = points[i].time - points[i - 1].time;
    if (span <= 0.0f) return points[i].value;
    const float t = (at - points[i - 1].time) / span;
    return points[i - 1].value + (points[i].value - points[i - 1].value) * t;
  }
  return points[count - 1].value;
}

CSnMusicTrackContext* CSnMusicTrackContext::Create(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track,
                                                   uint32_t subTrack) {
  auto* context = NewMusicContext<CSnMusicTrackContext>(segment, track, subTrack);
  if (!context) return nullptr;
  // Its own reference, given back when its stop completes.
  context->AddRef();
  context->Connect();
  context->InstantiateModulators();
  return context;
}

void CSnMusicTrackContext::InstantiateModulators() {
  const CSnMusicSegmentContext* segment = Segment();
  SnModulatorInstantiationParams params;
  params.gameObject = segment->GameObject();
  params.playingId = segment->PlayingId();
  params.node = m_track;
  m_track->InstantiateModulators(params, m_modulators, segment->PlayingId());
}

void CSnMusicTrackContext::OnReset() {
  CSnMusicContext::OnReset();
  m_modulators.Detach();
  InstantiateModulators();
}

CSnMusicTrackContext::CSnMusicTrackContext(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track,
                                           uint32_t subTrack)
    : CSnMusicContext(segment), m_track(track), m_subTrack(subTrack) {
  m_track->AddRef();
  m_track->AddContext();
  m_track->ListContext(this);
}

CSnMusicTrackContext::~CSnMusicTrackContext() {
  FreeSchedule();
  m_modulators.Detach();
  m_track->UnlistContext(this);
  m_track->RemoveContext();
  m_track->Release();
}

void CSnMusicTrackContext::DeleteSelf() { DeleteMusicContext(this); }

CSnMusicSegmentContext* CSnMusicTrackContext::Segment() const { return static_cast<CSnMusicSegmentContext*>(Parent()); }

void CSnMusicTrackContext::FreeSchedule() {
  while (Automation* automation = m_automations) {
    m_automations = automation->next;
    PoolDelete(g_DefaultPoolId, automation);
  }
  while (Action* action = m_schedule) {
    m_schedule = action->next;
    FreeAction(action);
  }
}

void CSnMusicTrackContext::FreeAction(Action* action) {
  while (Automation* automation = action->automations) {
    action->automations = automation->next;
    PoolDelete(g_DefaultPoolId, automation);
  }
  m_actionRoom.Delete(action);
}

void CSnMusicTrackContext::Insert(Action* action) {
  // After every action of the same time: equal times keep their order.
  Action** link = &m_schedule;
  while (*link && (*link)->time <= action->time) link = &(*link)->next;
  action->next = *link;
  *link = action;
}

void CSnMusicTrackContext::SetPlaying() {
  CSnMusicContext::SetPlaying();
  if (!m_scheduleBuilt) {
    m_scheduleBuilt = true;
    BuildSchedule();
  }
}

void CSnMusicTrackContext::BuildSchedule() {
  const int64_t p = m_begin;
  for (uint32_t c = 0; c < m_track->ClipCount(); ++c) {
    const SnMusicTrackClip& clip = m_track->Clip(c);
    if (clip.subTrack != m_subTrack) continue;
    const CSnSourceDesc* source = m_track->FindSource(clip.sourceId);
    if (!source) continue;
    const int64_t clipEnd = int64_t(clip.begin) + clip.length;
    if (p >= clipEnd) continue;
    int32_t lookAhead = 0;
    if (IsStreamed(*source)) {
      const bool prefetchCovers = (source->flags & CSnSourceDesc::kPrefetched) && clip.sourceOffset == 0 && p <= clip.begin;
      lookAhead = prefetchCovers ? 0 : int32_t(source->lookAhead);
    }
    auto* action = m_actionRoom.New();
    if (!action) {
      SOUND_LOG(Error, "Music track %u: no memory to schedule clip %u; it does not play", m_track->ID(), c);
      continue;
    }
    action->kind = Action::PlayClip;
    action->clip = &clip;
    action->lookAhead = lookAhead;
    if (p > clip.begin) {
      // Entered part-way: the clip's source from where the segment is.
      action->time = p - lookAhead;
      action->length = int32_t(clipEnd - p);
      action->sourceOffset = Modulo(int64_t(clip.sourceOffset) - clip.begin + p, clip.sourceDuration);
    } else {
      action->time = int64_t(clip.begin) - lookAhead;
      action->length = int32_t(clip.length);
      action->sourceOffset = clip.sourceOffset;
    }
    if (!IsMidi(*source)) {
      for (uint32_t a = 0; a < m_track->AutomationCount(); ++a) {
        const SnMusicClipAutomation& automation = m_track->Automation(a);
        if (automation.clipIndex != c || automation.type > FadeOut) continue;
        auto* entry = PoolNew<Automation>(g_DefaultPoolId);
        if (!entry) continue;
        *entry = Automation{&automation, nullptr, clip.begin, action->automations};
        action->automations = entry;
      }
    }
    Insert(action);
  }
}

void CSnMusicTrackContext::Process(int64_t time, int64_t length, float speed) {
  AddRef();
  if (State() == Stopping && StopOffset() != kNoStopOffset) length = StopOffset();
  m_frameTime = time;
  RunSchedule(time, length, speed);
  for (Automation* automation = m_automations; automation; automation = automation->next)
    Apply(*automation, time + length - automation->clipBegin);
  Release();
}

void CSnMusicTrackContext::Apply(const Automation& automation, int64_t at) {
  if (!automation.target) return;
  const float value = EvaluateMusicAutomation(*automation.automation, float(at));
  switch (automation.automation->type) {
    case Volume: automation.target->SetAutomationGain(Volume, value + 1.0f); break;
    case FadeIn:
    case FadeOut: automation.target->SetAutomationGain(automation.automation->type, value); break;
    case LowPass:
    case HighPass: automation.target->SetAutomationFilter(automation.automation->type - LowPass, value); break;
    default: break;
  }
}

void CSnMusicTrackContext::RunSchedule(int64_t time, int64_t length, float speed) {
  while (m_schedule && m_schedule->time < time + length) {
    Action* action = m_schedule;
    m_schedule = action->next;
    action->next = nullptr;
    if (action->kind == Action::PlayClip) {
      PlayClip(action, time, length, speed);
    } else if (action->target) {
      CSnChildContext* target = action->target;
      const int64_t offset = action->time - time;
      if (action->removeAutomations) {
        for (Automation** link = &m_automations; *link;) {
          Automation* automation = *link;
          if (automation->target != target) {
            link = &automation->next;
            continue;
          }
          Apply(*automation, time + length - automation->clipBegin);
          *link = automation->next;
          PoolDelete(g_DefaultPoolId, automation);
        }
      }
      target->StopFromOwner(uint32_t(offset > 0 ? offset : 0));
    }
    FreeAction(action);
  }
}

void CSnMusicTrackContext::PlayClip(Action* action, int64_t time, int64_t length, float speed) {
  const int64_t offset = action->time - time;
  const CSnSourceDesc* source = m_track->FindSource(action->clip->sourceId);
  if (source && IsMidi(*source)) {
    CSnChildContext* clip = CreateMidiClip(*action, int32_t(offset > 0 ? offset : 0));
    if (!clip) return;
    // A stop at an offset of this frame holds for it too; a fade's end reaches it through the tree.
    if (State() == Stopping && StopOffset() != kNoStopOffset) {
      clip->OnStopped(StopOffset());
      return;
    }
    if (Action* stop = NewClipStop(clip, *action->clip)) Insert(stop);
    return;
  }
  CSnMusicPlaybackInstance* voice = CreateClipSource(*action, int32_t(offset > 0 ? offset : 0), speed);
  if (!voice) return;
  const SnMusicTrackClip& clip = *action->clip;
  if (State() == Stopping) {
    // Stopping already: its automation's value at the window's end, once.
    while (Automation* automation = action->automations) {
      action->automations = automation->next;
      automation->target = voice;
      Apply(*automation, time + length - automation->clipBegin);
      PoolDelete(g_DefaultPoolId, automation);
    }
    return;
  }
  Action* stop = NewClipStop(voice, clip);
  if (!stop) return;
  while (Automation* automation = action->automations) {
    action->automations = automation->next;
    automation->target = voice;
    automation->next = m_automations;
    m_automations = automation;
    stop->removeAutomations = true;
    if (automation->automation->type == FadeIn) AlignEntry(voice, speed);
    if (automation->automation->type == FadeOut) voice->SetFlag(CSnMusicPlaybackInstance::kEndsWithFadeOut);
    Apply(*automation, time + length - automation->clipBegin);
  }
  Insert(stop);
}

CSnMusicTrackContext::Action* CSnMusicTrackContext::NewClipStop(CSnChildContext* child, const SnMusicTrackClip& clip) {
  auto* stop = m_actionRoom.New();
  if (!stop) {
    child->StopFromOwner(0);
    return nullptr;
  }
  stop->kind = Action::StopClip;
  stop->time = int64_t(clip.begin) + clip.length;
  stop->target = child;
  return stop;
}

CSnMusicPlaybackInstance* CSnMusicTrackContext::CreateClipSource(const Action& action, int32_t offset, float speed) {
  const CSnSourceDesc* source = m_track->FindSource(action.clip->sourceId);
  if (!source) return nullptr;
  CSnMusicSegmentContext* segment = Segment();
  SnPriorityRecord priority;
  VoiceManager::ComputePlayPriority(priority, m_track, segment->GameObject(), nullptr);
  if (VoiceManager::CheckGlobalVoiceLimit(priority.priority) == SN_Failure) return nullptr;
  CSnPlaybackInstance::Args args;
  args.node = m_track;
  args.source = source;
  args.gameObject = segment->GameObject();
  args.playingId = segment->PlayingId();
  args.priority = priority;
  args.seekOffset = action.sourceOffset;
  args.frameOffset = offset + action.lookAhead;
  auto* voice = NewMusicContext<CSnMusicPlaybackInstance>(args, this, action.clip, speed);
  if (!voice) {
    SOUND_LOG(Error, "Music track %u: no memory for the voice of a clip", m_track->ID());
    return nullptr;
  }
  voice->GetVoiceBehaviour();
  // Counted on its track as any voice is on its sound, the voice is the track's activity and its
  // ancestors' and bus's: their gains and mutes walk down to it through the track.
  uint8_t extra = 0;
  const bool mayGoVirtual = m_track->GetVoiceBehaviour(extra) != SnVirtual_Kill;
  bool asVirtual = false;
  SNRESULT result = VoiceManager::InitInstanceWithLimits(*m_track, *voice, priority.priority, segment->GameObject(),
                                                         mayGoVirtual, asVirtual);
  if (result == SN_Success) m_modulators.ShareWith(voice->Modulators());
  uint32_t reason = 0;
  if (result == SN_Success) result = voice->PrepareForPlay(0.0f, true, &reason);
  if (result == SN_Success) {
    // The fades of every context above it reach the voice from its first sample. A factor of 1 given
    // to a voice that holds none stores nothing and only works its gain out anew: the last one does.
    for (CSnMusicContext* context = this; context; context = context->Parent()) {
      if (context->PlayStopFactor() != 1.0f || voice->GainFactorCount())
        voice->SetGainFactor(context->PlayStopKey(), context->PlayStopFactor());
      if (context->PauseFactor() != 1.0f || voice->GainFactorCount() || !context->Parent())
        voice->SetGainFactor(context->PauseKey(), context->PauseFactor());
    }
    result = voice->Play(TransParamsBase{}, false, false);
  }
  if (result != SN_Success) {
    voice->Term(1);
    voice->Destroy();
    return nullptr;
  }
  VoiceManager::AddActiveInstance(voice);
  if (asVirtual) voice->EnterVirtual();
  return voice;
}

void CSnMusicTrackContext::AlignEntry(CSnMusicPlaybackInstance* voice, float speed) {
  const int32_t frame = int32_t(float(LowerEngine::SamplesPerFrame()) * speed + 0.5f);
  if (frame <= 0) return;
  const int32_t frameOffset = voice->FrameOffset() > 0 ? voice->FrameOffset() : 0;
  const int32_t rest = Modulo(voice->SeekSamples(), frame);
  if (rest <= frame / 2 && rest <= frameOffset) {
    if (rest >= 1) voice->MoveEntry(-rest);
  } else {
    voice->MoveEntry(frame - rest);
  }
}

bool CSnMusicTrackContext::GetSourceEntry(const CSnMusicPlaybackInstance& voice, int32_t& seek,
                                          int32_t& frameOffset) const {
  if (State() >= Stopping || !voice.Clip() || !voice.Source()) return false;
  const SnMusicTrackClip& clip = *voice.Clip();
  // A stream needs its look-ahead to read from the new place; the voice waits that long, in whole
  // frames of the music (the frames its delay counts down by).
  int64_t ahead = 0;
  if (IsStreamed(*voice.Source())) {
    const int64_t frame = int64_t(float(LowerEngine::SamplesPerFrame()) * voice.Speed() + 0.5f);
    if (frame > 0) ahead = (int64_t(voice.Source()->lookAhead) + frame - 1) / frame * frame;
  }
  // The frame being rendered began where this context's last frame did: the music pass runs first.
  const int64_t position = m_frameTime;
  if (position + ahead >= int64_t(clip.begin) + clip.length) return false;
  seek = Modulo(int64_t(clip.sourceOffset) - clip.begin + ahead + position, clip.sourceDuration);
  frameOffset = int32_t(ahead);
  return true;
}

CSnChildContext* CSnMusicTrackContext::CreateMidiClip(const Action& action, int32_t offset) {
  CSnMusicMidiPlaybackContext* playback = nullptr;
  for (CSnMusicContext* context = Parent(); context && !playback; context = context->Parent())
    if (auto* matrix = dynamic_cast<CSnMatrixAwareContext*>(context); matrix && matrix->PlayRoot())
      playback = &matrix->PlayRoot()->MidiContext();
  const CSnMusicSegmentContext* segment = Segment();
  CSnMusicMidiClipContext::Start start;
  start.source = m_track->FindSource(action.clip->sourceId);
  start.clip = action.clip;
  start.gameObject = segment->GameObject();
  start.playingId = segment->PlayingId();
  start.frameOffset = uint32_t(offset);
  start.sourceOffset = action.sourceOffset;
  CSnMusicMidiClipContext* clip = nullptr;
  if (CSnMusicMidiClipContext::Create(this, playback, start, clip) != SN_Success) return nullptr;
  return clip;
}

void CSnMusicTrackContext::Forget(const CSnChildContext* child) {
  for (Action* action = m_schedule; action; action = action->next)
    if (action->target == child) action->target = nullptr;
  for (Automation** link = &m_automations; *link;) {
    Automation* automation = *link;
    if (automation->target == child) {
      *link = automation->next;
      PoolDelete(g_DefaultPoolId, automation);
    } else {
      link = &automation->next;
    }
  }
}

void CSnMusicTrackContext::OnStopComplete() {
  AddRef();
  FreeSchedule();
  CSnMusicContext::OnStopComplete();
  if (CSnMusicSegmentContext* segment = Segment()) segment->RemoveStopActionsOf(this);
  if (!m_releasedByStop) {
    m_releasedByStop = true;
    Release();
  }
  Release();
}

}  // namespace SN
