// MIDI notes whose plays wait for a sound's initial delay, met by pauses of everything: a note that
// ends while its play is held takes that play back, so that nothing of it sounds once all resumes.
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// A sound that waits 100 ms (4800 samples) before each play.
const std::string kLateBank =
    "tone Late 48000 1 200 440\n"
    "sound Late Late Effects delay 100\n";

// The engine's MIDI playback with one target on sound Late for the test's object.
class MidiNoteTarget {
 public:
  MidiNoteTarget() : context_(EngineMidiPlayback()) {
    CSnIndexedObject* late = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString("Late"), false);
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

}  // namespace
