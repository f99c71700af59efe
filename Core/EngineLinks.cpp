// The installed links from the object model up to the engine and the scripts.
#include "Core/EngineLinks.h"

namespace Core {
namespace {

// Plain pointers, no static objects with destructors: nothing here can outlive what it points at.
Hooks* g_engineHooks = nullptr;
ScriptCaller g_scriptCaller = nullptr;

}  // namespace

Hooks* GetEngineHooks() { return g_engineHooks; }
void SetEngineHooks(Hooks* hooks) { g_engineHooks = hooks; }

ScriptCaller SetScriptCaller(ScriptCaller caller) {
  ScriptCaller previous = g_scriptCaller;
  g_scriptCaller = caller;
  return previous;
}

void CallScript(const char* function, const Base::Reflection::Variant* args, unsigned argCount,
                Base::Reflection::Variant* result) {
  if (g_scriptCaller) g_scriptCaller(function, args, argCount, result);
}

}  // namespace Core
