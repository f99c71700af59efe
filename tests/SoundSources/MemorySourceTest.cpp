// PCM and ADPCM sources over generated media in memory: what each buffer holds against the file read
// apart, loops and passes, seeks by time, fraction, marker and into loops, durations, the envelope,
// refusals, and the factory that chooses the source.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Sources/AdpcmSource.h"
#include "SoundEngine/Sources/PcmSource.h"
#include "tests/SoundSources/FakeInstance.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

using SourceTest::FakeInstance;

Tools::ToneDesc RampTone(uint16_t channels, uint32_t frames) {
  Tools::ToneDesc tone;
  tone.channels = channels;
  tone.frames = frames;
  tone.signal = Tools::ToneSignal::Ramp;
  return tone;
}

// Every frame a source gives, interleaved 16-bit, until it ends or `most` buffers were asked for.
struct Pulled {
  std::vector<int16_t> samples;
  std::vector<uint32_t> firstPositions;
  SN::SNRESULT last = SN::SN_Success;
};
Pulled Pull(SN::CSnVoiceSource& source, uint32_t channels, uint16_t request, int most = 100000) {
  Pulled p;
  for (int i = 0; i < most; ++i) {
    SN::SnVoiceBuffer b;
    b.maxFrames = request;
    source.GetBuffer(b);
    p.last = b.result;
    if (b.validFrames) {
      const int16_t* s = static_cast<const int16_t*>(b.data);
      p.samples.insert(p.samples.end(), s, s + size_t(b.validFrames) * channels);
      p.firstPositions.push_back(b.position.position);
    }
    b.FreeMarkers();
    source.ReleaseBuffer();
    if (b.result != SN::SN_DataReady) break;
  }
  return p;
}

std::vector<int16_t> FileSamples(const std::vector<uint8_t>& media) {
  const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
  std::vector<int16_t> s(wave.data.size() / 2);
  memcpy(s.data(), wave.data.data(), s.size() * 2);
  return s;
}

class MemorySourceTest : public SourceTest::PoolFixture {};

TEST_F(MemorySourceTest, PcmGivesTheFileFrameByFrameAndEnds) {
  for (uint16_t channels : {1, 2, 6, 8}) {
    Tools::ToneDesc tone = RampTone(channels, 1000);
    tone.channelMask = channels == 6 ? 0x60F : channels == 8 ? 0x63F : 0;
    FakeInstance instance(Tools::WriteToneMedia(tone));
    SN::CSnPcmSource source(&instance);
    ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
    EXPECT_EQ(instance.formatsSet, 1);
    EXPECT_EQ(instance.format.sampleRate, 48000u);
    EXPECT_EQ(instance.format.Channels(), channels);
    EXPECT_EQ(instance.format.BitsPerSample(), 16u);
    EXPECT_EQ(instance.format.BlockAlign(), 2u * channels);
    EXPECT_EQ(SN::ChannelMask(instance.format.channelConfig), Tools::ToneChannelMask(tone));
    EXPECT_EQ(source.TotalLength(), 1000u);
    const Pulled p = Pull(source, channels, 256);
    EXPECT_EQ(p.last, SN::SN_NoMoreData);
    EXPECT_EQ(p.samples, FileSamples(instance.media));
    EXPECT_EQ(p.firstPositions, (std::vector<uint32_t>{0, 256, 512, 768}));
  }
}

