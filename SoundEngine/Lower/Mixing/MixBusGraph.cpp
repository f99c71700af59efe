// The mix-bus array, bus creation and chaining, bus commands, the frame's bus steps and the voices'
// routing to buses.
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"

#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/BusCallbackFlags.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixBus.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"

namespace SN::LowerEngine {
namespace {

constexpr uint32_t kArrayGrowth = 8;
// A motion bus's frame is a motion voice's: a longer one would read past what they bring.
constexpr uint16_t kMotionBusFrames = kMotionFrameSamples;
constexpr SnChannelConfig kMotionBusConfig = 0x4101;  // one centre channel, standard
constexpr float kWindowSilence = -4096.0f;
constexpr float kWindowKeepDb = 0.5f;
// The release coefficient's rate is fixed, whatever the engine runs at.
constexpr float kWindowReleaseRate = 48000.0f;

struct BusArray {
  CSnMixBus** items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;

  bool Append(CSnMixBus* bus) {
    if (count == capacity) {
      auto* grown = static_cast<CSnMixBus**>(
          MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnMixBus*) * (capacity + kArrayGrowth)));
      if (!grown) return false;
      if (count) memcpy(grown, items, sizeof(CSnMixBus*) * count);
      if (items) MemoryMgr::Free(g_LEngineDefaultPoolId, items);
      items = grown;
      capacity += kArrayGrowth;
    }
    items[count++] = bus;
    return true;
  }
  void RemoveAt(uint32_t index) {
    memmove(items + index, items + index + 1, sizeof(CSnMixBus*) * (count - index - 1));
    --count;
  }
  void MoveToFront(uint32_t index) {
    CSnMixBus* bus = items[index];
    memmove(items + 1, items, sizeof(CSnMixBus*) * index);
    items[0] = bus;
  }
  void Free() {
    if (items) MemoryMgr::Free(g_LEngineDefaultPoolId, items);
    items = nullptr;
    count = capacity = 0;
  }
};

BusArray& Buses() {
  static BusArray buses;
  return buses;
}

template <typename Fn>
void ForEachBusOf(uint32_t busId, Fn&& fn) {
  BusArray& buses = Buses();
  for (uint32_t i = 0; i < buses.count; ++i)
    if (buses.items[i]->BusId() == busId) fn(*buses.items[i]);
}

// The receiver of the bus-callback words: every bus of the id on every device.
class CSnBusGraphFlags final : public ISnBusCallbackFlags {
 public:
  void SetBusVolumeCallbackFlag(uint32_t busId, bool on) override {
    ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.SetVolumeCallbackFlag(on); });
  }
  void SetBusMeteringFlags(uint32_t busId, uint32_t flags) override {
    ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.SetCallbackMeteringFlags(flags); });
  }
};
CSnBusGraphFlags& GraphFlags() {
  static CSnBusGraphFlags flags;
  return flags;
}
bool& InstalledFlags() {
  static bool installed = false;
  return installed;
}

void Detach(CSnMixBus& bus) {
  if (!bus.m_pParent) return;
  bus.m_pParent->InputConnected(&bus, false);
  bus.m_pParent = nullptr;
}

void DestroyBus(CSnMixBus* bus) {
  Detach(*bus);
  CSnMixBus::Delete(bus);
}

void ConnectToParent(CSnMixBus& bus, CSnMixBus* parent) {
  bus.m_pParent = parent;
  if (parent) parent->InputConnected(&bus, true);
}

float ReleaseCoefficient(float seconds) {
  return seconds > 0.0f ? std::exp(-float(SamplesPerFrame()) / (seconds * kWindowReleaseRate)) : 0.0f;
}

void ReadWindowSettings(CSnMixBus& bus, ISnMixBusNode& node, bool always) {
  SnBusWindow& window = bus.m_window;
  const SnBusWindowRead threshold = node.ReadWindowThreshold();
  const SnBusWindowRead ratio = node.ReadWindowRatio();
  if (always || threshold.changed || ratio.changed) {
    window.thresholdDb = threshold.value;
    // A ratio below 1 would turn the window upside down; 1 is no compression.
    window.ratioFactor = ratio.value >= 1.0f ? 1.0f - 1.0f / ratio.value : 0.0f;
  }
  bool dbDomain = false;
  const SnBusWindowRead release = node.ReadWindowRelease(dbDomain);
  bus.m_graphFlags = uint8_t(dbDomain ? bus.m_graphFlags | CSnMixBus::kWindowDbDomain
                                      : bus.m_graphFlags & ~CSnMixBus::kWindowDbDomain);
  if (always || release.changed) window.releaseCoefficient = ReleaseCoefficient(release.value);
}

