// The shared endpoint sink (kind 4): float frames queued on a playback device named by its id,
// shared by every output device that plays that device. Each device adds its mix into the one
// planar frame; the frame goes out once per audio frame, resampled when the device settled on
// another rate than the engine's. Everything is sized from the format the device settled on.
// Audio thread, under the global audio lock: sharing is counted, not locked.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/LinearResampler.h"
#include "SoundEngine/Lower/Sink.h"

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
  // Adds the mix into the shared planar frame through the standard matrix of the two layouts.
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
  void Queue(const float* interleaved, uint32_t frames);

  Platform::AudioQueueOutput* m_pOutput = nullptr;
  uint32_t m_endpointId = 0;
  uint32_t m_bufferFrames = 0;  // device frames the queue may hold
  uint32_t m_unitFrames = 0;    // device frames one audio frame gives at most
  uint32_t m_channels = 0;
  uint32_t m_shareCount = 1;
  uint32_t m_countdown = 1;
  bool m_resampling = false;
  CSnLinearResampler m_resampler;
  float* m_pInterleaved = nullptr;  // one frame at the engine's rate, lower-engine pool
  float* m_pResampled = nullptr;    // m_unitFrames frames at the device's rate, lower-engine pool
  SnChannelConfig m_matrixFor = 0;  // the mix layout m_matrix was made for
  alignas(16) float m_matrix[kMaxFrameChannels * kMaxFrameChannels];
};

}  // namespace SN