TEST_F(MemorySourceTest, LoopsPlayTheirPassesForeverAndStopLooping) {
  Tools::ToneDesc tone = RampTone(1, 300);
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 199;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  const std::vector<int16_t> file = FileSamples(instance.media);
  std::vector<int16_t> threePasses(file.begin(), file.begin() + 200);
  for (int pass = 0; pass < 2; ++pass) threePasses.insert(threePasses.end(), file.begin() + 100, file.begin() + 200);
  threePasses.insert(threePasses.end(), file.begin() + 200, file.end());

  instance.loopCount = 3;
  SN::CSnPcmSource three(&instance);
  ASSERT_EQ(three.PrepareSource(), SN::SN_Success);
  EXPECT_FLOAT_EQ(three.GetDuration(), (100.0f * 2 + 300.0f) * 1000.0f / 48000.0f);
  const Pulled p = Pull(three, 1, 64);
  EXPECT_EQ(p.samples, threePasses);
  EXPECT_EQ(p.last, SN::SN_NoMoreData);

  instance.loopCount = 0;
  SN::CSnPcmSource forever(&instance);
  ASSERT_EQ(forever.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(forever.GetDuration(), 0.0f);
  const Pulled many = Pull(forever, 1, 64, 40);
  EXPECT_EQ(many.last, SN::SN_DataReady);
  EXPECT_GE(many.samples.size(), 2000u);
  EXPECT_EQ(forever.StopLooping(), SN::SN_Success);
  const Pulled rest = Pull(forever, 1, 64);
  EXPECT_EQ(rest.last, SN::SN_NoMoreData);
  EXPECT_EQ(rest.samples.back(), file.back());
  EXPECT_LE(rest.samples.size(), 200u);
}

// The frames a source has still to give, through its passes: with what it gave, always the whole
// play; none unknown before it is prepared or while it loops for ever.
TEST_F(MemorySourceTest, FramesLeftCountTheRestOfEveryPass) {
  Tools::ToneDesc tone = RampTone(1, 300);
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 199;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  for (uint16_t passes : {uint16_t(1), uint16_t(2), uint16_t(3)}) {
    instance.loopCount = passes;
    SN::CSnPcmSource source(&instance);
    EXPECT_EQ(source.FramesLeft(), -1);
    ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
    const int64_t whole = 300 + 100 * (passes - 1);
    int64_t given = 0;
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(source.FramesLeft() + given, whole) << "passes " << passes << " buffer " << i;
      SN::SnVoiceBuffer b;
      b.maxFrames = 64;
      source.GetBuffer(b);
      given += b.validFrames;
      b.FreeMarkers();
      source.ReleaseBuffer();
      if (b.result != SN::SN_DataReady) break;
    }
    EXPECT_EQ(given, whole);
    EXPECT_EQ(source.FramesLeft(), 0);
  }
  instance.loopCount = 0;
  SN::CSnPcmSource forever(&instance);
  ASSERT_EQ(forever.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(forever.FramesLeft(), -1);
}

TEST_F(MemorySourceTest, MarkersRideTheBuffersThatHoldThem) {
  Tools::ToneDesc tone = RampTone(2, 600);
  tone.markers = {{1, 0, "start"}, {2, 130, ""}, {3, 599, "end"}};
  FakeInstance instance(Tools::WriteToneMedia(tone));
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  std::vector<std::pair<uint32_t, uint32_t>> seen;  // id, source frame
  for (;;) {
    SN::SnVoiceBuffer b;
    b.maxFrames = 128;
    source.GetBuffer(b);
    for (uint16_t i = 0; i < b.markerCount; ++i)
      seen.push_back({b.markers[i].id, b.position.position + b.markers[i].offset});
    b.FreeMarkers();
    if (b.result != SN::SN_DataReady) break;
  }
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {2, 130}, {3, 599}}));
}

