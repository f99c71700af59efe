// MIDI notes whose plays wait for a sound's initial delay: a note that ends while its play is held by
// a pause takes that play back, so that nothing of it sounds once all resumes; a note that ends
// before the first sample of a voice its short delay began leaves nothing to hear.
#include <optional>

#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// The sound `name` of the test's bank, waiting `delayMs` before each play, played by the engine's
// MIDI playback for the test's object; notes scheduled from the frame after the bank loads.
class MidiDelayTest : public SoundEndToEndTest {
 protected:
  void Load(const char* name, uint32_t delayMs) {
    LoadOwnBank(std::string("tone ") + name + " 48000 1 200 440\nsound " + name + " " + name + " Effects delay " +
                std::to_string(delayMs) + "\n");
    Frames(1);  // the game object is registered
    guard_.emplace(GlobalAudioLock());
    context_.emplace(EngineMidiPlayback());
    CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString(name), false);
    ASSERT_NE(node, nullptr);
    target_ = CSnMidiEventTarget::Create(6, g_pRegistryMgr->Find(kObject), 901, node);
    node->Release();
    ASSERT_NE(target_, nullptr);
  }
  void TearDown() override {
    Finish();
    SoundEndToEndTest::TearDown();
  }
  // The target and the playback context go, and the audio lock is let go.
  void Finish() {
    if (target_) target_->Release();
    target_ = nullptr;
    context_.reset();
    guard_.reset();
  }
  void Note(uint8_t note, uint32_t on, uint32_t off) {
    context_->Schedule(*target_, SnMidiEvent{SnMidiEvent::kNoteOn, 0, note, 100}, on);
    context_->Schedule(*target_, SnMidiEvent{SnMidiEvent::kNoteOff, 0, note, 0}, off);
  }
  // Frames of the notes, each rendered.
  void Play(uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
      context_->Advance(kFrame);
      Frames(1);
    }
  }
  // Nothing of the notes is left; the notes are done with.
  void ExpectAllEnded() {
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 0u);
    EXPECT_EQ(context_->HeldCount(), 0u);
    Finish();
  }

  std::optional<Platform::ReentrantGuard> guard_;
  std::optional<CSnMidiPlaybackContext> context_;
  CSnMidiEventTarget* target_ = nullptr;
};

// Everything is paused while the note's 100 ms wait runs; the note ends during the pause, and
// everything resumes: the play was taken back with its note, and no voice comes of it.
TEST_F(MidiDelayTest, ANoteEndedDuringAPauseTakesBackItsHeldPlay) {
  Load("Late", 100);
  Note(60, 300, 2 * kFrame + 500);
  ASSERT_NE(SoundEngine::PostEvent("Pause_All", kObject), 0u);
  Play(3);
  ASSERT_NE(SoundEngine::PostEvent("Resume_All", kObject), 0u);
  Play(8);
  ExpectAllEnded();
  ExpectModel(Capture(), 0, [](size_t) { return 0.0; }, 0.0);
}

// A delay of 40 ms (1920 samples) runs within the one frame of look-ahead as a voice that starts
// later. The first note ends a frame before its voice would start, the second in the frame of the
// start but before it: neither is heard. The third ends 104 samples after its voice began.
TEST_F(MidiDelayTest, ANoteEndedBeforeItsShortlyDelayedVoiceStartsLeavesNothingToHear) {
  Load("Soon", 40);
  Note(60, 300, 1000);
  Note(62, 4 * kFrame, 5 * kFrame + 500);
  Note(64, 8 * kFrame, 9 * kFrame + 1000);
  Play(12);
  ExpectAllEnded();
  const std::vector<double> tone = OwnMedia("Soon");
  // The capture began a frame before the first note: the third is heard from 40 ms after its note-on.
  const size_t on = 9 * kFrame + 1920, off = 10 * kFrame + 1000;
  ExpectModel(Capture(), 0, [&](size_t t) {
    return t < on || t >= off ? 0.0 : At(tone, t - on) * kVoiceUnity * kCentreToPair;
  });
}

}  // namespace
