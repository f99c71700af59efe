// The source stage's frame: pitch, fetch, initial silence, seek remainder, resampling, markers and
// position, the end of a source and the chaining of the next.
#include "SoundEngine/Sources/VoiceSourceStage.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Modulators/ModulatorInstanceList.h"
#include "SoundEngine/Sources/ModulatorGain.h"
#include "SoundEngine/Sources/ResampleKernels.h"

namespace SN {

namespace {
constexpr SNRESULT kNeedsData = SNRESULT(43);
// A source that keeps giving buffers with nothing in them is not asked for ever within one frame.
constexpr int kMostFetchesPerFrame = 64;
// The volume modulators of each kind a frame applies; more on one voice than this are left out.
constexpr uint32_t kMostGainModulators = 16;

uint32_t RoundHalfAway(double x) { return x <= 0.0 ? 0 : uint32_t(x + 0.5); }
}  // namespace

SNRESULT CSnVoiceSourceStage::Init(CSnVoiceSource* source, const SnMediaFormat& format, ISnSourceInstance* instance,
                                   uint32_t outputRate) {
  m_pSource = source;
  m_pInstance = instance;
  m_format = format;
  m_outputRate = outputRate;
  m_endReached = 0;
  m_lastFramePlayed = 0;
  m_initialOffsetPending = 1;
  m_frameDelivered = 0;
  return m_resampler.Init(format, outputRate);
}

void CSnVoiceSourceStage::AttachNext(CSnVoiceSource* source, ISnSourceInstance* instance) {
  m_pNextSource = source;
  m_pNextInstance = instance;
  m_nextRefused = 0;
  // A hand-over inside a frame of three or more channels may reorder what the frame already holds
  // (ChainNextSource): its copy is made room for now, not in the middle of the audio pass.
  const uint32_t channels = ChannelCount(m_format.channelConfig);
  if (source && channels >= 3) {
    const uint32_t frames = std::max<uint32_t>(m_output.maxFrames, LowerEngine::SamplesPerFrame());
    if (!Scratch(size_t(frames) * channels))
      SOUND_LOG(Error, "No memory to hand a voice of %u channels on to its next source", channels);
  }
}

float* CSnVoiceSourceStage::Scratch(size_t floats) {
  if (floats <= m_scratchFloats) return m_pScratch;
  if (m_pScratch) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pScratch);
  m_pScratch = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
  m_scratchFloats = m_pScratch ? floats : 0;
  return m_pScratch;
}

void CSnVoiceSourceStage::ApplyModulatorGain(const CSnModulatorInstanceList* set, SnVoiceBuffer& out) {
  const bool ramps = m_frameDelivered;
  m_frameDelivered = 1;
  if (!set || !set->HasRecord() || !out.data || !out.validFrames) return;
  const SnParamMask volume = SnParamMask::Of(kVoiceVolumeParameter);
  uint32_t buffered = 0, scalar = 0;
  set->CountModulations(volume, buffered, scalar);
  if (!buffered && !scalar) return;
  float* samples = static_cast<float*>(out.data);
  const uint32_t channels = ChannelCount(out.channelConfig);
  // The silence a voice begun inside the frame opens with stays silence, written or not.
  const uint32_t first = std::min<uint32_t>(m_leadingSilence, out.validFrames);
  if (m_pInstance && m_pInstance->IsMotion()) {
    // A frame of the reduced-rate output is not the modulators' frame: one gain for all of it.
    const float gain = set->GetFactorWithBuffers(volume);
    ApplyGainOrRamp(samples, out.maxFrames, channels, first, out.validFrames, out.maxFrames, gain, gain);
    return;
  }
  SnModulatorBuffer buffers[kMostGainModulators];
  SnModulatorRamp rampList[kMostGainModulators];
  uint32_t bufferCount = kMostGainModulators, rampCount = kMostGainModulators;
  set->CollectModulations(volume, buffers, bufferCount, rampList, rampCount);
  ApplyAudioRateGains(samples, out.maxFrames, channels, first, out.validFrames, buffers, bufferCount);
  for (uint32_t r = 0; r < rampCount; ++r) {
    const SnModulatorRamp& ramp = rampList[r];
    ApplyGainOrRamp(samples, out.maxFrames, channels, first, out.validFrames, out.maxFrames,
                    ramps ? ramp.from : ramp.to, ramp.to);
  }
}

