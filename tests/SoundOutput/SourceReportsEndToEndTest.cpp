// What a voice's source tells its play reaches the game: the duration callback of a beginning source,
// a play position carried forward from the frame that last reported it, and the buffering of a
// stream the voice waits for. Banks from bank text, frames rendered on the null output's clock.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <type_traits>

#include "tests/SoundOutput/SoundEndToEndSupport.h"
#include "tools/SoundPackage/PackageWriter.h"

namespace {

using namespace EndToEnd;
using OutputTest::ManualClock;

// The class that declares a member function: the playback instance itself, or the base it inherits
// the member from.
template <typename Member>
struct DeclaringClass;
template <typename R, typename C, typename... A>
struct DeclaringClass<R (C::*)(A...)> {
  using Type = C;
};
template <typename R, typename C, typename... A>
struct DeclaringClass<R (C::*)(A...) const> {
  using Type = C;
};
#define OWN_HOOK(name) \
  { #name, std::is_same_v<DeclaringClass<decltype(&CSnPlaybackInstance::name)>::Type, CSnPlaybackInstance> }

// Every hook of its instance the source stage calls is answered by the playback instance itself: a
// default of the interface (nothing done, nothing tracked) would silently drop what the stage tells.
// The stage's own text names the hooks it calls, so a new one cannot be missed here.
TEST(SourceHooksTest, ThePlaybackInstanceAnswersEveryHookTheSourceStageCalls) {
  const std::map<std::string, bool> answered = {
      OWN_HOOK(IsMotion),     OWN_HOOK(HasInitialOffset),   OWN_HOOK(InitialOffset),
      OWN_HOOK(RateFactor),   OWN_HOOK(PitchImmediate),     OWN_HOOK(Seek),
      OWN_HOOK(StopOffset),   OWN_HOOK(PostDuration),       OWN_HOOK(TracksPlayPosition),
      OWN_HOOK(UpdatePlayPosition),
  };
  std::ifstream file("SoundEngine/Sources/VoiceSourceStage.cpp");
  ASSERT_TRUE(file) << "the source stage's text is read from the source tree";
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::regex call(R"((?:m_pInstance|nextInstance)->(\w+)\()");
  std::set<std::string> called;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator(); ++it)
    called.insert((*it)[1]);
  EXPECT_EQ(called.size(), answered.size()) << "a hook of this list is no longer called by the stage";
  for (const std::string& hook : called) {
    const auto found = answered.find(hook);
    ASSERT_NE(found, answered.end()) << hook << ": a hook the stage calls is missing from this list";
    EXPECT_TRUE(found->second) << hook << " is left to the interface's default";
  }
}
#undef OWN_HOOK

struct HeardDuration {
  uint32_t playingId = 0, audioNodeId = 0, mediaId = 0;
  float duration = 0.0f, estimated = 0.0f;
};
std::vector<HeardDuration> g_durations;

void RecordDuration(uint32_t type, SnCallbackInfo* info) {
  if (type != SnCallback_Duration) return;
  const auto* heard = static_cast<SnDurationCallbackInfo*>(info);
  g_durations.push_back({heard->playingId, heard->audioNodeId, heard->mediaId, heard->duration,
                         heard->estimatedDuration});
}

class SourceReportsTest : public SoundEndToEndTest {
 protected:
  void TearDown() override {
    g_durations.clear();
    SoundEndToEndTest::TearDown();
  }
};

// A 60 ms whistle raised an octave by its game parameter: the play that asked for durations hears,
// when its source begins, the media's 60 ms and the 30 ms it lasts at that pitch, with the sound and
// the media it comes from; a play that did not ask hears nothing.
TEST_F(SourceReportsTest, ABeginningSourceTellsItsDurationAndItsDurationAtItsPitch) {
  LoadOwnBank("tone Whistle 48000 1 60 440\r\n"
              "sound Whistle Whistle Effects\r\n"
              "rtpc Whistle pitch WhistleSpeed 0:0 100:1200\r\n"
              "action Play_Whistle_Act 0x0403 Whistle bank TimingBank\r\n"
              "event Play_Whistle Play_Whistle_Act\r\n");
  ASSERT_EQ(SoundEngine::SetRTPCValue("WhistleSpeed", 100.0f, kObject), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Whistle", kObject, SnCallback_EndOfEvent, &RecordDuration, nullptr), 0u);
  const uint32_t id = SoundEngine::PostEvent("Play_Whistle", kObject, SnCallback_Duration, &RecordDuration, nullptr);
  ASSERT_NE(id, 0u);
  Frames(3);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  ASSERT_EQ(g_durations.size(), 1u);
  EXPECT_EQ(g_durations[0].playingId, id);
  EXPECT_EQ(g_durations[0].audioNodeId, SoundEngine::GetIDFromString("Whistle"));
  ASSERT_EQ(ownDescription_.media.size(), 1u);
  EXPECT_EQ(g_durations[0].mediaId, ownDescription_.media[0].id);
  EXPECT_NEAR(g_durations[0].duration, 60.0f, 1e-3f);
  EXPECT_NEAR(g_durations[0].estimated, 30.0f, 1e-3f);
}

// A second-long tone: ten frames rendered, the clock a frame further on. Its reported position is where
// the last frame began (9 x 1024 samples); carried forward from that frame's render, it is where the
// sound is, 10 x 1024 samples in, not that plus the time since the first frame.
TEST_F(SourceReportsTest, AnExtrapolatedPositionRunsFromTheFrameThatReportedIt) {
  LoadOwnBank("tone Long 48000 1 1000 440\r\n"
              "sound Long Long Effects\r\n"
              "action Play_Long_Act 0x0403 Long bank TimingBank\r\n"
              "event Play_Long Play_Long_Act\r\n");
  const uint32_t id =
      SoundEngine::PostEvent("Play_Long", kObject, SnCallback_EnableGetSourcePlayPosition, nullptr, nullptr);
  ASSERT_NE(id, 0u);
  Frames(10);
  uint32_t positionMs = 0;
  ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, false), SN_Success);
  EXPECT_EQ(positionMs, 9u * kFrame * 1000 / 48000);
  ManualClock::AdvanceMs(kFrame * 1000 / 48000);  // 21 of the frame's 21.33 ms
  ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, true), SN_Success);
  EXPECT_NEAR(double(positionMs), (9.0 * kFrame / 48.0) + 21.0, 1.0);
  Frames(5);  // the clock at the render of the last frame, which began at 14 x 1024 samples
  ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, true), SN_Success);
  EXPECT_NEAR(double(positionMs), 14.0 * kFrame / 48.0, 1.0);
}

