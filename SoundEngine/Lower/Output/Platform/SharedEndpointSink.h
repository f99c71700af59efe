// The shared endpoint sink (kind 4): float frames queued on a playback device named by its id,
// shared by every output device that plays that device. At the engine's rate each device's mix goes
// straight into the device's ring slot the frame is given (the first stores, the others add); at
// another rate the mixes sum into a planar frame that the sources' resampling kernel takes to the
// device's rate. The frame goes out once per audio frame. Everything is sized from the format the
// device settled on. Audio thread, under the global audio lock: sharing is counted, not locked.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Output/Sink.h"
#include "SoundEngine/Sources/PitchResampler.h"

namespace Platform {
class AudioQueueOutput;
}

namespace SN {

class CSnSharedEndpointSink final : public CSnSink {
 public:
  CSnSharedEndpointSink() : CSnSink(SnSinkKind_Endpoint) {}
  ~CSnSharedEndpointSink() override;

  // `deviceName` empty: the default device. `config` with 0 channels takes the device's own.
  // 1, 2 when the device will not open, 52 without memory.
  SNRESULT Init(const char* deviceName, uint32_t endpointId, SnChannelConfig config);

  // Lets go of one share; the last user destroys the sink.
  void Term(SnMemPoolId pool) override;
  // SN_Failure when the device will not start, so that the device falls back and tries again.
  SNRESULT Play() override;
  SNRESULT IsDataNeeded(uint32_t& frames) override;
  // Adds the mix into the shared frame through the standard matrix of the two layouts.
  void PassData(const SnMixBuffer& mix, float previousGain, float nextGain) override;
  // Once per audio frame, whatever the number of devices sharing.
  void EndFrame() override;
  void WriteFrame() override;
  void WriteSilence() override;
  uint32_t GetWaitTime() override;

  // Another output device plays this sink too.
  void AddShare() { ++m_shareCount; }
  uint32_t ShareCount() const { return m_shareCount; }
  uint32_t EndpointId() const { return m_endpointId; }
  bool IsResampling() const { return m_resampling; }
  Platform::AudioQueueOutput* Output() const { return m_pOutput; }

 private:
  // The standard matrix from a mix's layout to the sink's, made once per layout.
  const float* MatrixFor(SnChannelConfig mixConfig);
  // The mix in the sink's layout: the mix itself when the layouts agree, else the planar frame.
  const SnMixBuffer& InSinkLayout(const SnMixBuffer& mix, float& previousGain, float& nextGain, uint32_t frames);
  // Another device's share added into the interleaved frame.
  void AddInterleaved(const SnMixBuffer& mix, float previousGain, float nextGain, uint32_t frames);
  // The planar frame taken to the device's rate, interleaved as it goes, and queued.
  void QueueResampled();
  // Where this frame is written: the device's next slot, or the scratch frame while its ring is full.
  float* Destination();
  // A frame written at Destination() handed to the device (a scratch frame goes nowhere).
  void Hand(float* frame, uint32_t frames);

  Platform::AudioQueueOutput* m_pOutput = nullptr;
  uint32_t m_endpointId = 0;
  uint32_t m_bufferFrames = 0;  // device frames the queue may hold
  uint32_t m_unitFrames = 0;    // device frames one audio frame gives at most
  uint32_t m_channels = 0;
  uint32_t m_shareCount = 1;
  uint32_t m_countdown = 1;
  uint32_t m_framesPassed = 0;  // frames of this audio frame's sum so far; 0: the next share stores
  bool m_resampling = false;
  CSnPitchResampler m_resampler;
  // This audio frame's interleaved frames: a slot of the device's ring, written in place, or the
  // scratch frame (m_unitFrames frames, lower-engine pool) when the ring had no room.
  float* m_pFrame = nullptr;
  float* m_pScratch = nullptr;
  bool m_ringWasFull = false;
  SnChannelConfig m_matrixFor = 0;  // the mix layout m_matrix was made for
  alignas(16) float m_matrix[kMaxFrameChannels * kMaxFrameChannels];
};

}  // namespace SN
