// The source stage's resampler: a 16.16 position and step over the source's frames, the pitch turned
// into a step (fixed, or ramping over 1024 output samples at 48 kHz), the one frame kept between
// source buffers, and the choice of kernel for its state and the media format. Audio thread.
#pragma once

#include <cstdint>

#include "SoundEngine/Sources/VoiceBuffer.h"

namespace SN {

constexpr uint32_t kUnitStep = 0x10000;
constexpr uint32_t kRampLength = 1024;
constexpr uint32_t kMaxStep = 0x1000000;
constexpr uint32_t kInlineLastFrameChannels = 8;
constexpr uint8_t kNoKernelFormat = 0xFF;

enum SnResamplerState : uint32_t { SnResample_None = 0, SnResample_Fixed = 1, SnResample_Ramp = 2 };

// The kernels read and write it directly: it is the record they share with the resampler.
class CSnPitchResampler {
 public:
  CSnPitchResampler() = default;
  ~CSnPitchResampler() { FreeStore(); }
  CSnPitchResampler(const CSnPitchResampler&) = delete;
  CSnPitchResampler& operator=(const CSnPitchResampler&) = delete;

  // SN_MalformedMedia (7) for a format no kernel reads, SN_InsufficientMemory for the store of more
  // than 8 channels.
  SNRESULT Init(const SnMediaFormat& format, uint32_t outputRate);
  void SetPitch(float cents, bool smooth);
  void SetPitchImmediate(float cents);
  // A chained source of another format: the saved frame goes through float into the new sample type,
  // and the position carries on, also into a source at the output's own rate.
  SNRESULT ChangeFormat(const SnMediaFormat& format, float cents, uint32_t outputRate);
  // 45 output full, 43 input used up, 17 for an input with no frames.
  SNRESULT Run(SnVoiceBuffer& input, SnVoiceBuffer& output);
  // A copy (state 0) takes the input frames up to `requested` output frames without writing them:
  // the state and offsets move on as a run's would, the output's samples stay as they were.
  void PassOver(SnVoiceBuffer& input, SnVoiceBuffer& output, uint32_t requested);
  // Forgets the input and output progress (a seek or a voice going virtual).
  void ResetOffsets() {
    m_inputOffset = 0;
    m_outputOffset = 0;
  }

  // Step(c) = 2^(c / 1200) x base ratio x 65536, rounded, held to 1..0x1000000.
  uint32_t StepForCents(float cents) const;

  int16_t* LastFrame16() { return m_pStore ? static_cast<int16_t*>(m_pStore) : m_inline.s16; }
  float* LastFrameFloat() { return m_pStore ? static_cast<float*>(m_pStore) : m_inline.f32; }
  bool IsFloat() const { return m_formatIndex != kNoKernelFormat && m_formatIndex >= 4; }

  union {
    int16_t s16[kInlineLastFrameChannels];
    float f32[kInlineLastFrameChannels];
  } m_inline = {};
  void* m_pStore = nullptr;  // channels past 8: a block of the default pool
  uint32_t m_inputOffset = 0;
  uint32_t m_outputOffset = 0;
  uint32_t m_position = kUnitStep;
  uint32_t m_currentStep = kUnitStep;
  uint32_t m_targetStep = kUnitStep;
  uint32_t m_rampCounter = kRampLength;
  uint32_t m_rampIncrement = 1;
  uint32_t m_requestedFrames = 0;
  uint32_t m_storeOwned = 0;
  uint32_t m_state = SnResample_None;
  float m_baseRatio = 1.0f;
  float m_lastPitch = 0.0f;
  uint8_t m_formatIndex = kNoKernelFormat;
  uint8_t m_channels = 0;
  uint8_t m_blockAlign = 0;
  uint8_t m_firstPitch = 1;
  // A chained source at the unit step that goes on from a position between frames: stepped, not
  // copied, until its pitch changes.
  uint8_t m_carriedPhase = 0;
  SnChannelConfig m_channelConfig = 0;

 private:
  SNRESULT AllocStore(uint32_t channels, bool isFloat);
  void FreeStore();
  void UpdateState();
};

}  // namespace SN
