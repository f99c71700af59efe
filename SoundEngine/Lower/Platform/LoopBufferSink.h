// The platform sink (kind 2): frames converted to 16-bit and written into the platform output's
// looping ring at a write offset only the sink moves, paced by the ring's play and write cursors.
// Audio thread, under the global audio lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Lower/Sink.h"

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
  bool IsStarved() override { return m_starved; }
  void ResetStarved() override { m_starved = false; }
  void WriteFrame() override;
  void WriteSilence() override;
  uint32_t GetWaitTime() override;

  uint32_t RingBytes() const;
  uint32_t WriteOffset() const { return m_writeOffset; }

  // The frame buffer (`in`, interleaved f32 of layout `inConfig`) as 16-bit frames of `outConfig`:
  // the same layout is copied; otherwise every output speaker takes the input speaker of its mask
  // bit, input speakers the output lacks fold into front left and right (centre to both, left and
  // right surrounds to their side, all at 0.707; the LFE is dropped), and the rest is silent.
  // Samples are limited to -1..1, scaled by 32767 and rounded to nearest.
  static void ConvertFrame(const float* in, SnChannelConfig inConfig, int16_t* out, SnChannelConfig outConfig,
                           uint32_t frames);

 private:
  bool OpenOutput(uint32_t channelMask);

  Platform::AudioOutput* m_pOutput = nullptr;
  int16_t* m_pScratch = nullptr;  // one converted frame, lower-engine pool
  uint32_t m_writeOffset = 0;
  uint32_t m_lastPlay = 0;
  uint32_t m_blockAlign = 0;
  bool m_starved = false;
};

}  // namespace SN
