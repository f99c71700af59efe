// The gamepad device's source on this platform: the game controllers the window system reports,
// in the pad's own masks and ranges.
#pragma once

#include <memory>

#include "Base/Input/GamepadSource.h"
#include "Platform/GameControllers.h"

namespace Vantor {

class ControllerGamepadSource final : public Base::GamepadSource {
 public:
  // Null when the platform has no controller support; the gamepad then takes a source that never
  // reports a pad (Base::NullGamepadSource).
  static std::unique_ptr<ControllerGamepadSource> Open();

  bool Read(int pad, Base::GamepadReading& reading) override;
  void SetVibration(int pad, uint16_t left, uint16_t right) override;

 private:
  explicit ControllerGamepadSource(Platform::GameControllers* controllers) : m_controllers(controllers) {}
  std::unique_ptr<Platform::GameControllers> m_controllers;
};

}  // namespace Vantor
