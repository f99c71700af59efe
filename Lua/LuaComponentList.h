// The script component types the scripts announce (interface:SendLuaComponentList): each type's name
// and its members with their display names and type numbers, kept for tools and the engine to read.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <lua.hpp>

namespace Lua {

struct LuaMemberData {
  std::string Name;
  std::string DisplayName;
  int Type = 0;
};

struct LuaComponentData {
  std::string name;
  std::map<std::string, LuaMemberData> members;  // by member name
};

class LuaComponentRegistry {
 public:
  static LuaComponentRegistry& GetInstance();

  // Replaces the registry with the list table at `index`: an array of {Name, Members = {{Name,
  // DisplayName, Type}, ...}}. Every entry that is there is read whatever `count` claims; malformed
  // entries are skipped with a warning. Never raises a Lua error.
  void ReadList(lua_State* state, int count, int index);
  void Clear();

  const std::vector<LuaComponentData>& GetComponents() const { return m_components; }
  // The record a name points at (the last one sent under that name), or null.
  const LuaComponentData* Find(std::string_view name) const;

 private:
  std::vector<LuaComponentData> m_components;
  std::unordered_map<std::string, size_t> m_index;
};

}  // namespace Lua
