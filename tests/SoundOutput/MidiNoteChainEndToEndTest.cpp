// MIDI notes that end around the joins of a continuous performance: an item joined sample-accurately
// to the one before it begins where that one's source ends, so a note that ends first leaves nothing
// of it to hear, and one that ends after the join cuts it off at the note-off's sample, as a note
// ending in the wait of a delay transition, or after it, does to the item that follows the wait.
#include "SoundEngine/Midi/EngineMidiPlayback.h"
#include "SoundEngine/Midi/MidiPlaybackContext.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// The continuous sequence `name` of one sound a signal ("<Hz>" or "<level> dc"), each a tone of `ms`,
// named after the sequence and its place ("<name>0", "<name>1", ...), with `transition`.
std::string Sequence(const std::string& name, uint32_t ms, const std::string& transition,
                     const std::vector<std::string>& signals) {
  std::string text, children;
  for (size_t i = 0; i < signals.size(); ++i) {
    const std::string item = name + std::to_string(i);
    text += "tone " + item + " 48000 1 " + std::to_string(ms) + " " + signals[i] + "\nsound " + item + " " + item +
            " Effects\n";
    children += " " + item;
  }
  return text + "sequence " + name + " Effects" + children + " continuous transition " + transition + "\n";
}

// One note on a sequence: which, and its note-off's sample counted from its note-on.
struct Note {
  size_t sequence;
  uint32_t off;
};
// Where a sequence's items begin, counted from the note-on.
using Starts = std::vector<size_t>;

// The sequences of the test's bank played by the engine's MIDI playback for the test's object, a MIDI
// target on each; the notes one after another, each note-on opening a frame.
class MidiNoteChainTest : public SoundEndToEndTest {
 protected:
  static constexpr uint32_t kFramesEach = 6;

  void Load(const std::string& text, const std::vector<std::string>& sequences) {
    LoadOwnBank("platform Linux\n" + text);
    Frames(1);  // the game object is registered
    Platform::ReentrantGuard guard(GlobalAudioLock());
    for (const std::string& name : sequences) {
      CSnIndexedObject* node = g_pObjectIndex->FindNodeAndAddRef(SoundEngine::GetIDFromString(name.c_str()), false);
      ASSERT_NE(node, nullptr) << name;
      CSnMidiEventTarget* target =
          CSnMidiEventTarget::Create(uint32_t(30 + targets_.size()), g_pRegistryMgr->Find(kObject), 903, node);
      node->Release();
      ASSERT_NE(target, nullptr);
      targets_.push_back(target);
      names_.push_back(name);
    }
  }
  void TearDown() override {
    for (CSnMidiEventTarget* target : targets_) target->Release();
    targets_.clear();
    SoundEndToEndTest::TearDown();
  }
  // Every voice and held note is over at the end: the capture's planes.
  std::array<std::vector<double>, 2> Play(const std::vector<Note>& notes) {
    {
      Platform::ReentrantGuard guard(GlobalAudioLock());
      CSnMidiPlaybackContext context(EngineMidiPlayback());
      for (size_t n = 0; n < notes.size(); ++n) {
        const uint8_t key = uint8_t(60 + n);
        const uint32_t on = uint32_t(n) * kFramesEach * kFrame;
        context.Schedule(*targets_[notes[n].sequence], SnMidiEvent{SnMidiEvent::kNoteOn, 0, key, 100}, on);
        context.Schedule(*targets_[notes[n].sequence], SnMidiEvent{SnMidiEvent::kNoteOff, 0, key, 0},
                         on + notes[n].off);
      }
      for (uint32_t frame = 0; frame < notes.size() * kFramesEach; ++frame) {
        context.Advance(kFrame);
        EXPECT_EQ(OutputTest::RenderNullFrame(), SN_Success);
      }
      EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
      EXPECT_EQ(context.HeldCount(), 0u);
    }
    return Capture();
  }
  // Each note's items from where they begin, one at a time, until the note's end (the capture began a
  // frame before the first note).
  void ExpectNotes(const std::vector<Note>& notes, const std::vector<Starts>& starts) {
    ASSERT_EQ(targets_.size(), starts.size());
    std::vector<std::vector<std::vector<double>>> media(names_.size());
    for (size_t s = 0; s < names_.size(); ++s)
      for (size_t i = 0; i < starts[s].size(); ++i) media[s].push_back(OwnMedia((names_[s] + std::to_string(i)).c_str()));
    ExpectModel(Play(notes), 0, [&](size_t t) {
      const size_t n = (t - kFrame) / (kFramesEach * kFrame), at = (t - kFrame) % (kFramesEach * kFrame);
      if (t < kFrame || n >= notes.size() || at >= notes[n].off) return 0.0;
      const Starts& begins = starts[notes[n].sequence];
      size_t item = 0;
      while (item + 1 < begins.size() && at >= begins[item + 1]) ++item;
      return At(media[notes[n].sequence][item], at - begins[item]) * kVoiceUnity * kCentreToPair;
    });
  }

  std::vector<CSnMidiEventTarget*> targets_;
  std::vector<std::string> names_;
};

// Items of 32 ms (1536 samples): the note ends 100 samples into the frame after B began, and C would
// begin where B's source ends, with that frame (3072): nothing of C sounds. The same with items of
// 40 ms, whose B plays on past that frame (C at 3840).
TEST_F(MidiNoteChainTest, ANoteEndedBeforeTheJoinLeavesNothingOfTheJoinedItem) {
  Load(Sequence("Short", 32, "4 0", {"1000", "500", "750"}) + Sequence("Long", 40, "4 0", {"1000", "500", "750"}),
       {"Short", "Long"});
  ExpectNotes({{0, 2 * kFrame + 100}, {1, 2 * kFrame + 100}}, {{0, 1536, 3072}, {0, 1920, 3840}});
}

// Items of 25 ms (1200 samples): C, a steady level, would begin 352 samples into the note's third
// frame (2400); notes end a sample before it, on it and a sample after it, and only the last hears C,
// its first sample. Across a 10 ms delay transition the next item begins 480 samples into the frame
// after the one its predecessor ends in (2528); notes that end in the wait, on its end and a sample
// after it hear the same of it.
TEST_F(MidiNoteChainTest, ANoteEndedAroundAJoinHearsTheNextItemFromItsFirstSampleOnly) {
  Load(Sequence("Joined", 25, "4 0", {"1000", "500", "0.4 dc"}) + Sequence("Waits", 25, "3 10", {"1000", "0.3 dc"}),
       {"Joined", "Waits"});
  ExpectNotes({{0, 2399}, {0, 2400}, {0, 2401}, {1, 1800}, {1, 2528}, {1, 2529}}, {{0, 1200, 2400}, {0, 2528}});
}

}  // namespace
