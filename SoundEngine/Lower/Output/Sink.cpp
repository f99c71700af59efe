// The sink base (frame buffer, pass and end of frame), the silent timer sink and the sink factory.
#include "SoundEngine/Lower/Output/Sink.h"

#include <cstring>
#include <new>

#include "Platform/Clock.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {

CSnSink::~CSnSink() {
  if (m_frameBuffer.samples) MemoryMgr::Falign(g_LEngineDefaultPoolId, m_frameBuffer.samples);
}

void CSnSink::Term(SnMemPoolId pool) {
  this->~CSnSink();
  MemoryMgr::Free(pool, this);
}

SNRESULT CSnSink::Init(SnMemPoolId, CSnOutputDevice*, SnSinkFormat&) { return SN_Failure; }

SNRESULT CSnSink::AllocFrameBuffer(SnChannelConfig config) {
  const uint32_t frames = LowerEngine::SamplesPerFrame();
  const size_t bytes = size_t(kMaxFrameChannels) * frames * sizeof(float);
  auto* samples = static_cast<float*>(MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16));
  if (!samples) return SN_InsufficientMemory;
  std::memset(samples, 0, bytes);
  m_frameBuffer.samples = samples;
  m_frameBuffer.channelConfig = config;
  m_frameBuffer.state = kBufferNeedsData;
  m_frameBuffer.maxFrames = uint16_t(frames);
  m_frameBuffer.validFrames = 0;
  return SN_Success;
}

SnMixBuffer* CSnSink::GetFrameBuffer() {
  m_frameBuffer.validFrames = 0;
  return &m_frameBuffer;
}

bool CSnSink::RefusesWiderMix(const SnMixBuffer& mix) {
  if (ChannelCount(mix.channelConfig) <= kMaxFrameChannels) return false;
  if (!m_widerMixLogged)
    SOUND_LOG(Warning, "Output sink: a mix of %u channels is wider than a frame of %u and is not played",
              ChannelCount(mix.channelConfig), kMaxFrameChannels);
  m_widerMixLogged = true;
  return true;
}

void CSnSink::PassData(const SnMixBuffer& mix, float previousGain, float nextGain) {
  // Not passed: the end of frame writes silence in its place.
  if (mix.validFrames == 0 || RefusesWiderMix(mix)) return;
  SnMixBuffer* frame = GetFrameBuffer();
  if (frame->samples) {
    const uint32_t frames = mix.maxFrames < frame->maxFrames ? mix.maxFrames : frame->maxFrames;
    if (frames) {
      frame->channelConfig = mix.channelConfig;
      const SnGainRamp ramp{uint16_t(frames), 1.0f / float(mix.maxFrames)};
      MixKernels::InterleaveWithRamp(ramp, mix, frame->samples, previousGain, nextGain);
      frame->validFrames = mix.validFrames < frames ? mix.validFrames : uint16_t(frames);
    }
  }
  m_dataPassed = true;
}

void CSnSink::EndFrame() {
  if (!m_dataPassed) {
    GetFrameBuffer();
    WriteSilence();
  } else {
    WriteFrame();
  }
  m_dataPassed = false;
}

CSnSinkDummy::CSnSinkDummy(SnChannelConfig config) : CSnSink(SnSinkKind_Silent), m_startTicks(Platform::TicksNow()) {
  m_channelConfig = config;
  m_frameBuffer.channelConfig = config;
}

SNRESULT CSnSinkDummy::IsDataNeeded(uint32_t& frames) {
  const int64_t now = Platform::TicksNow();
  if (now < m_startTicks) {
    // A clock that went back: begin counting again from here.
    m_startTicks = now;
    m_framesAccounted = 0;
    frames = 1;
    return SN_Success;
  }
  const unsigned __int128 elapsed = uint64_t(now - m_startTicks);
  const uint64_t perFrame = uint64_t(LowerEngine::SamplesPerFrame()) * uint64_t(Platform::kTicksPerSecond);
  const uint64_t due = perFrame ? uint64_t(elapsed * LowerEngine::SampleRate() / perFrame) : 0;
  const uint64_t fresh = due > m_framesAccounted ? due - m_framesAccounted : 0;
  frames = fresh > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(fresh);
  m_framesAccounted += frames;
  return SN_Success;
}

uint32_t CSnSinkDummy::GetWaitTime() { return LowerEngine::QuarterFrameDurationMs(); }

namespace SinkFactory {
namespace {

uint32_t& Remembered() {
  static uint32_t kinds = SnSinkKind_Silent;
  return kinds;
}

}  // namespace

uint32_t RememberedKinds() { return Remembered(); }

CSnSink* Create(SnOutputSettings& settings, uint32_t sinkTypeWord, uint32_t deviceId, const CSnSink* mainSink) {
  uint32_t kinds = sinkTypeWord & 7;
  if (kinds == 0) kinds = 7;
  if (Remembered() == SnSinkKind_Silent) {
    if (kinds != 7) Remembered() = kinds;
  } else if (kinds == 7) {
    kinds = Remembered();
  }
  if (sinkTypeWord & SnSinkKind_Silent) {
    if (ChannelCount(settings.channelConfig) == 0)
      settings.channelConfig = mainSink ? mainSink->ChannelConfig() : StandardConfig(kMaskStereo);
    void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnSinkDummy));
    return memory ? new (memory) CSnSinkDummy(settings.channelConfig) : nullptr;
  }
  // A word naming the float ring tries it first, then the shared endpoint, then the looping buffer;
  // any other word keeps the looping buffer first, the output every platform here has.
  static constexpr uint32_t kRingFirst[] = {SnSinkKind_Engine, SnSinkKind_Endpoint, SnSinkKind_LoopBuffer};
  static constexpr uint32_t kLoopFirst[] = {SnSinkKind_LoopBuffer, SnSinkKind_Engine, SnSinkKind_Endpoint};
  for (uint32_t kind : (sinkTypeWord & SnSinkKind_Engine) ? kRingFirst : kLoopFirst) {
    if (!(kinds & kind)) continue;
    CSnSink* sink = nullptr;
    if (kind == SnSinkKind_Engine)
      sink = CreateFloatRingSink(ChannelMask(settings.channelConfig));
    else if (kind == SnSinkKind_Endpoint)
      sink = CreateSharedEndpointSink(settings, sinkTypeWord, deviceId);
    else
      sink = CreateLoopBufferSink(ChannelMask(settings.channelConfig));
    if (sink) {
      Remembered() = kind;
      return sink;
    }
  }
  return nullptr;
}

void SetRememberedKinds(uint32_t kinds) { Remembered() = kinds; }

}  // namespace SinkFactory
}  // namespace SN
