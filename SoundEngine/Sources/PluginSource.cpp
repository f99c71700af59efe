// The source plug-in host.
#include "SoundEngine/Sources/PluginSource.h"

#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Effects/EffectDefinition.h"
#include "SoundEngine/Effects/ParamCopy.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"

namespace SN {

namespace {
constexpr uint32_t kAcceptedMasks[] = {0x3, 0x4, 0x7, 0x8, 0xB, 0xC, 0xF, 0x603, 0x607, 0x60B, 0x60F, 0x637, 0x63F};
// A frame in which the plug-in gives no sample starves its voice, as a stream's frame without data
// does: silent, and the play told once. A stream waits on its reads; a plug-in waits on nothing, so
// after this many such frames in a row its voice is let go.
constexpr uint32_t kStarvedFramesBound = 8;
}  // namespace

bool IsPluginChannelMaskAccepted(uint32_t mask) {
  for (uint32_t accepted : kAcceptedMasks)
    if (mask == accepted) return true;
  return false;
}

float FastLinearToDb(float linear) {
  const float x = linear + 1e-38f;
  if (!(x > 0.0f)) return -760.0f;
  uint32_t bits;
  memcpy(&bits, &x, sizeof bits);
  const int exponent = int((bits >> 23) & 0xFF) - 127;
  bits = (bits & 0x007FFFFFu) | 0x3F800000u;  // mantissa in [1, 2)
  float m;
  memcpy(&m, &bits, sizeof m);
  const float y = (m - 1.0f) / (m + 1.0f);
  const float ln = 2.0f * (y + y * y * y / 3.0f) + float(exponent) * 0.6931472f;
  return ln * 0.4342945f * 20.0f;
}

CSnPluginSource::CSnPluginSource(ISnSourceInstance* instance) : CSnVoiceSource(instance) {}

CSnPluginSource::~CSnPluginSource() { CSnPluginSource::StopStream(); }

uint32_t CSnPluginSource::OutputRate() const {
  const uint32_t rate = LowerEngine::SampleRate();
  // A motion voice's pipeline runs 8 frames a frame: its plug-in makes them at that rate.
  if (m_pInstance && m_pInstance->IsMotion()) return (rate / LowerEngine::SamplesPerFrame() * 8) & 0xFFFF;
  return rate;
}

uint16_t CSnPluginSource::GetLoopCount() const { return m_pInstance ? m_pInstance->LoopCount() : 1; }
float CSnPluginSource::GetPriority() const { return m_pInstance ? m_pInstance->Priority() : 50.0f; }
void CSnPluginSource::GetMedia(uint32_t id, const uint8_t*& data, uint32_t& size) const {
  // The plug-in names its media by id: the table's index is the id itself.
  struct ById final : ISnMediaIdSource {
    uint32_t MediaIdOf(uint32_t, uint32_t mediaId) const override { return mediaId; }
  };
  static const ById byId;
  m_media.Get(&byId, 0, id, data, size);
}

SNRESULT CSnPluginSource::PrepareSource() {
  if (m_pPlugin) return SN_Success;
  const uint32_t sourceId = m_pInstance->SourceDesc().sourceId;
  CSnEffectDefinition* definition = FindEffectDefinition(sourceId, false);
  if (!definition) {
    SOUND_LOG(Error, "Source plug-in %u: no parameter node", sourceId);
    return SN_Failure;
  }
  m_pDefinition = definition->MixEffect();  // the look-up's reference
  ISnPlugin* plugin = nullptr;
  const uint32_t key = m_pDefinition->PluginKey();
  if (CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), key, plugin) != SN_Success || !plugin) {
    SOUND_LOG(Error, "Source plug-in %u: plug-in 0x%X is not registered", sourceId, key);
    StopStream();
    return SN_Failure;
  }
  m_pPlugin = dynamic_cast<ISnSourcePlugin*>(plugin);
  if (!m_pPlugin) {
    SOUND_LOG(Error, "Source plug-in %u: plug-in 0x%X is not a source plug-in", sourceId, key);
    plugin->Term(&PluginAllocator());
    StopStream();
    return SN_Failure;
  }
  // The voice's own copy follows the definition's curves for this play, so that its game parameters
  // and modulators reach the live plug-in.
  const SnRTPCKey* scope = m_pInstance->ParamKey();
  m_pParams = MakeParamCopy(*m_pDefinition, scope ? *scope : SnRTPCKey{}, m_pInstance->VoiceModulators());
  m_format.sampleRate = OutputRate();
  m_format.channelConfig = StandardConfig(kSpeakerCenter);
  m_format.formatWord = SnMediaFormat::Word(32, 4, 1, true);
  m_pPlugin->QueryFormat(m_format);
  const SNRESULT init = m_pPlugin->Init(&PluginAllocator(), this, m_pParams, m_format);
  const uint32_t type = ConfigType(m_format.channelConfig);
  const bool layout = type == kConfigTypeAnonymous ||
                      (type == kConfigTypeStandard && IsPluginChannelMaskAccepted(ChannelMask(m_format.channelConfig)));
  SnPluginInfo info{};
  if (init != SN_Success || !layout || ChannelCount(m_format.channelConfig) == 0 ||
      m_pPlugin->QueryInfo(info) != SN_Success) {
    SOUND_LOG(Error, "Source plug-in %u refused: initialisation %d, channel configuration 0x%X", sourceId, int(init),
              m_format.channelConfig);
    StopStream();
    return SN_Failure;
  }
  m_pInstance->SetMediaFormat(m_format);
  m_flags |= kPrepared;
  return SN_Success;
}

