// Prepared events heard end to end: a sound whose media no loaded bank holds plays while its event is
// prepared; a switch container prepared with game-sync preparation on plays the media of its prepared
// values only, follows the values as they come and go, and goes at Term by them.
#include <fstream>

#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

class PreparedEventTest : public SoundEndToEndTest {
 protected:
  void BeforeInit() override {
    settings_.gameSyncPreparation = true;
    settings_.preparedDataPoolId = MemoryMgr::CreatePool(nullptr, 1 << 20, 16, SnMemPool_AllocHook, 0);
    ASSERT_NE(settings_.preparedDataPoolId, kInvalidPoolId);
  }
  // The test's bank from memory, its prepared tones written beside it as the build writes them.
  void LoadWithLooseTones(const std::string& text) {
    LoadOwnBank(text);
    for (const Tools::BankMedia& media : ownDescription_.media) {
      ASSERT_TRUE(media.loose);
      std::ofstream(Path(std::to_string(media.id) + ".snm"), std::ios::binary)
          .write(reinterpret_cast<const char*>(media.bytes.data()), std::streamsize(media.bytes.size()));
    }
  }
  static SNRESULT PrepareEvent(SnPreparationType type, const char* event) {
    return SoundEngine::PrepareEvent(type, &event, 1);
  }
  static SNRESULT PrepareSwitch(SnPreparationType type, const char* value) {
    return SoundEngine::PrepareGameSyncs(type, SnGroupType_Switch, "PrepGroup", &value, 1);
  }
  // Posts `event` and renders `frames` frames: the frame it sounds from.
  size_t Post(const char* event, uint32_t frames) {
    const size_t at = frame_;
    EXPECT_NE(SoundEngine::PostEvent(event, kObject), 0u);
    Frames(frames);
    frame_ += frames;
    return at;
  }
  // Every sample against the tones begun at their frames, at a plain voice's gains.
  void ExpectTones(const std::vector<std::pair<const char*, size_t>>& played) {
    std::vector<std::pair<std::vector<double>, size_t>> tones;
    for (const auto& [tone, frame] : played) tones.push_back({OwnMedia(tone), frame * kFrame});
    const auto planes = Capture();
    ASSERT_GE(planes[0].size(), frame_ * kFrame);
    ExpectModel(planes, 0, [&](size_t t) {
      double sum = 0.0;
      for (const auto& [samples, from] : tones) sum += t >= from ? At(samples, t - from) : 0.0;
      return sum * kVoiceUnity * kCentreToPair;
    });
  }

  size_t frame_ = 0;
};

// Tones of 40 ms, in no loaded bank: each has ended within the three frames its post renders.
TEST_F(PreparedEventTest, ASwitchContainerPlaysTheMediaOfItsPreparedValuesWhileItsEventIsPrepared) {
  LoadWithLooseTones("tone PrepA 48000 1 40 1000 prepared\n"
                     "tone PrepB 48000 1 40 500 prepared\n"
                     "sound PrepA PrepA Effects\n"
                     "sound PrepB PrepB Effects\n"
                     "switch PrepSwitch Effects switch PrepGroup A A=PrepA B=PrepB\n"
                     "action Play_PrepSwitch_Act 0x0403 PrepSwitch\n"
                     "event Play_PrepSwitch Play_PrepSwitch_Act\n");
  ASSERT_EQ(SoundEngine::SetSwitch("PrepGroup", "A", kObject), SN_Success);
  Post("Play_PrepSwitch", 3);  // nothing prepared
  ASSERT_EQ(PrepareSwitch(SnPreparation_Load, "A"), SN_Success);
  ASSERT_EQ(PrepareEvent(SnPreparation_Load, "Play_PrepSwitch"), SN_Success);
  const size_t first = Post("Play_PrepSwitch", 3);
  ASSERT_EQ(SoundEngine::SetSwitch("PrepGroup", "B", kObject), SN_Success);
  Post("Play_PrepSwitch", 3);  // B's value is not prepared
  // Prepared after the event, B's value reaches the prepared container.
  ASSERT_EQ(PrepareSwitch(SnPreparation_Load, "B"), SN_Success);
  const size_t second = Post("Play_PrepSwitch", 3);
  // A's value unprepared takes A's media with it.
  ASSERT_EQ(PrepareSwitch(SnPreparation_Unload, "A"), SN_Success);
  ASSERT_EQ(SoundEngine::SetSwitch("PrepGroup", "A", kObject), SN_Success);
  Post("Play_PrepSwitch", 3);
  ExpectTones({{"PrepA", first}, {"PrepB", second}});
  // Term unprepares the container by its values: A's sound, no longer prepared, is neither unprepared
  // nor released again, and every object goes once.
  // Each of the three plays without media said so.
  const std::string played = log_.Take();
  size_t unplayed = 0;
  for (size_t at = 0; (at = played.find("could not be prepared", at)) != std::string::npos; ++at) ++unplayed;
  EXPECT_EQ(unplayed, 3u) << played;
  SoundEngine::Term();
  EXPECT_EQ(log_.Take().find("Error"), std::string::npos);
}

