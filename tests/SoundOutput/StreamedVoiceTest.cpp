// Streamed voices end to end: a bank's sound streaming its tone from a loose file, or from the same
// file inside a package, through the game's low-level I/O on the blocking device; a device held back
// at a gate starves the voice. The capture, read back, against the tone's samples at a plain voice's
// gains, with the frames the voice had nothing for taken out.
#include <filesystem>

#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace EndToEnd;

uint32_t g_starvations = 0;

void CountStarvation(uint32_t type, SnCallbackInfo*) {
  if (type == SnCallback_Starvation) ++g_starvations;
}

class StreamedVoiceTest : public SoundEndToEndTest {
 protected:
  // The test's bank, loaded in place: a sound on the effects bus streaming a half-second tone, three
  // buffers of the device, with the lines of `more` after the tone's. The tone's file is left to the test.
  void LoadStreamBank(const std::string& more = "") {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText("tone Stream 48000 1 500 440 loose\r\n" + more +
                                     "sound Stream Stream Effects\r\n"
                                     "action Play_Stream_Act 0x0403 Stream bank StreamBank\r\n"
                                     "event Play_Stream Play_Stream_Act\r\n",
                                     "StreamBank", bank, error))
        << error;
    for (const Tools::BankMedia& media : bank.media)
      (media.loose ? tone_ : prefetch_) = media;
    ASSERT_FALSE(tone_.bytes.empty());
    const std::vector<uint8_t>& image = Keep(Tools::WriteBank(bank));
    uint32_t id = 0;
    ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), id), SN_Success);
  }
  std::string LooseName() const { return Path(std::to_string(tone_.id) + ".snm"); }

  // Posts the streamed sound and renders it to its end: its stream opened, its first buffer read, its
  // header taken (the voice launched), the rest of its file read, then frames until it ended. Frames
  // rendered while a read is still being handed to the stream are silent; the comparison drops them.
  void PlayToEnd(bool heldAfterFirstBuffer = false) {
    const uint64_t before = io_.Bytes();
    ASSERT_NE(SoundEngine::PostEvent("Play_Stream", kObject, SnCallback_Starvation, &CountStarvation, nullptr), 0u);
    Frames(1);
    io_.WaitForBytes(before + 1);
    for (int i = 0; i < 1000 && LowerEngine::ActivePipelineCount() == 0; ++i) Frames(1);
    ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
    if (heldAfterFirstBuffer) {
      // The stream asks for its second buffer and is held: the voice plays its first and starves.
      io_.WaitForHeldRead();
      Frames(12);
      EXPECT_EQ(g_starvations, 1u);
      io_.Open();
    }
    io_.WaitForBytes(before + tone_.bytes.size());
    for (int i = 0; i < 1000 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
    ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  }

  // The capture's planes without its silent frames, and how many frames were silent between the
  // first and the last heard.
  struct Heard {
    std::array<std::vector<double>, 2> planes;
    size_t gaps = 0;
  };
  Heard HeardFrames(const char* capture) {
    const auto planes = Capture(capture);
    Heard heard;
    size_t silentRun = 0;
    for (size_t at = 0; at + kFrame <= planes[0].size(); at += kFrame) {
      bool silent = true;
      for (int c = 0; c < 2 && silent; ++c)
        for (size_t i = at; i < at + kFrame && silent; ++i) silent = planes[c][i] == 0.0;
      if (silent) {
        ++silentRun;
        continue;
      }
      if (!heard.planes[0].empty()) heard.gaps += silentRun;
      silentRun = 0;
      for (int c = 0; c < 2; ++c) heard.planes[c].insert(heard.planes[c].end(), planes[c].begin() + at, planes[c].begin() + at + kFrame);
    }
    return heard;
  }

  // Every sample of the tone, centred at a plain voice's gains, within 1 LSB; silence after it.
  void ExpectTone(const Heard& heard) {
    const std::vector<int16_t> samples = DataSamples(tone_.bytes);
    ASSERT_EQ(samples.size(), 24000u);
    for (int c = 0; c < 2; ++c) {
      ASSERT_GE(heard.planes[c].size(), samples.size());
      for (size_t t = 0; t < heard.planes[c].size(); ++t) {
        const double model = t < samples.size() ? samples[t] / 32768.0 * kVoiceUnity * kCentreToPair * 32768.0 : 0.0;
        ASSERT_NEAR(heard.planes[c][t], model, 1.0) << "channel " << c << " sample " << t;
      }
    }
  }

  void TearDown() override {
    g_starvations = 0;
    SoundEndToEndTest::TearDown();
  }

  Tools::BankMedia tone_;
  Tools::BankMedia prefetch_;  // the file's first bytes, when the bank holds them
};

