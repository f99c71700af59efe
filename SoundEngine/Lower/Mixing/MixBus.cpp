// The mix bus: inputs, effect and mixer slots, gains and matrices, metering and callbacks.
#include "SoundEngine/Lower/Mixing/MixBus.h"

#include <cstring>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Callbacks/BusCallbackMgr.h"
#include "SoundEngine/CpuInfo.h"
#include "SoundEngine/Effects/ParamCopy.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/BusMeter.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "StreamMgr/ISnStreamMgr.h"

namespace SN {
namespace {

constexpr uint32_t kMixerSlot = 4;
constexpr uint32_t kMeteringBits = 0x1F;
constexpr uint32_t kNoEffect = 0xFFFFFFFFu;

float* AllocFloats(uint32_t count) {
  void* memory = MemoryMgr::Malign(g_LEngineDefaultPoolId, size_t(count ? count : 4) * sizeof(float), 16);
  if (memory) memset(memory, 0, size_t(count ? count : 4) * sizeof(float));
  return static_cast<float*>(memory);
}

void FreeFloats(float*& pointer) {
  if (pointer) MemoryMgr::Falign(g_LEngineDefaultPoolId, pointer);
  pointer = nullptr;
}

float Clamp(float value, float low, float high) { return value < low ? low : (value > high ? high : value); }

// A bus plug-in's type comes from its registry key; a plug-in of another type is never cast.
bool KeyIsOfType(uint32_t key, SnPluginType type) { return (key & 15u) == type; }

}  // namespace

CSnMixBus* CSnMixBus::New(uint32_t busId) {
  void* memory = MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CSnMixBus), 16);
  return memory ? new (memory) CSnMixBus(busId) : nullptr;
}

void CSnMixBus::Delete(CSnMixBus* bus) {
  if (!bus) return;
  bus->~CSnMixBus();
  MemoryMgr::Falign(g_LEngineDefaultPoolId, bus);
}

CSnMixBus::CSnMixBus(uint32_t busId) : CSnTargetLink(SnRTPCKey{}), m_busId(busId) {}

CSnMixBus::~CSnMixBus() {
  Detach();
  if (m_node) {
    m_node->AcceptMixBus(false);
    m_node->Release();
    m_node = nullptr;
  }
  if (m_buffer.samples) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_buffer.samples);
  m_buffer.samples = nullptr;
  for (uint32_t slot = 0; slot < 4; ++slot) ClearSlot(slot);
  ClearMixer();
  if (m_mixer) {
    DropParamCopy(m_mixer->definition, m_mixer->params);
    if (m_mixer->definition) m_mixer->definition->Release();
    MemoryMgr::Free(g_LEngineDefaultPoolId, m_mixer);
    m_mixer = nullptr;
  }
  CSnBusMeter::Delete(m_meter);
  m_meter = nullptr;
  m_mixerMedia.Release();
  FreeFloats(m_nextMatrix);
  FreeFloats(m_previousMatrix);
}

