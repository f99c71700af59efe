// The source stage over real sources of generated media, frame by frame as a pipeline drives it:
// output equal to a model of the kernels on the file read apart, pitch, surround planes, seek
// remainders, markers at their output samples, initial silence, virtual voices resuming on the right
// sample, chaining without a gap, and the 24 kHz, 2048-frame format of a motion voice.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/PcmSource.h"
#include "SoundEngine/Sources/VoiceSourceStage.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/SoundSources/HeapCounter.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

using SourceTest::FakeInstance;

Tools::ToneDesc Tone(uint16_t channels, uint32_t frames, uint32_t rate = 48000) {
  Tools::ToneDesc tone;
  tone.channels = channels;
  tone.frames = frames;
  tone.sampleRate = rate;
  tone.signal = Tools::ToneSignal::Noise;
  return tone;
}

std::vector<double> FileChannel(const std::vector<uint8_t>& media, uint32_t channels, uint32_t c) {
  const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
  std::vector<double> x;
  for (size_t i = c * 2; i + 1 < wave.data.size(); i += 2 * channels)
    x.push_back(int16_t(wave.data[i] | wave.data[i + 1] << 8) / 32768.0);
  return x;
}

// A voice: its instance, its source and the stage, run frame by frame into planes.
struct Voice {
  FakeInstance instance;
  SN::CSnVoiceSource* source = nullptr;
  SN::CSnVoiceSourceStage stage;
  std::vector<std::vector<float>> planes;
  std::vector<SN::SNRESULT> results;
  std::vector<std::pair<uint32_t, uint32_t>> markers;  // id, output sample

  explicit Voice(std::vector<uint8_t> media, uint32_t codec = 0x10000) : instance(std::move(media), codec) {}
  ~Voice() {
    stage.Stop();
    stage.Release();
    delete source;
  }
  template <class Source>
  bool Start(uint32_t outputRate = 48000) {
    source = new Source(&instance);
    if (source->PrepareSource() != SN::SN_Success) return false;
    planes.assign(instance.format.Channels(), {});
    return stage.Init(source, instance.format, &instance, outputRate) == SN::SN_Success;
  }
  SN::SNRESULT Frame(uint16_t frames) {
    SN::SnVoiceBuffer out;
    out.maxFrames = frames;
    const SN::SNRESULT result = stage.RunFrame(out);
    results.push_back(result);
    if (result == SN::SN_DataReady || result == SN::SN_NoMoreData) {
      const size_t base = planes.empty() ? 0 : planes[0].size();
      for (uint32_t c = 0; c < planes.size(); ++c)
        for (uint32_t i = 0; i < out.validFrames; ++i) planes[c].push_back(out.Plane(c)[i]);
      for (uint16_t i = 0; i < out.markerCount; ++i)
        markers.push_back({out.markers[i].id, uint32_t(base + out.markers[i].offset)});
      out.FreeMarkers();
    }
    return result;
  }
  // After a hand-over to a next source: the first comes back from the stage as the one it finished
  // with and is destroyed; the stage lets go of the next.
  void EndHandOver() {
    SN::CSnVoiceSource* finished = stage.TakeFinishedSource();
    EXPECT_EQ(finished, source);
    stage.Stop();
    source = nullptr;
    delete finished;
    stage.Release();
  }
  SN::SNRESULT RunToEnd(uint16_t frames, int most = 1000) {
    SN::SNRESULT r = SN::SN_DataReady;
    for (int i = 0; i < most && r == SN::SN_DataReady; ++i) r = Frame(frames);
    return r;
  }
};

// PCM in memory that comes late, as a stream behind its reads does: at most 300 frames a buffer, and
// every third ask nothing yet, so that frames are left unfinished and go on in the next.
class LateSource final : public SN::CSnVoiceSource {
 public:
  explicit LateSource(SN::ISnSourceInstance* instance) : CSnVoiceSource(instance), m_media(instance) {}
  SN::SNRESULT PrepareSource() override {
    const SN::SNRESULT result = m_media.PrepareSource();
    if (result == SN::SN_Success) m_flags |= kPrepared;
    return result;
  }
  void GetBuffer(SN::SnVoiceBuffer& buffer) override {
    if (++m_asks % 3 == 0) {
      buffer.Clear();
      buffer.result = SN::SN_NoDataReady;
      return;
    }
    if (buffer.maxFrames > 300) buffer.maxFrames = 300;
    m_media.GetBuffer(buffer);
    m_holding = true;
  }
  void ReleaseBuffer() override {
    if (m_holding) m_media.ReleaseBuffer();
    m_holding = false;
  }
  void StopStream() override { m_media.StopStream(); }
  int64_t FramesLeft() const override { return m_media.FramesLeft(); }
  float GetDuration() const override { return m_media.GetDuration(); }
  SN::SnMediaFormat MediaFormat() const override { return m_media.MediaFormat(); }

