// What a voice's source tells its play reaches the game: the duration of a beginning source, a play
// position carried forward from the frame that reported it (standing still while paused), and the
// buffering of a stream the voice waits for. Banks from bank text, frames on the null output's clock.
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <type_traits>

#include "SoundEngine/Actions/EventReceiver.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace EndToEnd;
using OutputTest::ManualClock;

// The class that declares a member function: the playback instance, or a base it inherits it from.
template <typename R, typename C, typename... A>
C* DeclaredIn(R (C::*)(A...));
template <typename R, typename C, typename... A>
C* DeclaredIn(R (C::*)(A...) const);
#define OWN_HOOK(name) \
  { #name, std::is_same_v<decltype(DeclaredIn(&CSnPlaybackInstance::name)), CSnPlaybackInstance*> }

// Each hook the source stage calls on its instance is answered by the playback instance itself, not
// left to a default that drops what it is told. The list is the one the stage's own text calls.
TEST(SourceHooksTest, ThePlaybackInstanceAnswersEveryHookTheSourceStageCalls) {
  const std::map<std::string, bool> answered = {
      OWN_HOOK(IsMotion), OWN_HOOK(HasInitialOffset), OWN_HOOK(InitialOffset), OWN_HOOK(RateFactor),
      OWN_HOOK(Seek), OWN_HOOK(PitchImmediate), OWN_HOOK(StopOffset), OWN_HOOK(PostDuration),
      OWN_HOOK(TracksPlayPosition), OWN_HOOK(AddPlayPositionEntry),
      OWN_HOOK(RemovePlayPositionEntry)};
  std::ifstream file("SoundEngine/Sources/VoiceSourceStage.cpp");
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::regex call(R"((?:m_pInstance|nextInstance)->(\w+)\()");
  std::set<std::string> called;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator(); ++it)
    called.insert((*it)[1]);
  EXPECT_EQ(called.size(), answered.size()) << "the stage's calls and this list differ";
  for (const std::string& hook : called) {
    ASSERT_TRUE(answered.count(hook)) << hook << " is called by the stage and missing here";
    EXPECT_TRUE(answered.at(hook)) << hook << " is left to the interface's default";
  }
}
#undef OWN_HOOK

std::vector<SnDurationCallbackInfo> g_durations;
void RecordDuration(uint32_t type, SnCallbackInfo* info) {
  if (type == SnCallback_Duration) g_durations.push_back(*static_cast<SnDurationCallbackInfo*>(info));
}

class SourceReportsTest : public SoundEndToEndTest {
 protected:
  void TearDown() override {
    g_durations.clear();
    SoundEndToEndTest::TearDown();
  }
  // A second-long tone, posted with `flags`: its playing id.
  uint32_t PlayLong(uint32_t flags) {
    LoadOwnBank("tone Long 48000 1 1000 440\r\nsound Long Long Effects\r\n"
                "action Play_Long_Act 0x0403 Long bank TimingBank\r\nevent Play_Long Play_Long_Act\r\n");
    return SoundEngine::PostEvent("Play_Long", kObject, flags, nullptr, nullptr);
  }
  uint32_t PositionMs(uint32_t id, bool extrapolate) {
    uint32_t ms = 0;
    EXPECT_EQ(SoundEngine::GetSourcePlayPosition(id, &ms, extrapolate), SN_Success);
    return ms;
  }
};

