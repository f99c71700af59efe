// Motion (force-feedback) output for up to four players: each player's device, made from the
// factories the game registers, its listener and volume, the listener-to-player table that the
// voices' feedback gains read, the per-player motion outputs (output devices of type 128 on a
// motion sink), the per-frame, per-pass, capture and termination relays to the devices, and the
// motion contexts of the voices that give motion.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class CSnRegisteredObj;
class ISnMotionDevicePlugin;
struct SnMixBuffer;

constexpr uint32_t kMotionPlayers = 4;
constexpr uint32_t kMotionListeners = 8;
constexpr uint32_t kAllMotionPlayers = (1u << kMotionPlayers) - 1;
// The device the API's motion messages name (company 0).
constexpr uint32_t kMotionDevicePluginId = 406;

// What a voice that gives motion (a motion source's voice, or a sound whose node has a motion bus for
// its second output) keeps of it while motion devices exist. Its levels start from the values of
// the node's motion path and follow the game parameters that drive them.
struct SnMotionContext {
  enum Level : uint32_t {
    // dB on the motion the voice gives: a motion voice's volume, a sound's feed to the devices.
    Level_Volume = 0,
    // dB of the output buses above the voice's node, up to one with effects, as gathered when the
    // context is made: kept for information, nothing reads it (the voice's gains carry those buses).
    Level_BusVolume = 1,
    // The motion path's second value: kept, nothing renders from it (the devices get the voice's
    // frames and one gain per player, no filter).
    Level_Second = 2,
    Level_Count = 3
  };
  // The run-time gain factors of a sound's motion buses (their mutes): its feed meets them. A motion
  // voice carries them in its own gain and leaves this at 1.
  float busGain = 1.0f;
  uint32_t channelConfig = 0;
  uint8_t positioningMode = 0;
  uint8_t threeDType = 0;
  float levels[Level_Count] = {};
};

class CSnMotionDeviceMgr {
 public:
  // Made on the first motion-device message; null without memory.
  static CSnMotionDeviceMgr* GetOrCreate();
  static CSnMotionDeviceMgr* Get();
  // Terminates every device and frees the manager (lower-engine Term, after StopAll).
  static void Term();

  // 1 when made or already there; SN_InvalidParameter for a player above 3 (logged); else the
  // plug-in creation's result.
  SNRESULT AddPlayerDevice(uint32_t player, uint32_t companyId, uint32_t pluginId, void* device);
  void RemovePlayerDevice(uint32_t player);
  // A player above 3 or a listener above 7 changes nothing (logged).
  void SetPlayerListener(uint32_t player, uint32_t listener);
  void SetPlayerVolume(uint32_t player, float decibels);
  // The motion outputs of the players with a device whose listener is in the mask.
  void AttachPlayers(uint32_t listenerMask);
  // A voice's motion frame to the devices of the players it reaches, each with its gain.
  void MixVoice(const SnMixBuffer& frame, uint32_t voiceListenerMask, const float* playerGains, float busVolume);

  // A voice's motion context, from the lower-engine pool; null while no player has a device, or
  // without memory. Its levels are zero: the voice fills them from its node.
  SnMotionContext* CreateContext(uint32_t channelConfig, uint8_t positioningMode, uint8_t threeDType);
  static void DestroyContext(SnMotionContext* context);

  // Relays: before the frame, after the buses, after the pass, the capture.
  void BeginFrame(uint32_t frameNumber);
  void EndFrame();
  void EndPass();
  void StopAll();
  void StartCapture(const char16_t* fileName);
  void StopCapture();

  bool HasDevices() const { return m_deviceMask != 0; }
  ISnMotionDevicePlugin* Device(uint32_t player) const { return player < kMotionPlayers ? m_players[player].device : nullptr; }
  uint32_t PlayerListener(uint32_t player) const { return player < kMotionPlayers ? m_listenerOf[player] : 0; }
  // The players a listener feeds, one bit per player.
  uint8_t PlayersOfListener(uint32_t listener) const { return listener < kMotionListeners ? m_playersOf[listener] : 0; }
  uint8_t DeviceMask() const { return m_deviceMask; }
  uint8_t PlayerCount() const { return m_playerCount; }
  uint32_t FrameStamp() const { return m_frameStamp; }

 private:
  struct Player {
    ISnMotionDevicePlugin* device;
    uint32_t noOutput;  // set: the player gets no motion output from AttachPlayers
  };
  void RecountDevices();

  Player m_players[kMotionPlayers] = {};
  uint8_t m_listenerOf[kMotionPlayers] = {};
  uint8_t m_playersOf[kMotionListeners] = {0x0F};
  uint32_t m_frameStamp = 0;
  uint8_t m_deviceMask = 0;
  uint8_t m_playerCount = 0;
};

namespace LowerEngine {

// The listeners that have been given a player, one bit each.
uint32_t MotionListenerMask();
// What a voice's feedback gains read: the players a listener feeds and the players with a device,
// one bit per player; 0 while no motion device was ever added.
uint8_t MotionPlayersOfListener(uint32_t listener);
uint8_t ActiveMotionPlayers();
// A game object's listeners are about to change to `listenerMask`: the players its motion voices and
// its sounds' motion reach on them get their motion outputs before its voices are routed anew.
void AttachMotionPlayersOf(const CSnRegisteredObj* gameObject, uint32_t listenerMask);

}  // namespace LowerEngine
}  // namespace SN
