// A music track's voice is weighed by its priority at its distance, as a sound's is: the engine-wide
// limit admits it or not before it is ever heard.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tools/SoundBank/BankText.h"

namespace {

using MusicCapture::kFrame;
using MusicCapture::kObject;

constexpr uint32_t kRefObject = 8;

// Music: a track of base 50, -40 at 100 m (46 at 10 m, 10 at 200 m), placed under an attenuation of
// 0 dB at every distance. Ref: 2D, 30, killed over a limit. Both on a bus of their own, steady levels.
const char* const kBank =
    "platform Linux\n"
    "tone Quarter 48000 1 100 0.25 dc\n"
    "tone Eighth 48000 1 2000 0.125 dc\n"
    "attenuation Even\nattuse Even 0 0\nattcurve Even 0 0\nattpoint Even 0 0 0 4\nattpoint Even 0 100 0 4\n"
    "bus Plain MasterBus\n"
    "sound Ref Quarter Plain loop 0 priority 30 inaudible kill\n"
    "musictrack Track Eighth 3d Even priority 50 distanceoffset -40\n"
    "segment Seg 120 4 4 2000 0 2000 track:Track bus:Plain\n"
    "playlist List 0 Seg\n"
    "action Play_Ref_Act 0x0403 Ref\nevent Play_Ref Play_Ref_Act\n"
    "action Play_List_Act 0x0403 List\nevent Play_List Play_List_Act\n";

class MusicPriorityTest : public MusicCapture::CaptureFixture {
 protected:
  void SetUp() override {
    CaptureFixture::SetUp();
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(kBank, "PriorityBank", bank, error)) << error;
    LoadBankImage(bank);
    ASSERT_EQ(SN::SoundEngine::RegisterGameObj(kRefObject), SN::SN_Success);
    // Each case has a capture of its own.
    ASSERT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
  }
  // Ref plays under a limit of one voice; two frames later the music on the object `metres` ahead. The
  // capture of those frames (left plane) under a name of its own, then everything stopped.
  std::vector<double> RefThenMusic(float metres, const std::string& name) {
    EXPECT_EQ(SN::SoundEngine::StartOutputCapture(std::u16string(name.begin(), name.end()).c_str()), SN::SN_Success);
    EXPECT_EQ(SN::SoundEngine::SetMaxNumVoicesLimit(1), SN::SN_Success);
    EXPECT_EQ(SN::SoundEngine::SetPosition(kObject, SN::SnSoundPosition{{0.0f, 0.0f, metres}, {0.0f, 0.0f, -1.0f}}),
              SN::SN_Success);
    EXPECT_NE(SN::SoundEngine::PostEvent("Play_Ref", kRefObject), 0u);
    Frames(2);
    EXPECT_NE(SN::SoundEngine::PostEvent("Play_List", kObject), 0u);
    Frames(6);
    EXPECT_EQ(SN::SoundEngine::StopOutputCapture(), SN::SN_Success);
    EXPECT_EQ(SN::SoundEngine::StopAll(), SN::SN_Success);
    Frames(2);
    EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
    const std::vector<int16_t> samples = OutputTest::DataSamples(OutputTest::ReadFileBytes(Path(name)));
    std::vector<double> left;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) left.push_back(samples[i]);
    return left;
  }
};

// Each frame's loudest sample against Ref's level (0.25, 2D) and the music's (0.125, meeting the fast
// power of ten once more for its attenuation's 0 dB), within 0.05 % of the full level.
void ExpectFrames(const std::vector<double>& plane, size_t frames, const std::function<double(size_t)>& level) {
  const double full = MusicCapture::kVoiceUnity * MusicCapture::kCentreToPair * 32768.0;
  ASSERT_GE(plane.size(), frames * kFrame);
  for (size_t f = 0; f < frames; ++f) {
    double peak = 0.0;
    for (size_t t = f * kFrame; t < (f + 1) * kFrame; ++t) peak = std::max(peak, std::fabs(plane[t]));
    ASSERT_NEAR(peak, full * level(f), 0.0005 * full) << "frame " << f;
  }
}
constexpr double kRef = 0.25, kMusic = 0.125 * MusicCapture::kFastUnity;

// 200 m ahead the track's voice is 10, below Ref's 30: refused, Ref plays on (weighed at its base of
// 50 it took Ref's place). 10 m ahead it is 46: Ref is killed, heard beside the music for the rest of
// that frame.
TEST_F(MusicPriorityTest, AMusicVoiceIsWeighedAtItsDistance) {
  ExpectFrames(RefThenMusic(200.0f, "far.wav"), 8, [](size_t) { return kRef; });
  ExpectFrames(RefThenMusic(10.0f, "near.wav"), 8,
               [](size_t f) { return f < 2 ? kRef : f == 2 ? kRef + kMusic : kMusic; });
}

}  // namespace
