// The shared endpoint sink: lookup of the device by id and sharing in the factory, format
// negotiation, summing of the sharing devices' mixes, resampling and queueing.
#include "SoundEngine/Lower/Output/Platform/SharedEndpointSink.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Output/Platform/AudioEndpoints.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Sources/ResampleKernels.h"
#include "SoundEngine/Sources/VoiceBuffer.h"

namespace SN {
namespace {

SnChannelConfig ConfigForChannelCount(uint32_t channels) {
  switch (channels) {
    case 8: return StandardConfig(kMask71);
    case 6: return StandardConfig(kMask51);
    case 4: return StandardConfig(0x603);
    case 2: return StandardConfig(kMaskStereo);
    default: return AnonymousConfig(channels);
  }
}

float* AllocSamples(size_t floats) {
  auto* samples = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, floats * sizeof(float), 16));
  if (samples) std::memset(samples, 0, floats * sizeof(float));
  return samples;
}

// The sink of a device already playing this endpoint, or null.
CSnSharedEndpointSink* SinkPlaying(uint32_t endpointId) {
  for (CSnOutputDevice* d = LowerEngine::FirstOutputDevice(); d; d = d->Next()) {
    CSnSink* sink = d->Sink();
    if (d->State() != SnDeviceState::OwnSink || !sink || sink->Kind() != SnSinkKind_Endpoint) continue;
    auto* shared = static_cast<CSnSharedEndpointSink*>(sink);
    if (shared->EndpointId() == endpointId) return shared;
  }
  return nullptr;
}

}  // namespace

CSnSharedEndpointSink::~CSnSharedEndpointSink() {
  if (m_pOutput) Platform::CloseAudioQueueOutput(m_pOutput);
  if (m_pScratch) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pScratch);
}

SNRESULT CSnSharedEndpointSink::Init(const char* deviceName, uint32_t endpointId, SnChannelConfig config) {
  m_endpointId = endpointId;
  const uint32_t engineRate = LowerEngine::SampleRate();
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  // Asked as the settings say (stereo when they leave it open); the device may settle elsewhere.
  const uint32_t asked = ChannelCount(config) ? ChannelCount(config) : 2;
  // Slots beyond the buffers: the one the platform is part-way through, and one more.
  const uint32_t buffers = LowerEngine::PlatformSettings().sinkBufferCount & 0xFFFF;
  m_pOutput = Platform::OpenAudioQueueOutput(deviceName, engineRate, asked, samples, buffers + 2);
  if (!m_pOutput) return SN_Failure;
  // The format settled on decides everything below: channels, frame buffer, rate.
  m_channels = m_pOutput->Channels();
  if (m_channels == 0 || m_channels > kMaxFrameChannels) return SN_Failure;
  m_channelConfig = m_channels == asked && ChannelCount(config) ? config : ConfigForChannelCount(m_channels);
  const uint32_t deviceRate = m_pOutput->SampleRate();
  m_resampling = deviceRate != engineRate;
  m_unitFrames = samples;
  if (m_resampling) {
    // The frame as planar float media at the engine's rate, played at the device's by the sources'
    // fixed-step kernel. Its 16.16 step is within 1/65536 of a frame of the exact ratio: a device
    // asks for the frames it lacks, so the few millionths over or under never pile up.
    const SnMediaFormat planar{engineRate, m_channelConfig, SnMediaFormat::Word(32, 4 * m_channels, 1, true)};
    if (m_resampler.Init(planar, deviceRate) != SN_Success) return SN_Failure;
    m_resampler.SetPitch(0.0f, false);
    const uint64_t most = (uint64_t(samples) << 16) / m_resampler.m_currentStep + 2;
    if (most > 0xFFFF) return SN_Failure;
    m_unitFrames = uint32_t(most);
  }
  if (m_unitFrames > m_pOutput->UnitFrames()) return SN_Failure;
  m_bufferFrames = buffers * m_unitFrames;
  m_pScratch = AllocSamples(size_t(m_channels) * m_unitFrames);
  if (!m_pScratch) return SN_InsufficientMemory;
  m_pFrame = m_pScratch;
  const SNRESULT frame = AllocFrameBuffer(m_channelConfig);
  if (frame != SN_Success) return frame;
  return SN_Success;
}

