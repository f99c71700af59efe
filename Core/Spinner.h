// The Spinner component: turns its object's Transform about a fixed local axis at a constant speed on
// every logic update of its space.
#pragma once

#include "Base/Math.h"
#include "Core/GameComponent.h"

namespace Core {

class Spinner : public GameComponent {
 public:
  static constexpr uint32_t kComponentType = ComponentType_Spinner;

  // Listens on the space's "LogicUpdate" and remembers the owner's Transform.
  void Initialize() override;
  void Uninitialize() override;

  // Turns the Transform's local rotation by speed x dt degrees about the axis; nothing when the owner
  // has no Transform.
  void LogicUpdate(float dt);

  Base::Vec3 GetRotationAxis() const { return m_rotationAxis; }
  void SetRotationAxis(Base::Vec3 axis) { m_rotationAxis = axis; }
  float GetRotationSpeed() const { return m_degreesPerSecond; }
  void SetRotationSpeed(float degreesPerSecond) { m_degreesPerSecond = degreesPerSecond; }

  // Fields after the base, in this order.
  Base::Vec3 m_rotationAxis{0.0f, 0.0f, 0.0f};
  float m_degreesPerSecond = 0.0f;
  Base::Handle m_transform = Base::kNullHandle;
};

}  // namespace Core
