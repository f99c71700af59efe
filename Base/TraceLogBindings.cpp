// Script bindings of the trace log: the methods scripts call on the global "trace". Script texts are
// printed literally, never used as a format.
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"

using namespace Base;
using Base::Reflection::BindDescribed;
using Base::Reflection::EnsureRegistered;

ORV_ON_LOAD {
  EnsureRegistered<TraceLog>("Base::TraceLog");

  BindDescribed<&TraceLog::LogMsg>("Base::TraceLog::LogMsg", "LogMsg", "Prints Trace Log messages");
  BindDescribed<&TraceLog::LogMsgEach>("Base::TraceLog::LogMsgEach", "LogMsgEach",
                                       "Prints a Trace Log message once, counting its repeats");
  BindDescribed<&TraceLog::ModuleMuted>("Base::TraceLog::ModuleMuted", "ModuleMuted",
                                        "Returns whether the given module is mutes in the Trace Log");
  BindDescribed<&TraceLog::MuteAll>("Base::TraceLog::MuteAll", "MuteAll", "Mutes all modules for the Trace Log");
  BindDescribed<&TraceLog::SetLevel>("Base::TraceLog::SetLevel", "SetLevel",
                                     "Sets the level of messages printed by the Trace Log");
  BindDescribed<&TraceLog::MuteAllButOne>("Base::TraceLog::MuteAllButOne", "MuteAllButOne",
                                          "Mutes all module but the given log in the Trace Log");
}