 private:
  SN::CSnPcmSource m_media;
  uint32_t m_asks = 0;
  bool m_holding = false;
};

class SourceStageTest : public SourceTest::PoolFixture {
 protected:
  void TearDown() override {
    SN::LowerEngine::SetSampleRate(48000);
    SN::LowerEngine::SetSamplesPerFrame(1024);
    PoolFixture::TearDown();
  }
};

TEST_F(SourceStageTest, EqualRatesPlayTheFileExactly) {
  for (uint16_t channels : {1, 2}) {
    Voice voice(Tools::WriteToneMedia(Tone(channels, 3000)));
    ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
    EXPECT_EQ(voice.RunToEnd(1024), SN::SN_NoMoreData);
    EXPECT_EQ(voice.results, (std::vector<SN::SNRESULT>{SN::SN_DataReady, SN::SN_DataReady, SN::SN_NoMoreData}));
    for (uint32_t c = 0; c < channels; ++c) {
      const std::vector<double> x = FileChannel(voice.instance.media, channels, c);
      ASSERT_EQ(voice.planes[c].size(), 3000u);
      for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(voice.planes[c][i], float(x[i])) << i;
    }
  }
}

// 44.1 kHz media at 48 kHz: the stage equals the interpolation model over the whole file and the
// step down from its last frame to the silence after it, through source buffers of a frame each.
TEST_F(SourceStageTest, MediaOfAnotherRateFollowsTheModel) {
  Voice voice(Tools::WriteToneMedia(Tone(2, 5000, 44100)));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.RunToEnd(1024);
  const uint32_t step = voice.stage.Resampler().m_currentStep;
  EXPECT_EQ(step, uint32_t(44100.0f / 48000.0f * 65536.0 + 0.5));
  for (uint32_t c = 0; c < 2; ++c) {
    const std::vector<double> model =
        SourceTest::LerpModel::Run(SourceTest::LerpModel::Ended(FileChannel(voice.instance.media, 2, c)), 0.0, 0x10000,
                                   step, 1u << 20);
    ASSERT_EQ(voice.planes[c].size(), model.size());
    for (size_t i = 0; i < model.size(); ++i) ASSERT_NEAR(voice.planes[c][i], model[i], 1e-6) << i;
  }
}

// +1200 cents from the start doubles the rate: every other file sample exactly.
TEST_F(SourceStageTest, AnOctaveUpDoublesTheFrequency) {
  Voice voice(Tools::WriteToneMedia(Tone(1, 4000)));
  voice.instance.pitch = 1200.0f;
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.RunToEnd(512);
  const std::vector<double> x = FileChannel(voice.instance.media, 1, 0);
  ASSERT_EQ(voice.planes[0].size(), 2000u);
  for (size_t i = 0; i < voice.planes[0].size(); ++i) ASSERT_EQ(voice.planes[0][i], float(x[2 * i])) << i;
}

// Three passes of a loop at 24 kHz, an octave up: the duration and the time the pitch makes of it.
TEST_F(SourceStageTest, DurationsAreToldWhenASourceBegins) {
  Tools::ToneDesc tone = Tone(1, 2400, 24000);
  tone.loop = true;
  tone.loopStart = 400;
  tone.loopEnd = 1599;
  Voice voice(Tools::WriteToneMedia(tone));
  voice.instance.loopCount = 3;
  voice.instance.pitch = 1200.0f;
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.stage.NotifyDuration();
  ASSERT_EQ(voice.instance.durations.size(), 1u);
  EXPECT_FLOAT_EQ(voice.instance.durations[0].first, (2400.0f + 2.0f * 1200.0f) * 1000.0f / 24000.0f);
  EXPECT_NEAR(voice.instance.durations[0].second, 100.0f, 1e-3);
}

