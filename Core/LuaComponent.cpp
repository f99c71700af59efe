// Script components: their calls into the scripts, their text writer and their registration.
#include "Core/LuaComponent.h"

#include "Base/Reflection/Registration.h"
#include "Base/Serialization/Serializer.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"

namespace Core {
namespace {

std::string SpaceName(const GameSpace* space) { return space ? space->GetName() : std::string(); }

}  // namespace

void LuaComponent::Initialize() {
  if (m_compType.empty()) return;
  const std::string space = SpaceName(m_space);
  const unsigned owner = m_owner;
  // The answer is read into a copy: an error (or a script that answers nothing) keeps the type name.
  std::string answer = m_compType;
  Scripts().CallForResult(answer, "game:AddComponent", space.c_str(), owner, m_compType);
  if (!answer.empty()) m_compType = std::move(answer);
  if (!m_loadFunction.empty())
    Scripts().Call("game:DeserializeComponent", space.c_str(), owner, m_compType, m_loadFunction.c_str());
}

void LuaComponent::PullState() {
  const std::string space = SpaceName(m_space);
  const unsigned owner = m_owner;
  std::string state = m_loadFunction;
  Scripts().CallForResult(state, "game:SerializeComponent", space.c_str(), owner, m_compType.c_str());
  m_loadFunction = std::move(state);
}

void LuaComponent::RefreshState() {
  const GameObject* owner = GetOwner();
  if (owner && owner->IsInitialized()) PullState();
}

void LuaComponent::NotifyRemoved() {
  const std::string space = SpaceName(m_space);
  const unsigned owner = m_owner;
  Scripts().Call("game:RemoveComponent", space.c_str(), owner, m_compType);
}

void LuaComponent::Serialize(Base::File& file, const Base::Reflection::Variant& value) {
  if (!value.data) return;
  LuaComponent* component = static_cast<LuaComponent*>(value.data);
  if (component->m_owner != Base::kNullHandle) component->PullState();
  if (Base::Serializer* serializer = file.GetSerializer()) {
    serializer->SerializeInstance(file, value);
    return;
  }
  Base::Serializer fresh;
  fresh.SerializeInstance(file, value);
}

}  // namespace Core

ORV_ON_LOAD { Core::RegisterComponentCreator<Core::LuaComponent>(Core::ComponentType_LuaComponent); }

ORV_REFLECT_CLASS(Core::LuaComponent) {
  Core::InstallComponentOps(type.Record());
  type->SetSerializeFunction(&Core::LuaComponent::Serialize);
  ORV_FIELD(m_loadFunction);
  ORV_FIELD(m_compType);
}
