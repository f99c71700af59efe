// Engine -> Lua: calls of script functions by dotted or colon name under a logging message handler.
#include <iostream>

#include "Lua/Convert.h"
#include "Lua/Environment.h"
#include "Lua/Log.h"
#include "Lua/Lookup.h"

namespace Lua {

int Environment::PushFunctionByName(const char* name, std::string_view* lastName, bool* isMethod) {
  lua_State* state = m_state;
  const int base = lua_gettop(state) + 1;
  const std::string_view full = name ? name : "";
  std::string_view rest = full;
  int container = LUA_GLOBALSINDEX;
  int containerType = LUA_TTABLE;
  int count = 0;
  bool method = false;

  for (;;) {
    if (rest.empty()) {
      LUA_LOG(Error, "THIS SHOULDN'T HAPPEN!");
      lua_settop(state, base - 1);
      return 0;
    }
    // '.' is looked for first in the whole remainder, so "a:b.c" reads the field "a:b" first.
    size_t cut = rest.find('.');
    bool colon = false;
    if (cut == std::string_view::npos) {
      cut = rest.find(':');
      colon = cut != std::string_view::npos;
    }

    if (cut == std::string_view::npos) {
      if (lastName) *lastName = rest;
      if (isMethod) *isMethod = method;
      GetFieldOfType(state, container, containerType, rest.data(), rest.size());  // nil fails inside the call
      ++count;
      if (method) {
        lua_pushvalue(state, container);
        ++count;
      }
      return count;
    }

    const std::string_view segment = rest.substr(0, cut);
    const int type = GetFieldOfType(state, container, containerType, segment.data(), segment.size());
    ++count;
    if (type != LUA_TTABLE && type != LUA_TUSERDATA) {
      ReportUncallable(name, full.substr(0, size_t(segment.data() - full.data()) + segment.size()), type);
      lua_settop(state, base - 1);
      return 0;
    }
    container = base + count - 1;
    containerType = type;
    method = method || colon;
    rest = rest.substr(cut + 1);
  }
}

void Environment::ReportUncallable(const char* name, std::string_view path, int luaType) {
  // Per-frame callers ("gui.Draw", "skynet:Update") would repeat this every frame: once per name.
  if (!m_reportedNames.insert(name).second) return;
  LUA_LOG(Warning, "Couldn't call lua function %s: %.*s is %s, not a table", name, int(path.size()), path.data(),
          lua_typename(m_state, luaType));
}

bool Environment::CallFunction(const char* name, const Variant* args, unsigned argCount, Variant* result) {
  lua_State* state = m_state;
  if (!state || !name) {
    if (m_reportedNames.insert(name ? name : "").second)
      LUA_LOG(Warning, "Couldn't call lua function %s: there is no lua state", name ? name : "");
    return false;
  }
  const int top = lua_gettop(state);
  lua_rawgeti(state, LUA_REGISTRYINDEX, m_handlerRef);
  bool isMethod = false;
  const int pushed = PushFunctionByName(name, nullptr, &isMethod);
  if (pushed == 0) {
    lua_settop(state, top);
    return false;
  }
  // A function no script defines (its script did not load) fails the same way on every call: the error
  // names it, once.
  if (lua_isnil(state, top + 1 + pushed - (isMethod ? 1 : 0))) {
    LUA_LOG_EACH(Error, "Lua error: attempt to call a nil value: %s, which the engine calls, is defined by no script "
                 "(see the script errors above)", name);
    lua_settop(state, top);
    return false;
  }
  for (unsigned i = 0; i < argCount; ++i) PushVariant(state, args[i]);
  const int status =
      lua_pcall(state, static_cast<int>(argCount) + (isMethod ? 1 : 0), result ? 1 : 0, top + 1);
  // After an error the value on top is the error, not a result: the result keeps what it held.
  if (status == 0 && result) {
    if (result->type && !result->type->isPointer && result->data)
      ReadInto(state, -1, result->type, result->data);
    else
      ReadVariant(state, -1, *result);
  }
  lua_settop(state, top);
  return status == 0;
}

bool Environment::Defines(const char* name) {
  lua_State* state = m_state;
  if (!state || !name) return false;
  const int top = lua_gettop(state);
  std::string_view rest = name;
  int container = LUA_GLOBALSINDEX;
  int type = LUA_TTABLE;
  while (type == LUA_TTABLE) {
    const size_t cut = rest.find('.');
    const std::string_view segment = rest.substr(0, cut);
    type = GetFieldOfType(state, container, type, segment.data(), segment.size());
    container = lua_gettop(state);
    if (cut == std::string_view::npos) break;
    rest = rest.substr(cut + 1);
    if (type != LUA_TTABLE) type = LUA_TNIL;
  }
  lua_settop(state, top);
  return type == LUA_TFUNCTION;
}

int Environment::ErrorHandler(lua_State* state) {
  const int height = lua_gettop(state);
  if (!lua_isstring(state, 1)) return 1;  // tables and other error objects pass through unlogged
  try {
    lua_pushliteral(state, "debug");
    lua_rawget(state, LUA_GLOBALSINDEX);
    if (lua_istable(state, -1)) {
      lua_pushliteral(state, "traceback");
      lua_rawget(state, -2);
      if (lua_isfunction(state, -1)) {
        lua_pushvalue(state, 1);
        lua_pushinteger(state, 2);
        lua_call(state, 2, 1);
        const char* text = lua_tostring(state, -1);
        LUA_LOG_EACH(Error, "Lua error: %s", text ? text : "");
      }
    }
  } catch (...) {
    if (IsLuaErrorInFlight()) throw;
    LUA_LOG(Error, "Exception thrown while handling lua error");
    StackDump(state);
  }
  lua_settop(state, height);
  return 1;
}

void Environment::StackDump(lua_State* state) {
  const int height = lua_gettop(state);
  std::cout << "\n=== Lua Stack Dump ===\n"
            << "   Sizeof stack: " << height << "\n";
  for (int i = 1; i <= height; ++i) {
    std::cout << "  " << i << ": ";
    switch (lua_type(state, i)) {
      case LUA_TSTRING:
        std::cout << '"' << lua_tostring(state, i) << '"';
        break;
      case LUA_TBOOLEAN:
        std::cout << (lua_toboolean(state, i) ? 1 : 0);
        break;
      case LUA_TNUMBER:
        std::cout << lua_tonumber(state, i);
        break;
      default:
        std::cout << lua_typename(state, lua_type(state, i));
        break;
    }
    std::cout << "\n";
  }
  std::cout << "=== End Lua Dump ===\n";
  std::cout.flush();
}

}  // namespace Lua
