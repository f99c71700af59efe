// Music heard end to end: banks of DC media and a 120 bpm segment written by the bank builder, the
// engine and the music engine on the null output, frames rendered on the test's thread, and the
// output capture read back by the test's own reader. Music time 0 is the capture's first non-zero
// sample c0, on a frame boundary; music time t is sample c0 + t.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "MusicEngine/MusicEngine.h"
#include "MusicEngine/MusicPlaybackInstance.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/StateMgr.h"
#include "SoundEngine/Hierarchy/HierarchyNode.h"
#include "SoundEngine/ObjectIndex.h"
#include "MusicEngine/MusicSegmentInfo.h"
#include "MusicEngine/MusicTypes.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "tests/MusicEngine/MusicCaptureSupport.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"
#include "tools/SoundBank/MusicWriter.h"

namespace {

using namespace SN;
using namespace MusicCapture;

// The segment in music time: pre-entry, active, post-exit, the user cue.
constexpr int64_t kPreEntry = 24000, kActive = 384000, kPostExit = 24000, kCue = 156000;
constexpr int64_t kSegmentEnd = kPreEntry + kActive + kPostExit;

// What the play's callback heard, with the frame each came in.
struct Heard {
  uint32_t type;
  uint32_t frame;
  uint32_t cue;
};
std::vector<Heard> g_heard;
using MusicCapture::g_frame;

void RecordMusicCallback(uint32_t type, SnCallbackInfo* info) {
  uint32_t cue = 0;
  if (type & 0x7F00) cue = static_cast<SnMusicSyncCallbackInfo*>(info)->userCueId;
  g_heard.push_back({type, g_frame, cue});
}

// The builder's description of the test's music: DC media, a switch track on "Intensity" over the
// segment of 120 bpm, a stinger segment, and the event that plays the segment.
struct MusicBank {
  uint32_t syncType = SnMusicSync_NextBar;
  uint32_t stateSync = 0;  // "MusicMood" declared on the segment with this sync type when not 0
  bool stinger = false;
  bool speedCurve = false;
  bool rampLow = false;  // the low sub-track plays a ramp that tells every source sample apart
  bool fadeOutLow = false;  // the low clip fades out over its last 500 ms
  bool noPostExit = false;  // the segment ends at its exit cue
  bool streamedLow = false;  // the low clip streams from a loose file, 100 ms ahead, not prefetched
  uint32_t filterLow = 0;  // the low clip's automation of this type (1 low-pass, 2 high-pass): 0 to 90 over 9 s
  bool volumeLfo = false;  // the track's volume follows a 2 Hz triangle LFO (0 dB at rest, -200 at full swing)
  bool virtualOnFader = false;  // the track's voices go virtual when inaudible; "Fader" 1 takes its volume to -200 dB
};

class MusicEndToEndTest : public MusicCapture::CaptureFixture {
 public:
  void SetUp() override {
    CaptureFixture::SetUp();
    g_heard.clear();
  }

  Tools::BankMusicTrack SwitchTrack(const Tools::BankDescription& bank, uint32_t syncType, bool fadeOut) const {
    Tools::BankMusicTrack track;
    track.id = Id("IntensityTrack");
    for (const char* tone : {"Low", "High"})
      for (const auto& media : bank.media)
        if (media.id == Id(tone)) track.sources.push_back({0x00010000, 0, media.id, uint32_t(media.bytes.size()), 0, {}});
    track.clips = {{0, Id("Low"), 0.0, 0.0, 0.0, 9000.0}, {1, Id("High"), 0.0, 0.0, 0.0, 9000.0}};
    track.subTrackCount = 2;
    track.type = 3;
    track.groupType = 0;
    track.groupId = Id("Intensity");
    track.defaultSwitch = Id("Low");
    track.switchIds = {Id("Low"), Id("High")};
    const uint32_t transition[8] = {0, 4, 0, syncType, 0, 0, 4, 0};
    if (fadeOut) track.automation = {{0, 4, {{8.5f, 1.0f, 4}, {9.0f, 0.0f, 4}}}};
    std::copy(std::begin(transition), std::end(transition), track.transition);
    return track;
  }

