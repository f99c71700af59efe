// The engine's lines that a game can bring on again and again, read back from the log: a flood of one
// line about many objects is said once with a count that names the others, the counts come with the
// engine down too, and what gave no word at all (a missing media file in a preparation, the play of
// an actor-mixer, a game parameter value that is infinite) is said.
#include <fstream>
#include <limits>
#include <string>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// How often `part` appears in `text`.
size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Id(const char* name) { return std::to_string(SoundEngine::GetIDFromString(name)); }

class RepeatedLinesTest : public SoundEndToEndTest {};

// Two events posted frame after frame while their bank is away: one line, and a count that names
// the other event.
TEST_F(RepeatedLinesTest, TheCountOfEventsPostedWhileTheirBankIsAwayNamesEveryEvent) {
  ASSERT_EQ(SoundEngine::UnloadBank("GeneralBank.bnk", nullptr), SN_Success);
  log_.Take();
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(SoundEngine::PostEvent(5u, kObject), 0u);
    EXPECT_EQ(SoundEngine::PostEvent(7u, kObject), 0u);
    Frames(1);
  }
  Frames(2);
  EXPECT_EQ(log_.Take(), "[Warning][Audio] PostEvent: event 5 is not loaded\n"
                         "[Warning][Audio] PostEvent: event 5 is not loaded (and 5 more like it, also for id 7)\n");
  // Many events: a few named, the others counted.
  for (uint32_t event = 100; event < 110; ++event) EXPECT_EQ(SoundEngine::PostEvent(event, kObject), 0u);
  Frames(2);
  EXPECT_EQ(log_.Take(),
            "[Warning][Audio] PostEvent: event 100 is not loaded\n"
            "[Warning][Audio] PostEvent: event 100 is not loaded (and 9 more like it, also for ids 101, 102, 103, "
            "104 and 5 others)\n");
}

// With the engine down no frame comes: a call of another kind says the count of the one before it,
// and Init says what is left.
TEST_F(RepeatedLinesTest, WithTheEngineDownACallOfAnotherKindAndInitSayTheCounts) {
  SoundEngine::Term();
  log_.Take();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SoundEngine::PostEvent("Play_Beep", kObject), 0u);
  EXPECT_EQ(log_.Take(), "[Warning][Audio] PostEvent: the sound engine is not initialised\n");
  for (int i = 0; i < 2; ++i) EXPECT_NE(SoundEngine::SetRTPCValue(5u, 1.0f, kObject), SN_Success);
  EXPECT_EQ(log_.Take(),
            "[Warning][Audio] PostEvent: the sound engine is not initialised (and 2 more like it)\n"
            "[Warning][Audio] SetRTPCValue: the sound engine is not initialised\n");
  EXPECT_NE(SoundEngine::SetRTPCValue(5u, 1.0f, kObject), SN_Success);
  ASSERT_EQ(SoundEngine::Init(&settings_, &platform_), SN_Success);
  EXPECT_EQ(log_.Take(), "[Warning][Audio] SetRTPCValue: the sound engine is not initialised (and 2 more like it)\n");
}

// Streamed sounds whose files have vanished, played frame after frame: their files' line is said once
// and its count names the other file.
TEST_F(RepeatedLinesTest, StreamedFilesThatCannotBeOpenedAreSaidOnceWithACount) {
  LoadOwnBank("platform Linux\n"
              "tone GoneA 48000 1 100 440 loose\ntone GoneB 48000 1 100 440 loose\n"
              "sound GoneA GoneA Effects\nsound GoneB GoneB Effects\n"
              "action Play_GoneA_Act 0x0403 GoneA\nevent Play_GoneA Play_GoneA_Act\n"
              "action Play_GoneB_Act 0x0403 GoneB\nevent Play_GoneB Play_GoneB_Act\n");
  log_.Take();
  for (int frame = 0; frame < 4; ++frame) {
    EXPECT_NE(SoundEngine::PostEvent("Play_GoneA", kObject), 0u);
    EXPECT_NE(SoundEngine::PostEvent("Play_GoneB", kObject), 0u);
    Frames(1);
  }
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::string log = log_.Take();
  const std::string line = "Streamed source " + Id("GoneA") + ": its file " + Id("GoneA") + " could not be opened";
  EXPECT_EQ(Count(log, "could not be opened"), 2u) << log;
  EXPECT_EQ(Count(log, line), 2u) << log;
  EXPECT_EQ(Count(log, "(and 7 more like it, also for id " + Id("GoneB") + ")"), 2u) << log;
}

