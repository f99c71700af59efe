// The float sinks taking one planar 5.1 frame of 1024 and writing it interleaved, at unity gain and
// ramping (SDL's dummy driver: null devices that take what they are given), against the plain loop
// interleaving the same frame with its ramp into a ring slot plus an atomic add, and the
// shared endpoint sink's resampling write to a 44100 Hz device against the sources' resampling
// kernel called directly on the same planar frame. Read the pairs as subject / baseline.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/AudioDevices.h"
#include "Platform/AudioOutput.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Output/Platform/FloatRingSink.h"
#include "SoundEngine/Lower/Output/Platform/SharedEndpointSink.h"
#include "SoundEngine/Lower/Output/Sink.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/Sources/PitchResampler.h"
#include "SoundEngine/Sources/VoiceBuffer.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;

constexpr uint32_t kFrame = 1024;
constexpr uint32_t kChannels = 6;
constexpr uint32_t kSlots = 8;
// Frames a null queue device keeps before it plays them: the baseline ring's slots. It plays them
// without reading them, within the timing (a few counts), as the baseline's ring is never read.
constexpr int kDrainEvery = int(kSlots);

// The engine with its main output on one float sink kind, 5.1, synchronous.
class SinkScope {
 public:
  SinkScope(uint32_t kind, uint32_t deviceRate) {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    m_remembered = SinkFactory::RememberedKinds();
    SinkFactory::SetRememberedKinds(SnSinkKind_Silent);
    Platform::SetNullAudioPullOutputs(true);
    Platform::SetNullAudioQueueOutputs(true, deviceRate, kChannels);
    Platform::SetAudioPlaybackDeviceNamesForTests({"Bench Speakers"});
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    settings.mainOutputKind = kind;
    settings.mainOutputSettings.channelConfig = StandardConfig(kMask51);
    m_ok = SoundEngine::Init(&settings, nullptr) == SN_Success && LowerEngine::MainDevice() &&
           LowerEngine::MainDevice()->Sink() && LowerEngine::MainDevice()->Sink()->Kind() == kind;
  }
  ~SinkScope() {
    SoundEngine::Term();
    Platform::SetAudioPlaybackDeviceNamesForTests({});
    Platform::SetNullAudioQueueOutputs(false);
    Platform::SetNullAudioPullOutputs(false);
    SinkFactory::SetRememberedKinds(m_remembered);
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  bool Ok() const { return m_ok; }
  CSnSink* Sink() const { return LowerEngine::MainDevice()->Sink(); }
  // The frame the device hands over, in the sink's frame buffer.
  void PassFrame(const SoundBench::Planes& planes, float previousGain = 1.0f) const {
    Sink()->PassData(planes.buffer, previousGain, 1.0f);
  }

 private:
  SoundBench::NoStreams m_streams;
  uint32_t m_remembered = 0;
  bool m_ok = false;
};

// The frame handed over at unity gain or ramping up to it from `previousGain`, interleaved into the
// sink's frame and written into its ring, as the device's end of frame does.
void FloatRingWrite(benchmark::State& state, float previousGain) {
  SinkScope scope(SnSinkKind_Engine, 0);
  if (!scope.Ok()) {
    state.SkipWithError("no float ring sink");
    return;
  }
  SoundBench::Planes planes(StandardConfig(kMask51));
  auto* ring = static_cast<CSnFloatRingSink*>(scope.Sink());
  for (auto _ : state) {
    scope.PassFrame(planes, previousGain);
    ring->WriteFrame();
  }
  benchmark::DoNotOptimize(ring->FilledSlots());
}
BENCHMARK_CAPTURE(FloatRingWrite, Unity, 1.0f);
BENCHMARK_CAPTURE(FloatRingWrite, Ramp, 0.5f);

// A device at the engine's rate (0) or at another one, which the sink resamples to; the frame handed
// over at unity gain or ramping up to it from `previousGain`.
void SharedEndpointWrite(benchmark::State& state, uint32_t deviceRate, float previousGain) {
  SinkScope scope(SnSinkKind_Endpoint, deviceRate);
  if (!scope.Ok()) {
    state.SkipWithError("no shared endpoint sink");
    return;
  }
  SoundBench::Planes planes(StandardConfig(kMask51));
  auto* sink = static_cast<CSnSharedEndpointSink*>(scope.Sink());
  if (sink->IsResampling() != (deviceRate != 0)) {
    state.SkipWithError("the sink does not resample as asked");
    return;
  }
  if (sink->Output()->SlotCount() < uint32_t(kDrainEvery)) {
    state.SkipWithError("the device's ring holds fewer frames than are written before it plays");
    return;
  }
  int written = 0;
  for (auto _ : state) {
    // The write empties the frame buffer: each frame is handed over again, as a device does.
    scope.PassFrame(planes, previousGain);
    sink->WriteFrame();
    if (++written % kDrainEvery == 0) sink->Output()->PlayQueued();
  }
}
BENCHMARK_CAPTURE(SharedEndpointWrite, SameRate, 0u, 1.0f);
BENCHMARK_CAPTURE(SharedEndpointWrite, SameRateRamp, 0u, 0.5f);

// The baseline of both: the planar frame interleaved with its ramp straight into a ring slot by the
// plain loop, and the slot counted.
void PlainRingWrite(benchmark::State& state, float previousGain) {
  SoundBench::Planes planes(StandardConfig(kMask51));
  const float* sources[kChannels];
  for (uint32_t c = 0; c < kChannels; ++c) sources[c] = planes.samples.data() + size_t(c) * kFrame;
  std::vector<float> ring(size_t(kSlots) * kFrame * kChannels);
  std::atomic<int32_t> filled{0};
  uint32_t slot = 0;
  const float step = (1.0f - previousGain) / float(kFrame);
  for (auto _ : state) {
    SoundBench::PlainInterleaveFrames<kChannels>(sources, ring.data() + size_t(slot) * kFrame * kChannels, kFrame,
                                                 previousGain, step);
    slot = (slot + 1) % kSlots;
    filled.fetch_add(1, std::memory_order_acq_rel);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(filled.load());
}
BENCHMARK_CAPTURE(PlainRingWrite, Unity, 1.0f);
BENCHMARK_CAPTURE(PlainRingWrite, Ramp, 0.5f);

BENCHMARK_CAPTURE(SharedEndpointWrite, At44100, 44100u, 1.0f);

// The baseline: the sources' fixed-step kernel alone on the same planar frame, 48000 to 44100 Hz,
// into planes of its own.
void ResamplerAlone(benchmark::State& state) {
  SoundBench::Planes planes(StandardConfig(kMask51));
  CSnPitchResampler resampler;
  const SnMediaFormat format{48000, StandardConfig(kMask51), SnMediaFormat::Word(32, 4 * kChannels, 1, true)};
  if (resampler.Init(format, 44100) != SN_Success) {
    state.SkipWithError("no kernel for the frame");
    return;
  }
  resampler.SetPitch(0.0f, false);
  const uint32_t room = (kFrame << 16) / resampler.m_currentStep + 2;
  std::vector<float> out(size_t(room) * kChannels);
  for (auto _ : state) {
    SnVoiceBuffer in;
    in.data = planes.buffer.samples;
    in.channelConfig = format.channelConfig;
    in.maxFrames = in.validFrames = uint16_t(kFrame);
    SnVoiceBuffer made;
    made.data = out.data();
    made.channelConfig = format.channelConfig;
    made.maxFrames = uint16_t(room);
    resampler.ResetOffsets();
    resampler.m_requestedFrames = room;
    benchmark::DoNotOptimize(resampler.Run(in, made));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ResamplerAlone);

}  // namespace