  void LoadMusic(const MusicBank& music) {
    Tools::BankDescription bank;
    std::string error;
    const std::string low = std::string(music.rampLow ? "tone Low   48000 1 9000 0 ramp" : "tone Low   48000 1 9000 0.25  dc") +
                            (music.streamedLow ? " loose\r\n" : "\r\n");
    ASSERT_TRUE(Tools::ParseBankText(low +
                                         "tone High  48000 1 9000 0.5   dc\r\n"
                                     "modulator lfo TrackLfo 0=2 2=50 4=2 5=1\r\n"  // as the game bank's VolumeLfo
                                     "tone Sting 48000 1 250  0.125 dc\r\n",
                                     "MusicBank", bank, error))
        << error;
    std::vector<Tools::BankObject> objects;
    Tools::BankMusicTrack levelTrack = SwitchTrack(bank, music.syncType, music.fadeOutLow);
    if (music.streamedLow) {
      for (const auto& media : bank.media) {
        if (media.id != Id("Low")) continue;
        // Bytes past the media's data, which it never plays: the read that brings its last samples is
        // followed by another, which tells the test those samples are with the stream.
        std::vector<uint8_t> file = media.bytes;
        file.resize(file.size() + kStreamTail, 0);
        std::ofstream(Path(std::to_string(media.id) + ".snm"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        streamedBytes_ = media.bytes.size();
        levelTrack.sources[0] = {0x00010000, 1, media.id, media.id, 0, {}};
      }
      levelTrack.lookAheadMs = 100;
    }
    if (music.filterLow) levelTrack.automation = {{0, music.filterLow, {{0.0f, 0.0f, 4}, {9.0f, 90.0f, 4}}}};
    if (music.volumeLfo) {
      Tools::BankNodeCurve curve;
      curve.rtpcId = Id("TrackLfo");
      curve.rtpcType = 2;
      curve.parameterId = 0;
      curve.curveId = 1;
      curve.points = {{0.0f, 0.0f, 4}, {1.0f, -200.0f, 4}};
      levelTrack.params.curves = {curve};
    }
    if (music.virtualOnFader) {
      levelTrack.params.advancedFlags = 0x10;  // its own voice behaviour
      levelTrack.params.behaviour = SnVirtual_BecomeVirtual;
      Tools::BankNodeCurve curve;
      curve.rtpcId = Id("Fader");
      curve.parameterId = 0;
      curve.curveId = 1;
      curve.points = {{0.0f, 0.0f, 4}, {1.0f, -200.0f, 4}};
      levelTrack.params.curves.push_back(curve);
    }
    objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(levelTrack, false)});
    if (music.stinger) {
      // 250 ms of DC 0.125 with no pre-entry or post-exit.
      Tools::BankMusicTrack track;
      track.id = Id("StingTrack");
      for (const auto& media : bank.media)
        if (media.id == Id("Sting")) track.sources.push_back({0x00010000, 0, media.id, uint32_t(media.bytes.size()), 0, {}});
      track.clips = {{0, Id("Sting"), 0.0, 0.0, 0.0, 250.0}};
      objects.push_back({Tools::kBankMusicTrackType, Tools::MusicTrackPayload(track, false)});
      Tools::BankMusicSegment sting;
      sting.id = Id("StingSegment");
      sting.node.children = {Id("StingTrack")};
      sting.node.params.outputBusId = Id("Effects");
      sting.durationMs = 250.0;
      sting.markers = {{1, 0.0, ""}, {2, 250.0, ""}};
      objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(sting, false)});
    }
    Tools::BankMusicSegment segment;
    segment.id = Id("Level");
    segment.node.tempo = 120.0f;
    segment.node.gridPeriodMs = 250.0;
    segment.node.gridOffsetMs = 100.0;
    segment.node.overridesMeter = 1;
    segment.node.children = {Id("IntensityTrack")};
    segment.node.params.outputBusId = Id("Effects");
    segment.durationMs = music.noPostExit ? 8500.0 : 9000.0;
    segment.markers = {{1, 500.0, ""}, {Id("Chorus"), 3750.0, "Chorus"}, {2, 8500.0, ""}};
    if (music.stinger) segment.node.stingers = {{Id("Hit"), Id("StingSegment"), SnMusicSync_NextBeat, 0, 1000, 0}};
    if (music.stateSync) segment.node.params.stateGroups = {{Id("MusicMood"), uint8_t(music.stateSync), {}}};
    if (music.speedCurve) {
      segment.node.params.curves = {PlayerSpeedCurve()};
    }
    objects.push_back({Tools::kBankMusicSegmentType, Tools::MusicSegmentPayload(segment, false)});
    Tools::BankAction play;
    play.id = Id("Play_Level.Play");
    play.type = 0x0403;
    play.target = Id("Level");
    play.bankId = bank.bankId;
    objects.push_back({3, Tools::ActionPayload(play)});
    objects.push_back({4, Tools::EventPayload(Id("Play_Level"), {Id("Play_Level.Play")})});
    bank.objects.insert(bank.objects.end(), objects.begin(), objects.end());
    if (std::none_of(bank.order.begin(), bank.order.end(),
                     [](const Tools::BankChunkRef& ref) { return ref.kind == Tools::BankChunkKind::Hierarchy; }))
      bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    LoadBankImage(bank);
  }

  uint32_t PlayLevel(uint32_t flags = 0) {
    const uint32_t playingId = SoundEngine::PostEvent("Play_Level", kObject, flags, flags ? &RecordMusicCallback : nullptr);
    EXPECT_NE(playingId, 0u);
    return playingId;
  }

  // The segment with its stinger played for `frames` frames, "Hit" posted after each of the frame
  // counts in `triggers` (in order); the capture from its first sound.
  void PlayWithTriggers(const std::vector<uint32_t>& triggers, uint32_t frames, std::vector<double>& plane,
                        size_t& c0) {
    MusicBank music;
    music.stinger = true;
    LoadMusic(music);
    PlayLevel();
    uint32_t done = 0;
    for (const uint32_t at : triggers) {
      Frames(at - done);
      done = at;
      ASSERT_EQ(SoundEngine::PostTrigger("Hit", kObject), SN_Success);
    }
    Frames(frames - done);
    plane = Capture();
    c0 = FirstSound(plane);
    ASSERT_LT(c0, plane.size());
  }

  // Renders `count` frames of a play whose streamed clip's voice was made in its first frame with
  // `lead` samples to go. The stream reads its first buffer at once and reads on only once the voice
  // has taken the header from it, in the frame of the clip's first sample; from then on, before each
  // frame the stream has been handed every byte that frame plays.
  void StreamedFrames(uint32_t count, uint64_t readBefore, int64_t lead) {
    const uint64_t dataBytes = 2 * 432000;
    const uint64_t header = streamedBytes_ - dataBytes;
    io_.WaitForBytes(readBefore + 1);
    for (uint32_t frame = 1; frame <= count; ++frame) {
      const int64_t played = std::clamp<int64_t>(int64_t(frame) * kFrame - lead, 0, 432000);
      if (played > int64_t(kFrame)) io_.WaitForHandedBytes(readBefore + header + 2 * uint64_t(played));
      Frames(1);
    }
  }

  static constexpr size_t kStreamTail = 64 * 1024;  // more than the device's granule and its buffering
  size_t streamedBytes_ = 0;
};

