// Game-controller readings handed to the gamepad device unchanged: both speak the same masks and ranges.
#include "Vantor/ControllerGamepadSource.h"

#include "Base/Log.h"

namespace Vantor {

std::unique_ptr<ControllerGamepadSource> ControllerGamepadSource::Open() {
  std::string error;
  Platform::GameControllers* controllers = Platform::GameControllers::Open(&error);
  if (!controllers) {
    BASE_LOG(Info, "No gamepads: %s", error.c_str());
    return nullptr;
  }
  return std::unique_ptr<ControllerGamepadSource>(new ControllerGamepadSource(controllers));
}

bool ControllerGamepadSource::Read(int pad, Base::GamepadReading& reading) {
  Platform::ControllerReading raw;
  if (!m_controllers->Read(pad, raw)) return false;
  reading.buttons = raw.buttons;
  reading.leftTrigger = raw.leftTrigger;
  reading.rightTrigger = raw.rightTrigger;
  reading.leftStickX = raw.leftStickX;
  reading.leftStickY = raw.leftStickY;
  reading.rightStickX = raw.rightStickX;
  reading.rightStickY = raw.rightStickY;
  return true;
}

void ControllerGamepadSource::SetVibration(int pad, uint16_t left, uint16_t right) {
  m_controllers->SetVibration(pad, left, right);
}

}  // namespace Vantor
