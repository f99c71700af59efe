// A music track streaming a tone whose first bytes its bank holds, written from bank text: the clip
// is launched without look-ahead and sounds from its first sample on time while its stream has read
// nothing, the capture against the tone's own ramp.
#include <string>

#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace MusicCapture;

class PrefetchedMusicEndToEndTest : public CaptureFixture {};

// 20,000 bytes of the file are prefetched: 9,966 samples after its 68-byte header, a little under ten
// frames. The stream's reads are held back throughout.
TEST_F(PrefetchedMusicEndToEndTest, APrefetchedClipSoundsOnTimeBeforeItsStreamReads) {
  const char* text = "platform Linux\n"
                     "tone Opening 48000 1 1000 0 ramp loose\n"
                     "prefetch Opening 20000\n"
                     "musictrack OpeningTrack Opening lookahead 100\n"
                     "segment OpeningSegment 120 4 4 1000 0 1000 track:OpeningTrack\n"
                     "action Play_Opening_Act 0x0403 OpeningSegment\n"
                     "event Play_Opening Play_Opening_Act\n";
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText(text, "OpeningBank", bank, error)) << error;
  ASSERT_EQ(bank.media.size(), 2u);
  ASSERT_TRUE(bank.media[0].loose);
  ASSERT_TRUE(Tools::WriteBytesFile(Path(std::to_string(bank.media[0].id) + ".snm"), bank.media[0].bytes));
  LoadBankImage(bank);
  io_.Shut(0);
  const uint64_t before = io_.Bytes();
  Frames(1);
  ASSERT_NE(SN::SoundEngine::PostEvent("Play_Opening", kObject), 0u);
  Frames(9);
  EXPECT_EQ(io_.Bytes(), before) << "the stream read nothing";
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 1u);
  const std::vector<double> plane = Capture();
  // As a clip at 0 from memory: its first sample in the play's first frame. The ramp's first sample
  // is 0, so the first heard is its second.
  ASSERT_EQ(FirstSound(plane), kFrame + 1);
  ExpectLevels(plane, kFrame, 8 * kFrame, [](int64_t t) { return Ramp(t); }, 1.5);
}

}  // namespace