TEST_F(SourceStageTest, SurroundCopiesComeOutWithTheLfeLast) {
  Tools::ToneDesc tone = Tone(6, 1500);
  tone.channelMask = 0x60F;
  Voice voice(Tools::WriteToneMedia(tone));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.RunToEnd(1024);
  const uint32_t plane[6] = {0, 1, 2, 5, 3, 4};
  for (uint32_t c = 0; c < 6; ++c) {
    const std::vector<double> x = FileChannel(voice.instance.media, 6, c);
    ASSERT_EQ(voice.planes[plane[c]].size(), x.size());
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(voice.planes[plane[c]][i], float(x[i]));
  }
}

TEST_F(SourceStageTest, AdpcmSeekDropsTheFramesInsideItsBlock) {
  Tools::ToneDesc tone = Tone(2, 640);
  tone.encoding = Tools::MediaEncoding::ImaAdpcm;
  Voice voice(Tools::WriteToneMedia(tone), 0x20000);
  voice.instance.seek = SN::SnSeekRequest{true, false, false, 0.0f, 100, 0};
  ASSERT_TRUE(voice.Start<SN::CSnAdpcmSource>());
  voice.RunToEnd(256);
  const SourceTest::WaveFile wave = SourceTest::ReadWave(voice.instance.media);
  const std::vector<int16_t> decoded = SourceTest::ReferenceDecode(wave.data.data(), wave.data.size(), 2);
  ASSERT_EQ(voice.planes[1].size(), 540u);
  for (size_t i = 0; i < 540; ++i) ASSERT_EQ(voice.planes[1][i], float(decoded[(100 + i) * 2 + 1]) * 3.0517578e-5f);
}

TEST_F(SourceStageTest, MarkersArriveAtTheirOutputSamples) {
  Tools::ToneDesc tone = Tone(1, 3000);
  tone.markers = {{1, 10, ""}, {2, 1500, "mid"}, {3, 2999, ""}};
  Voice voice(Tools::WriteToneMedia(tone));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.RunToEnd(1024);
  EXPECT_EQ(voice.markers, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 10}, {2, 1500}, {3, 2999}}));
  // An octave down, marker frames land at twice their sample.
  Voice slow(Tools::WriteToneMedia(tone));
  slow.instance.pitch = -1200.0f;
  ASSERT_TRUE(slow.Start<SN::CSnPcmSource>());
  slow.RunToEnd(1024);
  ASSERT_EQ(slow.markers.size(), 3u);
  EXPECT_EQ(slow.markers[0].second, 20u);
  EXPECT_EQ(slow.markers[1].second, 3000u);
}

TEST_F(SourceStageTest, AnInitialOffsetOpensWithSilence) {
  Voice voice(Tools::WriteToneMedia(Tone(1, 2000)));
  voice.instance.hasInitialOffset = true;
  voice.instance.initialOffset = -(1024 - 300);  // begins 300 samples into its first frame
  voice.instance.rateFactor = 1.0f;
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.Frame(1024);
  const std::vector<double> x = FileChannel(voice.instance.media, 1, 0);
  ASSERT_EQ(voice.planes[0].size(), 1024u);
  for (size_t i = 0; i < 300; ++i) ASSERT_EQ(voice.planes[0][i], 0.0f);
  for (size_t i = 300; i < 1024; ++i) ASSERT_EQ(voice.planes[0][i], float(x[i - 300]));
}

// A voice begun inside a frame takes from its source just what each frame lacks: after every frame
// the source has given exactly the samples heard, which stay the file's with markers on their own
// samples. Through the resampler the stage may hold input over, and the samples still follow the file.
TEST_F(SourceStageTest, AVoiceBegunInsideAFrameHoldsNoInputOver) {
  Tools::ToneDesc tone = Tone(2, 5000);
  tone.markers = {{1, 723, ""}, {2, 724, ""}, {3, 4999, ""}};
  Voice voice(Tools::WriteToneMedia(tone));
  voice.instance.hasInitialOffset = true;
  voice.instance.initialOffset = -(1024 - 300);
  voice.instance.rateFactor = 1.0f;
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  for (int frame = 0; voice.Frame(1024) == SN::SN_DataReady; ++frame) {
    ASSERT_LT(frame, 10);
    const int64_t heard = int64_t(voice.planes[0].size()) - 300;
    ASSERT_EQ(voice.source->FramesLeft(), 5000 - heard) << frame;
  }
  EXPECT_EQ(voice.results.size(), 6u);
  EXPECT_EQ(voice.results.back(), SN::SN_NoMoreData);
  for (uint32_t c = 0; c < 2; ++c) {
    const std::vector<double> x = FileChannel(voice.instance.media, 2, c);
    ASSERT_EQ(voice.planes[c].size(), 5300u);
    for (size_t i = 0; i < 300; ++i) ASSERT_EQ(voice.planes[c][i], 0.0f);
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(voice.planes[c][300 + i], float(x[i])) << i;
  }
  EXPECT_EQ(voice.markers, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 1023}, {2, 1024}, {3, 5299}}));

  // A fifth up, begun at the same sample: the stage asks for whole buffers and keeps the rest.
  Voice higher(Tools::WriteToneMedia(Tone(1, 5000)));
  higher.instance.hasInitialOffset = true;
  higher.instance.initialOffset = -(1024 - 300);
  higher.instance.rateFactor = 1.0f;
  higher.instance.pitch = 700.0f;
  ASSERT_TRUE(higher.Start<SN::CSnPcmSource>());
  higher.RunToEnd(1024);
  const uint32_t step = higher.stage.Resampler().m_currentStep;
  const std::vector<double> model =
      SourceTest::LerpModel::Run(SourceTest::LerpModel::Ended(FileChannel(higher.instance.media, 1, 0)), 0.0, 0x10000,
                                 step, 1u << 20);
  ASSERT_EQ(higher.planes[0].size(), 300 + model.size());
  for (size_t i = 0; i < model.size(); ++i) ASSERT_NEAR(higher.planes[0][300 + i], model[i], 1e-6) << i;
}

