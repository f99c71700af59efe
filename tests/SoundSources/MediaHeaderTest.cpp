// The media parser over media the media writer makes: what it takes from each chunk, the edge cases
// of the layout, and the malformed variants it refuses instead of reading past a chunk.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Banks/SourceDesc.h"
#include "SoundEngine/Sources/MarkerList.h"
#include "SoundEngine/Sources/MediaHeader.h"
#include "SoundEngine/Sources/SourceInstance.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

using Tools::MediaFault;
using Tools::ToneDesc;

struct Parsed {
  SN::SNRESULT result = SN::SN_Failure;
  SN::SnMediaChunk fmt, akd, seek;
  uint32_t loopBegin = 99, loopEnd = 99, dataSize = 0, dataOffset = 0;
  SN::SnWaveFormat format;
};

class MediaHeaderTest : public SourceTest::PoolFixture {
 protected:
  Parsed Parse(const std::vector<uint8_t>& media, SN::CSnMarkerList* markers = nullptr) {
    Parsed p;
    p.result = SN::ParseMediaHeader(media.data(), uint32_t(media.size()), p.fmt, markers, p.loopBegin, p.loopEnd,
                                    p.dataSize, p.dataOffset, &p.akd, &p.seek);
    if (p.result == SN::SN_Success) SN::ReadWaveFormat(p.fmt, p.format);
    return p;
  }
  static ToneDesc Tone(uint16_t channels = 2, uint32_t frames = 256) {
    ToneDesc tone;
    tone.channels = channels;
    tone.frames = frames;
    tone.signal = Tools::ToneSignal::Ramp;
    return tone;
  }
};

