// The bank writer's output against bytes laid out by hand from the bank format, and the chunk loop
// reading those same banks back.
#include <cstring>

#include <gtest/gtest.h>

#include "tests/SoundBanks/BankTestSupport.h"
#include "tools/SoundBank/EffectWriter.h"
#include "tools/SoundBank/ToneMedia.h"

namespace {

using BankTest::Build;

using BankTest::Bytes;

using BankTest::kTestBankId;

// The hash of "Init" and "GeneralBank" (32-bit FNV-1 of the lower-case name).
constexpr uint32_t kInitId = 0x50C63A23;
constexpr uint32_t kGeneralBankId = 0x3E87719D;

// Float bit patterns: -12.0, 1.0, 10.0, 5.0, 2.0, 3.0, 0.5.
constexpr uint32_t kMinus12 = 0xC1400000, kOne = 0x3F800000, kTen = 0x41200000, kFive = 0x40A00000,
                   kTwo = 0x40000000, kThree = 0x40400000, kHalf = 0x3F000000;

Bytes Header(uint32_t id = kTestBankId) { return Bytes().Tag("BKHD").U32(20).U32(113).U32(id).Zeros(12); }

TEST(BankGolden, HeaderAloneIsTwentyEightBytesWithTheIdAtOffsetTwelve) {
  const std::vector<uint8_t> bank = Build("");
  EXPECT_EQ(bank, Header().b);
  ASSERT_EQ(bank.size(), 28u);
  uint32_t tag = 0, id = 0;
  memcpy(&tag, bank.data(), 4);
  memcpy(&id, bank.data() + 12, 4);
  EXPECT_EQ(tag, 0x44484B42u);
  EXPECT_EQ(id, kTestBankId);
  EXPECT_EQ(SN::BankIdOfImage(bank.data(), 28), kTestBankId);
  EXPECT_EQ(SN::BankIdOfImage(bank.data(), 27), 0u);
}

// A state group with a transition, a switch group of two points following a parameter, a parameter.
const char* const kSettingsText =
    "threshold -12\nvoices 40\nstategroup @7 300\ntransition @7 @1 @2 150\n"
    "switchgroup @9 @11 2\nswitchpoint @9 0 @21 4\nswitchpoint @9 10 @22 9\n"
    "parameter @11 5 1 2 3 4\n";

Bytes SettingsChunk() {
  return Bytes()
      .Tag("STMG").U32(100)
      .U32(kMinus12).U16(40)
      .U32(1).U32(7).U32(300).U32(1).U32(1).U32(2).U32(150)
      .U32(1).U32(9).U32(11).U8(2).U32(2).U32(0).U32(21).U32(4).U32(kTen).U32(22).U32(9)
      .U32(1).U32(11).U32(kFive).U32(1).U32(kTwo).U32(kThree).U8(4);
}

TEST(BankGolden, SettingsChunk) {
  EXPECT_EQ(Build(kSettingsText), Header().Append(SettingsChunk().b).b);
}

const char* const kEnvironmentText =
    "envcurve 0 0 1 2\nenvpoint 0 0 0 0 4\nenvpoint 0 0 1 -12 4\nenvcurve 1 2 1 0\nenvpoint 1 2 0.5 1 9\n";

TEST(BankGolden, EnvironmentChunkHoldsSixCurves) {
  const Bytes expected = Header()
                             .Tag("ENVS").U32(60)
                             .U8(1).U8(2).U16(2).U32(0).U32(0).U32(4).U32(kOne).U32(kMinus12).U32(4)
                             .Zeros(4).Zeros(4).Zeros(4).Zeros(4)
                             .U8(1).U8(0).U16(1).U32(kHalf).U32(kOne).U32(9);
  EXPECT_EQ(Build(kEnvironmentText), expected.b);
}

TEST(BankGolden, PlatformChunk) {
  EXPECT_EQ(Build("platform Linux"), Header().Tag("PLAT").U32(9).U32(5).Text("Linux").b);
}

TEST(BankGolden, TwoMediaLieOnSixteenByteBoundariesInDataAndInTheFile) {
  Tools::ToneDesc a, b;
  a.sampleRate = b.sampleRate = 8000;
  a.frames = b.frames = 8;
  a.frequency = 1000.0f;
  b.frequency = 500.0f;
  const std::vector<uint8_t> first = Tools::WriteToneMedia(a), second = Tools::WriteToneMedia(b);
  ASSERT_EQ(first.size(), 84u);  // 12 + "fmt " 48 + "data" 8 + 16 sample bytes
  const std::vector<uint8_t> bank = Build("tone First 8000 1 1 1000\ntone Second 8000 1 1 500\n");
  // BKHD 28 + DIDX 32 leave DATA's payload at 68; a padding chunk of 4 moves it to 80.
  const Bytes expected = Header()
                             .Tag("DIDX").U32(24)
                             .U32(BankTest::Id("First")).U32(0).U32(84)
                             .U32(BankTest::Id("Second")).U32(96).U32(84)
                             .Tag("PAD ").U32(4).Zeros(4)
                             .Tag("DATA").U32(180)
                             .Append(first).Zeros(12).Append(second);
  EXPECT_EQ(bank, expected.b);
}

TEST(BankGolden, EventOfTwoActions) {
  const Bytes expected = Header().Tag("HIRC").U32(25).U32(1).U8(4).U32(16).U32(100).U32(2).U32(201).U32(202);
  EXPECT_EQ(Build("event @100 @201 @202"), expected.b);
}

TEST(BankGolden, BankNames) {
  const Bytes expected = Header()
                             .Tag("STID").U32(33)
                             .U32(1).U32(2)
                             .U32(kInitId).U8(4).Text("Init")
                             .U32(kGeneralBankId).U8(11).Text("GeneralBank");
  EXPECT_EQ(Build("bankname Init\nbankname GeneralBank"), expected.b);
}

TEST(BankGolden, ToneMediaHeaderWithMarkersAndALoop) {
  Tools::ToneDesc tone;
  tone.sampleRate = 8000;
  tone.frames = 8;
  tone.frequency = 1000.0f;
  tone.markers = {{1, 2, "Go"}, {2, 6, ""}};
  tone.loop = true;
  tone.loopStart = 0;
  tone.loopEnd = 7;
  const Bytes expected =
      Bytes()
          .Tag("RIFF").U32(4 + 48 + 60 + 28 + 68 + 24).Tag("WAVE")
          .Tag("fmt ").U32(40).U16(0xFFFE).U16(1).U32(8000).U32(16000).U16(2).U16(16).U16(22).U16(16).U32(4)
          .U32(1).U32(0x00100000).U32(0xAA000080).U32(0x719B3800)
          .Tag("cue ").U32(52).U32(2)
          .U32(1).U32(2).Tag("data").U32(0).U32(0).U32(2)
          .U32(2).U32(6).Tag("data").U32(0).U32(0).U32(6)
          .Tag("LIST").U32(20).Tag("adtl").Tag("labl").U32(7).U32(1).Text("Go").U8(0).U8(0)
          .Tag("smpl").U32(60).U32(0).U32(0).U32(125000).U32(60).Zeros(12).U32(1).U32(0)
          .U32(0).U32(0).U32(0).U32(7).U32(0).U32(0)
          .Tag("data").U32(16);
  const std::vector<uint8_t> media = Tools::WriteToneMedia(tone);
  ASSERT_EQ(media.size(), expected.b.size() + 16);
  EXPECT_EQ(std::vector<uint8_t>(media.begin(), media.begin() + expected.b.size()), expected.b);
  // A 1000 Hz sine at 8000 Hz: an eighth of a turn per frame at half of full scale.
  const int16_t samples[8] = {0, 11585, 16383, 11585, 0, -11585, -16383, -11585};
  EXPECT_EQ(memcmp(media.data() + expected.b.size(), samples, sizeof samples), 0);
}

TEST(BankGolden, LooseTonesStayOutOfTheBank) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone Far 8000 1 1 1000 loose\nmarker Far 5 3 Here", "TestBank", bank, error))
      << error;
  EXPECT_EQ(Tools::WriteBank(bank), Header().b);
  ASSERT_EQ(bank.media.size(), 1u);
  EXPECT_TRUE(bank.media[0].loose);
  EXPECT_EQ(bank.media[0].id, 0x468F679Cu);  // the hash of "Far"
  Tools::ToneDesc far;
  far.sampleRate = 8000;
  far.frames = 8;
  far.frequency = 1000.0f;
  far.markers = {{5, 3, "Here"}};
  EXPECT_EQ(bank.media[0].bytes, Tools::WriteToneMedia(far));
}

