// Shared by the Lua tests: a fresh environment per test with the engine's scripts, the trace log
// captured, and small helpers to run script text and read values back.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Base/TraceLog.h"
#include "Lua/Environment.h"
#include "tests/Support/LogCapture.h"

using Base::Reflection::Variant;

class LuaFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLog();
    env_.Init();
    env_.PostInit();
    L = env_.GetState();
    Take();
  }
  void TearDown() override {
    env_.Close();
    ResetLog();
  }
  void ResetLog() {
    log_.SetLevel(Base::TraceLevel_Verbose);
    log_.MuteAll(false);
  }

  // Everything logged since the last call.
  std::string Take() { return capture_.Take(); }

  // Runs script text; returns its error message, or "" when it ran. The stack is left as it was.
  std::string Run(const std::string& code) {
    const int top = lua_gettop(L);
    std::string error;
    if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
      const char* message = lua_tostring(L, -1);
      error = message ? message : "(error)";
    }
    lua_settop(L, top);
    return error;
  }

  // The values of a list of Lua expressions through tostring, separated by blanks; or the error.
  std::string Eval(const std::string& expressions) {
    const std::string code =
        "__eval = (function(...) local out = {} for i = 1, select('#', ...) do out[i] = tostring((select(i, ...))) "
        "end return table.concat(out, ' ') end)(" + expressions + ")";
    if (std::string error = Run(code); !error.empty()) return error;
    return Text("__eval");
  }

  double Number(const char* global) {
    lua_getglobal(L, global);
    const double value = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return value;
  }
  std::string Text(const char* global) {
    lua_getglobal(L, global);
    const char* value = lua_tostring(L, -1);
    std::string text = value ? value : "<nil>";
    lua_pop(L, 1);
    return text;
  }

  Base::TraceLog& log_ = Base::TraceLog::GetInstance();
  OrvTest::LogCapture capture_;
  Lua::Environment env_;
  lua_State* L = nullptr;
};

// Whether `text` holds `line` as one whole log line; a failure shows the whole text.
inline ::testing::AssertionResult HasLine(const std::string& text, const std::string& line) {
  if (("\n" + text).find("\n" + line + "\n") != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no line \"" << line << "\" in:\n" << text;
}