// A 60 ms whistle raised an octave by its game parameter: the play that asked for durations hears,
// as its source begins, 60 ms and the 30 ms it lasts at that pitch, with its sound and media; a play
// that did not ask hears nothing.
TEST_F(SourceReportsTest, ABeginningSourceTellsItsDurationAndItsDurationAtItsPitch) {
  LoadOwnBank("tone Whistle 48000 1 60 440\r\nsound Whistle Whistle Effects\r\n"
              "rtpc Whistle pitch WhistleSpeed 0:0 100:1200\r\n"
              "action Play_Whistle_Act 0x0403 Whistle bank TimingBank\r\nevent Play_Whistle Play_Whistle_Act\r\n");
  ASSERT_EQ(SoundEngine::SetRTPCValue("WhistleSpeed", 100.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Whistle", kObject, SnCallback_EndOfEvent, &RecordDuration, nullptr), 0u);
  const uint32_t id = SoundEngine::PostEvent("Play_Whistle", kObject, SnCallback_Duration, &RecordDuration, nullptr);
  Frames(3);
  ASSERT_EQ(g_durations.size(), 1u);
  EXPECT_EQ(g_durations[0].playingId, id);
  EXPECT_EQ(g_durations[0].audioNodeId, SoundEngine::GetIDFromString("Whistle"));
  EXPECT_EQ(g_durations[0].mediaId, ownDescription_.media.at(0).id);
  EXPECT_NEAR(g_durations[0].duration, 60.0f, 1e-3f);
  EXPECT_NEAR(g_durations[0].estimatedDuration, 30.0f, 1e-3f);
}

// Ten frames rendered and the clock 21 ms on: the last report is where the last frame began (9 x 1024
// samples), and carried forward from that frame's render it is where the sound is, not that plus the
// time since the first frame. Five frames later the clock stands at the last render.
TEST_F(SourceReportsTest, AnExtrapolatedPositionRunsFromTheFrameThatReportedIt) {
  const uint32_t id = PlayLong(SnCallback_EnableGetSourcePlayPosition);
  Frames(10);
  EXPECT_EQ(PositionMs(id, false), 9u * kFrame * 1000 / 48000);
  ManualClock::AdvanceMs(21);
  EXPECT_NEAR(double(PositionMs(id, true)), 9.0 * kFrame / 48.0 + 21.0, 1.0);
  Frames(5);
  EXPECT_NEAR(double(PositionMs(id, true)), 14.0 * kFrame / 48.0, 1.0);
}

// Paused after three frames, the position stays where the last frame it played began (2 x 1024
// samples) through four frames of the pause, and runs on from there once the tone does.
TEST_F(SourceReportsTest, APausedPositionStandsStillUntilThePlayGoesOn) {
  const uint32_t id = PlayLong(SnCallback_EnableGetSourcePlayPosition);
  Frames(3);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Long", SnActionOnEvent_Pause, kObject), SN_Success);
  for (int frame = 0; frame < 4; ++frame) {
    Frames(1);
    EXPECT_EQ(PositionMs(id, true), 2 * kFrame * 1000 / 48000) << "paused frame " << frame;
  }
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Long", SnActionOnEvent_Resume, kObject), SN_Success);
  Frames(2);  // from 3 x 1024 samples on
  EXPECT_NEAR(double(PositionMs(id, true)), 4.0 * kFrame / 48.0, 1.0);
}

// A streamed half-second tone posted with the buffering flag, its device letting one read through:
// the voice waits, buffering, holding the first buffer's data (16384 bytes less the header, at 96
// bytes a millisecond, to the nearest); once every read is in it holds the whole tone, 500 ms, and
// plays. The play's end takes its buffering away.
TEST_F(SourceReportsTest, AStreamThePlayWaitsForReportsItsBuffering) {
  LoadOwnBank("tone Stream 48000 1 500 440 loose\r\nsound Stream Stream Effects\r\n"
              "action Play_Stream_Act 0x0403 Stream bank TimingBank\r\nevent Play_Stream Play_Stream_Act\r\n");
  const Tools::BankMedia& tone = ownDescription_.media.at(0);
  ASSERT_TRUE(Tools::WriteBytesFile(Path(std::to_string(tone.id) + ".snm"), tone.bytes));
  const size_t header = tone.bytes.size() - 48000;  // the samples end the file
  io_.Shut(1);
  const uint32_t id =
      SoundEngine::PostEvent("Play_Stream", kObject, SnCallback_EnableGetSourceStreamBuffering, nullptr, nullptr);
  int32_t ms = -1;
  bool buffering = true;
  // Frames until the voice has the first read and the tone's header in it: the stream then knows its
  // rate and asks for more, which the gate holds.
  for (int i = 0; i < 1000 && SoundEngine::GetSourceStreamBuffering(id, ms, buffering) != SN_Success; ++i) Frames(1);
  io_.WaitForHeldRead();
  Frames(2);
  ASSERT_EQ(SoundEngine::GetSourceStreamBuffering(id, ms, buffering), SN_Success);
  EXPECT_TRUE(buffering);
  EXPECT_EQ(ms, int32_t(std::lround((16384.0 - double(header)) / 96.0)));
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  // The last read is handed to its stream after it is counted: frames until the voice sets out.
  io_.Open();
  io_.WaitForBytes(tone.bytes.size());
  for (int i = 0; i < 1000 && LowerEngine::ActivePipelineCount() == 0; ++i) Frames(1);
  ASSERT_EQ(SoundEngine::GetSourceStreamBuffering(id, ms, buffering), SN_Success);
  EXPECT_FALSE(buffering);
  EXPECT_EQ(ms, 500);
  for (int i = 0; i < 100 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
  EXPECT_EQ(SoundEngine::GetSourceStreamBuffering(id, ms, buffering), SN_Failure);
}

// Where a voice's source stood at the start of the last of `frames` frames, the voice having begun
// with the first of them, in milliseconds as the game reads them.
uint32_t FrameStartMs(uint32_t frames) { return uint32_t(uint64_t(frames - 1) * kFrame * 1000 / 48000); }

// A 50 ms tone, then 200 ms later a second-long one, from one post: the short one's voice holds the
// playing id's position; once it ends the playing id, still waiting on the long one, has no position,
// and the long one's voice takes it as it begins, from its own start and past the short one's length.
TEST_F(SourceReportsTest, APositionGoesWithTheVoiceThatHeldItAndTheNextVoiceToBeginTakesIt) {
  LoadOwnBank("tone Short 48000 1 50 440\r\ntone Long 48000 1 1000 440\r\n"
              "sound Short Short Effects\r\nsound Long Long Effects\r\n"
              "action Play_Short_Act 0x0403 Short\r\naction Play_Late_Act 0x0403 Long delay 200\r\n"
              "event Play_Pair Play_Short_Act Play_Late_Act\r\n");
  const uint32_t id =
      SoundEngine::PostEvent("Play_Pair", kObject, SnCallback_EnableGetSourcePlayPosition, nullptr, nullptr);
  Frames(2);
  EXPECT_EQ(PositionMs(id, false), FrameStartMs(2));
  Frames(3);  // the short tone ended in the third frame; the long one is 200 ms away
  uint32_t ms = 7;
  EXPECT_EQ(SoundEngine::GetSourcePlayPosition(id, &ms, false), SN_Failure);
  EXPECT_EQ(ms, 0u);
  int frames = 0;
  for (; frames < 20 && SoundEngine::GetSourcePlayPosition(id, &ms, false) != SN_Success; ++frames) Frames(1);
  ASSERT_LT(frames, 20) << "the long tone never told its position";
  EXPECT_EQ(ms, 0u);  // the frame it began in began before it
  Frames(1);
  const uint32_t second = PositionMs(id, false);
  Frames(10);
  EXPECT_NEAR(double(PositionMs(id, false)), second + 10.0 * kFrame / 48.0, 1.0);
  EXPECT_GT(PositionMs(id, false), 50u);
}

// A sample-accurate sequence of 400 and 100 ms items: the second is made ready as the first begins,
// but tells its duration only in the frame it begins in, 19200 samples on (the nineteenth).
TEST_F(SourceReportsTest, AnItemMadeReadyAheadTellsItsDurationAsItBegins) {
  LoadOwnBank("tone SeqA 48000 1 400 1000\r\ntone SeqB 48000 1 100 500\r\n"
              "sound SeqA SeqA Effects\r\nsound SeqB SeqB Effects\r\n"
              "sequence Seq Effects SeqA SeqB continuous transition 4 0\r\n"
              "action Play_Seq_Act 0x0403 Seq\r\nevent Play_Seq Play_Seq_Act\r\n");
  const uint32_t id = SoundEngine::PostEvent("Play_Seq", kObject, SnCallback_Duration, &RecordDuration, nullptr);
  std::vector<size_t> heard;
  for (int frame = 0; frame < 25; ++frame) {
    Frames(1);
    heard.push_back(g_durations.size());
  }
  EXPECT_EQ(heard[0], 1u);
  EXPECT_EQ(heard[17], 1u);
  EXPECT_EQ(heard[18], 2u);
  ASSERT_EQ(g_durations.size(), 2u);
  EXPECT_EQ(g_durations[1].playingId, id);
  EXPECT_EQ(g_durations[1].audioNodeId, SoundEngine::GetIDFromString("SeqB"));
  EXPECT_NEAR(g_durations[1].duration, 100.0f, 1e-3f);
}

}  // namespace
