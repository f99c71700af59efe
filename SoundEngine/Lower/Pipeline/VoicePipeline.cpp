// The voice pipeline's frame (source, inserts, gains, matrices, mixing), its connections to mix
// buses, and the factory the lower engine makes pipelines with.
#include "SoundEngine/Lower/Pipeline/VoicePipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>

#include "Base/Assert.h"
#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Pipeline/VoiceInsertEffect.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"

namespace SN {
namespace {

constexpr uint32_t kMotionDeviceType = 0x80;

class CSnVoicePipelineFactory final : public ISnVoicePipelineFactory {
 public:
  ISnVoicePipeline* Create() override { return CSnVoicePipeline::New(); }
};

// Destroyed pipelines and connections, kept for the next voices.
CSnKeptBlocks& KeptPipelines() {
  static CSnKeptBlocks kept(sizeof(CSnVoicePipeline), 16, g_LEngineDefaultPoolId);
  return kept;
}
CSnKeptBlocks& KeptConnections() {
  static CSnKeptBlocks kept(sizeof(CSnVoicePipeline::Connection), 16, g_LEngineDefaultPoolId);
  return kept;
}

// The bus node of the nearest node, the sound or an ancestor, that names an output bus.
ISnMixBusNode* FindOutputBus(const CSnHierarchyNode* node) {
  ISnBusNodeDirectory* directory = BusNodeDirectory();
  if (!directory) return nullptr;
  for (; node; node = node->Parent())
    if (const CSnHierarchyNode* bus = node->OutputBus()) return directory->FindBusNode(bus->ID());
  return nullptr;
}

// A motion voice mixes in the node's motion bus: its nearest secondary output, else the default one.
ISnMixBusNode* FindMotionBus(const CSnHierarchyNode* node) {
  ISnBusNodeDirectory* directory = BusNodeDirectory();
  return directory ? directory->FindMotionBus(node) : nullptr;
}

}  // namespace

ISnVoiceSource* CreateVoiceSource(CSnPlaybackInstance& instance, uint32_t outputRate) {
  ISnVoiceSourceFactory* factory = VoiceSourceFactory();
  return factory ? factory->CreateVoiceSource(instance, outputRate) : nullptr;
}

namespace LowerEngine {
ISnVoicePipelineFactory& RealVoicePipelineFactory() {
  static CSnVoicePipelineFactory factory;
  return factory;
}
}  // namespace LowerEngine

CSnVoicePipeline* CSnVoicePipeline::New() {
  void* memory = KeptPipelines().Take();
  return memory ? new (memory) CSnVoicePipeline() : nullptr;
}

CSnVoicePipeline::~CSnVoicePipeline() {
  DestroyConnections();
  for (CSnVoiceInsertEffect*& insert : m_inserts) {
    if (insert) insert->Destroy();
    insert = nullptr;
  }
  if (m_source) m_source->Destroy();
  m_filter.Term();
  if (m_rays) MemoryMgr::Free(g_LEngineDefaultPoolId, m_rays);
  if (m_scratch) MemoryMgr::Free(g_LEngineDefaultPoolId, m_scratch);
  if (m_nextSource) m_nextSource->Destroy();
  if (m_chainSamples) MemoryMgr::Free(g_LEngineDefaultPoolId, m_chainSamples);
  if (m_silence.samples) MemoryMgr::Free(g_LEngineDefaultPoolId, m_silence.samples);
  if (m_outputBus) m_outputBus->Release();
  if (m_madeWhole) LowerEngine::VoiceMemoryReturned();
}

void CSnVoicePipeline::Destroy() {
  CSnPlaybackInstance* instance = m_instance;
  CSnPlaybackInstance* next = m_nextInstance;  // a chained instance the voice never reached
  this->~CSnVoicePipeline();
  KeptPipelines().Keep(this);
  // Last: the instance is retired at the end of the pass and must find no pipeline. Term destroys
  // pipelines outside any pass; the lock is re-entrant, so taking it here costs a pass nothing.
  if (instance || next) {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    if (instance) instance->DetachVoiceContext(0);
    if (next) next->DetachVoiceContext(0);
  }
}

// The insert effects' contexts first, then the sources, which read their instance's media.
bool CSnVoicePipeline::UsesMedia(const void* data) const {
  if (!data) return false;
  for (const CSnVoiceInsertEffect* insert : m_inserts)
    if (insert && insert->UsesMedia(data)) return true;
  for (const CSnPlaybackInstance* instance : {m_instance, m_nextInstance})
    if (instance && instance->MediaData() == data) return true;
  for (const ISnVoiceSource* source : {m_source, m_nextSource})
    if (source && source->HoldsPluginMedia(nullptr, data)) return true;
  return false;
}

bool CSnVoicePipeline::UsesBankMedia(const CSnLoadedBank* bank) const {
  for (const CSnVoiceInsertEffect* insert : m_inserts)
    if (insert && insert->UsesBankMedia(bank)) return true;
  for (const CSnPlaybackInstance* instance : {m_instance, m_nextInstance})
    if (instance && instance->HoldsBankMedia(bank)) return true;
  for (const ISnVoiceSource* source : {m_source, m_nextSource})
    if (source && source->HoldsPluginMedia(bank, nullptr)) return true;
  return false;
}

bool CSnVoicePipeline::RelocateBankMedia(const CSnLoadedBank* bank) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  for (CSnVoiceInsertEffect* insert : m_inserts)
    if (insert) insert->RelocateBankMedia(bank);
  for (CSnPlaybackInstance* instance : {m_instance, m_nextInstance})
    if (instance) instance->OnMediaContextChanged(bank);
  for (ISnVoiceSource* source : {m_source, m_nextSource})
    if (source) source->RelocatePluginMedia(bank);
  return !UsesBankMedia(bank);
}

