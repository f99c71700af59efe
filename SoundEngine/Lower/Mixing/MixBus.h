// A mix bus: one hierarchy bus on one output device. Voices and child buses add into its buffer, its
// effect slots and mixer plug-in run on the sum, its gain and speaker matrix ramp across the frame,
// its meter measures the result, and the lower engine hands it on to its parent or device. Audio
// thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Lower/Spatial/MixerPanning.h"

namespace SN {

class CSnBusMeter;
class CSnLoadedBank;
class ISnEffectDefinition;
class ISnMixBusNode;

// The buffer's state word while no input came this frame.
constexpr uint32_t kBufferNoDataYet = 17;

// Activity states of a bus; one word for the frame and for removal.
enum SnMixBusState : uint32_t {
  SnMixBus_Active = 1,
  SnMixBus_Removing = 2,
  SnMixBus_Idle = 4,
};

// What a bus's volume callback receives; the callback may change the matrix and `callbackGain`.
struct SnBusVolumeCallbackInfo {
  uint32_t reserved[4] = {0, 0xFFFFFFFFu, 0, 0};
  float* volumeMatrix = nullptr;
  SnChannelConfig busConfig = 0;
  SnChannelConfig parentConfig = 0;
  float* busGain = nullptr;
  float* callbackGain = nullptr;
  const void* bus = nullptr;
  ISnMixerPluginContext* parentMixer = nullptr;
};

// What a bus's effects and its voices may ask of it, in slot order.
class ISnBusInformation {
 public:
  // The mixer's parameters, cloned from its definition on first call; null without a mixer.
  virtual ISnPluginParam* MixerParams() = 0;
  virtual uint32_t InfoBusId() const = 0;
  virtual uint32_t UserWord() const = 0;
  virtual void SetUserWord(uint32_t word) = 0;
  virtual bool Is3DPositioned() const = 0;
  // Centre share 0 to 1; 1.0 when positioning is off.
  virtual float CentrePercentage() const = 0;
  // Pans -1 to 1 (left-right, front-rear, 0); zeros when positioning is off.
  virtual void PanPosition(float position[3]) const = 0;
  virtual SNRESULT Reserved13() { return SN_Failure; }
  // Copies both matrices (MatrixFloats(bus, parent) each), zeros when the bus has none.
  virtual void CopyVolumeMatrices(float* previous, float* next) const = 0;

