// The component base: type names and ids, reflection equality and copy, owner lookups, registration.
#include "Core/GameComponent.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "Base/Reflection/Registration.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/SpaceComponent.h"
#include "Core/Transform.h"

namespace Core {

namespace {

// The component type names by id, then the count's name and the end of the list.
constexpr const char* kComponentTypeNames[] = {ORV_COMPONENT_TYPES(ORV_ENUM_NAME) "countComponents", nullptr};

}  // namespace

const Base::Enum& ComponentTypeEnum() {
  static const Base::Enum values("ComponentType", kComponentTypeNames);
  return values;
}

const char* ComponentTypeName(uint32_t type) {
  return kComponentTypeNames[type < ComponentType_Count ? type : ComponentType_Count];
}

uint32_t ComponentTypeFromName(std::string_view name) {
  // Every component block of a file asks: a handful of names compared by size first costs less than
  // hashing the name. The enumeration is built from the same list, so the answers are its values.
  static const auto names = [] {
    std::array<std::string_view, ComponentType_Count> all;
    for (uint32_t type = 0; type < ComponentType_Count; ++type) all[type] = kComponentTypeNames[type];
    return all;
  }();
  for (uint32_t type = 0; type < ComponentType_Count; ++type)
    if (names[type] == name) return type;
  return ComponentType_Count;
}

GameComponent::GameComponent() : Generic(GenericType_GameComponent) {}

GameComponent::~GameComponent() = default;

bool GameComponent::Equals(const GameComponent& other) const {
  if (m_typeInfo != other.m_typeInfo) return false;
  if (!m_typeInfo) return true;
  void* self = const_cast<GameComponent*>(this);
  void* that = const_cast<GameComponent*>(&other);
  for (const Base::Reflection::Member& member : m_typeInfo->members)
    if (!(member.GetVariant(self) == member.GetVariant(that))) return false;
  return true;
}

GameComponent& GameComponent::Assign(const GameComponent& other) {
  if (m_typeInfo != other.m_typeInfo || !m_typeInfo || &other == this) return *this;
  char* self = reinterpret_cast<char*>(this);
  const char* that = reinterpret_cast<const char*>(&other);
  for (const Base::Reflection::Member& member : m_typeInfo->members)
    if (member.type && member.type->Assign) member.type->Assign(self + member.offset, that + member.offset);
  return *this;
}

GameObject* GameComponent::GetOwner() const { return m_space ? m_space->GetGameObject(m_owner) : nullptr; }

Transform* GameComponent::GetOwnerTransform() const {
  GameObject* owner = GetOwner();
  return owner ? owner->GetComponent<Transform>() : nullptr;
}

void DeleteDetachedComponent(GameComponent* component) {
  if (!component) return;
  // The start of the heap block is the most derived object's address.
  void* block = dynamic_cast<void*>(component);
  component->~GameComponent();
  std::free(block);
}

namespace {

void AssignComponent(void* destination, const void* source) {
  static_cast<GameComponent*>(destination)->Assign(*static_cast<const GameComponent*>(source));
}

bool EqualComponents(const void* a, const void* b) {
  return static_cast<const GameComponent*>(a)->Equals(*static_cast<const GameComponent*>(b));
}

}  // namespace

void InstallComponentOps(Base::Reflection::TypeInfo* record) {
  record->Assign = &AssignComponent;
  record->Equals = &EqualComponents;
}

}  // namespace Core

// Core's enumerations are built at load, before any text names a type, and in one place so that their
// order stays fixed whatever the link order of Core's units: after the base library's "AssetTypes" come
// "ComponentType", "Generics" and "SpaceComponentType".
ORV_ON_LOAD {
  Core::ComponentTypeEnum();
  Core::GenericsEnum();
  Core::SpaceComponentTypeEnum();
}

ORV_REFLECT_CLASS(Core::GameComponent) { Core::InstallComponentOps(type.Record()); }