bool IsMainDevice(const CSnOutputDevice& device) {
  return device.OutputType() == SnOutput_Main && device.DeviceId() == 0;
}

// The bus a voice's dry path takes on a device: its output bus's, or the master bus without one.
CSnMixBus* DryBusFor(ISnVoiceConnections& voice, const CSnOutputDevice& device) {
  const bool motion = device.OutputType() == SnOutput_Motion;
  if (ISnMixBusNode* bus = voice.OutputBus())
    return GetOrCreateMixBus(bus, device.OutputType(), device.DeviceId(), motion);
  return IsMainDevice(device) ? GetOrCreateMasterBus() : nullptr;
}

// A motion voice goes to the motion outputs of the players on its listeners, into its motion bus,
// and nowhere else: its frames are motion frames, no sound.
bool RouteMotionPath(ISnVoiceConnections& voice, CSnOutputDevice& device, uint32_t listenerMask) {
  if (device.OutputType() != SnOutput_Motion) return true;
  const CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!motion || !(listenerMask & (1u << motion->PlayerListener(device.DeviceId())))) return true;
  ISnMixBusNode* motionBus = voice.OutputBus();
  if (!motionBus) return true;
  CSnMixBus* bus = GetOrCreateMixBus(motionBus, device.OutputType(), device.DeviceId(), true);
  return bus && voice.AddConnection(bus, SnConnection_Dry) == SN_Success;
}

// Step 4 of connecting a voice, for one device; false when a bus or routing could not be had.
bool RouteDryPath(ISnVoiceConnections& voice, CSnOutputDevice& device, uint32_t listenerMask) {
  if (voice.RoutesToDevice(device.OutputType(), device.DeviceId())) return true;
  if (voice.IsMotion()) return RouteMotionPath(voice, device, listenerMask);
  const bool motionDevice = device.OutputType() == SnOutput_Motion;
  uint32_t mask = listenerMask;
  if (motionDevice) mask &= voice.FeedsMotion() ? voice.MotionPlayerMask() : 0;
  if (!(device.ListenerMask() & mask)) return true;
  ISnMixBusNode* outputBus = voice.OutputBus();
  const bool mainKind = !outputBus || outputBus->IsMainOutputBus();
  const bool goes = (mainKind && IsMainDevice(device)) || (!mainKind && !IsMainDevice(device)) || motionDevice;
  if (!goes) return true;
  CSnMixBus* bus = DryBusFor(voice, device);
  return bus && voice.AddConnection(bus, SnConnection_Dry) == SN_Success;
}

void RouteOneSend(ISnVoiceConnections& voice, const SnAuxSend& send, uint32_t listenerMask) {
  if (voice.IsMotion() || !BusNodeDirectory()) return;
  ISnMixBusNode* node = BusNodeDirectory()->FindBusNode(send.busId);
  if (!node) return;
  const uint32_t type = send.levelA > 0.0f ? SnConnection_GameSend : SnConnection_UserSend;
  ISnMixBusNode* outputBus = voice.OutputBus();
  const bool voiceMainKind = !outputBus || outputBus->IsMainOutputBus();
  const uint32_t otherKind = node->IsMainOutputBus() != voiceMainKind ? kConnectionOtherBusKind : 0;
  for (CSnOutputDevice* device = FirstOutputDevice(); device; device = device->Next()) {
    if (!(device->ListenerMask() & listenerMask)) continue;
    if (node->IsMainOutputBus() != IsMainDevice(*device)) continue;
    if (device->OutputType() == SnOutput_Motion) continue;
    CSnMixBus* bus = GetOrCreateMixBus(node, device->OutputType(), device->DeviceId(), false);
    if (!bus) continue;
    bus->KeepThisFrame();
    voice.AddConnection(bus, type | otherKind);
  }
  node->Release();
}

template <typename Fn>
void ForEachVoice(Fn&& fn) {
  for (ISnVoicePipeline* p = FirstActivePipeline(); p; p = p->m_pNextInList)
    if (ISnVoiceConnections* voice = p->Connections()) fn(*voice, *p);
}

}  // namespace

SNRESULT InitBusGraph() {
  if (!InstalledBusCallbackFlags()) {
    InstallBusCallbackFlags(&GraphFlags());
    InstalledFlags() = true;
  }
  return SN_Success;
}

void TermBusGraph() {
  DestroyAllMixBuses();
  Buses().Free();
  if (InstalledFlags() && InstalledBusCallbackFlags() == &GraphFlags()) InstallBusCallbackFlags(nullptr);
  InstalledFlags() = false;
}

