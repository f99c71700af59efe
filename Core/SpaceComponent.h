// Space components: components of a whole game space (at most one per type), their creators and the one
// space component class of the engine core, TestSpaceComp.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "Base/Reflection/Enum.h"
#include "Base/Reflection/TypeInfo.h"

namespace Core {

class GameSpace;

// The space component classes in "SpaceComponentType" order: the one list their type ids, their names
// (the block names in space files) and the reflected enumeration are built from.
#define ORV_SPACE_COMPONENT_TYPES(X) X(TestSpaceComp)

// A space's slot for each space component class.
enum SpaceComponentType : uint32_t {
#define ORV_SPACE_COMPONENT_TYPE_ID(name) SpaceComponentType_##name,
  ORV_SPACE_COMPONENT_TYPES(ORV_SPACE_COMPONENT_TYPE_ID)
#undef ORV_SPACE_COMPONENT_TYPE_ID
  SpaceComponentType_Count,
};

// The reflected enumeration "SpaceComponentType": the names of the list above, "countSpaceComponents" last.
const Base::Enum& SpaceComponentTypeEnum();
// The "SpaceComponentType" name of an id, or "countSpaceComponents" for any id out of range.
const char* SpaceComponentTypeName(uint32_t type);

class SpaceComponent {
 public:
  SpaceComponent() = default;
  SpaceComponent(const SpaceComponent&) = default;
  SpaceComponent& operator=(const SpaceComponent&) = default;
  virtual ~SpaceComponent() = default;

  // Runs once the space's file has been read and its objects initialised.
  virtual void Initialize() {}

  GameSpace* m_space = nullptr;  // null for a component made without a space
  Base::Reflection::TypeInfo* m_typeInfo = nullptr;
  uint32_t m_type = 0;  // "SpaceComponentType" id: the space's slot
};

class TestSpaceComp : public SpaceComponent {
 public:
  std::string m_name = "Test Space Component";
  int m_timeFailed = 3;
  bool m_working = false;
};

class SpaceCompCreator {
 public:
  SpaceCompCreator(uint32_t type, uint32_t size, Base::Reflection::TypeInfo* typeInfo)
      : m_type(type), m_size(size), m_typeInfo(typeInfo) {}
  virtual ~SpaceCompCreator() = default;
  SpaceCompCreator(const SpaceCompCreator&) = delete;
  SpaceCompCreator& operator=(const SpaceCompCreator&) = delete;

  // A new component for `space` (not yet stored in it: the caller adds it with AddSpaceComponent).
  virtual SpaceComponent* Create(GameSpace* space) const = 0;
  // The same without a space.
  virtual SpaceComponent* CreateDetached() const = 0;
  // Destroys a component made by Create or CreateDetached.
  void Destroy(GameSpace* space, SpaceComponent* component) const;

  uint32_t m_type;
  uint32_t m_size;
  Base::Reflection::TypeInfo* m_typeInfo;
};

template <class T>
class SpaceCompCreatorType final : public SpaceCompCreator {
  static_assert(std::is_base_of_v<SpaceComponent, T>);

 public:
  explicit SpaceCompCreatorType(uint32_t type) : SpaceCompCreator(type, sizeof(T), Base::Reflection::TypeOf<T>()) {}

  SpaceComponent* Create(GameSpace* space) const override {
    SpaceComponent* component = CreateDetached();
    component->m_space = space;
    return component;
  }
  SpaceComponent* CreateDetached() const override {
    T* component = new T();
    component->m_type = m_type;
    component->m_typeInfo = m_typeInfo;
    return component;
  }
};

// The space-component creators by type id, filled before main; the factory and the engine read them here.
class SpaceComponentRegistry {
 public:
  // Logs "Registered SpaceComponentCreator for %s components." (Verbose, Core).
  static void Register(SpaceCompCreator& creator);
  static SpaceCompCreator* GetCreator(uint32_t type);
  // Destroys a space component through the creator of its type (or its destructor when there is none).
  static void Destroy(GameSpace* space, SpaceComponent* component);
};

template <class T>
SpaceCompCreator& RegisterSpaceComponentCreator(uint32_t type) {
  static SpaceCompCreatorType<T> creator(type);
  SpaceComponentRegistry::Register(creator);
  return creator;
}

}  // namespace Core
