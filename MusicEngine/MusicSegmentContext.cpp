// The segment context: its timed track work done as frames reach it, its track contexts advanced
// from the segment's beginning, and switch tracks moving from sub-track to sub-track at their sync
// points with room left for streaming.
#include "MusicEngine/MusicSegmentContext.h"

#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicSegment.h"
#include "MusicEngine/MusicTrack.h"
#include "MusicEngine/MusicTrackContext.h"
#include "SoundEngine/GameSyncs/RTPCKey.h"
#include "MusicEngine/MusicContextBlocks.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

// ---- switch followers ----

CSnMusicTrackSwitchFollower::CSnMusicTrackSwitchFollower(CSnMusicSegmentContext* segment, CSnMusicTrackNode* track)
    : track(track), m_segment(segment) {
  track->AddRef();
}

CSnMusicTrackSwitchFollower::~CSnMusicTrackSwitchFollower() {
  if (m_subscribed) {
    if (track->SwitchParams()->groupType == SnGameSyncGroup_State) {
      if (g_pStateMgr) g_pStateMgr->RemoveStateSubscriber(this);
    } else if (g_pSwitchMgr) {
      g_pSwitchMgr->UnsubscribeSwitches(this);
    }
  }
  track->Release();
}

bool CSnMusicTrackSwitchFollower::Init() {
  const SnMusicTrackSwitchParams& params = *track->SwitchParams();
  if (params.groupType == SnGameSyncGroup_State) {
    if (!g_pStateMgr || g_pStateMgr->AddStateSubscriber(this, params.groupId) != SN_Success) return false;
    current = g_pStateMgr->GetCurrentState(params.groupId);
  } else {
    if (!g_pSwitchMgr || g_pSwitchMgr->SubscribeSwitch(this, params.groupId) != SN_Success) return false;
    SnRTPCKey key = SnRTPCKey::ForObject(m_segment->GameObject());
    current = g_pSwitchMgr->GetCurrentSwitch(params.groupId, key);
  }
  m_subscribed = true;
  if (current == 0) current = params.defaultSwitch;
  previous = current;
  return true;
}

bool CSnMusicTrackSwitchFollower::Matches(uint32_t subTrack) const {
  return track->SwitchOfSubTrack(subTrack) == current;
}

void CSnMusicTrackSwitchFollower::SwitchChanged(uint32_t switchId, const SnRTPCKey& key, const void*) {
  Changed(switchId, key);
}

void CSnMusicTrackSwitchFollower::StateChanged(uint32_t stateId, const SnRTPCKey& key, const void*) {
  Changed(stateId, key);
}

void CSnMusicTrackSwitchFollower::Changed(uint32_t switchId, const SnRTPCKey& key) {
  // A switch of another game object is not this play's.
  if (key.gameObject && key.gameObject != m_segment->GameObject()) return;
  if (switchId == 0) switchId = track->SwitchParams()->defaultSwitch;
  if (switchId == current) return;
  previous = current;
  current = switchId;
  m_segment->OnSwitchChange(this);
}

// ---- the context ----

CSnMusicSegmentContext* CSnMusicSegmentContext::Create(CSnMusicSegmentNode* segment, CSnMusicContext* parent,
                                                       CSnRegisteredObj* gameObject, uint32_t playingId) {
  if (segment->MarkerCount() < 2) return nullptr;
  auto* context =
      NewMusicContext<CSnMusicSegmentContext>(segment, parent, gameObject, playingId);
  if (!context) return nullptr;
  context->AddRef();
  context->Connect();
  if (!context->InitFollowers()) {
    context->Release();
    return nullptr;
  }
  return context;
}

CSnMusicSegmentContext::CSnMusicSegmentContext(CSnMusicSegmentNode* segment, CSnMusicContext* parent,
                                               CSnRegisteredObj* gameObject, uint32_t playingId)
    : CSnMusicContext(parent), m_segment(segment), m_gameObject(gameObject), m_playingId(playingId) {
  m_segment->AddRef();
}

