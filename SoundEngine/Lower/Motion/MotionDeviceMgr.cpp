// The motion device manager: players and their devices, the listener-to-player table, the motion
// outputs and the relays to the devices.
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"

#include <new>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Effects/PluginMemAlloc.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FastDecibels.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
// Up: a player's device coming or going re-routes the motion voices already playing.
#include "SoundEngine/Lower/Mixing/MixBusGraph.h"
#include "SoundEngine/Lower/Motion/MotionSink.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"
// Up: a player's device or listener changing makes the playing sounds' motion outputs again.
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"
#include "SoundEngine/Lower/Spatial/VoiceParams.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/PoolObject.h"

namespace SN {
namespace {

// What a voice's feedback gains read: the players of a listener that have a device.
class CSnMotionPlayerMap final : public ISnListenerPlayerMap {
 public:
  uint32_t PlayersOfListener(uint32_t listener) const override {
    return LowerEngine::MotionPlayersOfListener(listener) & LowerEngine::ActiveMotionPlayers();
  }
};

struct MotionState {
  CSnMotionDeviceMgr* manager = nullptr;
  uint32_t listenerMask = 0;
  CSnMotionPlayerMap playerMap;
};

MotionState& State() {
  static MotionState state;
  return state;
}

// The sounds whose motion reaches `players` (a player's device came, or its listener changed) have
// their motion outputs made.
void UpdateSoundsMotion(uint32_t players) {
  for (CSnPlaybackInstance* instance = VoiceManager::FirstActiveInstance(); instance; instance = instance->m_pNextActive)
    if (!instance->IsMotion()) instance->UpdateMotion(players);
}

// A device frame stamp is renewed at most this often.
constexpr uint32_t kStampFrames = 9;
// Beyond these the power of ten leaves a float's range.
constexpr float kLoudestDb = 740.0f;
constexpr float kLoudestGain = 65535.0f;

}  // namespace

CSnMotionDeviceMgr* CSnMotionDeviceMgr::Get() { return State().manager; }

CSnMotionDeviceMgr* CSnMotionDeviceMgr::GetOrCreate() {
  MotionState& state = State();
  if (!state.manager) {
    state.manager = PoolNew<CSnMotionDeviceMgr>(g_LEngineDefaultPoolId);
    // The voices' feedback gains follow the players from now on, unless a map is there already.
    if (state.manager && !LowerEngine::ListenerPlayerMap()) LowerEngine::InstallListenerPlayerMap(&state.playerMap);
  }
  return state.manager;
}

void CSnMotionDeviceMgr::Term() {
  MotionState& state = State();
  if (CSnMotionDeviceMgr* manager = state.manager) {
    for (uint32_t player = 0; player < kMotionPlayers; ++player) {
      // The engine's termination told them to stop already.
      if (ISnMotionDevicePlugin* device = manager->m_players[player].device) device->Term(&PluginAllocator());
    }
    PoolDelete(g_LEngineDefaultPoolId, manager);
  }
  state.manager = nullptr;
  state.listenerMask = 0;
  if (LowerEngine::ListenerPlayerMap() == &state.playerMap) LowerEngine::InstallListenerPlayerMap(nullptr);
}

void CSnMotionDeviceMgr::RecountDevices() {
  m_deviceMask = 0;
  m_playerCount = 0;
  for (uint32_t player = 0; player < kMotionPlayers; ++player) {
    if (!m_players[player].device) continue;
    m_deviceMask |= uint8_t(1u << player);
    m_playerCount = uint8_t(player + 1);
  }
}

SNRESULT CSnMotionDeviceMgr::AddPlayerDevice(uint32_t player, uint32_t companyId, uint32_t pluginId, void* device) {
  if (player >= kMotionPlayers) {
    SOUND_LOG(Error, "AddPlayerMotionDevice: player %u is not one of the %u players", player, kMotionPlayers);
    return SN_InvalidParameter;
  }
  if (m_players[player].device) return SN_Success;
  ISnMotionDevicePlugin* made = nullptr;
  const SNRESULT result = CSnPluginFactoryTable::CreateMotionDevice(companyId, pluginId, &LowerEngine::PlatformSettings(),
                                                                   player, made, device);
  if (result != SN_Success) return result;
  m_players[player].device = made;
  RecountDevices();
  // A capture under way takes the new device in, under the name the game gave.
  if (const char16_t* name = LowerEngine::OutputCaptureName()) made->StartCapture(name);
  // Motion voices already playing would otherwise wait for the next one to connect.
  LowerEngine::RouteMotionVoicesToPlayer(player);
  UpdateSoundsMotion(1u << player);
  return SN_Success;
}

void CSnMotionDeviceMgr::RemovePlayerDevice(uint32_t player) {
  if (player < kMotionPlayers) {
    if (ISnMotionDevicePlugin* device = m_players[player].device) {
      LowerEngine::RemoveOutputDevice(SnOutput_Motion, player);
      device->Stop();
      device->Term(&PluginAllocator());
      m_players[player].device = nullptr;
    }
  }
  RecountDevices();
}

void CSnMotionDeviceMgr::SetPlayerListener(uint32_t player, uint32_t listener) {
  // The tables hold four players and eight listeners: anything past them is not written.
  if (player >= kMotionPlayers || listener >= kMotionListeners) {
    SOUND_LOG(Error, "SetPlayerListener: player %u or listener %u is out of range", player, listener);
    return;
  }
  m_playersOf[m_listenerOf[player]] &= uint8_t(~(1u << player));
  m_playersOf[listener] |= uint8_t(1u << player);
  m_listenerOf[player] = uint8_t(listener);
  State().listenerMask |= 1u << listener;
  // This player's output, not the first player's: the others keep their routes. The output hears
  // the new listener from now on, so that the voices' listener changes route by it.
  if (LowerEngine::FindOutputDevice(SnOutput_Motion, player)) {
    LowerEngine::SetMotionOutputListeners(player, 1u << listener);
    LowerEngine::UpdateDeviceRouting(SnOutput_Motion, player, 1u << listener);
  }
  LowerEngine::RouteMotionVoicesToPlayer(player);
  UpdateSoundsMotion(1u << player);
}

void CSnMotionDeviceMgr::SetPlayerVolume(uint32_t player, float decibels) {
  if (player >= kMotionPlayers) {
    SOUND_LOG(Error, "SetPlayerVolume: player %u is not one of the %u players", player, kMotionPlayers);
    return;
  }
  ISnMotionDevicePlugin* device = m_players[player].device;
  if (!device) return;
  float gain = 0.0f;
  if (decibels > kLoudestDb)
    gain = kLoudestGain;
  else if (decibels >= -kLoudestDb)
    gain = VoiceParams::FastDbToLinear(decibels);
  device->SetVolume(gain);
}

void CSnMotionDeviceMgr::AttachPlayers(uint32_t listenerMask) {
  for (uint32_t player = 0; player < m_playerCount; ++player) {
    const Player& entry = m_players[player];
    const uint32_t listenerBit = 1u << m_listenerOf[player];
    if (!(listenerMask & listenerBit) || !entry.device || entry.noOutput) continue;
    if (LowerEngine::FindOutputDevice(SnOutput_Motion, player)) continue;
    const SnOutputSettings settings{0, StandardConfig(kSpeakerCenter), &CSnMotionSink::Make};
    if (LowerEngine::AddOutputDeviceIfAbsent(settings, SnOutput_Motion, player, listenerBit) != SN_Success) continue;
    // Adding gives a motion output no listener (it would take it from the device rendering it).
    LowerEngine::SetMotionOutputListeners(player, listenerBit);
    CSnOutputDevice* output = LowerEngine::FindOutputDevice(SnOutput_Motion, player);
    if (output && output->Sink()) static_cast<CSnMotionSink*>(output->Sink())->SetDevice(entry.device);
  }
}

void CSnMotionDeviceMgr::MixVoice(const SnMixBuffer& frame, uint32_t voiceListenerMask, const float* playerGains,
                                  float busVolume) {
  if (!m_playerCount) return;
  const uint32_t reach = voiceListenerMask & State().listenerMask;
  for (uint32_t player = 0; player < m_playerCount; ++player) {
    ISnMotionDevicePlugin* device = m_players[player].device;
    if (!device || !(reach & (1u << m_listenerOf[player]))) continue;
    device->MixVoice(frame, playerGains[player] * busVolume);
  }
}

SnMotionContext* CSnMotionDeviceMgr::CreateContext(uint32_t channelConfig, uint8_t positioningMode,
                                                  uint8_t threeDType) {
  if (!HasDevices()) return nullptr;
  SnMotionContext* context = PoolNew<SnMotionContext>(g_LEngineDefaultPoolId);
  if (!context) {
    SOUND_LOG(Error, "No memory for a voice's motion context; its motion plays at its node's levels");
    return nullptr;
  }
  context->channelConfig = channelConfig;
  context->positioningMode = positioningMode;
  context->threeDType = threeDType;
  return context;
}

void CSnMotionDeviceMgr::DestroyContext(SnMotionContext* context) {
  if (context) PoolDelete(g_LEngineDefaultPoolId, context);
}

void CSnMotionDeviceMgr::BeginFrame(uint32_t frameNumber) {
  for (uint32_t player = 0; player < kMotionPlayers; ++player) {
    ISnMotionDevicePlugin* device = m_players[player].device;
    if (!device || !device->IsFrameDue()) continue;
    if (m_frameStamp == 0 || frameNumber - m_frameStamp >= kStampFrames) m_frameStamp = frameNumber;
    break;
  }
}

void CSnMotionDeviceMgr::EndFrame() {
  for (const Player& entry : m_players)
    if (entry.device) entry.device->EndFrame();
}

void CSnMotionDeviceMgr::EndPass() {
  for (const Player& entry : m_players)
    if (entry.device) entry.device->EndPass();
}

void CSnMotionDeviceMgr::StopAll() {
  for (const Player& entry : m_players)
    if (entry.device) entry.device->Stop();
}

void CSnMotionDeviceMgr::StartCapture(const char16_t* fileName) {
  for (const Player& entry : m_players)
    if (entry.device) entry.device->StartCapture(fileName);
}

void CSnMotionDeviceMgr::StopCapture() {
  for (const Player& entry : m_players)
    if (entry.device) entry.device->StopCapture();
}

namespace LowerEngine {

uint32_t MotionListenerMask() { return State().listenerMask; }

uint8_t MotionPlayersOfListener(uint32_t listener) {
  const CSnMotionDeviceMgr* manager = State().manager;
  return manager ? manager->PlayersOfListener(listener) : 0;
}

uint8_t ActiveMotionPlayers() {
  const CSnMotionDeviceMgr* manager = State().manager;
  return manager ? manager->DeviceMask() : 0;
}

void AttachMotionPlayersOf(const CSnRegisteredObj* gameObject, uint32_t listenerMask) {
  CSnMotionDeviceMgr* manager = State().manager;
  if (!manager || !manager->HasDevices()) return;
  for (CSnPlaybackInstance* instance = VoiceManager::FirstActiveInstance(); instance; instance = instance->m_pNextActive) {
    if (instance->m_pGameObject != gameObject) continue;
    if (instance->IsMotion())
      manager->AttachPlayers(listenerMask);
    else
      instance->UpdateMotion(kAllMotionPlayers, listenerMask);
  }
}

}  // namespace LowerEngine
}  // namespace SN
