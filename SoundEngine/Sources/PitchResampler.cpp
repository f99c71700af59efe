// Pitch to step, the ramp between steps, and the loop over the kernels.
#include "SoundEngine/Sources/PitchResampler.h"

#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Sources/MediaHeader.h"
#include "SoundEngine/Sources/ResampleKernels.h"

namespace SN {

SNRESULT CSnPitchResampler::AllocStore(uint32_t channels, bool isFloat) {
  FreeStore();
  m_inline = {};
  if (channels <= kInlineLastFrameChannels) return SN_Success;
  const size_t bytes = size_t(channels) * (isFloat ? sizeof(float) : sizeof(int16_t));
  m_pStore = MemoryMgr::Malign(g_DefaultPoolId, bytes, 16);
  if (!m_pStore) return SN_InsufficientMemory;
  memset(m_pStore, 0, bytes);
  m_storeOwned = 1;
  return SN_Success;
}

void CSnPitchResampler::FreeStore() {
  if (m_pStore && m_storeOwned) MemoryMgr::Falign(g_DefaultPoolId, m_pStore);
  m_pStore = nullptr;
  m_storeOwned = 0;
}

SNRESULT CSnPitchResampler::Init(const SnMediaFormat& format, uint32_t outputRate) {
  m_formatIndex = ResampleFormatIndex(format.BitsPerSample(), format.Channels());
  if (m_formatIndex == kNoKernelFormat || format.sampleRate == 0 || outputRate == 0) {
    SOUND_LOG(Error, "Resampler: no kernel reads %u-bit media of %u channels at %u Hz", format.BitsPerSample(),
              format.Channels(), format.sampleRate);
    m_formatIndex = kNoKernelFormat;
    return SN_MalformedMedia;
  }
  m_channels = uint8_t(format.Channels());
  m_channelConfig = format.channelConfig;
  m_blockAlign = uint8_t(format.BlockAlign());
  m_baseRatio = float(format.sampleRate) / float(outputRate);
  m_rampIncrement = 48000 / outputRate ? 48000 / outputRate : 1;
  m_inputOffset = m_outputOffset = 0;
  m_position = kUnitStep;
  m_currentStep = m_targetStep = kUnitStep;
  m_rampCounter = kRampLength;
  m_state = SnResample_None;
  m_firstPitch = 1;
  m_lastPitch = 0.0f;
  m_carriedPhase = 0;
  return AllocStore(m_channels, IsFloat());
}

uint32_t CSnPitchResampler::StepForCents(float cents) const {
  const double step = double(std::pow(2.0f, cents * 0.00083333335f)) * m_baseRatio * 65536.0 + 0.5;
  // A float out of range (or not a number) would be undefined as an integer: held to the steps the
  // kernels can take.
  if (!(step >= 1.0)) return 1;
  if (step >= double(kMaxStep)) return kMaxStep;
  return uint32_t(step);
}

void CSnPitchResampler::UpdateState() {
  if (m_currentStep == m_targetStep)
    m_state = m_currentStep == kUnitStep && !m_carriedPhase ? SnResample_None : SnResample_Fixed;
  else
    m_state = SnResample_Ramp;
}

void CSnPitchResampler::SetPitch(float cents, bool smooth) {
  if (m_firstPitch) {
    m_currentStep = m_targetStep = StepForCents(cents);
    m_rampCounter = kRampLength;
    m_firstPitch = 0;
    m_lastPitch = cents;
  } else if (cents != m_lastPitch) {
    if (m_state == SnResample_Ramp) {
      // Frozen where the ramp had got to.
      const int64_t from = m_currentStep, to = m_targetStep;
      m_currentStep = uint32_t(from + (to - from) * int64_t(m_rampCounter) / int64_t(kRampLength));
    }
    m_rampCounter = 0;
    m_carriedPhase = 0;  // pitched now: a later return to the unit step is a copy again
    m_targetStep = StepForCents(cents);
    m_lastPitch = cents;
    if (!smooth) {
      m_currentStep = m_targetStep;
      m_rampCounter = kRampLength;
    }
  }
  UpdateState();
}

void CSnPitchResampler::SetPitchImmediate(float cents) {
  if (m_firstPitch || cents != m_lastPitch) {
    m_currentStep = m_targetStep = StepForCents(cents);
    m_rampCounter = kRampLength;
    m_firstPitch = 0;
    m_lastPitch = cents;
  }
}

SNRESULT CSnPitchResampler::ChangeFormat(const SnMediaFormat& format, float cents, uint32_t outputRate) {
  const bool wasFloat = IsFloat();
  const uint32_t channels = m_channels;
  float saved[256];
  for (uint32_t c = 0; c < channels; ++c)
    saved[c] = wasFloat ? LastFrameFloat()[c] : float(LastFrame16()[c]) / 32768.0f;
  const uint32_t outputOffset = m_outputOffset, position = m_position;
  const SNRESULT result = Init(format, outputRate);
  if (result != SN_Success) return result;
  m_outputOffset = outputOffset;
  m_position = position;
  for (uint32_t c = 0; c < channels && c < m_channels; ++c) {
    if (IsFloat()) {
      LastFrameFloat()[c] = saved[c];
    } else {
      const float x = std::round(saved[c] * 32767.0f);
      LastFrame16()[c] = int16_t(x > 32767.0f ? 32767 : x < -32768.0f ? -32768 : int(x));
    }
  }
  // Off a resampled source the position rarely falls on the new one's first frame: a copy would drop
  // the step from the saved frame into it, and the phase. The unit step is then interpolated too.
  m_carriedPhase = position != kUnitStep;
  SetPitch(cents, false);
  return SN_Success;
}

SNRESULT CSnPitchResampler::Run(SnVoiceBuffer& input, SnVoiceBuffer& output) {
  if (input.validFrames == 0) return SN_NoMoreData;
  if (m_formatIndex == kNoKernelFormat) return SN_Failure;
  SNRESULT result = SNRESULT(43);
  for (;;) {
    const uint32_t before = input.validFrames, written = m_outputOffset;
    result = ResampleKernels().entries[m_state * 8 + m_formatIndex](input, output, m_requestedFrames, *this);
    if (m_state == SnResample_Ramp && m_rampCounter >= kRampLength) {
      m_currentStep = m_targetStep;
      m_state = SnResample_Fixed;
    }
    if (input.validFrames == 0 || m_outputOffset >= m_requestedFrames) break;
    // A pass that neither consumed nor produced would repeat for ever.
    if (input.validFrames == before && m_outputOffset == written) break;
  }
  return result;
}

void CSnPitchResampler::PassOver(SnVoiceBuffer& input, SnVoiceBuffer& output, uint32_t requested) {
  const uint32_t room = requested > m_outputOffset ? requested - m_outputOffset : 0;
  const uint32_t frames = room < input.validFrames ? room : input.validFrames;
  if (!frames) return;
  // The last frame taken is kept, as a run keeps it for the next buffer.
  const uint32_t last = m_inputOffset + frames - 1;
  if (IsFloat()) {
    const auto* planes = static_cast<const uint8_t*>(input.data);
    for (uint32_t c = 0; c < m_channels; ++c)
      memcpy(LastFrameFloat() + c, planes + (size_t(c) * input.maxFrames + last) * sizeof(float), sizeof(float));
  } else {
    const auto* frames16 = static_cast<const uint8_t*>(input.data) + size_t(last) * m_channels * sizeof(int16_t);
    memcpy(LastFrame16(), frames16, size_t(m_channels) * sizeof(int16_t));
  }
  m_position = kUnitStep;
  input.validFrames = uint16_t(input.validFrames - frames);
  m_inputOffset = input.validFrames ? m_inputOffset + frames : 0;
  m_outputOffset += frames;
  output.validFrames = uint16_t(m_outputOffset);
}

}  // namespace SN
