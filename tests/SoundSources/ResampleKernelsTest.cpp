// The resampling kernels and the resampler against a double-precision model of the same 16.16
// interpolation: copies, fixed steps across buffer joints and any chunking, channel planes, the SSE2
// copies bit for bit, step ramps and their ends, and positions a falling step leaves past the input.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Sources/PitchResampler.h"
#include "SoundEngine/Sources/ResampleKernels.h"
#include "tests/SoundSources/SourceTestSupport.h"

namespace {

using SN::SnMediaFormat;

SnMediaFormat Format16(uint32_t channels, uint32_t mask, uint32_t rate = 48000) {
  return SnMediaFormat{rate, SN::MediaChannelConfig(channels, mask), SnMediaFormat::Word(16, 2 * channels, 0, false)};
}
SnMediaFormat FormatFloat(uint32_t rate = 48000) {
  return SnMediaFormat{rate, SN::MediaChannelConfig(1, 0x4), SnMediaFormat::Word(32, 4, 1, true)};
}

// Interleaved 16-bit frames, channel c of frame f distinct from every other sample.
std::vector<int16_t> Samples(uint32_t frames, uint32_t channels) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (uint32_t f = 0; f < frames; ++f)
    for (uint32_t c = 0; c < channels; ++c)
      s[size_t(f) * channels + c] = int16_t(std::lround(30000.0 * std::sin(0.05 * f + c)) - int(c));
  return s;
}

// Feeds the input through the resampler in pieces of `chunk` frames, taking `frames` outputs per
// output buffer; returns each channel's outputs strung together.
struct Runner {
  SN::CSnPitchResampler r;
  uint32_t channels = 1;
  uint32_t outFrames = 64;
  std::vector<float> block;
  SN::SnVoiceBuffer out;
  std::vector<std::vector<float>> got;

  void Begin(uint32_t n, uint32_t frames) {
    channels = n;
    outFrames = frames;
    block.assign(size_t(n) * frames, -9.0f);
    out.data = block.data();
    out.maxFrames = uint16_t(frames);
    out.channelConfig = r.m_channelConfig;
    got.assign(n, {});
    r.m_requestedFrames = frames;
  }
  void Take(bool interleaved) {
    for (uint32_t c = 0; c < channels; ++c)
      for (uint32_t i = 0; i < out.validFrames; ++i)
        got[c].push_back(interleaved ? block[size_t(i) * channels + c] : block[size_t(c) * outFrames + i]);
    r.m_outputOffset = 0;
    out.validFrames = 0;
  }
  // Runs over one input buffer until it is used up, taking every full output.
  void Feed(SN::SnVoiceBuffer& in, bool interleaved = false) {
    while (in.validFrames) {
      const SN::SNRESULT result = r.Run(in, out);
      if (result == SN::SN_DataReady) Take(interleaved);
      ASSERT_TRUE(result == SN::SN_DataReady || result == SN::SNRESULT(43));
    }
  }
  void Feed16(const std::vector<int16_t>& samples, uint32_t chunk, bool interleaved = false) {
    const uint32_t frames = uint32_t(samples.size() / channels);
    for (uint32_t at = 0; at < frames; at += chunk) {
      std::vector<int16_t> piece(samples.begin() + size_t(at) * channels,
                                 samples.begin() + size_t(std::min(frames, at + chunk)) * channels);
      SN::SnVoiceBuffer in;
      in.data = piece.data();
      in.validFrames = in.maxFrames = uint16_t(piece.size() / channels);
      Feed(in, interleaved);
    }
  }
  void Finish(bool interleaved = false) {
    if (out.validFrames) Take(interleaved);
  }
};

std::vector<double> Channel(const std::vector<int16_t>& s, uint32_t channels, uint32_t c) {
  std::vector<double> x;
  for (size_t i = c; i < s.size(); i += channels) x.push_back(s[i] / 32768.0);
  return x;
}

