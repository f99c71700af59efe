// Reference and value userdata of engine objects, their type checks, fields and finalizers.
#include "Lua/Userdata.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "Lua/Log.h"

namespace Lua {
namespace {

constexpr size_t kValueAlign = alignof(std::max_align_t);
constexpr int kMaxSubclassDepth = 16;

// Its address marks engine metatables (metatable[light userdata] = true).
const char kEngineMetatableKey = 0;

// The first word of every engine userdata says which kind it is.
enum Tag : uint32_t { kReferenceTag = 0x52454631u, kValueTag = 0x56414C31u };

struct ReferenceBlock {
  uint32_t tag;
  Variant object;
  LifeProof proof;
};

struct ValueHeader {
  uint32_t tag;
  const TypeInfo* type;
};

ProveFn g_prove = nullptr;

void* ValueAddress(void* block) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(block) + sizeof(ValueHeader);
  return reinterpret_cast<void*>((address + kValueAlign - 1) & ~uintptr_t(kValueAlign - 1));
}

struct ObjectField {
  const TypeInfo* type;
  std::string key;
  ObjectFieldFn push;
};

std::vector<ObjectField>& ObjectFields() {
  static std::vector<ObjectField> fields;
  return fields;
}

struct Subclass {
  const TypeInfo* derived;
  const TypeInfo* base;
  UpcastFn upcast;
};

std::vector<Subclass>& Subclasses() {
  static std::vector<Subclass> subclasses;
  return subclasses;
}

// T and T* share a metatable name and are one class to scripts. Unregistered records (no name) match
// nothing but themselves.
bool SameClass(const TypeInfo* a, const TypeInfo* b) {
  return a == b || (!a->metatableName.empty() && a->metatableName == b->metatableName);
}

// Whether an object of `from` may be used as `to`; *object is adjusted to the `to` part.
bool Convertible(const TypeInfo* from, const TypeInfo* to, void** object, int depth = 0) {
  if (SameClass(from, to)) return true;
  if (depth >= kMaxSubclassDepth) return false;
  for (const Subclass& entry : Subclasses()) {
    if (!SameClass(entry.derived, from)) continue;
    void* part = entry.upcast(*object);
    if (Convertible(entry.base, to, &part, depth + 1)) {
      *object = part;
      return true;
    }
  }
  return false;
}

// For a value already known to be a full userdata.
bool HasEngineMetatable(lua_State* state, int index) {
  if (!lua_getmetatable(state, index)) return false;
  lua_pushlightuserdata(state, const_cast<char*>(&kEngineMetatableKey));
  lua_rawget(state, -2);
  const bool ours = lua_toboolean(state, -1) != 0;
  lua_pop(state, 2);
  return ours;
}

const char* NameOf(const TypeInfo* type) { return type && !type->name.empty() ? type->name.c_str() : "?"; }
// The class as scripts know it: T and T* alike ("GameObject").
const char* ClassOf(const TypeInfo* type) {
  return type && !type->metatableName.empty() ? type->metatableName.c_str() : NameOf(type);
}

// ToEngineObject for a value already known to be a full userdata.
Variant EngineObjectOf(lua_State* state, int index) {
  if (!HasEngineMetatable(state, index)) return Variant();
  void* block = lua_touserdata(state, index);
  const size_t length = lua_objlen(state, index);
  uint32_t tag = 0;
  if (length >= sizeof(tag)) std::memcpy(&tag, block, sizeof(tag));
  if (tag == kReferenceTag && length == sizeof(ReferenceBlock)) {
    const auto* reference = static_cast<const ReferenceBlock*>(block);
    Variant object = reference->object;
    const LifeProof& proof = reference->proof;
    if (proof.find) {
      object.data = proof.find(proof.first, proof.second);
      if (!object.data) LUA_LOG(Error, "Attempted to use a %s that no longer exists from lua", ClassOf(object.type));
    }
    return object;
  }
  if (tag == kValueTag && length > sizeof(ValueHeader)) {
    Variant object;
    object.type = static_cast<ValueHeader*>(block)->type;
    object.data = ValueAddress(block);
    return object;
  }
  return Variant();
}

// Shared by both readers: any engine userdata of a compatible type, else a logged null.
void ReadEngineObject(lua_State* state, int index, Variant& value) {
  const TypeInfo* expected = value.type;
  if (lua_type(state, index) != LUA_TUSERDATA) {
    LUA_LOG(Warning,
            "Invalid type (%s) found when getting variable from lua: Try using :Func() instead of .Func()",
            lua_typename(state, lua_type(state, index)));
    value.data = nullptr;
    return;
  }
  Variant object = EngineObjectOf(state, index);
  if (!object.type) {
    LUA_LOG(Warning, "Userdata that is not an engine object found when getting %s from lua", NameOf(expected));
    value.data = nullptr;
    return;
  }
  if (!object.data) {  // gone, and logged: nothing may act on it, not even as a null object
    value = Variant();
    return;
  }
  if (expected && !Convertible(object.type, expected, &object.data)) {
    LUA_LOG(Warning, "Mismatched object type lua->C++ (Attempted %s -> %s)?", NameOf(object.type),
            NameOf(expected));
    value.data = nullptr;
    return;
  }
  value = object;
}

int FinalizeValue(lua_State* state) {
  void* block = lua_touserdata(state, 1);
  if (!block || lua_objlen(state, 1) <= sizeof(ValueHeader)) return 0;
  uint32_t tag;
  std::memcpy(&tag, block, sizeof(tag));
  if (tag != kValueTag) return 0;  // a reference: Lua owns nothing
  const TypeInfo* type = static_cast<ValueHeader*>(block)->type;
  if (type && type->PlacementDelete) type->PlacementDelete(ValueAddress(block));
  return 0;
}

// __index of metatables with object fields. Upvalue 1: the metatable (methods); upvalue 2: key ->
// light userdata of the field's ObjectFieldFn.
int IndexWithFields(lua_State* state) {
  lua_pushvalue(state, 2);
  lua_rawget(state, lua_upvalueindex(1));
  if (!lua_isnil(state, -1)) return 1;
  lua_pop(state, 1);
  lua_pushvalue(state, 2);
  lua_rawget(state, lua_upvalueindex(2));
  void* field = lua_touserdata(state, -1);
  lua_pop(state, 1);
  const Variant object = ToEngineObject(state, 1);
  if (field && object.data) {
    reinterpret_cast<ObjectFieldFn>(field)(state, object);
    return 1;
  }
  lua_pushnil(state);
  return 1;
}

}  // namespace

