// MIDI clips of music tracks heard end to end: a segment of 120 bpm with a DC marker track (0.25)
// and a MIDI track whose notes play a DC sound (0.125), written by the bank builder, played on the
// null output and read back from the capture by the test's own reader. 480 ticks per quarter at
// 120 bpm and 48 kHz is 50 samples a tick: tick 960 is music time 48,000. Music time 0 is the
// capture's first non-zero sample c0, where the marker and the clip begin.
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Banks/ThreadedBankManager.h"
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"
#include "SoundEngine/Hierarchy/NodeTargets.h"
#include "SoundEngine/Hierarchy/PropertyNode.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/ObjectIndex.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/MusicWriter.h"
#include "tests/Support/WaitFor.h"

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
  // Without `marker` the segment holds the MIDI track alone.
  void LoadClip(const std::string& clip, bool speedCurve = false, bool marker = true) {
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
    segment.node.children = {Id("Notes")};
    if (marker) segment.node.children.push_back(Id("MarkerTrack"));
    std::sort(segment.node.children.begin(), segment.node.children.end());
    segment.node.params.outputBusId = Id("Effects");
    segment.durationMs = 8000.0;
    segment.markers = {{1, 0.0, ""}, {2, 8000.0, ""}};
    if (speedCurve) {
      segment.node.params.curves = {PlayerSpeedCurve()};
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

  // A node or bus of the loaded banks (the banks hold it while the test runs).
  static CSnPropertyNode* Node(const char* name) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(Id(name), false);
    if (!found) found = g_pObjectIndex->FindNodeAndAddRef(Id(name), true);
    if (!found) return nullptr;
    found->Release();
    return dynamic_cast<CSnPropertyNode*>(found);
  }
  // Mutes (or unmutes) `name` for `object` (null: every object) at once, between two frames.
  static void Mute(const char* name, bool mute, CSnRegisteredObj* object = nullptr) {
    CSnPropertyNode* node = Node(name);
    ASSERT_NE(node, nullptr) << name;
    Platform::ReentrantGuard guard(GlobalAudioLock());
    const TransParamsBase now;
    ASSERT_EQ(mute ? node->Mute(object, now) : node->Unmute(object, now), SN_Success);
  }
  // Null until a frame has registered it.
  static CSnRegisteredObj* Object(uint32_t id) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    return g_pRegistryMgr->Find(id);
  }
};

// Three notes of 24,000 samples, a bar (96,000) apart from music time 48,000.
constexpr const char* kThreeNotes =
    "480 120 8000 target:NoteSound note:960:0:60:100:480 note:480:0:62:100:480 note:480:0:64:100:480";

// Suites of one fixture, so that no CTest entry runs long: the notes in time, the clips that loop,
// stop and hand on, the tracks, their mutes, and the play's pause, stop and seek.
class MusicMidiClipPlayTest : public MusicMidiEndToEndTest {};
class MusicMidiTrackTest : public MusicMidiEndToEndTest {};
class MusicMidiMuteTest : public MusicMidiEndToEndTest {};
class MusicMidiPlayControlTest : public MusicMidiEndToEndTest {};

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

// A note-on and its note-off inside one output frame: the note sounds between them, its stop counted
// from the frame's start as its beginning is. Notes of 2 ticks (100 samples) at music times 48,000
// (896 into frame 46), 53,100 (876 into frame 51) and 76,800 (frame 75's first sample).
TEST_F(MusicMidiEndToEndTest, ANoteBeginningAndEndingInOneFrameSoundsBetweenItsMessages) {
  LoadClip("480 120 8000 target:NoteSound note:960:0:60:100:2 note:100:0:62:100:2 note:472:0:64:100:2");
  const std::vector<std::pair<int64_t, int64_t>> notes = {{48000, 48100}, {53100, 53200}, {76800, 76900}};
  for (const auto& [on, off] : notes) ASSERT_EQ(on / kFrame, (off - 1) / kFrame);
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame, [&](int64_t t) { return Level(t, notes); });
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

