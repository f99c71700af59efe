// Space-component creators, their table by type id, and the reflection of TestSpaceComp.
#include "Core/SpaceComponent.h"

#include <array>

#include "Base/Reflection/EngineEnums.h"
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"

namespace Core {
namespace {

std::array<SpaceCompCreator*, SpaceComponentType_Count>& Creators() {
  static std::array<SpaceCompCreator*, SpaceComponentType_Count> creators{};
  return creators;
}

}  // namespace

void SpaceCompCreator::Destroy(GameSpace*, SpaceComponent* component) const { delete component; }

void SpaceComponentRegistry::Register(SpaceCompCreator& creator) {
  if (creator.m_type >= SpaceComponentType_Count) {
    Base::TraceLog::GetInstance().Print(Base::TraceLevel_Error, Base::TraceModule_Core,
                                        "Attempted to register a SpaceComponentCreator for type %u", creator.m_type);
    return;
  }
  Creators()[creator.m_type] = &creator;
  Base::TraceLog::GetInstance().Print(Base::TraceLevel_Verbose, Base::TraceModule_Core,
                                      "Registered SpaceComponentCreator for %s components.",
                                      Base::Enums::SpaceComponentType().GetValueName(creator.m_type).c_str());
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
