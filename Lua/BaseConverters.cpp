// Lua converters of the base library's types: numbers, booleans, strings, handles, enumerations, the
// script vectors, the quaternion, plain records and the vector types. They are attached to the type
// records from here, before main; a record is built on first use whichever unit touches it first, and
// registration never resets its converters, so the order of the units' initialisers does not matter.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "Base/DebugTimer.h"
#include "Base/Handle.h"
#include "Base/Input/GamepadState.h"
#include "Base/Input/Keys.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "Lua/Arrays.h"
#include "Lua/Convert.h"

namespace Core {
class GameObject;
class GameSpace;
}  // namespace Core

namespace Lua {
namespace {

using Base::Reflection::TypeOf;

template <class T>
const T& ValueOf(const Variant& value) {
  return *static_cast<const T*>(value.data);
}

template <class T>
void Store(const Variant& value, T number) {
  if (value.data) std::memcpy(value.data, &number, sizeof(T));
}

bool CheckNumber(lua_State* state, int index, const Variant& value) {
  if (lua_isnumber(state, index)) return true;
  WarnMismatch(state, index, value.type);
  return false;
}

// A script number becomes an integer of a C++ type only when it is one: finite, whole and within
// [low, high]. Anything else (NaN, an infinity, 1.5, 2^32 + 4 for a 32-bit value) is refused with the
// mismatch warning and the variant is cleared, so that a call is not made with a value truncated into
// one the script never meant. A value that is no number at all keeps its old reading: the warning, then 0.
bool ReadWhole(lua_State* state, int index, Variant& value, double low, double high, int64_t& whole) {
  whole = 0;
  if (!lua_isnumber(state, index)) {
    WarnMismatch(state, index, value.type);
    return true;
  }
  const lua_Number number = lua_tonumber(state, index);
  if (!(number >= low && number <= high) || number != std::floor(number)) {
    WarnMismatch(state, index, value.type);
    value = Variant();
    return false;
  }
  whole = static_cast<int64_t>(number);
  return true;
}

constexpr double kInt32Min = -2147483648.0;
constexpr double kInt32Max = 2147483647.0;
constexpr double kUInt32Max = 4294967295.0;

void PushInt(lua_State* state, const Variant& value) { lua_pushinteger(state, ValueOf<int>(value)); }
void ReadInt(lua_State* state, int index, Variant& value) {
  int64_t whole;
  if (ReadWhole(state, index, value, kInt32Min, kInt32Max, whole)) Store(value, static_cast<int>(whole));
}

// Scripts see the 32 bits as a signed integer: 2^31 and above arrive negative and go back unchanged,
// so both readings of the bits are accepted.
void PushUnsigned(lua_State* state, const Variant& value) {
  lua_pushinteger(state, static_cast<int32_t>(ValueOf<unsigned>(value)));
}
void ReadUnsigned(lua_State* state, int index, Variant& value) {
  int64_t whole;
  if (ReadWhole(state, index, value, kInt32Min, kUInt32Max, whole))
    Store(value, static_cast<unsigned>(static_cast<uint32_t>(whole)));
}

void PushFloat(lua_State* state, const Variant& value) { lua_pushnumber(state, ValueOf<float>(value)); }
void ReadFloat(lua_State* state, int index, Variant& value) {
  CheckNumber(state, index, value);
  Store(value, static_cast<float>(lua_tonumber(state, index)));
}

void PushDouble(lua_State* state, const Variant& value) { lua_pushnumber(state, ValueOf<double>(value)); }
void ReadDouble(lua_State* state, int index, Variant& value) {
  CheckNumber(state, index, value);
  Store(value, static_cast<double>(lua_tonumber(state, index)));
}

// Pointer values and other 64-bit integers: exact up to 2^53, which every user-space address is.
void PushUnsigned64(lua_State* state, const Variant& value) {
  lua_pushnumber(state, static_cast<lua_Number>(ValueOf<uint64_t>(value)));
}
void ReadUnsigned64(lua_State* state, int index, Variant& value) {
  CheckNumber(state, index, value);
  const lua_Number number = lua_tonumber(state, index);
  Store(value, number >= 0 && number < 18446744073709551616.0 ? static_cast<uint64_t>(number) : uint64_t(0));
}

void PushBool(lua_State* state, const Variant& value) { lua_pushboolean(state, ValueOf<bool>(value)); }
void ReadBool(lua_State* state, int index, Variant& value) {
  bool flag = false;
  if (lua_type(state, index) == LUA_TBOOLEAN)
    flag = lua_toboolean(state, index) != 0;
  else
    WarnMismatch(state, index, value.type);
  Store(value, flag);
}

// "char*" / "const char*": the variant's data is the characters themselves. A string read from Lua
// stays valid while its Lua value is on the stack, which covers the call it is an argument of.
void PushCString(lua_State* state, const Variant& value) { lua_pushstring(state, static_cast<const char*>(value.data)); }
void ReadCString(lua_State* state, int index, Variant& value) {
  static char empty[] = "";
  if (!lua_isstring(state, index)) {
    WarnWrongType(state, index, value.type);
    value.data = empty;
    return;
  }
  value.data = const_cast<char*>(lua_tostring(state, index));
}

void PushString(lua_State* state, const Variant& value) {
  const auto& text = ValueOf<std::string>(value);
  lua_pushlstring(state, text.data(), text.size());
}
void ReadString(lua_State* state, int index, Variant& value) {
  if (!value.data) return;
  auto& text = *static_cast<std::string*>(value.data);
  size_t length = 0;
  const char* characters = lua_isstring(state, index) ? lua_tolstring(state, index, &length) : nullptr;
  if (!characters) {
    WarnWrongType(state, index, value.type);
    text.clear();
    return;
  }
  text.assign(characters, length);
}

// Handles travel as their 32-bit number (index low, generation high), unsigned. A value that is not a
// number reads as the null handle, never as the live-looking handle 0.
static_assert(sizeof(Base::Handle) == sizeof(uint32_t));
void PushHandle(lua_State* state, const Variant& value) {
  uint32_t bits;
  std::memcpy(&bits, value.data, sizeof(bits));
  lua_pushnumber(state, static_cast<lua_Number>(bits));
}
void ReadHandle(lua_State* state, int index, Variant& value) {
  uint32_t bits = 0xFFFFFFFFu;
  if (CheckNumber(state, index, value)) {
    const lua_Number number = lua_tonumber(state, index);
    if (number >= kInt32Min && number <= kUInt32Max && number == std::floor(number))
      bits = static_cast<uint32_t>(static_cast<int64_t>(number));
  }
  Store(value, bits);
}

template <class E>
void PushEnum(lua_State* state, const Variant& value) {
  static_assert(sizeof(E) == sizeof(int32_t));
  int32_t number;
  std::memcpy(&number, value.data, sizeof(number));
  lua_pushinteger(state, number);
}

// Enumerations are stored as 32-bit integers: a number that is no such integer is refused like one.
// A value of the right size that names no value reaches the engine, whose methods check their own
// ranges and say so in their own words.
template <class E>
void ReadEnum(lua_State* state, int index, Variant& value) {
  static_assert(sizeof(E) == sizeof(int32_t));
  int64_t whole;
  if (ReadWhole(state, index, value, kInt32Min, kInt32Max, whole)) Store(value, static_cast<int32_t>(whole));
}

template <class T>
void Install(TypeInfo::ToLuaFn push, TypeInfo::FromLuaFn read) {
  TypeInfo* record = TypeOf<T>();
  record->toLua = push;
  record->fromLua = read;
}

}  // namespace
}  // namespace Lua

