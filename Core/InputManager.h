// The input system: polls the gamepads once per frame step, and is where the engine finds the input
// backend whose keyboard and gamepad become the Lua libraries "keyboard" and "gamepad".
#pragma once

#include "Core/System.h"

namespace Base {
class InputBackend;
}

namespace Core {

class InputManager : public System {
 public:
  // `backend` (may be null: no input) must outlive the system. The newest input system is the one
  // GetInstance returns.
  explicit InputManager(Base::InputBackend* backend);
  ~InputManager() override;

  static InputManager* GetInstance();
  Base::InputBackend* GetBackend() const { return m_backend; }

  void Initialize(Engine* engine) override;
  const char* GetName() const override { return "InputManager"; }
  // Polls the gamepad; the keyboard and mouse are updated by the main loop after the frame step.
  void FrameStep(float dt, SpaceList* spaces);

 private:
  Base::InputBackend* m_backend;
};

}  // namespace Core