// Suites of one fixture, so that no CTest entry runs long: the play itself, what waits for a sync
// point (states, stingers, sync callbacks; a switch track's changes at bars and beats, and at grid
// points and cues, apart), streamed clips, voices heard again, and the automations, curves and speed
// that shape the voices.
class MusicSyncEndToEndTest : public MusicEndToEndTest {};
class MusicSwitchTrackEndToEndTest : public MusicEndToEndTest {
 protected:
  void ExpectTheChangeAtItsSyncPoint(uint32_t syncType, int64_t at);
};
class MusicSwitchTrackCueEndToEndTest : public MusicSwitchTrackEndToEndTest {};
class MusicStreamEndToEndTest : public MusicEndToEndTest {};
class MusicRejoinEndToEndTest : public MusicEndToEndTest {};
class MusicShapingEndToEndTest : public MusicEndToEndTest {};

// With nothing changed the segment plays its default sub-track from its first pre-entry sample to the
// end of its post-exit part, then the play and its voices are gone.
TEST_F(MusicEndToEndTest, ASegmentPlaysItsDefaultSubTrackFromPreEntryToPostExit) {
  LoadMusic(MusicBank{});
  Frames(2);
  PlayLevel();
  Frames(kSegmentEnd / kFrame + 4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_EQ(c0, 2 * kFrame) << "a clip at 0 without look-ahead starts in the play's first frame";
  ExpectLevels(plane, c0, kSegmentEnd + 2 * kFrame, [](int64_t t) { return t < kSegmentEnd ? 0.25 : 0.0; });
}

// A stop without a fade silences the play over the frame of the stop; with a fade it dies away over
// the fade, then the play ends and its voices with it.
TEST_F(MusicEndToEndTest, AStopEndsThePlayAtOnceOrOverItsFade) {
  LoadMusic(MusicBank{});
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 0, kObject), SN_Success);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  std::vector<double> plane = Capture();
  size_t c0 = FirstSound(plane);
  // Without a fade the voice's gain still ramps to 0 across the frame of the stop: no click.
  ExpectLevels(plane, c0, 73 * kFrame, [](int64_t t) {
    const int64_t at = 70 * kFrame;
    return t < at ? 0.25 : t < at + kFrame ? 0.25 * (1.0 - double(t - at) / kFrame) : 0.0;
  });

  TearDown();
  SetUp();
  LoadMusic(MusicBank{});
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 0, kObject, 500, SnCurve_Linear), SN_Success);
  Frames(30);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "the fade of 500 ms is over and the play with it";
  plane = Capture();
  c0 = FirstSound(plane);
  const double full = 0.25 * kVoiceUnity * kCentreToPair * 32768.0;
  EXPECT_NEAR(plane[c0 + 70 * kFrame - 1], full, 1.0);
  // Falling all the way, never rising, to silence once 500 ms are past.
  for (size_t t = 70 * kFrame; t < 100 * kFrame; ++t) ASSERT_LE(plane[c0 + t], plane[c0 + t - 1] + 1.0) << t;
  EXPECT_LT(plane[c0 + 80 * kFrame], 0.8 * full);
  for (size_t t = 70 * kFrame + 24000 + kFrame; t < 100 * kFrame; ++t) ASSERT_EQ(plane[c0 + t], 0.0) << t;
}

// Pauses nest: two pauses need two resumes; the music's clock waits with it, so the segment still
// ends 432,000 samples of playing after it began.
TEST_F(MusicEndToEndTest, NestedPausesNeedAsManyResumesAndTheMusicWaits) {
  LoadMusic(MusicBank{});
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 1, kObject), SN_Success);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 1, kObject), SN_Success);
  Frames(10);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 2, kObject), SN_Success);
  Frames(10);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Level", 2, kObject), SN_Success);
  Frames(kSegmentEnd / kFrame + 10 - 70);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  // The pause's fade of no time ramps the voice down across frame 70, and the resume's up across
  // frame 90; the music's clock stood still in between, its voice's source with it.
  const int64_t down = 70 * kFrame, up = 90 * kFrame, end = kSegmentEnd + (up - down - int64_t(kFrame));
  ExpectLevels(plane, c0, end + 4 * kFrame, [&](int64_t t) {
    if (t < down) return 0.25;
    if (t < down + kFrame) return 0.25 * (1.0 - double(t - down) / kFrame);
    if (t < up) return 0.0;
    if (t < up + kFrame) return 0.25 * double(t - up) / kFrame;
    return t < end ? 0.25 : 0.0;
  });
}