// Muting the tracks ends the note the clip sounds with the next frame's first sample (51,200), though
// the pedal, down from tick 0, holds it; the note-on that comes while muted (96,000) is held back;
// once unmuted the third note (144,000) sounds to the clip's end under the pedal, kept down. The
// marker's voice ramps out across the frame of the mute and back in across that of the unmute. A
// mute for another game object changes nothing.
TEST_F(MusicMidiMuteTest, AMutedTrackEndsItsClipsNotesAndVoicesAndBeginsNoneUntilUnmuted) {
  LoadClip("480 120 8000 target:NoteSound cc:0:0:64:127 note:960:0:60:100:480 note:480:0:62:100:480 "
           "note:480:0:64:100:480");
  ASSERT_EQ(SoundEngine::RegisterGameObj(kObject + 1), SN_Success);
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(48);
  Mute("Notes", true, Object(kObject + 1));
  Frames(2);
  for (const char* track : {"Notes", "MarkerTrack"}) Mute(track, true);
  Frames(50);
  for (const char* track : {"Notes", "MarkerTrack"}) Mute(track, false);
  Frames(290);
  const std::vector<double> plane = Capture();
  const int64_t down = 50 * kFrame, up = 100 * kFrame;
  ExpectLevels(plane, FirstSound(plane), kSegment + 2 * kFrame, [&](int64_t t) {
    const double notes = Level(t, {{48000, 51200}, {144000, kSegment}}) - kMarker;
    if (t < down || t >= up + kFrame) return Level(t, {{48000, 51200}, {144000, kSegment}});
    if (t < down + kFrame) return kMarker * (1.0 - double(t - down) / kFrame) + notes;
    return t < up ? notes : kMarker * double(t - up) / kFrame + notes;
  });
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

// A clip that begins on a muted track begins muted: the note of music time 48,000 never sounds,
// and after the unmute at 61,440 the later notes do; so does a voice on a muted track, silent until
// it ramps in across the frame of the unmute. (Music time 0 is the capture's second frame.)
TEST_F(MusicMidiMuteTest, AClipOrVoiceBegunOnAMutedTrackBeginsMuted) {
  LoadClip(kThreeNotes);
  Frames(1);  // the game object's registration is done in a frame
  ASSERT_NE(Object(kObject), nullptr);
  for (const char* track : {"Notes", "MarkerTrack"}) Mute(track, true, Object(kObject));
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(60);
  for (const char* track : {"Notes", "MarkerTrack"}) Mute(track, false, Object(kObject));
  Frames(330);
  const std::vector<double> plane = Capture();
  const int64_t up = 60 * kFrame;
  ExpectLevels(plane, kFrame, kSegment + 2 * kFrame, [&](int64_t t) {
    if (t < up) return 0.0;
    if (t < up + kFrame) return kMarker * double(t - up) / kFrame;
    return Level(t, {{96000, 120000}, {144000, 168000}});
  });
}

// While it plays the clip counts as its track's activity, so the segment's mute finds the track
// among its playing children and reaches the clip: the first note (the segment's first sound, c0 =
// music time 48,000) ends at 51,200, the second's note-on comes while muted, the third sounds. The
// segment serves the playback speed (41) to two links of the game object, the play's and the
// clip's. Activity and links go with the play. (A segment of the MIDI track alone.)
TEST_F(MusicMidiTrackTest, APlayingClipIsItsTracksActivityAndFollowsItsSpeed) {
  LoadClip(kThreeNotes, true, false);
  ASSERT_EQ(SoundEngine::SetRTPCValue("PlayerSpeed", 1.0f, kObject), SN_Success);
  Frames(20);  // the speed glides to 1
  CSnPropertyNode* notes = Node("Notes");
  ASSERT_NE(notes, nullptr);
  auto served = [this] {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    uint32_t count = 0;
    if (const CSnRTPCTargetSet* targets = Node("MidiLevel")->Targets())
      targets->ForEachMatching(41, SnRTPCKey::ForObject(g_pRegistryMgr->Find(kObject)),
                               [&](const CSnRTPCTargetSet::Entry&) { ++count; });
    return count;
  };
  EXPECT_EQ(notes->Activity(), nullptr);
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(50);
  EXPECT_NE(notes->Activity(), nullptr);
  EXPECT_EQ(served(), 2u);
  Mute("MidiLevel", true);
  Frames(50);
  Mute("MidiLevel", false);
  Frames(290);
  EXPECT_EQ(notes->Activity(), nullptr);
  EXPECT_EQ(served(), 0u);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), kSegment - 48000 + 2 * kFrame, [&](int64_t t) {
    const int64_t m = t + 48000;
    return (m < 51200) || (m >= 144000 && m < 168000) ? kNote : 0.0;
  });
}