// The second-long tone paused after three frames: the position carried forward stays where the last
// frame it played began (2 x 1024 samples) through four frames of the pause, and runs on from there
// once the tone does.
TEST_F(SourceReportsTest, APausedPositionStandsStillUntilThePlayGoesOn) {
  LoadOwnBank("tone Long 48000 1 1000 440\r\n"
              "sound Long Long Effects\r\n"
              "action Play_Long_Act 0x0403 Long bank TimingBank\r\n"
              "event Play_Long Play_Long_Act\r\n");
  const uint32_t id =
      SoundEngine::PostEvent("Play_Long", kObject, SnCallback_EnableGetSourcePlayPosition, nullptr, nullptr);
  ASSERT_NE(id, 0u);
  Frames(3);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Long", SnActionOnEvent_Pause, kObject), SN_Success);
  uint32_t positionMs = 0;
  for (int frame = 0; frame < 4; ++frame) {
    Frames(1);
    ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, true), SN_Success);
    EXPECT_EQ(positionMs, 2 * kFrame * 1000 / 48000) << "paused frame " << frame;
  }
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Long", SnActionOnEvent_Resume, kObject), SN_Success);
  Frames(2);  // from 3 x 1024 samples on
  ASSERT_EQ(SoundEngine::GetSourcePlayPosition(id, &positionMs, true), SN_Success);
  EXPECT_NEAR(double(positionMs), 4.0 * kFrame / 48.0, 1.0);
}