SNRESULT CSnMixBus::Init(ISnMixBusNode* node, SnChannelConfig busConfig, SnChannelConfig parentConfig,
                         uint16_t frameLength, uint32_t deviceType, uint32_t deviceId) {
  m_deviceType = deviceType;
  m_deviceId = deviceId;
  m_parentConfig = parentConfig;
  m_frameLength = frameLength;
  m_frameReciprocal = frameLength ? 1.0f / float(frameLength) : 0.0f;
  m_buffer.channelConfig = busConfig;
  if (node) m_busId = node->BusId();
  if (CSnBusCallbackMgr::Get().HasVolumeCallback(m_busId)) m_flags |= kVolumeCallback;
  m_callbackMetering = CSnBusCallbackMgr::Get().GetMeteringFlags(m_busId) & kMeteringBits;
  if (node) {
    node->AddRef();
    m_node = node;
    if (!node->AcceptMixBus(true)) {
      // Refused: the node is not told of a bus it never took.
      m_node = nullptr;
      node->Release();
      return SN_Failure;
    }
    Attach(node->TargetNode());
  }
  m_state = SnMixBus_Idle;
  m_inputs = 0;
  const uint32_t channels = ChannelCount(busConfig);
  m_buffer.samples = AllocFloats(channels * frameLength);
  if (!m_buffer.samples) return SN_InsufficientMemory;
  m_buffer.validFrames = 0;
  m_buffer.maxFrames = frameLength;
  m_buffer.state = kBufferNoDataYet;
  m_volumeDb = m_node ? m_node->EffectiveVolume() : 0.0f;
  m_flags &= ~kGainsInitialised;
  if (m_node && m_node->BypassAllEffects()) m_busFlags |= kBypass;
  ReadPositioning();
  m_nextMatrix = AllocFloats(MatrixFloats(busConfig, parentConfig));
  m_previousMatrix = AllocFloats(MatrixFloats(busConfig, parentConfig));
  if (!m_nextMatrix || !m_previousMatrix) return SN_Failure;
  if (m_node) {
    if (ISnEffectDefinition* mixer = m_node->Mixer()) {
      mixer->Release();
      m_mixer = static_cast<MixerSlot*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(MixerSlot)));
      if (!m_mixer) return SN_InsufficientMemory;
      new (m_mixer) MixerSlot;
    }
  }
  RebuildMeter();
  return SN_Success;
}

void CSnMixBus::SetParamValue(uint32_t parameterId, float value, float delta) {
  switch (parameterId) {
    case 5: m_volumeDb += delta; break;
    case 11: m_centrePercent = value; break;
    case 20: m_panLeftRight = value; break;
    case 21: m_panFrontRear = value; break;
    case 24:
    case 25:
    case 26:
    case 27: {
      EffectSlot& slot = m_slots[parameterId - 24];
      slot.flags = uint8_t(value != 0.0f ? slot.flags | kBypass : slot.flags & ~kBypass);
      break;
    }
    case 28: m_busFlags = uint8_t(value != 0.0f ? m_busFlags | kBypass : m_busFlags & ~kBypass); break;
    case 63: m_threeD = value > 0.0f; break;
    default: break;
  }
}

void CSnMixBus::ReadPositioning() {
  const SnBusPositioning positioning = m_node ? m_node->Positioning() : SnBusPositioning{};
  if (positioning.enabled) {
    m_flags |= kPositioningEnabled;
    m_panLeftRight = positioning.panLeftRight;
    m_panFrontRear = positioning.panFrontRear;
    m_centrePercent = positioning.centrePercent;
    m_threeD = positioning.threeD;
  } else {
    m_flags &= ~kPositioningEnabled;
    m_panLeftRight = 0.5f;
    m_panFrontRear = 1.0f;
    m_centrePercent = 100.0f;
    m_threeD = false;
  }
}

void CSnMixBus::SetVolume(float dB) {
  m_volumeDb = dB;
  ReadPositioning();
}

void CSnMixBus::SetBypass(uint32_t value, uint32_t mask) {
  for (uint32_t slot = 0; slot < 4; ++slot) {
    if (!(mask & (1u << slot))) continue;
    EffectSlot& s = m_slots[slot];
    s.flags = uint8_t((value & (1u << slot)) ? s.flags | kBypass : s.flags & ~kBypass);
  }
  if (mask & 0x10) m_busFlags = uint8_t((value & 0x10) ? m_busFlags | kBypass : m_busFlags & ~kBypass);
}

void CSnMixBus::SetCallbackMeteringFlags(uint32_t flags) {
  m_callbackMetering = flags & kMeteringBits;
  RebuildMeter();
}

void CSnMixBus::SetMixerMeteringFlags(uint32_t flags) {
  m_mixerMetering = flags & kMeteringBits;
  RebuildMeter();
}

void CSnMixBus::SetVolumeCallbackFlag(bool on) {
  m_flags = uint8_t(on ? m_flags | kVolumeCallback : m_flags & ~kVolumeCallback);
}