void ExpectNear(const std::vector<float>& got, const std::vector<double>& model, double tolerance) {
  ASSERT_EQ(got.size(), model.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], model[i], tolerance) << "output " << i;
}

class ResampleKernelsTest : public SourceTest::PoolFixture {};

TEST_F(ResampleKernelsTest, UnitStepReproducesTheInput) {
  const std::vector<int16_t> mono = Samples(300, 1);
  Runner copy;
  ASSERT_EQ(copy.r.Init(Format16(1, 0x4), 48000), SN::SN_Success);
  copy.r.SetPitch(0.0f, true);
  EXPECT_EQ(copy.r.m_state, SN::SnResample_None);
  EXPECT_EQ(copy.r.m_currentStep, 0x10000u);
  copy.Begin(1, 64);
  copy.Feed16(mono, 37);
  copy.Finish();
  // Fixed-step kernel at 0x10000: f is always 0.
  Runner fixed;
  ASSERT_EQ(fixed.r.Init(Format16(1, 0x4), 48000), SN::SN_Success);
  fixed.r.SetPitch(0.0f, true);
  fixed.r.m_state = SN::SnResample_Fixed;
  fixed.Begin(1, 64);
  fixed.Feed16(mono, 100);
  fixed.Finish();
  // The fixed-step kernel holds the last frame back until the frame after it arrives.
  ASSERT_EQ(copy.got[0].size(), 300u);
  ASSERT_EQ(fixed.got[0].size(), 299u);
  for (size_t i = 0; i < 300; ++i) {
    ASSERT_EQ(copy.got[0][i], float(mono[i]) * 3.0517578e-5f);
    if (i < 299) {
      ASSERT_EQ(fixed.got[0][i], copy.got[0][i]) << i;
    }
  }
}

// One octave down at equal rates: two outputs per input frame, the first output after each buffer
// joint interpolating from the frame saved from the buffer before; any chunking gives the same.
TEST_F(ResampleKernelsTest, HalfStepAcrossBufferJointsAndChunkings) {
  const std::vector<int16_t> stereo = Samples(200, 2);
  std::vector<std::vector<float>> first;
  for (uint32_t chunk : {200u, 1u, 7u, 64u}) {
    Runner run;
    ASSERT_EQ(run.r.Init(Format16(2, 0x3), 48000), SN::SN_Success);
    run.r.SetPitch(-1200.0f, true);
    ASSERT_EQ(run.r.m_currentStep, 0x8000u);
    ASSERT_EQ(run.r.m_state, SN::SnResample_Fixed);
    run.Begin(2, 48);
    run.Feed16(stereo, chunk);
    run.Finish();
    for (uint32_t c = 0; c < 2; ++c) {
      const std::vector<double> model =
          SourceTest::LerpModel::Run(Channel(stereo, 2, c), 0.0, 0x10000, 0x8000, 100000);
      ExpectNear(run.got[c], model, 1e-6);
      EXPECT_EQ(run.got[c].size(), 398u);  // frame 199 waits for the next buffer's first frame
    }
    if (first.empty())
      first = run.got;
    else
      EXPECT_EQ(run.got, first) << chunk;
  }
}

TEST_F(ResampleKernelsTest, FloatMediaInterpolatesInDouble) {
  std::vector<float> plane(500);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(std::sin(0.013 * double(i)) * 0.7);
  Runner run;
  ASSERT_EQ(run.r.Init(FormatFloat(44100), 48000), SN::SN_Success);
  run.r.SetPitch(0.0f, true);
  EXPECT_EQ(run.r.m_formatIndex, 4);
  const uint32_t step = run.r.m_currentStep;
  EXPECT_EQ(step, uint32_t(44100.0f / 48000.0f * 65536.0 + 0.5));
  run.Begin(1, 100);
  for (size_t at = 0; at < plane.size(); at += 123) {
    std::vector<float> piece(plane.begin() + at, plane.begin() + std::min(plane.size(), at + 123));
    SN::SnVoiceBuffer in;
    in.data = piece.data();
    in.validFrames = in.maxFrames = uint16_t(piece.size());
    run.Feed(in);
  }
  run.Finish();
  const std::vector<double> model =
      SourceTest::LerpModel::Run(std::vector<double>(plane.begin(), plane.end()), 0.0, 0x10000, step, 100000);
  ExpectNear(run.got[0], model, 1e-7);
}