CSnMusicSegmentContext::~CSnMusicSegmentContext() {
  while (CSnMusicTrackSwitchFollower* follower = m_followers) {
    m_followers = follower->next;
    PoolDelete(g_DefaultPoolId, follower);
  }
  FreeActions();
  m_segment->Release();
}

void CSnMusicSegmentContext::DeleteSelf() { DeleteMusicContext(this); }

bool CSnMusicSegmentContext::InitFollowers() {
  for (uint32_t i = 0; i < m_segment->ChildCount(); ++i) {
    auto* track = static_cast<CSnMusicTrackNode*>(m_segment->Child(i));
    if (track->TrackType() != SnMusicTrack_Switch || !track->SwitchParams()) continue;
    auto* follower = PoolNew<CSnMusicTrackSwitchFollower>(g_DefaultPoolId, this, track);
    if (!follower) continue;
    if (!follower->Init()) {
      SOUND_LOG(Error, "Music track %u: its switch group %u cannot be followed", track->ID(),
                track->SwitchParams()->groupId);
      PoolDelete(g_DefaultPoolId, follower);
      continue;
    }
    follower->next = m_followers;
    m_followers = follower;
  }
  return true;
}

int64_t CSnMusicSegmentContext::CurrentPosition() const { return m_position + m_segment->GetPreEntryDuration(); }

// ---- actions ----

CSnMusicSegmentContext::Action* CSnMusicSegmentContext::NewAction(uint32_t kind, int64_t time) {
  auto* action = m_actionRoom.New();
  if (!action) return nullptr;
  action->kind = kind;
  action->time = time;
  action->fade = SnMusicFade{0, 4, 0};
  return action;
}

void CSnMusicSegmentContext::Insert(Action* action) {
  Action** link = &m_actions;
  while (*link && (*link)->time <= action->time) link = &(*link)->next;
  action->next = *link;
  *link = action;
}

void CSnMusicSegmentContext::Remove(Action* action) {
  for (Action** link = &m_actions; *link; link = &(*link)->next) {
    if (*link != action) continue;
    *link = action->next;
    FreeAction(action);
    return;
  }
}

void CSnMusicSegmentContext::FreeAction(Action* action) {
  if (action->kind == Action::PlayTrack && action->track) action->track->Release();
  m_actionRoom.Delete(action);
}

void CSnMusicSegmentContext::FreeActions() {
  while (Action* action = m_actions) {
    m_actions = action->next;
    FreeAction(action);
  }
}

void CSnMusicSegmentContext::RemoveStopActionsOf(const CSnMusicTrackContext* trackContext) {
  for (Action** link = &m_actions; *link;) {
    Action* action = *link;
    if (action->kind == Action::StopTrack && action->trackContext == trackContext) {
      *link = action->next;
      FreeAction(action);
    } else {
      link = &action->next;
    }
  }
}

void CSnMusicSegmentContext::ScheduleSwitchChange(CSnMusicTrackSwitchFollower* follower, int64_t time) {
  for (Action** link = &m_actions; *link;) {
    Action* action = *link;
    if (action->kind == Action::SwitchChange && action->follower == follower && action->time >= time) {
      *link = action->next;
      FreeAction(action);
    } else {
      link = &action->next;
    }
  }
  if (Action* action = NewAction(Action::SwitchChange, time)) {
    action->follower = follower;
    Insert(action);
  }
}

void CSnMusicSegmentContext::SetPlaying() {
  CSnMusicContext::SetPlaying();
  ScheduleInitialTracks();
}

