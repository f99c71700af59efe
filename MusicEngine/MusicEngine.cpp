// The music engine's entry points and the renderer's life: made once, freed at the last frame.
#include "MusicEngine/MusicEngine.h"

#include <cmath>

#include "MusicEngine/MusicRenderer.h"
#include "MusicEngine/MusicSegmentInfo.h"
#include "MusicEngine/MusicTransitionNode.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/PoolObject.h"
#include "SoundEngine/SoundEngine.h"

namespace SN {

namespace {
CSnMusicRenderer*& TheRenderer() {
  static CSnMusicRenderer* renderer = nullptr;
  return renderer;
}

}  // namespace

CSnMusicRenderer* CSnMusicRenderer::Instance() { return TheRenderer(); }

SNRESULT CSnMusicRenderer::Create(const SnMusicSettings& settings) {
  // The audio thread may already be running frames, reading the renderer from each.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  if (CSnMusicRenderer* renderer = TheRenderer()) {
    renderer->m_settings = settings;
    return SN_Success;
  }
  auto* renderer = PoolNew<CSnMusicRenderer>(g_DefaultPoolId, settings);
  if (!renderer) return SN_Failure;
  // Registered only with a new renderer: a second Init must not advance music twice a frame.
  if (SoundEngine::AddBehavioralExtension(&CSnMusicRenderer::Frame) != SN_Success) {
    PoolDelete(g_DefaultPoolId, renderer);
    return SN_Failure;
  }
  TheRenderer() = renderer;
  return SN_Success;
}

void CSnMusicRenderer::Frame(bool lastCall) {
  if (lastCall) {
    Destroy();
    return;
  }
  if (CSnMusicRenderer* renderer = TheRenderer()) renderer->RenderFrame();
}

void CSnMusicRenderer::Destroy() {
  CSnMusicRenderer* renderer = TheRenderer();
  if (!renderer) return;
  renderer->StopAll();
  TheRenderer() = nullptr;
  // Out of the frame too: a later Init joins it afresh, once.
  SoundEngine::RemoveBehavioralExtension(&CSnMusicRenderer::Frame);
  SoundEngine::SetExtraHircObjectLoader(nullptr);
  SoundEngine::SetStateChangeHook(nullptr);
  CSnMusicTransitionAwareNode::FreeDefaultRule();
  // The plays stop with the sound engine; their contexts go with it.
  renderer->m_topHead = renderer->m_topTail = nullptr;
  renderer->FreePendingStates();
  SegmentInfoRepository::Clear();
  PoolDelete(g_DefaultPoolId, renderer);
}

namespace MusicEngine {

void GetDefaultInitSettings(SnMusicSettings& settings) { settings = SnMusicSettings{}; }

SNRESULT Init(SnMusicSettings* settings) {
  if (!SoundEngine::IsInitialized()) return SN_Failure;  // the caller says the music engine is missing
  SnMusicSettings effective;
  if (settings) effective = *settings;
  if (!std::isfinite(effective.streamingLookAheadRatio) || effective.streamingLookAheadRatio < 0.0f) {
    SOUND_LOG(Warning, "Music engine: a look-ahead ratio of %g is taken as 1.0",
              double(effective.streamingLookAheadRatio));
    effective.streamingLookAheadRatio = 1.0f;
  }
  const SNRESULT result = CSnMusicRenderer::Create(effective);
  if (result != SN_Success) {
    SOUND_LOG(Error, "Music engine: no memory for the music renderer");
    return result;
  }
  if (settings) *settings = effective;
  SoundEngine::SetExtraHircObjectLoader(&CSnMusicRenderer::LoadHircObject);
  SoundEngine::SetStateChangeHook(&CSnMusicRenderer::OnStateChange);
  return SN_Success;
}

void Term() {}

}  // namespace MusicEngine
}  // namespace SN