// A seek by time restarts the segment where it says: the clip entered part-way plays from the same
// place in its source, and the cue's callback comes where the seek puts the cue. A seek by percent
// snapped to the nearest marker goes to that marker.
TEST_F(MusicEndToEndTest, SeeksPutTheLevelAndTheCueWhereTheyLand) {
  MusicBank music;
  music.rampLow = true;
  LoadMusic(music);
  PlayLevel(SnCallback_MusicSyncUserCue | SnCallback_MusicPlayStarted);
  g_frame = 0;
  Frames(70);
  ASSERT_EQ(SoundEngine::SeekOnEvent("Play_Level", kObject, 2000), SN_Success);
  Frames(70);
  std::vector<double> plane = Capture();
  size_t c0 = FirstSound(plane);
  // The ramp's first sample is 0: the play began at the capture's first frame.
  c0 -= c0 % kFrame;
  const int64_t seekAt = 70 * kFrame;
  ExpectLevels(plane, c0, 140 * kFrame, [&](int64_t t) {
    return t < seekAt ? Ramp(t) : Ramp(kPreEntry + 96000 + (t - seekAt));
  }, 1.5);
  // The play began, began again with the seek, and met the cue where the seek put it.
  ASSERT_EQ(g_heard.size(), 3u);
  EXPECT_EQ(g_heard[0].type, uint32_t(SnCallback_MusicPlayStarted));
  EXPECT_EQ(g_heard[1].type, uint32_t(SnCallback_MusicPlayStarted));
  EXPECT_EQ(g_heard[1].frame, 70u);
  EXPECT_EQ(g_heard[2].type, uint32_t(SnCallback_MusicSyncUserCue));
  EXPECT_EQ(g_heard[2].frame, uint32_t((seekAt + kCue - 96000) / kFrame));

  TearDown();
  SetUp();
  g_heard.clear();
  LoadMusic(music);
  PlayLevel();
  Frames(70);
  // Half the active part is 192,000; the nearest marker to it is the cue at 156,000.
  ASSERT_EQ(SoundEngine::SeekOnEvent("Play_Level", kObject, 0.5f, true), SN_Success);
  Frames(10);
  plane = Capture();
  c0 = FirstSound(plane);
  c0 -= c0 % kFrame;
  ExpectLevels(plane, c0, 80 * kFrame, [&](int64_t t) {
    return t < seekAt ? Ramp(t) : Ramp(kPreEntry + kCue + (t - seekAt));
  }, 1.5);
}

// A switch whose value no sub-track plays leaves the switch track silent.
TEST_F(MusicSwitchTrackEndToEndTest, ASwitchValueOfNoSubTrackPlaysNothing) {
  LoadMusic(MusicBank{});
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "Nowhere", kObject), SN_Success);
  Frames(1);
  PlayLevel();
  Frames(20);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  EXPECT_EQ(FirstSound(plane), plane.size());
}

// A speed that is no number (property 54 of the segment) counts as 1; a seek past every 32-bit
// sample count is refused and the music plays on as it was.
TEST_F(MusicEndToEndTest, ASpeedThatIsNoNumberIsOneAndASeekPastTheRangeIsRefused) {
  LoadMusic(MusicBank{});
  CSnIndexedObject* found = g_pObjectIndex->FindNodeAndAddRef(Id("Level"), false);
  ASSERT_NE(found, nullptr);
  {
    Platform::ReentrantGuard audio(GlobalAudioLock());
    static_cast<CSnHierarchyNode*>(found)->SetFloatProperty(54, std::nanf(""));
  }
  found->Release();
  PlayLevel();
  Frames(3);
  ASSERT_NE(VoiceManager::FirstActiveInstance(), nullptr);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->PitchRatio(), 1.0f);
  ASSERT_EQ(SoundEngine::SeekOnEvent("Play_Level", kObject, INT32_MAX), SN_Success);
  Frames(20);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), 23 * kFrame, [](int64_t) { return 0.25; });
}

// The game's level music: its existing event plays the general bank's 120 bpm segment on the music
// bus, heard from the frame it was posted in; its stop fades it out and ends the play.
TEST_F(MusicEndToEndTest, TheGamesTuneEventPlaysTheLevelMusicAndItsStopEndsIt) {
  std::filesystem::copy_file("Sound/Banks/GeneralBank.bnk", Path("GeneralBank.bnk"));
  uint32_t id = 0;
  ASSERT_EQ(SoundEngine::LoadBank("GeneralBank.bnk", -1, id), SN_Success) << log_.Take();
  Frames(2);
  ASSERT_NE(SoundEngine::PostEvent("Play_Tune", kObject), 0u);
  Frames(100);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  ASSERT_NE(SoundEngine::PostEvent("Stop_Tune", kObject), 0u);
  Frames(30);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "300 ms of fade are over";
  const std::vector<double> plane = Capture();
  EXPECT_EQ(FirstSound(plane) / kFrame, 2u) << "the tone's first sample is 0";
  size_t loud = 0;
  for (size_t t = 2 * kFrame; t < 102 * kFrame; ++t) loud += std::abs(plane[t]) > 100.0 ? 1 : 0;
  EXPECT_GT(loud, 50u * kFrame) << "a 220 Hz tone at half scale";
  // 300 ms of fade from frame 102, a frame at most to reach the stop, and its frame's ramp.
  for (size_t t = 102 * kFrame + 14400 + 2 * kFrame; t < plane.size(); ++t) ASSERT_EQ(plane[t], 0.0) << t;
  const std::string logged = log_.Take();
  EXPECT_EQ(logged.find("[ Error ]"), std::string::npos) << logged;
}