bool CSnVoicePipeline::MoveSourceMedia(const CSnPlaybackInstance* instance, const uint8_t* newData,
                                       const uint8_t* oldData, uint32_t size) {
  ISnVoiceSource* source = instance == m_instance ? m_source : instance == m_nextInstance ? m_nextSource : nullptr;
  return source && source->RelocateMedia(newData, oldData, size);
}

SNRESULT CSnVoicePipeline::Init(ISnVoiceInstance* voice, uint32_t outputRate) {
  CSnPlaybackInstance* instance = voice ? voice->PlaybackInstance() : nullptr;
  if (!instance) return SN_InvalidParameter;
  m_instance = instance;
  m_outputRate = outputRate;
  instance->SetVoicePipeline(this);
  LowerEngine::TakeNoRoomForVoice();
  m_source = CreateVoiceSource(*instance, outputRate);
  if (!m_source && LowerEngine::TakeNoRoomForVoice()) {
    LowerEngine::RefuseVoiceForMemory(instance->PlayingId());
    return SN_InsufficientMemory;
  }
  if (!m_source) {
    SOUND_LOG(Error, "Playing id %u: no source could be made for the voice", instance->PlayingId());
    return SN_Failure;
  }
  m_sourceFormat = m_outputFormat = m_source->Format();
  TakeOutputBus();
  return TryLaunch();
}

bool CSnVoicePipeline::TakeOutputBus() {
  const auto* node = reinterpret_cast<const CSnHierarchyNode*>(m_instance->Node());
  ISnMixBusNode* bus = m_instance->IsMotion() ? FindMotionBus(node) : FindOutputBus(node);
  ISnBusNodeDirectory* directory = BusNodeDirectory();
  m_hasMotionOutput = !m_instance->IsMotion() && directory && directory->HasMotionOutput(node);
  if (bus == m_outputBus) {
    if (bus) bus->Release();
    return false;
  }
  if (m_outputBus) m_outputBus->Release();
  m_outputBus = bus;
  return true;
}

SNRESULT CSnVoicePipeline::TryLaunch() {
  const SNRESULT result = m_source ? m_source->Prepare() : SN_Failure;
  if (result == SN_Success) m_sourceFormat = m_outputFormat = m_source->Format();
  return result;
}

SNRESULT CSnVoicePipeline::ConnectBuses() { return LowerEngine::ConnectVoicePipeline(*this); }

SNRESULT CSnVoicePipeline::PrepareEffects() {
  if (m_effectsPrepared) return SN_Success;
  m_effectsPrepared = true;
  SnChannelConfig format = m_sourceFormat;
  ISnVoiceEffectProvider* provider = VoiceEffectProvider();
  const uint32_t slots = provider ? provider->EffectSlots(m_instance->Node()) : 0;
  for (uint32_t slot = 0; slot < kVoiceInsertSlots; ++slot)
    if (slots & (1u << slot)) MakeInsert(slot, format);
  m_outputFormat = format;
  return SN_Success;
}

void CSnVoicePipeline::MakeInsert(uint32_t slot, SnChannelConfig& format) {
  ISnVoiceEffectProvider* provider = VoiceEffectProvider();
  bool bypass = false;
  ISnEffectDefinition* definition = provider ? provider->VoiceEffect(m_instance->Node(), slot, bypass) : nullptr;
  if (!definition) return;
  // The plug-in's context hands it the voice's information, answering for the main output's listeners.
  const CSnOutputDevice* main = LowerEngine::FirstOutputDevice();
  m_voiceInfo.Bind(this, main ? main->OutputType() : 0, main ? main->DeviceId() : 0);
  ISnVoiceInformation* information = &m_voiceInfo;
  m_inserts[slot] =
      CSnVoiceInsertEffect::Create(definition, slot, information, format, uint16_t(LowerEngine::SamplesPerFrame()),
                                   m_instance->Key(), &m_instance->Modulators());
  if (m_inserts[slot]) m_inserts[slot]->m_bypassed = bypass;
  definition->Release();
}

void CSnVoicePipeline::ShowVolumeMatrices() {
  for (const Connection* connection = m_connections; connection; connection = connection->next) {
    const ISnMixBusInput& bus = *connection->bus;
    if ((connection->type & 3) != SnConnection_Dry || !connection->matrixChannels || !connection->firstFrameDone ||
        bus.DeviceType() != m_voiceInfo.OutputType() || bus.DeviceId() != m_voiceInfo.DeviceId())
      continue;
    m_voiceInfo.SetVolumeMatrices(connection->previousMatrix, connection->nextMatrix,
                                  connection->matrixChannels * MatrixRowStride(bus.BusChannelConfig()));
    return;
  }
  m_voiceInfo.SetVolumeMatrices(nullptr, nullptr, 0);
}

void CSnVoicePipeline::RebuildFormat() {
  SnChannelConfig format = m_sourceFormat;
  for (CSnVoiceInsertEffect* insert : m_inserts)
    if (insert && !insert->InPlace()) format = insert->OutputFormat();
  m_outputFormat = format;
}

void CSnVoicePipeline::ReplaceEffect(uint32_t slot) {
  if (slot >= kVoiceInsertSlots) return;
  if (m_inserts[slot]) m_inserts[slot]->Destroy();
  m_inserts[slot] = nullptr;
  SnChannelConfig format = m_sourceFormat;
  for (uint32_t i = 0; i < slot; ++i)
    if (m_inserts[i] && !m_inserts[i]->InPlace()) format = m_inserts[i]->OutputFormat();
  MakeInsert(slot, format);
  RebuildFormat();
}

void CSnVoicePipeline::SetEffectBypass(uint32_t values, uint32_t mask) {
  for (uint32_t slot = 0; slot < kVoiceInsertSlots; ++slot)
    if ((mask & (1u << slot)) && m_inserts[slot]) m_inserts[slot]->m_bypassed = (values & (1u << slot)) != 0;
}

uint32_t CSnVoicePipeline::TakeListenerMask() { return m_instance->ListenerMask(); }