// Counted on its track as any voice is on its sound, the marker's voice is found by what walks the
// playing nodes from above: the segment's mute takes it away (ramping out across the frame of the
// mute, back in across that of the unmute) with the notes, as its bus's mute does; the bus's volume
// of -6 dB reaches it too, ramping across its frame, as it reaches the notes' sound on the same bus.
// Nothing is left counted after the play.
TEST_F(MusicMidiMuteTest, ASegmentsOrItsBussMuteAndItsBussVolumeReachTheAudioTracksVoices) {
  LoadClip(kThreeNotes);
  CSnPropertyNode* bus = Node("Effects");
  ASSERT_NE(bus, nullptr);
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(30);
  EXPECT_NE(Node("MarkerTrack")->Activity(), nullptr);
  Mute("MidiLevel", true);
  Frames(30);
  Mute("MidiLevel", false);
  Frames(30);
  Mute("Effects", true);
  Frames(30);
  Mute("Effects", false);
  Frames(30);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_EQ(bus->SetRuntimeValue(nullptr, SnProp_Volume, -6.0f, TransParamsBase{}), SN_Success);
  }
  Frames(250);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_EQ(bus->SetRuntimeValue(nullptr, SnProp_Volume, 0.0f, TransParamsBase{}), SN_Success);
  }
  EXPECT_EQ(Node("MarkerTrack")->Activity(), nullptr);
  EXPECT_EQ(Node("MidiLevel")->Activity(), nullptr);
  const std::vector<double> plane = Capture();
  // The notes of 48,000 and 96,000 begin under the segment's and the bus's mute: only the third sounds.
  const std::vector<std::pair<int64_t, int64_t>> notes = {{144000, 168000}};
  const double half = std::pow(10.0, -6.0 / 20.0);
  const size_t c0 = FirstSound(plane);
  const auto model = [&](int64_t t) {
    const double level = Level(t, notes);
    const int64_t frame = t / int64_t(kFrame);
    const double into = double(t % int64_t(kFrame)) / kFrame;
    if (frame == 30 || frame == 90) return level * (1.0 - into);
    if ((frame > 30 && frame < 60) || (frame > 90 && frame < 120)) return 0.0;
    if (frame == 60 || frame == 120) return level * into;
    if (frame == 150) return level * (1.0 + (half - 1.0) * into);
    return frame > 150 ? level * half : level;
  };
  ExpectLevels(plane, c0, 150 * kFrame, model);
  // The bus's dB becomes a gain through the fast conversion: within its 0.25 percent of full scale.
  const size_t volume = 150 * kFrame;
  ExpectLevels(plane, c0 + volume, kSegment + 2 * kFrame - volume,
               [&](int64_t t) { return model(t + int64_t(volume)); }, 0.0025 * 32768.0 + 1.0);
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
TEST_F(MusicMidiClipPlayTest, ALoopingClipRepeatsItsNotesWhileItLasts) {
  LoadClip("480 120 4000 loop target:NoteSound note:480:0:60:100:480 meta:960:47");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame,
               [](int64_t t) { return Level(t, {{24000, 48000}, {120000, 144000}}); });
}

