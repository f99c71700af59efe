// A step sequence that keeps its place between plays, heard end to end: a play-list reset action
// sends it back to its first item for the game object it is posted on, and only for that one.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class PlaylistResetEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// Three one-frame tones in a per-object sequence that does not start over at each play. On the
// object: A, B, reset, A (without the reset C would follow); on another object A, then B, its place
// untouched. A reset aimed at a sound is refused: it has no play-list. Each play sounds
// from the frame after its post, two frames apart.
TEST_F(PlaylistResetEndToEndTest, AResetSendsTheObjectsSequenceBackToItsFirstItem) {
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
  constexpr uint32_t kOther = 8;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kOther), SN_Success);
  Frames(1);
  for (const char* step : {"other", "play", "play", "reset", "bad reset", "play", "other"}) {
    const std::string what = step;
    const char* event = what == "reset" ? "Reset_Rs" : what == "bad reset" ? "Reset_Tone" : "Play_Rs";
    ASSERT_NE(SoundEngine::PostEvent(event, what == "other" ? kOther : kObject), 0u);
    if (what == "play" || what == "other") Frames(2);
  }
  Frames(1);
  EXPECT_NE(log_.Take().find("has no play-list to reset"), std::string::npos);
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

}  // namespace
