// Exact bytes of trace lines and their filtering by level and module mutes.
#include "Base/TraceLog.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/Support/LogCapture.h"

namespace {

using namespace Base;

// Captures the log for one test and leaves the level and mutes as it found them.
class TraceLogCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetLevel(TraceLevel_Verbose);
    log_.MuteAll(false);
  }
  void TearDown() override {
    log_.SetLevel(TraceLevel_Verbose);
    log_.MuteAll(false);
  }
  std::string Take() { return capture_.Take(); }

  OrvTest::LogCapture capture_;
  TraceLog& log_ = TraceLog::GetInstance();
};

TEST_F(TraceLogCapture, LinesCarryBothTagsOneBlankAndExpandedArguments) {
  log_.Print(TraceLevel_Info, TraceModule_Base, "loaded %d of %s", 3, "five");
  EXPECT_EQ(Take(), "[ Info  ][Base] loaded 3 of five\n");
  log_.Print(TraceLevel_Warning, TraceModule_Graphics, "x");
  EXPECT_EQ(Take(), "[Warning][Graphics] x\n");
  log_.PrintGeneral(TraceLevel_Error, "run out at %u", 7u);
  EXPECT_EQ(Take(), "[ Error ][General] run out at 7\n");
  log_.LogMsg(TraceLevel_Debug, TraceModule_Lua, "100% sure %s %n");  // script text: printed literally
  EXPECT_EQ(Take(), "[ Debug ][Lua] 100% sure %s %n\n");
}

TEST_F(TraceLogCapture, LevelFiltersEveryEntryPointAndOutOfRangeValuesAreIgnored) {
  log_.SetLevel(TraceLevel_Error);
  log_.Print(TraceLevel_Warning, TraceModule_Core, "dropped");
  log_.Print(TraceLevel_Error, TraceModule_Core, "kept");
  EXPECT_EQ(Take(), "[ Error ][Core] kept\n");

  log_.SetLevel(TraceLevel(-1));
  log_.Print(TraceLevel_Error, TraceModule_Core, "a");
  log_.LogMsg(TraceLevel_Error, TraceModule_Lua, "b");
  log_.PrintGeneral(TraceLevel_Error, "c");
  EXPECT_EQ(Take(), "");

  // Levels and modules out of range are ignored, as is muting all but one of them.
  log_.SetLevel(TraceLevel_Verbose);
  log_.Print(TraceLevel(5), TraceModule_Core, "level 5");
  log_.Print(TraceLevel_Info, TraceModule(9), "module 9");
  log_.LogMsg(TraceLevel(-3), TraceModule_Lua, "level -3");
  log_.MuteAllButOne(TraceModule(42));
  EXPECT_FALSE(log_.ModuleMuted(TraceModule_Core));
  EXPECT_EQ(Take(), "");
}

TEST_F(TraceLogCapture, MutesSilenceModulesButNotPrintGeneral) {
  log_.MuteAllButOne(TraceModule_Lua);
  log_.Print(TraceLevel_Info, TraceModule_Core, "core");
  log_.LogMsg(TraceLevel_Info, TraceModule_Lua, "lua");
  log_.PrintGeneral(TraceLevel_Info, "general");
  EXPECT_EQ(Take(), "[ Info  ][Lua] lua\n[ Info  ][General] general\n");
  EXPECT_TRUE(log_.ModuleMuted(TraceModule_Core));
  EXPECT_FALSE(log_.ModuleMuted(TraceModule_Lua));

  log_.MuteAll(false);
  log_.Print(TraceLevel_Info, TraceModule_Core, "core");
  EXPECT_EQ(Take(), "[ Info  ][Core] core\n");
}

TEST(ReportError, WritesFileLineAndMessageToStandardError) {
  testing::internal::CaptureStderr();
  ReportError("argCount != 2", "Base/function/Function", 137, "Wrong overload!");
  ReportError("x", "file.cpp", 9, nullptr);
  ReportError("x", "f", 1, "%d args", 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Base/function/Function(137) : Wrong overload!\nfile.cpp(9) : No Error Message\nf(1) : 3 args\n");
}

}  // namespace