// A clip that ends (1.25 s, at music time 60,000) while its note sounds keeps the note's note-off,
// at 72,000; the note of tick 1,920 after its end never begins.
TEST_F(MusicMidiClipPlayTest, AStoppedClipKeepsItsNoteOffsButBeginsNoNotes) {
  LoadClip("480 120 1250 target:NoteSound note:960:0:60:100:480 note:480:0:62:100:480");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame, [](int64_t t) { return Level(t, {{48000, 72000}}); });
}

// A MIDI track that aims at no node, or whose media cannot be opened, plays nothing of its clip
// and says why; the rest of the segment plays on.
TEST_F(MusicMidiTrackTest, AClipWithoutTargetPlaysNothingAndTheSegmentPlaysOn) {
  LoadClip("480 120 8000 note:960:0:60:100:480");
  const std::vector<double> plane = PlayThrough(385);
  ExpectLevels(plane, 0, kSegment + 2 * kFrame, [](int64_t t) { return Level(t, {}); });
  EXPECT_NE(log_.Take().find("aims at no loaded node"), std::string::npos);
}

// The marker's pause (and resume) fade of no time ramps it across the frame of the pause; the note
// stops and starts again with the frame, and the music's clock waits: the note-off at music time
// 72,000 ends the note 9,216 samples later than it would have.
TEST_F(MusicMidiPlayControlTest, APausedClipHoldsItsNoteAndTheNoteOffWaitsWithTheMusic) {
  LoadClip("480 120 8000 target:NoteSound note:960:0:60:100:480");
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(50);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_MidiLevel", 1, kObject), SN_Success);
  Frames(10);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_MidiLevel", 2, kObject), SN_Success);
  Frames(40);
  const std::vector<double> plane = Capture();
  const int64_t down = 50 * kFrame, up = 60 * kFrame, late = up - down - kFrame;
  ExpectLevels(plane, FirstSound(plane), 100 * kFrame, [&](int64_t t) {
    if (t < down) return Level(t, {{48000, 72000}});
    if (t < down + kFrame) return kMarker * (1.0 - double(t - down) / kFrame);
    if (t < up) return 0.0;
    if (t < up + kFrame) return kMarker * double(t - up) / kFrame + kNote;
    return Level(t - late, {{48000, 72000}});
  });
}

// A stop without a fade ramps the marker down across the frame of the stop; the note sounding ends
// with the frame's start, and nothing of the play is left.
TEST_F(MusicMidiPlayControlTest, AStoppedPlayEndsItsNotesAtOnce) {
  LoadClip("480 120 8000 target:NoteSound note:960:0:60:100:480");
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(50);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_MidiLevel", 0, kObject), SN_Success);
  Frames(10);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  const int64_t at = 50 * kFrame;
  ExpectLevels(plane, FirstSound(plane), 60 * kFrame, [&](int64_t t) {
    if (t < at) return Level(t, {{48000, 72000}});
    return t < at + kFrame ? kMarker * (1.0 - double(t - at) / kFrame) : 0.0;
  });
}

// A clip entered past a controller it sets brings the controller up to date with its first message:
// the seek to 2.4 s (tick 2,304) puts the note of tick 2,400 in the fifth frame after it, and with it
// the volume controller of tick 480 that the play never reached, on the sound's key for channel 0.
TEST_F(MusicMidiPlayControlTest, AClipEnteredPartWaySetsTheControllersItPassedWithItsFirstMessage) {
  LoadClip("480 120 8000 target:NoteSound cc:480:0:7:100 note:1920:0:60:100:480");
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(5);
  ASSERT_EQ(SoundEngine::SeekOnEvent("Play_MidiLevel", kObject, 2400), SN_Success);
  auto volume = [](float& value) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    SnRTPCKey key;
    key.gameObject = g_pRegistryMgr->Find(kObject);
    key.midiTargetId = Id("NoteSound");
    key.midiChannel = 0;
    return g_pRTPCMgr->HasExactValue(8, key) && g_pRTPCMgr->GetValue(8, key, value);
  };
  float value = 0.0f;
  Frames(2);
  EXPECT_FALSE(volume(value));
  Frames(4);
  ASSERT_TRUE(volume(value));
  EXPECT_EQ(value, 100.0f);
}

