// The end of the voice pipeline: the mix and output kernels against plain loops of the same
// formulas, and one stereo device frame (the device's share, then the sink's end of frame into the
// platform ring) against a reference library's loopback device rendering one frame of one
// direct-channel stereo source into 16-bit samples.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "bench/SoundBenchSupport.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/Lower/MixKernels.h"
#include "SoundEngine/Lower/OutputDevice.h"
#include "SoundEngine/SoundEngine.h"

namespace {

using namespace SN;

constexpr uint16_t kFrames = 1024;

struct Planes {
  std::vector<float, std::allocator<float>> samples;
  SnMixBuffer buffer;
  explicit Planes(SnChannelConfig config) : samples(size_t(ChannelCount(config)) * kFrames) {
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(float(i) * 0.01f) * 0.5f;
    buffer.samples = samples.data();
    buffer.channelConfig = config;
    buffer.maxFrames = buffer.validFrames = kFrames;
  }
};

// The plain loop: the formula as written, one sample at a time (kept scalar, as written).
__attribute__((optimize("no-tree-vectorize"))) void PlainAddWithMatrix(SnMixBuffer& out, const SnMixBuffer& in, const float* previous, const float* next,
                        float previousGain, float nextGain, uint32_t frames) {
  const uint32_t inN = ChannelCount(in.channelConfig), outN = ChannelCount(out.channelConfig);
  const uint32_t inMain = inN - (HasLfe(in.channelConfig) ? 1 : 0);
  const uint32_t outMain = outN - (HasLfe(out.channelConfig) ? 1 : 0);
  const uint32_t stride = (outN + 3) / 4 * 4;
  for (uint32_t i = 0; i < inMain; ++i)
    for (uint32_t o = 0; o < outMain; ++o) {
      const float g0 = previous[i * stride + o] * previousGain;
      const float step = (nextGain * next[i * stride + o] - g0) / float(frames);
      const float* src = in.samples + size_t(i) * in.maxFrames;
      float* dst = out.samples + size_t(o) * out.maxFrames;
      for (uint32_t t = 0; t < frames; ++t) dst[t] += src[t] * (g0 + float(t) * step);
    }
}

void AddWithMatrix(benchmark::State& state, SnChannelConfig inConfig, bool plain) {
  Planes in(inConfig), out(StandardConfig(kMaskStereo));
  const uint32_t stride = 4;
  std::vector<float> previous(ChannelCount(inConfig) * stride, 0.5f), next(previous.size(), 0.25f);
  for (auto _ : state) {
    if (plain)
      PlainAddWithMatrix(out.buffer, in.buffer, previous.data(), next.data(), 1.0f, 0.9f, kFrames);
    else
      MixKernels::AddWithMatrix(out.buffer, in.buffer, previous.data(), next.data(), 1.0f, 0.9f, kFrames);
    benchmark::DoNotOptimize(out.samples.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(AddWithMatrix, FiveOneToStereo, StandardConfig(kMask51), false);
BENCHMARK_CAPTURE(AddWithMatrix, FiveOneToStereoPlain, StandardConfig(kMask51), true);
BENCHMARK_CAPTURE(AddWithMatrix, StereoToStereo, StandardConfig(kMaskStereo), false);
BENCHMARK_CAPTURE(AddWithMatrix, StereoToStereoPlain, StandardConfig(kMaskStereo), true);

void InterleaveWithRamp(benchmark::State& state, SnChannelConfig config, bool plain) {
  Planes in(config);
  std::vector<float> out(size_t(ChannelCount(config)) * kFrames);
  const SnGainRamp ramp{kFrames, 1.0f / kFrames};
  for (auto _ : state) {
    if (plain)
      MixKernels::InterleaveWithRampPlain(ramp, in.buffer, out.data(), 1.0f, 0.5f);
    else
      MixKernels::InterleaveWithRamp(ramp, in.buffer, out.data(), 1.0f, 0.5f);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(InterleaveWithRamp, Stereo, StandardConfig(kMaskStereo), false);
BENCHMARK_CAPTURE(InterleaveWithRamp, StereoPlain, StandardConfig(kMaskStereo), true);
BENCHMARK_CAPTURE(InterleaveWithRamp, FiveOne, StandardConfig(kMask51), false);
BENCHMARK_CAPTURE(InterleaveWithRamp, FiveOnePlain, StandardConfig(kMask51), true);
BENCHMARK_CAPTURE(InterleaveWithRamp, SevenOne, StandardConfig(kMask71), false);
BENCHMARK_CAPTURE(InterleaveWithRamp, SevenOnePlain, StandardConfig(kMask71), true);

void ToInt16WithRamp(benchmark::State& state, bool plain) {
  Planes in(StandardConfig(kMask51));
  std::vector<int16_t> out(6 * kFrames);
  for (auto _ : state) {
    if (plain)
      MixKernels::ToInt16WithRampPlain(in.samples.data(), kFrames, out.data(), kFrames, in.buffer.channelConfig, 6,
                                       1.0f, 0.5f);
    else
      MixKernels::ToInt16WithRamp(in.samples.data(), kFrames, out.data(), kFrames, in.buffer.channelConfig, 6, 1.0f,
                                  0.5f);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(ToInt16WithRamp, FiveOne, false);
BENCHMARK_CAPTURE(ToInt16WithRamp, FiveOnePlain, true);

// The sound engine with its real lower engine on the platform sink (the null output in a bench run
// without a sound card), synchronous.
class EngineScope {
 public:
  EngineScope() {
    SoundBench::InitMemory();
    ISnStreamMgr::m_pStreamMgr = &m_streams;
    SnInitSettings settings;
    SoundEngine::GetDefaultInitSettings(settings);
    settings.useAudioThread = 0;
    m_ok = SoundEngine::Init(&settings, nullptr) == SN_Success;
  }
  ~EngineScope() {
    SoundEngine::Term();
    ISnStreamMgr::m_pStreamMgr = nullptr;
    MemoryMgr::Term();
  }
  bool Ok() const { return m_ok; }

 private:
  SoundBench::NoStreams m_streams;
  bool m_ok = false;
};

void StereoDeviceFrame(benchmark::State& state) {
  EngineScope engine;
  CSnOutputDevice* main = LowerEngine::MainDevice();
  if (!engine.Ok() || !main) {
    state.SkipWithError("the sound engine did not start");
    return;
  }
  Planes tone(StandardConfig(kMaskStereo));
  for (auto _ : state) {
    SnMixBuffer mix = tone.buffer;
    mix.previousGain = mix.nextGain = 1.0f;
    main->PassData(mix);
    main->EndFrame();
  }
}
BENCHMARK(StereoDeviceFrame);

// The reference: a loopback device at 48 kHz, 16-bit stereo, one looping stereo source played on
// its direct channels; each iteration renders 1024 frames.
void ReferenceLoopbackFrame(benchmark::State& state) {
  auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
  auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
  ALCdevice* device = openLoopback ? openLoopback(nullptr) : nullptr;
  if (!device || !render) {
    state.SkipWithError("no loopback device");
    return;
  }
  const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                               ALC_FREQUENCY, 48000, 0};
  ALCcontext* context = alcCreateContext(device, attributes);
  alcMakeContextCurrent(context);
  std::vector<int16_t> pcm(2 * 48000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(std::sin(float(i) * 0.01f) * 16000.0f);
  ALuint buffer = 0, source = 0;
  alGenBuffers(1, &buffer);
  alBufferData(buffer, AL_FORMAT_STEREO16, pcm.data(), ALsizei(pcm.size() * 2), 48000);
  alGenSources(1, &source);
  alSourcei(source, AL_BUFFER, ALint(buffer));
  alSourcei(source, AL_LOOPING, AL_TRUE);
  alSourcei(source, AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
  alSourcePlay(source);
  std::vector<int16_t> out(2 * kFrames);
  for (auto _ : state) {
    render(device, out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
  }
  alDeleteSources(1, &source);
  alDeleteBuffers(1, &buffer);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context);
  alcCloseDevice(device);
}
BENCHMARK(ReferenceLoopbackFrame);

}  // namespace