// Planes of float at 48000 Hz to 44100, fed in frames of 1024 as an output device feeds them: the
// interleaved form writes the planar form's samples, frame after frame, across the joints, for each
// channel count it has a form of its own for and one it has not (3); it refuses a resampler that is
// not at a fixed step on float.
TEST_F(ResampleKernelsTest, TheInterleavedFloatFormWritesThePlanarFormsSamples) {
  for (const uint32_t kChannels : {6u, 1u, 2u, 3u, 4u, 8u}) {
    SCOPED_TRACE(kChannels);
    constexpr uint32_t kFrame = 1024, kRoom = 960;
    const SnMediaFormat format{48000, SN::MediaChannelConfig(kChannels, (1u << kChannels) - 1),
                               SnMediaFormat::Word(32, uint16_t(4 * kChannels), 1, true)};
    SN::CSnPitchResampler planar, interleaved;
    ASSERT_EQ(planar.Init(format, 44100), SN::SN_Success);
    ASSERT_EQ(interleaved.Init(format, 44100), SN::SN_Success);
    SN::SnVoiceBuffer none;
    std::vector<float> frame(size_t(kChannels) * kFrame), planes(size_t(kChannels) * kRoom), frames(planes.size());
    auto input = [&](std::vector<float>& samples) {
      SN::SnVoiceBuffer in;
      in.data = samples.data();
      in.validFrames = in.maxFrames = uint16_t(kFrame);
      return in;
    };
    none = input(frame);
    EXPECT_EQ(SN::ResampleFloatToInterleaved(none, none, kRoom, interleaved), SN::SN_Failure) << "no step yet";
    planar.SetPitch(0.0f, false);
    interleaved.SetPitch(0.0f, false);
    size_t made = 0;
    for (uint32_t pass = 0; pass < 5; ++pass) {
      for (uint32_t c = 0; c < kChannels; ++c)
        for (uint32_t t = 0; t < kFrame; ++t)
          frame[size_t(c) * kFrame + t] = float(std::sin(0.01 * double(pass * kFrame + t) * (c + 1)));
      SN::SnVoiceBuffer in = input(frame), out;
      out.data = planes.data();
      out.maxFrames = uint16_t(kRoom);
      planar.ResetOffsets();
      planar.m_requestedFrames = kRoom;
      planar.Run(in, out);
      SN::SnVoiceBuffer in2 = input(frame), out2;
      out2.data = frames.data();
      out2.maxFrames = uint16_t(kRoom);
      interleaved.ResetOffsets();
      EXPECT_EQ(SN::ResampleFloatToInterleaved(in2, out2, kRoom, interleaved), SN::SNRESULT(43));
      ASSERT_EQ(out2.validFrames, out.validFrames);
      EXPECT_EQ(in2.validFrames, 0u);
      for (uint32_t k = 0; k < out.validFrames; ++k)
        for (uint32_t c = 0; c < kChannels; ++c)
          ASSERT_EQ(frames[size_t(k) * kChannels + c], planes[size_t(c) * kRoom + k]) << pass << " " << k << " " << c;
      made += out.validFrames;
    }
    // 5 x 1024 frames at 48000 / 44100 x 65536 = 71332 a step.
    EXPECT_EQ(made, (uint64_t(5 * kFrame) * 65536 - 1) / 71332 + 1);
  }
}

