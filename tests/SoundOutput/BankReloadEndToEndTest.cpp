// A bank unloaded and at once loaded again from a file changed in between: what plays afterwards is
// the new file's content, heard through the whole chain, whether or not a voice of the old bank
// played when the unload came. The banks are written from bank text by the bank builder's library.
#include <cmath>

#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace EndToEnd;

// The same names in both versions: a tone, its sound on the effects bus, a 3D sound of a long tone
// that loops, and the events that play them. Only the tone's pitch and the sound's volume differ.
std::string SwapText(uint32_t hz, int volumeDb) {
  return "platform Linux\n"
         "tone Swap 48000 1 60 " + std::to_string(hz) + "\n"
         "sound Swap Swap Effects volume " + std::to_string(volumeDb) + "\n"
         "action Play_Swap_Act 0x0403 Swap bank Swap\n"
         "event Play_Swap Play_Swap_Act\n"
         "tone Held 48000 1 500 " + std::to_string(hz / 2) + "\n"
         "sound Held Held Effects loop 0 3d Footsteps\n"
         "action Play_Held_Act 0x0403 Held bank Swap\n"
         "event Play_Held Play_Held_Act\n";
}

class BankReloadTest : public SoundEndToEndTest {
 protected:
  // Writes the bank file from its text; the description is kept for its media.
  void WriteSwap(uint32_t hz, int volumeDb) {
    std::string error;
    description_ = {};
    ASSERT_TRUE(Tools::ParseBankText(SwapText(hz, volumeDb), "Swap", description_, error)) << error;
    ASSERT_TRUE(Tools::WriteBytesFile(Path("Swap.bnk"), Tools::WriteBank(description_)));
  }
  // Unloads with a callback (the call returns at once) and loads the file written meanwhile.
  void ReloadChanged(uint32_t hz, int volumeDb) {
    ASSERT_EQ(SoundEngine::UnloadBank("Swap.bnk", nullptr, &Unloaded, &unloaded_), SN_Success);
    WriteSwap(hz, volumeDb);
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank("Swap.bnk", -1, id), SN_Success);
  }
  // Posts Play_Swap once no voice is left and renders it out: every sample from its frame on is the
  // new file's tone at its volume (centred on the front pair).
  void ExpectNewSwap(int volumeDb) {
    for (int frame = 0; frame < 40 && VoiceManager::ActiveInstanceCount(); ++frame) Frames(1);
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    const size_t posted = 0;
    ASSERT_EQ(SoundEngine::StopOutputCapture(), SN_Success);
    ASSERT_EQ(SoundEngine::StartOutputCapture(u"swap.wav"), SN_Success);
    ASSERT_NE(SoundEngine::PostEvent("Play_Swap", kObject), 0u);
    Frames(6);
    const auto planes = Capture("swap.wav");
    ASSERT_GE(planes[0].size(), 6u * kFrame);
    const std::vector<double> tone = OrvTest::ToneSamples(description_, "Swap");
    ASSERT_EQ(tone.size(), 2880u);
    // The volume as the exact power of ten: the engine's conversion is within a part in five thousand
    // of it, so half an LSB more room than the rounding alone.
    const double gain = std::pow(10.0, volumeDb / 20.0);
    ExpectModel(
        planes, posted, [&](size_t t) { return At(tone, t) * gain * kVoiceUnity * kCentreToPair; }, 1.5);
    EXPECT_EQ(unloaded_, 1);
  }

  static void Unloaded(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    if (result == SN_Success) ++*static_cast<int*>(cookie);
  }

  Tools::BankDescription description_;
  int unloaded_ = 0;
};

TEST_F(BankReloadTest, AReloadOfAChangedFilePlaysTheNewContent) {
  WriteSwap(440, 0);
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank("Swap.bnk", -1, id), SN_Success);
  ReloadChanged(660, -6);
  ExpectNewSwap(-6);
}

// A 3D voice of the old bank plays when the unload comes: the objects it held must not stand in for
// the new file's.
TEST_F(BankReloadTest, AReloadUnderAPlayingVoiceOfTheOldBankPlaysTheNewContent) {
  WriteSwap(440, 0);
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank("Swap.bnk", -1, id), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Held", kObject), 0u);
  Frames(2);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  ReloadChanged(660, -6);
  ExpectNewSwap(-6);
}

}  // namespace
