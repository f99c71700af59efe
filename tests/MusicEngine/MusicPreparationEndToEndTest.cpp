// A music switch container prepared through its event with game-sync preparation on, heard end to
// end: its tracks play media no loaded bank holds, each state's segment only once that state is
// prepared, before the event or after it; Term lets it go by its prepared states.
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
  // Samples [from, to) of the capture: silence up to a sound within two frames of `from`, then
  // `level` for the segment's second, then silence.
  void ExpectOneSecondOf(const std::vector<double>& plane, size_t from, size_t to, double level) {
    ASSERT_LE(to, plane.size());
    const std::vector<double> part(plane.begin() + std::ptrdiff_t(from), plane.begin() + std::ptrdiff_t(to));
    const size_t c0 = FirstSound(part);
    ASSERT_LT(c0, 2 * kFrame) << log_.Take();
    ExpectLevels(part, c0, part.size() - c0, [level](int64_t t) { return t < 48000 ? level : 0.0; });
  }
};

TEST_F(MusicPreparationTest, EachStatesSegmentPlaysOnceTheStateIsPreparedBeforeTheEventOrAfter) {
  ASSERT_EQ(PrepareState(SN::SnPreparation_Load, "Calm"), SN::SN_Success);
  ASSERT_EQ(PrepareMood(), SN::SN_Success);
  PlayIn("Calm");
  PlayIn("Tense");  // not prepared: silent
  const size_t tense = g_frame * kFrame;
  ASSERT_EQ(PrepareState(SN::SnPreparation_Load, "Tense"), SN::SN_Success);
  PlayIn("Tense");
  const std::vector<double> plane = Capture();
  ExpectOneSecondOf(plane, 0, tense, 0.25);
  ExpectOneSecondOf(plane, tense, plane.size(), 0.5);
  // Term unprepares the container by its values: Tense's segment, no longer prepared, is neither
  // unprepared nor released again.
  ASSERT_EQ(PrepareState(SN::SnPreparation_Unload, "Tense"), SN::SN_Success);
  log_.Take();
  SN::SoundEngine::Term();
  EXPECT_EQ(log_.Take().find("Error"), std::string::npos);
}

}  // namespace