void CSnMixBus::RebuildMeter() {
  const uint32_t wanted = m_callbackMetering | m_mixerMetering;
  if (m_meter && m_meter->GetFlags() != wanted) {
    CSnBusMeter::Delete(m_meter);
    m_meter = nullptr;
  }
  if (!wanted || m_meter) return;
  m_meter = CSnBusMeter::New();
  if (m_meter && m_meter->Create(ChannelCount(m_buffer.channelConfig), LowerEngine::SampleRate(), wanted) == SN_Success)
    return;
  SOUND_LOG(Warning, "Bus %u runs without its meter: out of memory", m_busId);
  CSnBusMeter::Delete(m_meter);
  m_meter = nullptr;
}

ISnMetering* CSnMixBus::Meter() const { return m_meter; }
ISnPlugin* CSnMixBus::MixerPlugin() const { return m_mixer ? m_mixer->plugin : nullptr; }

SnAudioFormat CSnMixBus::BusFormat() const {
  SnAudioFormat format;
  format.sampleRate = LowerEngine::SampleRate();
  format.channelConfig = m_buffer.channelConfig;
  format.SetFields(32, ChannelCount(m_buffer.channelConfig) * 4, 1, 1);
  return format;
}

void CSnMixBus::ClearSlot(uint32_t index) {
  EffectSlot& slot = m_slots[index];
  if (slot.plugin) slot.plugin->Term(&PluginAllocator());
  slot.plugin = nullptr;
  if (slot.context) {
    slot.context->~CSnBusEffectContext();
    MemoryMgr::Falign(g_LEngineDefaultPoolId, slot.context);
    slot.context = nullptr;
  }
  slot.effectId = kNoEffect;
  DropParamCopy(slot.definition, slot.params);
  if (slot.definition) slot.definition->Release();
  slot.definition = nullptr;
}

void CSnMixBus::CreateEffect(uint32_t index) {
  ClearSlot(index);
  if (!m_node) return;
  EffectSlot& slot = m_slots[index];
  bool bypass = false;
  ISnEffectDefinition* definition = m_node->Effect(index, bypass);
  if (!definition) return;
  slot.flags = uint8_t(bypass ? slot.flags | kBypass : slot.flags & ~kBypass);
  slot.effectId = definition->EffectId();
  definition->AddRef();
  slot.definition = definition;
  slot.params = MakeParamCopy(*definition);
  bool made = false;
  if (slot.params) {
    void* memory = MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(CSnBusEffectContext), 16);
    if (memory) {
      slot.context = new (memory) CSnBusEffectContext(
          index, {m_deviceType, m_deviceId, m_node->Category(), static_cast<const ISnMediaIdSource*>(this)});
      ISnPlugin* plugin = nullptr;
      const uint32_t key = definition->PluginKey();
      if (!KeyIsOfType(key, SnPluginType_Effect)) {
        SOUND_LOG(Error, "Bus %u: effect %u is not an effect plug-in", m_busId, slot.effectId);
      } else if (CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), key, plugin) == SN_Success) {
        slot.plugin = static_cast<ISnEffectPlugin*>(plugin);
        SnPluginInfo info{};
        SnAudioFormat format = BusFormat();
        if (slot.plugin->QueryInfo(info) == SN_Success && !info.secondFlag &&
            slot.plugin->Init(&PluginAllocator(), slot.context, slot.params, format) == SN_Success &&
            slot.plugin->Reset() == SN_Success)
          made = true;
      }
    }
  }
  definition->Release();  // the local reference; the slot keeps its own
  if (!made) ClearSlot(index);
}

void CSnMixBus::CreateAllEffects() {
  for (uint32_t slot = 0; slot < 4; ++slot) CreateEffect(slot);
  m_busFlags |= kEffectsCreated;
  if (m_node) m_busFlags = uint8_t(m_node->BypassAllEffects() ? m_busFlags | kBypass : m_busFlags & ~kBypass);
}

void CSnMixBus::UpdateEffect(uint32_t slot) {
  if (m_state == SnMixBus_Removing) return;
  if (slot < 4) {
    CreateEffect(slot);
    return;
  }
  CreateAllEffects();
  if (m_mixer) {
    ClearMixer();
    CreateMixer();
  }
}