uint32_t MixBusCount() { return Buses().count; }
CSnMixBus* MixBusAt(uint32_t index) { return index < Buses().count ? Buses().items[index] : nullptr; }

CSnMixBus* FindMixBus(uint32_t busId, uint32_t deviceType, uint32_t deviceId) {
  BusArray& buses = Buses();
  for (uint32_t i = 0; i < buses.count; ++i) {
    CSnMixBus* bus = buses.items[i];
    if (bus->BusId() == busId && bus->DeviceType() == deviceType && bus->DeviceId() == deviceId &&
        bus->m_state != SnMixBus_Removing)
      return bus;
  }
  return nullptr;
}

CSnMixBus* GetOrCreateMasterBus() {
  if (CSnMixBus* master = FindMixBus(kMasterBusId, SnOutput_Main, 0)) return master;
  CSnMixBus* master = CreateMixBus(nullptr, SnOutput_Main, 0, nullptr, false);
  if (!master) return nullptr;
  BusArray& buses = Buses();
  buses.MoveToFront(buses.count - 1);
  for (uint32_t i = 1; i < buses.count; ++i) {
    CSnMixBus* bus = buses.items[i];
    if (bus->DeviceType() == SnOutput_Main && bus->DeviceId() == 0 && bus->m_state != SnMixBus_Removing &&
        !bus->m_pParent) {
      ConnectToParent(*bus, master);
      break;
    }
  }
  return master;
}

CSnMixBus* GetOrCreateMixBus(ISnMixBusNode* node, uint32_t deviceType, uint32_t deviceId, bool motion) {
  if (!node) return nullptr;
  CSnMixBus* parent = nullptr;
  if (ISnMixBusNode* parentNode = node->ParentBus()) {
    parent = GetOrCreateMixBus(parentNode, deviceType, deviceId, motion);
    if (!parent) return nullptr;
  }
  if (CSnMixBus* bus = FindMixBus(node->BusId(), deviceType, deviceId)) return bus;
  return CreateMixBus(node, deviceType, deviceId, parent, motion);
}

CSnMixBus* CreateMixBus(ISnMixBusNode* node, uint32_t deviceType, uint32_t deviceId, CSnMixBus* parent,
                        bool motion) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (!parent) {
    if (deviceType == SnOutput_Main)
      parent = FindMixBus(kMasterBusId, SnOutput_Main, 0);
    else if (deviceType == SnOutput_SecondaryAlias)
      parent = GetOrCreateMasterBus();
  }
  CSnOutputDevice* device = FindOutputDevice(deviceType, deviceId);
  if (!parent && !device) {
    SOUND_LOG(Error, "No output device (%u, %u) for bus %u", deviceType, deviceId, node ? node->BusId() : kMasterBusId);
    return nullptr;
  }
  CSnMixBus* bus = CSnMixBus::New(node ? node->BusId() : kMasterBusId);
  if (!bus) return nullptr;
  if (node && node->HasDynamicRangeWindow()) {
    bus->m_graphFlags |= CSnMixBus::kHasWindow;
    bus->m_window = SnBusWindow{};
    ReadWindowSettings(*bus, *node, true);
  }
  if (motion) bus->m_graphFlags |= CSnMixBus::kMotionBus;
  const SnChannelConfig parentConfig = parent ? parent->BusChannelConfig() : device->ChannelConfig();
  SnChannelConfig config = motion ? kMotionBusConfig : (node ? node->ChannelConfig() : 0);
  if (!config) config = parentConfig;
  const uint16_t frames = motion ? kMotionBusFrames : uint16_t(SamplesPerFrame());
  if (bus->Init(node, config, parentConfig, frames, deviceType, deviceId) != SN_Success) {
    SOUND_LOG(Error, "Bus %u could not be made for output (%u, %u)", bus->BusId(), deviceType, deviceId);
    CSnMixBus::Delete(bus);
    return nullptr;
  }
  ConnectToParent(*bus, parent);
  if (!Buses().Append(bus)) {
    DestroyBus(bus);
    return nullptr;
  }
  return bus;
}

void DestroyAllMixBuses() {
  BusArray& buses = Buses();
  while (buses.count) {
    CSnMixBus* bus = buses.items[buses.count - 1];
    --buses.count;
    DestroyBus(bus);
  }
}

