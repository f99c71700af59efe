// The whole program started again in the same process, as the start-up benchmarks and these tests do:
// the second program draws "Splash" as cleanly as the first, with shaders and meshes of its own device;
// what a start logs at the game's default level and when Debug lines are asked for; and a start whose
// device refuses a sprite batch's buffer, which ends the game with one error naming the buffer.
#include "Vantor/Program.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "Base/TraceLog.h"
#include "Platform/Graphics/GpuDevice.h"
#include "tests/Support/LogCapture.h"

namespace {

// Initialises a program, lets it draw a few unpaced frames of the first level and shuts it down; what
// it logged at warning level and above.
std::string RunOnce() {
  OrvTest::LogCapture log;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Warning);
  {
    Vantor::Program program;
    program.Init();
    program.GetFrameRateController().SetTargetFramerate(0);
    for (int i = 0; i < 3; ++i) program.RunPass();
    program.Shutdown();
  }
  return log.Take();
}

TEST(ProgramRestart, ASecondProgramDrawsWithTheAssetsOfItsOwnDevice) {
  const std::string first = (RunOnce());
  EXPECT_EQ(first.find("[ Error ]"), std::string::npos) << first;
  const std::string second = (RunOnce());
  EXPECT_EQ(second.find("do not link"), std::string::npos) << second;
  EXPECT_EQ(second.find("[ Error ]"), std::string::npos) << second;
}

// The lines of a program's Init and Shutdown at the log level `level`.
std::string StartAndStopAt(Base::TraceLevel level) {
  OrvTest::LogCapture log;
  Base::TraceLog::GetInstance().SetLevel(level);
  {
    Vantor::Program program;
    program.Init();
    program.Shutdown();
  }
  return log.Take();
}

TEST(ProgramStart, APacingLineShowsOnlyWhereDebugLinesAreAskedFor) {
  const std::string pacing = "[ Debug ][Core] Set Target Framerate to 60\n[ Debug ][Core] Set dt sway amount to 0\n";
  const std::string info = StartAndStopAt(Base::TraceLevel_Info);
  EXPECT_EQ(info.find("[ Debug ]"), std::string::npos) << info;
  EXPECT_NE(info.find("[ Info  ]"), std::string::npos) << info;
  for (Base::TraceLevel asked : {Base::TraceLevel_Debug, Base::TraceLevel_Verbose}) {
    const std::string shown = StartAndStopAt(asked);
    EXPECT_NE(shown.find(pacing), std::string::npos) << shown;
  }
}

// The device's buffers of the sprite batch (one index buffer per device, one vertex buffer per context)
// used to escape the start as an exception. Refused, the one error line names the buffer, the game ends
// with exit code 1 before its first frame, and the next start draws cleanly.
struct RefusedBuffers {
  explicit RefusedBuffers(uint32_t binds) { Platform::GetGpuTestHooks().failingBufferBinds = binds; }
  ~RefusedBuffers() { Platform::GetGpuTestHooks().failingBufferBinds = 0; }
};

TEST(ProgramStart, ASpriteBatchBufferTheDeviceRefusesIsOneErrorNamingItAndTheGameEnds) {
  for (const auto& [binds, buffer] : {std::pair{Platform::GpuBind_IndexBuffer, "index buffer"},
                                      std::pair{Platform::GpuBind_VertexBuffer, "vertex buffer"}}) {
    OrvTest::LogCapture log;
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Info);
    int exitCode = 0;
    {
      const RefusedBuffers refused(binds);
      exitCode = Vantor::Program().Run();
    }
    const std::string lines = log.Take();
    const size_t error = lines.find("[ Error ][Graphics] Failed to create the sprite batch's " + std::string(buffer));
    EXPECT_EQ(lines.find("[ Error ]"), error) << lines;
    EXPECT_EQ(lines.find("[ Error ]", error + 1), std::string::npos) << lines;
    EXPECT_NE(lines.find("The game cannot draw without its renderer (see the error above): it ends."),
              std::string::npos)
        << lines;
    EXPECT_EQ(exitCode, Vantor::Program::kBrokenContentExitCode);
  }
  const std::string again = RunOnce();
  EXPECT_EQ(again.find("[ Error ]"), std::string::npos) << again;
}

}  // namespace