void CSnMusicSegmentContext::ScheduleInitialTracks() {
  const int64_t t = m_position;
  for (uint32_t i = 0; i < m_segment->ChildCount(); ++i) {
    auto* track = static_cast<CSnMusicTrackNode*>(m_segment->Child(i));
    CSnMusicTrackSwitchFollower* follower = nullptr;
    for (CSnMusicTrackSwitchFollower* f = m_followers; f; f = f->next)
      if (f->track == track) follower = f;
    auto schedulePlay = [&](uint32_t subTrack) {
      Action* action = NewAction(Action::PlayTrack, t);
      if (!action) return;
      track->AddRef();
      action->track = track;
      action->subTrack = uint16_t(subTrack);
      action->beginPosition = m_beginReference;
      Insert(action);
    };
    if (track->TrackType() != SnMusicTrack_Switch) {
      schedulePlay(track->SelectSubTrack());
      continue;
    }
    if (!follower) continue;
    for (uint32_t sub = 0; sub < track->SubTrackCount(); ++sub)
      if (follower->Matches(sub)) schedulePlay(sub);
    ScheduleSwitchChange(follower, t);
  }
}

CSnMusicTrackContext* CSnMusicSegmentContext::LiveTrackContext(const CSnMusicTrackNode* track,
                                                               uint32_t subTrack) const {
  for (CSnChildContext* child = FirstChild(); child; child = child->NextSibling()) {
    auto* context = static_cast<CSnMusicTrackContext*>(child);
    if (context->Track() == track && context->SubTrack() == subTrack && context->State() < Stopping) return context;
  }
  return nullptr;
}

void CSnMusicSegmentContext::ProcessActions(int64_t position, int64_t length) {
  while (m_actions && m_actions->time < position + length) {
    Action* action = m_actions;
    m_actions = action->next;
    if (action->kind == Action::PlayTrack) {
      if (!LiveTrackContext(action->track, action->subTrack)) {
        CSnMusicTrackContext* context = CSnMusicTrackContext::Create(this, action->track, action->subTrack);
        if (context) {
          context->SetBeginPosition(MusicTimeToS32(action->beginPosition + m_segment->GetPreEntryDuration()));
          context->Play(SnMusicFade{action->fade.timeMs, action->fade.curve, 0});
          if (State() == Stopping) context->Stop(0, 4, StopOffset());
        }
      }
    } else if (action->kind == Action::StopTrack && action->trackContext) {
      const int64_t offset = action->time - position;
      action->trackContext->Stop(action->fade.timeMs, action->fade.curve, uint32_t(offset > 0 ? offset : 0));
    }
    FreeAction(action);
  }
}

void CSnMusicSegmentContext::Perform(int64_t position, int64_t length, float speed) {
  AddRef();
  m_position = position;
  if (State() == Stopping && StopOffset() != kNoStopOffset) length = StopOffset();
  ProcessActions(position, length);
  const int64_t time = position + m_segment->GetPreEntryDuration();
  for (CSnChildContext* child = FirstChild(); child;) {
    CSnChildContext* next = child->NextSibling();
    auto* context = static_cast<CSnMusicTrackContext*>(child);
    if ((context->State() == Playing || context->State() == Stopping) && !context->IsPaused())
      context->Process(time, length, speed);
    child = next;
  }
  m_position = position + length;
  Release();
}

int64_t CSnMusicSegmentContext::GetLookAhead(int64_t position) {
  m_beginReference = position;
  int64_t most = 0;
  const int64_t at = position + m_segment->GetPreEntryDuration();
  for (uint32_t i = 0; i < m_segment->ChildCount(); ++i) {
    const int64_t need = static_cast<CSnMusicTrackNode*>(m_segment->Child(i))->GetMaxLookAhead(MusicTimeToS32(at));
    if (need > most) most = need;
  }
  return most;
}

template <typename Match>
bool CSnMusicSegmentContext::KeepActionsBy(int64_t time, Match&& match) {
  bool kept = false;
  for (Action** link = &m_actions; *link;) {
    Action* action = *link;
    if (match(*action) && action->time > time) {
      *link = action->next;
      FreeAction(action);
      continue;
    }
    kept = kept || match(*action);
    link = &action->next;
  }
  return kept;
}

