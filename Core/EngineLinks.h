// What game objects and spaces call above themselves (the engine's hook table and the Lua scripts),
// reached through links the engine and the Lua environment install when they start, so that the object
// model builds, runs and is tested without either.
#pragma once

#include "Base/Reflection/Variant.h"

namespace Core {

class Hooks;

// The engine's hook table, or null while no engine has installed it (before it exists, after it is gone).
Hooks* GetEngineHooks();
void SetEngineHooks(Hooks* hooks);

// Calls a Lua function by dotted or colon name ("game:InitObject") with reflected arguments; a result
// variant, when given, receives the function's first return value.
using ScriptCaller = void (*)(const char* function, const Base::Reflection::Variant* args, unsigned argCount,
                              Base::Reflection::Variant* result);

// The Lua environment installs its caller when it initialises (and clears it when it closes); until then
// script calls do nothing. Returns the caller that was installed before.
ScriptCaller SetScriptCaller(ScriptCaller caller);
void CallScript(const char* function, const Base::Reflection::Variant* args, unsigned argCount,
                Base::Reflection::Variant* result = nullptr);

}  // namespace Core
