// What effect and mixer plug-ins see of the engine: the audio format they are given, the context of
// services bound to where they run (a voice, a mix bus, a bus's mixer), the interfaces the engine
// calls on them, and the context base with its table of plug-in media. Audio thread, under the
// global audio lock, unless a function says otherwise.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class CSnBankRecord;
class CSnLoadedBank;
class CSnCpuInfo;
class ISnMetering;
class ISnMixerPanning;
class ISnStreamMgr;

constexpr SNRESULT SN_NotImplemented = SNRESULT(4);

// The format handed to a plug-in's Init: rate, layout and one word of bit fields.
struct SnAudioFormat {
  uint32_t sampleRate = 0;
  SnChannelConfig channelConfig = 0;
  // Bits 0-5 bits per sample, 6-15 block align, 16-17 sample type, 18 interleaved; higher bits kept.
  uint32_t bits = 0;

  void SetFields(uint32_t bitsPerSample, uint32_t blockAlign, uint32_t sampleType, uint32_t interleaved) {
    bits = (bits & ~0x7FFFFu) | (bitsPerSample & 0x3F) | ((blockAlign & 0x3FF) << 6) | ((sampleType & 3) << 16) |
           ((interleaved & 1) << 18);
  }
  uint32_t BitsPerSample() const { return bits & 0x3F; }
  uint32_t BlockAlign() const { return (bits >> 6) & 0x3FF; }
  uint32_t SampleType() const { return (bits >> 16) & 3; }
  uint32_t Interleaved() const { return (bits >> 18) & 1; }
};
static_assert(sizeof(SnAudioFormat) == 12, "a plug-in reads the format as three words");

// The services common to every context, in their slot order.
class ISnPluginContextBase {
 public:
  virtual ~ISnPluginContextBase() = default;
  virtual ISnStreamMgr* GetStreamManager() = 0;
  virtual uint16_t GetFrameLength() = 0;
  // SN_NotImplemented where the plug-in runs on a voice.
  virtual SNRESULT GetOutputDevice(uint32_t& deviceId, uint32_t& deviceType) = 0;
  // The media of (this slot, index) among the node's effects; null and 0 when there is none.
  virtual SNRESULT GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) = 0;
  virtual SNRESULT Reserved5(uint32_t, uint32_t) { return SN_NotImplemented; }
  virtual SNRESULT Reserved6(uint32_t, uint32_t) { return SN_Failure; }
  virtual bool Reserved7() { return false; }
  virtual const CSnCpuInfo* GetCpuInfo() = 0;
};

class ISnEffectPluginContext : public ISnPluginContextBase {
 public:
  virtual bool IsOnBusOfKind12() = 0;
  // The voice's information interface; null on a bus.
  virtual void* GetVoiceInformation() = 0;
  virtual void* Reserved11() { return nullptr; }
};

class ISnMixerPluginContext : public ISnPluginContextBase {
 public:
  virtual uint32_t GetBusId() = 0;
  // 0 an ordinary bus, 1 the master bus of the main hierarchy; 3 the master and 2 any other bus of
  // the second hierarchy.
  virtual uint32_t GetBusKind() = 0;
  virtual float GetDownstreamGain() = 0;
  // The panning services onto the device the bus renders to: its speaker angles, 2D and 3D panning,
  // speaker sets and the device's mix matrix.
  virtual ISnMixerPanning* GetPanning() = 0;
  // Output += input through the matrices with a gain ramped over the output's maximum frames.
  virtual SNRESULT MixWithMatrix(const SnMixBuffer& input, SnMixBuffer& output, float initialGain, float finalGain,
                                 const float* initialMatrix, const float* finalMatrix) = 0;
  virtual SNRESULT MixWithMatrixWithoutLfe(const SnMixBuffer& input, SnMixBuffer& output, float initialGain,
                                           float finalGain, const float* initialMatrix, const float* finalMatrix) = 0;
  // output[t] += input[t] x gain ramped by (final - initial) / frames; nothing for 0 frames.
  virtual void MixSingleChannel(const float* input, float* output, float initialGain, float finalGain,
                                uint32_t frames) = 0;
  virtual void SetMixerMeteringFlags(uint32_t flags) = 0;
};

