// The voice's source as the voice pipeline pulls it, made of the playback instance's media source and
// the source stage that resamples it; and the factory the voice manager installs to make it.
// Audio thread, under the global audio lock.
#include <cstring>
#include <new>
#include <utility>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"  // a paused voice's position stands still
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Sources/VoiceSourceStage.h"

namespace SN {
namespace {

class CSnStageVoiceSource final : public ISnVoiceSource {
 public:
  CSnStageVoiceSource(CSnPlaybackInstance& instance, CSnVoiceSource* source, uint32_t outputRate)
      : m_instance(&instance), m_source(source), m_outputRate(outputRate) {}

  SNRESULT Prepare() override {
    SN_ASSERT_AUDIO_LOCK_HELD();
    if (m_ready) return SN_Success;
    if (!m_source->IsPrepared()) {
      const SNRESULT prepared = m_source->PrepareSource();
      if (prepared == SN_NotReadyYet) return prepared;
      if (prepared != SN_Success) {
        SOUND_LOG_REPEATING_ABOUT(Error, m_instance->SourceDesc().sourceId,
                                  "Playing id %u: source %u could not be prepared (%d); the play ends",
                                  m_instance->PlayingId(), m_instance->SourceDesc().sourceId, int(prepared));
        return prepared;
      }
    }
    const SNRESULT staged = m_stage.Init(m_source, m_source->MediaFormat(), m_instance, m_outputRate);
    if (staged != SN_Success) {
      SOUND_LOG(Error, "Playing id %u: the media format of source %u cannot be resampled", m_instance->PlayingId(),
                m_instance->SourceDesc().sourceId);
      return SN_Failure;
    }
    m_ready = true;
    return SN_Success;
  }

  // A source prepared ahead, to follow another without a gap, begins only when it is first asked for
  // its frames: what it tells of its beginning waits until then.
  void BeginOnce() {
    if (m_begun) return;
    m_begun = true;
    m_stage.NotifyDuration();
  }

  SnChannelConfig Format() const override { return m_source->MediaFormat().channelConfig; }

  SNRESULT GetBuffer(SnMixBuffer& buffer, uint32_t frames) override {
    SN_ASSERT_AUDIO_LOCK_HELD();
    EndSkipping();
    BeginOnce();
    SnVoiceBuffer out;
    out.maxFrames = uint16_t(frames);
    const SNRESULT result = m_stage.RunFrame(out);
    if (CSnVoiceSource* finished = m_stage.TakeFinishedSource()) {
      finished->Destroy();
      TakeOverNext();
    } else if (m_next && !m_stage.NextSource()) {
      m_next = nullptr;  // let go at this source's end: the pipeline has it begin on its own
    }
    if (result == SN_DataReady || result == SN_NoMoreData) m_stage.ApplyModulatorGain(&m_instance->Modulators(), out);
    PostNotifications(out);
    buffer = SnMixBuffer{};
    buffer.channelConfig = Format();
    buffer.maxFrames = uint16_t(frames);
    // A source starved of data (a stream behind) leaves the voice silent for the frame, not ended;
    // the pipeline reports it.
    if (result == SN_NoDataReady) return SNRESULT(SnVoice_NoMoreDataForNow);
    if (result != SN_DataReady && result != SN_NoMoreData) return SN_Failure;
    buffer.samples = static_cast<float*>(out.data);
    buffer.channelConfig = out.channelConfig;
    buffer.maxFrames = out.maxFrames;
    buffer.validFrames = out.validFrames;
    return SNRESULT(result == SN_NoMoreData ? SnVoice_DataReadyFinished : SnVoice_DataReady);
  }

  bool AttachNext(ISnVoiceSource* next) override {
    auto* successor = dynamic_cast<CSnStageVoiceSource*>(next);
    if (!m_ready || !successor || successor->m_next) return false;
    m_next = successor;
    m_stage.AttachNext(successor->m_source, successor->m_instance);
    return true;
  }

  bool TakeHandedOn() override { return std::exchange(m_handedOn, false); }

  // The stage went on into the attached source: this source plays its instance from now on, and the
  // attached one is left holding nothing.
  void TakeOverNext() {
    m_instance->ReleaseMedia();
    m_instance = m_next->m_instance;
    m_source = m_stage.Source();
    m_next->m_source = nullptr;
    m_next = nullptr;
    m_handedOn = true;
  }

  // The frame's markers, in the order the voice reached them, and where the frame began in its source.
  void PostNotifications(SnVoiceBuffer& out) {
    for (uint16_t i = 0; i < out.markerCount; ++i) {
      const SnMarkerNotification& reached = out.markers[i];
      if (!reached.instance) continue;
      SnMediaMarker marker;
      marker.id = reached.id;
      marker.position = reached.position;
      marker.label = const_cast<char*>(reached.label);  // still the source's: read during the call only
      reached.instance->PostMarker(marker);
    }
    out.FreeMarkers();
    if (out.position.position != kNoPosition && m_instance->TracksPlayPosition()) {
      m_instance->UpdatePlayPosition(out.position.position, out.position.rateFactor, out.position.totalLength);
      m_reportedRate = out.position.rateFactor;
    }
  }

  // The stage keeps its input between frames and gives it back itself.
  void ReleaseBuffer() override {}

  void StopLooping() override { m_source->StopLooping(); }