void CSnMixBus::ClearMixer() {
  if (!m_mixer || !m_mixer->plugin) return;
  m_mixer->plugin->Term(&PluginAllocator());
  m_mixer->plugin = nullptr;
  m_mixerMedia.Release();
  m_mixerMetering = 0;
  RebuildMeter();
}

ISnPluginParam* CSnMixBus::MixerParams() {
  if (!m_mixer || !m_node) return nullptr;
  if (!(m_flags & kMixerParamsLooked)) {
    m_flags |= kMixerParamsLooked;
    if (ISnEffectDefinition* definition = m_node->Mixer()) {
      m_mixer->params = MakeParamCopy(*definition);
      if (m_mixer->params) {
        m_mixer->definition = definition;  // the lookup's reference is the slot's
        m_mixer->effectId = definition->EffectId();
      } else {
        definition->Release();
      }
    }
  }
  return m_mixer->params;
}

void CSnMixBus::CreateMixer() {
  if (!m_mixer || m_mixer->plugin) return;
  ISnPluginParam* params = MixerParams();
  if (!params || !m_mixer->definition) return;
  const uint32_t key = m_mixer->definition->PluginKey();
  ISnPlugin* plugin = nullptr;
  if (!KeyIsOfType(key, SnPluginType_Mixer) ||
      CSnPluginFactoryTable::CreatePlugin(&PluginAllocator(), key, plugin) != SN_Success) {
    SOUND_LOG(Error, "Bus %u: mixer %u could not be made", m_busId, m_mixer->effectId);
    return;
  }
  auto* mixer = static_cast<ISnMixerPlugin*>(plugin);
  SnPluginInfo info{};
  SnAudioFormat format = BusFormat();
  if (mixer->QueryInfo(info) != SN_Success || info.type != SnPluginType_Mixer || info.secondFlag ||
      mixer->Init(&PluginAllocator(), this, params, format) != SN_Success || mixer->Reset() != SN_Success) {
    mixer->Term(&PluginAllocator());
    return;
  }
  m_mixer->plugin = mixer;
}

void CSnMixBus::InputConnected(void* context, bool connected) {
  if (connected) {
    ++m_inputs;
    if (m_state != SnMixBus_Active && m_node) SetVolume(m_node->EffectiveVolume());
    if (m_mixer) {
      CreateMixer();
      if (m_mixer->plugin) m_mixer->plugin->InputAdded(context);
    }
    return;
  }
  ORV_ASSERT(m_inputs > 0);
  if (m_inputs) --m_inputs;
  if (m_mixer && m_mixer->plugin) m_mixer->plugin->InputRemoved(context);
}

void CSnMixBus::BeginInput() {
  if (!(m_busFlags & kEffectsCreated)) CreateAllEffects();
  m_buffer.state = kBufferDataReady;
  if (m_state == SnMixBus_Idle) m_state = SnMixBus_Active;
}

void CSnMixBus::ClearIfStale() {
  if (!m_stale) return;
  memset(m_buffer.samples, 0, sizeof(float) * ChannelCount(m_buffer.channelConfig) * m_buffer.maxFrames);
  m_stale = false;
}

void CSnMixBus::ConsumeVoice(const SnVoiceMixInput& input) {
  if (!input.buffer || !input.buffer->validFrames) return;
  BeginInput();
  // The factors are the motion devices' share; on any other bus they do not count.
  const bool motion = (m_graphFlags & kMotionBus) != 0;
  const float previousFactor = motion ? input.previousFactor : 1.0f;
  const float nextFactor = motion ? input.nextFactor : 1.0f;
  if (m_mixer && m_mixer->plugin) {
    // A plug-in reads the whole frame: before a voice that began inside it and after one that ended
    // inside it, silence.
    MixKernels::ClearPastValid(*input.buffer, input.leadingSilence);
    ClearIfStale();
    m_mixer->plugin->MixInput(input.context, input.voicePreviousGain * input.previousVolume,
                              input.voiceNextGain * input.nextVolume, previousFactor, nextFactor, *input.buffer,
                              m_buffer);
    return;
  }
  // A voice that starts or ends inside the frame is mixed only where it sounds; its buffer is left as
  // it came, and the voice clears the rest for any reader that takes the whole frame.
  MixKernels::AddWithMatrix(m_buffer, *input.buffer, input.previousMatrix, input.nextMatrix,
                            input.voicePreviousGain * previousFactor * input.previousVolume,
                            input.voiceNextGain * nextFactor * input.nextVolume, m_frameLength, m_stale,
                            input.buffer->validFrames, input.leadingSilence);
  m_stale = false;
}

