// The source side of a voice. Resampling: 10 s of 16-bit stereo at 44.1 kHz to 48 kHz in 1024-frame
// frames through CSnPitchResampler::Run, at a fixed step and with the step ramping every frame,
// against a plain scalar loop of the same 16.16 interpolation into planar float (aim: 1x) and against
// libsamplerate's linear converter, its int16-to-float conversion counted (aim: 2x). ADPCM: 32 MiB of
// stereo media decoded through the in-memory source's GetBuffer against a plain integer decoder into a
// kept buffer (aim: 1.5x); bytes are the encoded input. Read the pairs as subject / baseline.
#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/ImaAdpcm.h"
#include "SoundEngine/Sources/PitchResampler.h"
#include "SoundEngine/Sources/ResampleKernels.h"
#include "bench/SoundBenchSupport.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 10;
constexpr uint32_t kFrame = 1024;

void EnsurePools() {
  static const bool ready = [] {
    SoundBench::InitMemory();
    SN::g_DefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 64u << 20, 16, SN::SnMemPool_AllocHook, 0);
    SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 16u << 20, 64, SN::SnMemPool_AllocHook, 16);
    SN::SelectVectorKernels();
    return SN::g_DefaultPoolId != SN::kInvalidPoolId;
  }();
  (void)ready;
}

// The stereo music both resamplers read: the media writer's tone, as its samples.
const std::vector<int16_t>& Music() {
  static const std::vector<int16_t> samples = [] {
    Tools::ToneDesc tone;
    tone.channels = 2;
    tone.sampleRate = kRate;
    tone.frames = kRate * kSeconds;
    tone.frequency = 441.0f;
    const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
    const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
    std::vector<int16_t> s(wave.data.size() / 2);
    memcpy(s.data(), wave.data.data(), s.size() * 2);
    return s;
  }();
  return samples;
}

void Resampler(benchmark::State& state) {
  EnsurePools();
  const bool ramping = state.range(0) != 0;
  const std::vector<int16_t>& music = Music();
  std::vector<float> out(2 * kFrame);
  const uint32_t frames = uint32_t(music.size() / 2);
  for (auto _ : state) {
    SN::CSnPitchResampler r;
    r.Init(SN::SnMediaFormat{kRate, SN::StandardConfig(0x3), SN::SnMediaFormat::Word(16, 4, 0, false)}, 48000);
    r.SetPitch(0.0f, true);
    SN::SnVoiceBuffer output;
    output.data = out.data();
    output.maxFrames = kFrame;
    r.m_requestedFrames = kFrame;
    float cents = 0.0f;
    for (uint32_t at = 0; at < frames; at += kFrame) {
      SN::SnVoiceBuffer input;
      input.data = const_cast<int16_t*>(music.data() + size_t(at) * 2);
      input.validFrames = input.maxFrames = uint16_t(std::min(kFrame, frames - at));
      while (input.validFrames) {
        if (ramping) r.SetPitch(cents = cents == 0.0f ? 10.0f : 0.0f, true);
        if (r.Run(input, output) == SN::SN_DataReady) {
          benchmark::DoNotOptimize(out.data());
          r.m_outputOffset = 0;
        }
      }
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * frames);
}
BENCHMARK(Resampler)->Arg(0)->Arg(1)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// The same interpolation written plainly: position and step in 16.16, the frame before the buffer
// kept, a full output handed on and begun again; ramping, each output buffer ramps from the fixed
// step to the step of 10 cents over 1024 outputs by the same formula as the subject's.
__attribute__((noipa)) void PlainBuffer(const int16_t* in, uint32_t n, float* out, uint32_t& written,
                                        int64_t& position, int64_t step, int64_t target, int16_t* last,
                                        bool ramping, uint32_t& counter) {
  float* left = out;
  float* right = out + kFrame;
  while ((position >> 16) < n) {
    if (written == kFrame) {
      benchmark::DoNotOptimize(out);
      written = 0;
      counter = 0;
    }
    const int64_t i = position >> 16, f = position & 0xFFFF;
    const int64_t a0 = i == 0 ? last[0] : in[(i - 1) * 2], b0 = in[i * 2];
    const int64_t a1 = i == 0 ? last[1] : in[(i - 1) * 2 + 1], b1 = in[i * 2 + 1];
    left[written] = float((b0 - a0) * f + a0 * 65536) * 4.656613e-10f;
    right[written] = float((b1 - a1) * f + a1 * 65536) * 4.656613e-10f;
    ++written;
    if (ramping && counter < 1024) {
      counter += 1;  // 48000 / 48000 a step
      position += ((step << 10) + (target - step) * int64_t(counter)) >> 10;
    } else {
      position += ramping ? target : step;
    }
  }
  memcpy(last, in + size_t(n - 1) * 2, 4);
  position -= int64_t(n) << 16;
}

void PlainLoop(benchmark::State& state) {
  const bool ramping = state.range(0) != 0;
  const std::vector<int16_t>& music = Music();
  std::vector<float> out(2 * kFrame);
  const uint32_t frames = uint32_t(music.size() / 2);
  const int64_t step = int64_t(double(kRate) / 48000.0 * 65536.0 + 0.5);
  const int64_t target = int64_t(std::pow(2.0, 10.0 / 1200.0) * double(kRate) / 48000.0 * 65536.0 + 0.5);
  for (auto _ : state) {
    int64_t position = 0x10000;
    int16_t last[2] = {0, 0};
    uint32_t written = 0, counter = 0;
    for (uint32_t at = 0; at < frames; at += kFrame)
      PlainBuffer(music.data() + size_t(at) * 2, std::min(kFrame, frames - at), out.data(), written, position, step,
                  target, last, ramping, counter);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * frames);
}
BENCHMARK(PlainLoop)->Arg(0)->Arg(1)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// libsamplerate's linear converter, fed 1024-frame buffers converted from 16-bit as the source gives them.
void LinearConverter(benchmark::State& state) {
  const std::vector<int16_t>& music = Music();
  const uint32_t frames = uint32_t(music.size() / 2);
  std::vector<float> in(2 * kFrame), out(2 * kFrame + 64);
  for (auto _ : state) {
    int error = 0;
    SRC_STATE* converter = src_new(SRC_LINEAR, 2, &error);
    for (uint32_t at = 0; at < frames; at += kFrame) {
      const uint32_t n = std::min(kFrame, frames - at);
      src_short_to_float_array(music.data() + size_t(at) * 2, in.data(), int(n * 2));
      SRC_DATA data{};
      data.data_in = in.data();
      data.input_frames = n;
      data.src_ratio = 48000.0 / kRate;
      while (data.input_frames > 0) {
        data.data_out = out.data();
        data.output_frames = kFrame;
        if (src_process(converter, &data) != 0) break;
        benchmark::DoNotOptimize(out.data());
        data.data_in += data.input_frames_used * 2;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
      }
    }
    src_delete(converter);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * frames);
}
BENCHMARK(LinearConverter)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);