uint32_t CSnVoiceSourceStage::FramesPerBuffer() const {
  return m_pInstance && m_pInstance->IsMotion() ? 8 : LowerEngine::SamplesPerFrame();
}

uint32_t CSnVoiceSourceStage::InitialSilence(uint32_t requested) const {
  if (!m_pInstance->HasInitialOffset()) return 0;
  // Counted against the frames asked for: a whole frame, or the rest of one a predecessor ended in.
  const double rate = m_pInstance->RateFactor() > 0.0f ? m_pInstance->RateFactor() : 1.0f;
  const uint32_t silence = RoundHalfAway((double(requested) * rate + m_pInstance->InitialOffset()) / rate);
  assert(silence <= requested && "an initial offset stays inside its first frame");
  return silence < requested ? silence : requested;
}

uint32_t CSnVoiceSourceStage::FramesToAsk() const {
  const uint32_t most = FramesPerBuffer();
  // Through the resampler, or with frames to drop first, the input a frame takes is not known ahead.
  if (m_resampler.m_state != SnResample_None || m_pInstance->Seek().framesToDrop) return most;
  const uint32_t requested = m_resampler.m_requestedFrames;
  uint32_t written = m_resampler.m_outputOffset;
  if (m_initialOffsetPending) written += InitialSilence(requested);
  if (written >= requested) return most;
  return requested - written < most ? requested - written : most;
}

SNRESULT CSnVoiceSourceStage::UpdatePitchAndFetch(SnVoiceBuffer& out) {
  m_resampler.m_requestedFrames = out.maxFrames;
  m_positionCaptured = 0;
  m_leadingSilence = 0;
  m_resampler.SetPitch(m_pSource->GetPitch(), !m_pInstance->PitchImmediate());
  if (m_input.validFrames) return Fetch(nullptr, out);
  if (m_endReached) return !m_lastFramePlayed ? Fetch(nullptr, out) : Deliver(SN_NoMoreData, out);
  return kNeedsData;
}

SNRESULT CSnVoiceSourceStage::RunFrame(SnVoiceBuffer& out) {
  const SNRESULT result = FillFrame(out);
  if (result == SN_NoDataReady) {
    if (!KeepCarriedOutput()) {
      out.result = SN_Failure;
      return SN_Failure;
    }
    // The frame comes out whole later, its opening silence read as samples.
    if (m_leadingSilence && m_soundingPartOnly) WriteSilence(m_leadingSilence);
  }
  return result;
}

SNRESULT CSnVoiceSourceStage::FillFrame(SnVoiceBuffer& out) {
  SNRESULT result = UpdatePitchAndFetch(out);
  for (int fetches = 0; result == kNeedsData; ++fetches) {
    if (fetches == kMostFetchesPerFrame) return SN_NoDataReady;
    if (m_input.validFrames) {
      result = Fetch(nullptr, out);
      continue;
    }
    SnVoiceBuffer fresh;
    fresh.maxFrames = uint16_t(FramesToAsk());
    m_pSource->GetBuffer(fresh);
    if (fresh.result == SN_NoDataReady && fresh.validFrames == 0) {
      m_pSource->ReleaseBuffer();
      return SN_NoDataReady;  // starvation: the pipeline reports it and the voice is silent
    }
    if (fresh.result != SN_DataReady && fresh.result != SN_NoMoreData) {
      fresh.FreeMarkers();
      m_pSource->ReleaseBuffer();
      out.result = SN_Failure;
      return SN_Failure;
    }
    result = Fetch(&fresh, out);
  }
  return result;
}