  void Seek(uint32_t target, bool percent, bool snapToMarker) override {
    SnSeekRequest& seek = m_instance->Seek();
    seek = SnSeekRequest{};
    seek.pending = true;
    seek.isFraction = percent;
    seek.snapToMarker = snapToMarker;
    if (percent)
      std::memcpy(&seek.fraction, &target, sizeof seek.fraction);
    else
      seek.outputFrames = target;
    // Before the source is prepared its preparation applies the seek.
    if (m_ready) m_stage.Seek();
  }

  SNRESULT SkipFrames(uint32_t frames) override {
    if (!m_ready) return SNRESULT(SnVoice_DataReady);
    BeginOnce();
    if (!m_virtual) {
      m_virtual = true;
      m_stage.VirtualOn(kRefresh);
    }
    uint32_t skipped = frames;
    if (m_stage.SkipWhileVirtual(skipped) != SN_NoMoreData) return SNRESULT(SnVoice_DataReady);
    // The end came in the silence: the source attached to follow begins on its own, and what was
    // left of the frame's time is its own (its wait, then its first frames), as the rest of a heard
    // frame would have been.
    if (CSnStageVoiceSource* next = std::exchange(m_next, nullptr)) {
      const uint32_t rest = skipped < frames ? frames - skipped : 0;
      if (!CSnVoiceSourceStage::CountWaitFrom(*next->m_instance, rest) && rest) next->SkipFrames(rest);
    }
    return SNRESULT(SnVoice_DataReadyFinished);
  }

  void EndSkipping() override {
    if (!m_virtual) return;
    m_virtual = false;
    m_stage.VirtualOff(m_instance->Seek().pending ? kResume : kRefresh);
  }

  bool RelocateMedia(const uint8_t* newData, const uint8_t* oldData, uint32_t size) override {
    SN_ASSERT_AUDIO_LOCK_HELD();
    // Only the media sources know every place they point into their media.
    if (!m_source->IsMediaSource()) return false;
    m_source->RelocateMedia(newData, oldData);
    m_stage.RelocateInput(newData, oldData, size);
    return true;
  }

  bool HoldsPluginMedia(const CSnLoadedBank* bank, const void* data) const override {
    return m_source->HoldsPluginMedia(bank, data);
  }
  void RelocatePluginMedia(const CSnLoadedBank* bank) override { m_source->RelocatePluginMedia(bank); }

  int64_t FramesLeft() const override { return m_ready ? m_stage.FramesLeft() : -1; }
  uint32_t LeadingSilence() const override { return m_stage.LeadingSilence(); }
  void SetSoundingPartOnly(bool only) override { m_stage.SetSoundingPartOnly(only); }

  // A paused voice is not run: the source simply waits where it stopped, and the position the game
  // carries forward stands still there until it goes on.
  void SetPaused(bool paused) override {
    if (g_pPlayPositionStore && m_instance->TracksPlayPosition())
      g_pPlayPositionStore->SetRate(m_instance->PlayingId(), paused ? 0.0f : m_reportedRate);
  }

  void Destroy() override {
    // One whose source was taken over by the source it followed holds nothing more of its own.
    if (m_source) {
      m_stage.Stop();
      m_stage.Release();
      if (CSnVoiceSource* finished = m_stage.TakeFinishedSource()) finished->Destroy();
      m_source->Destroy();
      m_instance->ReleaseMedia();
    }
    this->~CSnStageVoiceSource();
    Kept().Keep(this);
  }

  // Destroyed sources, kept for the next voices.
  static CSnKeptBlocks& Kept() {
    static CSnKeptBlocks kept(sizeof(CSnStageVoiceSource), alignof(CSnStageVoiceSource), g_LEngineDefaultPoolId);
    return kept;
  }

 private:
  // The virtual-voice mode in which a voice keeps its place in its source while it is silent.
  static constexpr uint32_t kRefresh = 2;
  // The mode in which it goes on from a seek its instance set.
  static constexpr uint32_t kResume = 1;

  CSnPlaybackInstance* m_instance;  // the instance it plays: the next one's, once it handed on
  CSnVoiceSource* m_source;         // null once the source it followed took it over
  CSnVoiceSourceStage m_stage;
  CSnStageVoiceSource* m_next = nullptr;  // attached to follow this one, until taken over or let go
  uint32_t m_outputRate;
  float m_reportedRate = 1.0f;  // of the position last reported
  bool m_ready = false;
  bool m_begun = false;
  bool m_virtual = false;
  bool m_handedOn = false;
};

class CSnStageVoiceSourceFactory final : public ISnVoiceSourceFactory {
 public:
  ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance& instance, uint32_t outputRate) override {
    if (!instance.Source()) return nullptr;
    instance.AcquireMedia();  // plug-ins and streams hold none: their sources read elsewhere
    CSnVoiceSource* source = SN::CreateVoiceSource(static_cast<ISnSourceInstance*>(&instance));
    if (!source) {
      instance.ReleaseMedia();
      return nullptr;
    }
    void* memory = CSnStageVoiceSource::Kept().Take();
    auto* voice = memory ? new (memory) CSnStageVoiceSource(instance, source, outputRate) : nullptr;
    if (!voice) {
      LowerEngine::NoteNoRoomForVoice();
      source->Destroy();
      instance.ReleaseMedia();
    }
    return voice;
  }
};

}  // namespace

ISnVoiceSourceFactory& StageVoiceSourceFactory() {
  static CSnStageVoiceSourceFactory factory;
  return factory;
}

}  // namespace SN
