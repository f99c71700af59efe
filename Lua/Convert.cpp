// The conversion entry points and the converters of script vectors and member tables.
#include "Lua/Convert.h"

#include <unordered_map>

#include "Base/Vector.h"
#include "Lua/Log.h"
#include "Lua/Lookup.h"

namespace Lua {
namespace {

const char* NameOf(const TypeInfo* type) { return type && !type->name.empty() ? type->name.c_str() : "?"; }

const char* LuaTypeName(lua_State* state, int index) { return lua_typename(state, lua_type(state, index)); }

// Calls _R[constructorTable].new(components...) under the message handler; exactly one value remains.
void PushScriptVector(lua_State* state, const char* constructorTable, const float* components, int count,
                      const TypeInfo* type) {
  const int top = lua_gettop(state);
  PushErrorHandler(state);
  const bool found = GetField(state, LUA_GLOBALSINDEX, "_R") == LUA_TTABLE &&
                     GetField(state, -1, constructorTable) == LUA_TTABLE &&
                     GetField(state, -1, "new") == LUA_TFUNCTION;
  if (!found) {
    LUA_LOG(Warning, "Couldn't find _R.%s.new when sending %s to lua", constructorTable, NameOf(type));
    lua_settop(state, top);
    lua_pushnil(state);
    return;
  }
  for (int i = 0; i < count; ++i) lua_pushnumber(state, components[i]);
  if (lua_pcall(state, count, 1, top + 1) != 0) {
    lua_settop(state, top);  // the handler has logged it; an error text is no vector
    lua_pushnil(state);
    return;
  }
  lua_replace(state, top + 1);
  lua_settop(state, top + 1);
}

void ReadScriptVector(lua_State* state, int index, const TypeInfo* type, float* components, int count) {
  static const char* const kNames[] = {"x", "y", "z"};
  for (int i = 0; i < count; ++i) components[i] = 0.0f;
  if (!lua_istable(state, index)) {
    WarnWrongType(state, index, type);
    return;
  }
  for (int i = 0; i < count; ++i) {
    GetFieldOfType(state, index, LUA_TTABLE, kNames[i], 1);
    components[i] = static_cast<float>(lua_tonumber(state, -1));
  }
  lua_pop(state, count);
}

}  // namespace

namespace {

std::unordered_map<const TypeInfo*, NullPushFn>& NullPushes() {
  static std::unordered_map<const TypeInfo*, NullPushFn> pushes;
  return pushes;
}

}  // namespace

void SetNullPush(const TypeInfo* type, NullPushFn push) { NullPushes()[type] = push; }

void PushVariant(lua_State* state, const Variant& value) {
  if (!value.data || !value.type) {
    const auto found = value.type ? NullPushes().find(value.type) : NullPushes().end();
    if (found != NullPushes().end())
      found->second(state);
    else
      lua_pushnil(state);
    return;
  }
  if (value.type->toLua)
    value.type->toLua(state, value);
  else
    PushObjectReference(state, value);
}

void ReadVariant(lua_State* state, int index, Variant& value) {
  index = AbsIndex(state, index);
  if (value.type && value.type->fromLua)
    value.type->fromLua(state, index, value);
  else
    ReadObjectReference(state, index, value);
}

void ReadInto(lua_State* state, int index, const TypeInfo* type, void* storage) {
  if (!type || !storage || type->isDirect) return;
  if (type->isPointer) {
    Variant object(type, nullptr);
    ReadVariant(state, index, object);
    *static_cast<void**>(storage) = object.data;
    return;
  }
  Variant value(type, storage);
  ReadVariant(state, index, value);
  if (value.data && value.data != storage && type->Assign) type->Assign(storage, value.data);
}

void WarnMismatch(lua_State* state, int index, const TypeInfo* type) {
  LUA_LOG(Warning, "Mismatched argument type lua->C++ (Attempted %s -> %s)?", LuaTypeName(state, index),
          NameOf(type));
}

void WarnWrongType(lua_State* state, int index, const TypeInfo* type) {
  LUA_LOG(Warning, "Wrong argument type lua->C++ (Attempted %s -> %s)?", LuaTypeName(state, index), NameOf(type));
}

void PushVector2(lua_State* state, const Variant& value) {
  const auto& vector = *static_cast<const Base::Vec2*>(value.data);
  const float components[] = {vector.x, vector.y};
  PushScriptVector(state, "__Vector2_MT", components, 2, value.type);
}

void PushVector3(lua_State* state, const Variant& value) {
  const auto& vector = *static_cast<const Base::Vec3*>(value.data);
  const float components[] = {vector.x, vector.y, vector.z};
  PushScriptVector(state, "__Vector3_MT", components, 3, value.type);
}

void ReadVector2(lua_State* state, int index, Variant& value) {
  float components[2];
  ReadScriptVector(state, index, value.type, components, 2);
  if (value.data) *static_cast<Base::Vec2*>(value.data) = Base::Vec2(components[0], components[1]);
}

void ReadVector3(lua_State* state, int index, Variant& value) {
  float components[3];
  ReadScriptVector(state, index, value.type, components, 3);
  if (value.data) *static_cast<Base::Vec3*>(value.data) = Base::Vec3(components[0], components[1], components[2]);
}

void PushMembersToTable(lua_State* state, const Variant& value) {
  const auto& members = value.type->members;
  lua_createtable(state, 0, static_cast<int>(members.size()));
  for (const Base::Reflection::Member& member : members) {
    PushVariant(state, member.GetVariant(value.data));
    lua_setfield(state, -2, member.name);
  }
}

void ReadMembersFromTable(lua_State* state, int index, Variant& value) {
  if (!value.data) return;
  if (!lua_istable(state, index)) {
    WarnWrongType(state, index, value.type);
    return;
  }
  for (const Base::Reflection::Member& member : value.type->members) {
    GetField(state, index, member.name);
    if (!lua_isnil(state, -1)) ReadInto(state, -1, member.type, static_cast<char*>(value.data) + member.offset);
    lua_pop(state, 1);
  }
}

}  // namespace Lua
