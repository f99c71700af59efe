// Cost of the Lua binding in both directions, each against the hand-written Lua C API code doing the
// same work: a bound method called from a script (one Vec3 argument, one float result) against a
// lua_CFunction bound beside it on the same metatable, and CallFunction("Hook:Call", a, b) against a
// raw lua_pcall of the same function.
#include <benchmark/benchmark.h>

#include <cmath>

#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "Lua/Environment.h"
#include "Lua/Userdata.h"

namespace LuaBench {

struct Body {
  float scale = 1.0f;
  [[gnu::noinline]] float Length(Base::Vec3 v) const { return scale * std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
};

// The same work by hand: the object from its userdata, the vector's three fields, the call, the result.
int HandLength(lua_State* state) {
  const Lua::Variant object = Lua::ToEngineObject(state, 1);
  if (!object.data || !lua_istable(state, 2)) return 0;
  lua_getfield(state, 2, "x");
  lua_getfield(state, 2, "y");
  lua_getfield(state, 2, "z");
  const Base::Vec3 v(float(lua_tonumber(state, -3)), float(lua_tonumber(state, -2)), float(lua_tonumber(state, -1)));
  lua_pop(state, 3);
  lua_pushnumber(state, static_cast<const Body*>(object.data)->Length(v));
  return 1;
}

constexpr int kCallsPerRun = 1000;

// One environment for the whole run, with the engine's scripts, a body and a trivial Hook.
Lua::Environment& Scripted() {
  static Lua::Environment& env = [] () -> Lua::Environment& {
    static Lua::Environment instance;
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Warning);
    instance.Init();
    instance.PostInit();
    static Body body;
    instance.SetGlobal("body", Lua::Variant(Base::Reflection::TypeOf<Body*>(), &body));
    lua_State* state = instance.GetState();
    lua_getfield(state, LUA_REGISTRYINDEX, "Body");
    lua_pushcfunction(state, &HandLength);
    lua_setfield(state, -2, "HandLength");
    lua_pop(state, 1);
    luaL_dostring(state, R"(
      Hook = {}
      function Hook:Call(event, value) end
      local v = Vector3.new(1, 2, 3)
      function RunBound(n) local s = 0 for i = 1, n do s = s + body:Length(v) end return s end
      function RunHand(n) local s = 0 for i = 1, n do s = s + body:HandLength(v) end return s end
    )");
    return instance;
  }();
  return env;
}

void RunLoop(benchmark::State& state, const char* function) {
  lua_State* lua = Scripted().GetState();
  for (auto _ : state) {
    lua_getglobal(lua, function);
    lua_pushinteger(lua, kCallsPerRun);
    lua_call(lua, 1, 1);
    benchmark::DoNotOptimize(lua_tonumber(lua, -1));
    lua_pop(lua, 1);
  }
  state.SetItemsProcessed(state.iterations() * kCallsPerRun);
}

}  // namespace LuaBench

ORV_REFLECT_CLASS(LuaBench::Body) { ORV_METHOD(Length); }

static void BoundMethodFromLua(benchmark::State& state) { LuaBench::RunLoop(state, "RunBound"); }
BENCHMARK(BoundMethodFromLua);

static void HandWrittenCFunctionFromLua(benchmark::State& state) { LuaBench::RunLoop(state, "RunHand"); }
BENCHMARK(HandWrittenCFunctionFromLua);

static void CallFunctionHookCall(benchmark::State& state) {
  Lua::Environment& env = LuaBench::Scripted();
  const float dt = 0.016f;
  for (auto _ : state) benchmark::DoNotOptimize(env.Call("Hook:Call", "FrameStep", dt));
}
BENCHMARK(CallFunctionHookCall);

static void RawPcallHookCall(benchmark::State& state) {
  lua_State* lua = LuaBench::Scripted().GetState();
  // The same protection: a message handler kept in the registry.
  lua_pushcfunction(lua, &Lua::Environment::ErrorHandler);
  const int handler = luaL_ref(lua, LUA_REGISTRYINDEX);
  const float dt = 0.016f;
  for (auto _ : state) {
    const int top = lua_gettop(lua);
    lua_rawgeti(lua, LUA_REGISTRYINDEX, handler);
    lua_getfield(lua, LUA_GLOBALSINDEX, "Hook");
    lua_getfield(lua, -1, "Call");
    lua_pushvalue(lua, -2);
    lua_pushstring(lua, "FrameStep");
    lua_pushnumber(lua, dt);
    benchmark::DoNotOptimize(lua_pcall(lua, 3, 0, top + 1));
    lua_settop(lua, top);
  }
  luaL_unref(lua, LUA_REGISTRYINDEX, handler);
}
BENCHMARK(RawPcallHookCall);
