// A resampled voice heard to its end: music looping a 12 kHz segment through a bank written from bank
// text, the capture against linear interpolation over the tone looped.
#include <string>

#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tests/Support/WaveSamples.h"

namespace {

// Music that loops a segment plays each pass on a voice of its own, begun at the last one's exit.
// A 12 kHz tone of whole cycles exactly as long as the segment: the passes follow one another as the
// tone looped would, with no gap of four outputs where a voice that lost its last frame ran out early.
class ResampledMusicEndToEndTest : public MusicCapture::CaptureFixture {};

TEST_F(ResampledMusicEndToEndTest, ASegmentLoopedByItsPlaylistJoinsItsPassesWithoutAGap) {
  const char* text = "platform Linux\n"
                     "tone Pass 12000 1 500 220\n"
                     "musictrack PassTrack Pass\n"
                     "segment PassSegment 120 4 4 500 0 500 track:PassTrack\n"
                     "playlist PassList 0 PassSegment\n"
                     "action Play_Passes_Act 0x0403 PassList\n"
                     "event Play_Passes Play_Passes_Act\n";
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(text, "PassBank", bank, error)) << error;
  LoadBankImage(bank);
  const std::vector<double> tone = OrvTest::ToneSamples(bank, "Pass");
  ASSERT_EQ(tone.size(), 6000u);
  ASSERT_NE(tone.back(), 0.0);
  Frames(1);
  ASSERT_NE(SN::SoundEngine::PostEvent("Play_Passes", MusicCapture::kObject), 0u);
  Frames(80);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane) / MusicCapture::kFrame * MusicCapture::kFrame;  // the tone's first sample is 0
  ASSERT_EQ(c0, MusicCapture::kFrame);
  // Three joints: four outputs to a frame, the frame after the last the first again.
  ExpectLevels(plane, c0, 3 * 24000 + 100, [&](int64_t t) {
    const size_t i = size_t(t / 4) % tone.size();
    return tone[i] + (tone[(i + 1) % tone.size()] - tone[i]) * double(t % 4) / 4.0;
  });
}

}  // namespace
