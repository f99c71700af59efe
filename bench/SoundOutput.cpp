// The end of the voice pipeline: each mix and output kernel against the best plain loop of the same
// formula that the compiler vectorises (read the pairs as kernel / plain; a kernel earns its place at
// 1.5x), the fused frame conversion against interleaving then rounding each sample, and one stereo
// device frame (the device's share, then the sink's end of frame into the platform ring) against a
// reference library's loopback device rendering one frame of one direct-channel stereo source into
// 16-bit samples, its output limiter and dither off as ours has none.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Lower/LowerEngineCore.h"
#include "SoundEngine/Lower/Mixing/MixKernels.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/SoundEngine.h"
#include "bench/SoundBenchSupport.h"

namespace {

using namespace SN;

constexpr uint16_t kFrames = 1024;

using SoundBench::Planes;

// The plain loop: the formula as written, one pair of planes at a time, left to the vectoriser.
// Not inlined nor specialised, as the kernel is not: neither side folds the benchmark's constants
// (the frame count) into its loop.
__attribute__((noipa)) void PlainAddWithMatrix(SnMixBuffer& out, const SnMixBuffer& in, const float* previous, const float* next,
                        float previousGain, float nextGain, uint32_t frames) {
  const uint32_t inN = ChannelCount(in.channelConfig), outN = ChannelCount(out.channelConfig);
  const uint32_t inMain = inN - (HasLfe(in.channelConfig) ? 1 : 0);
  const uint32_t outMain = outN - (HasLfe(out.channelConfig) ? 1 : 0);
  const uint32_t stride = (outN + 3) / 4 * 4;
  for (uint32_t i = 0; i < inMain; ++i)
    for (uint32_t o = 0; o < outMain; ++o) {
      const float g0 = previous[i * stride + o] * previousGain;
      const float step = (nextGain * next[i * stride + o] - g0) / float(frames);
      const float* __restrict src = in.samples + size_t(i) * in.maxFrames;
      float* __restrict dst = out.samples + size_t(o) * out.maxFrames;
      for (int32_t t = 0; t < int32_t(frames); ++t) dst[t] += src[t] * (g0 + float(t) * step);
    }
}

// Plain interleaving: the planes in the kernel's channel order, frame by frame.
__attribute__((noipa)) void PlainInterleave(const SnMixBuffer& in, float* __restrict out, uint32_t frames,
                                            float previousGain, float nextGain) {
  const uint32_t channels = ChannelCount(in.channelConfig);
  uint32_t offsets[8];
  MixKernels::ChannelPlaneOffsets(in.channelConfig, in.maxFrames, offsets);
  const float* planes[8] = {};
  for (uint32_t c = 0; c < channels && c < 8; ++c) planes[c] = in.samples + offsets[c];
  const float step = (nextGain - previousGain) / float(frames);
  switch (channels) {
    case 2: SoundBench::PlainInterleaveFrames<2>(planes, out, frames, previousGain, step); break;
    case 6: SoundBench::PlainInterleaveFrames<6>(planes, out, frames, previousGain, step); break;
    case 8: SoundBench::PlainInterleaveFrames<8>(planes, out, frames, previousGain, step); break;
    default: break;
  }
}

// Frame indices are signed 32-bit: an unsigned one could wrap at 2 x t and needs a two-step
// conversion to float, both of which keep the vectoriser away.
// Rounding to nearest even without a call: the magic constant pushes the fraction out.
inline int32_t RoundInline(float value) { return int32_t((value + 12582912.0f) - 12582912.0f); }

// Plain 16-bit conversion with inline rounding, plane by plane.
__attribute__((noipa)) void PlainToInt16(const float* in, int16_t* __restrict out, uint32_t frames, uint32_t channels, float previousGain,
                  float nextGain) {
  const float step = (nextGain - previousGain) / float(frames);
  for (uint32_t c = 0; c < channels; ++c) {
    const float* __restrict plane = in + size_t(c) * frames;
    for (int32_t t = 0; t < int32_t(frames); ++t) {
      float value = plane[t] * (previousGain + float(t) * step) * 32767.0f;
      value = value < -32768.0f ? -32768.0f : (value > 32767.0f ? 32767.0f : value);
      out[size_t(t) * channels + c] = int16_t(RoundInline(value));
    }
  }
}

// The platform frame as a plain loop: a hand stereo loop interleaving, limiting and rounding inline.
__attribute__((noipa)) void PlainStereoToInt16(const SnMixBuffer& in, int16_t* __restrict out, uint32_t frames, float previousGain,
                        float nextGain) {
  const float* __restrict left = in.samples;
  const float* __restrict right = in.samples + in.maxFrames;
  const float step = (nextGain - previousGain) / float(frames);
  for (int32_t t = 0; t < int32_t(frames); ++t) {
    const float gain = previousGain + float(t) * step;
    float l = left[t] * gain, r = right[t] * gain;
    l = l < -1.0f ? -1.0f : (l > 1.0f ? 1.0f : l);
    r = r < -1.0f ? -1.0f : (r > 1.0f ? 1.0f : r);
    out[2 * t] = int16_t(RoundInline(l * 32767.0f));
    out[2 * t + 1] = int16_t(RoundInline(r * 32767.0f));
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
      PlainInterleave(in.buffer, out.data(), kFrames, 1.0f, 0.5f);
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
      PlainToInt16(in.samples.data(), out.data(), kFrames, 6, 1.0f, 0.5f);
    else
      MixKernels::ToInt16WithRamp(in.samples.data(), kFrames, out.data(), kFrames, in.buffer.channelConfig, 6, 1.0f,
                                  0.5f);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(ToInt16WithRamp, FiveOne, false);
BENCHMARK_CAPTURE(ToInt16WithRamp, FiveOnePlain, true);

// The platform frame: the fused kernel, the plain loop of the same formula, and the two steps the
// sink took before (interleave, then limit and round each sample with lrintf).
enum class FrameWay { Fused, Plain, TwoSteps };
void PlatformFrame(benchmark::State& state, SnChannelConfig config, FrameWay way) {
  Planes in(config);
  const uint32_t channels = ChannelCount(config);
  std::vector<float> interleaved(size_t(channels) * kFrames);
  std::vector<int16_t> out(size_t(channels) * kFrames);
  const SnGainRamp ramp{kFrames, 1.0f / kFrames};
  for (auto _ : state) {
    if (way == FrameWay::Fused) {
      MixKernels::InterleaveToInt16WithRamp(ramp, in.buffer, out.data(), 1.0f, 0.5f);
    } else if (way == FrameWay::Plain) {
      if (channels == 2)
        PlainStereoToInt16(in.buffer, out.data(), kFrames, 1.0f, 0.5f);
      else
        MixKernels::InterleaveToInt16WithRampPlain(ramp, in.buffer, out.data(), 1.0f, 0.5f);
    } else {
      MixKernels::InterleaveWithRamp(ramp, in.buffer, interleaved.data(), 1.0f, 0.5f);
      for (size_t i = 0; i < interleaved.size(); ++i) {
        const float v = interleaved[i] < -1.0f ? -1.0f : (interleaved[i] > 1.0f ? 1.0f : interleaved[i]);
        out[i] = int16_t(lrintf(v * 32767.0f));
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(PlatformFrame, Stereo, StandardConfig(kMaskStereo), FrameWay::Fused);
BENCHMARK_CAPTURE(PlatformFrame, StereoPlain, StandardConfig(kMaskStereo), FrameWay::Plain);
BENCHMARK_CAPTURE(PlatformFrame, StereoTwoSteps, StandardConfig(kMaskStereo), FrameWay::TwoSteps);
BENCHMARK_CAPTURE(PlatformFrame, SevenOne, StandardConfig(kMask71), FrameWay::Fused);
BENCHMARK_CAPTURE(PlatformFrame, SevenOneTwoSteps, StandardConfig(kMask71), FrameWay::TwoSteps);

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
  // Dither is a setting of the library's configuration, read once at its first call: a file of
  // our own, named before that call.
  static const std::string path = "/tmp/orv-bench-reference-" + std::to_string(getpid()) + ".conf";
  static const bool configured = [] {
    if (FILE* file = std::fopen(path.c_str(), "w")) {
      std::fputs("[general]\ndither = false\n", file);
      std::fclose(file);
      setenv("ALSOFT_CONF", path.c_str(), 1);
      return true;
    }
    return false;
  }();
  if (!configured) {
    state.SkipWithError("the reference's configuration could not be written");
    return;
  }
  auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
  auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
  ALCdevice* device = openLoopback ? openLoopback(nullptr) : nullptr;
  std::remove(path.c_str());
  if (!device || !render) {
    state.SkipWithError("no loopback device");
    return;
  }
  const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                               ALC_FREQUENCY, 48000, ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE, 0};
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