void CSnPluginSource::StopStream() {
  if (m_pPlugin) m_pPlugin->Term(&PluginAllocator());
  m_pPlugin = nullptr;
  m_media.Release();  // the plug-in that read it is gone
  DropParamCopy(m_pDefinition, m_pParams);
  if (m_pDefinition) m_pDefinition->Release();
  m_pDefinition = nullptr;
  if (m_buffer.data) {
    if (m_planarBlock)
      m_buffer.FreeData();
    else
      MemoryMgr::Falign(g_DefaultPoolId, m_buffer.data);
  }
  m_buffer = SnVoiceBuffer{};
}

void CSnPluginSource::GetBuffer(SnVoiceBuffer& buffer) {
  if (!m_pPlugin) {
    buffer.Clear();
    buffer.result = SN_Failure;
    return;
  }
  if (buffer.maxFrames == 0) {
    buffer.validFrames = 0;
    buffer.result = SN_NoMoreData;
    return;
  }
  if (!m_buffer.data) {
    const uint32_t frames = buffer.maxFrames;
    if (m_format.IsPlanar()) {
      m_planarBlock = true;
      if (m_buffer.AllocData(frames, m_format.channelConfig) != SN_Success) {
        buffer.Clear();
        buffer.result = SN_Failure;
        return;
      }
    } else {
      m_planarBlock = false;
      m_buffer.data = MemoryMgr::Malign(g_DefaultPoolId, size_t(frames) * m_format.BlockAlign(), 16);
      if (!m_buffer.data) {
        buffer.Clear();
        buffer.result = SN_Failure;
        return;
      }
      m_buffer.maxFrames = uint16_t(frames);
    }
    m_buffer.channelConfig = m_format.channelConfig;
    m_buffer.validFrames = 0;
  }
  m_buffer.state = 43;
  m_buffer.validFrames = 0;
  m_pPlugin->Execute(m_buffer);
  if (m_buffer.validFrames > m_buffer.maxFrames) m_buffer.validFrames = m_buffer.maxFrames;
  HoldOutput();
  uint32_t state = m_buffer.state;
  // Ended as a source that has nothing more.
  if (Starved(m_buffer.validFrames > 0 || state == 17)) state = 17;
  buffer.data = m_buffer.data;
  buffer.channelConfig = m_buffer.channelConfig;
  buffer.maxFrames = m_buffer.maxFrames;
  buffer.validFrames = m_buffer.validFrames;
  buffer.markerCount = 0;
  buffer.markers = nullptr;
  buffer.position = SnBufferPosition{};
  buffer.result = state == 45 || state == 43 || state == 17 ? SNRESULT(state) : SN_Failure;
}