SNRESULT CSnVoiceSourceStage::Fetch(SnVoiceBuffer* input, SnVoiceBuffer& out) {
  if (input) {
    if (input->result == SN_NoMoreData) m_endReached = 1;
    if (m_input.validFrames == 0) {
      if (input->validFrames == 0) {
        input->FreeMarkers();
        m_pSource->ReleaseBuffer();
        if (!m_endReached) return kNeedsData;
      } else {
        m_input = *input;
        m_resampler.m_inputOffset = 0;
      }
    }
  }
  const uint32_t requested = m_resampler.m_requestedFrames;
  if (!m_output.maxFrames || m_output.maxFrames < requested) {
    FreeOwnOutput();
    m_output.data = nullptr;
    m_output.channelConfig = m_input.validFrames ? m_input.channelConfig : m_format.channelConfig;
    m_output.maxFrames = m_output.validFrames = 0;
    if (requested == 0 || ChannelCount(m_output.channelConfig) == 0) {
      out.result = SN_Failure;
      return SN_Failure;
    }
    m_output.maxFrames = uint16_t(requested);
    m_resampler.m_outputOffset = 0;
  }
  if (PlaceOutput() != SN_Success) {
    out.result = SN_Failure;
    return SN_Failure;
  }
  if (m_initialOffsetPending) {
    m_initialOffsetPending = 0;
    if (const uint32_t silence = InitialSilence(requested)) {
      if (!m_soundingPartOnly) WriteSilence(silence);
      m_resampler.m_outputOffset = silence;
      m_leadingSilence = uint16_t(silence);
    }
  }
  SnSeekRequest& seek = m_pInstance->Seek();
  if (seek.framesToDrop && !seek.pending && m_input.validFrames) {
    if (seek.framesToDrop >= m_input.validFrames) {
      seek.framesToDrop -= m_input.validFrames;
      ReleaseInput();
      return m_endReached ? (m_pNextSource ? ChainNextSource() : Deliver(SN_NoMoreData, out)) : kNeedsData;
    }
    m_resampler.m_inputOffset += seek.framesToDrop;
    m_input.validFrames = uint16_t(m_input.validFrames - seek.framesToDrop);
    seek.framesToDrop = 0;
  }
  SNRESULT result = kNeedsData;
  if (m_input.validFrames) {
    CapturePosition();
    const uint32_t inputBefore = m_resampler.m_inputOffset, outputBefore = m_resampler.m_outputOffset;
    const uint32_t positionBefore = m_resampler.m_state == SnResample_None ? kUnitStep : m_resampler.m_position;
    // Only where the voice reads its frames whole is a copy made past a stop inside the frame.
    const int32_t stopAt =
        m_soundingPartOnly && m_resampler.m_state == SnResample_None ? m_pInstance->StopOffset() : -1;
    result = stopAt >= 0 && uint32_t(stopAt) < m_resampler.m_requestedFrames ? CopyToStop(uint32_t(stopAt))
                                                                              : m_resampler.Run(m_input, m_output);
    MoveMarkers(inputBefore, outputBefore, positionBefore);
  }
  if (m_input.validFrames == 0) {
    ReleaseInput();
    if (m_endReached) {
      if (m_pNextSource && !m_nextRefused) {
        result = ChainNextSource();
        if (result == kNeedsData) return kNeedsData;
        if (result != SN_DataReady && result != SN_NoMoreData) {
          out.result = result;
          return result;
        }
      }
      // Not handed on: this source's play ends, then lets its successor go.
      if (m_endReached) {
        result = PlayOutLastFrame();
        if (result == SN_NoMoreData && m_pNextSource) LetNextGo();
      }
    } else if (result == kNeedsData) {
      return kNeedsData;
    }
  } else if (result == kNeedsData) {
    return kNeedsData;
  }
  return Deliver(result, out);
}

SNRESULT CSnVoiceSourceStage::PlayOutLastFrame() {
  // Resampled, a source's last frame is held back as the start of the step to the frame after it, so
  // the outputs from it onward (four of them for 12 kHz at 48 kHz) come only with a frame that follows.
  // After the end silence follows: the held frame leads down to it, and the voice lasts its duration.
  // A copy has nothing held back.
  if (m_lastFramePlayed || m_resampler.m_state == SnResample_None) {
    m_lastFramePlayed = 1;
    return SN_NoMoreData;
  }
  // One frame of zeros in either sample form: 16-bit interleaved or one float a plane.
  static const float kSilentFrame[256] = {};
  SnVoiceBuffer silence;
  silence.data = const_cast<float*>(kSilentFrame);
  silence.channelConfig = m_format.channelConfig;
  silence.maxFrames = silence.validFrames = 1;
  m_resampler.m_inputOffset = 0;
  m_resampler.Run(silence, m_output);
  m_resampler.m_inputOffset = 0;
  if (silence.validFrames) return SN_DataReady;  // the output filled first: the rest in the next frame
  m_lastFramePlayed = 1;
  return SN_NoMoreData;
}