void SetBusVolume(uint32_t busId, float dB) {
  ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.SetVolume(dB); });
}
void AddBusVolumeDelta(uint32_t busId, float dB) {
  ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.AddVolumeDelta(dB); });
}
void SetBusBypassFX(uint32_t busId, uint32_t value, uint32_t mask) {
  ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.SetBypass(value, mask); });
}
void SetBusParam(uint32_t busId, uint32_t parameterId, float value, float delta) {
  ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.SetParamValue(parameterId, value, delta); });
}
void UpdateBusEffect(uint32_t busId, uint32_t slot) {
  ForEachBusOf(busId, [&](CSnMixBus& bus) { bus.UpdateEffect(slot); });
}

void ReleaseBusEffectsUsingBankData(const CSnLoadedBank* bank, bool remake) {
  BusArray& buses = Buses();
  for (uint32_t i = 0; i < buses.count; ++i) {
    CSnMixBus& bus = *buses.items[i];
    if (bus.UsesBankMedia(bank) && !bus.RelocateBankMedia(bank) && remake) bus.RebuildEffects();
  }
}

void ForEachEffectInstance(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie) {
  if (!callback) return;
  BusArray& buses = Buses();
  for (uint32_t i = 0; i < buses.count; ++i) buses.items[i]->ForEachPluginOf(effectId, callback, cookie);
  ForEachVoice([&](ISnVoiceConnections& voice, ISnVoicePipeline&) { voice.ForEachPluginOf(effectId, callback, cookie); });
}

SNRESULT ConnectVoicePipeline(ISnVoiceConnections& voice) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (voice.PrepareEffects() != SN_Success) return SN_Failure;
  const uint32_t listenerMask = voice.TakeListenerMask();
  // The players a motion voice reaches get their motion outputs first.
  if (voice.IsMotion())
    if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) motion->AttachPlayers(listenerMask);
  for (CSnOutputDevice* device = FirstOutputDevice(); device; device = device->Next())
    if (!RouteDryPath(voice, *device, listenerMask)) return SN_Failure;
  return SN_Success;
}

void UpdateVoiceListeners(ISnVoiceConnections& voice, uint32_t listenerMask) {
  for (CSnOutputDevice* device = FirstOutputDevice(); device; device = device->Next()) {
    if (!(device->ListenerMask() & listenerMask))
      voice.RemoveDeviceConnections(device->OutputType(), device->DeviceId());
    else
      RouteDryPath(voice, *device, listenerMask);
  }
}

void UpdateDeviceRouting(uint32_t deviceType, uint32_t deviceId, uint32_t listenerMask) {
  CSnOutputDevice* device = FindOutputDevice(deviceType, deviceId);
  ForEachVoice([&](ISnVoiceConnections& voice, ISnVoicePipeline&) {
    const uint32_t voiceMask = voice.TakeListenerMask();
    if (!(voiceMask & listenerMask) || !device)
      voice.RemoveDeviceConnections(deviceType, deviceId);
    else
      RouteDryPath(voice, *device, voiceMask);
  });
}

void RouteMotionVoicesToPlayer(uint32_t player) {
  CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get();
  if (!motion) return;
  ForEachVoice([&](ISnVoiceConnections& voice, ISnVoicePipeline&) {
    if (!voice.IsMotion()) return;
    const uint32_t listenerMask = voice.TakeListenerMask();
    motion->AttachPlayers(listenerMask);
    if (CSnOutputDevice* device = FindOutputDevice(SnOutput_Motion, player)) RouteDryPath(voice, *device, listenerMask);
  });
}

void RouteGameObjectVoices(CSnRegisteredObj* gameObject, uint32_t newMask) {
  ForEachVoice([&](ISnVoiceConnections& voice, ISnVoicePipeline&) {
    if (voice.GameObject() == gameObject) UpdateVoiceListeners(voice, newMask);
  });
}