void CSnMusicSegmentContext::OnSwitchChange(CSnMusicTrackSwitchFollower* follower) {
  const SnMusicTrackSwitchParams& params = *follower->track->SwitchParams();
  if (params.syncType >= SnMusicTrackSwitchParams::kNoSync) return;
  const int64_t now = m_position;
  const int64_t fadeOutLead = int64_t(params.fadeOutOffset) - MusicRateMs(MusicSampleRate(), params.fadeOutMs);
  int64_t from = MusicTimeSub(now, fadeOutLead);
  if (from < now) from = now;
  if (from < 0) from = 0;
  uint32_t cue = 0;
  int32_t point = 0;
  if (from > INT32_MAX ||
      m_segment->FindSyncPoint(int32_t(from), params.syncType, params.cueFilter, false, cue, point) != SN_Success)
    return;
  const int64_t preEntry = m_segment->GetPreEntryDuration();
  int64_t need = 0;
  for (;;) {
    need = follower->track->GetMaxLookAhead(MusicTimeToS32(preEntry + point));
    const int64_t candidate = need - params.fadeInOffset + now;
    if (candidate <= point) break;
    // Not enough time to stream before this point: the next one.
    if (candidate > INT32_MAX ||
        m_segment->FindSyncPoint(int32_t(candidate), params.syncType, params.cueFilter, false, cue, point) != SN_Success)
      return;
  }
  const int64_t active = m_segment->GetActiveDuration();
  if (point > active || (point == active && m_segment->GetPostExitDuration() == 0)) return;
  const int64_t fadeInAt = int64_t(point) + params.fadeInOffset - need;
  const int64_t fadeOutAt = int64_t(point) + fadeOutLead;
  CSnMusicTrackNode* track = follower->track;

  // Pending work the change makes wrong goes: stops of sub-tracks that match again, plays of those
  // that no longer do.
  for (Action** link = &m_actions; *link;) {
    Action* action = *link;
    const bool wrongStop = action->kind == Action::StopTrack && action->time >= fadeInAt &&
                           action->trackContext->Track() == track && follower->Matches(action->trackContext->SubTrack());
    const bool wrongPlay = action->kind == Action::PlayTrack && action->time >= fadeOutAt && action->track == track &&
                           !follower->Matches(action->subTrack);
    if (wrongStop || wrongPlay) {
      *link = action->next;
      FreeAction(action);
    } else {
      link = &action->next;
    }
  }
  // Playing sub-tracks that no longer match stop at the fade-out.
  for (CSnChildContext* child = FirstChild(); child; child = child->NextSibling()) {
    auto* context = static_cast<CSnMusicTrackContext*>(child);
    if (context->Track() != track || context->State() >= Stopping || follower->Matches(context->SubTrack())) continue;
    if (KeepActionsBy(fadeOutAt, [&](const Action& a) { return a.kind == Action::StopTrack && a.trackContext == context; }))
      continue;
    if (Action* action = NewAction(Action::StopTrack, fadeOutAt)) {
      action->trackContext = context;
      action->fade = SnMusicFade{int32_t(params.fadeOutMs), params.fadeOutCurve, 0};
      Insert(action);
    }
  }
  // Matching sub-tracks play from the fade-in.
  for (uint32_t sub = 0; sub < track->SubTrackCount(); ++sub) {
    if (!follower->Matches(sub)) continue;
    const bool planned = KeepActionsBy(
        fadeInAt, [&](const Action& a) { return a.kind == Action::PlayTrack && a.track == track && a.subTrack == sub; });
    if (planned || LiveTrackContext(track, sub)) continue;
    if (Action* action = NewAction(Action::PlayTrack, fadeInAt)) {
      track->AddRef();
      action->track = track;
      action->subTrack = uint16_t(sub);
      action->fade = SnMusicFade{int32_t(params.fadeInMs), params.fadeInCurve, 0};
      action->beginPosition = fadeInAt + need;
      Insert(action);
    }
  }
  ScheduleSwitchChange(follower, point);
}

void CSnMusicSegmentContext::OnStopComplete() {
  AddRef();
  FreeActions();
  CSnMusicContext::OnStopComplete();
  if (CSnMusicChainItem* item = m_item) {
    m_item = nullptr;
    item->SegmentEnded();
  }
  Release();
}

}  // namespace SN
