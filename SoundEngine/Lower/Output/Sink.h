// The object through which an output device hands its mixed frames to the platform: the sink
// interface with its interleaved frame buffer, the silent timer sink that paces rendering by the
// clock when nothing can play, and the factory that picks a sink by the device's sink type word.
// Audio thread, under the global audio lock, unless a function says otherwise.
#pragma once

#include <cstdint>

#include "MemoryMgr/MemoryMgr.h"
#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class CSnOutputDevice;
struct SnOutputSettings;

// Sink kinds, also the bits of a device's sink type word.
enum SnSinkKind : uint32_t {
  SnSinkKind_Engine = 1,
  SnSinkKind_LoopBuffer = 2,
  SnSinkKind_Endpoint = 4,
  SnSinkKind_Silent = 8,
};

// What a plug-in sink is told about the frames it gets.
struct SnSinkFormat {
  uint32_t sampleRate;
  SnChannelConfig channelConfig;  // the sink may change it
  uint32_t bitsPerSample;         // 32: float samples
  bool interleaved;
  uint32_t blockAlign;
};

class CSnSink {
 public:
  explicit CSnSink(uint32_t kind) : m_kind(kind) {}
  virtual ~CSnSink();
  CSnSink(const CSnSink&) = delete;
  CSnSink& operator=(const CSnSink&) = delete;

  // Destroys the sink and returns its memory. Built-in sinks live in the lower engine's pool.
  virtual void Term(SnMemPoolId pool);
  virtual SNRESULT Play() { return SN_Success; }
  // Plug-in sinks made by a device's custom factory are set up here; built-in ones refuse.
  virtual SNRESULT Init(SnMemPoolId pool, CSnOutputDevice* context, SnSinkFormat& format);
  // Whole frames the platform can take now; SN_Failure when the device is lost.
  virtual SNRESULT IsDataNeeded(uint32_t& frames) = 0;
  // Interleaves the planar mix into the frame buffer with a ramp from the previous to the next gain.
  virtual void PassData(const SnMixBuffer& mix, float previousGain, float nextGain);
  // Hands the frame (or a frame of silence when nothing was passed) to the platform.
  virtual void EndFrame();
  virtual bool IsStarved() { return false; }
  virtual void ResetStarved() {}
  virtual void WriteFrame() = 0;
  virtual void WriteSilence() = 0;
  // Milliseconds the audio thread sleeps between passes.
  virtual uint32_t GetWaitTime() = 0;

  // The frame buffer with its valid frames cleared.
  SnMixBuffer* GetFrameBuffer();
  // What the platform gets.
  SnChannelConfig ChannelConfig() const { return m_channelConfig; }
  uint32_t Kind() const { return m_kind; }

 protected:
  // Room for kMaxFrameChannels interleaved channels of a frame: the frame buffer takes the layout of
  // each mix passed, which need not be the sink's. 16-byte aligned, zeroed, lower-engine pool.
  SNRESULT AllocFrameBuffer(SnChannelConfig config);
  // A mix wider than a frame is not played (the frame stays silent); said once per sink.
  bool RefusesWiderMix(const SnMixBuffer& mix);

  SnChannelConfig m_channelConfig = 0;
  SnMixBuffer m_frameBuffer;  // interleaved f32
  uint32_t m_kind;
  bool m_dataPassed = false;
  bool m_widerMixLogged = false;
};

// Paces rendering by the engine's clock when no device plays: frames are counted whole from its
// creation in 64 bits, so the count never drifts from elapsed time x rate / samples per frame.
class CSnSinkDummy final : public CSnSink {
 public:
  explicit CSnSinkDummy(SnChannelConfig config);
  SNRESULT IsDataNeeded(uint32_t& frames) override;
  void PassData(const SnMixBuffer&, float, float) override { m_dataPassed = true; }
  void WriteFrame() override {}
  void WriteSilence() override {}
  uint32_t GetWaitTime() override;

 private:
  int64_t m_startTicks;
  uint64_t m_framesAccounted = 0;
};

namespace SinkFactory {

// A sink for the settings (whose channel configuration a silent sink may fill in), or null.
// `mainSink` gives a silent sink its layout when the settings leave it open.
CSnSink* Create(SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t deviceId, const CSnSink* mainSink);
// The kinds remembered after the first platform sink worked (8 while none has).
uint32_t RememberedKinds();
// Tests: puts the remembered kinds back as they were found.
void SetRememberedKinds(uint32_t kinds);

}  // namespace SinkFactory

// The looping 16-bit platform sink (kind 2) for a speaker mask (0: the platform's own), or null.
CSnSink* CreateLoopBufferSink(uint32_t channelMask);
// The float ring sink (kind 1) for a speaker mask (0: the platform's own), or null.
CSnSink* CreateFloatRingSink(uint32_t channelMask);
// The shared endpoint sink (kind 4) of a device id (the default device for the main output),
// shared with the devices already playing it; null when none opens. The remembered kind is the
// caller's to set.
CSnSink* CreateSharedEndpointSink(SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t deviceId);
}  // namespace SN
