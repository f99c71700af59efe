// The common behaviour of music contexts: the child list and references, stops that complete at
// once or at the end of the frame, nested pauses, and fades through the transition manager.
#include "MusicEngine/MusicContext.h"

#include "SoundEngine/Containers.h"
#include "SoundEngine/GameSyncs/ValueChange.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

void CSnChildContext::Connect() {
  if (m_parent) m_parent->AddChild(this);
}

void CSnChildContext::Disconnect() {
  if (m_parent) m_parent->RemoveChild(this);
}

CSnMusicContext::~CSnMusicContext() {
  for (CSnTransition* transition : {m_playStop, m_pauseResume})
    if (transition) transition->RemoveTarget(this);
}

template <typename Visit>
void CSnMusicContext::ForEachChild(Visit&& visit) {
  // The next sibling is taken first: a visited child may leave.
  for (CSnChildContext* child = m_firstChild; child;) {
    CSnChildContext* next = child->m_nextSibling;
    visit(child);
    child = next;
  }
}

void CSnMusicContext::AddChild(CSnChildContext* child) {
  child->m_nextSibling = m_firstChild;
  m_firstChild = child;
  AddRef();
}

void CSnMusicContext::RemoveChild(CSnChildContext* child) {
  for (CSnChildContext** link = &m_firstChild; *link; link = &(*link)->m_nextSibling) {
    if (*link != child) continue;
    *link = child->m_nextSibling;
    child->m_nextSibling = nullptr;
    Release();
    return;
  }
}

void CSnMusicContext::Release() {
  if (--m_refCount) return;
  if (Parent())
    Parent()->RemoveChild(this);
  else
    LeaveWithoutParent();
  DeleteSelf();
}

void CSnMusicContext::DeleteSelf() { PoolDelete(g_DefaultPoolId, this); }

// ---- the tree's calls ----

void CSnMusicContext::OnFrameEnd() {
  // Nothing below it and no stop to complete (a child made but not yet playing): nothing to do.
  if (!m_firstChild && State() != Stopping) return;
  AddRef();
  ForEachChild([](CSnChildContext* child) { child->OnFrameEnd(); });
  if (State() == Stopping) OnStopComplete();
  Release();
}

void CSnMusicContext::OnStopped(uint32_t offset) {
  AddRef();
  // Each child is held while it is told, from a copy of the list: a child may leave it. An only child
  // needs no copy.
  if (CSnChildContext* only = m_firstChild; only && !only->m_nextSibling) {
    only->AddRef();
    only->OnStopped(offset);
    only->Release();
  } else if (m_firstChild) {
    SnInlineArray<CSnChildContext*, 8> children;
    for (CSnChildContext* child = m_firstChild; child; child = child->m_nextSibling)
      if (children.Add(child)) child->AddRef();
    for (CSnChildContext* child : children) child->OnStopped(offset);
    for (CSnChildContext* child : children) child->Release();
  }
  if (offset < m_stopOffset) m_stopOffset = offset;
  if (m_stopOffset == 0) {
    OnStopComplete();
  } else if (State() == Idle || IsPaused()) {
    OnStopComplete();
  } else if (State() == Playing || State() == Stopping) {
    SetPlayState(Stopping);  // completes at the end of the frame
  }
  Release();
}

void CSnMusicContext::OnPaused() {
  ForEachChild([](CSnChildContext* child) { child->OnPaused(); });
  m_state |= kPaused;
  if (m_playStop) m_playStop->Pause();
}

void CSnMusicContext::OnResumed() {
  ForEachChild([](CSnChildContext* child) { child->OnResumed(); });
  m_state &= uint8_t(~kPaused);
  if (m_playStop) m_playStop->Resume();
}

void CSnMusicContext::SetGainFactor(const void* key, float value) {
  ForEachChild([&](CSnChildContext* child) { child->SetGainFactor(key, value); });
}

void CSnMusicContext::SetParam(uint32_t parameterId, float value) {
  ForEachChild([&](CSnChildContext* child) { child->SetParam(parameterId, value); });
}

void CSnMusicContext::OnReset() {
  ForEachChild([](CSnChildContext* child) { child->OnReset(); });
}

// ---- fades ----

