// Space-component creators, their table by type id, and the reflection of TestSpaceComp.
#include "Core/SpaceComponent.h"

#include <array>

#include "Base/Reflection/Registration.h"
#include "Core/Log.h"

namespace Core {
namespace {

// The space component type names by id, then the count's name and the end of the list.
constexpr const char* kSpaceComponentTypeNames[] = {ORV_SPACE_COMPONENT_TYPES(ORV_ENUM_NAME) "countSpaceComponents",
                                                     nullptr};

std::array<SpaceCompCreator*, SpaceComponentType_Count>& Creators() {
  static std::array<SpaceCompCreator*, SpaceComponentType_Count> creators{};
  return creators;
}

}  // namespace

const Base::Enum& SpaceComponentTypeEnum() {
  static const Base::Enum values("SpaceComponentType", kSpaceComponentTypeNames);
  return values;
}

const char* SpaceComponentTypeName(uint32_t type) {
  return kSpaceComponentTypeNames[type < SpaceComponentType_Count ? type : SpaceComponentType_Count];
}

void SpaceCompCreator::Destroy(GameSpace*, SpaceComponent* component) const { delete component; }

void SpaceComponentRegistry::Register(SpaceCompCreator& creator) {
  if (creator.m_type >= SpaceComponentType_Count) {
    CORE_LOG(Error, "Attempted to register a SpaceComponentCreator for type %u", creator.m_type);
    return;
  }
  Creators()[creator.m_type] = &creator;
  CORE_LOG(Verbose, "Registered SpaceComponentCreator for %s components.",
           SpaceComponentTypeName(creator.m_type));
}

SpaceCompCreator* SpaceComponentRegistry::GetCreator(uint32_t type) {
  return type < SpaceComponentType_Count ? Creators()[type] : nullptr;
}

void SpaceComponentRegistry::Destroy(GameSpace* space, SpaceComponent* component) {
  if (!component) return;
  if (SpaceCompCreator* creator = GetCreator(component->m_type))
    creator->Destroy(space, component);
  else
    delete component;
}

}  // namespace Core

ORV_ON_LOAD { Core::RegisterSpaceComponentCreator<Core::TestSpaceComp>(Core::SpaceComponentType_TestSpaceComp); }

ORV_REFLECT_TYPE(Core::TestSpaceComp, false) {
  ORV_FIELD(m_name);
  ORV_FIELD(m_timeFailed);
  ORV_FIELD(m_working);
}
