// The music voice: a playback instance that follows its track context's stops, pauses, fades and
// speed, stops at an exact sample of the frame and plays its speed as pitch.
#include "MusicEngine/MusicPlaybackInstance.h"

#include <cmath>

#include "MusicEngine/MusicContextBlocks.h"
#include "MusicEngine/MusicTrackContext.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PoolObject.h"

namespace SN {

namespace {
constexpr uint32_t kSpeedParameter = 54;
// Automation factors keep a key of their own per type, away from the contexts' pointer keys.
constexpr uint32_t kAutomationKeyBase = 0x7FFFFF00u;
}  // namespace

uint32_t MusicGainKey(const void* holder) {
  const uint64_t bits = uint64_t(reinterpret_cast<uintptr_t>(holder));
  // Bit 31 is the factor's kind: the key lives in the 31 below it.
  return uint32_t((bits >> 2) ^ (bits >> 33)) & 0x7FFFFEFFu;
}

CSnMusicPlaybackInstance::CSnMusicPlaybackInstance(const Args& args, CSnMusicTrackContext* owner,
                                                   const SnMusicTrackClip* clip, float speed)
    : CSnPlaybackInstance(args), CSnChildContext(owner), m_clip(clip) {
  m_playbackSpeed = speed;
}

CSnMusicTrackContext* CSnMusicPlaybackInstance::Owner() const { return static_cast<CSnMusicTrackContext*>(Parent()); }

SNRESULT CSnMusicPlaybackInstance::Init(CSnNodeLimiter* limiterA, CSnNodeLimiter* limiterB) {
  Connect();
  return CSnPlaybackInstance::Init(limiterA, limiterB);
}

void CSnMusicPlaybackInstance::Term(uint32_t flags) {
  if (!(m_musicFlags & kDetached) && Owner()) Owner()->Forget(this);
  m_musicFlags |= kDetached;
  // Leaving may free the track context: nothing of it is used after this.
  Disconnect();
  CSnPlaybackInstance::Term(flags);
}

void CSnMusicPlaybackInstance::Destroy() { DeleteMusicContext(this); }

void CSnMusicPlaybackInstance::StopNow(uint8_t reason, bool flag) {
  if (flag && m_stopOffset >= 0) return;
  CSnPlaybackInstance::StopNow(reason, false);
}

void CSnMusicPlaybackInstance::ComputeParameters() {
  CSnPlaybackInstance::ComputeParameters();
  m_block.params[0] += float(1200.0 * std::log2(double(m_playbackSpeed)));
}

SNRESULT CSnMusicPlaybackInstance::SyncSeekFromOwner() {
  CSnMusicTrackContext* owner = (m_musicFlags & kDetached) ? nullptr : Owner();
  int32_t seek = 0, frameOffset = 0;
  if (!owner || !owner->GetSourceEntry(*this, seek, frameOffset)) return SN_Failure;
  m_sourceSeek = SnSeekRequest{};
  m_sourceSeek.outputFrames = uint64_t(seek);
  m_sourceSeek.pending = true;
  m_seekTarget = uint32_t(seek);
  m_seekPending = true;
  m_pendingOffset = frameOffset > 0 ? frameOffset : -1;
  m_hasFrameOffset = frameOffset > 0;
  return SN_Success;
}

void CSnMusicPlaybackInstance::StopFromOwner(uint32_t offset) {
  m_musicFlags |= kDetached;
  OnStopped(offset);
}

void CSnMusicPlaybackInstance::OnStopped(uint32_t offset) {
  if (offset != CSnMusicContext::kNoStopOffset) {
    const double exact = double(offset) / double(m_playbackSpeed);
    const int64_t samples = int64_t(exact + 0.5);
    const int32_t frames = samples > INT32_MAX ? INT32_MAX : int32_t(samples);
    if (m_stopOffset < 0 || frames < m_stopOffset) m_stopOffset = frames;
  }
  TransParamsBase now;
  now.shape = SnCurve_Linear;
  Stop(now, !(m_stopOffset >= 0 && !(m_musicFlags & kEndsWithFadeOut)));
}

// Silenced across this frame, which the music's clock still plays; its voice pauses after the frame,
// when the clock stops: a source that went on reading would come back ahead of the music.
void CSnMusicPlaybackInstance::OnPaused() {
  PauseNow(true);
  VoiceManager::QueueInstanceCommand(this, SnInstanceCommand_PauseVoice, 0, 0.0f);
}

void CSnMusicPlaybackInstance::OnInstanceCommand(uint32_t kind, uint32_t parameter, float time) {
  if (kind != SnInstanceCommand_PauseVoice) {
    CSnPlaybackInstance::OnInstanceCommand(kind, parameter, time);
    return;
  }
  if (m_paused && !m_stoppedNow) PostVoiceCommand(SnVoiceCommand_Pause);
}

void CSnMusicPlaybackInstance::OnResumed() {
  ResumeNow();
  m_pauseResumeFactor = 1.0f;
  RecomputeGain();
}

void CSnMusicPlaybackInstance::SetGainFactor(const void* key, float value) {
  SetGainFactorEntry(value, MusicGainKey(key), false, true);
}

void CSnMusicPlaybackInstance::SetAutomationGain(uint32_t type, float value) {
  SetGainFactorEntry(value, kAutomationKeyBase + type, false, true);
}

void CSnMusicPlaybackInstance::SetAutomationFilter(uint32_t filter, float value) {
  if (filter > 1) return;
  if (!std::isfinite(value)) value = 0.0f;
  float& offset = m_paramOffsets[1 + filter];
  const float delta = value - offset;
  offset = value;
  if (m_paramsComputed && delta != 0.0f) ParamChanged(3 + filter, value, delta);
}

void CSnMusicPlaybackInstance::SetParam(uint32_t parameterId, float value) {
  if (parameterId != kSpeedParameter) return;
  m_playbackSpeed = value;
  if (m_paramsComputed) ComputeParameters();
}

void CSnMusicPlaybackInstance::MoveEntry(int32_t samples) {
  const int64_t seek = int64_t(m_sourceSeek.outputFrames) + samples;
  m_sourceSeek.outputFrames = uint64_t(seek > 0 ? seek : 0);
  m_seekTarget = uint32_t(m_sourceSeek.outputFrames);
  m_sourceSeek.pending = m_seekPending = m_sourceSeek.outputFrames != 0;
  const int32_t frameOffset = (m_pendingOffset > 0 ? m_pendingOffset : 0) + samples;
  m_pendingOffset = frameOffset > 0 ? frameOffset : -1;
  m_hasFrameOffset = frameOffset > 0;
}

}  // namespace SN