bool CSnVoicePipeline::IsMotion() const { return m_instance && m_instance->IsMotion(); }
CSnRegisteredObj* CSnVoicePipeline::GameObject() const { return m_instance ? m_instance->m_pGameObject : nullptr; }
uint32_t CSnVoicePipeline::Priority() const { return m_instance ? uint32_t(m_instance->Priority()) : 0; }
ISnVoiceInstance* CSnVoicePipeline::FirstSource() const { return m_instance; }

uint32_t CSnVoicePipeline::GetGameObjectId() {
  const CSnRegisteredObj* object = GameObject();
  return object ? object->ID() : 0;
}
uint32_t CSnVoicePipeline::GetNumGameObjectPositions() { return m_instance ? m_instance->GameObjectPositionCount() : 0; }
SNRESULT CSnVoicePipeline::GetGameObjectPosition(uint32_t index, SnSoundPosition& position) {
  return m_instance ? m_instance->GetGameObjectPosition(index, position) : SN_Failure;
}
uint8_t CSnVoicePipeline::GetPositioningType() {
  if (!m_instance) return 0;
  const SnInstancePositioning* positioning = m_instance->Positioning();
  const bool spatialised =
      m_instance->PositioningMode() != 0 && positioning && (positioning->flags & SnPositioning_Spatialize);
  return uint8_t((m_instance->PositioningMode() & 3) | (spatialised ? 4 : 0));
}
uint32_t CSnVoicePipeline::GetPlayingId() { return m_instance ? m_instance->PlayingId() : 0; }
float CSnVoicePipeline::GetAttenuationScaling() {
  const CSnRegisteredObj* object = GameObject();
  return object ? object->AttenuationScaling() : 1.0f;
}
float CSnVoicePipeline::GetOutputBusVolume() {
  const CSnRegisteredObj* object = GameObject();
  return object ? object->OutputBusVolume() : 1.0f;
}
int32_t CSnVoicePipeline::GetPriorityAtDistance(float distance) {
  return m_instance ? m_instance->GetPriorityAtDistance(distance) : 0;
}
uint8_t CSnVoicePipeline::GetVoiceBehaviour() { return m_instance ? m_instance->GetVoiceBehaviour() : 0; }
ISnVoiceInstance* CSnVoicePipeline::SecondSource() const { return m_nextInstance; }

SNRESULT CSnVoicePipeline::AddSecondSource(ISnVoiceInstance* voice) {
  CSnPlaybackInstance* next = voice ? voice->PlaybackInstance() : nullptr;
  if (!next || m_nextInstance || m_sourceEnded || !m_source) return SN_Failure;
  ISnVoiceSource* source = CreateVoiceSource(*next, m_outputRate);
  if (!source) return SN_Failure;
  // One whose data is still on its way joins all the same: it may be ready when the first ends, and
  // else begins once it is. Another layout begins in the frame after the first ends.
  const SNRESULT prepared = source->Prepare();
  if (prepared != SN_Success && prepared != SN_NotReadyYet) {
    source->Destroy();
    return SN_Failure;
  }
  m_nextInstance = next;
  m_nextSource = source;
  next->SetVoicePipeline(this);
  next->MarkLaunching();
  m_source->AttachNext(source);
  return SN_JoinedPipeline;
}

void CSnVoicePipeline::MoveOnToNextInstance() {
  // The first instance is done; the voice goes on as the second's.
  m_instanceDue = false;
  CSnPlaybackInstance* ended = m_instance;
  ended->MarkSourceStopped();
  m_instance = m_nextInstance;
  m_nextInstance = nullptr;
  m_nearEndTold = false;
  ended->DetachVoiceContext(0);
  m_instance->MarkSourcePlaying();
  // The next frame places the voice as this instance is placed (its gains and rays are computed from
  // it); what it is routed to is made again when that is another bus.
  if (TakeOutputBus()) m_routeAgain = true;
  // An item shorter than a frame or two must hand on now, or its own successor comes too late.
  TellNearEnd();
}

void CSnVoicePipeline::BeginSecondSource() {
  m_source->ReleaseBuffer();
  m_source->Destroy();
  m_source = m_nextSource;
  m_nextSource = nullptr;
  m_instanceDue = true;
  // Not ready yet, or of another layout, it is settled as the next frame it is heard in begins.
  m_sourcePending = m_source->Prepare() != SN_Success || m_source->Format() != m_sourceFormat;
}

void CSnVoicePipeline::DestroyConnections() {
  while (m_connections) {
    Connection* connection = m_connections;
    m_connections = connection->next;
    DestroyConnection(connection);
  }
  m_connectionCount = 0;
}

void CSnVoicePipeline::RouteAgain() {
  m_routeAgain = false;
  // The sends come back as the new instance's gains name them.
  DestroyConnections();
  m_auxSends.count = 0;
  if (LowerEngine::ConnectVoicePipeline(*this) != SN_Success)
    SOUND_LOG(Error, "Playing id %u: its voice could not be routed to its bus", m_instance->PlayingId());
}

bool CSnVoicePipeline::TakeSourceFormat() {
  const SNRESULT ready = m_source->Prepare();
  m_sourcePending = ready == SN_NotReadyYet;
  if (ready != SN_Success) return ready == SN_NotReadyYet;  // a refusal the source logged ends the voice
  const SnChannelConfig format = m_source->Format();
  if (format == m_sourceFormat) return true;
  // Another layout: the inserts are made again for it, and the silence their tails read is resized.
  m_sourceFormat = format;
  for (uint32_t slot = 0; slot < kVoiceInsertSlots; ++slot)
    if (m_inserts[slot]) ReplaceEffect(slot);
  RebuildFormat();
  if (m_silence.samples) MemoryMgr::Free(g_LEngineDefaultPoolId, m_silence.samples);
  m_silence.samples = nullptr;
  return true;
}