// A play stopped 200 samples into its second frame gives those 200 of the file and ends, whether the
// voice reads its frames whole or only where they sound: the markers of the rest of the frame still
// arrive, and the source has moved on as far, in mono, stereo and eight channels alike.
TEST_F(SourceStageTest, AStopInsideAFrameEndsItAlikeReadWholeOrNot) {
  for (uint16_t channels : {1, 2, 8}) {
    Tools::ToneDesc tone = Tone(channels, 5000);
    if (channels == 8) tone.channelMask = 0x737;  // no LFE: the planes keep the file's order
    tone.markers = {{1, 1100, ""}, {2, 1500, ""}, {3, 4000, ""}};
    std::vector<std::pair<uint32_t, uint32_t>> markers[2];
    int64_t left[2] = {};
    for (bool soundingOnly : {false, true}) {
      Voice voice(Tools::WriteToneMedia(tone));
      ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
      voice.stage.SetSoundingPartOnly(soundingOnly);
      EXPECT_EQ(voice.Frame(1024), SN::SN_DataReady);
      voice.instance.stopOffset = 200;
      EXPECT_EQ(voice.Frame(1024), SN::SN_NoMoreData);
      for (uint32_t c = 0; c < channels; ++c) {
        const std::vector<double> x = FileChannel(voice.instance.media, channels, c);
        ASSERT_EQ(voice.planes[c].size(), 1224u);
        for (size_t i = 0; i < 1224; ++i) ASSERT_EQ(voice.planes[c][i], float(x[i])) << channels << " " << c << " " << i;
      }
      markers[soundingOnly] = voice.markers;
      left[soundingOnly] = voice.source->FramesLeft();
    }
    EXPECT_EQ(markers[true], markers[false]) << channels;
    EXPECT_EQ(markers[true].size(), 2u) << channels;
    EXPECT_EQ(left[true], left[false]) << channels;
  }
}

// A voice begun 300 samples into its frame that reads only where it sounds leaves that silence
// unwritten; when its source leaves the frame unfinished, the frame comes out whole in the next one,
// silence first, though another voice wrote the frames' shared block meanwhile.
TEST_F(SourceStageTest, AnUnfinishedFirstFrameKeepsItsOpeningSilence) {
  Voice other(Tools::WriteToneMedia(Tone(2, 6000)));
  Voice late(Tools::WriteToneMedia(Tone(2, 3000)));
  late.instance.hasInitialOffset = true;
  late.instance.initialOffset = -(1024 - 300);
  ASSERT_TRUE(other.Start<SN::CSnPcmSource>());
  ASSERT_TRUE(late.Start<LateSource>());
  late.stage.SetSoundingPartOnly(true);
  other.Frame(1024);
  ASSERT_EQ(late.Frame(1024), SN::SN_NoDataReady);
  EXPECT_EQ(late.stage.LeadingSilence(), 300u);
  other.Frame(1024);
  for (int frame = 0; frame < 20 && late.results.back() != SN::SN_NoMoreData; ++frame) late.Frame(1024);
  ASSERT_EQ(late.results.back(), SN::SN_NoMoreData);
  for (uint32_t c = 0; c < 2; ++c) {
    const std::vector<double> x = FileChannel(late.instance.media, 2, c);
    ASSERT_EQ(late.planes[c].size(), 3300u);
    for (size_t i = 0; i < 300; ++i) ASSERT_EQ(late.planes[c][i], 0.0f) << c << " " << i;
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(late.planes[c][300 + i], float(x[i])) << c << " " << i;
  }
}