// A seek to 2 s begins the segment again there: the clip is entered at tick 1,920, so its second
// note (2,400 to 2,880) sounds 24,000 samples after the seek, for 24,000; the first never sounds.
TEST_F(MusicMidiPlayControlTest, ASeekEntersTheClipWhereItLands) {
  LoadClip("480 120 8000 target:NoteSound cc:0:0:7:100 note:960:0:60:100:480 note:960:0:62:100:480");
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(30);
  ASSERT_EQ(SoundEngine::SeekOnEvent("Play_MidiLevel", kObject, 2000), SN_Success);
  Frames(100);
  const std::vector<double> plane = Capture();
  const int64_t seekAt = 30 * kFrame;
  ExpectLevels(plane, FirstSound(plane), 100 * kFrame, [&](int64_t t) {
    return t < seekAt ? kMarker : Level(t - seekAt + 96000, {{120000, 144000}});
  });
}

// A clip's note (music time 48,000 to 72,000) on a continuous sequence of two DC items of 250 ms
// (12,000 samples; A at 0.125, B at 0.0625) with a delay between them. With 100 ms (4,800) B follows
// at 64,192 and joins the note: its note-off cuts B off at 72,000. With 500 ms (24,000) the note ends
// while the hand-on to B still waits: B never sounds. (The segment holds the MIDI track alone: c0 is
// music time 48,000.)
TEST_F(MusicMidiClipPlayTest, ANoteOffReachesTheNextItemOfTheContinuousPlayItsNoteBegan) {
  for (const int64_t delay : {4800, 24000}) {
    SCOPED_TRACE(delay);
    TearDown();
    SetUp();
    Tools::BankDescription bank;
    std::string error;
    ASSERT_TRUE(Tools::ParseBankText(
        "tone ItemA 48000 1 250 0.125 dc\r\ntone ItemB 48000 1 250 0.0625 dc\r\n"
        "sound ItemA ItemA Effects\r\nsound ItemB ItemB Effects\r\n"
        "sequence Items Effects ItemA ItemB continuous transition 3 " + std::to_string(delay / 48) + "\r\n"
        "miditrack Notes 480 120 8000 target:Items note:960:0:60:100:480\r\n"
        "segment MidiLevel 120 4 4 8000 0 8000 track:Notes bus:Effects\r\n"
        "musicevent Play_MidiLevel MidiLevel\r\n",
        "SequenceBank", bank, error))
        << error;
    LoadBankImage(bank);
    const std::vector<double> plane = PlayThrough(120);
    // A ends 608 samples into a frame (music time 0 is the capture's first sample). Its hand-on is
    // made in that frame and waits like any delayed action, whole frames from the frame's start and
    // a sample offset into the last: B begins 608 samples before A's end + delay. The delay is a gap
    // kept on the frame clock, not on A's last sample; a sequence that must follow on to the sample
    // has the sample-accurate transition for it.
    const int64_t b = 60000 / kFrame * kFrame + delay;
    ExpectLevels(plane, 0, 40000, [&](int64_t t) {
      const int64_t m = t + 48000;
      if (m < 60000) return 0.125;
      return m >= b && m < 72000 ? 0.0625 : 0.0;
    });
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  }
}

// ---- the bank of a playing clip unloaded ----

