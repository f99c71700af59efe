// Registers the fundamental and base value types with the type registry before main: their records,
// pointer types, text functions and members, in the order the rest of the engine expects.
#include <string>
#include <vector>

#include "Base/DebugTimer.h"
#include "Base/Handle.h"
#include "Base/Input/Gamepad.h"
#include "Base/Input/GamepadState.h"
#include "Base/Input/Keyboard.h"
#include "Base/Input/Keys.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/Serialization/ValueText.h"
#include "Base/TraceLog.h"

namespace {

using namespace Base;
using namespace Base::Reflection;
using namespace Base::ValueText;

template <class T>
TypeInfo* Register(const char* name, bool plainData) {
  return RegisterType<T>(TypeRegistry::GetInstance(), sizeof(T), name, name, plainData);
}

template <class T>
TypeInfo* RegisterWithText(const char* name, bool plainData, TypeInfo::TextFn writer,
                           TypeInfo::TextFn reader) {
  TypeInfo* record = Register<T>(name, plainData);
  SetTextFunctions(record, writer, reader);
  return record;
}

template <class T, class M>
void AddMember(TypeInfo* record, const char* name, M T::*field) {
  record->AddMember(TypeOf<M>(), name, FieldOffset<T>(field));
}

}  // namespace

ORV_ON_LOAD {
  RegisterWithText<char>("char", true, &WriteChar, &ReadChar);
  RegisterWithText<int>("int", true, &WriteInt, &ReadInt);
  RegisterWithText<unsigned>("unsigned", true, &WriteUnsigned, &ReadUnsigned);
  RegisterWithText<float>("float", true, &WriteFloat, &ReadFloat);
  RegisterWithText<double>("double", true, &WriteDouble, &ReadDouble);
  Register<char*>("char*", true);

  RegisterPointerAhead<GamepadState>("Base::GamepadState");
  RegisterPointerAhead<std::vector<int>>("std::vector<int>");
  RegisterPointerAhead<std::vector<DebugTimerData>>("std::vector<Base::DebugTimerData>");
  RegisterPointerAhead<std::vector<std::string>>("std::vector<std::string>");
  RegisterPointerAhead<std::vector<bool>>("std::vector<bool>");
  RegisterPointerAhead<Gamepad>("Base::Gamepad");
  RegisterPointerAhead<Keyboard>("Base::Keyboard");
  RegisterPointerAhead<Member>("Base::Member");
  RegisterPointerAhead<TraceLog>("Base::TraceLog");

  Register<void*>("void*", true);
  // The same record as "char*": both names find it, and it takes this second name.
  Register<const char*>("const char*", true);

  TypeInfo* pad = Register<GamepadState>("Base::GamepadState", false);
  AddMember(pad, "buttonStates", &GamepadState::buttonStates);
  AddMember(pad, "leftTrigger", &GamepadState::leftTrigger);
  AddMember(pad, "rightTrigger", &GamepadState::rightTrigger);
  AddMember(pad, "leftStick", &GamepadState::leftStick);
  AddMember(pad, "rightStick", &GamepadState::rightStick);
  AddMember(pad, "leftMotor", &GamepadState::leftMotor);
  AddMember(pad, "rightMotor", &GamepadState::rightMotor);

  // Stored (w, x, y, z), reflected as r, i, j, k; no equality of its own, so it compares by member.
  TypeInfo* quaternion =
      RegisterWithText<Quaternion>("Base::Quaternion", false, &WriteQuaternion, &ReadQuaternion);
  AddMember(quaternion, "r", &Quaternion::w);
  AddMember(quaternion, "i", &Quaternion::x);
  AddMember(quaternion, "j", &Quaternion::y);
  AddMember(quaternion, "k", &Quaternion::z);

  TypeInfo* vec2 = RegisterWithText<Vec2>("Base::Vec2", false, &WriteVec2, &ReadVec2);
  AddMember(vec2, "x", &Vec2::x);
  AddMember(vec2, "y", &Vec2::y);
  TypeInfo* vec3 = RegisterWithText<Vec3>("Base::Vec3", false, &WriteVec3, &ReadVec3);
  AddMember(vec3, "x", &Vec3::x);
  AddMember(vec3, "y", &Vec3::y);
  AddMember(vec3, "z", &Vec3::z);
  TypeInfo* vec4 = RegisterWithText<Vec4>("Base::Vec4", false, &WriteVec4, &ReadVec4);
  AddMember(vec4, "x", &Vec4::x);
  AddMember(vec4, "y", &Vec4::y);
  AddMember(vec4, "z", &Vec4::z);
  AddMember(vec4, "w", &Vec4::w);

  RegisterWithText<std::string>("std::string", false, &WriteString, &ReadString);
  Register<std::vector<int>>("std::vector<int>", false);
  Register<std::vector<DebugTimerData>>("std::vector<Base::DebugTimerData>", false);
  Register<std::vector<std::string>>("std::vector<std::string>", false);
  Register<std::vector<bool>>("std::vector<bool>", false);
  // Bound methods of the devices and the trace log are added by their script bindings.
  Register<Gamepad>("Base::Gamepad", false);

  // Null by default, equal by value. Game spaces install writers that turn handles into object
  // indices; whichever of the two registrations runs first, theirs must stay.
  TypeInfo* handle = Register<Handle>("Base::Handle", false);
  if (!handle->serialize && !handle->deserialize) SetTextFunctions(handle, &WriteHandle, &ReadHandle);

  Register<Keyboard>("Base::Keyboard", false);
  // Matrices have neither members nor operator==: without value equality any two would compare equal.
  Register<Mat2>("Base::Mat2", true)->SetEquals(&EqualsAsFloats<Mat2>);
  Register<Mat3>("Base::Mat3", true)->SetEquals(&EqualsAsFloats<Mat3>);
  Register<Mat4>("Base::Mat4", true)->SetEquals(&EqualsAsFloats<Mat4>);
  Register<Member>("Base::Member", false);
  Register<TraceLog>("Base::TraceLog", false);

  // Enumerations keep their numbers through text like "int" / "unsigned" values do.
  RegisterWithText<GamepadButton>("Base::GamepadButton", true, &WriteInt, &ReadInt);
  RegisterWithText<Keys>("Base::Keys", true, &WriteInt, &ReadInt);
  RegisterWithText<TraceLevel>("Base::TraceLevel", true, &WriteInt, &ReadInt);
  RegisterWithText<TraceModule>("Base::TraceModule", true, &WriteUnsigned, &ReadUnsigned);
  RegisterWithText<bool>("bool", true, &WriteBool, &ReadBool);
}
