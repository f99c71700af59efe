// Insert effects of a voice: creation through the plug-in registry, the in-place and out-of-place
// runs of one frame, and teardown.
#include "SoundEngine/Lower/Pipeline/VoiceInsertEffect.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Effects/ParamCopy.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {
namespace {

constexpr uint32_t kVectorFrames = 16;

SnAudioFormat VoiceFormat(SnChannelConfig config) {
  SnAudioFormat format;
  format.sampleRate = LowerEngine::SampleRate();
  format.channelConfig = config;
  format.SetFields(32, ChannelCount(config) * 4, 1, 1);
  return format;
}

}  // namespace

// What an effect on a voice sees: the voice's information, no output device of its own, and the
// media its definition names, held until the effect goes.
class CSnVoiceInsertEffect::Context final : public ISnEffectPluginContext, private ISnMediaIdSource {
 public:
  Context(void* voiceInformation, uint32_t slot, const ISnEffectDefinition* definition)
      : m_voice(voiceInformation), m_slot(slot), m_definition(definition) {}
  ISnStreamMgr* GetStreamManager() override { return ISnStreamMgr::m_pStreamMgr; }
  uint16_t GetFrameLength() override { return uint16_t(LowerEngine::SamplesPerFrame()); }
  SNRESULT GetOutputDevice(uint32_t&, uint32_t&) override { return SN_NotImplemented; }
  SNRESULT GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) override {
    return m_media.Get(this, m_slot, index, data, size);
  }
  const CSnCpuInfo* GetCpuInfo() override { return &CSnCpuInfo::GetInstance(); }
  bool IsOnBusOfKind12() override { return false; }
  void* GetVoiceInformation() override { return m_voice; }

  CSnPluginMediaTable m_media;

 private:
  uint32_t MediaIdOf(uint32_t, uint32_t index) const override { return m_definition->MediaId(index); }

  void* m_voice;
  uint32_t m_slot;
  const ISnEffectDefinition* m_definition;  // the effect's own reference keeps it
};

CSnVoiceInsertEffect* CSnVoiceInsertEffect::Create(ISnEffectDefinition* definition, uint32_t slot,
                                                   void* voiceInformation, SnChannelConfig& format,
                                                   uint16_t maxFrames, const SnRTPCKey& voiceKey,
                                                   CSnModulatorInstanceList* modulators) {
  if (!definition) return nullptr;
  const uint32_t key = definition->PluginKey();
  if ((key & 15u) != SnPluginType_Effect) {
    SOUND_LOG(Error, "Voice effect slot %u: effect %u is not an effect plug-in", slot, definition->EffectId());
    return nullptr;
  }
  void* memory = MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CSnVoiceInsertEffect), 16);
  if (!memory) return nullptr;
  auto* node = new (memory) CSnVoiceInsertEffect();
  node->m_effectId = definition->EffectId();
  definition->AddRef();
  node->m_definition = definition;
  node->m_params = MakeParamCopy(*definition, voiceKey, modulators);
  void* contextMemory = MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(Context), 16);
  node->m_context = contextMemory ? new (contextMemory) Context(voiceInformation, slot, definition) : nullptr;
  SnPluginInfo info{};
  SnAudioFormat audio = VoiceFormat(format);
  bool made = node->m_params && node->m_context &&
              CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), key, node->m_plugin) == SN_Success &&
              node->m_plugin && node->m_plugin->QueryInfo(info) == SN_Success;
  if (made && info.secondFlag) {
    SOUND_LOG(Error, "Voice effect slot %u: effect %u refuses to run on a voice", slot, node->m_effectId);
    made = false;
  }
  if (made) {
    node->m_inPlace = info.inPlace != 0;
    const SNRESULT init =
        node->m_inPlace
            ? static_cast<ISnEffectPlugin*>(node->m_plugin)->Init(&PluginAllocator(), node->m_context, node->m_params,
                                                                  audio)
            : static_cast<ISnOutOfPlaceEffectPlugin*>(node->m_plugin)
                  ->Init(&PluginAllocator(), node->m_context, node->m_params, audio);
    made = init == SN_Success && node->m_plugin->Reset() == SN_Success;
  }
  if (made && !node->m_inPlace) {
    // In place a plug-in keeps the layout it was given; out of place it may choose another.
    const uint32_t channels = ChannelCount(audio.channelConfig);
    node->m_output.channelConfig = audio.channelConfig;
    node->m_output.maxFrames = maxFrames;
    node->m_output.samples = channels ? static_cast<float*>(MemoryMgr::Malign(
                                            g_LEngineDefaultPoolId, size_t(channels) * maxFrames * sizeof(float), 16))
                                      : nullptr;
    made = node->m_output.samples != nullptr;
    if (made) format = audio.channelConfig;
  }
  if (!made) {
    SOUND_LOG(Error, "Voice effect slot %u: effect %u could not be made; the slot stays empty", slot,
              node->m_effectId);
    node->Destroy();
    return nullptr;
  }
  return node;
}

