// The repeated-line filter: the lines of one call site said frame after frame are said once, then
// counted, other values alike, and the count said once a frame passed without one; a full table says
// the count of the line it gives up; a line too long to keep is said whole. A line about one object
// of many names the others in its count; with the area stopped, a line of another kind says the
// counts; and the end of a frame never waits for a line being written: the game's thread writes the
// counts it closes. The game loop's lines are known by their whole texts.
#include <stdio.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Base/TraceRepeats.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/WaitFor.h"

namespace {

using Base::TraceRepeats;

class TraceRepeatsTest : public ::testing::Test {
 protected:
  // Every count said, and the filter running as a process begins with it.
  void TearDown() override { TraceRepeats::GetInstance().Start(); }
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
  EXPECT_EQ(log_.Take(), "");  // handed to the game's thread, which writes it
  repeats.WriteClosed();
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

TEST_F(TraceRepeatsTest, TheCountOfALineAboutManyObjectsNamesTheOthers) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  auto about = [&](uint32_t id) {
    repeats.PrintAbout(id, Base::TraceLevel_Warning, Base::TraceModule_Audio, "event %u is away", id);
  };
  for (uint32_t id : {5u, 7u, 5u, 7u}) about(id);
  repeats.EndFrame();
  repeats.EndFrame();
  repeats.WriteClosed();
  EXPECT_EQ(log_.Take(), "[Warning][Audio] event 5 is away\n[Warning][Audio] event 5 is away (and 3 more like it, "
                         "also for id 7)\n");
  // Four named, the others counted while they can be told apart, then "over".
  for (uint32_t id = 10; id < 16; ++id) about(id);
  repeats.Flush();
  EXPECT_EQ(log_.Take(), "[Warning][Audio] event 10 is away\n[Warning][Audio] event 10 is away (and 5 more like "
                         "it, also for ids 11, 12, 13, 14 and 1 other)\n");
  for (uint32_t id = 0; id < 100; ++id) about(id % 2 ? id : 1000 + id);
  repeats.Flush();
  EXPECT_EQ(log_.Take(), "[Warning][Audio] event 1000 is away\n[Warning][Audio] event 1000 is away (and 99 more "
                         "like it, also for ids 1, 1002, 3, 1004 and over 60 others)\n");
}

TEST_F(TraceRepeatsTest, StoppedALineOfAnotherKindSaysTheCountsAndStartSaysTheRest) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  auto call = [&](const char* caller) {
    repeats.Print(Base::TraceLevel_Warning, Base::TraceModule_Audio, "%s: not running", caller);
  };
  repeats.Stop();
  call("Post");
  call("Post");
  EXPECT_EQ(log_.Take(), "[Warning][Audio] Post: not running\n");
  call("Set");  // the same site with another text
  EXPECT_EQ(log_.Take(), "[Warning][Audio] Post: not running (and 1 more like it)\n"
                         "[Warning][Audio] Set: not running\n");
  // Kinds said before, taking turns, are counted and not said again.
  for (int i = 0; i < 2; ++i) {
    call("Post");
    call("Set");
  }
  EXPECT_EQ(log_.Take(), "");
  SayOther(1);  // another site
  EXPECT_EQ(log_.Take(), "[Warning][Audio] Post: not running (and 2 more like it)\n"
                         "[Warning][Audio] Set: not running (and 2 more like it)\n[Warning][Audio] another 1\n");
  SayOther(1);
  SayOther(1);
  repeats.Start();
  EXPECT_EQ(log_.Take(), "[Warning][Audio] another 1 (and 2 more like it)\n");
  // Started, the lines fold again across texts.
  call("Post");
  call("Set");
  SayOther(2);
  EXPECT_EQ(log_.Take(), "[Warning][Audio] Post: not running\n[Warning][Audio] another 2\n");
}

// The log's output that holds its writer until the test lets it go, as a slow console would; a writer
// that waits past any reasonable time notes that it was never let go.
struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool writing = false;
  bool open = false;
  bool timedOut = false;
  std::string written;
};

ssize_t GateWrite(void* cookie, const char* data, size_t size) {
  Gate& gate = *static_cast<Gate*>(cookie);
  std::unique_lock<std::mutex> hold(gate.lock);
  gate.writing = true;
  gate.changed.notify_all();
  if (!OrvTest::WaitUntil(gate.changed, hold, [&] { return gate.open; }, "the test to let the line be written",
                          std::chrono::seconds(20)))
    gate.timedOut = true;
  gate.written.append(data, size);
  return ssize_t(size);
}

// While a line is being written on another thread, as to a slow console, a frame ends and a line
// is counted without waiting for it; the count is said in the frame that closes it.
TEST_F(TraceRepeatsTest, NeitherTheEndOfAFrameNorACountedLineWaitsForALineBeingWritten) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  Say(0);
  Gate gate;
  cookie_io_functions_t functions{nullptr, &GateWrite, nullptr, nullptr};
  FILE* slow = fopencookie(&gate, "w", functions);
  ASSERT_NE(slow, nullptr);
  setvbuf(slow, nullptr, _IONBF, 0);
  FILE* previous = Base::TraceLog::GetInstance().GetOutput();
  Base::TraceLog::GetInstance().SetOutput(slow);
  std::thread writer([&] { SayOther(1); });
  {
    std::unique_lock<std::mutex> hold(gate.lock);
    OrvTest::WaitUntil(gate.changed, hold, [&] { return gate.writing; }, "the other thread's line");
  }
  Say(1);
  repeats.EndFrame();
  {
    std::lock_guard<std::mutex> hold(gate.lock);
    gate.open = true;
    gate.changed.notify_all();
  }
  writer.join();
  repeats.EndFrame();  // the frame that closes "voice 0 failed"
  repeats.WriteClosed();
  Base::TraceLog::GetInstance().SetOutput(previous);
  fclose(slow);
  EXPECT_FALSE(gate.timedOut) << "a line waited for the one being written";
  EXPECT_EQ(gate.written, "[Warning][Audio] another 1\n[ Error ][Audio] voice 0 failed (and 1 more like it)\n");
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
