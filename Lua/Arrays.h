// std::vector<T> as a Lua array (keys 1..n), element by element through T's own record. Pointer
// elements (vector<GameObject*>) store the object addresses read back; vector<bool> goes bit by bit.
#pragma once

#include <type_traits>
#include <vector>

#include <lua.hpp>

#include "Lua/Convert.h"

namespace Lua {

template <class T>
void PushArray(lua_State* state, const Variant& value) {
  const auto& items = *static_cast<const std::vector<T>*>(value.data);
  const TypeInfo* type = Base::Reflection::TypeOf<T>();
  lua_createtable(state, static_cast<int>(items.size()), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    if constexpr (std::is_same_v<T, bool>) {
      bool item = items[i];
      PushVariant(state, Variant(type, &item));
    } else if constexpr (std::is_pointer_v<T>) {
      PushVariant(state, Variant(type, const_cast<void*>(static_cast<const void*>(items[i]))));
    } else {
      PushVariant(state, Variant(type, const_cast<T*>(&items[i])));
    }
    lua_rawseti(state, -2, static_cast<int>(i + 1));
  }
}

// The vector takes the table's length; a value that is not a table is logged and leaves it unchanged.
template <class T>
void ReadArray(lua_State* state, int index, Variant& value) {
  if (!value.data) return;
  if (!lua_istable(state, index)) {
    WarnWrongType(state, index, value.type);
    return;
  }
  auto& items = *static_cast<std::vector<T>*>(value.data);
  const TypeInfo* type = Base::Reflection::TypeOf<T>();
  const size_t count = lua_objlen(state, index);
  items.resize(count);
  for (size_t i = 0; i < count; ++i) {
    lua_rawgeti(state, index, static_cast<int>(i + 1));
    if constexpr (std::is_same_v<T, bool>) {
      bool item = false;
      ReadInto(state, -1, type, &item);
      items[i] = item;
    } else {
      ReadInto(state, -1, type, &items[i]);
    }
    lua_pop(state, 1);
  }
}

// Installs the array converters on std::vector<T> and on std::vector<T>*; the records need not be
// registered yet (they are built on first use and filled by their registration).
template <class T>
void InstallArrayConverters() {
  for (TypeInfo* record : {Base::Reflection::TypeOf<std::vector<T>>(), Base::Reflection::TypeOf<std::vector<T>*>()}) {
    record->toLua = &PushArray<T>;
    record->fromLua = &ReadArray<T>;
  }
}

}  // namespace Lua