void CSnVoicePipeline::TellNearEnd() {
  if (m_nearEndTold || !m_source) return;
  // Told as soon as the source knows its end: a crossfade needs twice its time left to fade in full,
  // and a trigger rate counts from the item's beginning.
  const int64_t left = m_source->FramesLeft();
  if (left < 0) return;
  m_nearEndTold = true;
  m_instance->NotifyNearEnd(uint32_t(uint64_t(left) * 1000 / (m_outputRate ? m_outputRate : 48000)));
}

uint32_t CSnVoicePipeline::ChainSecondSource(uint32_t frames, uint32_t requested) {
  const uint32_t channels = ChannelCount(m_sourceFormat);
  const uint32_t floats = channels * requested;
  if (floats > m_chainFloats) {
    float* grown = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
    if (!grown) return SnVoice_DataReadyFinished;  // the chain is lost: this voice ends here
    if (m_chainSamples) MemoryMgr::Free(g_LEngineDefaultPoolId, m_chainSamples);
    m_chainSamples = grown;
    m_chainFloats = floats;
  }
  std::memset(m_chainSamples, 0, floats * sizeof(float));
  // Planar frames: each channel's run at its own stride, written at `at` in the joined frame.
  auto append = [&](const SnMixBuffer& from, uint32_t at, uint32_t count) {
    for (uint32_t c = 0; c < channels; ++c)
      std::memcpy(m_chainSamples + size_t(c) * requested + at, from.samples + size_t(c) * from.maxFrames,
                  count * sizeof(float));
  };
  append(m_frame, 0, frames);
  BeginSecondSource();
  uint32_t status = SnVoice_DataReady;
  uint32_t valid = frames;
  // The rest of this frame comes from it unless it waits past the frame (its wait counted down from
  // here on as any play's), is not ready yet or has another layout.
  const bool waits = m_nextInstance->HasInitialOffset() && m_nextInstance->InitialOffset() > 0;
  if (frames < requested && !m_sourcePending && !waits) {
    SnMixBuffer rest;
    status = uint32_t(m_source->GetBuffer(rest, requested - frames));
    if (status == SnVoice_DataReady || status == SnVoice_DataReadyFinished) {
      const uint32_t count = std::min<uint32_t>(rest.validFrames, requested - frames);
      append(rest, frames, count);
      valid += count;
    } else {
      status = SnVoice_DataReady;  // nothing yet from the second: it goes on next frame
    }
  }
  m_frame.samples = m_chainSamples;
  m_frame.maxFrames = uint16_t(requested);
  m_frame.validFrames = uint16_t(valid);
  m_frame.channelConfig = m_sourceFormat;
  return status;
}

bool CSnVoicePipeline::RoutesToDevice(uint32_t deviceType, uint32_t deviceId) const {
  for (const Connection* c = m_connections; c; c = c->next)
    if (c->bus->DeviceType() == deviceType && c->bus->DeviceId() == deviceId && (c->type & 3) == SnConnection_Dry)
      return true;
  return false;
}

SNRESULT CSnVoicePipeline::AddConnection(ISnMixBusInput* bus, uint32_t type) {
  if (!bus) return SN_InvalidParameter;
  for (const Connection* c = m_connections; c; c = c->next)
    if (c->bus == bus) return SN_Success;
  void* memory = KeptConnections().Take();
  if (!memory) return SN_InsufficientMemory;
  auto* connection = new (memory) Connection();
  connection->bus = bus;
  connection->type = type;
  connection->next = m_connections;
  m_connections = connection;
  ++m_connectionCount;
  bus->InputConnected(connection, true);
  return SN_Success;
}

void CSnVoicePipeline::DestroyConnection(Connection* connection) {
  connection->bus->InputConnected(connection, false);
  FreeMatrices(*connection);
  connection->~Connection();
  KeptConnections().Keep(connection);
}

void CSnVoicePipeline::RemoveDeviceConnections(uint32_t deviceType, uint32_t deviceId) {
  for (Connection** link = &m_connections; *link;) {
    Connection* connection = *link;
    if (connection->bus->DeviceType() == deviceType && connection->bus->DeviceId() == deviceId) {
      *link = connection->next;
      --m_connectionCount;
      DestroyConnection(connection);
    } else {
      link = &connection->next;
    }
  }
}

void CSnVoicePipeline::ForEachPluginOf(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie) {
  for (CSnVoiceInsertEffect* insert : m_inserts)
    if (insert && insert->EffectId() == effectId) callback(insert->Plugin(), cookie);
}

void CSnVoicePipeline::FirstGainPass() {
  if (m_routeAgain) RouteAgain();
  CSnPlaybackInstance& instance = *m_instance;
  // The frame its context is made, the players it reaches get their motion outputs.
  if (m_hasMotionOutput || instance.IsMotion()) instance.UpdateMotion(instance.MotionContext() ? 0 : kAllMotionPlayers);
  if (!instance.ParametersComputed()) instance.ComputeParameters();
  // Over a limit, or inaudible when its behaviour allows it, a voice goes virtual; it returns when
  // neither holds, counted again against the engine-wide maximum.
  const bool mayGoVirtual = instance.GetVoiceBehaviour() == SnVirtual_BecomeVirtual;
  const bool goVirtual = instance.m_limitedThisFrame || (mayGoVirtual && instance.IsInaudible());
  if (goVirtual && !instance.IsVirtual())
    instance.EnterVirtual();
  else if (!goVirtual && instance.IsVirtual())
    LeaveVirtual();
  instance.RecomputeGainIfDirty();
  // Volume and fades reach the voice once: the instance's linear gain (factors and both fades)
  // times its volume, which a 3D voice's rays carry; the connections take the second volume alone.
  const bool wasThreeD = m_threeD;
  m_threeD = instance.PositioningMode() != 0 && instance.Positioning();
  if (m_threeD) {
    m_nextGain = instance.LinearGain();
    ComputeRays();
  } else {
    m_nextGain =
        instance.LinearGain() * VoiceParams::VoiceVolumeToLinear(instance.Volume(), instance.Params().SecondVolume());
    m_rayCount = 0;
  }
  // Modulators on the volume scale the voice's samples in its source (per sample where they move
  // fast); the level the buses hear of it still counts them.
  m_modulatorGain = instance.Modulators().GetFactor(SnParamMask::Of(kVoiceVolumeParameter));
  m_connectionVolume = VoiceParams::VoiceLevelToLinear(instance.Params().SecondVolume());
  m_feedsMotion = ComputeFeedbackGains();
  if (!m_firstFrameDone)
    m_previousGain = m_nextGain;
  else if (m_threeD != wasThreeD)
    CarryLevelAcross();
  if (instance.HasAuxSends()) {
    SnInstanceAuxSend sends[kMaxInstanceAuxSends];
    const uint32_t count = instance.ComputeAuxSends(sends);
    SnGameAuxSend game[kMaxAuxSends + 1] = {};
    uint32_t games = 0;
    m_auxSends.count = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (sends[i].kind == 1)
        game[games++] = SnGameAuxSend{sends[i].busId, sends[i].level, 0};
      else
        m_auxSends.sends[m_auxSends.count++] = SnAuxSend{sends[i].level, 0.0f, sends[i].busId, 0};
    }
    LowerEngine::MergeAuxSends(*this, game, false);
  }
}

