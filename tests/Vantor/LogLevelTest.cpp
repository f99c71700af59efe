// The game's log level chosen from ORV_LOG_LEVEL: names in any case or numbers pick a level, nothing
// picks Info, and a value that names no level is said once and leaves Info.
#include <gtest/gtest.h>

#include "Vantor/LogLevel.h"
#include "tests/Support/LogCapture.h"

namespace {

TEST(LogLevel, TheVariableNamesALevelOrTheGameLogsInfoAndAbove) {
  OrvTest::LogCapture log;  // puts the level back as it was
  Base::TraceLog& trace = Base::TraceLog::GetInstance();
  const std::pair<const char*, Base::TraceLevel> named[] = {
      {"verbose", Base::TraceLevel_Verbose}, {"Warning", Base::TraceLevel_Warning}, {"ERROR", Base::TraceLevel_Error},
      {"2", Base::TraceLevel_Debug},         {"info", Base::TraceLevel_Info},       {"4", Base::TraceLevel_Verbose}};
  for (const auto& [text, level] : named) {
    Vantor::ChooseLogLevel(text);
    EXPECT_EQ(trace.GetLevel(), level) << text;
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    trace.SetLevel(Base::TraceLevel_Verbose);
    Vantor::ChooseLogLevel(unset);
    EXPECT_EQ(trace.GetLevel(), Base::TraceLevel_Info);
  }
  EXPECT_EQ(log.Take(), "");

  for (const char* wrong : {"loud", "5", "-1", "infos"}) {
    trace.SetLevel(Base::TraceLevel_Verbose);
    Vantor::ChooseLogLevel(wrong);
    EXPECT_EQ(trace.GetLevel(), Base::TraceLevel_Info) << wrong;
    EXPECT_EQ(log.Take(), std::string("[Warning][Base] ORV_LOG_LEVEL=\"") + wrong +
                              "\" names no log level (error, warning, debug, info or verbose); the game logs Info "
                              "and above\n");
  }
}

}  // namespace
