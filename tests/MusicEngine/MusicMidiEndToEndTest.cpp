// MIDI clips of music tracks heard end to end: a segment of 120 bpm with a DC marker track (0.25)
// and a MIDI track whose notes play a DC sound (0.125), written by the bank builder, played on the
// null output and read back from the capture by the test's own reader. 480 ticks per quarter at
// 120 bpm and 48 kHz is 50 samples a tick: tick 960 is music time 48,000. Music time 0 is the
// capture's first non-zero sample c0, where the marker and the clip begin.
#include <string>
#include <vector>

#include "SoundEngine/Lower/VoiceManager.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;
using namespace MusicCapture;

constexpr double kMarker = 0.25, kNote = 0.125;
constexpr int64_t kSegment = 384000;  // four bars

// The level of the marker with the notes sounding over [on, off) each.
double Level(int64_t t, const std::vector<std::pair<int64_t, int64_t>>& notes, int64_t end = kSegment) {
  if (t >= end) return 0.0;
  double level = kMarker;
  for (const auto& [on, off] : notes)
    if (t >= on && t < off) level += kNote;
  return level;
}

class MusicMidiEndToEndTest : public CaptureFixture {
 public:
  // `clip`: the miditrack's words after its name (ticks, tempo, length, options and events). With
  // `speedCurve` the segment's playback speed follows PlayerSpeed one for one.
  void LoadClip(const std::string& clip, bool speedCurve = false) {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText("tone Marker 48000 1 8000 0.25 dc\r\n"
                                     "tone Note 48000 1 6000 0.125 dc\r\n"
                                     "sound NoteSound Note Effects\r\n"
                                     "musictrack MarkerTrack Marker\r\n"
                                     "miditrack Notes " + clip + "\r\n",
                                     "MidiBank", bank, error))
        << error;
    Tools::BankMusicSegment segment;
    segment.id = Id("MidiLevel");
    segment.node.tempo = 120.0f;
    segment.node.overridesMeter = 1;
    segment.node.children = {Id("MarkerTrack"), Id("Notes")};
    std::sort(segment.node.children.begin(), segment.node.children.end());
    segment.node.params.outputBusId = Id("Effects");
    segment.durationMs = 8000.0;
    segment.markers = {{1, 0.0, ""}, {2, 8000.0, ""}};
    if (speedCurve) {
      Tools::BankNodeCurve curve;
      curve.rtpcId = Id("PlayerSpeed");
      curve.parameterId = 41;
      curve.curveId = 1;
      curve.points = {{0.0f, 0.0f, 4}, {10.0f, 10.0f, 4}};
      segment.node.params.curves = {curve};
    }
    bank.objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)});
    Tools::BankAction play;
    play.id = Id("Play_MidiLevel.Play");
    play.type = 0x0403;
    play.target = Id("MidiLevel");
    play.bankId = bank.bankId;
    bank.objects.push_back({3, Tools::ActionPayload(play)});
    bank.objects.push_back({4, Tools::EventPayload(Id("Play_MidiLevel"), {Id("Play_MidiLevel.Play")})});
    LoadBankImage(bank);
  }

  // Plays the segment through and returns the capture from c0.
  std::vector<double> PlayThrough(uint32_t frames) {
    EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
    Frames(frames);
    std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    EXPECT_LT(c0, plane.size());
    plane.erase(plane.begin(), plane.begin() + std::ptrdiff_t(std::min(c0, plane.size())));
    return plane;
  }
};

// A note-on at tick 960 sounds on the marker from music time 48,000 and its note-off at tick 1,440
// ends it at 72,000, to the sample; so does a note-on of velocity 0 written under running status in
// its place. The play ends with the segment, and nothing of the clip is left.
TEST_F(MusicMidiEndToEndTest, ANoteSoundsFromItsNoteOnToItsNoteOffToTheSample) {
  for (const char* clip : {"480 120 8000 target:NoteSound note:960:0:60:100:480",
                           "480 120 8000 target:NoteSound on:960:0:60:100 on:480:0:60:0"}) {
    SCOPED_TRACE(clip);
    TearDown();
    SetUp();
    LoadClip(clip);
    const std::vector<double> plane = PlayThrough(385);
    ExpectLevels(plane, 0, kSegment + 2 * kFrame, [](int64_t t) { return Level(t, {{48000, 72000}}); });
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  }
}

