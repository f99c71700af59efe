// A continuous sequence Inner (A, then B) inside the continuous sequence Outer (Inner, then C), each
// waiting 100 ms before its next item: a break of Inner lets what plays end and goes on with C where B
// would have begun, whether it comes while A plays or in the wait after it; a break of Outer, or a
// stop of Inner, in that wait ends the performance with A.
#include "tests/SoundOutput/SoundEndToEndSupport.h"

namespace {

using namespace EndToEnd;

class NestedBreakTest : public SoundEndToEndTest {
 protected:
  // The stop and the break of ExecuteActionOnEvent.
  static constexpr uint32_t kStop = 0;
  static constexpr uint32_t kBreak = 3;

  void SetUp() override {
    SoundEndToEndTest::SetUp();
    LoadOwnBank("platform Linux\n"
                "tone NestA 48000 1 64 1000\n"
                "tone NestB 48000 1 64 500\n"
                "tone NestC 48000 1 64 750\n"
                "sound NestA NestA Effects\n"
                "sound NestB NestB Effects\n"
                "sound NestC NestC Effects\n"
                "sequence Inner Effects NestA NestB continuous transition 3 100\n"
                "sequence Outer Effects Inner NestC continuous transition 3 100\n"
                "action Play_Outer_Act 0x0403 Outer\nevent Play_Outer Play_Outer_Act\n"
                "action Play_Inner_Act 0x0403 Inner\nevent Play_Inner Play_Inner_Act\n"
                "action Stop_Inner_Act 0x0103 Inner\nevent Stop_Inner Stop_Inner_Act\n");
  }
  // Outer posted after a frame, heard as the tones `items`; `act` runs before frame `at` of the play
  // (counted from the post).
  void Play(std::vector<const char*> items, uint32_t at, const std::function<void()>& act) {
    Frames(1);
    ASSERT_NE(SoundEngine::PostEvent("Play_Outer", kObject), 0u);
    plays_.push_back({(rendered_ + 1) * kFrame, std::move(items)});
    for (uint32_t frame = 0; frame < kFramesEach; ++frame) {
      if (frame == at) act();
      Frames(1);
    }
    rendered_ += 1 + kFramesEach;
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  }
  // Each play's items of three frames from its post on, each after the one before it and a wait of
  // 100 ms (4800 samples) counted from the start of the frame that one ends in: a wait keeps to the
  // frame clock.
  void ExpectPlays() {
    const size_t length = 3 * kFrame;
    auto after = [&](size_t begin) { return (begin + length - 1) / kFrame * kFrame + 4800; };
    std::vector<std::vector<std::vector<double>>> media;
    for (const Heard& play : plays_) {
      media.emplace_back();
      for (const char* item : play.items) media.back().push_back(OwnMedia(item));
    }
    ExpectModel(Capture(), 0, [&](size_t t) {
      double level = 0.0;
      for (size_t p = 0; p < plays_.size(); ++p)
        for (size_t i = 0, begin = plays_[p].begin; i < media[p].size(); ++i, begin = after(begin))
          if (t >= begin && t < begin + length) level += At(media[p][i], t - begin);
      return level * kVoiceUnity * kCentreToPair;
    });
  }

  static constexpr uint32_t kFramesEach = 20;
  struct Heard {
    size_t begin;
    std::vector<const char*> items;
  };
  std::vector<Heard> plays_;
  size_t rendered_ = 0;
};

// Untouched, the sequences play A, B, then C. In the wait before B (a frame after A's end, while the
// hand-on to B is still due), Inner is broken: the wait goes on, and ends with C.
TEST_F(NestedBreakTest, ABreakOfTheInnerSequenceInTheWaitGoesOnWithTheOuter) {
  Play({"NestA", "NestB", "NestC"}, kFramesEach, [] {});
  Play({"NestA", "NestC"}, 4, [] {
    ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Inner", kBreak, kObject), SN_Success);
  });
  ExpectPlays();
}

// Inner broken while A plays: A plays to its end, and C follows after the outer sequence's wait.
TEST_F(NestedBreakTest, ABreakOfTheInnerSequenceWhileItsItemPlaysGoesOnWithTheOuter) {
  Play({"NestA", "NestC"}, 1, [] {
    ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Inner", kBreak, kObject), SN_Success);
  });
  ExpectPlays();
}

// In the same wait, a break of Outer leaves nothing to continue, and a stop of Inner, by a stop action
// or on the event that plays it, ends the performance, as a stop that comes while A plays ends it
// with A.
TEST_F(NestedBreakTest, ABreakOfTheOuterSequenceOrAStopOfTheInnerInTheWaitEndsWithA) {
  Play({"NestA"}, 4, [] { ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Outer", kBreak, kObject), SN_Success); });
  Play({"NestA"}, 4, [] { ASSERT_NE(SoundEngine::PostEvent("Stop_Inner", kObject), 0u); });
  Play({"NestA"}, 4, [] { ASSERT_EQ(SoundEngine::ExecuteActionOnEvent("Play_Inner", kStop, kObject), SN_Success); });
  ExpectPlays();
}

}  // namespace
