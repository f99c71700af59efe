// Keyboard device: which keys are down now and were down at the last update.
#pragma once

#include <cstdint>

#include "Base/Input/InputDevice.h"
#include "Base/Input/Keys.h"

namespace Base {

class Keyboard : public InputDevice {
 public:
  void Update() override;
  void OnEvent(const InputEvent& event) override;

  // Key codes outside 0..320 (scripts pass any number) are warned about and read as up.
  bool IsKeyDown(Keys key) const;
  bool IsKeyPressed(Keys key) const;   // down now, up at the last update
  bool IsKeyReleased(Keys key) const;  // up now, down at the last update
  uint32_t GetLastKeyPressed() const { return lastKeyPressed_; }

  void AddKeyDownCallback(InputCallback callback) {
    keyDownCallbacks_.push_back(std::move(callback));
  }
  void AddKeyUpCallback(InputCallback callback) { keyUpCallbacks_.push_back(std::move(callback)); }
  void AddOtherCallback(InputCallback callback) { otherCallbacks_.push_back(std::move(callback)); }

 private:
  InputCallbackList keyDownCallbacks_;
  InputCallbackList keyUpCallbacks_;
  InputCallbackList otherCallbacks_;
  uint8_t current_[Key_Count] = {};
  uint8_t previous_[Key_Count] = {};
  uint32_t lastKeyPressed_ = 0;
};

}  // namespace Base