// A fade-out automation on the clip shapes its tail: each frame's gain is the curve's value at the
// frame's end, reached across the frame from the last one; the clip then stops.
TEST_F(MusicShapingEndToEndTest, AFadeOutAutomationShapesTheClipsTailThenItStops) {
  MusicBank music;
  music.fadeOutLow = true;
  LoadMusic(music);
  PlayLevel();
  Frames(kSegmentEnd / kFrame + 4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  // The curve over the clip's samples: 1 until 408,000, down to 0 at 432,000.
  auto curve = [](int64_t at) {
    return at <= 408000 ? 1.0 : at >= 432000 ? 0.0 : 1.0 - double(at - 408000) / 24000.0;
  };
  ExpectLevels(plane, c0, kSegmentEnd + 2 * kFrame, [&](int64_t t) {
    if (t >= kSegmentEnd) return 0.0;
    const int64_t frame = t / kFrame, i = t % kFrame;
    const double before = curve(frame * kFrame), after = curve((frame + 1) * kFrame);
    return 0.25 * (before + (after - before) * double(i) / kFrame);
  });
}

// A switch change whose sync point is the exit cue of a segment with no post-exit part has nowhere to
// go: it is ignored and the low level plays to the end.
TEST_F(MusicSwitchTrackEndToEndTest, ASwitchChangeAtTheExitOfASegmentWithoutPostExitIsIgnored) {
  MusicBank music;
  music.syncType = SnMusicSync_ExitCue;
  music.noPostExit = true;
  LoadMusic(music);
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "High", kObject), SN_Success);
  Frames((kPreEntry + kActive) / kFrame + 4 - 70);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), kPreEntry + kActive + 2 * kFrame,
               [](int64_t t) { return t < kPreEntry + kActive ? 0.25 : 0.0; });
}

// A state change whose sync point is less than a frame away is applied at once: set before the frame
// that holds the bar at 120,000, it is in force after that frame.
TEST_F(MusicSyncEndToEndTest, AStateChangeLessThanAFrameFromItsSyncIsAppliedAtOnce) {
  MusicBank music;
  music.stateSync = SnMusicSync_NextBar;
  LoadMusic(music);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  PlayLevel();
  Frames(117);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(Id("MusicMood")), Id("Tense"));
}

// A streamed clip that is not prefetched has its voice made one look-ahead (100 ms, 4,800 samples)
// before its first sample, in the play's first frame, which stays silent; with its data at hand it
// sounds sample for sample as the same clip played from the bank's memory.
TEST_F(MusicStreamEndToEndTest, AStreamedClipStartsOneLookAheadEarlyAndSoundsAsTheClipFromMemory) {
  constexpr uint32_t kPlayFrames = (kSegmentEnd + 4800) / kFrame + 3;
  MusicBank music;
  music.rampLow = true;
  LoadMusic(music);
  PlayLevel();
  Frames(kPlayFrames);
  const std::vector<double> fromMemory = Capture();

  TearDown();
  SetUp();
  music.streamedLow = true;
  LoadMusic(music);
  const uint64_t readBefore = io_.Bytes();
  PlayLevel(SnCallback_Starvation);
  Frames(1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->InitialOffset(), 4800 - int32_t(kFrame))
      << "one frame of its look-ahead gone";
  StreamedFrames(kPlayFrames - 1, readBefore, 4800 - int64_t(kFrame));
  const std::vector<double> streamed = Capture();
  for (size_t t = 0; t < kFrame; ++t) ASSERT_EQ(streamed[t], 0.0) << t;
  // The ramp's first sample is 0: the clip's first non-zero sample is its second. From memory the
  // clip starts with the play; streamed, one look-ahead into it.
  const size_t c0 = FirstSound(fromMemory) - 1;
  ASSERT_EQ(c0, 0u);
  ASSERT_EQ(FirstSound(streamed) - 1, 4800u);
  ExpectLevels(fromMemory, c0, size_t(kSegmentEnd), [](int64_t t) { return Ramp(t); }, 1.5);
  ASSERT_GE(streamed.size(), 4800 + size_t(kSegmentEnd) + kFrame);
  for (size_t t = 0; t < size_t(kSegmentEnd) + kFrame; ++t)
    ASSERT_EQ(streamed[4800 + t], fromMemory[t]) << "music time " << t;
  EXPECT_TRUE(g_heard.empty()) << "the voice never starved";
}

// A switch change waits for the sync point its track's transition asks for: set after 70 frames
// (position 47,680) the level changes at exactly the next bar, beat, grid point or user cue.
void MusicSwitchTrackEndToEndTest::ExpectTheChangeAtItsSyncPoint(uint32_t syncType, int64_t at) {
  SCOPED_TRACE(syncType);
  MusicBank music;
  music.syncType = syncType;
  LoadMusic(music);
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "High", kObject), SN_Success);
  Frames(200);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_EQ(c0 % kFrame, 0u);
  ExpectLevels(plane, c0, 200 * kFrame, [&](int64_t t) { return t < at ? 0.25 : 0.5; });
}