TEST_F(MemorySourceTest, SeeksByTimeFractionMarkerAndIntoLoops) {
  Tools::ToneDesc tone = RampTone(1, 1200);
  tone.sampleRate = 24000;
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 999;
  tone.markers = {{5, 650, ""}, {6, 720, ""}};
  FakeInstance instance(Tools::WriteToneMedia(tone));
  instance.loopCount = 3;
  // 2500 media frames at 24 kHz are 5000 output frames at 48 kHz: two passes of 900, 700 in the third.
  instance.seek = SN::SnSeekRequest{true, false, false, 0.0f, 5000, 0};
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(source.Position(), 700u);
  EXPECT_EQ(source.LoopCount(), 1u);
  EXPECT_FALSE(instance.seek.pending);

  instance.seek = SN::SnSeekRequest{true, false, true, 0.0f, 5000, 0};
  ASSERT_EQ(source.VirtualOff(0, false), SN::SN_Success);
  EXPECT_EQ(source.Position(), 0u);
  EXPECT_EQ(source.ApplyPendingSeek(), SN::SN_Success);
  EXPECT_EQ(source.Position(), 720u);  // snapped to the nearest marker

  // A fraction of the whole play: duration (900 x 2 + 1200) frames; half of it is frame 1500,
  // which lies in the second pass at 100 + 500.
  instance.seek = SN::SnSeekRequest{true, true, false, 0.5f, 0, 0};
  ASSERT_EQ(source.VirtualOff(0, false), SN::SN_Success);
  ASSERT_EQ(source.Seek(), SN::SN_Success);
  EXPECT_EQ(source.Position(), 600u);
  EXPECT_EQ(source.LoopCount(), 2u);

  uint32_t position = 0;
  uint16_t remaining = 0;
  SN::MapOffsetIntoLoops(2500, 100, 999, 3, position, remaining);
  EXPECT_EQ(position, 700u);
  EXPECT_EQ(remaining, 1u);
  SN::MapOffsetIntoLoops(5000, 100, 999, 3, position, remaining);
  EXPECT_EQ(position, 5000u - 2u * 900u);
  SN::MapOffsetIntoLoops(2500, 100, 999, 0, position, remaining);
  EXPECT_EQ(position, 700u);
  EXPECT_EQ(remaining, 0u);
  SN::MapOffsetIntoLoops(2500, 100, 999, 1, position, remaining);
  EXPECT_EQ(position, 2500u);

  // Past the media: refused.
  instance.loopCount = 1;
  SN::CSnPcmSource once(&instance);
  instance.seek = SN::SnSeekRequest{true, false, false, 0.0f, 4000, 0};
  EXPECT_EQ(once.PrepareSource(), SN::SN_Failure);
}

TEST_F(MemorySourceTest, EnvelopeGivesDecibelsAlongItsPoints) {
  Tools::ToneDesc tone = RampTone(1, 1000);
  tone.envelope = {{0, 0}, {400, 20}, {800, 10}};
  tone.envelopeReference = 2.0f;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(0), -2.0f);
  Pull(source, 1, 200, 1);  // position 200
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(0), -(0.0f + 20.0f * 200.0f / 400.0f) - 2.0f);
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(100), -(20.0f * 100.0f / 400.0f) - 2.0f);
  Pull(source, 1, 400, 1);  // position 600
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(0), -(20.0f - 10.0f * 200.0f / 400.0f) - 2.0f);
  Pull(source, 1, 300, 1);  // position 900: past the last point
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(0), -10.0f - 2.0f);
  // Back to the beginning: the look-up wraps to the first point.
  ASSERT_EQ(source.VirtualOff(0, false), SN::SN_Success);
  EXPECT_FLOAT_EQ(source.GetEnvelopeDb(0), -2.0f);
}

