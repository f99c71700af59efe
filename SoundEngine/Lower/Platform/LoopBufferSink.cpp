// The platform sink over the looping 16-bit output: format fallback, cursor check, conversion.
#include "SoundEngine/Lower/Platform/LoopBufferSink.h"

#include <cmath>
#include <cstring>
#include <new>

#include "Platform/AudioOutput.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/FrameFormat.h"
#include "SoundEngine/Lower/MixKernels.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/PlatformSettings.h"

namespace SN {
namespace {

// Bytes of ring per channel for each sink buffer the platform settings ask for.
constexpr uint32_t kRingBytesPerChannel = 2048;
constexpr float kFoldGain = 0.707f;

inline int16_t ToSample(float value) {
  value = value < -1.0f ? -1.0f : (value > 1.0f ? 1.0f : value);
  return int16_t(lrintf(value * 32767.0f));
}

uint32_t MaskForChannelCount(uint32_t channels) {
  if (channels >= 8) return kMask71;
  if (channels >= 6) return kMask51;
  return kMaskStereo;
}

// The interleaved index of each speaker bit of a mask (LFE after the front speakers), -1 when absent.
void SpeakerIndices(SnChannelConfig config, int32_t* indexOfBit) {
  for (int b = 0; b < 20; ++b) indexOfBit[b] = -1;
  const uint32_t mask = ChannelMask(config);
  uint32_t offsets[256];
  const uint32_t channels = ChannelCount(config);
  MixKernels::ChannelPlaneOffsets(config, 1, offsets);
  // Planes in mask order with the LFE last; the interleaved order puts it after the front speakers.
  int32_t plane = 0;
  int32_t lfePlane = int32_t(channels) - 1;
  for (int b = 0; b < 20; ++b) {
    if (!(mask & (1u << b))) continue;
    const int32_t p = (1u << b) == kSpeakerLfe ? lfePlane : plane++;
    for (uint32_t k = 0; k < channels; ++k)
      if (int32_t(offsets[k]) == p) indexOfBit[b] = int32_t(k);
  }
}

int Bit(uint32_t speaker) { return __builtin_ctz(speaker); }

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
  return AllocFrameBuffer(m_channelConfig);
}

SNRESULT CSnLoopBufferSink::Play() { return m_pOutput && m_pOutput->Start() ? SN_Success : SN_Failure; }

SNRESULT CSnLoopBufferSink::IsDataNeeded(uint32_t& frames) {
  frames = 0;
  uint32_t play = 0, write = 0;
  if (!m_pOutput || !m_pOutput->GetCursors(play, write)) return SN_Failure;
  const uint32_t size = m_pOutput->RingBytes();
  const uint32_t w = m_writeOffset;
  uint32_t available = size;
  if (play + write != 0) {
    // The platform read past our write offset since the last check: it played old bytes.
    const uint32_t p0 = m_lastPlay;
    m_starved = (p0 < w && w < write) || (write < p0 && p0 < w) || (w < write && write < p0);
    available = w > play ? size - w + play : play - w;
  }
  m_lastPlay = play;
  frames = available / m_blockAlign / LowerEngine::SamplesPerFrame();
  return SN_Success;
}

void CSnLoopBufferSink::WriteFrame() {
  if (!m_pOutput || !m_frameBuffer.samples || m_frameBuffer.validFrames == 0) return;
  const uint32_t frames = LowerEngine::SamplesPerFrame();
  ConvertFrame(m_frameBuffer.samples, m_frameBuffer.channelConfig, m_pScratch, m_channelConfig, frames);
  const uint32_t bytes = m_blockAlign * frames;
  m_pOutput->Write(m_writeOffset, m_pScratch, bytes);
  m_writeOffset = (m_writeOffset + bytes) % m_pOutput->RingBytes();
}

void CSnLoopBufferSink::WriteSilence() {
  if (!m_pOutput || !m_pScratch) return;
  const uint32_t bytes = m_blockAlign * LowerEngine::SamplesPerFrame();
  std::memset(m_pScratch, 0, bytes);
  m_pOutput->Write(m_writeOffset, m_pScratch, bytes);
  m_writeOffset = (m_writeOffset + bytes) % m_pOutput->RingBytes();
}

uint32_t CSnLoopBufferSink::GetWaitTime() { return LowerEngine::QuarterFrameDurationMs(); }

void CSnLoopBufferSink::ConvertFrame(const float* in, SnChannelConfig inConfig, int16_t* out,
                                     SnChannelConfig outConfig, uint32_t frames) {
  const uint32_t inChannels = ChannelCount(inConfig);
  const uint32_t outChannels = ChannelCount(outConfig);
  if (inConfig == outConfig) {
    for (uint32_t i = 0; i < inChannels * frames; ++i) out[i] = ToSample(in[i]);
    return;
  }
  int32_t inAt[20], outAt[20];
  SpeakerIndices(inConfig, inAt);
  SpeakerIndices(outConfig, outAt);
  const bool byMask = ChannelMask(inConfig) != 0 && ChannelMask(outConfig) != 0;
  const uint32_t inMask = ChannelMask(inConfig);
  const uint32_t outMask = ChannelMask(outConfig);
  // Input speakers the output lacks, folded into its front pair.
  const int32_t centre = !(outMask & kSpeakerCenter) ? inAt[Bit(kSpeakerCenter)] : -1;
  int32_t lefts[2] = {-1, -1}, rights[2] = {-1, -1};
  if (!(outMask & kSpeakerBackLeft)) lefts[0] = inAt[Bit(kSpeakerBackLeft)];
  if (!(outMask & kSpeakerSideLeft)) lefts[1] = inAt[Bit(kSpeakerSideLeft)];
  if (!(outMask & kSpeakerBackRight)) rights[0] = inAt[Bit(kSpeakerBackRight)];
  if (!(outMask & kSpeakerSideRight)) rights[1] = inAt[Bit(kSpeakerSideRight)];
  const int32_t outLeft = outAt[Bit(kSpeakerFrontLeft)];
  const int32_t outRight = outAt[Bit(kSpeakerFrontRight)];
  const int32_t inLeft = inAt[Bit(kSpeakerFrontLeft)];
  const int32_t inRight = inAt[Bit(kSpeakerFrontRight)];
  for (uint32_t t = 0; t < frames; ++t) {
    const float* frame = in + size_t(t) * inChannels;
    int16_t* target = out + size_t(t) * outChannels;
    if (!byMask) {
      for (uint32_t c = 0; c < outChannels; ++c) target[c] = c < inChannels ? ToSample(frame[c]) : 0;
      continue;
    }
    for (uint32_t b = 0; b < 20; ++b)
      if (outAt[b] >= 0) target[outAt[b]] = inAt[b] >= 0 ? ToSample(frame[inAt[b]]) : 0;
    if (outLeft >= 0 && outRight >= 0 && (inMask & ~outMask)) {
      float left = inLeft >= 0 ? frame[inLeft] : 0.0f;
      float right = inRight >= 0 ? frame[inRight] : 0.0f;
      if (centre >= 0) {
        left += kFoldGain * frame[centre];
        right += kFoldGain * frame[centre];
      }
      for (int i = 0; i < 2; ++i) {
        if (lefts[i] >= 0) left += kFoldGain * frame[lefts[i]];
        if (rights[i] >= 0) right += kFoldGain * frame[rights[i]];
      }
      target[outLeft] = ToSample(left);
      target[outRight] = ToSample(right);
    }
  }
}

CSnSink* CreateLoopBufferSink(uint32_t channelMask) {
  void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnLoopBufferSink));
  if (!memory) return nullptr;
  auto* sink = new (memory) CSnLoopBufferSink;
  const SNRESULT result = sink->Init(channelMask);
  if (result != SN_Success) {
    SOUND_LOG(Warning, "The platform sound output could not be opened (result %d)", int(result));
    sink->Term(g_LEngineDefaultPoolId);
    return nullptr;
  }
  return sink;
}

}  // namespace SN