// Virtual for a while (mode 2: the source keeps its place), the voice comes back on the sample it
// would have reached playing.
TEST_F(SourceStageTest, AVirtualVoiceResumesOnTheRightSample) {
  Voice voice(Tools::WriteToneMedia(Tone(1, 10000)));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.Frame(1000);
  voice.stage.VirtualOn(2);
  for (int i = 0; i < 3; ++i) {
    uint32_t frames = 1000;
    EXPECT_EQ(voice.stage.SkipWhileVirtual(frames), SN::SN_DataReady);
    EXPECT_EQ(frames, 1000u);
  }
  voice.stage.VirtualOff(2);
  voice.Frame(1000);
  const std::vector<double> x = FileChannel(voice.instance.media, 1, 0);
  ASSERT_EQ(voice.planes[0].size(), 2000u);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(voice.planes[0][1000 + i], float(x[4000 + i])) << i;
}

TEST_F(SourceStageTest, ChainedSourcesPlayWithoutAGap) {
  const std::vector<uint8_t> first = Tools::WriteToneMedia(Tone(2, 1500));
  Tools::ToneDesc secondTone = Tone(2, 900);
  secondTone.signal = Tools::ToneSignal::Ramp;
  FakeInstance nextInstance(Tools::WriteToneMedia(secondTone));
  SN::CSnPcmSource next(&nextInstance);
  Voice voice(first);
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.stage.AttachNext(&next, &nextInstance);
  voice.RunToEnd(1024);
  ASSERT_EQ(voice.planes[0].size(), 2400u);
  const std::vector<double> a = FileChannel(first, 2, 1), b = FileChannel(nextInstance.media, 2, 1);
  for (size_t i = 0; i < 1500; ++i) ASSERT_EQ(voice.planes[1][i], float(a[i]));
  for (size_t i = 0; i < 900; ++i) ASSERT_EQ(voice.planes[1][1500 + i], float(b[i]));
  EXPECT_EQ(voice.stage.Source(), &next);
  // The source handed on to tells its duration as it begins: 900 frames at 48 kHz.
  ASSERT_EQ(nextInstance.durations.size(), 1u);
  EXPECT_FLOAT_EQ(nextInstance.durations[0].first, 18.75f);
  voice.EndHandOver();

  // Another channel mask ends the first source instead.
  Tools::ToneDesc other = Tone(2, 900);
  other.channelMask = 0x5;
  FakeInstance otherInstance(Tools::WriteToneMedia(other));
  SN::CSnPcmSource otherSource(&otherInstance);
  Voice alone(first);
  ASSERT_TRUE(alone.Start<SN::CSnPcmSource>());
  alone.stage.AttachNext(&otherSource, &otherInstance);
  EXPECT_EQ(alone.RunToEnd(1024), SN::SN_NoMoreData);
  EXPECT_EQ(alone.planes[0].size(), 1500u);
  EXPECT_EQ(alone.stage.Source(), alone.source);
  otherSource.StopStream();
}

// A successor whose data has not arrived when the first source ends: the first ends there, its last
// frame at 24 kHz stepping down to silence as a source with none to follow does, and the stage lets
// the successor go (asked once) for the pipeline to begin on its own.
class NotReadySource final : public SN::CSnVoiceSource {
 public:
  explicit NotReadySource(SN::ISnSourceInstance* instance) : CSnVoiceSource(instance) {}
  SN::SNRESULT PrepareSource() override {
    ++prepares;
    return SN::SN_NotReadyYet;
  }
  void GetBuffer(SN::SnVoiceBuffer& buffer) override {
    buffer.Clear();
    buffer.result = SN::SN_NoDataReady;
  }
  int prepares = 0;
};