// An effect plug-in (type 3): runs in place on a bus's or a voice's buffer.
class ISnEffectPlugin : public ISnPlugin {
 public:
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, ISnEffectPluginContext* context, ISnPluginParam* params,
                        SnAudioFormat& format) = 0;
  virtual void ProcessInPlace(SnMixBuffer& buffer) = 0;

 protected:
  ~ISnEffectPlugin() = default;
};

// A mixer plug-in (type 6): mixes a bus's inputs itself.
class ISnMixerPlugin : public ISnPlugin {
 public:
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, ISnMixerPluginContext* context, ISnPluginParam* params,
                        SnAudioFormat& format) = 0;
  virtual void InputAdded(void* input) = 0;
  virtual void InputRemoved(void* input) = 0;
  virtual void MixInput(void* inputContext, float initialGain, float finalGain, float initialFactor,
                        float finalFactor, SnMixBuffer& input, SnMixBuffer& mix) = 0;
  virtual void InputsMixed(SnMixBuffer& mix) = 0;
  virtual void EffectsProcessed(SnMixBuffer& mix) = 0;
  virtual void FrameEnd(SnMixBuffer& mix, ISnMetering* meter) = 0;

 protected:
  ~ISnMixerPlugin() = default;
};

// Where a context finds media ids: the node its plug-in belongs to.
class ISnMediaIdSource {
 public:
  virtual uint32_t MediaIdOf(uint32_t slot, uint32_t index) const = 0;

 protected:
  ~ISnMediaIdSource() = default;
};

// The media a context has handed its plug-in, kept referenced until the context goes. Entries live
// in the default pool and grow one at a time.
class CSnPluginMediaTable {
 public:
  CSnPluginMediaTable() = default;
  CSnPluginMediaTable(const CSnPluginMediaTable&) = delete;
  CSnPluginMediaTable& operator=(const CSnPluginMediaTable&) = delete;
  ~CSnPluginMediaTable() { Release(); }

  // Cached, or looked up by the source's media id for (slot, index) in the bank manager; a failed
  // growth releases the media again. SN_Failure with null and 0 when nothing can be handed out.
  SNRESULT Get(const ISnMediaIdSource* source, uint32_t slot, uint32_t index, const uint8_t*& data, uint32_t& size);
  // True when an entry holds `data`.
  bool Uses(const void* data) const;
  bool HoldsBank(const CSnLoadedBank* bank) const;
  // The bank's data is about to go: each entry held from it is looked up again by its media id and,
  // when `relocator` can follow and moves onto the copy, takes the copy; its old reference goes.
  // True when some entry still holds the bank's data.
  bool Relocate(const CSnLoadedBank* bank, ISnPlugin* relocator);
  // Gives every reference back and frees the entries.
  void Release();
  uint32_t Count() const { return m_count; }

 private:
  struct Entry {
    uint32_t index;
    const uint8_t* data;
    uint32_t size;
    uint32_t mediaId;
    CSnBankRecord* bank;
  };
  Entry* m_entries = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
};

// The context an effect on a mix bus gets: the bus's device and node, its slot's media.
class CSnBusEffectContext final : public ISnEffectPluginContext {
 public:
  struct Owner {
    uint32_t deviceType;
    uint32_t deviceId;
    uint32_t category;
    const ISnMediaIdSource* media;
  };
  CSnBusEffectContext(uint32_t slot, const Owner& owner) : m_slot(slot), m_owner(owner) {}

  ISnStreamMgr* GetStreamManager() override;
  uint16_t GetFrameLength() override;
  SNRESULT GetOutputDevice(uint32_t& deviceId, uint32_t& deviceType) override;
  SNRESULT GetMediaByIndex(uint32_t index, const uint8_t*& data, uint32_t& size) override;
  const CSnCpuInfo* GetCpuInfo() override;
  bool IsOnBusOfKind12() override { return m_owner.category == 12; }
  void* GetVoiceInformation() override { return nullptr; }

  bool UsesMedia(const void* data) const { return m_media.Uses(data); }
  bool UsesBankMedia(const CSnLoadedBank* bank) const { return m_media.HoldsBank(bank); }
  // See CSnPluginMediaTable::Relocate; the slot's plug-in is the relocator.
  bool RelocateMedia(const CSnLoadedBank* bank, ISnPlugin* plugin) { return m_media.Relocate(bank, plugin); }

 private:
  uint32_t m_slot;
  Owner m_owner;
  CSnPluginMediaTable m_media;
};

}  // namespace SN
