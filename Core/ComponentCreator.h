// Component creators: one per component class, registered before main by type id, through which
// components are made in (and returned to) the pools of a game space or made on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "Base/Reflection/TypeInfo.h"
#include "Core/GameComponent.h"

namespace Core {

class ComponentCreator {
 public:
  ComponentCreator(uint32_t type, uint32_t size, uint32_t alignment, Base::Reflection::TypeInfo* typeInfo)
      : m_type(type), m_size(size), m_alignment(alignment), m_typeInfo(typeInfo) {}
  virtual ~ComponentCreator() = default;
  ComponentCreator(const ComponentCreator&) = delete;
  ComponentCreator& operator=(const ComponentCreator&) = delete;

  // A new component in the space's pool for m_type, registered in its handle table, with its space, type
  // id and type record set; not attached, not initialised. Null (logged) when the space is null, its pool
  // is full or its handle table is full: callers must check.
  GameComponent* Create(GameSpace* space) const;
  // A new component on the general heap, in no space; release it with DeleteDetachedComponent.
  GameComponent* CreateDetached() const;
  // Runs the component's destructor, releases its handle and returns its block to the space's pool.
  void Destroy(GameSpace* space, GameComponent* component) const;

  uint32_t m_type;       // component type id
  uint32_t m_size;       // block size of the space pool for m_type
  uint32_t m_alignment;  // block alignment of that pool
  Base::Reflection::TypeInfo* m_typeInfo;

 protected:
  // Constructs a default component in zero-filled storage of m_size bytes.
  virtual GameComponent* Construct(void* storage) const = 0;
};

template <class T>
class ComponentCreatorType final : public ComponentCreator {
  static_assert(std::is_base_of_v<GameComponent, T>);
  static_assert(alignof(T) <= alignof(std::max_align_t), "detached components come from malloc");

 public:
  explicit ComponentCreatorType(uint32_t type)
      : ComponentCreator(type, sizeof(T), alignof(T), Base::Reflection::TypeOf<T>()) {}

 protected:
  GameComponent* Construct(void* storage) const override {
    T* component = ::new (storage) T();
    // Hook tables call listeners on the handle's data pointer as a T: the base must sit at T's address.
    if (static_cast<void*>(static_cast<GameComponent*>(component)) != storage) std::abort();
    return component;
  }
};

// The creators by component type id, filled before main. The factory reads its creator and type tables
// from here.
class ComponentRegistry {
 public:
  // Stores the creator at its type id (a later registration of an id replaces the earlier one) and logs
  // "Registered ComponentCreator for %s components." (Verbose, Core).
  static void Register(ComponentCreator& creator);
  // The creator of a type id, or null (id out of range or nothing registered).
  static ComponentCreator* GetCreator(uint32_t type);
  // The type record held by the creator of a type id, or null.
  static Base::Reflection::TypeInfo* GetType(uint32_t type);
};

// The static initialiser of a component class: builds its one creator and registers it.
template <class T>
ComponentCreator& RegisterComponentCreator(uint32_t type) {
  static ComponentCreatorType<T> creator(type);
  ComponentRegistry::Register(creator);
  return creator;
}

}  // namespace Core