// The clip's media lie in the bank unloaded: its three notes play the DC sound and the marker sounds
// on the track, both of the same bank. The play runs 50 frames, paused for the last 2 of them or not,
// when the bank goes. What the clip holds of the bank is given back by the unload itself, as a
// voice's is: nothing waits for the clip to end (a paused clip never would, and without the audio
// thread the frames that would end it are the waiting thread's to render). The clip ends with its
// notes, and from the unload on the output is silent.
class MusicMidiUnloadTest : public MusicMidiEndToEndTest {
 public:
  static constexpr uint32_t kPlayedFrames = 50;

  // Plays the clip up to the unload, paused for its last 2 frames when told.
  void PlayUpToUnload(bool paused) {
    LoadClip(kThreeNotes);
    EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
    Frames(kPlayedFrames - (paused ? 2 : 0));
    if (paused) {
      ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_MidiLevel", 1, kObject), SN_Success);
      Frames(2);
    }
    ASSERT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 2u);  // the bank's and the clip's
  }
  // `unload` once with the clip playing and once paused, each on an engine of its own.
  template <typename Unload>
  void PlayingThenPaused(Unload&& unload) {
    for (const bool paused : {false, true}) {
      SCOPED_TRACE(paused ? "paused" : "playing");
      TearDown();
      SetUp();
      PlayUpToUnload(paused);
      if (HasFatalFailure()) return;
      unload(paused);
    }
  }
  // Once the unload ended: the clip's media are gone with the bank, no voice is left, and the play
  // was heard up to the unload (the first note sounding; the pause ramping the marker out across its
  // frame), then nothing.
  void ExpectUnloaded(bool paused) {
    EXPECT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 0u);
    Frames(3);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_NE(log_.Take().find("the bank of its MIDI clip was unloaded under it"), std::string::npos);
    const std::vector<double> plane = Capture();
    const size_t c0 = FirstSound(plane);
    ASSERT_LT(c0, size_t(kPlayedFrames) * kFrame);
    const int64_t unload = int64_t(kPlayedFrames * kFrame - c0), down = unload - 2 * int64_t(kFrame);
    ExpectLevels(plane, c0, size_t(unload) + 2 * kFrame, [&](int64_t t) {
      if (t >= unload) return 0.0;
      if (!paused || t < down) return Level(t, {{48000, 72000}});
      return t < down + kFrame ? kMarker * (1.0 - double(t - down) / kFrame) : 0.0;
    });
  }
};

struct BankCall {
  Platform::Event done{Platform::Event::Reset::Manual};
  std::atomic<int> result{-1};
  static void Callback(uint32_t, const void*, SNRESULT result, int32_t, void* cookie) {
    auto* call = static_cast<BankCall*>(cookie);
    call->result = int(result);
    call->done.Set();
  }
};

// The waited unload, on a helper thread, with the bank thread and without the audio thread: the
// bank thread runs the unload and renders its message at once. A bank command queued behind it
// tells when it has run; by then the unload has ended and the helper returns. Were it left waiting
// for the clip, the play would be stopped and rendered to its end so that the helper can be joined.
TEST_F(MusicMidiUnloadTest, AWaitedUnloadReturnsUnderAPlayingOrPausedClip) {
  PlayingThenPaused([&](bool paused) {
    auto* banks = dynamic_cast<CSnThreadedSoundBankManager*>(g_pBankManager);
    ASSERT_NE(banks, nullptr);
    banks->HoldThread();
    // Shared with the helper: a helper left waiting outlives the test's frame.
    struct Waited {
      std::atomic<bool> returned{false};
      std::atomic<int> result{-1};
    };
    const auto waited = std::make_shared<Waited>();
    std::thread helper([waited, id = bankId_, image = image_.data()] {
      waited->result = int(SoundEngine::UnloadBank(id, image));
      waited->returned = true;
    });
    OrvTest::WaitUntil([&] { return banks->QueuedCount() != 0; }, "the unload queued on the bank thread");
    BankCall behind;
    ASSERT_EQ(SoundEngine::UnloadBank(Id("NoSuchBank"), nullptr, &BankCall::Callback, &behind), SN_Success);
    banks->ReleaseThread();
    OrvTest::WaitUntilSet(behind.done, "behind.done to be set");
    const bool ended = g_pBankManager->MediaReferences(Id("Notes")) == 0;
    EXPECT_TRUE(ended) << "the unload waits for the clip";
    if (!ended) {
      EXPECT_EQ(SoundEngine::ExecuteActionOnEvent("Play_MidiLevel", 0, kObject), SN_Success);
      for (uint32_t frame = 0; frame < 400 && !waited->returned; ++frame) Frames(1);
      if (!waited->returned) {
        ADD_FAILURE() << "the unload never returned";
        helper.detach();
        return;
      }
    }
    helper.join();
    EXPECT_EQ(waited->result, int(SN_Success));
    if (ended) ExpectUnloaded(paused);
  });
}