void PushMetatable(lua_State* state, const TypeInfo* type) {
  lua_getfield(state, LUA_REGISTRYINDEX, type ? type->metatableName.c_str() : "");
}

void MarkEngineMetatable(lua_State* state, int index) {
  lua_pushlightuserdata(state, const_cast<char*>(&kEngineMetatableKey));
  lua_pushboolean(state, 1);
  lua_rawset(state, index > 0 || index <= LUA_REGISTRYINDEX ? index : index - 2);
}

Variant ToEngineObject(lua_State* state, int index) {
  return lua_type(state, index) == LUA_TUSERDATA ? EngineObjectOf(state, index) : Variant();
}

void SetLifeProver(ProveFn prove) { g_prove = prove; }

void PushObjectReference(lua_State* state, const Variant& value) {
  if (!value.data) {
    lua_pushnil(state);
    return;
  }
  LifeProof proof;
  if (g_prove && g_prove(value, proof) == Proof::Impossible) {
    LUA_LOG(Warning, "Couldn't send %s to lua: it belongs to no live game space", NameOf(value.type));
    lua_pushnil(state);
    return;
  }
  ::new (lua_newuserdata(state, sizeof(ReferenceBlock))) ReferenceBlock{kReferenceTag, value, proof};
  PushMetatable(state, value.type);
  if (!lua_istable(state, -1)) {
    LUA_LOG(Warning, "Couldn't find valid meta table when sending %s to lua", NameOf(value.type));
    lua_pop(state, 2);
    lua_pushnil(state);
    return;
  }
  lua_setmetatable(state, -2);
}

void ReadObjectReference(lua_State* state, int index, Variant& value) { ReadEngineObject(state, index, value); }

void PushValueUserdata(lua_State* state, const Variant& value) {
  const TypeInfo* type = value.type;
  if (!value.data || !type || !type->PlacementCopy || type->size == 0) {
    lua_pushnil(state);
    return;
  }
  void* block = lua_newuserdata(state, sizeof(ValueHeader) + kValueAlign - 1 + type->size);
  PushMetatable(state, type);
  if (!lua_istable(state, -1)) {
    LUA_LOG(Warning, "Couldn't find valid meta table when sending %s to lua", NameOf(type));
    lua_pop(state, 2);
    lua_pushnil(state);
    return;
  }
  ::new (block) ValueHeader{kValueTag, type};
  type->PlacementCopy(ValueAddress(block), value.data);
  // A value with a destructor needs a finalizer; finalizers are read when the userdata is collected,
  // so adding one to the shared metatable now also covers every copy pushed before.
  if (!type->isPlainData && type->PlacementDelete) {
    lua_pushliteral(state, "__gc");
    lua_rawget(state, -2);
    const bool hasFinalizer = !lua_isnil(state, -1);
    lua_pop(state, 1);
    if (!hasFinalizer) {
      lua_pushliteral(state, "__gc");
      lua_pushcfunction(state, &FinalizeValue);
      lua_rawset(state, -3);
    }
  }
  lua_setmetatable(state, -2);
}

void ReadValueUserdata(lua_State* state, int index, Variant& value) { ReadEngineObject(state, index, value); }

void PushPointerValue(lua_State* state, const void* address) {
  lua_pushnumber(state, static_cast<lua_Number>(reinterpret_cast<uintptr_t>(address)));
}

const void* ToPointerValue(lua_State* state, int index) {
  const lua_Number number = lua_tonumber(state, index);
  if (!(number > 0) || number >= 18446744073709551616.0) return nullptr;
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(number));
}

void DeclareObjectField(const TypeInfo* type, const char* key, ObjectFieldFn push) {
  if (type && key && push) ObjectFields().push_back({type, key, push});
}

void PushObjectAddress(lua_State* state, const Variant& object) { PushPointerValue(state, object.data); }

void InstallObjectFields(lua_State* state, int index, const std::string& metatableName) {
  index = index > 0 || index <= LUA_REGISTRYINDEX ? index : lua_gettop(state) + index + 1;
  bool any = false;
  for (const ObjectField& field : ObjectFields()) {
    if (field.type->metatableName != metatableName) continue;
    if (!any) {
      lua_newtable(state);
      any = true;
    }
    lua_pushstring(state, field.key.c_str());
    lua_pushlightuserdata(state, reinterpret_cast<void*>(field.push));
    lua_rawset(state, -3);
  }
  if (!any) return;
  const int fields = lua_gettop(state);
  lua_pushliteral(state, "__index");
  lua_pushvalue(state, index);
  lua_pushvalue(state, fields);
  lua_pushcclosure(state, &IndexWithFields, 2);
  lua_rawset(state, index);
  lua_pop(state, 1);
}

void DeclareSubclass(const TypeInfo* derived, const TypeInfo* base, UpcastFn upcast) {
  if (derived && base && upcast) Subclasses().push_back({derived, base, upcast});
}

}  // namespace Lua