ORV_ON_LOAD {
  using namespace Lua;
  Install<int>(&PushInt, &ReadInt);
  Install<unsigned>(&PushUnsigned, &ReadUnsigned);
  Install<float>(&PushFloat, &ReadFloat);
  Install<double>(&PushDouble, &ReadDouble);
  Install<bool>(&PushBool, &ReadBool);
  Install<char*>(&PushCString, &ReadCString);  // also "const char*": one record
  Install<std::string>(&PushString, &ReadString);
  // While the handle is still a plain integer it shares the record of "unsigned", whose converter stays.
  if constexpr (!std::is_same_v<Base::Handle, uint32_t>) Install<Base::Handle>(&PushHandle, &ReadHandle);
  Install<Base::GamepadButton>(&PushEnum<Base::GamepadButton>, &ReadEnum<Base::GamepadButton>);
  Install<Base::Keys>(&PushEnum<Base::Keys>, &ReadEnum<Base::Keys>);
  Install<Base::TraceLevel>(&PushEnum<Base::TraceLevel>, &ReadEnum<Base::TraceLevel>);
  Install<Base::TraceModule>(&PushEnum<Base::TraceModule>, &ReadEnum<Base::TraceModule>);

  Install<Base::Vec2>(&PushVector2, &ReadVector2);
  Install<Base::Vec3>(&PushVector3, &ReadVector3);
  Install<Base::Quaternion>(&PushValueUserdata, &ReadValueUserdata);
  Install<Base::GamepadState>(&PushMembersToTable, &ReadMembersFromTable);
  Install<Base::DebugTimerData>(&PushMembersToTable, &ReadMembersFromTable);

  InstallArrayConverters<int>();
  InstallArrayConverters<Core::GameObject*>();
  InstallArrayConverters<Core::GameSpace*>();
  InstallArrayConverters<Base::DebugTimerData>();
  InstallArrayConverters<std::string>();
  InstallArrayConverters<bool>();

  // The 64-bit carrier of pointer values for bound methods (a game space's PointerValue).
  Base::Reflection::RegisterType<uint64_t>("uint64_t", true);
  Install<uint64_t>(&PushUnsigned64, &ReadUnsigned64);
}