// 5.1 interleaved as FL FR FC LFE BL BR comes out as planes FL FR FC BL BR LFE, resampled or copied
// and de-interleaved; interleaving again gives the file order back.
TEST_F(ResampleKernelsTest, SurroundPlanesPutTheLfeLast) {
  const std::vector<int16_t> s = Samples(120, 6);
  const uint32_t toPlane[6] = {0, 1, 2, 5, 3, 4};
  Runner fixed;
  ASSERT_EQ(fixed.r.Init(Format16(6, 0x60F), 48000), SN::SN_Success);
  fixed.r.SetPitch(700.0f, true);
  fixed.Begin(6, 32);
  fixed.Feed16(s, 50);
  fixed.Finish();
  for (uint32_t c = 0; c < 6; ++c) {
    const std::vector<double> model =
        SourceTest::LerpModel::Run(Channel(s, 6, c), 0.0, 0x10000, fixed.r.m_currentStep, 100000);
    ExpectNear(fixed.got[toPlane[c]], model, 1e-6);
  }
  Runner copy;
  ASSERT_EQ(copy.r.Init(Format16(6, 0x60F), 48000), SN::SN_Success);
  copy.r.SetPitch(0.0f, true);
  copy.Begin(6, 120);
  copy.Feed16(s, 120, true);
  ASSERT_EQ(copy.got[0].size(), 120u);
  std::vector<float> interleaved(720), planar(720), back(720);
  for (uint32_t f = 0; f < 120; ++f)
    for (uint32_t c = 0; c < 6; ++c) interleaved[f * 6 + c] = copy.got[c][f];
  SN::DeinterleaveToPlanar(interleaved.data(), planar.data(), 120, SN::MediaChannelConfig(6, 0x60F), 120);
  for (uint32_t c = 0; c < 6; ++c)
    for (uint32_t f = 0; f < 120; ++f) ASSERT_EQ(planar[toPlane[c] * 120 + f], float(s[f * 6 + c]) * 3.0517578e-5f);
  SN::InterleaveFromPlanar(planar.data(), back.data(), 120, SN::MediaChannelConfig(6, 0x60F), 120);
  EXPECT_EQ(back, interleaved);
  // Without an LFE the order stays.
  EXPECT_EQ(SN::PlaneOfChannel(3, SN::MediaChannelConfig(4, 0x33)), 3u);
  EXPECT_EQ(SN::PlaneOfChannel(2, SN::MediaChannelConfig(3, 0xB)), 2u);
  EXPECT_EQ(SN::PlaneOfChannel(2, SN::MediaChannelConfig(3, 0x13)), 2u);
  EXPECT_EQ(SN::PlaneOfChannel(2, SN::MediaChannelConfig(4, 0x1B)), 3u);
}

TEST_F(ResampleKernelsTest, VectorCopiesEqualScalarCopiesBitForBit) {
  for (uint32_t channels : {1u, 2u, 3u, 4u, 7u}) {
    const std::vector<int16_t> s = Samples(203, channels);
    std::vector<std::vector<float>> results;
    for (bool vector : {false, true}) {
      if (vector)
        SN::SelectVectorKernels();
      else
        SN::SelectScalarKernels();
      Runner run;
      ASSERT_EQ(run.r.Init(Format16(channels, 0), 48000), SN::SN_Success);
      run.r.SetPitch(0.0f, true);
      run.Begin(channels, 101);
      run.Feed16(s, 67, channels != 2);
      run.Finish(channels != 2);
      std::vector<float> all;
      for (const auto& g : run.got) all.insert(all.end(), g.begin(), g.end());
      results.push_back(all);
    }
    ASSERT_EQ(results[0].size(), size_t(203) * channels);
    EXPECT_EQ(memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(float)), 0) << channels;
  }
  SN::SelectScalarKernels();
}

