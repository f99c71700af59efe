// Script bindings of the input devices: the methods scripts call on the globals "gamepad" and
// "keyboard". Every index a script passes goes through the devices' own range checks.
#include "Base/Input/Gamepad.h"
#include "Base/Input/Keyboard.h"
#include "Base/Reflection/Registration.h"

using namespace Base;
using Base::Reflection::BindDescribed;
using Base::Reflection::EnsureRegistered;

ORV_ON_LOAD {
  EnsureRegistered<Gamepad>("Base::Gamepad");
  BindDescribed<&Gamepad::IsConnected>("Base::Gamepad::IsConnected", "Connected",
                                       "Returns whether the gamepad is connected");
  BindDescribed<&Gamepad::IsButtonDown>("Base::Gamepad::IsButtonDown", "_ButtonDown",
                                        "Returns whether the button is down on the gamepad");
  BindDescribed<&Gamepad::IsButtonPressed>("Base::Gamepad::IsButtonPressed", "_ButtonPressed",
                                           "Returns whether the button is pressed on the gamepad");
  BindDescribed<&Gamepad::IsButtonReleased>("Base::Gamepad::IsButtonReleased", "_ButtonReleased",
                                            "Returns whether the button is release on the gamepad");
  BindDescribed<&Gamepad::LeftStick>("Base::Gamepad::LeftStick", "LeftStick",
                                     "Returns the value of a gamepad's left stick between [-1, 1]");
  BindDescribed<&Gamepad::RightStick>("Base::Gamepad::RightStick", "RightStick",
                                      "Returns the value of a gamepad's right stick between [-1, 1]");
  BindDescribed<&Gamepad::LeftTrigger>("Base::Gamepad::LeftTrigger", "LeftTrigger",
                                       "Returns the left trigger value of a gamepad between [0, 1]");
  BindDescribed<&Gamepad::RightTrigger>("Base::Gamepad::RightTrigger", "RightTrigger",
                                        "Returns the right trigger value of a gamepad between [0, 1]");
  BindDescribed<&Gamepad::GetVibration>(
         "Base::Gamepad::GetVibration", "GetVibration",
         "Returns the values of a gamepad's vibration between [0, 1] in <Left, Right> order");
  BindDescribed<&Gamepad::SetVibration>("Base::Gamepad::SetVibration", "SetVibration",
                                        "Sets the values of a gamepad's vibration");
  BindDescribed<&Gamepad::GetState>("Base::Gamepad::GetState", "GetState", "Gets the current state of a game pad.");
  BindDescribed<&Gamepad::SetState>("Base::Gamepad::SetState", "SetState", "Sets the state of a game pad.");
  BindDescribed<&Gamepad::Reset>("Base::Gamepad::Reset", "Reset", "Resets all gamepad states");

  EnsureRegistered<Keyboard>("Base::Keyboard");
  BindDescribed<&Keyboard::IsKeyDown>("Base::Keyboard::IsKeyDown", "KeyDownEx", "Returns whether key is down");
  BindDescribed<&Keyboard::IsKeyPressed>("Base::Keyboard::IsKeyPressed", "KeyPressedEx",
                                         "Returns whether the key is pressed");
  BindDescribed<&Keyboard::IsKeyReleased>("Base::Keyboard::IsKeyReleased", "KeyReleasedEx",
                                          "Returns whether the key is Released");
}
