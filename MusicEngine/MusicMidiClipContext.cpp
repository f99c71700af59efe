// The MIDI clip context: its target node found through the track's MIDI settings, its media opened
// at the segment's tempo from where the clip begins, its frames queued to the play's MIDI clock, and
// the stops and pauses of the music tree turned into what MIDI notes do.
#include "MusicEngine/MusicMidiClipContext.h"

#include "MusicEngine/MusicMidiPlaybackContext.h"
#include "MusicEngine/MusicNode.h"
#include "MusicEngine/MusicTrack.h"
#include "MusicEngine/MusicTrackContext.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/ObjectIndex.h"

namespace SN {

namespace {
// The node id a music object aims its MIDI at.
constexpr uint32_t kMidiTargetProperty = 56;

CSnIndexedObject* LookUp(uint32_t id, bool isBus) {
  if (!id || !g_pObjectIndex) return nullptr;
  return g_pObjectIndex->FindNodeAndAddRef(id, isBus);
}
}  // namespace

CSnIndexedObject* FindMusicMidiTarget(const CSnMusicTrackNode& track) {
  const uint8_t flags = track.TrackFlags();
  if (flags & CSnMusicTrackNode::kTrackMidiOverridesEvents)
    return LookUp(uint32_t(track.IntProperty(kMidiTargetProperty)), flags & CSnMusicTrackNode::kTrackMidiOption);
  for (const CSnHierarchyNode* at = track.Parent(); at; at = at->Parent()) {
    const auto* music = dynamic_cast<const CSnMusicHierarchyNode*>(at);
    if (!music) break;
    const uint8_t own = music->MusicFlags();
    if (own & CSnMusicHierarchyNode::kMusicOverridesTracking)
      return LookUp(uint32_t(music->IntProperty(kMidiTargetProperty)), own & CSnMusicHierarchyNode::kMusicMidiOption);
  }
  return nullptr;
}

CSnMusicMidiClipContext::CSnMusicMidiClipContext(CSnMusicTrackContext* track, CSnMusicMidiPlaybackContext* playback,
                                                 const Start& start, CSnIndexedObject* node)
    : CSnMidiEventTarget(node->ID(), start.gameObject, start.playingId, node),
      CSnChildContext(track),
      m_playback(playback),
      m_source(start.source),
      m_clip(start.clip),
      m_link(SnRTPCKey::ForObjectAndPlayingId(start.gameObject, start.playingId)) {}

SNRESULT CSnMusicMidiClipContext::Create(CSnMusicTrackContext* track, CSnMusicMidiPlaybackContext* playback,
                                         const Start& start, CSnMusicMidiClipContext*& out) {
  out = nullptr;
  if (!start.source) return SN_NoSource;
  CSnMusicTrackNode& trackNode = *track->Track();
  CSnIndexedObject* node = FindMusicMidiTarget(trackNode);
  if (!node) {
    SOUND_LOG(Error, "Music track %u: its MIDI clip aims at no loaded node; it plays nothing", trackNode.ID());
    return SN_Failure;
  }
  auto* clip = PoolNew<CSnMusicMidiClipContext>(g_DefaultPoolId, track, playback, start, node);
  node->Release();  // the target holds its own
  if (!clip) {
    SOUND_LOG(Error, "Music track %u: no memory for a MIDI clip", trackNode.ID());
    return SN_Failure;
  }
  const SNRESULT result = clip->Init(trackNode, start);
  if (result != SN_Success) {
    // Its one reference, the playing's, goes with it.
    clip->m_playingReleased = true;
    clip->CSnMidiEventTarget::Release();
    return SN_Failure;
  }
  out = clip;
  return SN_Success;
}

SNRESULT CSnMusicMidiClipContext::Init(CSnMusicTrackNode& trackNode, const Start& start) {
  Connect();
  m_connected = true;
  // Counted as the track's activity, the clip is seen by what walks the playing nodes: a bus's or
  // an ancestor's gain and mute reach it through the track.
  m_trackNode = &trackNode;
  m_activityTaken = true;
  if (!trackNode.ActivityUp(3)) {
    SOUND_LOG(Error, "Music track %u: its MIDI clip cannot be counted as playing", trackNode.ID());
    return SN_Failure;
  }
  m_link.Attach(&trackNode);
  if (!m_source->GetMedia(m_media, m_mediaSize, m_mediaBank)) {
    SOUND_LOG(Error, "Music track %u: the media of MIDI source %u is not loaded", trackNode.ID(), m_source->sourceId);
    return SN_Failure;
  }
  m_mediaHeld = true;
  // A bank's media or the game's copy: the unload, or the game taking its copy back, finds it.
  if (m_mediaBank) List();
  float bpm = 0.0f;
  if (const auto* parent = dynamic_cast<const CSnMusicHierarchyNode*>(trackNode.Parent()))
    bpm = parent->GetMeter().tempo;
  const double samplesPerMs = double(LowerEngine::SampleRate()) * 0.001;
  const double beginMs = samplesPerMs > 0.0 && start.sourceOffset > 0 ? double(start.sourceOffset) / samplesPerMs : 0.0;
  const bool loops = trackNode.IntProperty(SnProp_LoopCount) != 1;
  if (m_player.Open(m_media, m_mediaSize, bpm, beginMs, loops) != SN_Success) {
    SOUND_LOG(Error, "Music track %u: MIDI source %u cannot play from %g ms", trackNode.ID(), m_source->sourceId,
              beginMs);
    return SN_Failure;
  }
  m_player.SetFrameOffset(start.frameOffset);
  if (!m_playback || !m_playback->Register(this)) {
    SOUND_LOG(Error, "Music track %u: no MIDI clock takes its clip", trackNode.ID());
    return SN_Failure;
  }
  m_registered = true;
  if (!trackNode.AddMidiClip(this)) {
    SOUND_LOG(Error, "Music track %u: no memory to list its MIDI clip", trackNode.ID());
    return SN_Failure;
  }
  m_listed = true;
  // The track hands a clip that begins the gain it has now: a muted track's clip begins muted.
  trackNode.OnMidiClipAdded(*this);
  return SN_Success;
}

void CSnMusicMidiClipContext::SetGainFactor(uint32_t key, float value) {
  uint32_t at = 0;
  while (at < m_gainFactors.Count() && m_gainFactors[at].key != key) ++at;
  if (value == 1.0f) {
    if (at < m_gainFactors.Count()) m_gainFactors.RemoveAt(at);
  } else if (at < m_gainFactors.Count()) {
    m_gainFactors[at].factor = value;
  } else if (!m_gainFactors.Add(GainFactor{key, 0, value})) {
    SOUND_LOG(Error, "MIDI clip on node %u: no memory for a gain factor; it is not applied", ID());
  }
  float product = 1.0f;
  for (const GainFactor& factor : m_gainFactors) product *= factor.factor;
  const bool muted = product == 0.0f;
  const bool silence = muted && !m_muted;
  m_muted = muted;
  m_player.SetMuted(muted);
  if (silence && m_registered) m_playback->SilenceTarget(*this);
}

void CSnMusicMidiClipContext::ReleaseMediaHeld() {
  Unlist();
  if (m_mediaHeld) m_source->ReleaseMedia(m_mediaBank);
  m_mediaHeld = false;
  m_media = nullptr;
  m_mediaBank = nullptr;
}

bool CSnMusicMidiClipContext::HoldsBankMedia(const CSnLoadedBank* bank) const {
  return m_mediaHeld && bank && m_mediaBank == bank;
}

void CSnMusicMidiClipContext::LetGoOfBankMedia(const CSnLoadedBank* bank) {
  if (!HoldsBankMedia(bank)) return;
  // The unloading bank hands out nothing more: a copy found now lies elsewhere.
  const uint8_t* copy = nullptr;
  uint32_t size = 0;
  CSnBankRecord* copyBank = nullptr;
  if (m_source->GetMedia(copy, size, copyBank)) {
    if (size == m_mediaSize && copyBank != m_mediaBank) {
      m_player.Parser().Rebase(copy);
      m_source->ReleaseMedia(m_mediaBank);
      m_media = copy;
      m_mediaBank = copyBank;
      if (!m_mediaBank) Unlist();
      return;
    }
    m_source->ReleaseMedia(copyBank);
  }
  SOUND_LOG(Warning, "Music track %u: %s; the clip ends", m_trackNode ? m_trackNode->ID() : 0u,
            m_mediaBank->IsGameMedia() ? "the game took back the media of its MIDI clip"
                                       : "the bank of its MIDI clip was unloaded under it");
  // Ending may give back the last reference but this one.
  AddRef();
  EndNow();
  m_player.Parser().Close();
  ReleaseMediaHeld();
  Release();
}

CSnMusicMidiClipContext::~CSnMusicMidiClipContext() {
  ReleaseMediaHeld();
  if (m_activityTaken) m_trackNode->ActivityDown(3);
  m_activityTaken = false;
  if (m_listed) m_trackNode->RemoveMidiClip(this);
  m_listed = false;
  m_link.Detach();
  if (m_registered) m_playback->Unregister(this);
  m_registered = false;
  auto* track = static_cast<CSnMusicTrackContext*>(Parent());
  if (track && !m_detached) track->Forget(this);
  // Leaving may free the track context and the play above it: nothing of them is used after this.
  if (m_connected) Disconnect();
}

void CSnMusicMidiClipContext::Destroy() { PoolDelete(g_DefaultPoolId, this); }

void CSnMusicMidiClipContext::EndPlaying() {
  if (m_playingReleased) return;
  m_playingReleased = true;
  CSnMidiEventTarget::Release();
}

void CSnMusicMidiClipContext::GenerateFrame(SnMidiEventQueue& queue, uint32_t frameLength) {
  if (m_player.Paused()) return;
  AddRef();
  if (m_player.GenerateFrame(*this, queue, frameLength, LowerEngine::SampleRate())) EndPlaying();
  Release();
}

void CSnMusicMidiClipContext::StopFromOwner(uint32_t offset) {
  m_detached = true;
  OnStopped(offset);
}

void CSnMusicMidiClipContext::OnStopped(uint32_t offset) {
  if (offset != CSnMusicContext::kNoStopOffset) {
    m_player.Stop(offset);
    return;
  }
  AddRef();
  const bool endsNow = m_player.Stop(CSnMusicMidiClipPlayer::kNoStop);
  Close();
  if (m_registered) m_playback->EndTarget(*this);
  if (endsNow) EndPlaying();
  Release();
}

void CSnMusicMidiClipContext::OnPaused() {
  m_player.SetPaused(true);
  if (m_registered) m_playback->PauseTarget(*this);
}

void CSnMusicMidiClipContext::OnResumed() {
  m_player.SetPaused(false);
  if (m_registered) m_playback->ResumeTarget(*this);
}

}  // namespace SN