SNRESULT CSnVoiceSourceStage::CopyToStop(uint32_t stopAt) {
  // The input past the stop is taken as a full frame would take it (its markers, the position after
  // it), but nobody reads its samples: they are not converted.
  const uint32_t requested = m_resampler.m_requestedFrames;
  if (stopAt > m_resampler.m_outputOffset) {
    m_resampler.m_requestedFrames = stopAt;
    m_resampler.Run(m_input, m_output);
    m_resampler.m_requestedFrames = requested;
  }
  m_resampler.PassOver(m_input, m_output, requested);
  return m_resampler.m_outputOffset >= requested ? SN_DataReady : kNeedsData;
}

void CSnVoiceSourceStage::WriteSilence(uint32_t frames) {
  const uint32_t channels = ChannelCount(m_output.channelConfig);
  if (NeedsDeinterleave())
    memset(m_output.data, 0, size_t(frames) * channels * sizeof(float));
  else
    for (uint32_t c = 0; c < channels; ++c) memset(m_output.Plane(c), 0, frames * sizeof(float));
}

SNRESULT CSnVoiceSourceStage::PlaceOutput() {
  if (m_pOwnOutput && m_resampler.m_outputOffset) return SN_Success;
  const size_t floats = size_t(m_output.maxFrames) * ChannelCount(m_output.channelConfig);
  if (float* shared = SharedFrameBlock(floats)) {
    FreeOwnOutput();
    m_output.data = shared;
    return SN_Success;
  }
  if (!m_pOwnOutput)
    m_pOwnOutput = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
  m_output.data = m_pOwnOutput;
  return m_pOwnOutput ? SN_Success : SN_InsufficientMemory;
}

bool CSnVoiceSourceStage::KeepCarriedOutput() {
  if (!m_resampler.m_outputOffset || !m_output.data || m_output.data == m_pOwnOutput) return true;
  const size_t floats = size_t(m_output.maxFrames) * ChannelCount(m_output.channelConfig);
  m_pOwnOutput = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
  if (!m_pOwnOutput) {
    SOUND_LOG(Error, "No memory to keep a voice's unfinished frame; the voice ends");
    return false;
  }
  memcpy(m_pOwnOutput, m_output.data, floats * sizeof(float));
  m_output.data = m_pOwnOutput;
  return true;
}

void CSnVoiceSourceStage::FreeOwnOutput() {
  if (m_pOwnOutput) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pOwnOutput);
  if (m_output.data == m_pOwnOutput) m_output.data = nullptr;
  m_pOwnOutput = nullptr;
}

void CSnVoiceSourceStage::CapturePosition() {
  if (m_positionCaptured) return;
  m_positionCaptured = 1;
  m_position = SnBufferPosition{};
  if (m_input.position.position == kNoPosition) return;
  m_position.position = m_input.position.position + m_resampler.m_inputOffset;
  m_position.rateFactor = float(m_resampler.m_currentStep) / 65536.0f / m_resampler.m_baseRatio;
  m_position.totalLength = m_input.position.totalLength;
  m_position.sampleRate = m_input.position.sampleRate;
}