TEST_F(MusicSwitchTrackEndToEndTest, ASwitchTrackChangesSubTrackAtTheSampleOfItsSyncPoint) {
  ExpectTheChangeAtItsSyncPoint(SnMusicSync_NextBar, 120000);
  TearDown();
  SetUp();
  ExpectTheChangeAtItsSyncPoint(SnMusicSync_NextBeat, 72000);
}

TEST_F(MusicSwitchTrackCueEndToEndTest, ASwitchTrackChangesSubTrackAtTheSampleOfItsGridPointOrCue) {
  ExpectTheChangeAtItsSyncPoint(SnMusicSync_NextGrid, 76800);
  TearDown();
  SetUp();
  ExpectTheChangeAtItsSyncPoint(SnMusicSync_NextUserCue, kPreEntry + kCue);
}

// Set back before its sync point, the change leaves nothing behind: the low level plays on.
TEST_F(MusicSwitchTrackEndToEndTest, ASwitchSetBackBeforeItsSyncPointChangesNothing) {
  LoadMusic(MusicBank{});
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "High", kObject), SN_Success);
  Frames(2);
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "Low", kObject), SN_Success);
  Frames(200);
  const std::vector<double> plane = Capture();
  ExpectLevels(plane, FirstSound(plane), 272 * kFrame, [](int64_t) { return 0.25; });
}

// A trigger launches the segment's stinger at the next beat for its 250 ms; a second trigger within
// the stinger's don't-repeat time adds nothing.
TEST_F(MusicSyncEndToEndTest, ATriggerAddsItsStingerAtTheNextBeatOnce) {
  std::vector<double> plane;
  size_t c0 = 0;
  PlayWithTriggers({70, 72}, 172, plane, c0);
  if (HasFatalFailure()) return;
  ExpectLevels(plane, c0, 172 * kFrame, [](int64_t t) { return 0.25 + (t >= 72000 && t < 84000 ? 0.125 : 0.0); });
}

// The don't-repeat time runs on the play's clock from the stinger's sync point (72,000 + 48,000), not
// on the segment's, which the pre-entry puts 24,000 behind: a trigger at 119,808 adds nothing, one
// at 120,832 adds the stinger at the next beat (144,000).
TEST_F(MusicSyncEndToEndTest, TheDontRepeatTimeEndsOnThePlaysClock) {
  std::vector<double> plane;
  size_t c0 = 0;
  PlayWithTriggers({70, 117, 118}, 178, plane, c0);
  if (HasFatalFailure()) return;
  ExpectLevels(plane, c0, 178 * kFrame, [](int64_t t) {
    const bool sting = (t >= 72000 && t < 84000) || (t >= 144000 && t < 156000);
    return 0.25 + (sting ? 0.125 : 0.0);
  });
}

// The sync callbacks each arrive in the frame holding their sample, and the segment information
// the game polls gives the segment's durations and where the play stands.
TEST_F(MusicSyncEndToEndTest, SyncCallbacksComeInTheFramesOfTheirSamplesAndSegmentInformationIsKept) {
  LoadMusic(MusicBank{});
  const uint32_t playingId = PlayLevel(0x7F00 | 0x200000);
  g_frame = 0;
  Frames(100);
  SnSegmentInfo info{};
  ASSERT_EQ(MusicEngine::GetPlayingSegmentInfo(playingId, info, false), SN_Success);
  EXPECT_EQ(info.preEntryDuration, 500);
  EXPECT_EQ(info.activeDuration, 8000);
  EXPECT_EQ(info.postExitDuration, 500);
  // Refreshed at the start of the last frame's pass.
  EXPECT_EQ(info.currentPosition, int32_t(std::lround((99.0 * kFrame - kPreEntry) / 48.0)));
  Frames(kSegmentEnd / kFrame + 4 - 100);
  auto framesOf = [](uint32_t type) {
    std::vector<uint32_t> frames;
    for (const Heard& heard : g_heard)
      if (heard.type == type) frames.push_back(heard.frame);
    return frames;
  };
  auto frameOf = [](int64_t musicTime) { return uint32_t(musicTime / kFrame); };
  EXPECT_EQ(framesOf(SnCallback_MusicSyncEntry), std::vector<uint32_t>{frameOf(kPreEntry)});
  std::vector<uint32_t> bars, beats, grids;
  for (int64_t k = 0; k < 4; ++k) bars.push_back(frameOf(kPreEntry + 96000 * k));
  for (int64_t k = 0; k < 16; ++k) beats.push_back(frameOf(kPreEntry + 24000 * k));
  for (int64_t k = 0; k < 32; ++k) grids.push_back(frameOf(kPreEntry + 4800 + 12000 * k));
  EXPECT_EQ(framesOf(SnCallback_MusicSyncBar), bars);
  EXPECT_EQ(framesOf(SnCallback_MusicSyncBeat), beats);
  EXPECT_EQ(framesOf(SnCallback_MusicSyncGrid), grids);
  EXPECT_EQ(framesOf(SnCallback_MusicSyncUserCue), std::vector<uint32_t>{frameOf(kPreEntry + kCue)});
  EXPECT_EQ(framesOf(SnCallback_MusicSyncExit), std::vector<uint32_t>{398u});
  for (const Heard& heard : g_heard) {
    if (heard.type == SnCallback_MusicSyncUserCue) {
      EXPECT_EQ(heard.cue, Id("Chorus"));
    }
  }
  // The play is over: its entry went with it.
  EXPECT_EQ(MusicEngine::GetPlayingSegmentInfo(playingId, info, false), SN_Failure);
}