// The queued unload's callback comes in the unload's own frame, paused clip or not: the engine's
// plain bank manager runs the command on the test's thread, and without the audio thread that
// renders its message at once, before the call returns.
class MusicMidiQueuedUnloadTest : public MusicMidiUnloadTest {
 public:
  void BeforeInit() override { settings_.useBankThread = 0; }

 protected:
  // The clip's track as the bank text names it.
  static std::string ClipText() { return std::string("miditrack Notes ") + kThreeNotes + "\r\n"; }
  // The bank of `text`; with `mediaOnly` its media alone.
  static Tools::BankDescription Description(const std::string& text, const char* name, bool mediaOnly) {
    Tools::BankDescription bank;
    std::string error;
    EXPECT_TRUE(Tools::ParseBankText(text, name, bank, error)) << error;
    if (mediaOnly) {
      bank.objects.clear();
      std::erase_if(bank.order, [](const Tools::BankChunkRef& c) { return c.kind == Tools::BankChunkKind::Hierarchy; });
    }
    return bank;
  }
  // The notes' bank and the clip's bank with its segment and event, loaded in place; their ids.
  void LoadNoteAndClipBanks(uint32_t* ids) {
    kept_ = {Tools::WriteBank(Description("tone Note 48000 1 6000 0.125 dc\r\nsound NoteSound Note Effects\r\n",
                                          "NoteBank", false)),
             Tools::WriteBank(Description(ClipText() + "segment MidiLevel 120 4 4 8000 0 8000 track:Notes bus:Effects\r\n"
                                                       "musicevent Play_MidiLevel MidiLevel\r\n",
                                          "ClipBank", false))};
    for (size_t i = 0; i < 2; ++i)
      ASSERT_EQ(SoundEngine::LoadBank(kept_[i].data(), uint32_t(kept_[i].size()), ids[i]), SN_Success) << log_.Take();
  }

  std::vector<std::vector<uint8_t>> kept_;  // banks loaded in place
};

TEST_F(MusicMidiQueuedUnloadTest, AQueuedUnloadsCallbackComesUnderAPlayingOrPausedClip) {
  PlayingThenPaused([&](bool paused) {
    // Kept past the test: an unload that still waits calls back when the engine ends.
    static BankCall unload;
    unload.result = -1;
    ASSERT_EQ(SoundEngine::UnloadBank(bankId_, image_.data(), &BankCall::Callback, &unload), SN_Success);
    EXPECT_EQ(unload.result, int(SN_Success));
    ExpectUnloaded(paused);
  });
}

