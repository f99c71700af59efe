// The whole program started again in the same process, as the start-up benchmarks and these tests do:
// the second program draws "Splash" as cleanly as the first, with shaders and meshes of its own device.
#include "Vantor/Program.h"

#include <gtest/gtest.h>

#include <string>

#include "Base/TraceLog.h"
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

}  // namespace
