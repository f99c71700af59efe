// Reading the scripts' list of component types, and its binding as interface:SendLuaComponentList.
#include "Lua/LuaComponentList.h"

#include <cmath>
#include <limits>

#include "Base/FunctionRegistry.h"
#include "Base/Reflection/Registration.h"
#include "Lua/Environment.h"
#include "Lua/Log.h"

namespace Lua {
namespace {

// Raw reads only: a script's metatable on the list must not raise errors inside engine frames.
void RawField(lua_State* state, int table, const char* key) {
  lua_pushstring(state, key);
  lua_rawget(state, table);
}

std::string StringField(lua_State* state, int table, const char* key) {
  RawField(state, table, key);
  std::string text;
  if (lua_type(state, -1) == LUA_TSTRING) {
    size_t length = 0;
    const char* chars = lua_tolstring(state, -1, &length);
    text.assign(chars, length);
  }
  lua_pop(state, 1);
  return text;
}

int IntField(lua_State* state, int table, const char* key) {
  RawField(state, table, key);
  const lua_Number number = lua_type(state, -1) == LUA_TNUMBER ? lua_tonumber(state, -1) : 0;
  lua_pop(state, 1);
  if (!std::isfinite(number)) return 0;
  const lua_Number truncated = std::trunc(number);
  if (truncated < std::numeric_limits<int>::min() || truncated > std::numeric_limits<int>::max()) return 0;
  return static_cast<int>(truncated);
}

void ReadMembers(lua_State* state, int component, LuaComponentData& record) {
  RawField(state, component, "Members");
  const int members = lua_gettop(state);
  if (lua_type(state, members) == LUA_TTABLE) {
    const int count = static_cast<int>(lua_objlen(state, members));
    for (int j = 1; j <= count; ++j) {
      lua_rawgeti(state, members, j);
      const int member = lua_gettop(state);
      if (lua_type(state, member) == LUA_TTABLE) {
        LuaMemberData data{StringField(state, member, "Name"), StringField(state, member, "DisplayName"),
                           IntField(state, member, "Type")};
        const std::string name = data.Name;
        record.members[name] = std::move(data);
      } else {
        LUA_LOG(Warning, "Lua component %s: member %d is a %s, not a table; skipped", record.name.c_str(), j,
                lua_typename(state, lua_type(state, member)));
      }
      lua_pop(state, 1);
    }
  } else if (!lua_isnil(state, members)) {
    LUA_LOG(Warning, "Lua component %s: its Members are a %s, not a table", record.name.c_str(),
            lua_typename(state, lua_type(state, members)));
  }
  lua_pop(state, 1);
}

void SendLuaComponentListThunk(Base::Reflection::Variant*, void* object, Base::Reflection::Variant* args,
                               unsigned argCount) {
  if (argCount != 2 || !object || !args || !args[0].data) {
    LUA_LOG(Error, "Wrong argument count calling function SendLuaComponentList from lua");
    return;
  }
  static_cast<Environment*>(object)->HandleLuaComponentList(*static_cast<int*>(args[0].data), 0);
}

// The list parameter's record: it keeps the table's place in the signature and reads nothing (the
// list is taken from the stack), so a table there is neither converted nor warned about.
Base::Reflection::TypeInfo* ListPlaceholder() {
  static Base::Reflection::TypeInfo record;
  if (record.name.empty()) {
    record.Init("LuaComponentList", 0);
    record.fromLua = [](lua_State*, int, Variant&) {};
  }
  return &record;
}

}  // namespace

// The list is the last argument of the call.
void Environment::HandleLuaComponentList(int count, int) {
  if (!m_state) return;
  LuaComponentRegistry::GetInstance().ReadList(m_state, count, lua_gettop(m_state));
}

LuaComponentRegistry& LuaComponentRegistry::GetInstance() {
  static LuaComponentRegistry instance;
  return instance;
}

void LuaComponentRegistry::Clear() {
  m_components.clear();
  m_index.clear();
}

const LuaComponentData* LuaComponentRegistry::Find(std::string_view name) const {
  const auto found = m_index.find(std::string(name));
  return found == m_index.end() ? nullptr : &m_components[found->second];
}

void LuaComponentRegistry::ReadList(lua_State* state, int count, int index) {
  Clear();
  if (lua_type(state, index) != LUA_TTABLE) {
    LUA_LOG(Warning, "SendLuaComponentList expects a table of components, got a %s",
            lua_typename(state, lua_type(state, index)));
  } else {
    const int list = index > 0 ? index : lua_gettop(state) + index + 1;
    const int entries = static_cast<int>(lua_objlen(state, list));
    if (count != entries)
      LUA_LOG(Warning, "SendLuaComponentList was told of %d components but the list holds %d", count, entries);
    for (int i = 1; i <= entries; ++i) {
      lua_rawgeti(state, list, i);
      const int component = lua_gettop(state);
      LuaComponentData record;
      if (lua_type(state, component) == LUA_TTABLE) record.name = StringField(state, component, "Name");
      if (record.name.empty()) {
        LUA_LOG(Warning, "Lua component entry %d has no name; skipped", i);
      } else {
        ReadMembers(state, component, record);
        m_index[record.name] = m_components.size();
        m_components.push_back(std::move(record));
      }
      lua_pop(state, 1);
    }
  }
  LUA_LOG(Verbose, "Updated Lua Component data in C++ for %d components.", static_cast<int>(m_components.size()));
}

}  // namespace Lua

// interface:SendLuaComponentList(count, list), a method of the environment for scripts. The second
// parameter only holds the list's place in the signature; the list itself is read from the Lua stack. (This
// file sorts after Environment.cpp, so the environment's type is registered first.)
ORV_ON_LOAD {
  using Base::Reflection::TypeOf;
  static Base::Reflection::TypeInfo* const kArgs[] = {TypeOf<int>(), Lua::ListPlaceholder()};
  static Base::Function function(Base::Signature(nullptr, kArgs, TypeOf<Lua::Environment>(), 2),
                                 &Lua::SendLuaComponentListThunk, "Lua::Environment::HandleLuaComponentList");
  Base::RegisterBinding(function, "Lua::Environment::HandleLuaComponentList", "SendLuaComponentList",
                        Base::Reflection::QuotedDescription("Sends list of Lua Components to C++ side").c_str());
}