TEST_F(SourceStageTest, ASuccessorNotReadyAtTheEndIsLetGoAndTheFirstPlaysOutItsLastFrame) {
  FakeInstance nextInstance(Tools::WriteToneMedia(Tone(1, 900)));
  NotReadySource next(&nextInstance);
  Voice voice(Tools::WriteToneMedia(Tone(1, 1000, 24000)));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.stage.AttachNext(&next, &nextInstance);
  EXPECT_EQ(voice.RunToEnd(1024), SN::SN_NoMoreData);
  EXPECT_EQ(next.prepares, 1);
  EXPECT_EQ(voice.stage.Source(), voice.source);
  EXPECT_EQ(voice.stage.NextSource(), nullptr);
  EXPECT_TRUE(nextInstance.durations.empty());
  const std::vector<double> model = SourceTest::LerpModel::Run(
      SourceTest::LerpModel::Ended(FileChannel(voice.instance.media, 1, 0)), 0.0, 0x10000, 0x8000, 1u << 20);
  ASSERT_EQ(voice.planes[0].size(), model.size());
  for (size_t i = 0; i < model.size(); ++i) ASSERT_NEAR(voice.planes[0][i], model[i], 1e-6) << i;
}

// A successor that waits is not taken over: its wait counts from the first source's last output, so
// it loses the 548 frames the first left unwritten of its last frame (1500 = 1024 + 476). A wait of
// 600 leaves 52 for the next frame; one of 100 ends inside this frame's rest (100 - 548), and the
// successor asked for just that rest opens with its 100 frames of silence.
TEST_F(SourceStageTest, AWaitingSuccessorLosesTheRestOfTheFrameFromItsWait) {
  const std::vector<uint8_t> first = Tools::WriteToneMedia(Tone(1, 1500));
  for (const int32_t wait : {600, 548, 100}) {
    FakeInstance nextInstance(Tools::WriteToneMedia(Tone(1, 900)));
    nextInstance.hasInitialOffset = true;
    nextInstance.initialOffset = wait;
    SN::CSnPcmSource next(&nextInstance);
    Voice voice(first);
    ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
    voice.stage.AttachNext(&next, &nextInstance);
    EXPECT_EQ(voice.RunToEnd(1024), SN::SN_NoMoreData) << wait;
    EXPECT_EQ(voice.planes[0].size(), 1500u) << wait;
    EXPECT_EQ(voice.stage.Source(), voice.source) << wait;
    EXPECT_EQ(voice.stage.NextSource(), nullptr) << wait;
    EXPECT_EQ(nextInstance.initialOffset, wait - 548) << wait;
  }
  Voice rest(Tools::WriteToneMedia(Tone(1, 900)));
  rest.instance.hasInitialOffset = true;
  rest.instance.initialOffset = 100 - 548;
  ASSERT_TRUE(rest.Start<SN::CSnPcmSource>());
  rest.Frame(548);
  const std::vector<double> x = FileChannel(rest.instance.media, 1, 0);
  ASSERT_EQ(rest.planes[0].size(), 548u);
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(rest.planes[0][i], 0.0f) << i;
  for (size_t i = 100; i < 548; ++i) ASSERT_EQ(rest.planes[0][i], float(x[i - 100])) << i;
}

// A hand-over inside a frame of four channels, from media played as it is (written interleaved, set
// in planes as the frame is delivered) to media resampled (written in planes): what the frame already
// holds of the first is reordered in room the stage made when the next source was attached. No frame
// takes anything from the C++ heap, and the first source's samples stay exact.
TEST_F(SourceStageTest, AFourChannelHandOverReordersItsFrameWithoutTheHeap) {
  Tools::ToneDesc firstTone = Tone(4, 1500);
  firstTone.channelMask = 0x33;  // no LFE: the planes keep the file's order
  Tools::ToneDesc secondTone = Tone(4, 900, 24000);
  secondTone.channelMask = 0x33;
  secondTone.signal = Tools::ToneSignal::Ramp;
  FakeInstance nextInstance(Tools::WriteToneMedia(secondTone));
  SN::CSnPcmSource next(&nextInstance);
  Voice voice(Tools::WriteToneMedia(firstTone));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  voice.stage.AttachNext(&next, &nextInstance);
  std::vector<std::vector<float>> planes(4);
  SN::SNRESULT result = SN::SN_DataReady;
  uint64_t heap = 0;
  for (int frame = 0; frame < 8 && result == SN::SN_DataReady; ++frame) {
    SN::SnVoiceBuffer out;
    out.maxFrames = 1024;
    {
      SourceTest::HeapCounter counter;
      result = voice.stage.RunFrame(out);
      heap += counter.Count();
    }
    for (uint32_t c = 0; c < 4; ++c)
      for (uint32_t i = 0; i < out.validFrames; ++i) planes[c].push_back(out.Plane(c)[i]);
    out.FreeMarkers();
  }
  EXPECT_EQ(result, SN::SN_NoMoreData);
  EXPECT_EQ(heap, 0u);
  EXPECT_EQ(voice.stage.Source(), &next);
  ASSERT_GE(planes[0].size(), 1500u + 1700u);
  for (uint32_t c = 0; c < 4; ++c) {
    const std::vector<double> x = FileChannel(voice.instance.media, 4, c);
    for (size_t i = 0; i < 1500; ++i) ASSERT_EQ(planes[c][i], float(x[i])) << c << " " << i;
    EXPECT_NE(planes[c][1600], 0.0f) << c;
  }
  voice.EndHandOver();
}