void CSnMixBus::ConsumeChildBus(CSnMixBus& child) {
  SnMixBuffer& in = child.m_buffer;
  if (!in.validFrames) return;
  BeginInput();
  MixKernels::ClearPastValid(in);
  if (m_mixer && m_mixer->plugin) {
    ClearIfStale();
    m_mixer->plugin->MixInput(&child, child.m_previousGain, child.m_nextGain, 1.0f, 1.0f, in, m_buffer);
    return;
  }
  if (!(child.m_flags & (kPositioningEnabled | kVolumeCallback)) && in.channelConfig == m_buffer.channelConfig) {
    const float step = (child.m_nextGain - child.m_previousGain) * m_frameReciprocal;
    const uint32_t channels = ChannelCount(in.channelConfig);
    // The bus's planes are as long as the frame: an overwriting store leaves nothing stale.
    ORV_ASSERT(m_buffer.maxFrames == m_frameLength);
    for (uint32_t c = 0; c < channels; ++c) {
      const float* source = in.samples + size_t(c) * in.maxFrames;
      float* target = m_buffer.samples + size_t(c) * m_buffer.maxFrames;
      if (m_stale)
        MixKernels::SetRamped(source, target, child.m_previousGain, step, m_frameLength);
      else
        MixKernels::AddRamped(source, target, child.m_previousGain, step, m_frameLength);
    }
    m_stale = false;
    m_buffer.validFrames = m_frameLength;
    return;
  }
  MixKernels::AddWithMatrix(m_buffer, in, child.m_previousMatrix, child.m_nextMatrix, child.m_previousGain,
                            child.m_nextGain, m_frameLength, m_stale);
  m_stale = false;
}

void CSnMixBus::ReportVoicePeak(float levelDb) {
  if (levelDb > m_window.peakDb) m_window.peakDb = levelDb;
}

void CSnMixBus::ComputeGains() {
  m_previousGain = m_nextGain;
  const uint32_t matrixFloats = MatrixFloats(m_buffer.channelConfig, m_parentConfig);
  memcpy(m_previousMatrix, m_nextMatrix, sizeof(float) * matrixFloats);
  m_nextGain = VoiceParams::FastDbToLinear(m_volumeDb);
  const bool callback = HasVolumeCallback() && m_busId != 0;
  if (callback || m_panLeftRight != m_lastPanLeftRight || m_panFrontRear != m_lastPanFrontRear ||
      m_centrePercent != m_lastCentrePercent || m_threeD != m_lastThreeD) {
    const bool positioning = (m_flags & kPositioningEnabled) != 0;
    const float x = Clamp((m_panLeftRight + 100.0f) * 0.005f, 0.0f, 1.0f);
    const float y = Clamp((m_panFrontRear + 100.0f) * 0.005f, 0.0f, 1.0f);
    const float centre = positioning ? m_centrePercent * 0.01f : 1.0f;
    // A 3D-positioned bus takes its 2D matrix until buses have a 3D panner.
    memset(m_nextMatrix, 0, sizeof(float) * matrixFloats);
    CSnSpeakerPan::Pan2D(x, y, centre, positioning, m_buffer.channelConfig, m_parentConfig, m_nextMatrix);
    if (callback) {
      float callbackGain = 1.0f;
      SnBusVolumeCallbackInfo info;
      info.volumeMatrix = m_nextMatrix;
      info.busConfig = m_buffer.channelConfig;
      info.parentConfig = m_parentConfig;
      info.busGain = &m_nextGain;
      info.callbackGain = &callbackGain;
      info.bus = static_cast<const ISnBusInformation*>(this);
      info.parentMixer = m_pParent ? static_cast<ISnMixerPluginContext*>(m_pParent) : nullptr;
      CSnBusCallbackMgr::Get().DoVolumeCallback(m_busId, &info);
      m_nextGain *= callbackGain;
    }
    m_lastPanLeftRight = m_panLeftRight;
    m_lastPanFrontRear = m_panFrontRear;
    m_lastCentrePercent = m_centrePercent;
    m_lastThreeD = m_threeD;
  }
  if (!(m_flags & kGainsInitialised)) {
    // A new bus starts at its volume: nothing ramps in from silence.
    m_previousGain = m_nextGain;
    memcpy(m_previousMatrix, m_nextMatrix, sizeof(float) * matrixFloats);
    m_flags |= kGainsInitialised;
  }
}

