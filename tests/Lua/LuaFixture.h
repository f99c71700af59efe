// Shared by the Lua tests: a fresh environment per test with the engine's scripts, the trace log
// captured in a temporary file, and small helpers to run script text and read globals.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "Base/TraceLog.h"
#include "Lua/Environment.h"

using Base::Reflection::Variant;

class LuaFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = tmpfile();
    log_.SetOutput(file_);
    log_.SetLevel(Base::TraceLevel_Verbose);
    log_.MuteAll(false);
    env_.Init();
    env_.PostInit();
    L = env_.GetState();
    Take();
  }
  void TearDown() override {
    env_.Close();
    log_.SetOutput(stdout);
    log_.SetLevel(Base::TraceLevel_Verbose);
    log_.MuteAll(false);
    fclose(file_);
  }

  // Everything logged since the last call.
  std::string Take() {
    std::string text;
    rewind(file_);
    for (int c; (c = fgetc(file_)) != EOF;) text += char(c);
    rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) ADD_FAILURE();
    return text;
  }

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
  bool Flag(const char* global) {
    lua_getglobal(L, global);
    const bool value = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    return value;
  }
  int TypeOfGlobal(const char* global) {
    lua_getglobal(L, global);
    const int type = lua_type(L, -1);
    lua_pop(L, 1);
    return type;
  }

  Base::TraceLog& log_ = Base::TraceLog::GetInstance();
  FILE* file_ = nullptr;
  Lua::Environment env_;
  lua_State* L = nullptr;
};

// Whether `text` holds `line` as one whole log line; a failure shows the whole text.
inline ::testing::AssertionResult HasLine(const std::string& text, const std::string& line) {
  if (("\n" + text).find("\n" + line + "\n") != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no line \"" << line << "\" in:\n" << text;
}
