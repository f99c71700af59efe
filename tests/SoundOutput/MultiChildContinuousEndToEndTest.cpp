// Switch and layer containers inside continuous sequences heard end to end: each child they play goes
// its own way and the sequence goes on once the last of them has played out; a level that plays
// nothing lets the sequence go on at once.
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

// Tones of 50 ms (2400 samples) unless told; trigger-rate sequences start an item every 64 ms (3072
// samples, three whole frames: each item begins on a frame, as the first does).
constexpr size_t kRate = 3072;
constexpr double kTwoChildrenLsb = 1.5;  // two voices sum the small errors of their gains

// Sounds of their own (a node has one parent) named `prefix` + tone, and an event playing `node`.
std::string Sounds(const std::string& prefix, std::initializer_list<const char*> tones) {
  std::string text;
  for (const char* tone : tones) text += "sound " + prefix + tone + " " + tone + " Effects\n";
  return text;
}
std::string Event(const std::string& name, const char* type, const std::string& node) {
  return "action " + name + "_Act " + type + " " + node + "\nevent " + name + " " + name + "_Act\n";
}

class MultiChildContinuousTest : public SoundEndToEndTest {
 protected:
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string inner = " continuous transition 5 64\n", outer = "C continuous transition 5 64\n";
    LoadOwnBank("platform Linux\ntone A 48000 1 50 1000\ntone B1 48000 1 50 500\ntone B2 48000 1 50 750\n"
                "tone X 48000 1 50 1500\ntone C 48000 1 50 250\ntone L 48000 1 80 600\ntone Y 48000 1 300 400\n" +
                Sounds("Sw", {"A", "B1", "B2", "X", "C"}) + "sequence SwB - SwB1 SwB2" + inner +
                "switch Sw - switch SwGroup One One=SwB+SwX\nsequence SwSeq Effects SwA Sw Sw" + outer +
                Sounds("Ly", {"A", "B1", "B2", "L", "C"}) + "sequence LyB - LyB1 LyB2" + inner +
                "layers Ly - LyFade LyB LyL\nsequence LySeq Effects LyA Ly Ly" + outer +
                Sounds("St", {"A", "B1", "B2", "Y", "C"}) + "sequence StB - StB1 StB2" + inner +
                "layers St - StFade StB StY\nsequence StSeq Effects StA St StC continuous\n" +
                Sounds("No", {"A", "X", "C"}) +
                "switch No - switch NoGroup None One=NoX\nsequence NoSeq Effects NoA No No" + outer +
                Sounds("Cs", {"A", "X", "Y"}) +
                "switch Cs - switch CsGroup One One=CsX Two=CsY continuous\n"
                "sequence CsSeq Effects CsA Cs continuous transition 5 64\n" +
                Event("Play_SwSeq", "0x0403", "SwSeq") + Event("Play_LySeq", "0x0403", "LySeq") +
                Event("Play_StSeq", "0x0403", "StSeq") + Event("Pause_StY", "0x0203", "StY") +
                Event("Stop_StY", "0x0103", "StY") + Event("Play_NoSeq", "0x0403", "NoSeq") +
                Event("Play_CsSeq", "0x0403", "CsSeq"));
  }

  // The event posted after one frame and rendered for `frames` more: its ends are counted.
  void Play(const char* event, uint32_t frames) {
    Frames(1);
    auto ended = [](uint32_t type, SnCallbackInfo* info) {
      if (type == SnCallback_EndOfEvent) ++*static_cast<int*>(info->cookie);
    };
    ASSERT_NE(SoundEngine::PostEvent(event, kObject, SnCallback_EndOfEvent, ended, &ends_), 0u);
    Frames(frames);
  }
  static bool Playing(const char* node) {
    for (CSnPlaybackInstance* p = VoiceManager::FirstActiveInstance(); p; p = p->m_pNextActive)
      if (p->Node()->ID() == SoundEngine::GetIDFromString(node)) return true;
    return false;
  }
  // Nothing plays, the event has ended, and the capture holds the tones begun at their sample (after
  // the post's frame), each at the level of a plain voice.
  void ExpectEndedAfter(const std::vector<std::pair<const char*, size_t>>& tones, double lsb = 1.0) {
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
    EXPECT_EQ(ends_, 1);
    const auto planes = Capture();
    std::vector<std::pair<std::vector<double>, size_t>> heard;
    for (const auto& [tone, at] : tones) heard.push_back({OwnMedia(tone), kFrame + at});
    for (const auto& [samples, at] : heard) ASSERT_GE(planes[0].size(), at + samples.size());
    ExpectModel(planes, 0, [&](size_t t) {
      double sum = 0.0;
      for (const auto& [samples, at] : heard) sum += t >= at ? At(samples, t - at) : 0.0;
      return sum * kVoiceUnity * kCentreToPair;
    }, lsb);
  }

  int ends_ = 0;
};

