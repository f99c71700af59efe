// The renderer's node-wide commands: stop, pause, resume and seek every play of a node, chosen by
// game object and playing id, each play's successor taken before it is acted on.
#include "MusicEngine/MusicChain.h"
#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicTopContext.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"

namespace SN {

template <typename Act>
void CSnMusicRenderer::ForEachPlayOf(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                                     Act&& act) {
  for (CSnMusicTopContext* play = m_topHead; play;) {
    CSnMusicTopContext* next = play->m_nextTop;
    CSnMatrixAwareContext* top = play->TopContext();
    if (top && top->GetNode() == node && (!gameObject || play->PlayGameObject() == gameObject) &&
        (!playingId || play->PlayingId() == playingId)) {
      // The command may end the play: its context is held while it runs.
      top->AddRef();
      act(top, play->PlayingId());
      top->Release();
    }
    play = next;
  }
}

void CSnMusicRenderer::StopNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                                int32_t timeMs, uint32_t curve) {
  ForEachPlayOf(node, gameObject, playingId,
                [&](CSnMatrixAwareContext* top, uint32_t) { top->Stop(timeMs, curve, CSnMusicContext::kNoStopOffset); });
}

void CSnMusicRenderer::PauseNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                                 int32_t timeMs, uint32_t curve) {
  ForEachPlayOf(node, gameObject, playingId, [&](CSnMatrixAwareContext* top, uint32_t) { top->Pause(timeMs, curve); });
}

void CSnMusicRenderer::ResumeNode(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                                  int32_t timeMs, uint32_t curve, bool force) {
  ForEachPlayOf(node, gameObject, playingId,
                [&](CSnMatrixAwareContext* top, uint32_t) { top->Resume(timeMs, curve, force); });
}

void CSnMusicRenderer::StopAll() {
  for (CSnMusicTopContext* play = m_topHead; play;) {
    CSnMusicTopContext* next = play->m_nextTop;
    if (CSnMatrixAwareContext* top = play->TopContext()) {
      top->AddRef();
      top->StopNow();
      top->Release();
    }
    play = next;
  }
}

namespace {
void TellBegan(uint32_t playingId) {
  if (!g_pPlayingIDCallbackMgr || !playingId) return;
  SnEventCallbackInfo info{};
  g_pPlayingIDCallbackMgr->NotifyEvent(SnCallback_MusicPlayStarted, playingId, info);
}
}  // namespace

void CSnMusicRenderer::SeekNodeByTime(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject, uint32_t playingId,
                                      int32_t ms, bool snapToMarker) {
  ForEachPlayOf(node, gameObject, playingId, [&](CSnMatrixAwareContext* top, uint32_t id) {
    if (top->SeekTime(ms, snapToMarker) == SN_Success) TellBegan(id);
  });
}

void CSnMusicRenderer::SeekNodeByPercent(const CSnHierarchyNode* node, CSnRegisteredObj* gameObject,
                                         uint32_t playingId, float fraction, bool snapToMarker) {
  ForEachPlayOf(node, gameObject, playingId, [&](CSnMatrixAwareContext* top, uint32_t id) {
    if (top->SeekPercent(fraction, snapToMarker) == SN_Success) TellBegan(id);
  });
}

}  // namespace SN
