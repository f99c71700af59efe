// The Lua environment: one state, metatables per reflected type, bound functions published as methods,
// globals and category tables, the script loader's search order and its once-per-file rule.
#include <boost/filesystem.hpp>

#include <fstream>

#include "Base/Reflection/Registration.h"
#include "LuaFixture.h"

namespace EnvTest {

struct Gauge {
  int value = 3;
  int Read() const { return value; }
  void Write(int v) { value = v; }
};

int Triple(int x) { return 3 * x; }
int Answer() { return 42; }

struct Ghost {  // bound, never registered: it has no metatable to be bound on
  void Boo() {}
};

}  // namespace EnvTest

ORV_REFLECT_CLASS(EnvTest::Gauge) {
  ORV_FIELD(value);
  ORV_METHOD(Read);
  ORV_METHOD(Write);
}

ORV_ON_LOAD {
  Base::Bind<&EnvTest::Triple>("gauges:Triple");
  Base::Bind<&EnvTest::Answer>("EnvAnswer");
  Base::Bind<&EnvTest::Ghost::Boo>("Ghost::Boo");
}

namespace {

namespace fs = boost::filesystem;

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

// A scratch folder under the script root, one per test (tests may run in parallel), removed afterwards.
class ScriptTree : public LuaFixture {
 protected:
  void SetUp() override {
    folder_ = std::string("zz_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(Disk(""));
    LuaFixture::SetUp();
  }
  void TearDown() override {
    LuaFixture::TearDown();
    fs::remove_all(Disk(""));
  }
  // A name under the script root, and the same file from the working directory.
  std::string Name(const std::string& file) const { return folder_ + "/" + file; }
  std::string Disk(const std::string& file) const { return "content/lua/" + Name(file); }
  void Write(const std::string& file, const std::string& text) const { WriteFile(Disk(file), text); }

  std::string folder_;
};

TEST_F(LuaFixture, InitTwiceKeepsOneStateAndPublishesTheGlobals) {
  env_.Init();
  EXPECT_EQ(env_.GetState(), L);
  EXPECT_EQ(Eval("type(_R), type(interface), type(trace), type(debugtime)"), "table userdata userdata userdata");
  EXPECT_EQ(env_.GetScriptRoot(), fs::current_path().string() + "/content/lua/");
  EXPECT_EQ(Eval("ComponentDB.Transform, ComponentDB.LuaComponent, ComponentDB.countComponents"), "0 18 nil");
}

TEST_F(LuaFixture, MetatablesAreSharedByTypeAndPointerAndListTheirMethods) {
  // The class's own record wins over its pointer's (not plain); converted types list no members.
  EXPECT_EQ(Eval("table.concat(_R.Gauge.__cfunctions, ','), _R.Gauge.__index == _R.Gauge, _R.Gauge.__members.value, "
                 "_R.Gauge.__isPOD, next(_R.Quaternion.__members), _R.int.__isPOD, _R['GameObject*>'] ~= nil"),
            "Read,Write true 0 false nil true true");

  // An object pushed as Gauge* answers the methods bound on Gauge.
  EnvTest::Gauge gauge;
  env_.SetGlobal("gauge", Variant(Base::Reflection::TypeOf<EnvTest::Gauge*>(), &gauge));
  EXPECT_EQ(Run("gauge:Write(gauge:Read() + 4)"), "");
  EXPECT_EQ(gauge.value, 7);
}

TEST_F(LuaFixture, FreeFunctionsBecomeCategoryTablesOrGlobals) {
  EXPECT_EQ(Eval("gauges.Triple(5), EnvAnswer(), type(debugtime:GetTimers())"), "15 42 table");
}

TEST(LuaEnvironment, AMethodWithoutAMetatableIsLoggedAndSkipped) {
  OrvTest::LogCapture log;
  Lua::Environment env;
  env.Init();
  EXPECT_TRUE(HasLine(log.Take(), "[Warning][Lua] Couldn't find meta table for  when binding method Boo"));
}

TEST_F(LuaFixture, RequireFindsModulesUnderTheScriptRoot) {
  EXPECT_EQ(Eval("require('engine.libraries.vector').Vector3 == _R.__Vector3_MT"), "true");
}

TEST_F(ScriptTree, AScriptRunsOnceHoweverItIsReached) {
  Write("count.lua", "runs = (runs or 0) + 1\n");
  const size_t before = env_.GetLoadedScripts().size();
  env_.LoadScript(Name("count.lua").c_str(), false);
  env_.LoadScript((folder_ + "\\count.lua").c_str(), false);         // the other separator
  env_.LoadScript(("content/lua/" + folder_ + "/./count.lua").c_str(), false);  // from the working directory
  env_.LoadFolder(folder_.c_str());                                   // and through its folder
  EXPECT_EQ(Number("runs"), 1);
  ASSERT_EQ(env_.GetLoadedScripts().size(), before + 1);
  EXPECT_EQ(env_.GetLoadedScripts().back().foundPath, Disk("count.lua"));
  EXPECT_GT(env_.GetLoadedScripts().back().lastWriteTime, 0);

  env_.LoadScript(Name("Count.lua").c_str(), false);  // names are case-sensitive
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Couldn't find lua script: " + Name("Count.lua")));
}

TEST_F(ScriptTree, FoldersLoadOnlyLuaFilesDepthFirstInNameOrder) {
  Write("b.lua", "order = (order or '') .. 'b'\n");
  Write("a/inner.lua", "order = (order or '') .. 'i'\n");
  Write("c.lua", "order = (order or '') .. 'c'\n");
  Write("x.LUA", "order = (order or '') .. 'X'\n");
  Write("x.lua.bak", "order = (order or '') .. 'K'\n");
  fs::create_directory_symlink("..", Disk("a/up"));  // a loop back up the tree ends the walk, not the test
  env_.LoadFolder(folder_.c_str());
  EXPECT_EQ(Text("order"), "ibc");

  env_.LoadFolder("zz_missing");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Couldn't find folder: zz_missing"));
}

TEST_F(ScriptTree, SubPathsAreJoinedAsGiven) {
  Write("enginex.lua", "joined = true\n");
  env_.AddSubpath(Name("engine").c_str());
  EXPECT_TRUE(HasLine(Take(), "[Verbose][Lua] Added sub path " + Name("engine")));
  env_.LoadScript("x.lua", true);
  EXPECT_EQ(Eval("joined"), "true");
}

TEST_F(ScriptTree, AFailingScriptIsLoggedAndLeavesTheStackAsItWas) {
  Write("bad.lua", "before = 1\nerror('broken on purpose')\n");
  Write("syntax.lua", "this is not lua\n");
  lua_pushinteger(L, 5);
  const int top = lua_gettop(L);
  log_.SetLevel(Base::TraceLevel_Warning);
  env_.LoadScript(Name("bad.lua").c_str(), false);
  env_.LoadScript(Name("syntax.lua").c_str(), false);
  EXPECT_EQ(lua_gettop(L), top);
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  const std::string log = Take();
  SCOPED_TRACE(log);
  // Lua shortens long chunk names from the front; the line ends with the file's own name and the error.
  EXPECT_EQ(log.rfind("[ Error ][Lua] Failed to load lua script ", 0), 0u);
  EXPECT_NE(log.find("/bad.lua:2: broken on purpose\n[ Error ][Lua] Failed to load lua script "), std::string::npos);
  EXPECT_NE(log.find("/syntax.lua:1: '=' expected near 'is'\n"), std::string::npos);
  EXPECT_EQ(Number("before"), 1);
}

TEST_F(ScriptTree, ScriptsLoadScriptsThroughTheInterface) {
  const size_t before = env_.GetLoadedScripts().size();
  Write("first.lua", "interface:LoadScript('" + Name("second.lua") + "', false)\n");
  Write("second.lua", "second = true\ninterface:LoadScript('" + Name("first.lua") + "', false)\n");
  env_.LoadScript(Name("first.lua").c_str(), false);
  EXPECT_EQ(Eval("second"), "true");
  EXPECT_EQ(env_.GetLoadedScripts().size(), before + 2);
}

TEST(LuaEnvironment, CloseThenInitRunsScriptsAgain) {
  Lua::Environment env;
  env.Init();
  env.PostInit();
  env.Close();
  EXPECT_FALSE(env.IsInitialized());
  env.Init();
  env.PostInit();
  lua_getfield(env.GetState(), LUA_GLOBALSINDEX, "Vector3");
  EXPECT_TRUE(lua_istable(env.GetState(), -1));
  lua_pop(env.GetState(), 1);
}

}  // namespace
