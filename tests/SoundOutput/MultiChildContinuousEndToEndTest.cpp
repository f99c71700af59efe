// Switch and layer containers inside continuous sequences heard end to end: each child they play goes
// its own way and the sequence goes on once the last of them has played out, at the sequence's own
// trigger rate; a level that plays nothing lets the sequence go on at once.
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// Every tone lasts 50 ms (2400 samples) unless told; the sequences start an item every 64 ms (3072
// samples, three whole frames: each item begins on a frame, as the first does).
constexpr size_t kRate = 3072;

class MultiChildContinuousTest : public SoundEndToEndTest {
 public:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    LoadOwnBank("platform Linux\n"
                "tone McA 48000 1 50 1000\n"
                "tone McB1 48000 1 50 500\n"
                "tone McB2 48000 1 50 750\n"
                "tone McX 48000 1 50 1500\n"
                "tone McC 48000 1 50 250\n"
                "tone McL 48000 1 80 600\n"
                "tone McY 48000 1 300 400\n"
                // Each container has sounds of its own: a node has one parent.
                "sound McA McA Effects\n"
                "sound McB1 McB1 Effects\n"
                "sound McB2 McB2 Effects\n"
                "sound McX McX Effects\n"
                "sound McC McC Effects\n"
                "sequence McB - McB1 McB2 continuous transition 5 64\n"
                "switch McS - switch McGroup One One=McB+McX\n"
                "sequence McSeq Effects McA McS McC continuous transition 5 64\n"
                "sound McLyA McA Effects\n"
                "sound McLyB1 McB1 Effects\n"
                "sound McLyB2 McB2 Effects\n"
                "sound McLyL McL Effects\n"
                "sound McLyC McC Effects\n"
                "sequence McLyB - McLyB1 McLyB2 continuous transition 5 64\n"
                "layers McLy - McLyFade McLyB McLyL\n"
                "sequence McLySeq Effects McLyA McLy McLyC continuous transition 5 64\n"
                "sound McStA McA Effects\n"
                "sound McStB1 McB1 Effects\n"
                "sound McStB2 McB2 Effects\n"
                "sound McStL McY Effects\n"
                "sound McStC McC Effects\n"
                "sequence McStB - McStB1 McStB2 continuous transition 5 64\n"
                "layers McStLy - McStFade McStB McStL\n"
                "sequence McStSeq Effects McStA McStLy McStC continuous\n"
                "action Pause_McStL_Act 0x0203 McStL\n"
                "event Pause_McStL Pause_McStL_Act\n"
                "action Stop_McStL_Act 0x0103 McStL\n"
                "event Stop_McStL Stop_McStL_Act\n"
                "action Play_McStSeq_Act 0x0403 McStSeq\n"
                "event Play_McStSeq Play_McStSeq_Act\n"
                "sound McEmptyA McA Effects\n"
                "sound McEmptyX McX Effects\n"
                "sound McEmptyC McC Effects\n"
                "switch McEmpty - switch McEmptyGroup None One=McEmptyX\n"
                "sequence McEmptySeq Effects McEmptyA McEmpty McEmptyC continuous transition 5 64\n"
                "sound McSwA McA Effects\n"
                "sound McLongX McY Effects\n"
                "sound McY McY Effects\n"
                "switch McSw - switch McSwGroup One One=McLongX Two=McY continuous\n"
                "sequence McSwSeq Effects McSwA McSw continuous transition 5 64\n"
                "action Play_McSeq_Act 0x0403 McSeq\n"
                "event Play_McSeq Play_McSeq_Act\n"
                "action Play_McLySeq_Act 0x0403 McLySeq\n"
                "event Play_McLySeq Play_McLySeq_Act\n"
                "action Play_McEmptySeq_Act 0x0403 McEmptySeq\n"
                "event Play_McEmptySeq Play_McEmptySeq_Act\n"
                "action Play_McSwSeq_Act 0x0403 McSwSeq\n"
                "event Play_McSwSeq Play_McSwSeq_Act\n");
  }

  // The event posted after one frame and rendered for `frames` more: its ends are counted.
  void Play(const char* event, uint32_t frames) {
    Frames(1);
    ASSERT_NE(SoundEngine::PostEvent(event, kObject, SnCallback_EndOfEvent, Ended, &ends_), 0u);
    Frames(frames);
  }
  static void Ended(uint32_t type, SnCallbackInfo* info) {
    if (type == SnCallback_EndOfEvent) ++*static_cast<int*>(info->cookie);
  }
  // The capture from sample `from` on against the tones begun at their sample (after the post's
  // frame), each at the level of a plain voice.
  void ExpectTones(const std::vector<std::pair<const char*, size_t>>& tones, double lsb = 1.0, size_t from = 0) {
    const auto planes = Capture();
    std::vector<std::pair<std::vector<double>, size_t>> heard;
    size_t end = 0;
    for (const auto& [tone, at] : tones) {
      heard.push_back({OwnMedia(tone), kFrame + at});
      end = std::max(end, kFrame + at + heard.back().first.size());
    }
    ASSERT_GE(planes[0].size(), end);
    ExpectModel(planes, from, [&](size_t t) {
      t += from;
      double sum = 0.0;
      for (const auto& [samples, at] : heard) sum += t >= at ? At(samples, t - at) : 0.0;
      return sum * kVoiceUnity * kCentreToPair;
    }, lsb);
  }

  int Ends() const { return ends_; }

 private:
  int ends_ = 0;
};

