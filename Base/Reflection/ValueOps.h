// The two families of per-type value operations a type record can carry: plain data (raw bytes) and
// full C++ values (constructors, assignment, destructor).
#pragma once

#include <concepts>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "Base/Reflection/TypeInfo.h"

namespace Base::Reflection {

// A registration key may give the value that New and PlacementNew construct (a handle registered over
// a plain integer wants its null value, not 0): `static T ReflectDefault();` on the key.
template <class T, class Key>
void ConstructDefault(void* storage) {
  if constexpr (requires { Key::ReflectDefault(); })
    ::new (storage) T(Key::ReflectDefault());
  else
    ::new (storage) T();
}

template <class T>
concept HasEquality = requires(const T& a, const T& b) {
  { a == b } -> std::convertible_to<bool>;
};

template <class T>
bool EqualsOf(const void* a, const void* b) {
  return *static_cast<const T*>(a) == *static_cast<const T*>(b);
}

template <class T>
struct PlainOps {
  static void* New() { return std::malloc(sizeof(T)); }
  static void Copy(void* destination, const void* source) { std::memcpy(destination, source, sizeof(T)); }
  static void Delete(void* block) { std::free(block); }
  static void NewCopy(void** out, const void* source) {
    *out = std::malloc(sizeof(T));
    if (*out) std::memcpy(*out, source, sizeof(T));
  }
  static void Nothing(void*) {}
};

template <class T, class Key>
struct ValueOps {
  static constexpr bool kDefault = std::is_default_constructible_v<T>;
  static constexpr bool kCopy = std::is_copy_constructible_v<T>;
  // A type nobody can build by value (a singleton) gets no destroy operation either.
  static constexpr bool kDestroy = (kDefault || kCopy) && std::is_destructible_v<T>;

  static void* New() {
    void* block = std::malloc(sizeof(T));
    if (block) ConstructDefault<T, Key>(block);
    return block;
  }
  static void Assign(void* destination, const void* source) {
    if constexpr (std::is_copy_assignable_v<T>) {
      if (destination != source) *static_cast<T*>(destination) = *static_cast<const T*>(source);
    }
  }
  static void Delete(void* block) {
    if (!block) return;
    static_cast<T*>(block)->~T();
    std::free(block);
  }
  static void NewCopy(void** out, const void* source) {
    *out = nullptr;
    if constexpr (kCopy) {
      void* block = std::malloc(sizeof(T));
      if (!block) return;
      ::new (block) T(*static_cast<const T*>(source));
      *out = block;
    }
  }
  static void PlacementNew(void* storage) {
    if (storage) ConstructDefault<T, Key>(storage);
  }
  static void PlacementDelete(void* storage) {
    if (storage) static_cast<T*>(storage)->~T();
  }
  static void PlacementCopy(void* destination, const void* source) {
    if constexpr (kCopy) {
      if (destination) ::new (destination) T(*static_cast<const T*>(source));
    }
  }
};

// Installs the family the plain-data flag selects, and T's equality where T has one.
template <class T, class Key>
void InstallValueOps(TypeInfo& record, bool plainData) {
  record.isPlainData = plainData ? 1 : 0;
  if constexpr (HasEquality<T>)
    record.Equals = &EqualsOf<T>;
  else
    record.Equals = nullptr;

  if (plainData) {
    if constexpr (std::is_trivially_copyable_v<T>) {
      record.New = &PlainOps<T>::New;
      record.Assign = &PlainOps<T>::Copy;
      record.Delete = &PlainOps<T>::Delete;
      record.NewCopy = &PlainOps<T>::NewCopy;
      record.PlacementNew = &PlainOps<T>::Nothing;
      record.PlacementDelete = &PlainOps<T>::Nothing;
      record.PlacementCopy = &PlainOps<T>::Copy;
      return;
    }
    // Byte copies of a type with its own copy semantics would corrupt it: fall through to full values.
    record.isPlainData = 0;
  }

  using Ops = ValueOps<T, Key>;
  record.New = nullptr;
  record.PlacementNew = nullptr;
  record.Delete = nullptr;
  record.PlacementDelete = nullptr;
  if constexpr (Ops::kDefault) {
    record.New = &Ops::New;
    record.PlacementNew = &Ops::PlacementNew;
  }
  if constexpr (Ops::kDestroy) {
    record.Delete = &Ops::Delete;
    record.PlacementDelete = &Ops::PlacementDelete;
  }
  record.Assign = &Ops::Assign;
  record.NewCopy = &Ops::NewCopy;
  record.PlacementCopy = &Ops::PlacementCopy;
}

}  // namespace Base::Reflection
