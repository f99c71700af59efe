// Mouse device: position, five buttons and the wheel, now and at the last update.
#pragma once

#include <cstdint>

#include "Base/Input/InputDevice.h"

namespace Base {

constexpr int kMouseButtonCount = 5;

struct MouseState {
  int32_t x = 0;
  int32_t y = 0;
  uint8_t unused = 0;
  uint8_t buttons[kMouseButtonCount] = {};  // indexed by button number
  int32_t wheel = 0;                        // notches since the last update
};

class Mouse : public InputDevice {
 public:
  void Update() override;
  void OnEvent(const InputEvent& event) override;

  const MouseState& GetCurrent() const { return m_current; }
  const MouseState& GetPrevious() const { return m_previous; }
  // Buttons outside 0..4 are warned about and read as up.
  bool IsButtonDown(int button) const;
  bool IsButtonPressed(int button) const;
  bool IsButtonReleased(int button) const;

  void AddMoveCallback(InputCallback callback) { m_moveCallbacks.push_back(std::move(callback)); }
  void AddRelativeMoveCallback(InputCallback callback) {
    m_relativeMoveCallbacks.push_back(std::move(callback));
  }
  void AddButtonDownCallback(InputCallback callback) {
    m_buttonDownCallbacks.push_back(std::move(callback));
  }
  void AddButtonUpCallback(InputCallback callback) {
    m_buttonUpCallbacks.push_back(std::move(callback));
  }
  void AddWheelCallback(InputCallback callback) { m_wheelCallbacks.push_back(std::move(callback)); }

 private:
  MouseState m_current;
  MouseState m_previous;
  InputCallbackList m_moveCallbacks;
  InputCallbackList m_relativeMoveCallbacks;
  InputCallbackList m_buttonDownCallbacks;
  InputCallbackList m_buttonUpCallbacks;
  InputCallbackList m_wheelCallbacks;
};

}  // namespace Base