const std::vector<uint8_t>& AdpcmMedia() {
  static const std::vector<uint8_t> media = [] {
    Tools::ToneDesc tone;
    tone.channels = 2;
    tone.encoding = Tools::MediaEncoding::ImaAdpcm;
    tone.frames = uint32_t((32u << 20) / 72u * 64u);  // 32 MiB of block groups
    tone.frequency = 523.0f;
    return Tools::WriteToneMedia(tone);
  }();
  return media;
}

void AdpcmSource(benchmark::State& state) {
  EnsurePools();
  const std::vector<uint8_t>& media = AdpcmMedia();
  for (auto _ : state) {
    SourceTest::FakeInstance instance(media, 0x20000);
    SN::CSnAdpcmSource source(&instance);
    source.PrepareSource();
    for (;;) {
      SN::SnVoiceBuffer buffer;
      buffer.maxFrames = kFrame;
      source.GetBuffer(buffer);
      benchmark::DoNotOptimize(buffer.data);
      source.ReleaseBuffer();
      if (buffer.result != SN::SN_DataReady) break;
    }
    source.StopStream();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SourceTest::ReadWave(media).data.size()));
}
BENCHMARK(AdpcmSource)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// The plain decoder a good engineer would write: integer steps from the format's tables, the index held
// by two compares, each group of a frame-sized piece written interleaved into one kept, aligned buffer (the
// source decodes into an aligned buffer of its own).
__attribute__((noipa)) void PlainAdpcmDecode(const uint8_t* data, size_t groups, uint32_t channels,
                                             int16_t* __restrict out) {
  for (size_t g = 0; g < groups; ++g)
    for (uint32_t c = 0; c < channels; ++c) {
      const uint8_t* block = data + (g * channels + c) * 36;
      int predictor = int16_t(uint16_t(block[0] | block[1] << 8));
      int index = block[2] > 88 ? 88 : block[2];
      int16_t* o = out + g * 64 * channels + c;
      o[0] = int16_t(predictor);
      for (uint32_t s = 1; s < 64; ++s) {
        const uint8_t byte = block[4 + (s - 1) / 2];
        const int nibble = (s - 1) % 2 ? byte >> 4 : byte & 15;
        const int magnitude = ((nibble & 7) * 2 + 1) * SN::ImaAdpcm::kStepTable[index] >> 3;
        predictor += nibble & 8 ? -magnitude : magnitude;
        predictor = predictor < -32768 ? -32768 : predictor > 32767 ? 32767 : predictor;
        index += SN::ImaAdpcm::kIndexTable[nibble & 7];
        index = index < 0 ? 0 : index > 88 ? 88 : index;
        o[s * channels] = int16_t(predictor);
      }
    }
}

void ReferenceDecoder(benchmark::State& state) {
  const std::vector<uint8_t>& media = AdpcmMedia();
  const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
  // The same frame-sized pieces as the source takes.
  constexpr uint32_t kChannels = 2;
  const size_t groupBytes = 36 * kChannels, piece = size_t(kFrame / 64) * groupBytes;
  auto* out = static_cast<int16_t*>(std::aligned_alloc(64, size_t(kFrame) * kChannels * sizeof(int16_t)));
  // The decoder's figures are checked once against the tests' reference: a fast wrong decoder is no baseline.
  const size_t check = std::min(piece, wave.data.size());
  PlainAdpcmDecode(wave.data.data(), check / groupBytes, kChannels, out);
  const std::vector<int16_t> expected = SourceTest::ReferenceDecode(wave.data.data(), check, kChannels);
  if (!std::equal(expected.begin(), expected.end(), out)) state.SkipWithError("the plain decoder differs from the reference");
  for (auto _ : state) {
    for (size_t at = 0; at < wave.data.size(); at += piece) {
      PlainAdpcmDecode(wave.data.data() + at, std::min(piece, wave.data.size() - at) / groupBytes, kChannels, out);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
  }
  std::free(out);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wave.data.size()));
}
BENCHMARK(ReferenceDecoder)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);

}  // namespace
