// Protected field reads of script values and the cached message handler.
#include "Lua/Lookup.h"

#include <exception>

#include "Lua/Environment.h"

namespace Lua {
namespace {

// Scripts can build __index chains of any length, loops included; a read gives up past this depth.
constexpr int kMaxIndexDepth = 100;

// Registry keys: the addresses of these objects, pushed as light userdata.
const char kErrorHandlerKey = 0;

// Finishes a lookup: the value on top replaces the key slot and everything above it goes.
int Finish(lua_State* state, int keySlot) {
  lua_replace(state, keySlot);
  lua_settop(state, keySlot);
  return lua_type(state, keySlot);
}

int Fail(lua_State* state, int keySlot) {
  lua_settop(state, keySlot - 1);
  lua_pushnil(state);
  return LUA_TNIL;
}

// The general case: __index chains of tables walked raw, an __index function run protected.
int GetFieldSlow(lua_State* state, int container, const char* key, size_t length) {
  lua_pushlstring(state, key, length);
  const int keySlot = lua_gettop(state);
  lua_pushvalue(state, container);
  const int objectSlot = keySlot + 1;

  for (int depth = 0; depth < kMaxIndexDepth; ++depth) {
    const int type = lua_type(state, objectSlot);
    if (type == LUA_TTABLE) {
      lua_pushvalue(state, keySlot);
      lua_rawget(state, objectSlot);
      if (!lua_isnil(state, -1)) return Finish(state, keySlot);
      lua_pop(state, 1);
    } else if (type != LUA_TUSERDATA) {
      return Fail(state, keySlot);  // numbers, strings, nil, functions: nothing a script object holds
    }

    if (!lua_getmetatable(state, objectSlot)) return Fail(state, keySlot);
    lua_pushliteral(state, "__index");
    lua_rawget(state, -2);
    const int handlerType = lua_type(state, -1);
    if (handlerType == LUA_TTABLE) {
      lua_replace(state, objectSlot);
      lua_settop(state, objectSlot);
      continue;
    }
    if (handlerType == LUA_TFUNCTION) {
      // A computed field: run it protected, as f(object, key).
      PushErrorHandler(state);
      lua_insert(state, -2);
      const int handlerSlot = lua_gettop(state) - 1;
      lua_pushvalue(state, objectSlot);
      lua_pushvalue(state, keySlot);
      if (lua_pcall(state, 2, 1, handlerSlot) != 0) return Fail(state, keySlot);
      return Finish(state, keySlot);
    }
    return Fail(state, keySlot);  // a plain miss, or an __index that is neither table nor function
  }
  return Fail(state, keySlot);
}

}  // namespace

int GetField(lua_State* state, int container, const char* key, size_t length) {
  container = AbsIndex(state, container);
  return GetFieldOfType(state, container, lua_type(state, container), key, length);
}

int GetFieldOfType(lua_State* state, int container, int containerType, const char* key, size_t length) {
  // Fast path: a raw field of a table (a script vector's x, a library's function).
  if (containerType == LUA_TTABLE) {
    lua_pushlstring(state, key, length);
    lua_rawget(state, container);
    const int type = lua_type(state, -1);
    if (type != LUA_TNIL) return type;
    lua_pop(state, 1);
  } else if (containerType != LUA_TUSERDATA) {
    lua_pushnil(state);
    return LUA_TNIL;
  }
  return GetFieldSlow(state, container, key, length);
}

void PushErrorHandler(lua_State* state) {
  lua_pushlightuserdata(state, const_cast<char*>(&kErrorHandlerKey));
  lua_rawget(state, LUA_REGISTRYINDEX);
  if (lua_isfunction(state, -1)) return;
  lua_pop(state, 1);
  lua_pushcfunction(state, &Environment::ErrorHandler);
  lua_pushlightuserdata(state, const_cast<char*>(&kErrorHandlerKey));
  lua_pushvalue(state, -2);
  lua_rawset(state, LUA_REGISTRYINDEX);
}

bool IsLuaErrorInFlight() {
  // The C++ runtime cannot hold a foreign exception in an exception_ptr, so inside a catch-all an
  // empty current_exception means the unwinding error came from Lua.
  return !std::current_exception();
}

}  // namespace Lua
