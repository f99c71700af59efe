// The run-time record of one reflected type: name, size, value operations, members, buttons, groups,
// bound methods, text functions and Lua converters.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Base/Reflection/Member.h"
#include "Base/Reflection/Variant.h"

struct lua_State;

namespace Base {
class Function;
}

namespace Base::Reflection {

struct TypeInfo {
  // The eight value operations; heap blocks come from malloc and go back through Delete.
  using NewFn = void* (*)();
  using AssignFn = void (*)(void* destination, const void* source);
  using DeleteFn = void (*)(void* block);
  using NewCopyFn = void (*)(void** out, const void* source);
  using PlacementNewFn = void (*)(void* storage);
  using PlacementDeleteFn = void (*)(void* storage);
  using PlacementCopyFn = void (*)(void* destination, const void* source);
  using EqualsFn = bool (*)(const void* a, const void* b);
  // Text writer / reader of one value (the serializer's formats).
  using TextFn = void (*)(File& file, const Variant& value);
  // Pushes exactly one Lua value for the variant.
  using ToLuaFn = void (*)(lua_State* state, const Variant& value);
  // Writes the Lua value at an absolute index into the variant's storage, or re-points the variant.
  using FromLuaFn = void (*)(lua_State* state, int index, Variant& value);

  TypeInfo() = default;
  TypeInfo(const TypeInfo&) = delete;
  TypeInfo& operator=(const TypeInfo&) = delete;

  // Sets the name (blanks removed) and the size; nothing else.
  void Init(std::string_view typeName, uint32_t byteSize);

  void SetSerializeFunction(TextFn writer) { serialize = writer; }
  void SetDeserializeFunction(TextFn reader) { deserialize = reader; }
  void SetEquals(EqualsFn equals) { Equals = equals; }
  // The record's own text function when set, else the serializer's member-by-member walk.
  void Serialize(File& file, const Variant& value) const;
  void Deserialize(File& file, const Variant& value) const;
  // Installed once by the serializer: how a type without its own text functions is written and read.
  static void SetInstanceSerializers(TextFn writer, TextFn reader);

  // Properties, in the order an editor shows them. The returned pointers stay valid until the next
  // property of this record is added.
  Member* AddMember(TypeInfo* fieldType, const char* memberName, uint32_t offset,
                    Function* setter = nullptr, Function* getter = nullptr);
  MemberButton* AddMemberButton(const char* label, const Function* function);
  // Creates a group under the current one; it does not open it (push it, add, pop).
  MemberGroup* AddMemberGroup(const char* groupName);
  // AddMemberGroup, then pushes it: it stays current until PopMemberGroup.
  MemberGroup* OpenMemberGroup(const char* groupName);
  const Member* FindMember(std::string_view memberName) const;

  // Lists a bound method once, under its Lua name when given, else the text after the last ':'.
  void AddMethod(Function* function, std::string_view qualifiedName, const char* luaName);

  // Fields in the record's documented order.
  uint8_t isDirect = 0;  // "char*" / "const char*": a value of this type is its data pointer itself
  uint32_t size = 0;
  std::string name;
  uint8_t isPlainData = 0;
  std::vector<Member> members;
  std::vector<MemberButton> buttons;
  std::vector<std::pair<uint32_t, uint32_t>> propertyOrder;  // (PropertyKind, index in members/buttons)
  std::vector<std::pair<Function*, std::string>> methods;
  std::vector<MemberGroup*> groups;
  TextFn serialize = nullptr;
  TextFn deserialize = nullptr;
  std::string metatableName;
  ToLuaFn toLua = nullptr;
  FromLuaFn fromLua = nullptr;
  NewFn New = nullptr;
  AssignFn Assign = nullptr;
  DeleteFn Delete = nullptr;
  NewCopyFn NewCopy = nullptr;
  PlacementNewFn PlacementNew = nullptr;
  PlacementDeleteFn PlacementDelete = nullptr;
  PlacementCopyFn PlacementCopy = nullptr;
  EqualsFn Equals = nullptr;
  // Every pointer type, "char*" included: variants of it carry the pointer, not its address.
  uint8_t isPointer = 0;
};

// "Core::Engine" -> "Engine", "std::vector<Core::GameObject*>" -> "vector<GameObject*>".
std::string StripNamespaces(std::string_view typeName);

// Which record a C++ type uses: references and const dropped, and a pointer to const shares the
// record of the plain pointer ("const char*" is "char*"'s record, as registration wants).
template <class T>
struct RecordKeyOf {
  using type = std::remove_cv_t<T>;
};
template <class T>
struct RecordKeyOf<T*> {
  using type = std::remove_cv_t<T>*;
};
template <class T>
using RecordKey = typename RecordKeyOf<std::remove_cvref_t<T>>::type;

// The one record of a key, built empty on first use and filled by the key's registration, so that a
// signature can name a type before that type registers.
template <class Key>
TypeInfo& TypeRecord() {
  static TypeInfo record;
  return record;
}

template <class T>
TypeInfo* TypeOf() {
  return &TypeRecord<RecordKey<T>>();
}

// A variant over a C++ value: its address, or for a pointer the pointer itself.
template <class T>
Variant MakeVariant(T& value) {
  if constexpr (std::is_pointer_v<T>)
    return Variant(TypeOf<T>(), const_cast<void*>(static_cast<const void*>(value)));
  else
    return Variant(TypeOf<T>(), const_cast<std::remove_cv_t<T>*>(&value));
}

// Value equality of float aggregates (matrices): exact per component, NaN unequal.
template <class T>
bool EqualsAsFloats(const void* a, const void* b) {
  static_assert(sizeof(T) % sizeof(float) == 0);
  float x[sizeof(T) / sizeof(float)];
  float y[sizeof(T) / sizeof(float)];
  std::memcpy(x, a, sizeof(T));
  std::memcpy(y, b, sizeof(T));
  for (size_t i = 0; i < sizeof(T) / sizeof(float); ++i)
    if (!(x[i] == y[i])) return false;
  return true;
}

}  // namespace Base::Reflection
