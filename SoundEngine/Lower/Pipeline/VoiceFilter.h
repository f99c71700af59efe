// A voice's low-pass and high-pass filters: a second-order Butterworth section per channel for each,
// driven by 0 to 100 filter values, ramped over eight sub-blocks when a value changes and bypassed
// once a value at or below 0.1 has rung out; and the speaker-matrix buffers of a voice's outputs.
// Audio thread (the voice's frame).
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/BusMeter.h"

namespace SN {

// One channel's past of one section.
struct SnBiquadMemory {
  float x1, x2, y1, y2;
};
static_assert(sizeof(SnBiquadMemory) == 16, "four floats per channel, side by side");

struct SnFilterParamState {
  float current;
  float target;
  uint8_t rampStep;         // 8 = not ramping
  uint8_t bypassCountdown;  // frames
  uint8_t changed;
  uint8_t first;            // no value applied yet
  uint8_t bypassed;
};

// Filter values at or below this are no filtering.
constexpr float kFilterOffValue = 0.1f;
constexpr uint8_t kFilterRampSteps = 8;
constexpr uint8_t kFilterTailFrames = 4;

class CSnVoiceFilter {
 public:
  // Both sections pass everything through until Init.
  CSnVoiceFilter();
  CSnVoiceFilter(const CSnVoiceFilter&) = delete;  // its memories may be its own
  CSnVoiceFilter& operator=(const CSnVoiceFilter&) = delete;

  // 1; 2 when the channel memories cannot be had (nothing is kept).
  SNRESULT Init(uint32_t channels, bool motion);
  // The next values apply at once, as at the start; the memories are cleared.
  void Reset();
  void Term();

  // The owner's new values (0 to 100; outside, clamped); a value that differs is taken at the next
  // Process.
  void SetLowPass(float value);
  void SetHighPass(float value);

  // The low-pass, then the high-pass, over `validFrames` of every channel; channels are planes
  // `planeFrames` apart. The first `unwritten` frames are silence not yet written: they are written
  // when the filters read them.
  void Process(float* samples, uint32_t planeFrames, uint32_t validFrames, uint32_t unwritten = 0);

  const SnFilterParamState& LowPassState() const { return m_lowPassState; }
  const SnFilterParamState& HighPassState() const { return m_highPassState; }
  const CSnBiquadRecord& LowPassRecord() const { return m_lowPass; }
  const CSnBiquadRecord& HighPassRecord() const { return m_highPass; }
  const SnBiquadMemory* LowPassMemory() const { return m_lowPassMemory; }

  // A run of one channel: one sample at a time to the first 16-byte boundary, the block form four at
  // a time with SSE, the rest one at a time. The plain form does the same without vectors and gives
  // the same results; the scalar form is the recursion alone. Any thread.
  static void FilterRun(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples, uint32_t count);
  static void FilterRunPlain(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples,
                             uint32_t count);
  static void FilterRunScalar(const CSnBiquadRecord& record, SnBiquadMemory& memory, float* samples,
                              uint32_t count);
  // The section for a 0 to 100 value, in double.
  static void DesignLowPass(CSnBiquadRecord& record, float value, bool motion);
  static void DesignHighPass(CSnBiquadRecord& record, float value, bool motion);

 private:
  // The unwritten opening silence of a frame, written when the filters will read it.
  [[gnu::noinline]] void WriteReadSilence(float* samples, uint32_t planeFrames, uint32_t validFrames,
                                          uint32_t unwritten);
  // A changed value taken: at once the first time, else the ramp or bypass it starts.
  void Settle(SnFilterParamState& state, CSnBiquadRecord& record, bool highPass);
  void RunStage(SnFilterParamState& state, CSnBiquadRecord& record, SnBiquadMemory* memory, bool highPass,
                float* samples, uint32_t planeFrames, uint32_t frames);
  void Design(CSnBiquadRecord& record, float value, bool highPass) const;

  CSnBiquadRecord m_lowPass;
  CSnBiquadRecord m_highPass;
  SnFilterParamState m_lowPassState;
  SnFilterParamState m_highPassState;
  uint32_t m_channels = 0;
  uint8_t m_motion = 0;
  SnBiquadMemory* m_lowPassMemory = nullptr;  // one per channel: in place up to kMemoryInPlace, else the pool
  SnBiquadMemory* m_highPassMemory = nullptr;
  // Mono and stereo voices, nearly all of them, keep both stages' memories here: a voice's start and
  // end cost no allocation for them.
  static constexpr uint32_t kMemoryInPlace = 2;
  alignas(16) SnBiquadMemory m_memoryInPlace[2 * kMemoryInPlace] = {};
};

namespace VoiceParams {

// One 16-byte-aligned block from the lower-engine pool: the current matrix, then the previous one,
// each `inputs` rows of ceil(outputs / 4) x 4 floats. Null when the pool is exhausted.
float* AllocMatrixPair(uint32_t inputs, uint32_t outputs);
void FreeMatrixPair(float* pair);

}  // namespace VoiceParams
}  // namespace SN