void CSnVoicePipeline::CarryLevelAcross() {
  // A 3D voice's rays carry its volume, a 2D voice's gain does: from one to the other (a chain's next
  // item placed otherwise) the two ramps would cross and swell the frame between. The connections
  // take over what the voice's gain was, and the frame ramps once, from the level heard to the new.
  const float ratio = m_nextGain > 0.0f ? m_previousGain / m_nextGain : 0.0f;
  for (Connection* connection = m_connections; connection; connection = connection->next)
    connection->nextVolume *= ratio;
  m_previousGain = m_nextGain;
}

void CSnVoicePipeline::LeaveVirtual() {
  m_instance->LeaveVirtual(true);
  if (!m_skipped) return;
  // Its source skipped while it was silent: the instance may know better where it goes on (a music
  // voice rejoins its music where that is now), or that it should not go on at all.
  m_skipped = false;
  if (m_instance->SyncSeekFromOwner() == SN_Failure) {
    EndSource();
    return;
  }
  if (m_source && !m_sourceEnded) m_source->EndSkipping();
}

void CSnVoicePipeline::SecondGainPass() {
  if (m_instance->IsVirtual()) return;
  for (Connection* connection = m_connections; connection; connection = connection->next) {
    if ((connection->type & 3) != SnConnection_Dry) continue;
    const float level = m_nextGain * m_modulatorGain * m_connectionVolume * connection->bus->DownstreamGain();
    if (level > 0.0f) connection->bus->ReportVoicePeak(SnFastMath::LinearToDb(level));
  }
}

void CSnVoicePipeline::FreeMatrices(Connection& connection) {
  // The pair shares one block, which begins at whichever of the two the frames' swaps left lower.
  float* block = connection.previousMatrix;
  if (!block || (connection.nextMatrix && std::less<float*>()(connection.nextMatrix, block)))
    block = connection.nextMatrix;
  if (block && block != connection.matricesInPlace) MemoryMgr::Free(g_LEngineDefaultPoolId, block);
  connection.previousMatrix = connection.nextMatrix = nullptr;
}

bool CSnVoicePipeline::SizeMatrices(Connection& connection, uint32_t voiceChannels) {
  if (connection.matrixChannels == voiceChannels && connection.nextMatrix) return true;
  FreeMatrices(connection);
  connection.previousVolume = connection.nextVolume = 0.0f;
  connection.previousFactor = connection.nextFactor = 0.0f;
  connection.firstFrameDone = false;
  connection.panned = SnPan2DValues{};
  const uint32_t floats = voiceChannels * MatrixRowStride(connection.bus->BusChannelConfig());
  connection.matrixChannels = 0;
  if (!floats) return false;
  // One block for the pair: a row stride of whole groups of four keeps the second 16-byte aligned.
  auto* block = 2 * floats <= Connection::kMatrixFloatsInPlace
                    ? connection.matricesInPlace
                    : static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, 2 * floats * sizeof(float), 16));
  if (!block) return false;
  std::memset(block, 0, 2 * floats * sizeof(float));
  connection.previousMatrix = block;
  connection.nextMatrix = block + floats;
  connection.matrixChannels = voiceChannels;
  return true;
}

void CSnVoicePipeline::ComputeRays() {
  CSnPlaybackInstance& instance = *m_instance;
  const uint32_t needed = instance.RayCapacityNeeded();
  if (needed > m_rayCapacity) {
    if (m_rays) MemoryMgr::Free(g_LEngineDefaultPoolId, m_rays);
    m_rays = static_cast<SnEmitterListenerRay*>(
        MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(SnEmitterListenerRay) * needed, alignof(SnEmitterListenerRay)));
    m_rayCapacity = m_rays ? needed : 0;
    if (!m_rays) EndForWantOfMemory();
  }
  m_rayCount = instance.ComputeEmitterListenerRays(instance.ThreeDType(), m_rays, m_rayCapacity);
  instance.GetVoiceGainParams(m_gainParams, m_obstruction, m_occlusion);
  // The rays' dry gains raise the players' feedback gains on their listeners.
  const CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (m_hasMotionOutput && motion && motion->HasDevices()) m_gainParams.feedback = &m_feedback;
  VoiceParams::ComputeRayVolumes(m_gainParams, m_rays, m_rayCount);
}