 protected:
  ~ISnBusInformation() = default;
};

// The dynamic-range window of a bus whose node asks for one.
struct SnBusWindow {
  float peakDb = -4096.0f;
  float value = -4096.0f;
  float topDb = 0.0f;
  float releaseCoefficient = 0.0f;
  float thresholdDb = 96.0f;
  float ratioFactor = 1.0f - 1.0f / 16.0f;
};

class CSnMixBus final : public CSnTargetLink,
                        public ISnMixBusInput,
                        public ISnMixerPluginContext,
                        public ISnBusInformation,
                        public ISnMediaIdSource {
 public:
  // Bus flags of the graph (byte of `m_graphFlags`).
  static constexpr uint8_t kKeepThisFrame = 0x1;
  static constexpr uint8_t kHasWindow = 0x2;
  static constexpr uint8_t kWindowDbDomain = 0x4;
  static constexpr uint8_t kMotionBus = 0x8;
  // The ids of the node's parameters a bus listens to: volume 5, centre 11, pans 20 and 21, effect
  // bypass 24 to 27, bus bypass 28, the 3D flag 63.
  static constexpr uint64_t kListenMask = (uint64_t(0x80000003) << 32) | 0x1f300820;

  // Made in the lower engine's pool, not yet initialised; null when out of memory.
  static CSnMixBus* New(uint32_t busId);
  // Detaches from the node and frees everything (null is accepted).
  static void Delete(CSnMixBus* bus);

  // 1; 2 when the node refuses the bus or the matrices cannot be had; 52 without the buffer or the
  // mixer slot. A null node makes a device master bus.
  SNRESULT Init(ISnMixBusNode* node, SnChannelConfig busConfig, SnChannelConfig parentConfig, uint16_t frameLength,
                uint32_t deviceType, uint32_t deviceId);

  // CSnTargetLink: the node's parameter changes.
  void SetParamValue(uint32_t parameterId, float value, float delta) override;
  uint64_t WantedMask() const override { return kListenMask; }

  // ISnMixBusInput
  uint32_t BusId() const override { return m_busId; }
  SnChannelConfig BusChannelConfig() const override { return m_buffer.channelConfig; }
  uint32_t DeviceType() const override { return m_deviceType; }
  uint32_t DeviceId() const override { return m_deviceId; }
  void InputConnected(void* context, bool connected) override;
  void ConsumeVoice(const SnVoiceMixInput& input) override;
  float DownstreamGain() const override { return m_downstreamGain; }
  ISnMixerPluginContext* MixerContext() override { return this; }
  void ReportVoicePeak(float levelDb) override;
  void KeepThisFrame() override { m_graphFlags |= kKeepThisFrame; }

  // A child's frame into this bus (nothing when it has no valid frames).
  void ConsumeChildBus(CSnMixBus& child);
  // After every input: mixer, effects, gains, meter, callbacks. The buffer then goes on.
  void ProcessFrame();
  // Idle when nothing came in; the buffer emptied for the next frame.
  void EndFrame();

  // Commands.
  void SetVolume(float dB);
  void AddVolumeDelta(float dB) { SetVolume(m_volumeDb + dB); }
  // Mask bits 0-3 the four slots' bypass from value bits 0-3, bit 4 the bus-wide bypass.
  void SetBypass(uint32_t value, uint32_t mask);
  void SetCallbackMeteringFlags(uint32_t flags);
  void SetVolumeCallbackFlag(bool on);
  // (Re)creates the effect of a slot from the node; every slot and the mixer when `slot` is above 3.
  void UpdateEffect(uint32_t slot);
  // True when a slot's context or the mixer's holds media of the bank.
  bool UsesBankMedia(const CSnLoadedBank* bank) const;
  // The bank's data is about to go: the effects and the mixer move their media of it to another
  // holder of the same media where they can; true when none of them holds the bank's data after.
  bool RelocateBankMedia(const CSnLoadedBank* bank);
  // The effects made again from the node (media of a bank that goes are let go).
  void RebuildEffects();
  // Calls `callback` on every live plug-in made from `effectId`.
  void ForEachPluginOf(uint32_t effectId, void (*callback)(ISnPlugin*, void*), void* cookie);

  // ISnMixerPluginContext
  ISnStreamMgr* GetStreamManager() override;
  uint16_t GetFrameLength() override;
  SNRESULT GetOutputDevice(uint32_t& deviceId, uint32_t& deviceType) override;
  SNRESULT GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) override;
  const CSnCpuInfo* GetCpuInfo() override;
  uint32_t GetBusId() override { return m_busId; }
  uint32_t GetBusKind() override;
  float GetDownstreamGain() override { return m_downstreamGain; }
  ISnMixerPanning* GetPanning() override { return &m_panning; }
  SNRESULT MixWithMatrix(const SnMixBuffer& input, SnMixBuffer& output, float initialGain, float finalGain,
                         const float* initialMatrix, const float* finalMatrix) override;
  SNRESULT MixWithMatrixWithoutLfe(const SnMixBuffer& input, SnMixBuffer& output, float initialGain,
                                   float finalGain, const float* initialMatrix, const float* finalMatrix) override;
  void MixSingleChannel(const float* input, float* output, float initialGain, float finalGain,
                        uint32_t frames) override;
  void SetMixerMeteringFlags(uint32_t flags) override;

  // ISnBusInformation
  ISnPluginParam* MixerParams() override;
  uint32_t InfoBusId() const override { return m_busId; }
  uint32_t UserWord() const override { return m_userWord; }
  void SetUserWord(uint32_t word) override { m_userWord = word; }
  bool Is3DPositioned() const override { return (m_flags & kPositioningEnabled) && m_threeD; }
  float CentrePercentage() const override;
  void PanPosition(float position[3]) const override;
  void CopyVolumeMatrices(float* previous, float* next) const override;

  // ISnMediaIdSource
  uint32_t MediaIdOf(uint32_t slot, uint32_t index) const override;

  // The graph's fields (lower engine).
  ISnMixBusNode* Node() const { return m_node; }
  CSnMixBus* m_pParent = nullptr;
  uint32_t m_state = SnMixBus_Idle;
  uint32_t m_inputs = 0;
  uint8_t m_graphFlags = 0;
  float m_totalVolumeDb = 0.0f;
  float m_linearGain = 1.0f;
  SnBusWindow m_window;