void MergeAuxSends(ISnVoiceConnections& voice, const SnGameAuxSend* gameSends, bool clearGameLevels) {
  SnAuxSendTable& table = voice.AuxSends();
  SnAuxSend nodeSends[kMaxAuxSends];
  uint32_t nodeCount = 0;
  for (uint32_t i = 0; i < table.count && i < kMaxAuxSends; ++i)
    if (table.sends[i].levelA > 0.0f) nodeSends[nodeCount++] = table.sends[i];
  uint32_t count = 0;
  for (; gameSends && count < kMaxAuxSends && gameSends[count].busId; ++count) {
    const SnGameAuxSend& game = gameSends[count];
    table.sends[count] = SnAuxSend{game.level, clearGameLevels ? 0.0f : game.level, game.busId, game.listenerField};
  }
  const uint32_t gameCount = count;
  bool matched[kMaxAuxSends] = {};
  for (uint32_t n = 0; n < nodeCount; ++n) {
    const SnAuxSend& send = nodeSends[n];
    bool placed = false;
    for (uint32_t i = 0; i < gameCount && !placed; ++i) {
      if (matched[i] || table.sends[i].busId != send.busId) continue;
      table.sends[i].levelB = send.levelA;
      matched[i] = placed = true;
    }
    if (placed) continue;
    if (count < kMaxAuxSends)
      table.sends[count++] = SnAuxSend{0.0f, send.levelA, send.busId, send.listenerField};
    else
      SOUND_LOG(Warning, "Auxiliary send to bus %u dropped: a voice takes %u sends", send.busId, kMaxAuxSends);
  }
  table.count = uint8_t(count);
  const uint32_t listenerMask = voice.TakeListenerMask();
  for (uint32_t i = 0; i < count; ++i) RouteOneSend(voice, table.sends[i], listenerMask);
}

float UpdateBusWindow(CSnMixBus& bus) {
  SnBusWindow& window = bus.m_window;
  ISnMixBusNode* node = bus.Node();
  if (node) ReadWindowSettings(bus, *node, false);
  const float excess = window.peakDb - bus.m_totalVolumeDb - window.thresholdDb;
  const float target = excess > 0.0f ? window.thresholdDb + excess * window.ratioFactor : window.thresholdDb;
  const float c = window.releaseCoefficient;
  float result;
  if (bus.m_graphFlags & CSnMixBus::kWindowDbDomain) {
    if (target >= window.value)
      window.value = target;
    else
      window.value = (1.0f - c) * target + c * window.value;
    if (window.value - target >= kWindowKeepDb) bus.KeepThisFrame();
    result = window.value;
  } else {
    const float linear = VoiceParams::FastDbToLinear(target);
    if (linear >= window.value) {
      window.value = linear;
      result = target;
    } else {
      window.value = (1.0f - c) * linear + c * window.value;
      result = window.value > 0.0f ? 20.0f * std::log10(window.value) : kWindowSilence;
      if (result - target >= kWindowKeepDb) bus.KeepThisFrame();
    }
  }
  window.topDb = result + bus.m_totalVolumeDb;
  if (node) node->WindowMoved(window.topDb);
  window.peakDb = kWindowSilence;
  return result;
}

void ComputeFrameGains() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  ForEachVoice([](ISnVoiceConnections& voice, ISnVoicePipeline& p) {
    if (p.GetState() == ISnVoicePipeline::Playing) voice.FirstGainPass();
  });
  BusArray& buses = Buses();
  for (uint32_t i = 0; i < buses.count; ++i) {
    CSnMixBus& bus = *buses.items[i];
    bus.m_totalVolumeDb = bus.VolumeDb() + (bus.m_pParent ? bus.m_pParent->m_totalVolumeDb : 0.0f);
    bus.m_linearGain = VoiceParams::FastDbToLinear(bus.m_totalVolumeDb);
  }
  ForEachVoice([](ISnVoiceConnections& voice, ISnVoicePipeline& p) {
    if (p.GetState() == ISnVoicePipeline::Playing) voice.SecondGainPass();
  });
  for (uint32_t i = buses.count; i-- > 0;)
    if (buses.items[i]->m_graphFlags & CSnMixBus::kHasWindow) UpdateBusWindow(*buses.items[i]);
}

void MixBusesDown() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  BusArray& buses = Buses();
  for (uint32_t i = buses.count; i-- > 0;) {
    CSnMixBus& bus = *buses.items[i];
    bus.ProcessFrame();
    if (bus.m_pParent) {
      bus.m_pParent->ConsumeChildBus(bus);
    } else if (bus.Buffer().validFrames) {
      if (CSnOutputDevice* device = FindOutputDevice(bus.DeviceType(), bus.DeviceId())) device->PassData(bus.Buffer());
    }
    bus.EndFrame();
  }
}

void RemoveIdleMixBuses() {
  SN_ASSERT_AUDIO_LOCK_HELD();
  BusArray& buses = Buses();
  for (uint32_t i = buses.count; i-- > 0;) {
    CSnMixBus* bus = buses.items[i];
    if (bus->m_state != SnMixBus_Active && bus->m_inputs == 0 && !(bus->m_graphFlags & CSnMixBus::kKeepThisFrame)) {
      buses.RemoveAt(i);
      DestroyBus(bus);
    } else {
      bus->m_graphFlags &= ~CSnMixBus::kKeepThisFrame;
    }
  }
}

}  // namespace SN::LowerEngine
