// Script bindings of the trace log: the methods scripts call on the global "trace". Script texts are
// printed literally, never used as a format.
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"

namespace {

using namespace Base;
using Base::Reflection::QuotedDescription;

template <auto Method>
void BindMethod(const char* qualifiedName, const char* luaName, const char* description) {
  Bind<Method>(qualifiedName, luaName, QuotedDescription(description).c_str());
}

}  // namespace

ORV_ON_LOAD {
  // Static initialisers of different files run in link order: the class must carry its registered
  // name before its methods are listed under it. Registering again later changes nothing.
  if (Reflection::TypeOf<TraceLog>()->name.empty()) Reflection::RegisterType<TraceLog>("Base::TraceLog", false);
  if (Reflection::TypeOf<TraceLog*>()->name.empty()) Reflection::RegisterPointerType<TraceLog>();

  BindMethod<&TraceLog::LogMsg>("Base::TraceLog::LogMsg", "LogMsg", "Prints Trace Log messages");
  BindMethod<&TraceLog::ModuleMuted>("Base::TraceLog::ModuleMuted", "ModuleMuted",
                                     "Returns whether the given module is mutes in the Trace Log");
  BindMethod<&TraceLog::MuteAll>("Base::TraceLog::MuteAll", "MuteAll", "Mutes all modules for the Trace Log");
  BindMethod<&TraceLog::SetLevel>("Base::TraceLog::SetLevel", "SetLevel",
                                  "Sets the level of messages printed by the Trace Log");
  BindMethod<&TraceLog::MuteAllButOne>("Base::TraceLog::MuteAllButOne", "MuteAllButOne",
                                       "Mutes all module but the given log in the Trace Log");
}