TEST(BankGolden, BadDescriptionsNameTheirLine) {
  Tools::BankDescription bank;
  std::string error;
  EXPECT_FALSE(Tools::ParseBankText("platform Linux\ntone A 8000 0 1 440", "B", bank, error));
  EXPECT_EQ(error, "line 2: a tone has 1 to 8 channels");
  EXPECT_FALSE(Tools::ParseBankText("transition G A B 10", "B", bank, error));
  EXPECT_EQ(error, "line 1: state group \"G\" is not declared");
  EXPECT_FALSE(Tools::ParseBankText("# fine\n\nvoices many", "B", bank, error));
  EXPECT_EQ(error, "line 3: \"many\" is not a whole number");
  EXPECT_FALSE(Tools::ParseBankText("chunk LONGER 00", "B", bank, error));
  EXPECT_FALSE(Tools::ParseBankText("object 4 @1 0g", "B", bank, error));
  EXPECT_FALSE(Tools::ParseBankText("sing", "B", bank, error));
  EXPECT_EQ(error, "line 1: unknown directive \"sing\"");
}

class BankGoldenLoad : public BankTest::BankFixture {};

TEST_F(BankGoldenLoad, TheChunkLoopReadsEveryGoldenBank) {
  const std::vector<uint8_t> all = Build(std::string("platform Linux\n") + kSettingsText + kEnvironmentText +
                                         "tone First 8000 1 1 1000\ntone Second 8000 1 1 500\n"
                                         "event @100 @201 @202\nbankname Init\n");
  BankTest::RecordingBank bank;
  ASSERT_EQ(LoadImage(all, bank), SN::SN_Success) << log_.Take();
  EXPECT_EQ(header_.bankId, kTestBankId);
  EXPECT_EQ(header_.version, 113u);
  ASSERT_EQ(bank.objects.size(), 1u);
  EXPECT_EQ(bank.objects[0].type, 4);
  EXPECT_EQ(bank.objects[0].id, 100u);
  EXPECT_EQ(bank.objects[0].payload, (Bytes().U32(100).U32(2).U32(201).U32(202).b));
  EXPECT_EQ(bank.reserved, 1u);
  ASSERT_EQ(bank.index.size(), 2u);
  EXPECT_EQ(bank.index[1].offset, 96u);
  EXPECT_EQ(bank.data.size(), 180u);
  Tools::ToneDesc second;
  second.sampleRate = 8000;
  second.frames = 8;
  second.frequency = 500.0f;
  EXPECT_EQ(bank.Media(BankTest::Id("Second")), Tools::WriteToneMedia(second));
  EXPECT_EQ(bank.names[kInitId], "Init");

  // The same bytes from a file, through a stream: the same header and the same things read.
  WriteBankFile("Golden.bnk", all);
  for (SN::SnBankLoadMode mode : {SN::SnBankLoad_Normal, SN::SnBankLoad_MediaOnly}) {
    BankTest::RecordingBank fromFile;
    header_ = SN::SnBankHeader{};
    ASSERT_EQ(LoadFile("Golden.bnk", fromFile, mode), SN::SN_Success) << log_.Take();
    EXPECT_EQ(header_.bankId, kTestBankId);
    EXPECT_EQ(fromFile.objects, bank.objects);
    ASSERT_EQ(fromFile.index.size(), 2u);
    EXPECT_EQ(fromFile.index[1].offset, 96u);
    EXPECT_EQ(fromFile.names, bank.names);
    if (mode == SN::SnBankLoad_Normal) {
      EXPECT_EQ(fromFile.data, bank.data);
    } else {
      EXPECT_EQ(fromFile.media[BankTest::Id("Second")], Tools::WriteToneMedia(second));
    }
  }
}

}  // namespace