void CSnMixBus::ProcessFrame() {
  ClearIfStale();  // no input came: effects, meter and mixer see silence
  if (m_mixer && m_mixer->plugin) m_mixer->plugin->InputsMixed(m_buffer);
  if (m_state == SnMixBus_Active) {
    for (EffectSlot& slot : m_slots) {
      if (!slot.plugin) continue;
      const uint8_t both = slot.flags | m_busFlags;
      if (!(both & kBypass))
        slot.plugin->ProcessInPlace(m_buffer);
      else if (!(both & kBypassApplied))
        slot.plugin->Reset();
      slot.flags = uint8_t((slot.flags & ~kBypassApplied) | ((slot.flags & kBypass) ? kBypassApplied : 0));
    }
    m_busFlags = uint8_t((m_busFlags & ~kBypassApplied) | ((m_busFlags & kBypass) ? kBypassApplied : 0));
  }
  ComputeGains();
  m_buffer.previousGain = m_previousGain;
  m_buffer.nextGain = m_nextGain;
  if (m_mixer && m_mixer->plugin) m_mixer->plugin->EffectsProcessed(m_buffer);
  if (m_meter) {
    m_meter->Compute(m_nextGain, m_buffer);
    if (m_callbackMetering)
      CSnBusCallbackMgr::Get().DoMeteringCallback(m_busId, static_cast<ISnMetering*>(m_meter), m_buffer.channelConfig);
  }
  if (m_mixer && m_mixer->plugin) m_mixer->plugin->FrameEnd(m_buffer, m_meter);
}

void CSnMixBus::EndFrame() {
  if (!m_buffer.samples) return;
  m_state = m_buffer.state == kBufferNoDataYet ? SnMixBus_Idle : SnMixBus_Active;
  m_buffer.state = kBufferNoDataYet;
  m_buffer.validFrames = 0;
  m_stale = true;
}

bool CSnMixBus::UsesBankMedia(const CSnLoadedBank* bank) const {
  for (const EffectSlot& slot : m_slots)
    if (slot.context && slot.context->UsesBankMedia(bank)) return true;
  return m_mixerMedia.HoldsBank(bank);
}

bool CSnMixBus::RelocateBankMedia(const CSnLoadedBank* bank) {
  bool stuck = false;
  for (EffectSlot& slot : m_slots)
    if (slot.context && slot.context->RelocateMedia(bank, slot.plugin)) stuck = true;
  if (m_mixerMedia.Relocate(bank, m_mixer ? m_mixer->plugin : nullptr)) stuck = true;
  return !stuck;
}

void CSnMixBus::RebuildEffects() {
  for (uint32_t slot = 0; slot < 4; ++slot) ClearSlot(slot);
  ClearMixer();
  m_busFlags &= ~kEffectsCreated;
  if (m_state == SnMixBus_Active) CreateAllEffects();
  if (m_inputs) CreateMixer();
}