TEST_F(MemorySourceTest, MediaThatCannotPlayAreRefused) {
  FakeInstance none;
  SN::CSnPcmSource noMedia(&none);
  EXPECT_EQ(noMedia.PrepareSource(), SN::SN_Failure);

  Tools::ToneDesc trailing = RampTone(1, 100);
  trailing.fault = Tools::MediaFault::TrailingBytes;
  FakeInstance extra(Tools::WriteToneMedia(trailing));
  SN::CSnPcmSource withTrailing(&extra);
  EXPECT_EQ(withTrailing.PrepareSource(), SN::SN_Failure);

  Tools::ToneDesc outside = RampTone(1, 100);
  outside.loop = true;
  outside.loopStart = 50;
  outside.loopEnd = 100;
  FakeInstance loopPast(Tools::WriteToneMedia(outside));
  loopPast.loopCount = 2;
  SN::CSnPcmSource pastEnd(&loopPast);
  EXPECT_EQ(pastEnd.PrepareSource(), SN::SN_Failure);

  for (Tools::MediaFault fault : {Tools::MediaFault::BlockAlignZero, Tools::MediaFault::RateZero,
                                  Tools::MediaFault::NoChannels, Tools::MediaFault::Bits24,
                                  Tools::MediaFault::CueCountPastChunk}) {
    Tools::ToneDesc bad = RampTone(2, 100);
    bad.markers = {{1, 1, ""}};
    bad.fault = fault;
    FakeInstance instance(Tools::WriteToneMedia(bad));
    SN::CSnPcmSource source(&instance);
    EXPECT_EQ(source.PrepareSource(), SN::SNRESULT(7)) << int(fault);
  }
  // ADPCM media given to the PCM source, and the other way round.
  Tools::ToneDesc adpcm = RampTone(1, 128);
  adpcm.encoding = Tools::MediaEncoding::ImaAdpcm;
  FakeInstance adpcmMedia(Tools::WriteToneMedia(adpcm));
  SN::CSnPcmSource wrongCodec(&adpcmMedia);
  EXPECT_EQ(wrongCodec.PrepareSource(), SN::SNRESULT(7));
  FakeInstance pcmMedia(Tools::WriteToneMedia(RampTone(1, 128)));
  SN::CSnAdpcmSource wrongAgain(&pcmMedia);
  EXPECT_EQ(wrongAgain.PrepareSource(), SN::SNRESULT(7));
  // An "XWMA" form parses, but neither built-in source plays it.
  Tools::ToneDesc xwma = RampTone(1, 128);
  xwma.xwmaForm = true;
  FakeInstance xwmaMedia(Tools::WriteToneMedia(xwma));
  SN::CSnPcmSource xwmaSource(&xwmaMedia);
  EXPECT_EQ(xwmaSource.PrepareSource(), SN::SNRESULT(7));
}

TEST_F(MemorySourceTest, MonoFloatMediaPlaysPlanar) {
  Tools::ToneDesc tone = RampTone(1, 300);
  tone.encoding = Tools::MediaEncoding::Float32;
  tone.signal = Tools::ToneSignal::Sine;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(instance.format.BitsPerSample(), 32u);
  EXPECT_EQ(instance.format.SampleType(), 1u);
  EXPECT_TRUE(instance.format.IsPlanar());
  SN::SnVoiceBuffer b;
  b.maxFrames = 300;
  source.GetBuffer(b);
  ASSERT_EQ(b.validFrames, 300u);
  for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(static_cast<const float*>(b.data)[i], Tools::ToneFloatSample(tone, i));
}

Tools::ToneDesc AdpcmTone(uint16_t channels, uint32_t frames) {
  Tools::ToneDesc tone = RampTone(channels, frames);
  tone.encoding = Tools::MediaEncoding::ImaAdpcm;
  tone.signal = Tools::ToneSignal::Sine;
  return tone;
}

TEST_F(MemorySourceTest, AdpcmDecodesWholeBlocksEqualToTheReference) {
  for (uint16_t channels : {1, 2}) {
    FakeInstance instance(Tools::WriteToneMedia(AdpcmTone(channels, 640)));
    SN::CSnAdpcmSource source(&instance);
    ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
    EXPECT_EQ(source.TotalLength(), 640u);
    EXPECT_EQ(instance.format.BitsPerSample(), 16u);
    EXPECT_EQ(instance.format.BlockAlign(), 2u * channels);
    const SourceTest::WaveFile wave = SourceTest::ReadWave(instance.media);
    const Pulled p = Pull(source, channels, 100);  // 100 frames asked: one block of 64 given
    EXPECT_EQ(p.firstPositions.size(), 10u);
    EXPECT_EQ(p.firstPositions[1], 64u);
    EXPECT_EQ(p.last, SN::SN_NoMoreData);
    EXPECT_EQ(p.samples, SourceTest::ReferenceDecode(wave.data.data(), wave.data.size(), channels));
  }
}

