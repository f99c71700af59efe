// The sound benchmarks' stand-ins below the front end: a voice pipeline that renders nothing and a stream
// manager with no devices, so a pass costs only the front end's own work.
#pragma once

#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Threading.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "StreamMgr/StreamManager.h"

namespace SoundBench {

// The memory manager as the game sets it up: the C heap, the platform's virtual memory, 20 pools.
inline void InitMemory() {
  SN::SnMemoryHooks hooks;
  hooks.alloc = &malloc;
  hooks.free = &free;
  hooks.virtualAlloc = [](size_t bytes) { return Platform::VirtualAllocate(bytes); };
  hooks.virtualFree = [](void* pointer, size_t bytes) { Platform::VirtualRelease(pointer, bytes); };
  SN::SetMemoryHooks(hooks);
  SN::SnMemSettings memory{20};
  SN::MemoryMgr::Init(&memory);
}

// The stream manager with its default settings, and `io` (a low-level IO hook) opening its default
// device on the game's bank folder, as the game starts them.
template <typename IoHook>
void StartStreams(IoHook& io) {
  SN::SnStreamMgrSettings streams;
  SN::StreamMgr::GetDefaultSettings(streams);
  SN::StreamMgr::Create(streams);
  SN::SnDeviceSettings device{};
  SN::StreamMgr::GetDefaultDeviceSettings(device);
  io.Init(device, false);
  io.SetBaseFolder(u"Sound\\Banks\\");
}

// The reverse of StartStreams and InitMemory, once the sound engine has ended.
template <typename IoHook>
void StopStreamsAndMemory(IoHook& io) {
  io.Term();
  if (SN::ISnStreamMgr::m_pStreamMgr) SN::ISnStreamMgr::m_pStreamMgr->Destroy();
  SN::MemoryMgr::Term();
  SN::SetMemoryHooks({});
}

// The memory manager and a megabyte lower-engine pool, once per benchmark binary.
inline void EnsureLowerEnginePool() {
  static const bool ready = [] {
    InitMemory();
    SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 1u << 20, 16, SN::SnMemPool_AllocHook, 0);
    return SN::g_LEngineDefaultPoolId != SN::kInvalidPoolId;
  }();
  (void)ready;
}

// `waitMs` is how long the audio thread sleeps between passes (kWaitForever: only RenderAudio wakes it);
// `hasDevice` says whether a main output is reported; `framesPerPass` how many frames a pass renders.
class SilentLowerEngine final : public SN::ISnLowerEngine {
 public:
  SilentLowerEngine(uint32_t waitMs, bool hasDevice, uint32_t framesPerPass = 0)
      : m_waitMs(waitMs), m_hasDevice(hasDevice), m_framesPerPass(framesPerPass) {}
  SN::SNRESULT InitVoiceManager() override { return SN::SN_Success; }
  void TermVoiceManager() override {}
  void UpdateLimiters() override {}
  void ProcessQueuedInstanceCommands() override {}
  uint32_t CheckOutputDevices() override { return m_framesPerPass; }
  SN::SnSuspendState SuspendState() override { return {}; }
  SN::SNRESULT EnterSuspendedMode(bool) override { return SN::SN_Success; }
  void ApplyMessageSideEffects() override {}
  bool WantsDeferredDeviceWork() override { return false; }
  void DoDeferredDeviceWork() override {}
  void PrepareFrame() override {}
  void Perform() override {}
  void RenderAfterPass() override {}
  void BeginOutputSinks() override {}
  const void* MainOutputDevice() override { return m_hasDevice ? this : nullptr; }
  uint32_t MainOutputWaitMs() override { return m_waitMs; }
  void TermMotionEngine() override {}
  void DestroyAllVoicePipelines() override {}

 private:
  uint32_t m_waitMs;
  bool m_hasDevice;
  uint32_t m_framesPerPass;
};

class NoStreams final : public SN::ISnStreamMgr {};

// A planar mix buffer of `frames` frames holding a slow half-scale sine.
struct Planes {
  std::vector<float> samples;
  SN::SnMixBuffer buffer;
  explicit Planes(SN::SnChannelConfig config, uint16_t frames = 1024)
      : samples(size_t(SN::ChannelCount(config)) * frames) {
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(float(i) * 0.01f) * 0.5f;
    buffer.samples = samples.data();
    buffer.channelConfig = config;
    buffer.maxFrames = buffer.validFrames = frames;
  }
};

// The plain interleave with a gain ramp: frame by frame with the channel count fixed at compile time,
// so that each frame's samples are written side by side. Walking plane by plane with a run-time stride
// would be a weaker loop than anyone would write.
template <uint32_t kChannels>
__attribute__((noipa)) void PlainInterleaveFrames(const float* const* planes, float* __restrict out, uint32_t frames,
                                                  float previousGain, float step) {
  const float* __restrict plane[kChannels];
  for (uint32_t c = 0; c < kChannels; ++c) plane[c] = planes[c];
  for (int32_t t = 0; t < int32_t(frames); ++t) {
    const float gain = previousGain + float(t) * step;
    for (uint32_t c = 0; c < kChannels; ++c) out[size_t(t) * kChannels + c] = plane[c][t] * gain;
  }
}

}  // namespace SoundBench