// Two voices at full level sum the small errors of their own gains: half an LSB more room.
constexpr double kTwoVoicesLsb = 1.5;

// The outer sequence's middle level plays the inner sequence of two beside the tone `beside`: the
// tone and the inner sequence's first item begin together, its second follows at its own rate, and
// only after it does the outer sequence go on, once, to its last item; then the event ends.
void ExpectMiddleLevelThenTheRest(MultiChildContinuousTest& test, const char* beside) {
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(test.Ends(), 1);
  test.ExpectTones({{"McA", 0}, {"McB1", kRate}, {beside, kRate}, {"McB2", 2 * kRate}, {"McC", 3 * kRate}},
                   kTwoVoicesLsb);
}

TEST_F(MultiChildContinuousTest, ASwitchInASequencePlaysItsChildrenThenTheSequenceGoesOn) {
  ASSERT_EQ(SoundEngine::SetSwitch("McGroup", "One", kObject), SN_Success);
  Play("Play_McSeq", 16);
  ExpectMiddleLevelThenTheRest(*this, "McX");
}

// The layers sound together, the 80 ms tone lasting into the inner sequence's second item.
TEST_F(MultiChildContinuousTest, ALayerContainerInASequencePlaysItsLayersTogetherThenTheSequenceGoesOn) {
  Play("Play_McLySeq", 16);
  ExpectMiddleLevelThenTheRest(*this, "McL");
}

// The outer sequence goes on at the end of its items. The layer's long tone is paused, then stopped
// (a paused voice ends at once), while the inner sequence plays on: the outer sequence still goes on,
// to its last item, once the inner one has played out.
TEST_F(MultiChildContinuousTest, ALayerPausedThenStoppedLetsTheSequenceGoOnAfterTheOtherLayers) {
  const uint32_t layer = SoundEngine::GetIDFromString("McStL"), last = SoundEngine::GetIDFromString("McStC");
  auto playing = [](uint32_t node) {
    for (CSnPlaybackInstance* p = VoiceManager::FirstActiveInstance(); p; p = p->m_pNextActive)
      if (p->Node()->ID() == node) return true;
    return false;
  };
  Play("Play_McStSeq", 1);
  for (uint32_t i = 0; i < 30 && !playing(layer); ++i) Frames(1);
  ASSERT_TRUE(playing(layer));
  ASSERT_NE(SoundEngine::PostEvent("Pause_McStL", kObject), 0u);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Stop_McStL", kObject), 0u);
  size_t lastFrame = 0;  // the frame whose rendering found the last item playing first
  for (size_t frame = 0; frame < 60 && !lastFrame; ++frame) {
    Frames(1);
    if (playing(last)) lastFrame = frame;
  }
  ASSERT_NE(lastFrame, 0u);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Ends(), 1);
  // Heard whole and alone at the end of the capture: it ends on its last sample, which is not 0.
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("McC");
  size_t end = planes[0].size();
  while (end > 0 && planes[0][end - 1] == 0.0) --end;
  ASSERT_GE(end, tone.size());
  ExpectModel(planes, end - tone.size(), [&](size_t t) { return At(tone, t) * kVoiceUnity * kCentreToPair; });
}

// The switch's value lists nothing, nor does its default: the sequence goes straight on to its last
// item where the switch would have begun.
TEST_F(MultiChildContinuousTest, ASwitchThatPlaysNothingLetsTheSequenceGoOnAtOnce) {
  ASSERT_EQ(SoundEngine::SetSwitch("McEmptyGroup", "Two", kObject), SN_Success);
  Play("Play_McEmptySeq", 12);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Ends(), 1);
  ExpectTones({{"McA", 0}, {"McC", kRate}});
}

// A continuous switch reached by the sequence keeps its play: a later change of value plays the new
// value's sound on its own, long after the play that reached the switch has returned.
TEST_F(MultiChildContinuousTest, AContinuousSwitchInASequencePlaysItsNewValueOnItsOwn) {
  ASSERT_EQ(SoundEngine::SetSwitch("McSwGroup", "One", kObject), SN_Success);
  Play("Play_McSwSeq", 8);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->Node()->ID(), SoundEngine::GetIDFromString("McLongX"));
  ASSERT_EQ(SoundEngine::SetSwitch("McSwGroup", "Two", kObject), SN_Success);
  Frames(2);
  ASSERT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  EXPECT_EQ(VoiceManager::FirstActiveInstance()->Node()->ID(), SoundEngine::GetIDFromString("McY"));
  Frames(16);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Ends(), 0);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_McSwSeq", SnActionOnEvent_Stop, kObject), SN_Success);
  Frames(2);
  EXPECT_EQ(Ends(), 1);
}

}  // namespace
