// Nested pauses of a playing sound and the resume action's force flag: each plain resume takes back
// one pause, a forced one resumes the voice at once past all of them.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

// The cases of this file, a suite (and a CTest entry) of their own over the end-to-end fixture.
namespace EndToEnd {
class ForcedResumeEndToEndTest : public SoundEndToEndTest {};
}  // namespace EndToEnd

namespace {

using namespace EndToEnd;

// A steady level of 0.5 (a DC tone) looping; a pause, a plain resume and a forced one of it.
const std::string kPausedBank =
    "tone Steady 48000 1 100 0.5 dc\n"
    "sound Steady Steady Effects loop 0\n"
    "action Play_Steady_Act 0x0403 Steady\n"
    "event Play_Steady Play_Steady_Act\n"
    "action Pause_Steady_Act 0x0203 Steady\n"
    "event Pause_Steady Pause_Steady_Act\n"
    "action Resume_Steady_Act 0x0303 Steady\n"
    "event Resume_Steady Resume_Steady_Act\n"
    "action Force_Resume_Act 0x0303 Steady flag 1\n"
    "event Force_Resume Force_Resume_Act\n";

// Paused three times after two frames, resumed plainly two frames later (still paused twice over),
// then with force two frames after that: heard again at once. The frames of the pause and of the
// forced resume are the voice's ramps; the loudest sample of every other frame is the level or 0.
TEST_F(ForcedResumeEndToEndTest, AForcedResumeResumesASoundPausedThreeTimesAtOnce) {
  LoadOwnBank(kPausedBank);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady", kObject), 0u);
  Frames(2);
  for (int i = 0; i < 3; ++i) ASSERT_NE(SoundEngine::PostEvent("Pause_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Resume_Steady", kObject), 0u);
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Force_Resume", kObject), 0u);
  Frames(3);
  const std::vector<double> peaks = FramePeaks(Capture()[0]);
  ASSERT_GE(peaks.size(), 9u);
  const double full = 0.5 * kVoiceUnity * kCentreToPair * 32768.0;
  for (size_t f = 0; f < 9; ++f) {
    if (f == 2 || f == 6) continue;
    ASSERT_NEAR(peaks[f], f < 2 || f > 6 ? full : 0.0, 0.005 * full) << "frame " << f;
  }
}

}  // namespace