void CSnVoiceSourceStage::MoveMarkers(uint32_t inputBefore, uint32_t outputBefore, uint32_t positionBefore) {
  if (!m_input.markerCount) return;
  const uint32_t consumedTo = m_input.validFrames ? m_resampler.m_inputOffset : 0xFFFFFFFFu;
  const uint32_t step = m_resampler.m_currentStep ? m_resampler.m_currentStep : kUnitStep;
  for (uint16_t i = 0; i < m_input.markerCount; ++i) {
    SnMarkerNotification marker = m_input.markers[i];
    if (marker.offset < inputBefore || marker.offset >= consumedTo) continue;
    // The first output at or past the marker's frame, x[j + 1] counted from the position the run began at.
    const int64_t distance = (int64_t(marker.offset - inputBefore) + 1) * kUnitStep - int64_t(positionBefore);
    uint64_t at = outputBefore + uint64_t(distance > 0 ? (distance + step - 1) / step : 0);
    if (m_resampler.m_outputOffset && at >= m_resampler.m_outputOffset) at = m_resampler.m_outputOffset - 1;
    marker.offset = uint32_t(at);
    auto* grown = static_cast<SnMarkerNotification*>(
        MemoryMgr::Malloc(g_DefaultPoolId, sizeof(SnMarkerNotification) * (m_markerCount + 1u)));
    if (!grown) continue;  // the marker is lost rather than the voice
    if (m_markerCount) memcpy(grown, m_pMarkers, sizeof(SnMarkerNotification) * m_markerCount);
    if (m_pMarkers) MemoryMgr::Free(g_DefaultPoolId, m_pMarkers);
    m_pMarkers = grown;
    m_pMarkers[m_markerCount++] = marker;
  }
}

SNRESULT CSnVoiceSourceStage::Deliver(SNRESULT result, SnVoiceBuffer& out) {
  uint32_t frames = m_resampler.m_outputOffset;
  // A play told to stop inside this frame gives the frames before its stop and ends there.
  if (const int32_t stopAt = m_pInstance ? m_pInstance->StopOffset() : -1; stopAt >= 0) {
    if (uint32_t(stopAt) < frames) frames = uint32_t(stopAt);
    result = SN_NoMoreData;
  }
  if (frames && NeedsDeinterleave()) {
    const uint32_t channels = ChannelCount(m_output.channelConfig);
    float* scratch = Scratch(size_t(m_output.maxFrames) * channels);
    if (!scratch) {
      out.result = SN_Failure;
      return SN_Failure;
    }
    memcpy(scratch, m_output.data, size_t(frames) * channels * sizeof(float));
    DeinterleaveToPlanar(scratch, static_cast<float*>(m_output.data), frames, m_output.channelConfig,
                         m_output.maxFrames);
  }
  out.data = m_output.data;
  out.channelConfig = m_output.channelConfig;
  out.maxFrames = m_output.maxFrames;
  out.validFrames = uint16_t(frames);
  out.markers = m_pMarkers;
  out.markerCount = m_markerCount;
  out.position = m_position;
  out.result = result;
  m_pMarkers = nullptr;
  m_markerCount = 0;
  m_resampler.m_outputOffset = 0;
  m_output.validFrames = 0;
  return result;
}

bool CSnVoiceSourceStage::CountWaitFrom(ISnSourceInstance& next, uint32_t frames) {
  if (!next.HasInitialOffset() || next.InitialOffset() <= 0) return false;
  // A wait shorter than the frames leaves the offset at or below 0, which makes the successor, asked
  // for just those frames, open with the silence left of its wait.
  const double rate = next.RateFactor() > 0.0f ? next.RateFactor() : 1.0f;
  next.SetInitialOffset(next.InitialOffset() - int32_t(RoundHalfAway(double(frames) * rate)));
  return next.InitialOffset() > 0;
}

void CSnVoiceSourceStage::LetNextGo() {
  // A successor that waits counts its wait from this source's last output: the rest of this frame
  // is part of it.
  CountWaitFrom(*m_pNextInstance, m_resampler.m_requestedFrames - m_resampler.m_outputOffset);
  m_pNextSource = nullptr;
  m_pNextInstance = nullptr;
  m_nextRefused = 0;
}

