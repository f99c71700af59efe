// The interface shared by keyboard, mouse and gamepad: a per-frame update and an event sink.
#pragma once

#include <functional>
#include <vector>

#include "Base/Input/InputEvent.h"

namespace Base {

// Extension points: code outside the devices may listen to the events they accept.
using InputCallback = std::function<void(const InputEvent&)>;
using InputCallbackList = std::vector<InputCallback>;

class InputDevice {
 public:
  virtual ~InputDevice() = default;
  // Called once per frame after the frame step: the current state becomes the previous one.
  virtual void Update() = 0;
  virtual void OnEvent(const InputEvent& event) = 0;
};

}  // namespace Base
