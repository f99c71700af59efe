// Our IMA-ADPCM: the engine's block decoder against a decoder written apart, over what the media
// writer's encoder makes of test signals; the step arithmetic at its edges.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "SoundEngine/Sources/ImaAdpcm.h"
#include "SoundEngine/Sources/MediaHeader.h"
#include "tests/SoundSources/SourceTestSupport.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

std::vector<int16_t> EngineDecode(const std::vector<uint8_t>& data, uint32_t channels) {
  const uint32_t group = 36 * channels, groups = uint32_t(data.size() / group);
  std::vector<int16_t> out(size_t(groups) * 64 * channels);
  for (uint32_t c = 0; c < channels; ++c)
    SN::DecodeImaAdpcmBlocks(data.data() + 36 * c, out.data() + c, groups, group, channels);
  return out;
}

TEST(ImaAdpcm, DecoderEqualsTheReferenceOnEncodedSignals) {
  for (Tools::ToneSignal signal : {Tools::ToneSignal::Sine, Tools::ToneSignal::Noise, Tools::ToneSignal::Ramp}) {
    for (uint16_t channels : {1, 2, 6}) {
      Tools::ToneDesc tone;
      tone.channels = channels;
      tone.frames = 64 * 40 + 17;  // the last block completed with the last sample
      tone.signal = signal;
      tone.frequency = 997.0f;
      std::vector<int16_t> pcm(size_t(tone.frames) * channels);
      for (uint32_t f = 0; f < tone.frames; ++f)
        for (uint16_t c = 0; c < channels; ++c) pcm[size_t(f) * channels + c] = Tools::ToneSample(tone, f, c);
      const std::vector<uint8_t> encoded = Tools::EncodeImaAdpcm(pcm, channels);
      ASSERT_EQ(encoded.size(), 41u * 36u * channels);
      const std::vector<int16_t> decoded = EngineDecode(encoded, channels);
      EXPECT_EQ(decoded, SourceTest::ReferenceDecode(encoded.data(), encoded.size(), channels));
      if (signal == Tools::ToneSignal::Sine) {
        // A smooth signal comes back close: the encoder follows it nibble by nibble.
        double error = 0, power = 0;
        for (size_t i = 0; i < pcm.size(); ++i) {
          error += std::pow(double(decoded[i]) - pcm[i], 2);
          power += std::pow(double(pcm[i]), 2);
        }
        EXPECT_GT(10.0 * std::log10(power / error), 20.0) << channels;
        // Every block begins on its sample exactly.
        for (size_t f = 0; f < tone.frames; f += 64) EXPECT_EQ(decoded[f * channels], pcm[f * channels]);
      }
    }
  }
}

TEST(ImaAdpcm, StepEdges) {
  int predictor = 0, index = 0;
  EXPECT_EQ(SN::ImaAdpcmNext(predictor, index, 0x7), 13);
  EXPECT_EQ(index, 8);
  predictor = 0;
  index = 0;
  EXPECT_EQ(SN::ImaAdpcmNext(predictor, index, 0xF), -13);
  EXPECT_EQ(index, 8);
  predictor = 32760;
  index = 88;
  EXPECT_EQ(SN::ImaAdpcmNext(predictor, index, 0x7), 32767);
  EXPECT_EQ(index, 88);
  predictor = -32760;
  EXPECT_EQ(SN::ImaAdpcmNext(predictor, index, 0xF), -32768);
  index = 0;
  SN::ImaAdpcmNext(predictor, index, 0x0);
  EXPECT_EQ(index, 0);
}

// A block header's step index past the table is clamped to 88, and the decoder says so.
TEST(ImaAdpcm, StepIndexPast88IsClamped) {
  Tools::ToneDesc tone;
  tone.frames = 128;
  tone.encoding = Tools::MediaEncoding::ImaAdpcm;
  tone.signal = Tools::ToneSignal::Noise;
  tone.fault = Tools::MediaFault::StepIndexPast88;
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  const SourceTest::WaveFile wave = SourceTest::ReadWave(media);
  ASSERT_TRUE(wave.ok);
  ASSERT_EQ(wave.data[2], 200);
  std::vector<int16_t> out(128);
  EXPECT_TRUE(SN::DecodeImaAdpcmBlocks(wave.data.data(), out.data(), 2, 36, 1));
  std::vector<uint8_t> at88 = wave.data;
  at88[2] = 88;
  std::vector<int16_t> expected(128);
  EXPECT_FALSE(SN::DecodeImaAdpcmBlocks(at88.data(), expected.data(), 2, 36, 1));
  EXPECT_EQ(out, expected);
}

}  // namespace