SNRESULT CSnVoiceSourceStage::ChainNextSource() {
  CSnVoiceSource* next = m_pNextSource;
  ISnSourceInstance* nextInstance = m_pNextInstance;
  // A successor that waits, is not ready, or has another layout is not taken over: this source ends
  // (its last frame played out) and the successor begins on its own. Decided once.
  m_nextRefused = 1;
  if (nextInstance->HasInitialOffset() && nextInstance->InitialOffset() > 0) return SN_NoMoreData;
  if (!next->IsPrepared()) {
    const SNRESULT prepared = next->PrepareSource();
    if (prepared == SN_NotReadyYet) return SN_NoMoreData;
    if (prepared != SN_Success) return SN_Failure;
  }
  const SnMediaFormat format = next->MediaFormat();
  if (format.channelConfig != m_format.channelConfig) return SN_NoMoreData;
  m_nextRefused = 0;
  const bool wasInterleaved = NeedsDeinterleave();
  const uint32_t written = m_resampler.m_outputOffset;
  // The copy a reorder reads from: made room for when the successor was attached.
  const uint32_t channels = ChannelCount(m_output.channelConfig);
  const size_t floats = size_t(m_output.maxFrames) * channels;
  float* copy = written && channels >= 3 ? Scratch(floats) : nullptr;
  if (written && channels >= 3 && !copy) {
    SOUND_LOG(Error, "No memory to hand a voice of %u channels on to its next source", channels);
    return SN_Failure;
  }
  const SNRESULT changed = m_resampler.ChangeFormat(format, next->GetPitch(), m_outputRate);
  if (changed != SN_Success) return SN_Failure;
  m_resampler.SetPitch(next->GetPitch(), false);
  const bool nowInterleaved = NeedsDeinterleave();
  if (written && wasInterleaved != nowInterleaved) {
    // The part of this frame already written changes order with the need for the final de-interleave.
    memcpy(copy, m_output.data, floats * sizeof(float));
    if (wasInterleaved)
      DeinterleaveToPlanar(copy, static_cast<float*>(m_output.data), written, m_output.channelConfig,
                           m_output.maxFrames);
    else
      InterleaveFromPlanar(copy, static_cast<float*>(m_output.data), written, m_output.channelConfig,
                           m_output.maxFrames);
  }
  if (m_pInstance->TracksPlayPosition()) m_pInstance->RemovePlayPositionEntry();
  m_pSource->StopStream();
  m_pFinishedSource = m_pSource;
  m_pSource = next;
  m_pInstance = nextInstance;
  m_format = format;
  m_pNextSource = nullptr;
  m_pNextInstance = nullptr;
  m_endReached = 0;
  m_lastFramePlayed = 0;
  NotifyDuration();
  return m_resampler.m_outputOffset >= m_resampler.m_requestedFrames ? SN_DataReady : kNeedsData;
}

SNRESULT CSnVoiceSourceStage::SkipWhileVirtual(uint32_t& frames) {
  m_resampler.SetPitchImmediate(m_pSource->GetPitch());
  const uint32_t step = m_resampler.m_currentStep ? m_resampler.m_currentStep : kUnitStep;
  // A play that comes due inside this frame lets the silence before its first sample pass first, as
  // its first heard frame would have opened with it.
  uint32_t silence = 0;
  if (m_initialOffsetPending) {
    m_initialOffsetPending = 0;
    silence = InitialSilence(frames);
  }
  uint64_t wanted = uint64_t(double(step) / 65536.0 * (frames - silence) + 0.5);
  uint64_t taken = 0;
  while (wanted > 0) {
    if (m_input.validFrames == 0 && m_skipHeld == 0) {
      if (m_endReached) break;
      // Only the source frames still wanted: frames skipped past them would be lost on coming back.
      uint32_t granted = uint32_t(wanted < 0xFFFFFFFFu ? wanted : 0xFFFFFFFFu);
      const SNRESULT skipped = m_pSource->SkipFrames(granted);
      if (skipped == SN_NoMoreData)
        m_endReached = 1;
      else if (skipped != SN_DataReady)
        return skipped;
      SnSeekRequest& seek = m_pInstance->Seek();
      if (!seek.pending && seek.framesToDrop) {
        granted -= seek.framesToDrop < granted ? seek.framesToDrop : granted;
        seek = SnSeekRequest{};
      }
      m_skipHeld = granted;
      if (granted == 0 && !m_endReached) break;  // the source gave nothing: no progress to wait for
      continue;
    }
    uint32_t take = uint32_t(wanted < m_input.validFrames ? wanted : m_input.validFrames);
    if (take) {
      m_input.validFrames = uint16_t(m_input.validFrames - take);
      m_resampler.m_inputOffset += take;
      if (m_input.validFrames == 0) ReleaseInput();
    } else {
      take = uint32_t(wanted < m_skipHeld ? wanted : m_skipHeld);
      m_skipHeld -= take;
    }
    wanted -= take;
    taken += take;
    if (m_endReached && m_input.validFrames == 0 && m_skipHeld == 0) break;
  }
  frames = silence + uint32_t(double(taken) * 65536.0 / step + 0.5);
  return m_endReached && m_input.validFrames == 0 && m_skipHeld == 0 ? SN_NoMoreData : SN_DataReady;
}