// At speed 2.0 the music's frame is 2,048 music samples: the note lands at half its music time in
// the output, 24,000 to 36,000, as the marker ends at 192,000. (The note's own voice plays at its
// own pitch: the speed moves when notes play, not how they sound.)
TEST_F(MusicMidiEndToEndTest, AtTwiceTheSpeedTheNoteLandsAtHalfItsMusicTime) {
  LoadClip("480 120 8000 target:NoteSound note:960:0:60:100:480", true);
  // The parameter glides to its value (8 a second): the play begins once it is there.
  ASSERT_EQ(SoundEngine::SetRTPCValue("PlayerSpeed", 2.0f, kObject), SN_Success);
  Frames(20);
  const std::vector<double> plane = PlayThrough(200);
  ExpectLevels(plane, 0, kSegment / 2 + 2 * kFrame,
               [](int64_t t) { return Level(t, {{24000, 36000}}, kSegment / 2); });
}

// A looping clip of one 1,920-tick pass (a note from 480 to 960, the end of its track at 1,920)
// goes round while the clip lasts (4 s): its note sounds at 24,000 and again a pass (96,000) later;
// the third pass begins after the clip's end and is not heard.
TEST_F(MusicMidiEndToEndTest, ALoopingClipRepeatsItsNotesWhileItLasts) {
  LoadClip("480 120 4000 loop target:NoteSound note:480:0:60:100:480 meta:960:47");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame,
               [](int64_t t) { return Level(t, {{24000, 48000}, {120000, 144000}}); });
}

// A clip that ends (1.25 s, at music time 60,000) while its note sounds keeps the note's note-off,
// at 72,000; the note of tick 1,920 after its end never begins.
TEST_F(MusicMidiEndToEndTest, AStoppedClipKeepsItsNoteOffsButBeginsNoNotes) {
  LoadClip("480 120 1250 target:NoteSound note:960:0:60:100:480 note:480:0:62:100:480");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame, [](int64_t t) { return Level(t, {{48000, 72000}}); });
}

// A MIDI track that aims at no node, or whose media cannot be opened, plays nothing of its clip
// and says why; the rest of the segment plays on.
TEST_F(MusicMidiEndToEndTest, AClipWithoutTargetPlaysNothingAndTheSegmentPlaysOn) {
  LoadClip("480 120 8000 note:960:0:60:100:480");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame, [](int64_t t) { return Level(t, {}); });
  EXPECT_NE(log_.Take().find("aims at no loaded node"), std::string::npos);
}

}  // namespace

namespace {

using namespace SN;
using namespace MusicCapture;

class MusicMidiReplayTest : public CaptureFixture {
 public:
  void LoadPlaylist(const std::string& clip) {
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText("tone Marker 48000 1 2000 0.25 dc\r\n"
                                     "tone Note 48000 1 6000 0.125 dc\r\n"
                                     "sound NoteSound Note Effects\r\n"
                                     "musictrack MarkerTrack Marker\r\n"
                                     "miditrack Notes " + clip + "\r\n"
                                     "segment Bar 120 4 4 2000 0 2000 track:MarkerTrack track:Notes bus:Effects\r\n"
                                     "playlist Twice 0 loop:2 rule:*:*:7 Bar\r\n"
                                     "musicevent Play_Twice Twice\r\n",
                                     "MidiReplayBank", bank, error))
        << error;
    LoadBankImage(bank);
  }
};

// The bar plays twice, each time a clip of its own on the same sound: the pedal goes down at tick 0
// and holds the note of tick 960 past its note-off. The second clip's first message retires the
// first clip, ended at the bar's end: its pedal lifts and its held note ends there, at 96,000 to the
// sample. The second note, held by its own clip's pedal, ends with the play, at the end of the frame
// the play ends in (192,512).
TEST_F(MusicMidiReplayTest, AClipPlayingAgainOnItsNodeEndsTheNotesTheEndedClipHeld) {
  LoadPlaylist("480 120 2000 target:NoteSound cc:0:0:64:127 note:960:0:60:100:480");
  EXPECT_NE(SoundEngine::PostEvent("Play_Twice", kObject), 0u);
  Frames(220);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), 196000, [](int64_t t) {
    if (t >= 192000) return t < 192512 ? kNote : 0.0;
    return Level(t, {{48000, 96000}, {144000, 192512}});
  });
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

}  // namespace
