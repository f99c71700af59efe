// Where a voice pipeline meets the bus graph: the voice as the lower engine connects and routes it
// (listener mask, output bus, existing routings, auxiliary sends, priority, gain passes), the frame
// a voice hands a mix bus through one of its connections, and the mix bus as such a connection sees
// it. The voice pipeline implements `ISnVoiceConnections`; mix buses implement `ISnMixBusInput`.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class CSnRegisteredObj;
class ISnMixBusNode;
class ISnMixerPluginContext;
class ISnPlugin;
class ISnVoicePipeline;

// Connection types; bit 2 (kConnectionOtherBusKind) marks a send whose bus is of the other kind
// (main-output or device-specific) than the voice's output bus.
enum SnConnectionType : uint32_t {
  SnConnection_Dry = 0,
  SnConnection_GameSend = 1,
  SnConnection_UserSend = 2,
};
constexpr uint32_t kConnectionOtherBusKind = 4;

// One auxiliary send of a voice: level A is the game-defined level, level B the node-defined one.
struct SnAuxSend {
  float levelA;
  float levelB;
  uint32_t busId;
  uint32_t listenerField;
};
constexpr uint32_t kMaxAuxSends = 8;

struct SnAuxSendTable {
  SnAuxSend sends[kMaxAuxSends];
  uint8_t count;
};

// A send the game set on a game object; a list of them ends at the first bus id 0 or at 8.
struct SnGameAuxSend {
  uint32_t busId;
  float level;
  uint32_t listenerField;
};

// One frame of a voice through one connection. The buffer is planar with `maxFrames` a plane; the
// matrices hold a row per voice channel of ceil(bus channels / 4) x 4 gains. `context` is what a
// mixer plug-in is told the input is (the connection).
struct SnVoiceMixInput {
  SnMixBuffer* buffer = nullptr;
  float voicePreviousGain = 1.0f;
  float voiceNextGain = 1.0f;
  float previousVolume = 1.0f;  // the connection's
  float nextVolume = 1.0f;
  float previousFactor = 1.0f;  // motion buses only; others ignore it
  float nextFactor = 1.0f;
  const float* previousMatrix = nullptr;
  const float* nextMatrix = nullptr;
  void* context = nullptr;
  // The frames the buffer begins with that are known silence (a voice starting inside the frame).
  uint32_t leadingSilence = 0;
};

// A mix bus as a voice's connection sees it.
class ISnMixBusInput {
 public:
  virtual uint32_t BusId() const = 0;
  virtual SnChannelConfig BusChannelConfig() const = 0;
  virtual uint32_t DeviceType() const = 0;
  virtual uint32_t DeviceId() const = 0;
  // A connection made (true) or gone (false); a bus keeps its parent alive while it has inputs.
  virtual void InputConnected(void* context, bool connected) = 0;
  // Adds the voice's frame into the bus (nothing when the buffer has no valid frames).
  virtual void ConsumeVoice(const SnVoiceMixInput& input) = 0;
  // Linear gain the bus asks of its inputs (1.0 unless its mixer set it).
  virtual float DownstreamGain() const = 0;
  // The bus as its mixer plug-in sees it: the game's speaker-volume-matrix callback is handed it.
  virtual ISnMixerPluginContext* MixerContext() = 0;
  // The loudest voice of the frame in dB, for the bus's dynamic-range window.
  virtual void ReportVoicePeak(float levelDb) = 0;
  // Keeps the bus past this frame's idle removal.
  virtual void KeepThisFrame() = 0;

 protected:
  ~ISnMixBusInput() = default;
};

// The voice pipeline as the lower engine connects, routes and orders it.
class ISnVoiceConnections {
 public:
  // The ISnVoicePipeline the lower engine lists and destroys.
  virtual ISnVoicePipeline* Pipeline() = 0;
  // Effects not yet prepared are prepared now: SN_Success or the failure.
  virtual SNRESULT PrepareEffects() = 0;
  // The listener mask the instance takes from its game object; asked on connecting and on every
  // routing of the voice's sends.
  virtual uint32_t TakeListenerMask() = 0;
  // Carries motion data and is not a motion voice itself.
  virtual bool FeedsMotion() const = 0;
  virtual bool IsMotion() const = 0;
  virtual uint32_t MotionPlayerMask() const = 0;
  // The instance's output bus node (no reference taken), null for none.
  virtual ISnMixBusNode* OutputBus() const = 0;
  virtual CSnRegisteredObj* GameObject() const = 0;
  // The larger priority of its two sources (a missing one counts 0).
  virtual uint32_t Priority() const = 0;

  virtual bool RoutesToDevice(uint32_t deviceType, uint32_t deviceId) const = 0;
  // Adds a connection to `bus` of `type` (SnConnectionType, maybe with kConnectionOtherBusKind); a
  // bus the voice already feeds keeps its connection (SN_Success): sends are routed every frame.
  virtual SNRESULT AddConnection(ISnMixBusInput* bus, uint32_t type) = 0;
  // Removes and frees every connection to the device and marks the gains for recomputation.
  virtual void RemoveDeviceConnections(uint32_t deviceType, uint32_t deviceId) = 0;
  virtual SnAuxSendTable& AuxSends() = 0;

  // The frame's gain passes around the buses' own (the first also merges and routes the sends).
  virtual void FirstGainPass() = 0;
  virtual void SecondGainPass() = 0;
  // Every live plug-in instance made from `effectId`: source, insert slots and the further slot.
  virtual void ForEachPluginOf(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie) = 0;

 protected:
  ~ISnVoiceConnections() = default;
};

namespace LowerEngine {

// A voice whose first source is ready: effects prepared, listener mask taken, routed to every
// output device it belongs on through the mix buses of its output bus (made as needed). SN_Success,
// or SN_Failure after which the caller destroys the pipeline.
SNRESULT ConnectVoicePipeline(ISnVoiceConnections& voice);
// The voice's send table (node-defined sends on entry) merged with the game's and routed; a send
// beyond the eighth is dropped.
void MergeAuxSends(ISnVoiceConnections& voice, const SnGameAuxSend* gameSends, bool clearGameLevels);
// The routings of one voice follow its game object's new listener mask.
void UpdateVoiceListeners(ISnVoiceConnections& voice, uint32_t listenerMask);

}  // namespace LowerEngine
}  // namespace SN