// A state group the segment declares with next-bar sync keeps its old state through the pass of
// frame 117 (which holds music time 120,000) and has the new one after the next; with no music
// playing the change is at once.
TEST_F(MusicSyncEndToEndTest, AStateChangeWaitsForTheNextBarOfThePlayingSegment) {
  MusicBank music;
  music.stateSync = SnMusicSync_NextBar;
  LoadMusic(music);
  const uint32_t group = Id("MusicMood");
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Calm"), SN_Success);
  Frames(1);
  ASSERT_EQ(g_pStateMgr->GetCurrentState(group), Id("Calm")) << "no music: at once";
  PlayLevel();
  Frames(70);
  ASSERT_EQ(SoundEngine::SetState("MusicMood", "Tense"), SN_Success);
  Frames(47);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(group), Id("Calm")) << "through the pass of frame 116";
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(group), Id("Calm")) << "through the pass of frame 117";
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(group), Id("Tense"));
}

// The speed from parameter 41: 1.3 advances 1331 samples a frame and raises the voices' pitch by
// 1200 x log2(1331 / 1024) cents; 0.1 is held at a quarter, 256 samples a frame.
TEST_F(MusicShapingEndToEndTest, TheSpeedFromItsParameterIsWholeSamplesAFrameAndPitchOfTheVoices) {
  for (const auto& [value, samples] : {std::pair{1.3f, 1331}, std::pair{0.1f, 256}, std::pair{2.0f, 2048}}) {
    TearDown();
    SetUp();
    MusicBank music;
    music.speedCurve = true;
    LoadMusic(music);
    PlayLevel();
    Frames(3);
    // The parameter ramps (8 a second): the speed follows it, and its voices.
    ASSERT_EQ(SoundEngine::SetRTPCValue("PlayerSpeed", value, kObject), SN_Success);
    Frames(40);
    CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
    ASSERT_NE(voice, nullptr);
    const double speed = double(samples) / kFrame;
    EXPECT_FLOAT_EQ(voice->PitchRatio(), float(speed));
    EXPECT_NEAR(voice->PitchCents(), 1200.0 * std::log2(speed), 0.01);
    if (samples == 1331) {
      EXPECT_NEAR(voice->PitchCents(), 453.95, 0.01);
    }
    if (samples == 2048) {
      EXPECT_NEAR(voice->PitchCents(), 1200.0, 0.01);
    }
  }
}

// The level's ramp voice goes virtual after 50 frames (its volume far below hearing) and is heard
// again after 120: silent in between, it then plays the clip's sample at the music's position, the
// sample it would have played had it never left.
TEST_F(MusicRejoinEndToEndTest, AMusicVoiceHeardAgainRejoinsTheClipWhereTheMusicIs) {
  MusicBank music;
  music.rampLow = true;
  music.virtualOnFader = true;
  LoadMusic(music);
  PlayLevel();
  Frames(50);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 1.0f, kObject), SN_Success);
  Frames(2);
  ASSERT_NE(VoiceManager::FirstActiveInstance(), nullptr);
  EXPECT_TRUE(VoiceManager::FirstActiveInstance()->IsVirtual());
  Frames(68);
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 0.0f, kObject), SN_Success);
  Frames(80);
  EXPECT_FALSE(VoiceManager::FirstActiveInstance()->IsVirtual());
  const std::vector<double> plane = Capture();
  size_t c0 = FirstSound(plane);
  c0 -= c0 % kFrame;  // the ramp's first sample is 0
  ExpectLevels(plane, c0, 200 * kFrame, [](int64_t t) {
    return t >= 50 * int64_t(kFrame) && t < 120 * int64_t(kFrame) ? 0.0 : Ramp(t);
  }, 1.5);
}