TEST_F(PreparedEventTest, AnUnpreparedEventsMediaGoes) {
  LoadWithLooseTones("tone PrepA 48000 1 40 1000 prepared\n"
                     "sound PrepA PrepA Effects\n"
                     "action Play_PrepA_Act 0x0403 PrepA\n"
                     "event Play_PrepA Play_PrepA_Act\n");
  ASSERT_EQ(PrepareEvent(SnPreparation_Load, "Play_PrepA"), SN_Success);
  const size_t heard = Post("Play_PrepA", 3);
  ASSERT_EQ(PrepareEvent(SnPreparation_Unload, "Play_PrepA"), SN_Success);
  Post("Play_PrepA", 3);
  ExpectTones({{"PrepA", heard}});
}

// A container's preparation that fails on a child after others asked for their media takes back only
// what it asked for: the media another preparation holds stays, under the voice reading it and for
// the next play.
TEST_F(PreparedEventTest, AFailedPreparationLeavesTheMediaOthersHold) {
  // The switch's last child comes from a bank that goes before the switch is prepared.
  const std::vector<uint8_t>& gone = BankImage("tone Gone 48000 1 40 300\n"
                                               "sound PrepGone Gone Effects\n", "GoneBank");
  uint32_t goneId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(gone.data(), uint32_t(gone.size()), goneId), SN_Success);
  LoadWithLooseTones("tone PrepA 48000 1 200 1000 prepared\n"
                     "sound PrepA PrepA Effects\n"
                     "sound PrepA2 PrepA Effects\n"
                     "elsewhere PrepGone\n"
                     "switch PrepSwitch Effects switch PrepGroup A A=PrepA+PrepA2+PrepGone\n"
                     "action Play_PrepA_Act 0x0403 PrepA\n"
                     "event Play_PrepA Play_PrepA_Act\n"
                     "action Play_PrepSwitch_Act 0x0403 PrepSwitch\n"
                     "event Play_PrepSwitch Play_PrepSwitch_Act\n");
  ASSERT_EQ(SoundEngine::UnloadBank(goneId, gone.data()), SN_Success);
  ASSERT_EQ(PrepareEvent(SnPreparation_Load, "Play_PrepA"), SN_Success);
  ASSERT_EQ(PrepareSwitch(SnPreparation_Load, "A"), SN_Success);
  const size_t first = Post("Play_PrepA", 2);
  // The list fails on PrepGone after both sounds of PrepA's media asked for it.
  EXPECT_NE(PrepareEvent(SnPreparation_Load, "Play_PrepSwitch"), SN_Success);
  Frames(10);
  frame_ += 10;
  const size_t second = Post("Play_PrepA", 12);
  ExpectTones({{"PrepA", first}, {"PrepA", second}});
}

}  // namespace
