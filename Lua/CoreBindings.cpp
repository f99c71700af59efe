// The Lua side of the engine core: how components, game objects and spaces travel to and from
// scripts, and the script environment the engine drives (its ScriptHost and script caller).
#include <unordered_set>

#include "Base/FunctionRegistry.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/Engine.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Lua/Convert.h"
#include "Lua/Environment.h"
#include "Lua/Log.h"
#include "Lua/LuaComponentList.h"

namespace Lua {
namespace {

using Base::Reflection::TypeOf;

// --- Components -----------------------------------------------------------------------------------------

// A component reaches scripts as its dynamic class (a Transform with the Transform's methods), and a
// missing one as false.
void PushComponent(lua_State* state, const Variant& value) {
  auto* component = static_cast<Core::GameComponent*>(value.data);
  if (!component) {
    lua_pushboolean(state, 0);
    return;
  }
  const TypeInfo* dynamic = component->m_typeInfo;
  if (!dynamic || dynamic->toLua == &PushComponent) {
    PushObjectReference(state, Variant(TypeOf<Core::GameComponent>(), component));
    return;
  }
  PushVariant(state, Variant(dynamic, component));
}

// Every component class is accepted where a component is expected. The creators guarantee that the
// GameComponent part sits at the object's own address, so no adjustment is needed.
void DeclareComponentClasses() {
  static std::unordered_set<const TypeInfo*> declared;
  const TypeInfo* base = TypeOf<Core::GameComponent>();
  for (uint32_t type = 0; type < Core::ComponentType_Count; ++type) {
    const TypeInfo* record = Core::ComponentRegistry::GetType(type);
    if (!record || record == base || !declared.insert(record).second) continue;
    DeclareSubclass(record, base, [](void* object) { return object; });
  }
}

// --- Game objects -----------------------------------------------------------------------------------------

// nil, or the number -1 (an unset handle in scripts), is no object; an engine userdata is read as usual.
void ReadGameObject(lua_State* state, int index, Variant& value) {
  const int type = lua_type(state, index);
  if (type == LUA_TNIL || (type == LUA_TNUMBER && lua_tonumber(state, index) == -1)) {
    value.data = nullptr;
    return;
  }
  if (type == LUA_TUSERDATA) {
    ReadObjectReference(state, index, value);
    return;
  }
  LUA_LOG(Warning, "Invalid type (%s) found when getting variable from lua: Try using :Func() instead of .Func()",
          lua_typename(state, type));
  value.data = nullptr;
}

void PushObjectSelf(lua_State* state, const Variant& object) {
  lua_pushnumber(state, static_cast<lua_Number>(static_cast<Core::GameObject*>(object.data)->m_self));
}

void PushObjectSpace(lua_State* state, const Variant& object) {
  PushPointerValue(state, static_cast<Core::GameObject*>(object.data)->m_space);
}

// --- The engine's script environment -----------------------------------------------------------------------

void CallFromEngine(const char* function, const Variant* args, unsigned argCount, Variant* result) {
  Environment::GetInstance().CallFunction(function, args, argCount, result);
}

void OpenScripts() {
  DeclareComponentClasses();
  Environment::GetInstance().Init();
  Core::SetScriptCaller(&CallFromEngine);
}

void PublishLibrary(const char* library, const Variant& object, const char* description) {
  Environment::GetInstance().SetGlobal(library, object);
  Base::FunctionRegistry& registry = Base::FunctionRegistry::GetInstance();
  // The engine may be initialised again (a new run in one process): list each library once.
  if (!registry.FindCategory(library))
    registry.RegisterCategory(const_cast<TypeInfo*>(object.type), library, 0, description);
}

void PostInitScripts() { Environment::GetInstance().PostInit(); }

void LoadScriptFolder(const char* folder) { Environment::GetInstance().LoadFolder(folder); }

void CloseScripts() {
  // Only our own caller goes: one a test installed stays.
  const Core::ScriptCaller previous = Core::SetScriptCaller(nullptr);
  if (previous != &CallFromEngine) Core::SetScriptCaller(previous);
  Environment::GetInstance().Close();
  LuaComponentRegistry::GetInstance().Clear();
}

constexpr Core::ScriptHost kScriptHost{&OpenScripts, &PublishLibrary, &PostInitScripts, &LoadScriptFolder,
                                       &CloseScripts};

}  // namespace
}  // namespace Lua

ORV_ON_LOAD {
  using Base::Reflection::TypeOf;
  for (Base::Reflection::TypeInfo* record : {TypeOf<Core::GameComponent>(), TypeOf<Core::GameComponent*>()}) {
    record->toLua = &Lua::PushComponent;
    Lua::SetNullPush(record, [](lua_State* state) { lua_pushboolean(state, 0); });
  }
  for (Base::Reflection::TypeInfo* record : {TypeOf<Core::GameObject>(), TypeOf<Core::GameObject*>()})
    record->fromLua = &Lua::ReadGameObject;
  Lua::DeclareObjectField(TypeOf<Core::GameObject>(), "Value", &Lua::PushObjectAddress);
  Lua::DeclareObjectField(TypeOf<Core::GameObject>(), "Self", &Lua::PushObjectSelf);
  Lua::DeclareObjectField(TypeOf<Core::GameObject>(), "Space", &Lua::PushObjectSpace);
  Core::SetScriptHost(&Lua::kScriptHost);
}