// The middle level plays a sequence of two beside a tone; the outer sequence goes on once, after the
// inner one's last item.
TEST_F(MultiChildContinuousTest, ASwitchInASequencePlaysItsChildrenThenTheSequenceGoesOn) {
  ASSERT_EQ(SoundEngine::SetSwitch("SwGroup", "One", kObject), SN_Success);
  Play("Play_SwSeq", 16);
  ExpectEndedAfter({{"A", 0}, {"B1", kRate}, {"X", kRate}, {"B2", 2 * kRate}, {"C", 3 * kRate}}, kTwoChildrenLsb);
}

// The same with layers, whose 80 ms tone lasts into the inner sequence's second item.
TEST_F(MultiChildContinuousTest, ALayerContainerInASequencePlaysItsLayersTogetherThenTheSequenceGoesOn) {
  Play("Play_LySeq", 16);
  ExpectEndedAfter({{"A", 0}, {"B1", kRate}, {"L", kRate}, {"B2", 2 * kRate}, {"C", 3 * kRate}}, kTwoChildrenLsb);
}

// The switch's value lists nothing, nor does its default: the sequence goes on at once.
TEST_F(MultiChildContinuousTest, ASwitchThatPlaysNothingLetsTheSequenceGoOnAtOnce) {
  ASSERT_EQ(SoundEngine::SetSwitch("NoGroup", "Two", kObject), SN_Success);
  Play("Play_NoSeq", 12);
  ExpectEndedAfter({{"A", 0}, {"C", kRate}});
}

// A sequence going on at the end of its items; its layer's long tone is paused, then stopped (ending
// at once) while the inner sequence plays on: the outer one still goes on to its last item, heard
// whole and alone at the end of the capture (its last sample is not 0).
TEST_F(MultiChildContinuousTest, ALayerPausedThenStoppedLetsTheSequenceGoOnAfterTheOtherLayers) {
  Play("Play_StSeq", 1);
  for (uint32_t i = 0; i < 30 && !Playing("StY"); ++i) Frames(1);
  ASSERT_TRUE(Playing("StY"));
  ASSERT_NE(SoundEngine::PostEvent("Pause_StY", kObject), 0u);
  Frames(1);
  ASSERT_NE(SoundEngine::PostEvent("Stop_StY", kObject), 0u);
  bool last = false;
  for (uint32_t i = 0; i < 60 && !last; ++i, Frames(1)) last = Playing("StC");
  ASSERT_TRUE(last);
  Frames(6);
  EXPECT_EQ(ends_, 1);
  const auto planes = Capture();
  const std::vector<double> tone = OwnMedia("C");
  size_t end = planes[0].size();
  while (end > 0 && planes[0][end - 1] == 0.0) --end;
  ASSERT_GE(end, tone.size());
  ExpectModel(planes, end - tone.size(), [&](size_t t) { return At(tone, t) * kVoiceUnity * kCentreToPair; });
}

// A continuous switch reached by the sequence keeps its play: a later change of value plays the new
// value's sound on its own, after the play that reached the switch has long returned.
TEST_F(MultiChildContinuousTest, AContinuousSwitchInASequencePlaysItsNewValueOnItsOwn) {
  ASSERT_EQ(SoundEngine::SetSwitch("CsGroup", "One", kObject), SN_Success);
  Play("Play_CsSeq", 5);
  ASSERT_TRUE(Playing("CsX"));
  ASSERT_EQ(SoundEngine::SetSwitch("CsGroup", "Two", kObject), SN_Success);
  Frames(2);
  EXPECT_TRUE(Playing("CsY"));
  Frames(16);
  EXPECT_EQ(ends_, 0);
  ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_CsSeq", SnActionOnEvent_Stop, kObject), SN_Success);
  Frames(2);
  EXPECT_EQ(ends_, 1);
}

}  // namespace
