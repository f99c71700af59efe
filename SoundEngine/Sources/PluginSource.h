// The source that runs a source plug-in instead of media: the plug-in's source interface, what it may
// ask of its voice, and the host that maps the source operations onto it. The plug-in and its
// parameters come from the bank's per-node effect definition under the source's id.
#pragma once

#include <cstdint>

#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Plugins/PluginContexts.h"
#include "SoundEngine/Sources/VoiceSource.h"

namespace SN {

class ISnEffectDefinition;

// What a source plug-in may ask of the voice it plays for.
class ISnSourcePluginContext {
 public:
  // 1 when the sound does not loop, else its loop count (0 for ever).
  virtual uint16_t GetLoopCount() const = 0;
  virtual float GetPriority() const = 0;
  // Media by id, kept for the plug-in until its voice ends: {data, size}, or {null, 0}.
  virtual void GetMedia(uint32_t id, const uint8_t*& data, uint32_t& size) const = 0;

 protected:
  ~ISnSourcePluginContext() = default;
};

// A generator registered as a source plug-in.
class ISnSourcePlugin : public ISnPlugin {
 public:
  // May change the format offered (its rate, channels and layout).
  virtual SNRESULT QueryFormat(SnMediaFormat& format) = 0;
  virtual SNRESULT Init(ISnPluginMemAlloc* allocator, ISnSourcePluginContext* context, ISnPluginParam* params,
                        SnMediaFormat& format) = 0;
  // Fills up to maxFrames of the buffer and sets its state: 45 data ready, 43 more to come, 17 done.
  virtual void Execute(SnVoiceBuffer& buffer) = 0;
  virtual float GetDuration() const = 0;  // ms
  virtual SNRESULT StopLooping() = 0;
  // Moves on by `frames` without producing; 0 declines (the host then renders and drops them).
  virtual SNRESULT TimeSkip(uint32_t& frames) = 0;
  virtual SNRESULT Seek(float milliseconds) = 0;
  virtual float GetEnvelope() const = 0;  // linear

 protected:
  ~ISnSourcePlugin() = default;
};

class CSnPluginSource final : public CSnVoiceSource, private ISnSourcePluginContext {
 public:
  explicit CSnPluginSource(ISnSourceInstance* instance);
  ~CSnPluginSource() override;

  void ReleaseBuffer() override {}
  SNRESULT SkipFrames(uint32_t& frames) override;
  SNRESULT PrepareSource() override;
  void StopStream() override;
  void GetBuffer(SnVoiceBuffer& buffer) override;
  float GetDuration() const override { return m_pPlugin ? m_pPlugin->GetDuration() : 0.0f; }
  SNRESULT StopLooping() override { return m_pPlugin ? m_pPlugin->StopLooping() : SN_Failure; }
  SNRESULT Seek() override;
  float GetEnvelopeDb(uint32_t frames) override;
  uint32_t GetSampleRate() const override { return m_format.sampleRate; }
  SnMediaFormat MediaFormat() const override { return m_format; }
  bool HoldsPluginMedia(const CSnLoadedBank* bank, const void* data) const override {
    return (bank && m_media.HoldsBank(bank)) || (data && m_media.Uses(data));
  }
  void RelocatePluginMedia(const CSnLoadedBank* bank) override { m_media.Relocate(bank, m_pPlugin); }

 private:
  uint16_t GetLoopCount() const override;
  float GetPriority() const override;
  void GetMedia(uint32_t id, const uint8_t*& data, uint32_t& size) const override;
  uint32_t OutputRate() const;
  // The plug-in's float samples held to +24 dB, where they enter the voice; said once a voice.
  void HoldOutput();
  // Counts the frames in a row in which the plug-in gave no sample (`gave` false for this buffer);
  // true once it has starved for kStarvedFramesBound of them, said once.
  bool Starved(bool gave);

  SnVoiceBuffer m_buffer;
  bool m_planarBlock = false;
  bool m_saidHeld = false;
  uint32_t m_starvedFrames = 0;
  uint32_t m_starvingFrame = 0xFFFFFFFFu;  // the audio manager's frame last counted
  SnMediaFormat m_format;
  ISnEffectDefinition* m_pDefinition = nullptr;  // its reference is the source's
  ISnPluginParam* m_pParams = nullptr;           // the voice's copy, following the definition's curves
  ISnSourcePlugin* m_pPlugin = nullptr;
  mutable CSnPluginMediaTable m_media;  // what GetMedia handed out, by media id
};

// 20 log10(x + 1e-38) through the float's exponent and a short series for its mantissa.
float FastLinearToDb(float linear);

// The speaker layouts a plug-in may ask for.
bool IsPluginChannelMaskAccepted(uint32_t mask);

}  // namespace SN