// Voices take their turns frame by frame, as the pipeline runs them: each one's frames are its own
// file's, whether its source left a frame unfinished while the others played, or its frames are too
// large to share a block with theirs.
TEST_F(SourceStageTest, VoicesTakingTurnsKeepTheirOwnFrames) {
  Voice late(Tools::WriteToneMedia(Tone(2, 6000)));
  Voice steady(Tools::WriteToneMedia(Tone(1, 6000)));
  Tools::ToneDesc wideTone = Tone(8, 9000);
  wideTone.channelMask = 0x737;  // no LFE: the planes keep the file's order
  Voice wide(Tools::WriteToneMedia(wideTone));
  ASSERT_TRUE(late.Start<LateSource>());
  ASSERT_TRUE(steady.Start<SN::CSnPcmSource>());
  ASSERT_TRUE(wide.Start<SN::CSnPcmSource>());
  auto playing = [](const Voice& voice) {
    return voice.results.empty() || voice.results.back() == SN::SN_DataReady ||
           voice.results.back() == SN::SN_NoDataReady;
  };
  for (int frame = 0; frame < 40 && (playing(late) || playing(steady) || playing(wide)); ++frame) {
    if (playing(late)) late.Frame(1024);
    if (playing(steady)) steady.Frame(1024);
    if (playing(wide)) wide.Frame(4096);
  }
  const auto unfinished = std::count(late.results.begin(), late.results.end(), SN::SN_NoDataReady);
  EXPECT_GE(unfinished, 3);
  EXPECT_EQ(late.results.back(), SN::SN_NoMoreData);
  EXPECT_EQ(steady.results.back(), SN::SN_NoMoreData);
  EXPECT_EQ(wide.results.back(), SN::SN_NoMoreData);
  for (Voice* voice : {&late, &steady, &wide}) {
    const uint32_t channels = uint32_t(voice->planes.size());
    for (uint32_t c = 0; c < channels; ++c) {
      const std::vector<double> x = FileChannel(voice->instance.media, channels, c);
      ASSERT_EQ(voice->planes[c].size(), x.size()) << channels << " channels";
      for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(voice->planes[c][i], float(x[i])) << channels << " channels, " << i;
    }
  }
}

// At 24 kHz and 2048 samples a frame a motion voice runs 8 frames at 93 Hz; a pitch change there ramps
// 516 a step, which does not divide 1024: the ramp still ends and every frame returns.
TEST_F(SourceStageTest, MotionVoicesAt24kHzRampToTheirEnd) {
  SN::LowerEngine::SetSampleRate(24000);
  SN::LowerEngine::SetSamplesPerFrame(2048);
  Voice voice(Tools::WriteToneMedia(Tone(1, 400, 93)));
  voice.instance.motion = true;
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>(93));
  EXPECT_EQ(voice.stage.FramesPerBuffer(), 8u);
  voice.Frame(8);
  voice.instance.pitch = 1200.0f;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(voice.Frame(8), SN::SN_DataReady);
  EXPECT_EQ(voice.stage.Resampler().m_state, SN::SnResample_Fixed);
  EXPECT_EQ(voice.stage.Resampler().m_currentStep, 0x20000u);
  EXPECT_EQ(voice.RunToEnd(8), SN::SN_NoMoreData);
  // The same pitch change of a 1024-frame voice at 24 kHz ramps over 512 outputs.
  Voice normal(Tools::WriteToneMedia(Tone(1, 4000, 24000)));
  ASSERT_TRUE(normal.Start<SN::CSnPcmSource>(24000));
  normal.Frame(256);
  normal.instance.pitch = 1200.0f;
  normal.Frame(256);
  EXPECT_EQ(normal.stage.Resampler().m_state, SN::SnResample_Ramp);
  normal.Frame(256);
  EXPECT_EQ(normal.stage.Resampler().m_state, SN::SnResample_Fixed);
}