namespace {

// One HIRC chunk of actions (type 3), each payload laid out by hand.
Bytes ActionChunk(const std::vector<Bytes>& payloads) {
  Bytes objects;
  for (const Bytes& payload : payloads) objects.U8(3).U32(uint32_t(payload.b.size())).Append(payload.b);
  return Header().Tag("HIRC").U32(uint32_t(4 + objects.b.size())).U32(uint32_t(payloads.size())).Append(objects.b);
}

constexpr uint32_t kFifty = 0x42480000, kMinus12F = 0xC1400000;

TEST(BankGolden, PlayStopAndPauseActions) {
  const Bytes play = Bytes()
                         .U32(10).U16(0x0403).U32(100).U8(0)
                         .U8(3).U8(14).U8(15).U8(16).U32(100).U32(20).U32(kFifty)
                         .U8(1).U8(14).U32(10).U32(30)
                         .U8(4).U32(7);
  const Bytes stop = Bytes().U32(11).U16(0x0108).U32(0).U8(0).U8(0).U8(0).U8(1).U32(2).U32(60).U8(0).U32(2).U8(1);
  const Bytes pause = Bytes().U32(12).U16(0x0202).U32(50).U8(1).U8(0).U8(0).U8(0).U8(1).U32(0);
  ASSERT_EQ(play.b.size(), 42u);
  EXPECT_EQ(Build("action @10 0x0403 @100 delay 100 fade 20 probability 50 delayrange 10 30 curve 4 bank @7\n"
                  "action @11 0x0108 0 curve 1 except @60 exceptbus @2\n"
                  "action @12 0x0202 @50 bus flag 1\n"),
            ActionChunk({play, stop, pause}).b);
}

TEST(BankGolden, ValueStateParameterBypassSeekAndNestedActions) {
  const Bytes volume = Bytes().U32(13).U16(0x0A03).U32(100).U8(0).U8(0).U8(0)
                           .U8(0).U8(2).U32(kMinus12F).U32(kOne).U32(kTwo).U32(0);
  const Bytes state = Bytes().U32(14).U16(0x1202).U32(0).U8(0).U8(0).U8(0).U32(5).U32(6);
  const Bytes parameter = Bytes().U32(15).U16(0x1303).U32(77).U8(0).U8(0).U8(0)
                              .U8(0).U8(1).U8(1).U32(kTen).U32(0).U32(0).U32(0);
  const Bytes bypass = Bytes().U32(16).U16(0x1A02).U32(100).U8(0).U8(0).U8(0).U8(1).U8(3).U32(0);
  const Bytes seek = Bytes().U32(17).U16(0x1E02).U32(100).U8(0).U8(0).U8(0)
                         .U8(0).U8(1).U32(kHalf).U32(0).U32(0).U8(1).U32(0);
  const Bytes nested = Bytes().U32(18).U16(0x2103).U32(1).U8(0).U8(0).U8(0);
  EXPECT_EQ(Build("action @13 0x0A03 @100 meaning 2 value -12 1 2\n"
                  "action @14 0x1202 0 group @5 @6\n"
                  "action @15 0x1303 @77 flag 1 value 10 0 0\n"
                  "action @16 0x1A02 @100 bypass 1 3\n"
                  "action @17 0x1E02 @100 seek 1 1 value 0.5 0 0\n"
                  "action @18 0x2103 @1\n"),
            ActionChunk({volume, state, parameter, bypass, seek, nested}).b);
}

TEST(BankGolden, ActionLinesThatCannotBeWrittenAreRefused) {
  for (const char* line : {"action @1 403 @2", "action @1 0x0403 @2 loud", "action @1 0x0403 @2 delay",
                           "action @1 0x0403 @2 probability nan"}) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_FALSE(Tools::ParseBankText(line, "TestBank", bank, error)) << line;
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  }
}

