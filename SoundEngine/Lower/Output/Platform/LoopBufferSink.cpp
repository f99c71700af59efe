// The platform sink over the looping 16-bit output: format fallback, cursor check with starvation,
// one fused conversion of each frame.
#include "SoundEngine/Lower/Output/Platform/LoopBufferSink.h"

#include <cstring>
#include <new>
#include <string>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Mixing/FrameConvert.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN {
namespace {

// Bytes of ring per channel for each sink buffer the platform settings ask for.
constexpr uint32_t kRingBytesPerChannel = 2048;

uint32_t MaskForChannelCount(uint32_t channels) {
  if (channels >= 8) return kMask71;
  if (channels >= 6) return kMask51;
  return kMaskStereo;
}

// Said once until an output opens again: a missing device is retried every few frames.
bool& OpenFailureSaid() {
  static bool said = false;
  return said;
}

}  // namespace

CSnLoopBufferSink::~CSnLoopBufferSink() {
  if (m_pOutput) Platform::CloseAudioOutput(m_pOutput);
  if (m_pScratch) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_pScratch);
}

uint32_t CSnLoopBufferSink::RingBytes() const { return m_pOutput ? m_pOutput->RingBytes() : 0; }

bool CSnLoopBufferSink::OpenOutput(uint32_t channelMask) {
  const uint32_t channels = MaskChannelCount(channelMask);
  const uint32_t frames = LowerEngine::SamplesPerFrame();
  const uint32_t frameBytes = channels * frames * 2;
  const uint32_t buffers = LowerEngine::PlatformSettings().sinkBufferCount & 0xFFFF;
  // Whole frames only: a frame is written in one piece and never split at the ring's end.
  const uint32_t asked = buffers * channels * kRingBytesPerChannel;
  const uint32_t ringBytes = (asked + frameBytes - 1) / frameBytes * frameBytes;
  m_pOutput = Platform::OpenAudioOutput(LowerEngine::SampleRate(), channels, frames, ringBytes);
  if (!m_pOutput) return false;
  m_channelConfig = StandardConfig(channelMask);
  m_blockAlign = channels * 2;
  return true;
}

SNRESULT CSnLoopBufferSink::Init(uint32_t channelMask) {
  if (channelMask == 0) channelMask = MaskForChannelCount(Platform::DefaultAudioOutputChannels());
  if (channelMask != kMask71 && channelMask != kMask51 && channelMask != kMaskStereo) channelMask = kMaskStereo;
  while (!OpenOutput(channelMask)) {
    if (channelMask == kMaskStereo) return SN_Failure;
    channelMask = channelMask == kMask71 ? kMask51 : kMaskStereo;
  }
  const uint32_t frameBytes = m_blockAlign * LowerEngine::SamplesPerFrame();
  m_pScratch = static_cast<int16_t*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, frameBytes, 16));
  if (!m_pScratch) return SN_InsufficientMemory;
  // The ring's zeros are played first, as if written: the first frames go in behind them.
  m_streamEnd = m_pOutput->RingBytes();
  return AllocFrameBuffer(m_channelConfig);
}

SNRESULT CSnLoopBufferSink::Play() { return m_pOutput && m_pOutput->Start() ? SN_Success : SN_Failure; }

SNRESULT CSnLoopBufferSink::IsDataNeeded(uint32_t& frames) {
  frames = 0;
  uint32_t play = 0, write = 0;
  if (!m_pOutput || !m_pOutput->GetCursors(play, write)) return SN_Failure;
  const uint64_t size = m_pOutput->RingBytes();
  const uint64_t frameBytes = uint64_t(m_blockAlign) * LowerEngine::SamplesPerFrame();
  const uint64_t played = m_pOutput->PlayedBytes();
  if (played > m_streamEnd) {
    // Overtaken: the platform played the ring's cleared bytes past our last frame. New frames go
    // in a whole frame past where it now reads, never behind it where they would wait a ring.
    m_starved = true;
    m_streamEnd = (played + m_blockAlign + frameBytes - 1) / frameBytes * frameBytes;
    m_writeOffset = uint32_t(m_streamEnd % size);
  }
  const uint64_t ahead = m_streamEnd - played;
  frames = ahead < size ? uint32_t((size - ahead) / frameBytes) : 0;
  return SN_Success;
}

void CSnLoopBufferSink::PassData(const SnMixBuffer& mix, float previousGain, float nextGain) {
  if (mix.validFrames == 0 || !m_pScratch || !m_frameBuffer.samples) return;
  if (RefusesWiderMix(mix)) return;
  const uint32_t samples = LowerEngine::SamplesPerFrame();
  const uint32_t frames = mix.maxFrames < samples ? mix.maxFrames : samples;
  if (!FrameConvert::MixToInt16(mix, frames, previousGain, nextGain, m_channelConfig, m_frameBuffer.samples,
                                m_pScratch))
    return;
  std::memset(m_pScratch + size_t(frames) * (m_blockAlign / 2), 0, size_t(samples - frames) * m_blockAlign);
  m_dataPassed = true;
}

void CSnLoopBufferSink::WriteFrame() {
  if (!m_pOutput || !m_pScratch) return;
  const uint32_t bytes = m_blockAlign * LowerEngine::SamplesPerFrame();
  m_pOutput->Write(m_writeOffset, m_pScratch, bytes);
  m_streamEnd += bytes;
  m_writeOffset = uint32_t(m_streamEnd % m_pOutput->RingBytes());
}

void CSnLoopBufferSink::WriteSilence() {
  if (!m_pScratch) return;
  std::memset(m_pScratch, 0, size_t(m_blockAlign) * LowerEngine::SamplesPerFrame());
  WriteFrame();
}

uint32_t CSnLoopBufferSink::GetWaitTime() { return LowerEngine::QuarterFrameDurationMs(); }

CSnSink* CreateLoopBufferSink(uint32_t channelMask) {
  void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnLoopBufferSink));
  if (!memory) return nullptr;
  auto* sink = new (memory) CSnLoopBufferSink;
  const SNRESULT result = sink->Init(channelMask);
  if (result != SN_Success) {
    if (!OpenFailureSaid()) {
      const std::string reason = Platform::AudioDeviceOpenFailure();
      SOUND_LOG(Warning, "The platform sound output could not be opened (result %d)%s%s", int(result),
                reason.empty() ? "" : ": ", reason.c_str());
    }
    OpenFailureSaid() = true;
    sink->Term(g_LEngineDefaultPoolId);
    return nullptr;
  }
  OpenFailureSaid() = false;
  return sink;
}

}  // namespace SN