class PreparedLinesTest : public RepeatedLinesTest {
 protected:
  void BeforeInit() override {
    if (WithPool()) {
      settings_.preparedDataPoolId = MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SnMemPool_AllocHook, 0);
      ASSERT_NE(settings_.preparedDataPoolId, kInvalidPoolId);
    }
  }
  virtual bool WithPool() const { return true; }
  // Two events of prepared tones; the file of PrepB only is written.
  void LoadPreparedBank() {
    LoadOwnBank("platform Linux\n"
                "tone PrepA 48000 1 40 1000 prepared\ntone PrepB 48000 1 40 500 prepared\n"
                "sound PrepA PrepA Effects\nsound PrepB PrepB Effects\n"
                "action Play_PrepA_Act 0x0403 PrepA\nevent Play_PrepA Play_PrepA_Act\n"
                "action Play_PrepB_Act 0x0403 PrepB\nevent Play_PrepB Play_PrepB_Act\n");
    for (const Tools::BankMedia& media : ownDescription_.media)
      if (media.id == SoundEngine::GetIDFromString("PrepB"))
        std::ofstream(Path(std::to_string(media.id) + ".snm"), std::ios::binary)
            .write(reinterpret_cast<const char*>(media.bytes.data()), std::streamsize(media.bytes.size()));
    log_.Take();
  }
  static SNRESULT Prepare(const char* event) { return SoundEngine::PrepareEvent(SnPreparation_Load, &event, 1); }
};

// PrepA's file is missing: its preparation fails with one line naming the file; PrepB's is there.
TEST_F(PreparedLinesTest, APreparationWhoseMediaFileIsMissingNamesTheFile) {
  LoadPreparedBank();
  EXPECT_NE(Prepare("Play_PrepA"), SN_Success);
  EXPECT_EQ(Count(log_.Take(), "Media " + Id("PrepA") + " cannot be prepared: its file " + Id("PrepA") +
                                   " could not be opened"),
            1u);
  EXPECT_EQ(Prepare("Play_PrepB"), SN_Success);
  EXPECT_EQ(log_.Take(), "");
}

class PoolLessLinesTest : public PreparedLinesTest {
 protected:
  bool WithPool() const override { return false; }
};

// Without a pool for prepared media, preparation after preparation fails: one line, and a count that
// names the other media.
TEST_F(PoolLessLinesTest, PreparationsWithoutAPoolAreSaidOnceWithACount) {
  LoadPreparedBank();
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(Prepare("Play_PrepA"), SN_Success);
    EXPECT_NE(Prepare("Play_PrepB"), SN_Success);
  }
  Frames(2);
  const std::string line = "[ Error ][Audio] Media " + Id("PrepA") + " cannot be prepared: no pool is set for prepared media";
  EXPECT_EQ(log_.Take(), line + "\n" + line + " (and 5 more like it, also for id " + Id("PrepB") + ")\n");
}

// An event that plays an actor-mixer gives a playing id and no sound, and says why.
TEST_F(RepeatedLinesTest, PlayingAnActorMixerIsSaid) {
  LoadOwnBank("platform Linux\n"
              "tone Held 48000 1 40 440\nsound Held Held Effects\n"
              "mixer Group Effects Held\n"
              "action Play_Group_Act 0x0403 Group\nevent Play_Group Play_Group_Act\n");
  log_.Take();
  const uint32_t playing = SoundEngine::PostEvent("Play_Group", kObject);
  ASSERT_NE(playing, 0u);
  Frames(2);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(log_.Take(), "[Warning][Audio] Playing id " + std::to_string(playing) + ": node " + Id("Group") +
                             " is an actor-mixer, which plays nothing\n");
}

// An infinite game parameter value is refused as not finite; one that is not a number as such.
TEST_F(RepeatedLinesTest, AnInfiniteGameParameterValueIsSaidToBeNotFinite) {
  log_.Take();
  EXPECT_EQ(SoundEngine::SetRTPCValue(5u, std::numeric_limits<float>::infinity(), kObject), SN_InvalidParameter);
  EXPECT_EQ(SoundEngine::SetRTPCValue(5u, std::numeric_limits<float>::quiet_NaN(), kObject), SN_InvalidParameter);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] SetRTPCValue: game parameter value inf is not finite\n"
                         "[ Error ][Audio] SetRTPCValue: game parameter value nan is not a number\n");
}

}  // namespace