void CSnVoicePipeline::Pan3D(Connection& connection, const SnMixBuffer& buffer) {
  const CSnPlaybackInstance& instance = *m_instance;
  ISnMixBusInput& bus = *connection.bus;
  const SnInstancePositioning& record = *instance.Positioning();
  const SnAttenuation* attenuation = m_gainParams.attenuation;
  const CSnOutputDevice* device = LowerEngine::FindOutputDevice(bus.DeviceType(), bus.DeviceId());
  SnRayPanSettings settings;
  settings.input = buffer.channelConfig;
  settings.output = bus.BusChannelConfig();
  // The listeners the device renders that the voice's game object is heard by: a listener that
  // does not hear the voice leaves its obstruction out.
  settings.listenerMask = device ? device->ListenerMask() & instance.ListenerMask() : 0;
  settings.outputType = bus.DeviceType();
  settings.deviceId = bus.DeviceId();
  settings.centre = instance.PanCentre() * 0.01f;
  settings.spatialize3D = record.flags & SnPositioning_Spatialize;
  settings.multiPositionType = instance.MultiPositionType();
  settings.kind = SnOutputPathKind(connection.type & 3);
  settings.spreadCurve = attenuation ? attenuation->curves[SnAttenuationCurve_Spread] : nullptr;
  settings.focusCurve = attenuation ? attenuation->curves[SnAttenuationCurve_Focus] : nullptr;
  const uint32_t floats = 2 * MatrixFloats(settings.input, settings.output);
  if (floats > m_scratchFloats) {
    if (m_scratch) MemoryMgr::Free(g_LEngineDefaultPoolId, m_scratch);
    m_scratch = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
    m_scratchFloats = m_scratch ? floats : 0;
    if (!m_scratch) EndForWantOfMemory();
  }
  float gain = 0.0f;
  if (!m_scratch || CSnSpeakerPan::ComputeRayMatrices(settings, m_rays, m_rayCount, connection.nextMatrix, m_scratch,
                                                      gain) != SN_Success)
    gain = 0.0f;
  connection.nextVolume = gain * m_connectionVolume * bus.DownstreamGain();
  if (!(connection.nextVolume > 0.0f)) return;
  SnOutputPathFilters filters;
  VoiceParams::ComputeFilters(m_gainParams, m_rays, m_rayCount, settings.listenerMask, filters);
  m_filterValues.lowPass = std::min(m_filterValues.lowPass, filters.lowPass);
  m_filterValues.highPass = std::min(m_filterValues.highPass, filters.highPass);
  if ((connection.type & 3) == SnConnection_Dry) {
    m_filterValues.obstructionLowPass = std::min(m_filterValues.obstructionLowPass, filters.obstructionLowPass);
    m_filterValues.obstructionHighPass = std::min(m_filterValues.obstructionHighPass, filters.obstructionHighPass);
  }
  m_filtersFromPaths = true;
}

void CSnVoicePipeline::PrepareConnection(Connection& connection, const SnMixBuffer& buffer) {
  ISnMixBusInput& bus = *connection.bus;
  if (!SizeMatrices(connection, ChannelCount(buffer.channelConfig))) return;
  std::swap(connection.previousMatrix, connection.nextMatrix);
  connection.previousVolume = connection.nextVolume;
  connection.previousFactor = connection.nextFactor;
  const CSnPlaybackInstance& instance = *m_instance;
  if (m_threeD) {
    Pan3D(connection, buffer);
    connection.pannedIn2D = false;
  } else {
    SnPan2DValues voice;
    voice.panLeftRight = instance.PanLeftRight();
    voice.panFrontRear = instance.PanFrontRear();
    voice.centrePercent = instance.PanCentre();
    voice.panning = instance.PannerEnabled();
    SnPan2DOutputPath path;
    path.dryPath = (connection.type & 3) == SnConnection_Dry;
    path.output = bus.BusChannelConfig();
    path.previous = connection.panned;
    path.previousMatrix = connection.previousMatrix;
    path.matrix = connection.nextMatrix;
    // The game's callback edits the panner's matrix of each frame, never its own edit of the last.
    path.wantsNewMatrix = instance.WantsVolumeMatrix();
    // A 2D path's ray gain is 1.0: the voice's gain carries its volume.
    // A matrix a 3D frame made (an item before of a chain) is no 2D matrix to keep.
    const float pathGain = CSnSpeakerPan::ComputePan2DForOutput(
        voice, 1.0f, buffer.channelConfig, !connection.firstFrameDone || !connection.pannedIn2D, path);
    connection.pannedIn2D = true;
    connection.panned = path.previous;
    connection.nextVolume = pathGain * m_connectionVolume * bus.DownstreamGain();
  }
  // The factor is the motion devices' share; other connections keep 0 and the bus ignores it.
  connection.nextFactor = bus.DeviceType() == kMotionDeviceType ? 1.0f : 0.0f;
  if (instance.WantsVolumeMatrix()) NotifyVolumeMatrix(connection, buffer.channelConfig);
  if (!connection.firstFrameDone) {
    // No ramp into a first frame.
    std::memcpy(connection.previousMatrix, connection.nextMatrix,
                connection.matrixChannels * MatrixRowStride(bus.BusChannelConfig()) * sizeof(float));
    connection.previousVolume = connection.nextVolume;
    connection.previousFactor = connection.nextFactor;
    connection.firstFrameDone = true;
  }
}

void CSnVoicePipeline::NotifyVolumeMatrix(Connection& connection, SnChannelConfig input) {
  const uint32_t output = connection.bus->BusChannelConfig();
  SnSpeakerVolumeMatrixRecord record{input, output, connection.nextMatrix, connection.previousMatrix, &connection,
                                     connection.bus->MixerContext()};
  VoiceParams::NotifyVolumeMatrix(m_instance->PlayingId(), record);
  // What the game wrote is mixed as it stands, but a gain that is no number is silence.
  const uint32_t floats = connection.matrixChannels * MatrixRowStride(output);
  for (uint32_t i = 0; i < floats; ++i)
    if (!std::isfinite(connection.nextMatrix[i])) connection.nextMatrix[i] = 0.0f;
}