// The ramp model: output at P, then k += d (capped at 1024) and P grows by the step at k.
std::vector<double> RampModel(const std::vector<double>& x, uint64_t from, uint64_t to, int64_t d, size_t most,
                              uint64_t& endStep) {
  std::vector<double> out;
  int64_t p = 0x10000, k = 0;
  while (out.size() < most && k < 1024) {
    const int64_t i = p >> 16;
    const double a = i == 0 ? 0.0 : x[size_t(i - 1)], b = x[size_t(i)];
    out.push_back(a + (b - a) * double(p & 0xFFFF) / 65536.0);
    k = std::min<int64_t>(k + d, 1024);
    p += ((int64_t(from) << 10) + (int64_t(to) - int64_t(from)) * k) >> 10;
  }
  endStep = k >= 1024 ? to : from;
  return out;
}

TEST_F(ResampleKernelsTest, OctaveUpRampsOver1024OutputsAt48kAnd512At24k) {
  const std::vector<int16_t> s = Samples(4000, 1);
  for (uint32_t rate : {48000u, 24000u}) {
    Runner run;
    ASSERT_EQ(run.r.Init(Format16(1, 0x4, rate), rate), SN::SN_Success);
    run.r.SetPitch(0.0f, true);
    run.r.SetPitch(1200.0f, true);
    EXPECT_EQ(run.r.m_state, SN::SnResample_Ramp);
    EXPECT_EQ(run.r.m_targetStep, 0x20000u);
    const uint32_t rampOutputs = 1024 / (48000 / rate);
    run.Begin(1, rampOutputs - 1);
    SN::SnVoiceBuffer in;
    std::vector<int16_t> copy = s;
    in.data = copy.data();
    in.validFrames = in.maxFrames = 4000;
    EXPECT_EQ(run.r.Run(in, run.out), SN::SN_DataReady);
    EXPECT_EQ(run.r.m_state, SN::SnResample_Ramp) << rate;
    run.Take(false);
    run.r.m_requestedFrames = 1;
    EXPECT_EQ(run.r.Run(in, run.out), SN::SN_DataReady);
    EXPECT_EQ(run.r.m_state, SN::SnResample_Fixed) << rate;
    EXPECT_EQ(run.r.m_currentStep, 0x20000u);
    run.Take(false);
    uint64_t endStep = 0;
    ExpectNear(run.got[0], RampModel(Channel(s, 1, 0), 0x10000, 0x20000, 48000 / rate, 100000, endStep), 1e-6);
    EXPECT_EQ(run.got[0].size(), rampOutputs);
  }
}

// A second change in mid-ramp freezes the step where the ramp had got to, and ramps from there.
TEST_F(ResampleKernelsTest, RetargetFreezesTheRampMidway) {
  Runner run;
  ASSERT_EQ(run.r.Init(Format16(1, 0x4), 48000), SN::SN_Success);
  run.r.SetPitch(0.0f, true);
  run.r.SetPitch(1200.0f, true);
  run.Begin(1, 256);
  std::vector<int16_t> s = Samples(2000, 1);
  SN::SnVoiceBuffer in;
  in.data = s.data();
  in.validFrames = in.maxFrames = 2000;
  ASSERT_EQ(run.r.Run(in, run.out), SN::SN_DataReady);
  EXPECT_EQ(run.r.m_rampCounter, 256u);
  run.r.SetPitch(-1200.0f, true);
  EXPECT_EQ(run.r.m_currentStep, 0x14000u);
  EXPECT_EQ(run.r.m_targetStep, 0x8000u);
  EXPECT_EQ(run.r.m_rampCounter, 0u);
  EXPECT_EQ(run.r.m_state, SN::SnResample_Ramp);
  // Without smoothing the new step holds at once.
  run.r.SetPitch(0.0f, false);
  EXPECT_EQ(run.r.m_currentStep, 0x10000u);
  EXPECT_EQ(run.r.m_state, SN::SnResample_None);
}