// Streamed, the voice heard again sets its stream reading from where the music will be one
// look-ahead on (4,800 samples, whole frames: 5,120) and waits that long in silence; then it plays
// that sample of the clip. Heard again less than that look-ahead before the clip's end, it ends.
TEST_F(MusicRejoinEndToEndTest, AStreamedMusicVoiceHeardAgainWaitsItsLookAheadThenRejoins) {
  MusicBank music;
  music.rampLow = true;
  music.virtualOnFader = true;
  music.streamedLow = true;
  LoadMusic(music);
  const uint64_t readBefore = io_.Bytes();
  PlayLevel(SnCallback_Starvation);
  Frames(1);
  StreamedFrames(49, readBefore, 4800 - int64_t(kFrame));
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 1.0f, kObject), SN_Success);
  Frames(150);  // frames 50 to 199: virtual, its stream idle
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 0.0f, kObject), SN_Success);
  Frames(5);  // frame 200 rejoins and waits; the music is at 200 x 1,024 - 4,800 there
  constexpr int64_t kBack = 205 * int64_t(kFrame);  // capture sample of its first sample again
  const uint64_t header = streamedBytes_ - 2 * 432000;
  const uint64_t seekByte = header + 2 * uint64_t(kBack - 4800);
  for (int64_t frame = 0; frame < 20; ++frame) {
    ASSERT_TRUE(io_.WaitForHandedFileBytes(seekByte - 65536, seekByte + 2 * uint64_t(frame + 1) * kFrame))
        << "the stream reads from where the music is, frame " << frame;
    Frames(1);
  }
  const std::vector<double> plane = Capture();
  EXPECT_TRUE(g_heard.empty()) << "the voice never starved";
  // Music time 0 is one look-ahead into the capture.
  ExpectLevels(plane, 0, size_t(kBack + 20 * kFrame), [&](int64_t c) {
    const bool silent = c < 4800 || (c >= 50 * int64_t(kFrame) && c < kBack);
    return silent ? 0.0 : Ramp(c - 4800);
  }, 1.5);

  TearDown();
  SetUp();
  LoadMusic(music);
  const uint64_t readAgain = io_.Bytes();
  PlayLevel();
  Frames(1);
  StreamedFrames(49, readAgain, 4800 - int64_t(kFrame));
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 1.0f, kObject), SN_Success);
  Frames(372);  // frames 50 to 421
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  // Frame 422 begins at music time 427,328: 5,120 on is past the clip's end at 432,000.
  ASSERT_EQ(SoundEngine::SetRTPCValue("Fader", 0.0f, kObject), SN_Success);
  Frames(1);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u) << "refused, the voice ended at once";
  const std::vector<double> rest = Capture();
  for (size_t c = 50 * kFrame; c < rest.size(); ++c) ASSERT_EQ(rest[c], 0.0) << c;
}

}  // namespace

namespace {

// The track's volume curve names the LFO: the track context makes it once, its music voice reads it
// frame by frame (each frame's gain ramping from the factor read last to the one read now), and the
// voice made by a switch change later goes on with the same LFO rather than one of its own.
TEST_F(MusicShapingEndToEndTest, ATracksModulatorCurveShapesItsMusicVoicesFrameByFrame) {
  MusicBank music;
  music.volumeLfo = true;
  LoadMusic(music);
  PlayLevel();
  Frames(1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->Modulators().InstanceCount(), 1u);
  Frames(69);
  ASSERT_EQ(SoundEngine::SetSwitch("Intensity", "High", kObject), SN_Success);
  Frames(80);
  const std::vector<double> plane = Capture();
  const size_t c0 = FirstSound(plane);
  ASSERT_EQ(c0 % kFrame, 0u);
  // The bar after 71,680 is 120,000 in music time; the LFO has run a frame when the first voice
  // first reads it. A voice's first frame has nothing read before it to ramp from.
  constexpr int64_t kHigh = 120000;
  ExpectLevels(plane, c0, 150 * kFrame, [](int64_t t) {
    const int64_t frame = t / kFrame;
    const bool first = frame == 0 || (t >= kHigh && frame == kHigh / kFrame);
    const double from = OutputTest::VolumeLfoFactor(first ? frame + 1 : frame), to = OutputTest::VolumeLfoFactor(frame + 1);
    const double gain = from + (to - from) * double(t % kFrame) / double(kFrame);
    return (t < kHigh ? 0.25 : 0.5) * gain;
  }, 1.5);
}

// A low-pass or high-pass automation of a clip adds its value to its voice's own filter, frame by
// frame, kept when the voice computes its parameters again: the low-pass lets the DC through, the
// high-pass takes it away.
TEST_F(MusicShapingEndToEndTest, FilterAutomationsMoveTheirVoicesFiltersFrameByFrame) {
  for (uint32_t type : {1u, 2u}) {
    SCOPED_TRACE(type == 1 ? "low-pass" : "high-pass");
    if (type == 2) {
      TearDown();
      SetUp();
    }
    MusicBank music;
    music.filterLow = type;
    LoadMusic(music);
    PlayLevel();
    uint8_t obstruction[kMaxListeners], occlusion[kMaxListeners];
    for (uint32_t frames : {1u, 50u, 100u}) {
      Frames(frames - g_frame);
      ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
      CSnPlaybackInstance* voice = VoiceManager::FirstActiveInstance();
      // The curve's value at the end of the frame just rendered.
      const double value = 90.0 * double(frames * kFrame) / 432000.0;
      SnVoiceGainParams params;
      voice->GetVoiceGainParams(params, obstruction, occlusion);
      EXPECT_NEAR(type == 1 ? params.baseLowPass : params.baseHighPass, value, 1e-3) << frames;
      EXPECT_EQ(type == 1 ? params.baseHighPass : params.baseLowPass, 0.0f);
      voice->ComputeParameters();
      voice->GetVoiceGainParams(params, obstruction, occlusion);
      EXPECT_NEAR(type == 1 ? params.baseLowPass : params.baseHighPass, value, 1e-3) << frames;
    }
    const std::vector<double> plane = Capture();
    const double dc = 0.25 * kVoiceUnity * kCentreToPair * 32768.0;
    for (size_t t = 99 * kFrame; t < 100 * kFrame; ++t) {
      if (type == 1) ASSERT_NEAR(plane[t], dc, 1.0) << t;
      else ASSERT_LT(std::abs(plane[t]), dc * 0.01) << t;
    }
  }
}

}  // namespace