// A chunk of any tag and body, and media put together from chunks.
void Chunk(std::vector<uint8_t>& out, const char* tag, const std::vector<uint8_t>& body, uint32_t size) {
  out.insert(out.end(), tag, tag + 4);
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(size >> (8 * i)));
  out.insert(out.end(), body.begin(), body.end());
}
// The writer's "fmt " body: 40 bytes after the chunk header at 12.
std::vector<uint8_t> FormatBody(const std::vector<uint8_t>& media) {
  return std::vector<uint8_t>(media.begin() + 20, media.begin() + 60);
}
std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks) {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

TEST_F(MediaHeaderTest, GeneratedMediaGiveTheirFormatDataMarkersLoopAndEnvelope) {
  ToneDesc tone = Tone(2, 1000);
  tone.markers = {{7, 100, "seven"}, {9, 300, ""}, {11, 999, "odd"}};
  tone.loop = true;
  tone.loopStart = 100;
  tone.loopEnd = 899;
  tone.envelope = {{0, 0}, {500, 12}};
  tone.envelopeReference = -3.0f;
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  SN::CSnMarkerList markers;
  const Parsed p = Parse(media, &markers);
  ASSERT_EQ(p.result, SN::SN_Success);
  const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
  EXPECT_EQ(p.dataOffset, wave.dataOffset);
  EXPECT_EQ(p.dataSize, 4000u);
  EXPECT_EQ(p.dataOffset + p.dataSize, media.size());
  EXPECT_EQ(p.format.formatTag, SN::kWaveFormatExtensible);
  EXPECT_EQ(p.format.channels, 2);
  EXPECT_EQ(p.format.sampleRate, 48000u);
  EXPECT_EQ(p.format.blockAlign, 4);
  EXPECT_EQ(p.format.bitsPerSample, 16);
  EXPECT_EQ(p.format.channelMask, 0x3u);
  EXPECT_EQ(p.loopBegin, 100u);
  EXPECT_EQ(p.loopEnd, 899u);
  ASSERT_EQ(markers.Count(), 3u);
  EXPECT_EQ(markers[0].id, 7u);
  EXPECT_EQ(markers[0].position, 100u);
  EXPECT_STREQ(markers[0].label, "seven");
  EXPECT_EQ(markers[1].label, nullptr);
  EXPECT_STREQ(markers[2].label, "odd");
  ASSERT_EQ(p.akd.size, 16u + 12u);
  float reference = 0;
  uint32_t count = 0;
  memcpy(&count, p.akd.data + 8, 4);
  memcpy(&reference, p.akd.data + 12, 4);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(reference, -3.0f);
  EXPECT_EQ(p.seek.data, nullptr);
}

TEST_F(MediaHeaderTest, FormatsOfEveryEncodingAndSizeParse) {
  struct Case {
    Tools::MediaEncoding encoding;
    uint16_t channels;
    uint32_t mask;
    uint32_t formatBytes;
    uint16_t tag, blockAlign, bits;
  };
  const Case cases[] = {
      {Tools::MediaEncoding::Pcm16, 1, 0x4, 0, SN::kWaveFormatExtensible, 2, 16},
      {Tools::MediaEncoding::Pcm16, 3, 0x7, 24, SN::kWaveFormatExtensible, 6, 16},
      {Tools::MediaEncoding::Pcm16, 6, 0x60F, 0, SN::kWaveFormatExtensible, 12, 16},
      {Tools::MediaEncoding::Pcm16, 8, 0x63F, 50, SN::kWaveFormatExtensible, 16, 16},
      {Tools::MediaEncoding::Float32, 1, 0x4, 0, SN::kWaveFormatExtensible, 4, 32},
      {Tools::MediaEncoding::ImaAdpcm, 1, 0x4, 0, SN::kWaveFormatImaAdpcm, 36, 4},
      {Tools::MediaEncoding::ImaAdpcm, 2, 0x3, 31, SN::kWaveFormatImaAdpcm, 72, 4},
  };
  for (const Case& c : cases) {
    ToneDesc tone = Tone(c.channels, 640);
    tone.encoding = c.encoding;
    tone.channelMask = c.mask;
    tone.formatBytes = c.formatBytes;
    const Parsed p = Parse(Tools::WriteToneMedia(tone));
    ASSERT_EQ(p.result, SN::SN_Success) << c.channels;
    EXPECT_EQ(p.fmt.size, c.formatBytes ? c.formatBytes : c.encoding == Tools::MediaEncoding::ImaAdpcm ? 24u : 40u);
    EXPECT_EQ(p.format.formatTag, c.tag);
    EXPECT_EQ(p.format.channels, c.channels);
    EXPECT_EQ(p.format.blockAlign, c.blockAlign);
    EXPECT_EQ(p.format.bitsPerSample, c.bits);
    EXPECT_EQ(p.format.channelMask, c.mask);
    EXPECT_EQ(SN::CheckWaveFormat(p.format), SN::SN_Success);
    if (c.encoding == Tools::MediaEncoding::ImaAdpcm) {
      EXPECT_EQ(p.dataSize, 10u * 36u * c.channels);
    }
  }
  ToneDesc xwma = Tone(1, 64);
  xwma.xwmaForm = true;
  EXPECT_EQ(Parse(Tools::WriteToneMedia(xwma)).result, SN::SN_Success);
}

TEST_F(MediaHeaderTest, LayoutEdgeCases) {
  const std::vector<uint8_t> good = Tools::WriteToneMedia(Tone(1, 16));
  const std::vector<uint8_t> fmt = FormatBody(good);
  uint32_t b, e, s, o;
  SN::SnMediaChunk f;
  EXPECT_EQ(SN::ParseMediaHeader(nullptr, 10, f, nullptr, b, e, s, o, nullptr, nullptr), SN::SN_InvalidParameter);
  EXPECT_EQ(SN::ParseMediaHeader(good.data(), 0, f, nullptr, b, e, s, o, nullptr, nullptr), SN::SN_InvalidParameter);
  EXPECT_EQ(Parse(std::vector<uint8_t>(good.begin(), good.begin() + 11)).result, SN::SN_MalformedMedia);
  std::vector<uint8_t> form = good;
  memcpy(form.data() + 8, "AIFF", 4);
  EXPECT_EQ(Parse(form).result, SN::SN_MalformedMedia);

  ToneDesc early = Tone(1, 16);
  early.fault = MediaFault::DataBeforeFormat;
  EXPECT_EQ(Parse(Tools::WriteToneMedia(early)).result, SN::SN_MalformedMedia);
  early.fault = MediaFault::CueBeforeFormat;
  early.markers = {{1, 2, ""}};
  EXPECT_EQ(Parse(Tools::WriteToneMedia(early)).result, SN::SN_MalformedMedia);
  ToneDesc cut = Tone(1, 16);
  cut.fault = MediaFault::CutInHeader;
  EXPECT_EQ(Parse(Tools::WriteToneMedia(cut)).result, SN::SN_IncompleteHeader);

  // The "data" body may run past the bytes given: a header read from the first bytes of a stream.
  const Parsed head = Parse(std::vector<uint8_t>(good.begin(), good.end() - 20));
  EXPECT_EQ(head.result, SN::SN_Success);
  EXPECT_EQ(head.dataSize, 32u);

  // An odd chunk followed by a zero skips it as padding; by anything else, reading goes on there.
  std::vector<uint8_t> padded, unpadded;
  Chunk(padded, "fmt ", fmt, 40);
  Chunk(padded, "junk", {1, 2, 3, 0}, 3);
  Chunk(padded, "data", {0, 0}, 2);
  Chunk(unpadded, "fmt ", fmt, 40);
  Chunk(unpadded, "junk", {1, 2, 3}, 3);
  Chunk(unpadded, "data", {0, 0}, 2);
  const Parsed withPad = Parse(Riff(padded)), withoutPad = Parse(Riff(unpadded));
  EXPECT_EQ(withPad.result, SN::SN_Success);
  EXPECT_EQ(withPad.dataOffset, 12u + 48u + 12u + 8u);
  EXPECT_EQ(withoutPad.result, SN::SN_Success);
  EXPECT_EQ(withoutPad.dataOffset, 12u + 48u + 11u + 8u);

  // "labl" before "cue " is ignored; inside "LIST" after it, it labels its marker.
  std::vector<uint8_t> chunks;
  Chunk(chunks, "fmt ", fmt, 40);
  Chunk(chunks, "labl", {5, 0, 0, 0, 'x', 0}, 6);
  std::vector<uint8_t> cue = {1, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0};
  cue.resize(4 + 24, 0);
  Chunk(chunks, "cue ", cue, 28);
  Chunk(chunks, "LIST", {'a', 'd', 't', 'l'}, 4 + 14);
  Chunk(chunks, "labl", {5, 0, 0, 0, 'h', 'i'}, 6);
  Chunk(chunks, "data", {}, 0);
  SN::CSnMarkerList markers;
  ASSERT_EQ(Parse(Riff(chunks), &markers).result, SN::SN_Success);
  ASSERT_EQ(markers.Count(), 1u);
  EXPECT_STREQ(markers[0].label, "hi");

  // A sampler chunk that counts no loop leaves the loop at 0, 0.
  ToneDesc noLoop = Tone(1, 16);
  noLoop.loop = true;
  noLoop.loopStart = 3;
  noLoop.loopEnd = 9;
  noLoop.loopRecords = false;
  const Parsed zero = Parse(Tools::WriteToneMedia(noLoop));
  EXPECT_EQ(zero.result, SN::SN_Success);
  EXPECT_EQ(zero.loopBegin, 0u);
  EXPECT_EQ(zero.loopEnd, 0u);
}

// Counts and offsets inside a chunk that point past it, and format records that would read past a
// frame or divide by zero: refused as malformed rather than read.
TEST_F(MediaHeaderTest, MalformedVariantsAreRefused) {
  const MediaFault parserFaults[] = {MediaFault::CueCountPastChunk, MediaFault::ShortLabel,
                                     MediaFault::LoopRecordPastChunk, MediaFault::EnvelopePastChunk,
                                     MediaFault::ShortFormat};
  for (MediaFault fault : parserFaults) {
    ToneDesc tone = Tone(2, 64);
    tone.markers = {{1, 10, "a"}};
    tone.loop = true;
    tone.loopEnd = 63;
    tone.envelope = {{0, 1}};
    tone.fault = fault;
    SN::CSnMarkerList markers;
    EXPECT_EQ(Parse(Tools::WriteToneMedia(tone), &markers).result, SN::SN_MalformedMedia) << int(fault);
  }
  const MediaFault formatFaults[] = {MediaFault::BlockAlignZero, MediaFault::BlockAlignWide, MediaFault::NoChannels,
                                     MediaFault::RateZero, MediaFault::Bits24};
  for (Tools::MediaEncoding encoding : {Tools::MediaEncoding::Pcm16, Tools::MediaEncoding::ImaAdpcm}) {
    for (MediaFault fault : formatFaults) {
      if (fault == MediaFault::Bits24 && encoding == Tools::MediaEncoding::ImaAdpcm) continue;
      ToneDesc tone = Tone(2, 64);
      tone.encoding = encoding;
      tone.fault = fault;
      const Parsed p = Parse(Tools::WriteToneMedia(tone));
      ASSERT_EQ(p.result, SN::SN_Success);
      EXPECT_EQ(SN::CheckWaveFormat(p.format), SN::SN_MalformedMedia) << int(fault);
      EXPECT_NE(log_.Take().find("Media refused"), std::string::npos);
    }
  }
  SN::SnWaveFormat floatStereo{SN::kWaveFormatExtensible, 2, 48000, 8, 32, 0x3};
  EXPECT_EQ(SN::CheckWaveFormat(floatStereo), SN::SN_MalformedMedia);
}

// A test instance that records the markers it is told of.
class MarkerInstance : public SN::ISnSourceInstance {
 public:
  const SN::CSnSourceDesc& SourceDesc() const override { return desc; }
  const uint8_t* MediaData() const override { return nullptr; }
  uint32_t MediaSize() const override { return 0; }
  uint16_t LoopCount() const override { return 1; }
  float PitchCents() const override { return 0; }
  SN::SnSeekRequest& Seek() override { return seek; }
  void SetMediaFormat(const SN::SnMediaFormat&) override {}
  bool WantsMarkers() const override { return wants; }
  void PostMarker(const SN::SnMediaMarker& marker) override { posted.push_back(marker.id); }
  SN::CSnSourceDesc desc;
  SN::SnSeekRequest seek;
  bool wants = true;
  std::vector<uint32_t> posted;
};

TEST_F(MediaHeaderTest, MarkersAreFoundToldAndAttached) {
  SN::CSnMarkerList markers;
  EXPECT_EQ(markers.FindNearest(10), nullptr);
  ASSERT_EQ(markers.Allocate(4), SN::SN_Success);
  const uint32_t positions[] = {100, 50, 150, 100};
  for (uint32_t i = 0; i < 4; ++i) markers[i] = SN::SnMediaMarker{i + 1, positions[i], nullptr};
  ASSERT_EQ(markers.SetLabel(2, "abc", 2), SN::SN_Success);
  EXPECT_STREQ(markers[2].label, "ab");
  EXPECT_EQ(markers.FindNearest(75)->id, 1u);  // 100 and 50 tie: the first in the list
  EXPECT_EQ(markers.FindNearest(74)->id, 2u);
  EXPECT_EQ(markers.FindNearest(99)->id, 1u);
  EXPECT_EQ(markers.FindNearest(1000)->id, 3u);

  MarkerInstance instance;
  markers.NotifyRange(&instance, 50, 150);
  EXPECT_EQ(instance.posted, (std::vector<uint32_t>{1, 2, 4}));
  instance.wants = false;
  markers.NotifyRange(&instance, 0, 1000);
  EXPECT_EQ(instance.posted.size(), 3u);
  instance.wants = true;

  SN::SnVoiceBuffer buffer;
  buffer.validFrames = 60;
  markers.AttachToBuffer(&instance, buffer, 95);
  ASSERT_EQ(buffer.markerCount, 3u);
  EXPECT_EQ(buffer.markers[0].id, 1u);
  EXPECT_EQ(buffer.markers[0].offset, 5u);
  EXPECT_EQ(buffer.markers[1].id, 3u);
  EXPECT_EQ(buffer.markers[1].offset, 55u);
  EXPECT_STREQ(buffer.markers[1].label, "ab");
  EXPECT_EQ(buffer.markers[2].id, 4u);
  EXPECT_EQ(buffer.markers[2].instance, &instance);
  buffer.FreeMarkers();
  markers.Free();
  EXPECT_EQ(UsedBytes(SN::g_DefaultPoolId), 0u);
}

}  // namespace