void CSnSharedEndpointSink::Term(SnMemPoolId pool) {
  if (m_shareCount > 1) {
    --m_shareCount;
    // A countdown above the users left would skip the next frame and fold two into one after it.
    m_countdown = std::min(m_countdown, m_shareCount);
    return;
  }
  CSnSink::Term(pool);
}

SNRESULT CSnSharedEndpointSink::Play() { return m_pOutput && m_pOutput->Start() ? SN_Success : SN_Failure; }

SNRESULT CSnSharedEndpointSink::IsDataNeeded(uint32_t& frames) {
  frames = 0;
  if (!m_pOutput || m_pOutput->IsLost()) return SN_Failure;
  const uint32_t queued = m_pOutput->QueuedFrames();
  frames = queued < m_bufferFrames ? (m_bufferFrames - queued) / m_unitFrames : 0;
  return SN_Success;
}

const float* CSnSharedEndpointSink::MatrixFor(SnChannelConfig mixConfig) {
  if (m_matrixFor != mixConfig) {
    std::memset(m_matrix, 0, sizeof m_matrix);
    CSnSpeakerPan::Pan2D(0.5f, 1.0f, 1.0f, false, mixConfig, m_channelConfig, m_matrix);
    m_matrixFor = mixConfig;
  }
  return m_matrix;
}

const SnMixBuffer& CSnSharedEndpointSink::InSinkLayout(const SnMixBuffer& mix, float& previousGain, float& nextGain,
                                                       uint32_t frames) {
  if (mix.channelConfig == m_channelConfig) return mix;
  const float* matrix = MatrixFor(mix.channelConfig);
  MixKernels::AddWithMatrix(m_frameBuffer, mix, matrix, matrix, previousGain, nextGain, frames, true);
  previousGain = nextGain = 1.0f;
  return m_frameBuffer;
}

void CSnSharedEndpointSink::AddInterleaved(const SnMixBuffer& mix, float previousGain, float nextGain,
                                           uint32_t frames) {
  uint32_t planes[kMaxFrameChannels];
  MixKernels::ChannelPlaneOffsets(mix.channelConfig, mix.maxFrames, planes);
  const float step = (nextGain - previousGain) / float(frames);
  for (uint32_t t = 0; t < frames; ++t) {
    const float gain = previousGain + float(t) * step;
    float* frame = m_pFrame + size_t(t) * m_channels;
    for (uint32_t c = 0; c < m_channels; ++c) frame[c] += mix.samples[planes[c] + t] * gain;
  }
}

void CSnSharedEndpointSink::PassData(const SnMixBuffer& mix, float previousGain, float nextGain) {
  if (mix.validFrames == 0 || RefusesWiderMix(mix) || !m_frameBuffer.samples) return;
  const uint32_t frames = std::min<uint32_t>(mix.validFrames, m_frameBuffer.maxFrames);
  const bool first = m_framesPassed == 0;
  if (m_resampling) {
    // Summed planar for the kernel; the first share stores, so nothing needs clearing.
    const float* matrix = MatrixFor(mix.channelConfig);
    MixKernels::AddWithMatrix(m_frameBuffer, mix, matrix, matrix, previousGain, nextGain, frames, first);
  } else {
    // Straight into what the device is given: the first share interleaves, the others add.
    const SnMixBuffer& source = InSinkLayout(mix, previousGain, nextGain, frames);
    if (first) {
      m_pFrame = Destination();
      const SnGainRamp ramp{uint16_t(frames), 1.0f / float(frames)};
      MixKernels::InterleaveWithRamp(ramp, source, m_pFrame, previousGain, nextGain);
      if (frames < m_unitFrames)
        std::memset(m_pFrame + size_t(frames) * m_channels, 0, size_t(m_unitFrames - frames) * m_channels * sizeof(float));
    } else {
      AddInterleaved(source, previousGain, nextGain, frames);
    }
  }
  m_framesPassed = std::max(m_framesPassed, frames);
  m_dataPassed = true;
}