bool CSnVoicePipeline::ComputeFeedbackGains() {
  const CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!m_hasMotionOutput || !motion || !motion->HasDevices()) return false;
  // A 3D voice's rays raised them already (ComputeRays); a 2D voice feeds its listeners at its level.
  if (m_threeD) return true;
  VoiceParams::ClearFeedbackGains(m_feedback);
  const uint32_t listeners = m_instance->ListenerMask() & LowerEngine::ListenerTable().FeedbackMask();
  const float level = m_nextGain * m_connectionVolume;
  for (uint32_t listener = 0; listener < kMaxListeners; ++listener)
    if (listeners & (1u << listener)) VoiceParams::AddFeedbackGain(m_feedback, listener, level);
  return true;
}

void CSnVoicePipeline::FeedMotion(const SnMixBuffer& buffer) {
  CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!motion) return;
  float gains[kMotionPlayers];
  for (uint32_t player = 0; player < kMotionPlayers; ++player) gains[player] = VoiceParams::PlayerGain(m_feedback, player);
  // A 3D voice's ray gains carry its game object's output-bus volume; a 2D voice's level does not.
  const CSnRegisteredObj* object = m_instance->m_pGameObject;
  float scale = m_threeD || !object ? 1.0f : object->OutputBusVolume();
  // The first level of its motion context scales what it gives the devices; at 0 dB it is left out.
  const SnMotionContext* context = m_instance->MotionContext();
  if (context && context->levels[SnMotionContext::Level_Volume] != 0.0f)
    scale *= VoiceParams::FastDbToLinear(context->levels[SnMotionContext::Level_Volume]);
  if (context) scale *= context->busGain;
  motion->MixVoice(buffer, m_instance->ListenerMask(), gains, scale);
}

void CSnVoicePipeline::RunFilters(SnMixBuffer& buffer, uint32_t unwritten) {
  const uint32_t channels = ChannelCount(buffer.channelConfig);
  if (channels != m_filterChannels) {
    m_filter.Term();
    m_filterChannels = channels && m_filter.Init(channels, IsMotion()) == SN_Success ? channels : 0;
  }
  if (!m_filterChannels || !buffer.samples) return;
  // One stage for every path: the obstruction of the dry path darkens the sends too.
  const SnOutputPathFilters& values = m_filterValues;
  m_filter.SetLowPass(std::max(values.lowPass, values.obstructionLowPass));
  m_filter.SetHighPass(std::max(values.highPass, values.obstructionHighPass));
  m_filter.Process(buffer.samples, buffer.maxFrames, buffer.validFrames, unwritten);
}

bool CSnVoicePipeline::MixInto(Connection& connection, SnMixBuffer& buffer, uint32_t leadingSilence) {
  ISnMixBusInput& bus = *connection.bus;
  if (!connection.matrixChannels) return false;
  SnVoiceMixInput input;
  input.buffer = &buffer;
  input.voicePreviousGain = m_previousGain;
  input.voiceNextGain = m_nextGain;
  input.previousVolume = connection.previousVolume;
  input.nextVolume = connection.nextVolume;
  input.previousFactor = connection.previousFactor;
  input.nextFactor = connection.nextFactor;
  input.previousMatrix = connection.previousMatrix;
  input.nextMatrix = connection.nextMatrix;
  input.context = &connection;
  input.leadingSilence = leadingSilence;
  bus.ConsumeVoice(input);
  bus.KeepThisFrame();
  return true;
}

void CSnVoicePipeline::RunFrame(SnVoiceFrameState& frame) {
  MixFrame(frame);
  // A join inside the frame: it was mixed as it began, placed and routed as the item before.
  if (m_instanceDue) MoveOnToNextInstance();
}

