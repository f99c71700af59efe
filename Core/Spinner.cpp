// The Spinner's update and registration.
#include "Core/Spinner.h"

#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"

namespace Core {

void Spinner::Initialize() {
  if (!m_space) return;
  static const Base::Function logicUpdate(Base::MakeSignature<&Spinner::LogicUpdate>(),
                                          &Base::Thunk<&Spinner::LogicUpdate>, "Spinner::LogicUpdate");
  m_space->GetHooks().AddComponentListener("LogicUpdate", m_self, logicUpdate);
  const GameObject* owner = GetOwner();
  m_transform = owner ? owner->m_components[ComponentType_Transform] : Base::kNullHandle;
}

void Spinner::Uninitialize() {
  if (m_space) m_space->GetHooks().RemoveComponentListener("LogicUpdate", m_self);
}

void Spinner::LogicUpdate(float dt) {
  GameComponent* component = m_space ? m_space->GetComponent(m_transform) : nullptr;
  if (!component || component->m_componentType != ComponentType_Transform) return;
  Transform* transform = static_cast<Transform*>(component);
  const float angle = m_degreesPerSecond * dt * 0.017453292f;
  Base::Quaternion rotation = transform->LocalRotation();
  rotation.RotateAroundAxis(m_rotationAxis, angle);
  transform->SetLocalRotation(rotation);
}

}  // namespace Core

ORV_ON_LOAD { Core::RegisterComponentCreator<Core::Spinner>(Core::ComponentType_Spinner); }

ORV_REFLECT_CLASS(Core::Spinner) {
  Core::InstallComponentOps(type.Record());
  ORV_PROPERTY(m_rotationAxis, SetRotationAxis, "Set the rotation axis", GetRotationAxis, "Gets the rotation axis");
  ORV_PROPERTY(m_degreesPerSecond, SetRotationSpeed, "Set the rotation speed", GetRotationSpeed,
               "Gets the rotation speed");
}
