// How reflected values cross between the engine and Lua: the two entry points every caller uses, and
// the converters of script vectors and plain records. Converters never raise a Lua error: a value of
// the wrong kind is logged and read as a neutral value (0, false, "", zeros, null).
#pragma once

#include <lua.hpp>

#include "Base/Reflection/TypeInfo.h"
#include "Lua/Userdata.h"

namespace Lua {

// Pushes exactly one value: the record's to-Lua converter, else a reference to the engine object;
// nil for a variant without a value. Converters are only called through here, so they may assume data.
void PushVariant(lua_State* state, const Variant& value);

// What a null value of `type` becomes in scripts; nil unless a type sets its own (a missing component
// is false, so scripts can tell it from a missing object).
using NullPushFn = void (*)(lua_State* state);
void SetNullPush(const Base::Reflection::TypeInfo* type, NullPushFn push);
// Reads the value at `index` through the record's from-Lua converter, else as an engine object. The
// converter writes into the variant's storage or re-points the variant (engine objects, strings).
void ReadVariant(lua_State* state, int index, Variant& value);
// Reads the value at `index` into `storage`, an object of `type` that outlives the Lua value: a
// pointer type stores the object's address, a re-pointed value is copied in. Character pointers are
// never stored (they would point into Lua's string).
void ReadInto(lua_State* state, int index, const TypeInfo* type, void* storage);

// The converters' two warnings: "Mismatched argument type ..." (numbers, booleans) and "Wrong
// argument type ..." (strings, tables), naming the Lua type found and the engine type wanted.
void WarnMismatch(lua_State* state, int index, const TypeInfo* type);
void WarnWrongType(lua_State* state, int index, const TypeInfo* type);

// Base::Vec2 / Base::Vec3 become what the scripts' _R.__Vector2_MT.new / __Vector3_MT.new return
// (nil, logged, when the constructor is missing or fails); they come back from any table with
// numeric fields x, y (, z).
void PushVector2(lua_State* state, const Variant& value);
void PushVector3(lua_State* state, const Variant& value);
void ReadVector2(lua_State* state, int index, Variant& value);
void ReadVector3(lua_State* state, int index, Variant& value);

// Plain records travel as tables keyed by member name. Fields missing from the table leave their
// members unchanged.
void PushMembersToTable(lua_State* state, const Variant& value);
void ReadMembersFromTable(lua_State* state, int index, Variant& value);

}  // namespace Lua
