// Media described in bank text: the tone options, speaker masks, envelopes and media faults give the
// media the writer makes of the same description, and what cannot be made is refused with its line.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "SoundEngine/SoundEngineApi.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

TEST(MediaDescription, OptionsGiveTheWritersMedia) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone Six 48000 6 10 440 loose noise\n"
                                   "speakers Six 1551\n"
                                   "envelope Six -2.5 0 0 200 12\n"
                                   "tone Packed 24000 2 20 330 adpcm\n"
                                   "mediafault Packed step-index-past-88\n"
                                   "tone Plain 48000 1 5 220 float ramp\n",
                                   "Media", bank, error))
      << error;
  ASSERT_EQ(bank.media.size(), 3u);
  Tools::ToneDesc six;
  six.channels = 6;
  six.frames = 480;
  six.signal = Tools::ToneSignal::Noise;
  six.channelMask = 0x60F;
  six.envelopeReference = -2.5f;
  six.envelope = {{0, 0}, {200, 12}};
  EXPECT_EQ(bank.media[0].id, SN::SoundEngine::GetIDFromString("Six"));
  EXPECT_TRUE(bank.media[0].loose);
  EXPECT_EQ(bank.media[0].bytes, Tools::WriteToneMedia(six));
  Tools::ToneDesc packed;
  packed.channels = 2;
  packed.sampleRate = 24000;
  packed.frames = 480;
  packed.frequency = 330.0f;
  packed.encoding = Tools::MediaEncoding::ImaAdpcm;
  packed.fault = Tools::MediaFault::StepIndexPast88;
  EXPECT_EQ(bank.media[1].bytes, Tools::WriteToneMedia(packed));
  Tools::ToneDesc plain;
  plain.frames = 240;
  plain.frequency = 220.0f;
  plain.encoding = Tools::MediaEncoding::Float32;
  plain.signal = Tools::ToneSignal::Ramp;
  EXPECT_EQ(bank.media[2].bytes, Tools::WriteToneMedia(plain));
}

// A constant signal: its number is the level of every sample of every channel, full scale held.
TEST(MediaDescription, ADcToneHoldsItsLevelInEverySample) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone Quarter 48000 2 1 0.25 dc\n", "Media", bank, error)) << error;
  Tools::ToneDesc quarter;
  quarter.channels = 2;
  quarter.frames = 48;
  quarter.signal = Tools::ToneSignal::Dc;
  quarter.level = 0.25f;
  ASSERT_EQ(bank.media.size(), 1u);
  EXPECT_EQ(bank.media[0].bytes, Tools::WriteToneMedia(quarter));
  for (uint32_t frame : {0u, 47u})
    for (uint16_t channel : {0, 1}) EXPECT_EQ(Tools::ToneSample(quarter, frame, channel), 8192);
  quarter.level = 1.0f;
  EXPECT_EQ(Tools::ToneSample(quarter, 0, 0), 32767);
  quarter.level = -1.0f;
  EXPECT_EQ(Tools::ToneSample(quarter, 0, 0), -32768);
}

// A sine cut off mid-cycle (440 Hz for 1,000 frames: 9.17 cycles) ramps down over its last 5 ms to
// stop at rest; one that closes a half cycle (1,200 frames: 11 cycles), or whose loop runs through
// its last frames, keeps every frame of the sine.
TEST(MediaDescription, ASineStopsAtRestOrRampsDownToIt) {
  auto sine = [](uint32_t frame) { return 16383.0 * std::sin(2.0 * 3.141592653589793 * 440.0 * frame / 48000.0); };
  Tools::ToneDesc cut;
  cut.frames = 1000;
  for (uint32_t frame = 0; frame < 1000; ++frame) {
    const double ramp = frame < 760 ? 1.0 : (1000 - frame) / 241.0;
    ASSERT_EQ(Tools::ToneSample(cut, frame, 0), std::lround(sine(frame) * ramp)) << frame;
  }
  Tools::ToneDesc whole = cut;
  whole.frames = 1200;
  Tools::ToneDesc looped = cut;
  looped.loop = true;
  looped.loopEnd = 999;
  for (const Tools::ToneDesc& tone : {whole, looped})
    for (uint32_t frame = 0; frame < tone.frames; ++frame)
      ASSERT_EQ(Tools::ToneSample(tone, frame, 0), std::lround(sine(frame))) << frame;
}

TEST(MediaDescription, WhatCannotBeMadeIsRefused) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"tone A 48000 2 5 440 float", "line 1: float tones are mono"},
      {"tone A 48000 2 5 440 wav",
       "line 1: \"wav\": a tone is followed by \"loose\", \"prepared\", \"adpcm\", \"float\", \"ramp\", \"noise\" or "
       "\"dc\""},
      {"tone A 48000 1 5 1.5 dc", "line 1: a dc tone's level is -1 to 1"},
      {"tone A 48000 2 5 440\nspeakers A 7", "line 2: the speaker mask of tone \"A\" does not name its channels"},
      {"tone A 48000 1 5 440\nmediafault A lost", "line 2: \"lost\" is not a media fault"},
      {"tone A 48000 1 5 440\nenvelope A 0 10",
       "line 2: \"envelope\" takes a tone, a reference and frame and value pairs"},
      {"tone A 48000 1 5 440\nenvelope A 0 10 70000", "line 2: \"70000\" does not fit in 16 bits"},
  };
  for (const auto& c : cases) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_FALSE(Tools::ParseBankText(c.text, "Media", bank, error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