void CSnMusicContext::Fade(CSnTransition*& slot, uint32_t kind, float from, float to, int32_t timeMs,
                           uint32_t curve) {
  SnTransitionParams params;
  params.target = this;
  params.kind = kind;
  params.initial = from;
  params.end = to;
  params.timeMs = timeMs > 0 ? uint32_t(timeMs) : 0;
  params.curve = curve;
  slot = g_pTransitionMgr ? g_pTransitionMgr->AddTransition(params, true, CSnTransitionMgr::List_Ordinary) : nullptr;
  if (!slot) TransitionUpdate(kind, to, true);
}

void CSnMusicContext::Play(const SnMusicFade& fade) {
  if (State() != Idle && State() != Playing) return;
  if (m_playStop) {
    m_playStop->Retarget(SnTransitionKind_PlayFadeIn, 1.0f, uint32_t(fade.timeMs > 0 ? fade.timeMs : 0), fade.curve,
                         SnValueMeaning_Absolute);
  } else if (fade.timeMs > 0) {
    Fade(m_playStop, SnTransitionKind_PlayFadeIn, 0.0f, 1.0f, fade.timeMs, fade.curve);
    // A fade-in that began before the music it brings in is part-way through already.
    const int32_t frame = int32_t(LowerEngine::SamplesPerFrame());
    if (m_playStop && fade.offset != 0 && frame > 0)
      m_playStop->AddElapsedFrames(fade.offset / frame, g_pTransitionMgr->Now());
  } else {
    TransitionUpdate(SnTransitionKind_PlayFadeIn, 1.0f, true);
  }
  SetPlaying();
}

void CSnMusicContext::Stop(int32_t timeMs, uint32_t curve, uint32_t offset) {
  if (IsPaused()) {
    OnStopped(offset);
  } else if (m_playStop) {
    m_playStop->Retarget(SnTransitionKind_StopFadeOut, 0.0f, uint32_t(timeMs > 0 ? timeMs : 0), curve,
                         SnValueMeaning_Absolute);
  } else if (timeMs >= 1 && (State() == Playing || State() == Stopping)) {
    Fade(m_playStop, SnTransitionKind_StopFadeOut, 1.0f, 0.0f, timeMs, curve);
  } else {
    OnStopped(offset);
  }
}

void CSnMusicContext::Pause(int32_t timeMs, uint32_t curve) {
  ++m_pauseCount;
  if (m_pauseResume)
    m_pauseResume->Retarget(SnTransitionKind_PauseFadeOut, 0.0f, uint32_t(timeMs > 0 ? timeMs : 0), curve,
                            SnValueMeaning_Absolute);
  else
    Fade(m_pauseResume, SnTransitionKind_PauseFadeOut, 1.0f, 0.0f, timeMs, curve);
}

void CSnMusicContext::Resume(int32_t timeMs, uint32_t curve, bool force) {
  if (!force && m_pauseCount > 1) {
    --m_pauseCount;
    return;
  }
  m_pauseCount = 0;
  if (m_pauseResume) {
    m_pauseResume->Retarget(SnTransitionKind_ResumeFadeIn, 1.0f, uint32_t(timeMs > 0 ? timeMs : 0), curve,
                            SnValueMeaning_Absolute);
  } else if (timeMs < 1) {
    m_pauseFactor = 1.0f;
    SetGainFactor(PauseKey(), 1.0f);
  } else {
    Fade(m_pauseResume, SnTransitionKind_ResumeFadeIn, m_pauseFactor, 1.0f, timeMs, curve);
  }
  OnResumed();
}

void CSnMusicContext::TransitionUpdate(uint32_t kind, float value, bool done) {
  if (kind == SnTransitionKind_PlayFadeIn || kind == SnTransitionKind_StopFadeOut) {
    m_playStopFactor = value;
    SetGainFactor(PlayStopKey(), value);
    if (!done) return;
    m_playStop = nullptr;
    if (kind == SnTransitionKind_StopFadeOut) OnStopped(kNoStopOffset);
  } else if (kind == SnTransitionKind_PauseFadeOut || kind == SnTransitionKind_ResumeFadeIn) {
    m_pauseFactor = value;
    SetGainFactor(PauseKey(), value);
    if (!done) return;
    m_pauseResume = nullptr;
    if (kind == SnTransitionKind_PauseFadeOut) OnPaused();
  }
}

}  // namespace SN