// The same tone from its loose file and from a package that holds it (the loose file gone): every
// sample the same, the tone's own.
TEST_F(StreamedVoiceTest, ALooseFileServedFromAPackagePlaysTheSameSamples) {
  LoadStreamBank();
  ASSERT_TRUE(Tools::WriteBytesFile(LooseName(), tone_.bytes));
  PlayToEnd();
  const Heard loose = HeardFrames("capture.wav");
  ExpectTone(loose);

  std::filesystem::remove(LooseName());
  Tools::PackageContents contents;
  contents.streamedFiles = {{tone_.id, 0, tone_.bytes}};
  ASSERT_TRUE(Tools::WritePackageFile(Path("Sound.pck"), contents));
  uint32_t package = 0;
  ASSERT_EQ(io_.LoadPackage(u"Sound.pck", package, kInvalidPoolId), SN_Success);
  ASSERT_EQ(SoundEngine::StartOutputCapture(u"packaged.wav"), SN_Success);
  PlayToEnd();
  const Heard packaged = HeardFrames("packaged.wav");
  for (int c = 0; c < 2; ++c) EXPECT_EQ(packaged.planes[c], loose.planes[c]);
  EXPECT_EQ(g_starvations, 0u);
}

// A stream held back after its first buffer: the voice plays that buffer, is silent while it has
// nothing (the play hears of it once, however many frames it lasts) and goes on from the sample it
// stopped at once the data comes.
TEST_F(StreamedVoiceTest, AStarvedVoiceIsSilentReportedOnceAndGoesOnWhereItStopped) {
  LoadStreamBank();
  ASSERT_TRUE(Tools::WriteBytesFile(LooseName(), tone_.bytes));
  io_.Shut(1);
  PlayToEnd(true);
  EXPECT_EQ(g_starvations, 1u);
  const Heard heard = HeardFrames("capture.wav");
  EXPECT_GE(heard.gaps, 4u);  // a buffer of 16384 bytes lasts under eight frames of the twelve
  ExpectTone(heard);
}

// Prefetched, the bank holds the file's first bytes (an odd count, ending inside a sample): the voice
// begins on them at once while its stream has read nothing, is silent once they are played out, and
// goes on from the file's next byte when the stream delivers.
TEST_F(StreamedVoiceTest, APrefetchedVoiceBeginsOnTheBanksBytesAndGoesOnFromTheFile) {
  LoadStreamBank("prefetch Stream 12345\r\n");
  ASSERT_EQ(prefetch_.bytes.size(), 12345u);
  ASSERT_TRUE(std::equal(prefetch_.bytes.begin(), prefetch_.bytes.end(), tone_.bytes.begin()));
  ASSERT_TRUE(Tools::WriteBytesFile(LooseName(), tone_.bytes));
  io_.Shut(0);
  const uint64_t before = io_.Bytes();
  ASSERT_NE(SoundEngine::PostEvent("Play_Stream", kObject, SnCallback_Starvation, &CountStarvation, nullptr), 0u);
  Frames(12);  // the prefetch lasts about six
  EXPECT_EQ(io_.Bytes(), before) << "the stream read nothing while the gate was shut";
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u) << "the voice began on the prefetched bytes";
  EXPECT_EQ(g_starvations, 1u);
  io_.Open();
  io_.WaitForBytes(before + tone_.bytes.size() - 12345);
  for (int i = 0; i < 1000 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const Heard heard = HeardFrames("capture.wav");
  EXPECT_GE(heard.gaps, 5u);
  ExpectTone(heard);
}

// The tone's file cut to half while the voice plays its first buffer, the second read held until
// then: the read past the new end fails, and the voice ends where its data did, saying so once.
TEST_F(StreamedVoiceTest, AFileCutShortWhileItPlaysEndsTheSoundEarlyAndSaysSoOnce) {
  LoadStreamBank();
  ASSERT_TRUE(Tools::WriteBytesFile(LooseName(), tone_.bytes));
  io_.Shut(1);
  ASSERT_NE(SoundEngine::PostEvent("Play_Stream", kObject), 0u);
  for (int i = 0; i < 1000 && LowerEngine::ActivePipelineCount() == 0; ++i) Frames(1);
  io_.WaitForHeldRead();
  std::filesystem::resize_file(LooseName(), tone_.bytes.size() / 2);
  log_.Take();
  io_.Open();
  for (int i = 0; i < 1000 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::string log = log_.Take();
  // One read of the device's 16384 bytes was handed over; the data ends with the file as written.
  const size_t said = log.find("gives nothing past byte 16384 of its " + std::to_string(tone_.bytes.size()) +
                               "; the sound ends early");
  EXPECT_NE(said, std::string::npos) << log;
  EXPECT_EQ(log.find("the sound ends early", log.find("the sound ends early") + 1), std::string::npos) << log;
  // Only the first buffer was heard: fewer samples than the tone has.
  EXPECT_LT(HeardFrames("capture.wav").planes[0].size(), DataSamples(tone_.bytes).size());
}

}  // namespace