// A copy of the clip's media loaded in another bank: when the clip's own bank goes, the clip reads on
// from the copy where it was, and the unload's callback comes at once. The notes' sound lies in a
// third bank that stays: every note sounds as in a play that nothing interrupted, the one sounding
// through the unload included. (The segment holds the MIDI track alone: c0 is music time 48,000.)
TEST_F(MusicMidiQueuedUnloadTest, AClipReadsOnFromACopyOfItsMediaWhenItsBankGoes) {
  uint32_t ids[3] = {};
  LoadNoteAndClipBanks(ids);
  if (HasFatalFailure()) return;
  kept_.push_back(Tools::WriteBank(Description(ClipText(), "ClipCopy", true)));
  ASSERT_EQ(SoundEngine::LoadBank(kept_[2].data(), uint32_t(kept_[2].size()), ids[2]), SN_Success) << log_.Take();
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(kPlayedFrames);
  ASSERT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 3u);  // both banks' and the clip's
  static BankCall unload;
  unload.result = -1;
  ASSERT_EQ(SoundEngine::UnloadBank(ids[1], kept_[1].data(), &BankCall::Callback, &unload), SN_Success);
  EXPECT_EQ(unload.result, int(SN_Success));
  EXPECT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 2u);  // the copy's bank's and the clip's
  Frames(385 - kPlayedFrames);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 1u);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), kSegment - 48000 + 2 * kFrame, [](int64_t t) {
    const int64_t m = t + 48000;
    return m < 72000 || (m >= 96000 && m < 120000) || (m >= 144000 && m < 168000) ? kNote : 0.0;
  });
}

// The game's own copy of the clip's media, set beside the clip's bank: when the bank goes the clip
// reads on from the game's copy; when the game takes its copy back, the call returns with the clip
// ended with its notes and nothing of the copy held, and the game frees its bytes (on the heap, where
// a read after that is seen). The note sounding through both is heard up to the call, then nothing.
// With the audio thread too, which renders nothing more while the game takes its copy back.
class MusicMidiGameMediaTest : public MusicMidiQueuedUnloadTest, public ::testing::WithParamInterface<bool> {
 public:
  void BeforeInit() override {
    MusicMidiQueuedUnloadTest::BeforeInit();
    settings_.useAudioThread = GetParam() ? 1 : 0;
  }
};

TEST_P(MusicMidiGameMediaTest, AClipEndsWhenTheGameTakesBackTheCopyItReadsOn) {
  uint32_t ids[2] = {};
  LoadNoteAndClipBanks(ids);
  if (HasFatalFailure()) return;
  auto copy = std::make_unique<std::vector<uint8_t>>(Description(ClipText(), "ClipCopy", true).media.at(0).bytes);
  const SnMediaItem item{Id("Notes"), copy->data(), uint32_t(copy->size())};
  ASSERT_EQ(SoundEngine::SetMedia(&item, 1), SN_Success);
  EXPECT_NE(SoundEngine::PostEvent("Play_MidiLevel", kObject), 0u);
  Frames(kPlayedFrames);
  ASSERT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 3u);  // the bank's, the game's and the clip's
  // Kept past the test: an unload that still waits calls back when the engine ends.
  static BankCall unload;
  unload.result = -1;
  unload.done.Clear();
  ASSERT_EQ(SoundEngine::UnloadBank(ids[1], kept_[1].data(), &BankCall::Callback, &unload), SN_Success);
  OrvTest::WaitUntilSet(unload.done, "unload.done to be set");
  EXPECT_EQ(unload.result, int(SN_Success));
  EXPECT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 2u);  // the game's and the clip's
  Frames(2);
  log_.Take();
  ASSERT_EQ(SoundEngine::UnsetMedia(&item, 1), SN_Success);
  EXPECT_EQ(g_pBankManager->MediaReferences(Id("Notes")), 0u);
  EXPECT_NE(log_.Take().find("the game took back the media of its MIDI clip; the clip ends"), std::string::npos);
  copy.reset();
  // Past the note-off the clip would read next.
  Frames(30);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_LT(c0, size_t(kPlayedFrames) * kFrame);
  const int64_t unset = int64_t((kPlayedFrames + 2) * kFrame - c0);
  ExpectLevels(plane, c0, size_t(unset) + 3 * kFrame, [&](int64_t t) { return t < unset ? kNote : 0.0; });
}

INSTANTIATE_TEST_SUITE_P(AudioThread, MusicMidiGameMediaTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Threaded" : "Plain"; });

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