void CSnMixBus::ForEachPluginOf(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie) {
  for (EffectSlot& slot : m_slots)
    if (slot.plugin && slot.effectId == effectId) callback(slot.plugin, cookie);
  if (m_mixer && m_mixer->plugin && m_mixer->effectId == effectId) callback(m_mixer->plugin, cookie);
}

ISnStreamMgr* CSnMixBus::GetStreamManager() { return ISnStreamMgr::m_pStreamMgr; }
uint16_t CSnMixBus::GetFrameLength() { return uint16_t(LowerEngine::SamplesPerFrame()); }
SNRESULT CSnMixBus::GetOutputDevice(uint32_t& deviceId, uint32_t& deviceType) {
  deviceId = m_deviceId;
  deviceType = m_deviceType;
  return SN_Success;
}
SNRESULT CSnMixBus::GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) {
  return m_mixerMedia.Get(this, kMixerSlot, index, data, size);
}
const CSnCpuInfo* CSnMixBus::GetCpuInfo() { return &CSnCpuInfo::GetInstance(); }

uint32_t CSnMixBus::GetBusKind() {
  if (!m_node) return m_deviceType == 32 ? 1 : 0;
  if (m_node->Flags() & 0x40) return m_node->IsMasterBus() ? 3 : 2;
  return m_node->IsMasterBus() ? 1 : 0;
}

SNRESULT CSnMixBus::MixWithMatrix(const SnMixBuffer& input, SnMixBuffer& output, float initialGain, float finalGain,
                                  const float* initialMatrix, const float* finalMatrix) {
  if (!input.samples || !output.samples || !initialMatrix || !finalMatrix) return SN_InvalidParameter;
  MixKernels::AddWithMatrix(output, input, initialMatrix, finalMatrix, initialGain, finalGain, output.maxFrames);
  return SN_Success;
}

SNRESULT CSnMixBus::MixWithMatrixWithoutLfe(const SnMixBuffer& input, SnMixBuffer& output, float initialGain,
                                            float finalGain, const float* initialMatrix, const float* finalMatrix) {
  SnMixBuffer withoutLfe = input;
  if (HasLfe(input.channelConfig)) {
    const uint32_t mask = ChannelMask(input.channelConfig) & ~kSpeakerLfe;
    withoutLfe.channelConfig = (mask << 12) | (input.channelConfig & 0xF00) | ((ChannelCount(input.channelConfig) - 1) & 0xFF);
  }
  return MixWithMatrix(withoutLfe, output, initialGain, finalGain, initialMatrix, finalMatrix);
}

void CSnMixBus::MixSingleChannel(const float* input, float* output, float initialGain, float finalGain,
                                 uint32_t frames) {
  if (!frames || !input || !output) return;
  MixKernels::AddRamped(input, output, initialGain, (finalGain - initialGain) / float(frames), frames);
}

float CSnMixBus::CentrePercentage() const {
  return (m_flags & kPositioningEnabled) ? m_centrePercent * 0.01f : 1.0f;
}

void CSnMixBus::PanPosition(float position[3]) const {
  const bool on = (m_flags & kPositioningEnabled) != 0;
  position[0] = on ? Clamp(m_panLeftRight * 0.01f, -1.0f, 1.0f) : 0.0f;
  position[1] = on ? Clamp(m_panFrontRear * 0.01f, -1.0f, 1.0f) : 0.0f;
  position[2] = 0.0f;
}

void CSnMixBus::CopyVolumeMatrices(float* previous, float* next) const {
  const uint32_t floats = MatrixFloats(m_buffer.channelConfig, m_parentConfig);
  if (m_previousMatrix && m_nextMatrix) {
    memcpy(previous, m_previousMatrix, sizeof(float) * floats);
    memcpy(next, m_nextMatrix, sizeof(float) * floats);
  } else {
    memset(previous, 0, sizeof(float) * floats);
    memset(next, 0, sizeof(float) * floats);
  }
}

uint32_t CSnMixBus::MediaIdOf(uint32_t slot, uint32_t index) const {
  return m_node ? m_node->MediaId(slot, index) : kNoEffect;
}

}  // namespace SN
