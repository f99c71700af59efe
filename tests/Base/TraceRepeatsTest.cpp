// The repeated-line filter: a line said frame after frame is said once, then counted, and its count
// said once a frame passed without it; in one frame every saying is said; a full table says the count
// of the line it gives up; a line too long to keep is said whole.
#include <string>

#include <gtest/gtest.h>

#include "Base/TraceRepeats.h"
#include "tests/Support/LogCapture.h"

namespace {

using Base::TraceRepeats;

class TraceRepeatsTest : public ::testing::Test {
 protected:
  void TearDown() override { TraceRepeats::GetInstance().Flush(); }
  static void Say(const char* what, int n) {
    TraceRepeats::GetInstance().Print(Base::TraceLevel_Error, Base::TraceModule_Audio, "%s %d", what, n);
  }
  OrvTest::LogCapture log_;
};

TEST_F(TraceRepeatsTest, ALineSaidFrameAfterFrameIsSaidOnceThenItsCount) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  Say("twice in its first frame", 1);
  Say("twice in its first frame", 1);
  for (int frame = 0; frame < 4; ++frame) {
    Say("every frame", 7);
    repeats.EndFrame();
  }
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] twice in its first frame 1\n"
                         "[ Error ][Audio] twice in its first frame 1\n"
                         "[ Error ][Audio] every frame 7\n");
  repeats.EndFrame();  // the first frame without it
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] every frame 7 (said 3 more times)\n");
  Say("every frame", 7);
  Say("every frame", 8);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] every frame 7\n[ Error ][Audio] every frame 8\n");
}

TEST_F(TraceRepeatsTest, AFullTableSaysTheCountOfTheLineItGivesUpAndALongLineIsSaidWhole) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  Say("the stalest", 0);
  repeats.EndFrame();
  Say("the stalest", 0);
  repeats.EndFrame();
  for (int i = 1; i < 64; ++i) Say("another", i);
  log_.Take();
  Say("one too many", 0);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] the stalest 0 (said 1 more times)\n[ Error ][Audio] one too many 0\n");
  const std::string whole(600, 'x');
  for (int i = 0; i < 2; ++i) {
    repeats.EndFrame();
    Say(whole.c_str(), 1);
  }
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] " + whole + " 1\n[ Error ][Audio] " + whole + " 1\n");
}

}  // namespace