// A game's plug-in as a shared effect: its key, its block's bytes and one curve of a plug-in parameter
// over a game parameter (or, marked, a modulator); a sound names it as its mixer by property 57.
TEST(BankGolden, GamePluginEffectsAndASoundsMixer) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("effect @5 plugin 1234 0000803f rtpc 3 @9 0:0 10:20:0\n"
                                   "effect @6 plugin 99 rtpc 7 modulator @8 0:1\n",
                                   "TestBank", bank, error))
      << error;
  ASSERT_EQ(bank.objects.size(), 2u);
  Tools::BankEffect first;
  first.pluginId = 1234;
  first.params = {0x00, 0x00, 0x80, 0x3f};
  Tools::BankEffectCurve curve;
  curve.parameterId = 9;
  curve.pluginParamId = 3;
  curve.curveId = 1;
  curve.points = {{0.0f, 0.0f, 4}, {10.0f, 20.0f, 0}};
  first.curves.push_back(curve);
  EXPECT_EQ(bank.objects[0].type, 18);
  EXPECT_EQ(bank.objects[0].payload, Tools::EffectPayload(5, first));
  Tools::BankEffect second;
  second.pluginId = 99;
  curve.parameterId = 8;
  curve.pluginParamId = 7;
  curve.kind = 2;
  curve.points = {{0.0f, 1.0f, 4}};
  second.curves.push_back(curve);
  EXPECT_EQ(bank.objects[1].payload, Tools::EffectPayload(6, second));

  for (const char* line :
       {"effect @5 flanger 3", "effect @5 plugin many", "effect @5 plugin 7 0g", "effect @5 plugin 7 rtpc 3",
        "effect @5 plugin 7 rtpc 3 @9", "effect @5 plugin 7 rtpc 300 @9 0:0", "effect @5 gain 1 2"}) {
    Tools::BankDescription refused;
    EXPECT_FALSE(Tools::ParseBankText(line, "TestBank", refused, error)) << line;
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  }
}

}  // namespace
