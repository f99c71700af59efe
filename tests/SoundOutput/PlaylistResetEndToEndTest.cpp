// A step sequence that keeps its place between plays, heard end to end: a play-list reset action
// sends it back to its first item for the game object it is posted on, and only for that one.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kOtherObject = 8;

class PlaylistResetTest : public SoundEndToEndTest {
 protected:
  // Three one-frame tones in a per-object step sequence that does not start over at each play.
  void LoadSequence() {
    LoadOwnBank("platform Linux\n"
                "tone RsA 48000 1 20 1000\n"
                "tone RsB 48000 1 20 500\n"
                "tone RsC 48000 1 20 250\n"
                "sound RsA RsA Effects\n"
                "sound RsB RsB Effects\n"
                "sound RsC RsC Effects\n"
                "sequence Rs Effects RsA RsB RsC noreset perobject\n"
                "action Play_Rs_Act 0x0403 Rs\n"
                "event Play_Rs Play_Rs_Act\n"
                "action Reset_Rs_Act 0x2203 Rs\n"
                "event Reset_Rs Reset_Rs_Act\n"
                "action Reset_Tone_Act 0x2203 RsA\n"
                "event Reset_Tone Reset_Tone_Act\n");
    ASSERT_EQ(SoundEngine::RegisterGameObj(kOtherObject), SN_Success);
  }
  // One play on the object, rendered for two frames: the tone it plays ends within them.
  void PlayOnce(uint32_t object = kObject) {
    ASSERT_NE(SoundEngine::PostEvent("Play_Rs", object), 0u);
    Frames(2);
  }
};

// Played A, B; reset; played again: A, where without the reset C would follow. The other object's
// place (after A) is left alone: its next play is B. Each play sounds from the first frame after its
// post, two frames apart.
TEST_F(PlaylistResetTest, AResetSendsTheObjectsSequenceBackToItsFirstItem) {
  LoadSequence();
  Frames(1);
  PlayOnce(kOtherObject);
  PlayOnce();
  PlayOnce();
  ASSERT_NE(SoundEngine::PostEvent("Reset_Rs", kObject), 0u);
  PlayOnce();
  PlayOnce(kOtherObject);
  const auto planes = Capture();
  const std::vector<std::vector<double>> heard = {OwnMedia("RsA"), OwnMedia("RsA"), OwnMedia("RsB"),
                                                  OwnMedia("RsA"), OwnMedia("RsB")};
  ASSERT_GE(planes[0].size(), kFrame * (1 + 2 * heard.size()));
  ExpectModel(planes, 0, [&](size_t t) {
    if (t < kFrame) return 0.0;
    const size_t play = (t - kFrame) / (2 * kFrame), at = (t - kFrame) % (2 * kFrame);
    return play < heard.size() ? At(heard[play], at) * kVoiceUnity * kCentreToPair : 0.0;
  });
}

// A reset aimed at a node that keeps no play-list says so and leaves the sequence as it was.
TEST_F(PlaylistResetTest, AResetOfANodeWithoutAPlayListIsRefused) {
  LoadSequence();
  Frames(1);
  PlayOnce();
  ASSERT_NE(SoundEngine::PostEvent("Reset_Tone", kObject), 0u);
  Frames(1);
  EXPECT_NE(log_.Take().find("has no play-list to reset"), std::string::npos);
  PlayOnce();
  const auto planes = Capture();
  const std::vector<double> a = OwnMedia("RsA"), b = OwnMedia("RsB");
  ExpectModel(planes, 0, [&](size_t t) {
    if (t >= kFrame && t < 3 * kFrame) return At(a, t - kFrame) * kVoiceUnity * kCentreToPair;
    if (t >= 4 * kFrame) return At(b, t - 4 * kFrame) * kVoiceUnity * kCentreToPair;
    return 0.0;
  });
}

}  // namespace