// A motion voice of the 24 kHz, 2048-frame format runs at 93 Hz: the ramp moves 516 a step, which
// does not divide 1024. The ramp still ends on its target and Run returns.
TEST_F(ResampleKernelsTest, RampEndsWhenItsIncrementDoesNotDivide1024) {
  const uint32_t motionRate = uint32_t(24000.0 / 2048.0 * 8.0) & 0xFFFF;
  ASSERT_EQ(motionRate, 93u);
  Runner run;
  ASSERT_EQ(run.r.Init(Format16(1, 0x4, 93), motionRate), SN::SN_Success);
  EXPECT_EQ(run.r.m_rampIncrement, 516u);
  run.r.SetPitch(0.0f, true);
  run.r.SetPitch(1200.0f, true);
  run.Begin(1, 8);
  std::vector<int16_t> s = Samples(100, 1);
  SN::SnVoiceBuffer in;
  in.data = s.data();
  in.validFrames = in.maxFrames = 100;
  EXPECT_EQ(run.r.Run(in, run.out), SN::SN_DataReady);
  EXPECT_EQ(run.r.m_state, SN::SnResample_Fixed);
  EXPECT_EQ(run.r.m_currentStep, 0x20000u);
  run.Take(false);
  uint64_t endStep = 0;
  const std::vector<double> ramp = RampModel(Channel(s, 1, 0), 0x10000, 0x20000, 516, 100, endStep);
  ASSERT_EQ(ramp.size(), 2u);
  EXPECT_NEAR(run.got[0][0], ramp[0], 1e-6);
  EXPECT_NEAR(run.got[0][1], ramp[1], 1e-6);
}

// A step that fell between calls leaves the position past the new input: no output is counted for
// it (the count is not wrapped) and the input is consumed.
TEST_F(ResampleKernelsTest, PositionPastTheInputProducesNothing) {
  Runner run;
  ASSERT_EQ(run.r.Init(Format16(1, 0x4), 48000), SN::SN_Success);
  run.r.SetPitch(0.0f, true);
  run.r.m_state = SN::SnResample_Fixed;
  run.r.m_position = 0x50000;
  run.Begin(1, 16);
  std::vector<int16_t> s = Samples(2, 1);
  SN::SnVoiceBuffer in;
  in.data = s.data();
  in.validFrames = in.maxFrames = 2;
  EXPECT_EQ(run.r.Run(in, run.out), SN::SNRESULT(43));
  EXPECT_EQ(run.out.validFrames, 0u);
  EXPECT_EQ(in.validFrames, 0u);
  EXPECT_EQ(run.r.m_position, 0x30000u);
  EXPECT_EQ(run.r.LastFrame16()[0], s[1]);
  SN::SnVoiceBuffer empty;
  EXPECT_EQ(run.r.Run(empty, run.out), SN::SN_NoMoreData);
}

TEST_F(ResampleKernelsTest, StepsSaturateAndFormatsWithoutKernelsAreRefused) {
  SN::CSnPitchResampler r;
  ASSERT_EQ(r.Init(Format16(1, 0x4), 48000), SN::SN_Success);
  EXPECT_EQ(r.StepForCents(100000.0f), 0x1000000u);
  EXPECT_EQ(r.StepForCents(-100000.0f), 1u);
  EXPECT_EQ(r.StepForCents(std::nanf("")), 1u);
  EXPECT_EQ(r.StepForCents(1200.0f), 0x20000u);
  SN::CSnPitchResampler wide;
  EXPECT_EQ(wide.Init(Format16(12, 0), 48000), SN::SN_Success);  // the saved frame in a block of its own
  EXPECT_NE(wide.m_pStore, nullptr);
  SN::CSnPitchResampler bad;
  EXPECT_EQ(bad.Init(SnMediaFormat{48000, 1, SnMediaFormat::Word(24, 3, 0, false)}, 48000), SN::SNRESULT(7));
  EXPECT_EQ(SN::ResampleFormatIndex(16, 5), 3);
  EXPECT_EQ(SN::ResampleFormatIndex(32, 2), 5);
  EXPECT_EQ(SN::ResampleFormatIndex(8, 1), SN::kNoKernelFormat);
}

}  // namespace
