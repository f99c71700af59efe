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
  uint32_t GetLastKeyPressed() const { return m_lastKeyPressed; }

  void AddKeyDownCallback(InputCallback callback) {
    m_keyDownCallbacks.push_back(std::move(callback));
  }
  void AddKeyUpCallback(InputCallback callback) { m_keyUpCallbacks.push_back(std::move(callback)); }
  void AddOtherCallback(InputCallback callback) { m_otherCallbacks.push_back(std::move(callback)); }

 private:
  InputCallbackList m_keyDownCallbacks;
  InputCallbackList m_keyUpCallbacks;
  InputCallbackList m_otherCallbacks;
  uint8_t m_current[Key_Count] = {};
  uint8_t m_previous[Key_Count] = {};
  uint32_t m_lastKeyPressed = 0;
};

}  // namespace Base
