// Script bindings of the quaternion. Quaternions reach scripts as value userdata, so these methods act
// on the script's own copy.
#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"

using namespace Base;
using Base::Reflection::BindDescribed;
using Base::Reflection::EnsureRegistered;

ORV_ON_LOAD {
  EnsureRegistered<Quaternion>("Base::Quaternion", false);

  BindDescribed<&Quaternion::LookAtV>("Base::Quaternion::LookAtV", "LookAt",
                                      "Sets look at vector while maintaining the current up vector");
  BindDescribed<&Quat::RotateAroundAxisV>("Base::Quat::RotateAroundAxisV", "RotateAroundAxis",
                                          "Rotates about an axis by a given degrees");
  BindDescribed<&Quat::SetEulerAngles>("Base::Quat::SetEulerAngles", "SetEulerAngles", "Sets the euler angles");
  BindDescribed<&Quat::GetEulerAngles>("Base::Quat::GetEulerAngles", "GetEulerAngles", "Gets the euler angles");
  BindDescribed<&Quat::LuaSlerp>("Base::Quat::LuaSlerp", "LuaSlerp", "Slerps the quaternion");
  BindDescribed<&Quat::LuaLerp>("Base::Quat::LuaLerp", "LuaLerp", "Lerps the quaternion");
  BindDescribed<&Quat::Reset>("Base::Quat::Reset", "Reset", "Resets the quaternion to 1,0,0,0");
}
