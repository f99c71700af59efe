// The repeated-line filter: the lines of one call site said frame after frame are said once, then
// counted, other values alike, and the count said once a frame passed without one; a full table says
// the count of the line it gives up; a line too long to keep is said whole.
#include <string>

#include <gtest/gtest.h>

#include "Base/TraceRepeats.h"
#include "tests/Support/LogCapture.h"

namespace {

using Base::TraceRepeats;

class TraceRepeatsTest : public ::testing::Test {
 protected:
  void TearDown() override { TraceRepeats::GetInstance().Flush(); }
  static void Say(int n) {
    TraceRepeats::GetInstance().Print(Base::TraceLevel_Error, Base::TraceModule_Audio, "voice %d failed", n);
  }
  static void SayOther(int n) {
    TraceRepeats::GetInstance().Print(Base::TraceLevel_Warning, Base::TraceModule_Audio, "another %d", n);
  }
  OrvTest::LogCapture log_;
};

TEST_F(TraceRepeatsTest, ALineSaidFrameAfterFrameIsSaidOnceThenItsCount) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  for (int frame = 0; frame < 4; ++frame) {
    Say(2 * frame);
    Say(2 * frame + 1);
    repeats.EndFrame();
  }
  SayOther(1);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] voice 0 failed\n[Warning][Audio] another 1\n");
  repeats.EndFrame();  // the first frame without it
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] voice 0 failed (and 7 more like it)\n");
  Say(9);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] voice 9 failed\n");
}

TEST_F(TraceRepeatsTest, AFullTableSaysTheCountOfTheLineItGivesUpAndALongLineIsSaidWhole) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  Say(0);
  Say(1);
  repeats.EndFrame();
  // 63 more sites, each a format of its own.
  std::vector<std::string> formats;
  for (int i = 0; i < 64; ++i) formats.push_back("site " + std::to_string(i) + " %d");
  for (int i = 0; i < 63; ++i)
    repeats.Print(Base::TraceLevel_Error, Base::TraceModule_Audio, formats[i].c_str(), i);
  log_.Take();
  repeats.Print(Base::TraceLevel_Error, Base::TraceModule_Audio, formats[63].c_str(), 63);
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] voice 0 failed (and 1 more like it)\n[ Error ][Audio] site 63 63\n");
  const std::string whole(600, 'x');
  repeats.Print(Base::TraceLevel_Error, Base::TraceModule_Audio, "%s", whole.c_str());
  EXPECT_EQ(log_.Take(), "[ Error ][Audio] " + whole + "\n");
}

// The game loop's lines are their whole texts: two files of one call site are each said once, counted
// however far apart they come, and their counts said (after a text's first line) once the game ends. Not
// holding, as outside a running engine, it says every line.
TEST_F(TraceRepeatsTest, TheGameLoopsLinesAreSaidOncePerTextAndCountedToTheEnd) {
  TraceRepeats& game = TraceRepeats::OfGameFrames();
  auto missing = [&](const char* file) {
    game.PrintEach(Base::TraceLevel_Error, Base::TraceModule_Graphics, "Failed to Create Texture from, %s", file);
  };
  missing("a.png");
  missing("a.png");
  EXPECT_EQ(log_.Take(), "[ Error ][Graphics] Failed to Create Texture from, a.png\n"
                         "[ Error ][Graphics] Failed to Create Texture from, a.png\n");
  game.SetHolding(true);
  for (int frame = 0; frame < 5; ++frame) {
    missing("a.png");
    if (frame % 2 == 0) missing("b.png");
    game.LogMsg(Base::TraceLevel_Error, Base::TraceModule_Lua, "hook failed: x.lua:3: boom\nstack traceback:\n\tx.lua:3");
    game.EndFrame();
    game.EndFrame();
  }
  EXPECT_EQ(log_.Take(), "[ Error ][Graphics] Failed to Create Texture from, a.png\n"
                         "[ Error ][Graphics] Failed to Create Texture from, b.png\n"
                         "[ Error ][Lua] hook failed: x.lua:3: boom\nstack traceback:\n\tx.lua:3\n");
  game.Flush();
  game.SetHolding(false);
  EXPECT_EQ(log_.Take(), "[ Error ][Graphics] Failed to Create Texture from, a.png (and 4 times more)\n"
                         "[ Error ][Graphics] Failed to Create Texture from, b.png (and 2 times more)\n"
                         "[ Error ][Lua] hook failed: x.lua:3: boom (and 4 times more)\n");
  missing("a.png");
  EXPECT_EQ(log_.Take(), "[ Error ][Graphics] Failed to Create Texture from, a.png\n");
}

}  // namespace
