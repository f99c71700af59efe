// The engine calling Lua by name: colon and dot paths, arguments and results, error logging, and names
// that cannot be called.
#include "LuaFixture.h"

namespace {

class CallLua : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    ASSERT_EQ(Run(R"(
      Hook = { name = "Hook" }
      function Hook:Call(event, value)
        got_self, got_event, got_value, got_count = self.name, event, value, select('#', self, event, value)
        return event .. "!"
      end
      gui = {}
      function gui.Draw(a, b) drawn = (a or 0) + (b or 0); draw_args = select('#', a, b) end
      function Plain() plain = true end
      function Nothing() end
      function Boom() error("exploded") end
      function Thrown() error({ code = 1 }) end
      function Add(a, b) return a + b end
    )"), "");
    Take();
  }
};

TEST_F(CallLua, AColonPassesItsTableAsSelf) {
  EXPECT_TRUE(env_.Call("Hook:Call", "PreFrameStep", 0.5f));
  EXPECT_EQ(Eval("got_self, got_event, got_value, got_count"), "Hook PreFrameStep 0.5 3");

  std::string answer;
  EXPECT_TRUE(env_.CallForResult(answer, "Hook:Call", std::string("Ready"), true));
  EXPECT_EQ(answer, "Ready!");
}

TEST_F(CallLua, ADotOrAPlainNameCallsWithoutSelf) {
  EXPECT_TRUE(env_.Call("gui.Draw", 2, 3));
  EXPECT_TRUE(env_.Call("Plain"));
  EXPECT_EQ(Eval("drawn, draw_args, plain"), "5 2 true");

  int sum = 0;
  EXPECT_TRUE(env_.CallForResult(sum, "Add", 40, 2));
  EXPECT_EQ(sum, 42);

  // A function that returns nothing gives the conversion of nil.
  float nothing = 9.0f;
  EXPECT_TRUE(env_.CallForResult(nothing, "Nothing"));
  EXPECT_EQ(nothing, 0.0f);
}

TEST_F(CallLua, AnErrorIsLoggedOnceWithItsTracebackAndTheStackIsKept) {
  lua_pushinteger(L, 77);
  const int top = lua_gettop(L);
  std::string result = "untouched";
  EXPECT_FALSE(env_.CallForResult(result, "Boom"));
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(lua_tointeger(L, -1), 77);
  EXPECT_EQ(result, "untouched");

  const std::string log = Take();
  EXPECT_EQ(log.rfind("[ Error ][Lua] Lua error: [string \""), 0u);
  EXPECT_NE(log.find("exploded\nstack traceback:"), std::string::npos);
  EXPECT_EQ(log.find("[ Error ]", 1), std::string::npos);  // one line only

  EXPECT_FALSE(env_.Call("Thrown"));  // error values that are not text are not logged
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(lua_gettop(L), top);

  EXPECT_FALSE(env_.Call("Missing"));  // calling nil is an error inside the call
  EXPECT_NE(Take().find("Lua error: attempt to call a nil value"), std::string::npos);
  lua_pop(L, 1);
}

// A function no script defines (its script did not load) is named, as the engine's call of it; nothing is
// called. Defines asks the same without a line.
TEST_F(CallLua, ACallOfAnUndefinedFunctionNamesItAndDefinesAsksQuietly) {
  const int top = lua_gettop(L);
  EXPECT_FALSE(env_.Call("gui.Missing", 1));
  EXPECT_FALSE(env_.Call("Hook:Missing"));
  EXPECT_EQ(Take(),
            "[ Error ][Lua] Lua error: attempt to call a nil value: gui.Missing, which the engine calls, is defined by "
            "no script (see the script errors above)\n"
            "[ Error ][Lua] Lua error: attempt to call a nil value: Hook:Missing, which the engine calls, is defined "
            "by no script (see the script errors above)\n");
  EXPECT_EQ(lua_gettop(L), top);

  EXPECT_TRUE(env_.Defines("gui.Draw"));
  EXPECT_TRUE(env_.Defines("Plain"));
  EXPECT_FALSE(env_.Defines("gui.Missing"));
  EXPECT_FALSE(env_.Defines("Hook.name"));      // a text, not a function
  EXPECT_FALSE(env_.Defines("Plain.Inner"));    // a function is no table
  EXPECT_FALSE(env_.Defines("missing.Draw"));
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(lua_gettop(L), top);
}

TEST_F(CallLua, NamesThatCannotBeCalledAreSkipped) {
  const int top = lua_gettop(L);
  EXPECT_FALSE(env_.Call("skynet:Update"));
  EXPECT_FALSE(env_.Call("skynet:Update"));
  EXPECT_FALSE(env_.Call("Plain.Inner"));
  EXPECT_EQ(lua_gettop(L), top);
  std::string log = Take();
  EXPECT_EQ(log,
            "[Warning][Lua] Couldn't call lua function skynet:Update: skynet is nil, not a table\n"
            "[Warning][Lua] Couldn't call lua function Plain.Inner: Plain is function, not a table\n");

  EXPECT_FALSE(env_.Call(""));
  EXPECT_FALSE(env_.Call("gui."));
  EXPECT_FALSE(env_.Call("Hook:"));
  EXPECT_EQ(lua_gettop(L), top);
  log = Take();
  EXPECT_EQ(log, "[ Error ][Lua] THIS SHOULDN'T HAPPEN!\n[ Error ][Lua] THIS SHOULDN'T HAPPEN!\n"
                 "[ Error ][Lua] THIS SHOULDN'T HAPPEN!\n");
  EXPECT_EQ(Eval("drawn"), "nil");
}

TEST_F(CallLua, LookupsGoThroughIndexMetamethodsProtected) {
  ASSERT_EQ(Run(R"(
    local Class = {}
    Class.__index = Class
    function Class:Update() updated = self.tag end
    skynet = setmetatable({ tag = "sky" }, Class)
    trap = setmetatable({}, { __index = function() error("no such field") end })
  )"), "");
  EXPECT_TRUE(env_.Call("skynet:Update"));
  EXPECT_EQ(Text("updated"), "sky");

  EXPECT_FALSE(env_.Call("trap.inner.Draw"));
  const std::string log = Take();
  EXPECT_NE(log.find("Lua error: [string"), std::string::npos);
  EXPECT_NE(log.find("Couldn't call lua function trap.inner.Draw: trap.inner is nil, not a table"),
            std::string::npos);
}

TEST(LuaEnvironmentCalls, CallsBeforeInitAreRefused) {
  Lua::Environment env;
  EXPECT_FALSE(env.Call("Hook:Call", "Step"));
}

}  // namespace
