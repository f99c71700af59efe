// Script bindings of the input devices: the methods scripts call on the globals "gamepad" and
// "keyboard". Every index a script passes goes through the devices' own range checks.
#include "Base/Input/Gamepad.h"
#include "Base/Input/Keyboard.h"
#include "Base/Reflection/Registration.h"

namespace {

using namespace Base;
using Base::Reflection::QuotedDescription;

// Static initialisers of different files run in link order: the class must carry its registered name
// before its methods are listed under it. Registering again later changes nothing.
template <class T>
void EnsureRegistered(const char* name) {
  if (Reflection::TypeOf<T>()->name.empty()) Reflection::RegisterType<T>(name, false);
  if (Reflection::TypeOf<T*>()->name.empty()) Reflection::RegisterPointerType<T>();
}

template <auto Method>
void BindMethod(const char* qualifiedName, const char* luaName, const char* description) {
  Bind<Method>(qualifiedName, luaName, QuotedDescription(description).c_str());
}

}  // namespace

ORV_ON_LOAD {
  EnsureRegistered<Gamepad>("Base::Gamepad");
  BindMethod<&Gamepad::IsConnected>("Base::Gamepad::IsConnected", "Connected",
                                    "Returns whether the gamepad is connected");
  BindMethod<&Gamepad::IsButtonDown>("Base::Gamepad::IsButtonDown", "_ButtonDown",
                                     "Returns whether the button is down on the gamepad");
  BindMethod<&Gamepad::IsButtonPressed>("Base::Gamepad::IsButtonPressed", "_ButtonPressed",
                                        "Returns whether the button is pressed on the gamepad");
  BindMethod<&Gamepad::IsButtonReleased>("Base::Gamepad::IsButtonReleased", "_ButtonReleased",
                                         "Returns whether the button is release on the gamepad");
  BindMethod<&Gamepad::LeftStick>("Base::Gamepad::LeftStick", "LeftStick",
                                  "Returns the value of a gamepad's left stick between [-1, 1]");
  BindMethod<&Gamepad::RightStick>("Base::Gamepad::RightStick", "RightStick",
                                   "Returns the value of a gamepad's right stick between [-1, 1]");
  BindMethod<&Gamepad::LeftTrigger>("Base::Gamepad::LeftTrigger", "LeftTrigger",
                                    "Returns the left trigger value of a gamepad between [0, 1]");
  BindMethod<&Gamepad::RightTrigger>("Base::Gamepad::RightTrigger", "RightTrigger",
                                     "Returns the right trigger value of a gamepad between [0, 1]");
  BindMethod<&Gamepad::GetVibration>(
      "Base::Gamepad::GetVibration", "GetVibration",
      "Returns the values of a gamepad's vibration between [0, 1] in <Left, Right> order");
  BindMethod<&Gamepad::SetVibration>("Base::Gamepad::SetVibration", "SetVibration",
                                     "Sets the values of a gamepad's vibration");
  BindMethod<&Gamepad::GetState>("Base::Gamepad::GetState", "GetState", "Gets the current state of a game pad.");
  BindMethod<&Gamepad::SetState>("Base::Gamepad::SetState", "SetState", "Sets the state of a game pad.");
  BindMethod<&Gamepad::Reset>("Base::Gamepad::Reset", "Reset", "Resets all gamepad states");

  EnsureRegistered<Keyboard>("Base::Keyboard");
  BindMethod<&Keyboard::IsKeyDown>("Base::Keyboard::IsKeyDown", "KeyDownEx", "Returns whether key is down");
  BindMethod<&Keyboard::IsKeyPressed>("Base::Keyboard::IsKeyPressed", "KeyPressedEx",
                                      "Returns whether the key is pressed");
  BindMethod<&Keyboard::IsKeyReleased>("Base::Keyboard::IsKeyReleased", "KeyReleasedEx",
                                       "Returns whether the key is Released");
}
