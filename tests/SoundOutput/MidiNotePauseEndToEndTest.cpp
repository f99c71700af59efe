// MIDI notes whose plays wait for a sound's initial delay: a note that ends while its play is held by
// a pause takes that play back, so that nothing of it sounds once all resumes; a note that ends
// before the first sample of a voice its short delay began leaves nothing to hear.
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// A sound that waits 100 ms (4800 samples) before each play.
const std::string kLateBank =
    "tone Late 48000 1 200 440\n"
    "sound Late Late Effects delay 100\n";

// The engine's MIDI playback with one target on a sound (Late unless told) for the test's object.
class MidiNoteTarget {
 public:
  explicit MidiNoteTarget(const char* sound = "Late") : context_(EngineMidiPlayback()) {
    CSnIndexedObject* late = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString(sound), false);
    EXPECT_NE(late, nullptr);
    if (late) target_ = CSnMidiEventTarget::Create(6, g_pRegistryMgr->Find(kObject), 901, late);
    if (late) late->Release();
    EXPECT_NE(target_, nullptr);
  }
  ~MidiNoteTarget() {
    if (target_) target_->Release();
  }
  void Note(uint8_t kind, uint8_t note, uint32_t at) { context_.Schedule(*target_, SnMidiEvent{kind, 0, note, 100}, at); }
  CSnMidiPlaybackContext& Context() { return context_; }

 private:
  CSnMidiPlaybackContext context_;
  CSnMidiEventTarget* target_ = nullptr;
};

// Everything is paused while the note's play waits; the note ends during the pause, and everything
// resumes: the play was taken back with its note, no voice comes of it and nothing is left waiting.
TEST_F(SoundEndToEndTest, ANoteEndedDuringAPauseTakesBackItsHeldPlay) {
  LoadOwnBank(kLateBank);
  Frames(1);  // the game object is registered
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    MidiNoteTarget midi;
    midi.Note(SnMidiEvent::kNoteOn, 60, 300);
    midi.Note(SnMidiEvent::kNoteOff, 60, 2 * kFrame + 500);
    midi.Context().Advance(kFrame);
    ASSERT_EQ(g_pAudioMgr->DuePendingCount(), 1u);
    ASSERT_NE(SoundEngine::PostEvent("Pause_All", kObject), 0u);
    Frames(1);
    EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 1u);
    for (int frame = 0; frame < 2; ++frame) {
      midi.Context().Advance(kFrame);
      Frames(1);
    }
    EXPECT_EQ(g_pAudioMgr->PausedPendingCount(), 0u);
    ASSERT_NE(SoundEngine::PostEvent("Resume_All", kObject), 0u);
    for (int frame = 0; frame < 8; ++frame) {
      midi.Context().Advance(kFrame);
      Frames(1);
    }
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(g_pAudioMgr->DuePendingCount() + g_pAudioMgr->PausedPendingCount(), 0u);
    EXPECT_EQ(midi.Context().HeldCount(), 0u);
  }
  const auto planes = Capture();
  ExpectModel(planes, 0, [](size_t) { return 0.0; }, 0.0);
}

// A delay of 40 ms (1920 samples) runs within the one frame of look-ahead as a voice that starts
// later. The first note ends a frame before its voice would start, the second in the frame of the
// start but before it: neither is heard. The third ends 104 samples after its voice began.
TEST_F(SoundEndToEndTest, ANoteEndedBeforeItsShortlyDelayedVoiceStartsLeavesNothingToHear) {
  LoadOwnBank("tone Soon 48000 1 200 440\n"
              "sound Soon Soon Effects delay 40\n");
  Frames(1);  // the game object is registered
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    MidiNoteTarget midi("Soon");
    midi.Note(SnMidiEvent::kNoteOn, 60, 300);
    midi.Note(SnMidiEvent::kNoteOff, 60, 1000);
    midi.Note(SnMidiEvent::kNoteOn, 62, 4 * kFrame);
    midi.Note(SnMidiEvent::kNoteOff, 62, 5 * kFrame + 500);
    midi.Note(SnMidiEvent::kNoteOn, 64, 8 * kFrame);
    midi.Note(SnMidiEvent::kNoteOff, 64, 9 * kFrame + 1000);
    for (int frame = 0; frame < 12; ++frame) {
      midi.Context().Advance(kFrame);
      Frames(1);
    }
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(midi.Context().HeldCount(), 0u);
  }
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("Soon");
  // The capture began a frame before the first note: the third is heard from 40 ms after its note-on.
  const size_t on = 9 * kFrame + 1920, off = 10 * kFrame + 1000;
  ExpectModel(planes, 0, [&](size_t t) {
    return t < on || t >= off ? 0.0 : At(tone, t - on) * kVoiceUnity * kCentreToPair;
  });
}

}  // namespace
