// A music switch container prepared through its event with game-sync preparation on, heard end to
// end: its tracks play media no loaded bank holds, each state's segment only once that state is
// prepared, before the event or after it.
#include <fstream>

#include "tests/MusicEngine/MusicCaptureSupport.h"

namespace {

using namespace MusicCapture;

class MusicPreparationTest : public CaptureFixture {
 protected:
  void BeforeInit() override {
    settings_.gameSyncPreparation = true;
    settings_.preparedDataPoolId = SN::MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SN::SnMemPool_AllocHook, 0);
    ASSERT_NE(settings_.preparedDataPoolId, SN::kInvalidPoolId);
  }
  // One second of DC for each state, its tone a loose file; the bank loaded by name, as the event's
  // play action names it.
  void SetUp() override {
    CaptureFixture::SetUp();
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText("stategroup MoodGroup 0\n"
                                     "tone CalmTone 48000 1 1000 0.25 dc prepared\n"
                                     "tone TenseTone 48000 1 1000 0.5 dc prepared\n"
                                     "musictrack CalmTrack CalmTone\n"
                                     "musictrack TenseTrack TenseTone\n"
                                     "segment CalmSegment 120 4 4 1000 0 1000 track:CalmTrack bus:Effects\n"
                                     "segment TenseSegment 120 4 4 1000 0 1000 track:TenseTrack bus:Effects\n"
                                     "musicswitch Mood MoodGroup Calm:CalmSegment Tense:TenseSegment\n"
                                     "musicevent Play_Mood Mood\n",
                                     "MoodBank", bank, error))
        << error;
    for (const Tools::BankMedia& media : bank.media) Write(std::to_string(media.id) + ".snm", media.bytes);
    Write("MoodBank.bnk", Tools::WriteBank(bank));
    uint32_t id = 0;
    ASSERT_EQ(SN::SoundEngine::LoadBank("MoodBank.bnk", -1, id), SN::SN_Success) << log_.Take();
  }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  static SN::SNRESULT PrepareState(SN::SnPreparationType type, const char* state) {
    return SN::SoundEngine::PrepareGameSyncs(type, SN::SnGroupType_State, "MoodGroup", &state, 1);
  }
  static SN::SNRESULT PrepareMood() {
    const char* event = "Play_Mood";
    return SN::SoundEngine::PrepareEvent(SN::SnPreparation_Load, &event, 1);
  }
  // The state set, the event posted and its segment rendered to its end (47 frames) and beyond.
  void PlayIn(const char* state) {
    ASSERT_EQ(SN::SoundEngine::SetState("MoodGroup", state), SN::SN_Success);
    ASSERT_NE(SN::SoundEngine::PostEvent("Play_Mood", kObject), 0u);
    Frames(52);
  }
  // From the capture's first sound on: `level` for the segment's second, then silence.
  void ExpectOneSecondOf(const std::vector<double>& plane, size_t notBefore, double level) {
    const size_t c0 = FirstSound(plane);
    ASSERT_GE(c0, notBefore);
    ASSERT_LT(c0, notBefore + 2 * kFrame) << log_.Take();
    ExpectLevels(plane, c0, plane.size() - c0, [level](int64_t t) { return t < 48000 ? level : 0.0; });
  }
};

TEST_F(MusicPreparationTest, AStatePreparedBeforeTheEventPlaysItsSegment) {
  ASSERT_EQ(PrepareState(SN::SnPreparation_Load, "Calm"), SN::SN_Success);
  ASSERT_EQ(PrepareMood(), SN::SN_Success);
  PlayIn("Calm");
  ExpectOneSecondOf(Capture(), 0, 0.25);
}

TEST_F(MusicPreparationTest, AStateOnlyPlaysOnceItIsPreparedAfterTheEvent) {
  ASSERT_EQ(PrepareMood(), SN::SN_Success);
  PlayIn("Tense");  // not prepared: silent
  const size_t second = g_frame * kFrame;
  ASSERT_EQ(PrepareState(SN::SnPreparation_Load, "Tense"), SN::SN_Success);
  PlayIn("Tense");
  ExpectOneSecondOf(Capture(), second, 0.5);
  ASSERT_EQ(PrepareState(SN::SnPreparation_Unload, "Tense"), SN::SN_Success);
}

}  // namespace