int64_t CSnVoiceSourceStage::FramesLeft() const {
  if (!m_pSource) return -1;
  int64_t input = 0;
  if (!m_endReached) {
    input = m_pSource->FramesLeft();
    if (input < 0) return -1;
  }
  input += m_input.validFrames;
  if (m_resampler.m_state == SnResample_None) return input;
  // A step of 16.16 source frames per output frame; the fraction already stepped into the next
  // source frame is not heard again.
  const uint64_t step = m_resampler.m_currentStep ? m_resampler.m_currentStep : kUnitStep;
  return int64_t((uint64_t(input) * kUnitStep + step - 1) / step);
}

void CSnVoiceSourceStage::NotifyDuration() {
  const float duration = m_pSource->IsPrepared() ? m_pSource->GetDuration() : 0.0f;
  const float estimated = duration / std::pow(2.0f, m_pSource->GetPitch() * 0.00083333335f);
  m_pInstance->PostDuration(duration, estimated);
  if (m_pInstance->TracksPlayPosition()) m_pInstance->AddPlayPositionEntry();
}

void CSnVoiceSourceStage::VirtualOn(uint32_t mode) {
  m_frameDelivered = 0;
  if (mode != 2) {
    ReleaseInput();
    m_skipHeld = 0;
    m_resampler.ResetOffsets();
    if (mode == 0) m_endReached = m_lastFramePlayed = 0;
  }
  if (!m_endReached) m_pSource->VirtualOn(mode);
}

void CSnVoiceSourceStage::VirtualOff(uint32_t mode) {
  if (mode == 1) {
    ReleaseInput();
    m_skipHeld = 0;
    // Going on from a seek, the resampler starts afresh there as any seek has it do.
    if (m_pInstance->Seek().pending) m_resampler.ResetOffsets();
  }
  if (!m_endReached) m_pSource->VirtualOff(mode, m_pInstance->Seek().pending);
}

void CSnVoiceSourceStage::Seek() {
  ReleaseInput();
  m_skipHeld = 0;
  m_resampler.ResetOffsets();
  if (!m_endReached) m_pSource->ApplyPendingSeek();
}

void CSnVoiceSourceStage::RelocateInput(const uint8_t* newBase, const uint8_t* oldBase, uint32_t size) {
  // PCM in memory hands out buffers inside its media; decoded and streamed buffers lie elsewhere.
  const auto at = reinterpret_cast<uintptr_t>(m_input.data), from = reinterpret_cast<uintptr_t>(oldBase);
  if (!m_input.data || at < from || at - from >= size) return;
  m_input.data = const_cast<uint8_t*>(newBase) + (at - from);
}

void CSnVoiceSourceStage::ReleaseInput() {
  if (m_input.data || m_input.markers) {
    m_input.FreeMarkers();
    if (m_pSource) m_pSource->ReleaseBuffer();
  }
  m_input = SnVoiceBuffer{};
  m_resampler.m_inputOffset = 0;
}

void CSnVoiceSourceStage::Stop() {
  ReleaseInput();
  if (m_pInstance && m_pInstance->TracksPlayPosition()) m_pInstance->RemovePlayPositionEntry();
  if (m_pSource) m_pSource->StopStream();
}

void CSnVoiceSourceStage::Release() {
  ReleaseInput();
  FreeOwnOutput();
  m_output.data = nullptr;
  m_output.maxFrames = m_output.validFrames = 0;
  if (m_pScratch) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pScratch);
  m_pScratch = nullptr;
  m_scratchFloats = 0;
  if (m_pMarkers) MemoryMgr::Free(g_DefaultPoolId, m_pMarkers);
  m_pMarkers = nullptr;
  m_markerCount = 0;
}

}  // namespace SN
