// The Lua side of the engine core: how components, game objects and spaces travel to and from
// scripts, and how a script's reference to one proves it alive (its space's live number and its
// generational handle), so that a reference kept past the object's end is refused instead of reaching
// freed memory or the object that took its slot.
#include <unordered_map>
#include <unordered_set>

#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Lua/Convert.h"
#include "Lua/Log.h"

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

// Whether objects of `type` are components: the base class, or a class registered for a component type.
// Asked at every push of an engine object, so each record is looked up by name once.
bool IsComponentClass(const TypeInfo* type) {
  static std::unordered_map<const TypeInfo*, bool> known;
  const auto found = known.find(type);
  if (found != known.end()) return found->second;
  bool component = type == TypeOf<Core::GameComponent>() || type == TypeOf<Core::GameComponent*>();
  if (!component) {
    const TypeInfo* record = Core::ComponentRegistry::GetType(Core::ComponentTypeFromName(type->metatableName));
    component = record && record->metatableName == type->metatableName;
  }
  known.emplace(type, component);
  return component;
}

// Every component class is accepted where a component is expected. A component reaches scripts only by
// being pushed, so declaring its class on the way out covers every one a script can hand back. The
// creators guarantee that the GameComponent part sits at the object's own address.
void DeclareComponentClass(const TypeInfo* type) {
  static std::unordered_set<const TypeInfo*> declared;
  const TypeInfo* base = TypeOf<Core::GameComponent>();
  if (type->metatableName == base->metatableName || !declared.insert(type).second) return;
  DeclareSubclass(type, base, [](void* object) { return object; });
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

// --- Proofs of life ----------------------------------------------------------------------------------------

void* FindSpace(uint64_t number, uint64_t) { return Core::FindLiveSpace(number); }

void* FindObject(uint64_t space, uint64_t handle) {
  const Core::GameSpace* live = Core::FindLiveSpace(space);
  return live ? live->GetGameObject(Base::Handle(static_cast<uint32_t>(handle))) : nullptr;
}

void* FindComponent(uint64_t space, uint64_t handle) {
  const Core::GameSpace* live = Core::FindLiveSpace(space);
  return live ? live->GetComponent(Base::Handle(static_cast<uint32_t>(handle))) : nullptr;
}

// Objects and components are proven by their space's live number and their own handle; a space by its
// number alone. One outside every live space (a detached component, a space no engine owns) cannot be.
Proof ProveHandled(const Core::GameSpace* space, Base::Handle self, void* (*find)(uint64_t, uint64_t),
                   LifeProof& proof) {
  const uint64_t number = Core::LiveSpaceNumber(space);
  if (number == 0 || self == Base::kNullHandle) return Proof::Impossible;
  proof = {find, number, self.value};
  return Proof::Recorded;
}

Proof ProveCoreObject(const Variant& object, LifeProof& proof) {
  const TypeInfo* type = object.type;
  if (!type) return Proof::NotNeeded;
  if (type == TypeOf<Core::GameObject>() || type == TypeOf<Core::GameObject*>()) {
    const auto* gameObject = static_cast<const Core::GameObject*>(object.data);
    return ProveHandled(gameObject->GetSpace(), gameObject->GetSelf(), &FindObject, proof);
  }
  if (type == TypeOf<Core::GameSpace>() || type == TypeOf<Core::GameSpace*>()) {
    const uint64_t number = Core::LiveSpaceNumber(static_cast<const Core::GameSpace*>(object.data));
    if (number == 0) return Proof::Impossible;
    proof = {&FindSpace, number, 0};
    return Proof::Recorded;
  }
  if (IsComponentClass(type)) {
    DeclareComponentClass(type);
    const auto* component = static_cast<const Core::GameComponent*>(object.data);
    return ProveHandled(component->GetSpace(), component->GetSelf(), &FindComponent, proof);
  }
  return Proof::NotNeeded;
}

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
  Lua::SetLifeProver(&Lua::ProveCoreObject);
}
