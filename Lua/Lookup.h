// Reading fields of script values from C++ without letting a Lua error escape into engine frames.
#pragma once

#include <cstddef>
#include <cstring>

#include <lua.hpp>

namespace Lua {

// A stack index that stays valid while values are pushed (pseudo-indices are kept as they are).
inline int AbsIndex(lua_State* state, int index) {
  return (index > 0 || index <= LUA_REGISTRYINDEX) ? index : lua_gettop(state) + index + 1;
}

// Pushes container[key] as a script's `container.key` would read it. Raw fields and chains of
// __index tables are walked without metamethod calls; an __index function runs in protected mode
// under the environment's message handler. Pushes exactly one value and returns its Lua type:
// LUA_TNIL when the field is missing, the container cannot be indexed or the lookup raised an error.
int GetField(lua_State* state, int container, const char* key, size_t length);
inline int GetField(lua_State* state, int container, const char* key) {
  return GetField(state, container, key, std::strlen(key));
}
// The same for a caller that knows the container's absolute index and Lua type (hot paths).
int GetFieldOfType(lua_State* state, int container, int containerType, const char* key, size_t length);

// Pushes the message handler every protected call of the engine runs under
// (Environment::ErrorHandler), cached in the registry so that no closure is made per call.
void PushErrorHandler(lua_State* state);

// True while the exception being handled was thrown by Lua (a foreign exception on this platform):
// a catch-all must rethrow it so that the Lua error reaches its own protected call.
bool IsLuaErrorInFlight();

}  // namespace Lua