// The frames a looped source gives, pass after pass (`passes` 0: more than any play here reaches),
// then the silence after its end.
std::vector<double> LoopedFrames(const std::vector<double>& x, uint32_t begin, uint16_t passes) {
  std::vector<double> frames(x);
  for (int pass = 1; pass < (passes ? passes : 200); ++pass) frames.insert(frames.end(), x.begin() + begin, x.end());
  if (passes) frames.push_back(0.0);
  return frames;
}

// Resampled from every rate, pitched and not, PCM and ADPCM: a loop's last frame steps on to its first
// as within the loop, and the last frame of the last pass steps down to the silence after it, so
// every source frame is heard for its whole time (a 12 kHz play of n frames lasts 4n outputs). Within
// 1e-6 of the model: a thirtieth of a 16-bit step.
TEST_F(SourceStageTest, ALoopedResampledSourcePlaysEveryFrameAcrossItsJointsAndItsEnd) {
  for (uint32_t rate : {12000u, 22050u, 24000u, 44100u, 96000u})
    for (float cents : {0.0f, -500.0f, 700.0f})
      for (bool adpcm : {false, true})
        for (uint16_t passes : {uint16_t(1), uint16_t(3), uint16_t(0)}) {
          Tools::ToneDesc tone = Tone(1, 1280, rate);
          tone.loop = true;
          tone.loopStart = 128;  // on a block, as ADPCM loops are
          tone.loopEnd = 1279;
          if (adpcm) tone.encoding = Tools::MediaEncoding::ImaAdpcm;
          Voice voice(Tools::WriteToneMedia(tone), adpcm ? 0x20000 : 0x10000);
          voice.instance.loopCount = passes;
          voice.instance.pitch = cents;
          const bool started = adpcm ? voice.Start<SN::CSnAdpcmSource>() : voice.Start<SN::CSnPcmSource>();
          ASSERT_TRUE(started);
          voice.RunToEnd(1024, 24);
          std::vector<double> x;
          if (adpcm) {
            const SourceTest::WaveFile wave = SourceTest::ReadWave(voice.instance.media);
            for (int16_t s : SourceTest::ReferenceDecode(wave.data.data(), wave.data.size(), 1))
              x.push_back(s / 32768.0);
          } else {
            x = FileChannel(voice.instance.media, 1, 0);
          }
          const uint32_t step = voice.stage.Resampler().m_currentStep;
          // A loop for ever is held to the frames played; any other play is heard to its end.
          const size_t most = passes ? size_t(1) << 20 : voice.planes[0].size();
          const std::vector<double> model =
              SourceTest::LerpModel::Run(LoopedFrames(x, 128, passes), 0.0, 0x10000, step, most);
          const std::string which = std::to_string(rate) + " Hz, " + std::to_string(int(cents)) + " cents, " +
                                    (adpcm ? "ADPCM, " : "PCM, ") + std::to_string(passes) + " passes";
          if (passes) {
            EXPECT_EQ(voice.results.back(), SN::SN_NoMoreData) << which;
          }
          ASSERT_EQ(voice.planes[0].size(), model.size()) << which;
          for (size_t i = 0; i < model.size(); ++i)
            ASSERT_NEAR(voice.planes[0][i], model[i], 1e-6) << which << ", " << i;
        }
}

// The outputs after the last frame that do not fit its output frame open the next one, and only then
// does the voice end: 257 frames at 12 kHz make 1028 outputs, 1024 and 4.
TEST_F(SourceStageTest, TheOutputsAfterTheLastFrameOpenTheNextOutputFrame) {
  Voice voice(Tools::WriteToneMedia(Tone(2, 257, 12000)));
  ASSERT_TRUE(voice.Start<SN::CSnPcmSource>());
  EXPECT_EQ(voice.RunToEnd(1024), SN::SN_NoMoreData);
  EXPECT_EQ(voice.results, (std::vector<SN::SNRESULT>{SN::SN_DataReady, SN::SN_NoMoreData}));
  for (uint32_t c = 0; c < 2; ++c) {
    const double last = FileChannel(voice.instance.media, 2, c)[256];
    ASSERT_EQ(voice.planes[c].size(), 1028u);
    for (uint32_t k = 0; k < 4; ++k)
      EXPECT_NEAR(voice.planes[c][1024 + k], last * (4 - k) / 4.0, 1e-6) << "channel " << c << ", output " << k;
  }
}

}  // namespace