void CSnPluginSource::HoldOutput() {
  // Integer samples cannot leave full scale; float ones from a game's code may be anything, and a NaN
  // that reached a bus would stay in the state of its effects. Loud ones are the plug-in's to write:
  // only those past what a voice may be lifted to are held.
  if (m_format.SampleType() != 1 || m_format.BitsPerSample() != 32 || !m_buffer.validFrames) return;
  bool held = false;
  if (m_format.IsPlanar()) {
    for (uint32_t c = 0; c < m_format.Channels(); ++c)
      held |= FrameConvert::HoldSourceSamples(m_buffer.Plane(c), m_buffer.validFrames);
  } else {
    held = FrameConvert::HoldSourceSamples(static_cast<float*>(m_buffer.data),
                                           size_t(m_buffer.validFrames) * m_format.Channels());
  }
  if (!held || m_saidHeld) return;
  m_saidHeld = true;
  const uint32_t sourceId = m_pInstance->SourceDesc().sourceId;
  SOUND_LOG_REPEATING_ABOUT(
      Error, sourceId, "Source plug-in %u: samples that are not finite are silenced and those beyond +24 dB held",
      sourceId);
}

bool CSnPluginSource::Starved(bool gave) {
  if (gave) {
    m_starvedFrames = 0;
    m_starvingFrame = 0xFFFFFFFFu;
    return false;
  }
  // The stage asks again within a frame while a plug-in gives empty buffers: one frame counts once.
  const uint32_t frame = g_pAudioMgr ? g_pAudioMgr->CurrentFrame() : 0;
  if (frame != m_starvingFrame) {
    m_starvingFrame = frame;
    ++m_starvedFrames;
    if (m_starvedFrames == kStarvedFramesBound) {
      const uint32_t sourceId = m_pInstance->SourceDesc().sourceId;
      SOUND_LOG_REPEATING_ABOUT(Warning, sourceId,
                                "Source plug-in %u has given no sample for %u frames: it starves, and its voice is let go",
                                sourceId, kStarvedFramesBound);
    }
  }
  return m_starvedFrames >= kStarvedFramesBound;
}

SNRESULT CSnPluginSource::SkipFrames(uint32_t& frames) {
  if (!m_pPlugin) return SN_Failure;
  uint32_t skipped = frames;
  const SNRESULT result = m_pPlugin->TimeSkip(skipped);
  if (result != SNRESULT(0)) {
    frames = skipped;
    return result;
  }
  // Declined: the frames are made and dropped.
  SnVoiceBuffer scratch;
  scratch.maxFrames = uint16_t(frames > 0xFFFF ? 0xFFFF : frames);
  GetBuffer(scratch);
  frames = scratch.validFrames;
  ReleaseBuffer();
  return scratch.result;
}

SNRESULT CSnPluginSource::Seek() {
  SnSeekRequest& seek = m_pInstance->Seek();
  const uint32_t rate = OutputRate();
  const float ms = seek.isFraction ? seek.fraction * GetDuration()
                                   : (rate ? float(double(seek.outputFrames) * 1000.0 / rate) : 0.0f);
  seek.pending = false;
  seek.framesToDrop = 0;
  return m_pPlugin ? m_pPlugin->Seek(ms) : SN_Failure;
}

float CSnPluginSource::GetEnvelopeDb(uint32_t) { return m_pPlugin ? FastLinearToDb(m_pPlugin->GetEnvelope()) : 0.0f; }

}  // namespace SN