  const SnMixBuffer& Buffer() const { return m_buffer; }
  SnMixBuffer& Buffer() { return m_buffer; }
  float PreviousGain() const { return m_previousGain; }
  float NextGain() const { return m_nextGain; }
  float VolumeDb() const { return m_volumeDb; }
  uint32_t CallbackMeteringFlags() const { return m_callbackMetering; }
  ISnMetering* Meter() const;
  bool HasVolumeCallback() const { return (m_flags & kVolumeCallback) != 0; }
  ISnPlugin* EffectPlugin(uint32_t slot) const { return slot < 4 ? m_slots[slot].plugin : nullptr; }
  ISnPlugin* MixerPlugin() const;

 private:
  // The mixer's panning services, onto the bus's device.
  class Panning final : public CSnMixerPanningServices {
   public:
    explicit Panning(const CSnMixBus& bus) : m_bus(bus) {}
    void GetOutputID(uint32_t& deviceId, uint32_t& outputType) const override {
      deviceId = m_bus.m_deviceId;
      outputType = m_bus.m_deviceType;
    }

   private:
    const CSnMixBus& m_bus;
  };

  static constexpr uint8_t kMixerParamsLooked = 0x1;
  static constexpr uint8_t kPositioningEnabled = 0x2;
  static constexpr uint8_t kVolumeCallback = 0x4;
  static constexpr uint8_t kGainsInitialised = 0x8;
  static constexpr uint8_t kBypass = 0x1;
  static constexpr uint8_t kBypassApplied = 0x2;
  static constexpr uint8_t kEffectsCreated = 0x4;

  struct EffectSlot {
    ISnPluginParam* params = nullptr;
    ISnEffectDefinition* definition = nullptr;
    uint32_t effectId = 0xFFFFFFFFu;
    ISnEffectPlugin* plugin = nullptr;
    CSnBusEffectContext* context = nullptr;
    uint8_t flags = 0;
  };
  struct MixerSlot {
    ISnPluginParam* params = nullptr;
    ISnEffectDefinition* definition = nullptr;
    ISnMixerPlugin* plugin = nullptr;
    uint32_t effectId = 0xFFFFFFFFu;
  };

  explicit CSnMixBus(uint32_t busId);
  ~CSnMixBus() override;

  void ReadPositioning();
  void CreateEffect(uint32_t slot);
  void ClearSlot(uint32_t slot);
  void CreateAllEffects();
  void CreateMixer();
  void ClearMixer();
  void BeginInput();
  void ClearIfStale();
  void ComputeGains();
  void RebuildMeter();
  SnAudioFormat BusFormat() const;

  uint32_t m_deviceType = 0;
  uint32_t m_deviceId = 0;
  Panning m_panning{*this};
  float* m_nextMatrix = nullptr;
  float* m_previousMatrix = nullptr;
  SnChannelConfig m_parentConfig = 0;
  uint32_t m_busId;
  ISnMixBusNode* m_node = nullptr;
  uint16_t m_frameLength = 0;
  float m_frameReciprocal = 0.0f;
  SnMixBuffer m_buffer;
  CSnBusMeter* m_meter = nullptr;
  float m_previousGain = 1.0f;
  float m_nextGain = 1.0f;
  float m_volumeDb = 0.0f;
  float m_panLeftRight = 0.5f, m_panFrontRear = 1.0f, m_centrePercent = 100.0f;
  bool m_threeD = false;
  float m_lastPanLeftRight = 101.0f, m_lastPanFrontRear = 1.0f, m_lastCentrePercent = 100.0f;
  bool m_lastThreeD = false;
  uint8_t m_flags = 0;
  uint32_t m_callbackMetering = 0;
  uint32_t m_mixerMetering = 0;
  EffectSlot m_slots[4];
  MixerSlot* m_mixer = nullptr;
  uint8_t m_busFlags = 0;
  float m_downstreamGain = 1.0f;
  uint32_t m_userWord = 0;
  CSnPluginMediaTable m_mixerMedia;
  // The buffer still holds the last frame: its first input overwrites it rather than adding, and
  // anything else reading it clears it first. Saves a pass over every bus each frame.
  bool m_stale = false;
};

}  // namespace SN