// A streamed half-second tone posted with the buffering flag, its device letting one read through: the
// voice waits, buffering, holding the first buffer's data (16384 bytes less the header, at 96 bytes a
// millisecond, to the nearest); once every read is in it holds the whole tone, 500 ms, and plays. The
// play's end takes its buffering away.
TEST_F(SourceReportsTest, AStreamThePlayWaitsForReportsItsBuffering) {
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone Stream 48000 1 500 440 loose\r\n"
                                   "sound Stream Stream Effects\r\n"
                                   "action Play_Stream_Act 0x0403 Stream bank StreamBank\r\n"
                                   "event Play_Stream Play_Stream_Act\r\n",
                                   "StreamBank", bank, error))
      << error;
  ASSERT_EQ(bank.media.size(), 1u);
  const std::vector<uint8_t>& tone = bank.media[0].bytes;
  ASSERT_TRUE(Tools::WriteBytesFile(Path(std::to_string(bank.media[0].id) + ".snm"), tone));
  const std::vector<uint8_t>& image = Keep(Tools::WriteBank(bank));
  uint32_t bankId = 0;
  ASSERT_EQ(SoundEngine::LoadBank(image.data(), uint32_t(image.size()), bankId), SN_Success);
  const std::string data = "data";
  const auto at = std::search(tone.begin(), tone.end(), data.begin(), data.end());
  ASSERT_NE(at, tone.end());
  const size_t header = size_t(at - tone.begin()) + 8;
  ASSERT_EQ(tone.size(), header + 48000u);  // the samples end the file

  io_.Shut(1);
  const uint32_t id =
      SoundEngine::PostEvent("Play_Stream", kObject, SnCallback_EnableGetSourceStreamBuffering, nullptr, nullptr);
  ASSERT_NE(id, 0u);
  int32_t bufferingMs = -1;
  bool isBuffering = true;
  EXPECT_EQ(SoundEngine::GetSourceStreamBuffering(id, bufferingMs, isBuffering), SN_Failure);
  // Frames until the first read is handed to the stream and the voice has read the tone's header from
  // it: the stream then knows its rate and asks for more, which the gate holds.
  for (int i = 0; i < 1000 && SoundEngine::GetSourceStreamBuffering(id, bufferingMs, isBuffering) != SN_Success; ++i)
    Frames(1);
  io_.WaitForHeldRead();
  Frames(2);
  ASSERT_EQ(SoundEngine::GetSourceStreamBuffering(id, bufferingMs, isBuffering), SN_Success);
  EXPECT_TRUE(isBuffering);
  EXPECT_EQ(bufferingMs, int32_t(std::lround((16384.0 - double(header)) / 96.0)));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);

  // The last read is handed to its stream after it is counted: frames until the voice sets out.
  io_.Open();
  io_.WaitForBytes(tone.size());
  for (int i = 0; i < 1000 && LowerEngine::ActivePipelineCount() == 0; ++i) Frames(1);
  ASSERT_EQ(SoundEngine::GetSourceStreamBuffering(id, bufferingMs, isBuffering), SN_Success);
  EXPECT_FALSE(isBuffering);
  EXPECT_EQ(bufferingMs, 500);
  ASSERT_EQ(LowerEngine::ActivePipelineCount(), 1u);
  for (int i = 0; i < 100 && VoiceManager::ActiveInstanceCount(); ++i) Frames(1);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(SoundEngine::GetSourceStreamBuffering(id, bufferingMs, isBuffering), SN_Failure);
}

}  // namespace
