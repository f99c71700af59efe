// Engine objects in Lua: reference userdata (the engine owns the object), value userdata (Lua owns a
// copy), the metatables that mark them as the engine's, computed per-object fields and subclasses.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include <lua.hpp>

#include "Base/Reflection/TypeInfo.h"

namespace Lua {

using Base::Reflection::TypeInfo;
using Base::Reflection::Variant;

// Two kinds of engine userdata, told apart by a tag word at their start: a reference (the object's
// address and type record, and the proof of life of an object that can die) and a value (its type
// record, then the value at the next 16-byte boundary so that every value keeps its alignment).

// Engine objects that can die while a script holds them (game objects, components, spaces): a reference
// to one records, when it is pushed, what finds the object again (for example its space's number and its
// generational handle). Each use looks it up anew; once the object is gone the lookup answers null and
// the use is refused with a logged error, so a script never reaches freed memory or a newer object that
// took the old one's place.
struct LifeProof {
  void* (*find)(uint64_t first, uint64_t second) = nullptr;  // null: the object lives as long as the engine
  uint64_t first = 0;
  uint64_t second = 0;
};
enum class Proof {
  NotNeeded,   // the type's objects outlive every script
  Recorded,    // the proof is filled in
  Impossible,  // an object of a mortal kind that cannot be proven alive: it is not sent (nil, logged)
};
// What records the proof of an object being pushed. One is installed by the core's bindings.
using ProveFn = Proof (*)(const Variant& object, LifeProof& proof);
void SetLifeProver(ProveFn prove);

// Default to-Lua converter: a reference to the engine's object, with its proof of life when it is of a
// mortal kind; nil when it has no address or its type has no metatable (logged).
void PushObjectReference(lua_State* state, const Variant& value);
// Default from-Lua converter. Accepts only engine userdata whose type is the expected one (value.type),
// shares its metatable (T and T*), or is a declared subclass of it; anything else is logged and read
// as a null object. A reference to an object that is gone is refused: the variant is cleared (no type),
// which makes the dispatcher refuse the whole call.
void ReadObjectReference(lua_State* state, int index, Variant& value);
// A copy of the value that lives inside the userdata and dies with it (its destructor runs from __gc).
void PushValueUserdata(lua_State* state, const Variant& value);
// Re-points the variant at the value inside the userdata, so methods act on Lua's copy.
void ReadValueUserdata(lua_State* state, int index, Variant& value);

// The object an engine userdata stands for (inside the userdata for a value), or an empty variant
// for any other Lua value, foreign userdata included. For a reference to an object that is gone it logs
// the error and gives the type without data.
Variant ToEngineObject(lua_State* state, int index);

// registry[type's metatable name]: a table, or nil.
void PushMetatable(lua_State* state, const TypeInfo* type);
// Marks the table at `index` as an engine metatable (the environment does this for each it creates).
void MarkEngineMetatable(lua_State* state, int index);

// Pointer values that scripts see ("Value", "Space", pointer results) are numbers built from the
// address. User-space addresses on 64-bit Linux stay below 2^47 (2^56 with five-level paging), well
// inside the 53 bits a double holds exactly, so scripts compare them, print them and use them as table
// keys like any number, and two pushes of one address are always equal.
void PushPointerValue(lua_State* state, const void* address);
const void* ToPointerValue(lua_State* state, int index);

// Per-object fields. A userdata has no fields of its own, so an engine type that offers fields such
// as "Value", "Self" or "Space" declares them here before the environment initialises; its metatable's
// __index then answers methods first and these keys second, computing each value from the object at
// the time it is read (never stale, nothing stored per push). Scripts cannot add fields: assignments
// raise the usual Lua error. Types without declared fields keep __index = the metatable (fastest).
using ObjectFieldFn = void (*)(lua_State* state, const Variant& object);
void DeclareObjectField(const TypeInfo* type, const char* key, ObjectFieldFn push);
// The ready-made "Value" field: the object's address as a pointer value.
void PushObjectAddress(lua_State* state, const Variant& object);
// Installs the field-answering __index on the metatable at `index` when its types declared fields.
void InstallObjectFields(lua_State* state, int index, const std::string& metatableName);

// Subclasses: an object of Derived is accepted where Base is expected, adjusted to its Base part.
using UpcastFn = void* (*)(void* object);
void DeclareSubclass(const TypeInfo* derived, const TypeInfo* base, UpcastFn upcast);
template <class Derived, class Parent>
void DeclareSubclass() {
  static_assert(std::is_base_of_v<Parent, Derived>);
  DeclareSubclass(Base::Reflection::TypeOf<Derived>(), Base::Reflection::TypeOf<Parent>(),
                  [](void* object) -> void* { return static_cast<Parent*>(static_cast<Derived*>(object)); });
}

}  // namespace Lua
