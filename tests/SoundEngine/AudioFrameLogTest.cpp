// The audio thread never waits for the log: the counts its frames close and the lines it says while
// another thread is in the middle of writing a line are handed over through a ring of fixed room and
// written by the game's thread.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Base/TraceRepeats.h"
#include "SoundEngine/Log.h"
#include "tests/Support/HeldLogOutput.h"

namespace {

using Base::TraceRepeats;

class AudioFrameLogTest : public ::testing::Test {
 protected:
  // The sound engine's filter as the engine's Init leaves it, every count said, and so at the end.
  void SetUp() override { TraceRepeats::GetInstance().Start(); }
  void TearDown() override { TraceRepeats::GetInstance().Start(); }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
};

// Before the counts were handed over, the frame's end wrote its count itself and waited for the held
// writer (the helper's 10 s watchdog let it go), every run.
TEST_F(AudioFrameLogTest, AFrameThatClosesACountWhileALineIsBeingWrittenDoesNotWaitForIt) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  OrvTest::HeldLogOutput output(true);
  for (int voice = 0; voice < 3; ++voice) SOUND_LOG_REPEATING(Warning, "voice %d starved", voice);
  output.Hold();
  std::thread writer([] { SOUND_LOG(Error, "a line of another thread"); });
  output.WaitForWriter();
  // The audio thread's frames: the second closes the count while the writer is held.
  repeats.EndFrame();
  repeats.EndFrame();
  EXPECT_FALSE(output.TimedOut()) << "the end of the frame waited for the line being written";
  output.Open();
  writer.join();
  EXPECT_EQ(output.Written(), "[Warning][Audio] voice 0 starved\n[ Error ][Audio] a line of another thread\n");
  // The game's thread writes the count.
  repeats.WriteClosed();
  EXPECT_EQ(output.Written(), "[Warning][Audio] voice 0 starved\n[ Error ][Audio] a line of another thread\n"
                              "[Warning][Audio] voice 0 starved (and 2 more like it)\n");
}

// The table's sixty-four lines closed in one frame fill the ring just: none is written by the frame's
// end, and the game's thread writes them all, in the table's order.
TEST_F(AudioFrameLogTest, AFrameClosingEveryKeptLineHandsOverEveryCount) {
  TraceRepeats& repeats = TraceRepeats::GetInstance();
  OrvTest::HeldLogOutput output(true);
  std::vector<std::string> formats;
  for (int i = 0; i < 64; ++i) formats.push_back("site " + std::to_string(i) + " failed %d");
  for (int i = 0; i < 64; ++i)
    for (int n = 0; n < 2; ++n) repeats.Print(Base::TraceLevel_Error, Base::TraceModule_Audio, formats[i].c_str(), n);
  const std::string said = output.Written();
  EXPECT_EQ(Count(said, "failed 0\n"), 64u);
  repeats.EndFrame();
  repeats.EndFrame();
  EXPECT_EQ(output.Written(), said);
  repeats.WriteClosed();
  std::string counts;
  for (int i = 0; i < 64; ++i) counts += "[ Error ][Audio] site " + std::to_string(i) + " failed 0 (and 1 more like it)\n";
  EXPECT_EQ(output.Written(), said + counts);
}

// A line said for the first time on the audio thread, folded or not, while another thread's line is
// being written: handed over, and written by the game's thread. Before, it wrote itself and waited
// for the held writer (the helper's 10 s watchdog let it go), every run.
TEST_F(AudioFrameLogTest, ALineFirstSaidOnTheAudioThreadWhileALineIsBeingWrittenDoesNotWaitForIt) {
  OrvTest::HeldLogOutput output(true);
  output.Hold();
  std::thread writer([] { SOUND_LOG(Error, "a line of another thread"); });
  output.WaitForWriter();
  {
    const TraceRepeats::HandOverScope audioThread;
    SOUND_LOG_REPEATING(Warning, "voice %d starved", 1);
    SOUND_LOG(Warning, "a line of the audio thread");
  }
  EXPECT_FALSE(output.TimedOut()) << "the audio thread waited for the line being written";
  output.Open();
  writer.join();
  EXPECT_EQ(output.Written(), "[ Error ][Audio] a line of another thread\n");
  TraceRepeats::GetInstance().WriteClosed();
  EXPECT_EQ(output.Written(), "[ Error ][Audio] a line of another thread\n[Warning][Audio] voice 1 starved\n"
                              "[Warning][Audio] a line of the audio thread\n");
}

}  // namespace
