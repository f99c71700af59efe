// Script bindings of the quaternion. Quaternions reach scripts as value userdata, so these methods act
// on the script's own copy.
#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"

namespace {

using namespace Base;
using Base::Reflection::QuotedDescription;

template <auto Method>
void BindMethod(const char* qualifiedName, const char* luaName, const char* description) {
  Bind<Method>(qualifiedName, luaName, QuotedDescription(description).c_str());
}

}  // namespace

ORV_ON_LOAD {
  // Static initialisers of different files run in link order: the type must carry its registered name
  // before its methods are listed under it. The full registration (members, text) may come later.
  if (Reflection::TypeOf<Quaternion>()->name.empty())
    Reflection::RegisterType<Quaternion>("Base::Quaternion", false);

  BindMethod<&Quaternion::LookAtV>("Base::Quaternion::LookAtV", "LookAt",
                                   "Sets look at vector while maintaining the current up vector");
  BindMethod<&Quat::RotateAroundAxisV>("Base::Quat::RotateAroundAxisV", "RotateAroundAxis",
                                       "Rotates about an axis by a given degrees");
  BindMethod<&Quat::SetEulerAngles>("Base::Quat::SetEulerAngles", "SetEulerAngles", "Sets the euler angles");
  BindMethod<&Quat::GetEulerAngles>("Base::Quat::GetEulerAngles", "GetEulerAngles", "Gets the euler angles");
  BindMethod<&Quat::LuaSlerp>("Base::Quat::LuaSlerp", "LuaSlerp", "Slerps the quaternion");
  BindMethod<&Quat::LuaLerp>("Base::Quat::LuaLerp", "LuaLerp", "Lerps the quaternion");
  BindMethod<&Quat::Reset>("Base::Quat::Reset", "Reset", "Resets the quaternion to 1,0,0,0");
}