CSnVoiceInsertEffect::~CSnVoiceInsertEffect() {
  if (m_plugin) m_plugin->Term(&PluginAllocator());
  DropParamCopy(m_definition, m_params);
  if (m_definition) m_definition->Release();
  if (m_context) {
    m_context->~Context();
    MemoryMgr::Free(g_LEngineDefaultPoolId, m_context);
  }
  if (m_output.samples) MemoryMgr::Free(g_LEngineDefaultPoolId, m_output.samples);
}

bool CSnVoiceInsertEffect::UsesMedia(const void* data) const { return m_context && m_context->m_media.Uses(data); }

bool CSnVoiceInsertEffect::UsesBankMedia(const CSnLoadedBank* bank) const {
  return m_context && m_context->m_media.HoldsBank(bank);
}

bool CSnVoiceInsertEffect::RelocateBankMedia(const CSnLoadedBank* bank) {
  return !m_context || !m_context->m_media.Relocate(bank, m_plugin);
}

void CSnVoiceInsertEffect::Destroy() {
  this->~CSnVoiceInsertEffect();
  MemoryMgr::Free(g_LEngineDefaultPoolId, this);
}

void CSnVoiceInsertEffect::ClearToVectorEnd(SnMixBuffer& buffer) {
  if (!buffer.samples) return;
  const uint32_t end = std::min<uint32_t>((buffer.validFrames + kVectorFrames - 1) / kVectorFrames * kVectorFrames,
                                          buffer.maxFrames);
  if (end <= buffer.validFrames) return;
  for (uint32_t c = 0; c < ChannelCount(buffer.channelConfig); ++c)
    std::memset(buffer.samples + size_t(c) * buffer.maxFrames + buffer.validFrames, 0,
                (end - buffer.validFrames) * sizeof(float));
}

void CSnVoiceInsertEffect::Process(SnMixBuffer*& buffer, uint32_t& status) {
  if (status == SnVoice_DataReadyFinished) m_upstreamEnded = true;
  if (m_inPlace) {
    if (m_upstreamEnded) m_finished = true;
    if (!m_bypassed && buffer->validFrames) static_cast<ISnEffectPlugin*>(m_plugin)->ProcessInPlace(*buffer);
    return;
  }
  if (m_bypassed && ChannelCount(buffer->channelConfig) == ChannelCount(m_output.channelConfig)) {
    // A bypassed effect that keeps the layout hands its input on.
    m_finished = m_upstreamEnded;
    return;
  }
  m_output.validFrames = 0;
  const bool done =
      static_cast<ISnOutOfPlaceEffectPlugin*>(m_plugin)->ProcessOutOfPlace(*buffer, m_upstreamEnded, m_output);
  m_output.validFrames = std::min(m_output.validFrames, m_output.maxFrames);
  ClearToVectorEnd(m_output);
  m_finished = m_upstreamEnded && done;
  status = m_finished ? uint32_t(SnVoice_DataReadyFinished) : uint32_t(SnVoice_DataReady);
  buffer = &m_output;
}

}  // namespace SN
