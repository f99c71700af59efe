// Making components in a space's pools and on their own, and the table of creators by type id.
#include "Core/ComponentCreator.h"

#include <array>
#include <cstring>

#include "Base/PBManager.h"
#include "Core/GameSpace.h"
#include "Core/Log.h"

namespace Core {
namespace {

std::array<ComponentCreator*, ComponentType_Count>& Creators() {
  static std::array<ComponentCreator*, ComponentType_Count> creators{};
  return creators;
}

}  // namespace

GameComponent* ComponentCreator::Create(GameSpace* space) const {
  if (!space) {
    CORE_LOG(Error, "Attempted to create a %s component without a game space",
                 ComponentTypeName(m_type));
    return nullptr;
  }
  Base::PBManager* pool = space->GetComponentPool(m_type, m_size);
  void* block = pool ? pool->Allocate() : nullptr;
  if (!block) {
    CORE_LOG(Error, "Could not create a %s component in space \"%s\": no free block",
                 ComponentTypeName(m_type), space->GetName().c_str());
    return nullptr;
  }
  std::memset(block, 0, m_size);
  GameComponent* component = Construct(block);
  const Base::Handle handle = space->AddHandle(component);
  if (handle == Base::kNullHandle) {
    // A component nobody can resolve would be a leak that still takes a block: give both back.
    component->~GameComponent();
    pool->Free(block);
    CORE_LOG(Error, "Could not create a %s component in space \"%s\": no free handle",
                 ComponentTypeName(m_type), space->GetName().c_str());
    return nullptr;
  }
  component->m_self = handle;
  component->m_space = space;
  component->m_componentType = m_type;
  component->m_typeInfo = m_typeInfo;
  return component;
}

GameComponent* ComponentCreator::CreateDetached() const {
  void* block = std::malloc(m_size);
  if (!block) return nullptr;
  std::memset(block, 0, m_size);
  GameComponent* component = Construct(block);
  component->m_componentType = m_type;
  component->m_typeInfo = m_typeInfo;
  return component;
}

void ComponentCreator::Destroy(GameSpace* space, GameComponent* component) const {
  if (!space || !component) return;
  if (component->m_space != space || component->m_componentType != m_type) {
    CORE_LOG(Error, "Attempted to destroy a %s component that does not belong to space \"%s\"",
                 ComponentTypeName(component->m_componentType), space->GetName().c_str());
    return;
  }
  Base::PBManager* pool = space->GetComponentPool(m_type, m_size);
  const Base::Handle handle = component->m_self;
  component->~GameComponent();
  space->RemoveHandle(handle);
  if (pool) pool->Free(component);
}

void ComponentRegistry::Register(ComponentCreator& creator) {
  if (creator.m_type >= ComponentType_Count) {
    CORE_LOG(Error, "Attempted to register a ComponentCreator for component type %u",
                 creator.m_type);
    return;
  }
  Creators()[creator.m_type] = &creator;
  CORE_LOG(Verbose, "Registered ComponentCreator for %s components.",
               ComponentTypeName(creator.m_type));
}

ComponentCreator* ComponentRegistry::GetCreator(uint32_t type) {
  return type < ComponentType_Count ? Creators()[type] : nullptr;
}

Base::Reflection::TypeInfo* ComponentRegistry::GetType(uint32_t type) {
  ComponentCreator* creator = GetCreator(type);
  return creator ? creator->m_typeInfo : nullptr;
}

}  // namespace Core