TEST_F(MemorySourceTest, AdpcmSeeksToBlocksAndLeavesTheRestToDrop) {
  FakeInstance instance(Tools::WriteToneMedia(AdpcmTone(2, 640)));
  instance.seek = SN::SnSeekRequest{true, false, false, 0.0f, 100, 0};
  SN::CSnAdpcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(source.Position(), 64u);
  EXPECT_EQ(instance.seek.framesToDrop, 36u);
  const SourceTest::WaveFile wave = SourceTest::ReadWave(instance.media);
  const std::vector<int16_t> all = SourceTest::ReferenceDecode(wave.data.data(), wave.data.size(), 2);
  const Pulled p = Pull(source, 2, 1024);
  EXPECT_EQ(p.samples, std::vector<int16_t>(all.begin() + 64 * 2, all.end()));
  instance.seek = SN::SnSeekRequest{true, false, false, 0.0f, 640, 0};
  EXPECT_EQ(source.Seek(), SN::SN_Failure);
}

// Data ending half way into a block group: the length counts whole groups and the source ends.
TEST_F(MemorySourceTest, AdpcmPartialGroupEnds) {
  Tools::ToneDesc tone = AdpcmTone(2, 320);
  tone.fault = Tools::MediaFault::PartialBlockGroup;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  SN::CSnAdpcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(source.TotalLength(), 320u);
  const Pulled p = Pull(source, 2, 1024, 50);
  EXPECT_EQ(p.last, SN::SN_NoMoreData);
  EXPECT_EQ(p.samples.size(), 640u);
}

// A loop end + 1 off a block boundary is taken down to its block, at least one block past the loop's
// first block, so every buffer of the loop holds a whole block.
TEST_F(MemorySourceTest, AdpcmLoopsKeepToWholeBlocks) {
  Tools::ToneDesc tone = AdpcmTone(1, 640);
  tone.loop = true;
  tone.loopStart = 70;
  tone.loopEnd = 100;  // 101 is off a block boundary and inside the loop's first block
  FakeInstance instance(Tools::WriteToneMedia(tone));
  instance.loopCount = 3;
  SN::CSnAdpcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  EXPECT_EQ(source.LoopBegin(), 64u);
  EXPECT_EQ(source.LoopEnd(), 127u);
  const Pulled p = Pull(source, 1, 1024, 100);
  EXPECT_EQ(p.last, SN::SN_NoMoreData);
  EXPECT_EQ(p.samples.size(), 640u + 2u * 64u);
  for (uint32_t first : p.firstPositions) EXPECT_EQ(first % 64, 0u);
}

TEST_F(MemorySourceTest, AdpcmStepIndexPast88IsLoggedOnce) {
  Tools::ToneDesc tone = AdpcmTone(1, 640);
  tone.fault = Tools::MediaFault::StepIndexPast88;
  FakeInstance instance(Tools::WriteToneMedia(tone));
  instance.loopCount = 0;
  SN::CSnAdpcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  log_.Take();
  Pull(source, 1, 64, 30);
  const std::string text = log_.Take();
  const size_t first = text.find("step index");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("step index", first + 1), std::string::npos);
}

TEST_F(MemorySourceTest, MotionVoicesGetAWholeBlock) {
  FakeInstance instance(Tools::WriteToneMedia(AdpcmTone(1, 256)));
  instance.motion = true;
  SN::CSnAdpcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  const Pulled p = Pull(source, 1, 8, 10);
  EXPECT_EQ(p.last, SN::SN_NoMoreData);
  EXPECT_EQ(p.samples.size(), 256u);
}