void CSnSharedEndpointSink::EndFrame() {
  if (m_countdown > 1) {
    --m_countdown;
    return;
  }
  CSnSink::EndFrame();
  m_countdown = m_shareCount;
}

float* CSnSharedEndpointSink::Destination() {
  float* slot = m_pOutput->Reserve();
  return slot ? slot : m_pScratch;
}

void CSnSharedEndpointSink::Hand(float* frame, uint32_t frames) {
  // The shares' sum and the resampler's output both go past full scale: held here, as the last step.
  FrameConvert::ClipToFullScale(frame, frame, size_t(frames) * m_channels);
  if (frame != m_pScratch) {
    m_pOutput->Commit(frames);
  } else if (!m_ringWasFull) {
    // Only a caller writing past the frames asked for gets here; the frame is dropped, not queued late.
    SOUND_LOG(Warning, "Shared endpoint output: the device's ring is full; a frame is dropped");
    m_ringWasFull = true;
  }
}

void CSnSharedEndpointSink::QueueResampled() {
  SnVoiceBuffer in;
  in.data = m_frameBuffer.samples;
  in.channelConfig = m_channelConfig;
  in.maxFrames = m_frameBuffer.maxFrames;
  in.validFrames = uint16_t(LowerEngine::SamplesPerFrame());
  // Resampled straight into the device's interleaved frames.
  float* frame = Destination();
  SnVoiceBuffer out;
  out.data = frame;
  out.channelConfig = m_channelConfig;
  out.maxFrames = uint16_t(m_unitFrames);
  m_resampler.ResetOffsets();
  if (ResampleFloatToInterleaved(in, out, m_unitFrames, m_resampler) == SN_Failure) return;
  Hand(frame, out.validFrames);
}

void CSnSharedEndpointSink::WriteFrame() {
  if (!m_resampling && m_framesPassed == 0) {
    WriteSilence();
    return;
  }
  if (m_resampling)
    QueueResampled();
  else
    Hand(m_pFrame, LowerEngine::SamplesPerFrame());
  m_pFrame = m_pScratch;
  m_framesPassed = 0;
  m_frameBuffer.validFrames = 0;
}

void CSnSharedEndpointSink::WriteSilence() {
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  if (m_resampling) {
    // Through the kernel, which carries its position and last frame from frame to frame.
    std::memset(m_frameBuffer.samples, 0, size_t(m_channels) * m_frameBuffer.maxFrames * sizeof(float));
    QueueResampled();
  } else {
    float* frame = Destination();
    std::memset(frame, 0, size_t(m_channels) * samples * sizeof(float));
    Hand(frame, samples);
  }
  m_framesPassed = 0;
}

uint32_t CSnSharedEndpointSink::GetWaitTime() {
  return 2 * (LowerEngine::SamplesPerFrame() * 1000 / LowerEngine::SampleRate());
}

CSnSink* CreateSharedEndpointSink(SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t deviceId) {
  // The main output plays the default device; the others the device whose name gives their id.
  std::string name;
  uint32_t endpointId = kNoDeviceId;
  if (sinkTypeWord & kSinkWordMain) {
    endpointId = DeviceIdOfName(Platform::DefaultAudioPlaybackDeviceName());
  } else {
    for (const std::string& candidate : Platform::AudioPlaybackDeviceNames()) {
      if (DeviceIdOfName(candidate) == deviceId) {
        name = candidate;
        endpointId = deviceId;
        break;
      }
    }
    if (endpointId == kNoDeviceId) return nullptr;
  }
  if (endpointId != kNoDeviceId) {
    if (CSnSharedEndpointSink* shared = SinkPlaying(endpointId)) {
      shared->AddShare();
      return shared;
    }
  }
  void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnSharedEndpointSink));
  if (!memory) return nullptr;
  auto* sink = new (memory) CSnSharedEndpointSink;
  const SNRESULT result = sink->Init(name.c_str(), endpointId, settings.channelConfig);
  if (result != SN_Success) {
    sink->Term(g_LEngineDefaultPoolId);
    return nullptr;
  }
  return sink;
}

}  // namespace SN
