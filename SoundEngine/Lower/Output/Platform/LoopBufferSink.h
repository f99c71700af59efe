// The platform sink (kind 2): frames converted to 16-bit and written into the platform output's
// looping ring at a write offset only the sink moves, paced by how far the platform has played.
// A platform that overtakes the last frame written is starved: it plays silence, and the next
// frames go in just ahead of it.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Output/Sink.h"

namespace Platform {
class AudioOutput;
}

namespace SN {

class CSnLoopBufferSink final : public CSnSink {
 public:
  CSnLoopBufferSink() : CSnSink(SnSinkKind_LoopBuffer) {}
  ~CSnLoopBufferSink() override;

  // Speaker mask 0 takes the platform's own count; 7.1 falls back to 5.1, then stereo. 1, 2 when
  // no output opens, 52 without memory.
  SNRESULT Init(uint32_t channelMask);

  SNRESULT Play() override;
  SNRESULT IsDataNeeded(uint32_t& frames) override;
  // Interleaves, converts and packs the mix into the 16-bit frame in one pass.
  void PassData(const SnMixBuffer& mix, float previousGain, float nextGain) override;
  bool IsStarved() override { return m_starved; }
  void ResetStarved() override { m_starved = false; }
  void WriteFrame() override;
  void WriteSilence() override;
  uint32_t GetWaitTime() override;

  uint32_t RingBytes() const;
  uint32_t WriteOffset() const { return m_writeOffset; }
  Platform::AudioOutput* Output() const { return m_pOutput; }

  // Interleaved f32 frames as this sink plays them (FrameConvert::InterleavedToInt16).
  static void ConvertFrame(const float* in, SnChannelConfig inConfig, int16_t* out, SnChannelConfig outConfig,
                           uint32_t frames) {
    FrameConvert::InterleavedToInt16(in, inConfig, out, outConfig, frames);
  }

 private:
  bool OpenOutput(uint32_t channelMask);

  Platform::AudioOutput* m_pOutput = nullptr;
  int16_t* m_pScratch = nullptr;  // one converted frame, lower-engine pool
  uint32_t m_writeOffset = 0;
  // Where the platform's stream reaches the end of what was written, in the bytes it counts as
  // played since it started.
  uint64_t m_streamEnd = 0;
  uint32_t m_blockAlign = 0;
  bool m_starved = false;
};

}  // namespace SN