TEST_F(MemorySourceTest, RelocatedMediaReadOnFromTheirNewPlace) {
  Tools::ToneDesc tone = RampTone(2, 500);
  FakeInstance instance(Tools::WriteToneMedia(tone));
  const std::vector<int16_t> file = FileSamples(instance.media);
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  Pulled first = Pull(source, 2, 100, 1);
  std::vector<uint8_t> moved = instance.media;
  source.RelocateMedia(moved.data(), instance.media.data());
  std::fill(instance.media.begin(), instance.media.end(), uint8_t(0x55));
  const Pulled rest = Pull(source, 2, 100);
  first.samples.insert(first.samples.end(), rest.samples.begin(), rest.samples.end());
  EXPECT_EQ(first.samples, file);
}

// An ADPCM source skipped over its loop's end and into a block, then back from virtual: from the start
// (mode 0), or where the skips took it (1, and 2 as a voice culled while inaudible comes back), it
// decodes the block its position lies in and leaves the frames before the position for the stage.
TEST_F(MemorySourceTest, AnAdpcmSourceBackFromVirtualDecodesTheBlockOfItsPosition) {
  Tools::ToneDesc tone = RampTone(1, 640);
  tone.encoding = Tools::MediaEncoding::ImaAdpcm;
  tone.loop = true;
  tone.loopStart = 128;
  tone.loopEnd = 511;
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  FakeInstance once(media, 0x20000);
  SN::CSnAdpcmSource reference(&once);
  ASSERT_EQ(reference.PrepareSource(), SN::SN_Success);
  const std::vector<int16_t> decoded = Pull(reference, 1, 64).samples;
  ASSERT_EQ(decoded.size(), 640u);
  for (const uint32_t mode : {0u, 1u, 2u}) {
    FakeInstance instance(media, 0x20000);
    instance.loopCount = 3;
    SN::CSnAdpcmSource source(&instance);
    ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
    source.VirtualOn(mode);
    // 450, then 62 to the loop's end and back to 128, then 100: frame 228, 36 into block 3.
    for (uint32_t frames : {450u, 100u, 100u}) ASSERT_EQ(source.SkipFrames(frames), SN::SN_DataReady);
    ASSERT_EQ(source.Position(), 228u);
    ASSERT_EQ(source.VirtualOff(mode, false), SN::SN_Success);
    const uint32_t block = mode == 0 ? 0 : 192;
    EXPECT_EQ(instance.seek.framesToDrop, mode == 0 ? 0u : 36u) << mode;
    EXPECT_EQ(source.LoopCount(), mode == 0 ? 3u : 2u) << mode;
    const Pulled next = Pull(source, 1, 64, 1);
    ASSERT_EQ(next.firstPositions, std::vector<uint32_t>{block}) << mode;
    EXPECT_EQ(next.samples, std::vector<int16_t>(decoded.begin() + block, decoded.begin() + block + 64)) << mode;
  }
}

TEST_F(MemorySourceTest, SkippingWhileVirtualTellsMarkersAndWraps) {
  Tools::ToneDesc tone = RampTone(1, 400);
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 299;
  tone.markers = {{9, 250, ""}};
  FakeInstance instance(Tools::WriteToneMedia(tone));
  instance.loopCount = 2;
  instance.tracksPosition = true;
  SN::CSnPcmSource source(&instance);
  ASSERT_EQ(source.PrepareSource(), SN::SN_Success);
  uint32_t frames = 200;
  EXPECT_EQ(source.SkipFrames(frames), SN::SN_DataReady);
  EXPECT_EQ(frames, 200u);
  frames = 200;
  EXPECT_EQ(source.SkipFrames(frames), SN::SN_DataReady);
  EXPECT_EQ(frames, 100u);  // up to the loop end
  EXPECT_EQ(source.Position(), 100u);
  EXPECT_EQ(source.LoopCount(), 1u);
  EXPECT_EQ(instance.markers, (std::vector<uint32_t>{9}));
  frames = 1000;
  EXPECT_EQ(source.SkipFrames(frames), SN::SN_NoMoreData);
  EXPECT_EQ(frames, 300u);
  EXPECT_EQ(instance.positions, (std::vector<uint32_t>{0, 200, 100}));
}

}  // namespace