void CSnVoicePipeline::MixFrame(SnVoiceFrameState& frame) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  SnMixBuffer* buffer = &m_frame;
  uint32_t status;
  if (m_instance->IsVirtual() && !m_sourceEnded) {
    // Time passes for the source without data: it returns at the sample it would have reached, and
    // without a ramp from the gains it had when it left.
    const auto skipped = uint32_t(m_source->SkipFrames(frame.requestedFrames));
    m_skipped = true;
    m_firstFrameDone = false;
    for (Connection* connection = m_connections; connection; connection = connection->next)
      connection->firstFrameDone = false;
    if (skipped == SnVoice_DataReadyFinished && m_nextSource) {
      // A chain goes on in the silence: the next play takes the voice over, virtual as the one before
      // (its source has skipped what was left of the frame), and is heard when the voice is again.
      BeginSecondSource();
      MoveOnToNextInstance();
      m_instance->EnterVirtual();
      frame.status = m_lastStatus = SnVoice_DataReady;
      return;
    }
    // A source that reached its end while skipping ends the voice as a heard one would.
    if (skipped == SnVoice_DataReadyFinished) m_sourceEnded = true;
    frame.status = m_lastStatus = skipped == SnVoice_DataReadyFinished ? SnVoice_DataReadyFinished : SnVoice_DataReady;
    return;
  }
  if (!m_sourceEnded) {
    TellNearEnd();
    // Inserts, the motion devices and a joined second source read the frame whole.
    const bool soundingPartOnly = !m_nextSource && !m_feedsMotion && !m_inserts[0] && !m_inserts[1] &&
                                  !m_inserts[2] && !m_inserts[3];
    if (soundingPartOnly != m_soundingPartOnly) {
      m_soundingPartOnly = soundingPartOnly;
      m_source->SetSoundingPartOnly(soundingPartOnly);
    }
    if (m_sourcePending) {
      // A chain's next source still waiting for its data: silent until it is ready.
      if (!TakeSourceFormat()) {
        frame.status = m_lastStatus = uint32_t(SN_Failure);
        return;
      }
      if (m_sourcePending) {
        frame.status = m_lastStatus = SnVoice_NeedsData;
        return;
      }
    }
    m_frame = SnMixBuffer{};
    status = uint32_t(m_source->GetBuffer(m_frame, frame.requestedFrames));
    if (m_source->TakeHandedOn()) {
      // The source went on into the next inside the frame: what was attached holds nothing now.
      m_nextSource->Destroy();
      m_nextSource = nullptr;
      m_instanceDue = true;
    }
    // A voice told to stop inside this frame ends there: a successor the source did not take over
    // would begin past the stop, and is never heard.
    if (status == SnVoice_DataReadyFinished && m_nextSource && m_instance->StopOffset() < 0)
      status = ChainSecondSource(m_frame.validFrames, frame.requestedFrames);
    if (status == SnVoice_NoMoreDataForNow) {
      // Silent this frame; the play hears of it once however long the source stays behind.
      if (!m_starvationReported) {
        m_starvationReported = true;
        m_instance->ReportStarvation();
      }
      frame.status = status;
      return;
    }
    if (status != SnVoice_DataReady && status != SnVoice_DataReadyFinished) {
      frame.status = status;
      m_lastStatus = status;
      return;
    }
    if (status == SnVoice_DataReadyFinished) m_sourceEnded = true;
  } else {
    // Past the source's end the inserts still sound their tails out of an empty frame.
    const uint32_t floats = ChannelCount(m_sourceFormat) * LowerEngine::SamplesPerFrame();
    if (!m_silence.samples && floats)
      m_silence.samples = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
    if (m_silence.samples) std::memset(m_silence.samples, 0, floats * sizeof(float));
    m_silence.channelConfig = m_sourceFormat;
    m_silence.maxFrames = uint16_t(LowerEngine::SamplesPerFrame());
    m_silence.validFrames = 0;
    buffer = &m_silence;
    status = SnVoice_DataReadyFinished;
  }
  // A voice begun inside the frame opens with silence its buses need not mix, unless an insert
  // could have made something of it.
  uint32_t leadingSilence = buffer == &m_frame && m_frame.samples != m_chainSamples ? m_source->LeadingSilence() : 0;
  bool tail = false;
  ShowVolumeMatrices();
  for (CSnVoiceInsertEffect* insert : m_inserts) {
    if (!insert) continue;
    leadingSilence = 0;
    insert->Process(buffer, status);
    if (!insert->InPlace()) tail = !insert->Finished();
  }
  // The connections' matrices move and may be made again from here on.
  m_voiceInfo.SetVolumeMatrices(nullptr, nullptr, 0);
  // A source that ended while an out-of-place insert still sounds keeps the voice going.
  if (m_sourceEnded && tail) status = SnVoice_DataReady;
  m_outputFormat = buffer->channelConfig;
  if (buffer->validFrames) {
    // A 2D voice filters with its own values; a 3D one with the smallest its paths ask for.
    const SnInstanceParamBlock& params = m_instance->Params();
    // The filters' modulators add to the voice's own values, which stay within 0-100.
    const CSnModulatorInstanceList& modulators = m_instance->Modulators();
    auto modulated = [&](float value, uint32_t parameterId) {
      return std::clamp(value + modulators.GetOffset(SnParamMask::Of(parameterId)), 0.0f, 100.0f);
    };
    const SnOutputPathFilters own{modulated(params.params[1], kVoiceLowPassParameter), 0.0f,
                                  modulated(params.params[2], kVoiceHighPassParameter), 0.0f};
    m_filterValues = m_threeD ? SnOutputPathFilters{100.0f, 100.0f, 100.0f, 100.0f} : own;
    m_filtersFromPaths = false;
    for (Connection* connection = m_connections; connection; connection = connection->next)
      PrepareConnection(*connection, *buffer);
    // A 3D voice that no path hears keeps its own values.
    if (m_threeD && !m_filtersFromPaths) m_filterValues = own;
    RunFilters(*buffer, m_soundingPartOnly ? leadingSilence : 0);
    bool mixed = false;
    for (Connection* connection = m_connections; connection; connection = connection->next)
      mixed = MixInto(*connection, *buffer, leadingSilence) || mixed;
    if (m_feedsMotion) {
      // The motion devices take the frame whole, as the buses left it: silent after an end inside it.
      if (mixed) MixKernels::ClearPastValid(*buffer);
      FeedMotion(*buffer);
    }
  }
  m_previousGain = m_nextGain;
  m_firstFrameDone = true;
  if (!m_sourceEnded) m_madeWhole = true;
  frame.status = status;
  m_lastStatus = status;
}

void CSnVoicePipeline::ReleaseFrameBuffer() {
  if (m_source && !m_sourceEnded) m_source->ReleaseBuffer();
}

void CSnVoicePipeline::EndForWantOfMemory() {
  // Silent without what it lacks, and asking for it again every frame: the voice ends instead, and
  // its memory goes to the voices that have theirs.
  LowerEngine::RefuseVoiceForMemory(m_instance->PlayingId());
  EndSource();
}

void CSnVoicePipeline::EndSource() {
  m_sourceEnded = true;
  m_state = Finished;
}

void CSnVoicePipeline::Begin() {
  m_state = Playing;
  m_instance->MarkSourcePlaying();
}

void CSnVoicePipeline::Pause() {
  m_paused = true;
  if (m_source) m_source->SetPaused(true);
}

void CSnVoicePipeline::Resume() {
  m_paused = false;
  if (m_source) m_source->SetPaused(false);
}

void CSnVoicePipeline::StopLooping(ISnVoiceInstance*) {
  if (m_source) m_source->StopLooping();
}

void CSnVoicePipeline::Seek() {
  if (m_source) m_source->Seek(m_instance->SeekTarget(), m_instance->SeekIsPercent(), m_instance->SeekSnapsToMarker());
}

void CSnVoicePipeline::EndOfFrame() {
  if (m_state != Playing) return;
  // A paused voice runs no frames, so one stopped while it still waited for its first sample never
  // comes due: stopped, it is over all the same.
  if (m_instance->IsStoppedWithoutOffset() || (m_paused && m_instance->IsStoppedNow()) ||
      m_lastStatus == SnVoice_DataReadyFinished ||
      (m_lastStatus != SnVoice_DataReady && m_lastStatus != SnVoice_NeedsData))
    m_state = Finished;
}

}  // namespace SN
