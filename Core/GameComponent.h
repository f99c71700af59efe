// The base of every component: owner and space by handle, its type record and type id, the hooks into
// its life (initialise, uninitialise) and equality and copy of its reflected members.
#pragma once

#include <cstdint>
#include <string_view>

#include "Base/Handle.h"
#include "Base/Reflection/Enum.h"
#include "Base/Reflection/TypeInfo.h"
#include "Core/Generic.h"

namespace Core {

class GameObject;
class Transform;

// The native component classes in "ComponentType" order: the one list their type ids, their names
// (the block names of components in text files) and the reflected enumeration are all built from, so a
// new component type is one line here. Script components stay last: the types before them each have a
// handle slot on a game object, script components are kept in a list.
#define ORV_COMPONENT_TYPES(X)                                                                            \
  X(Transform) X(Camera) X(Model) X(RigidBody) X(ColliderCube) X(ColliderCapsule) X(ColliderGround)       \
  X(ColliderSphere) X(ColliderSlant) X(ColliderPolytope) X(AnimationController) X(SoundEmitter) X(Spinner) \
  X(Skybox) X(PointLight) X(SpotLight) X(DirectionalLight) X(ParticleSystem) X(LuaComponent)

// A game object's handle slot and a space's pool for each native component class.
enum ComponentType : uint32_t {
#define ORV_COMPONENT_TYPE_ID(name) ComponentType_##name,
  ORV_COMPONENT_TYPES(ORV_COMPONENT_TYPE_ID)
#undef ORV_COMPONENT_TYPE_ID
  ComponentType_Count,
};
static_assert(ComponentType_LuaComponent + 1 == ComponentType_Count, "script components come last");

// The reflected enumeration "ComponentType": the names of the list above, "countComponents" last.
const Base::Enum& ComponentTypeEnum();
// The "ComponentType" name of an id ("Transform"), or "countComponents" for any id out of range.
const char* ComponentTypeName(uint32_t type);
// The id of a "ComponentType" name (the block name of a component in text files), or ComponentType_Count
// when the name is not a component type.
uint32_t ComponentTypeFromName(std::string_view name);

class GameComponent : public Generic {
 public:
  GameComponent();
  // Copies every field, own handle, space and owner included (the type record's copy operations).
  GameComponent(const GameComponent&) = default;
  // Components are copied member by member through Assign, never as whole C++ objects.
  GameComponent& operator=(const GameComponent&) = delete;
  virtual ~GameComponent();

  // Connects the component to its events (listeners keyed by m_self); runs when its object initialises,
  // after m_owner is set.
  virtual void Initialize() {}
  // Disconnects what Initialize connected.
  virtual void Uninitialize() {}
  // Reflection equality: same type record and every reflected member equal.
  virtual bool Equals(const GameComponent& other) const;
  // Reflection copy of every reflected member; nothing when the two are of different types.
  virtual GameComponent& Assign(const GameComponent& other);

  // Script components pull their state from the scripts before they are copied; native components keep
  // all of theirs in members.
  virtual void RefreshState() {}
  // Script components tell the scripts they are removed from their object.
  virtual void NotifyRemoved() {}

  GameSpace* GetSpace() const { return m_space; }
  Base::Handle GetSelf() const { return m_self; }
  // The owning object, or null when the owner handle does not resolve in the component's space.
  GameObject* GetOwner() const;
  // The owner's Transform (its slot 0), or null.
  Transform* GetOwnerTransform() const;

  // Fields after the Generic part, in this order.
  Base::Handle m_owner = Base::kNullHandle;
  Base::Reflection::TypeInfo* m_typeInfo = nullptr;  // set by the creator
  uint32_t m_componentType = ComponentType_Count;    // set by the creator
  // Set when the owning object detaches the component, so that a later removal does not uninitialise
  // it a second time.
  bool m_uninitialized = false;
};

// Deletes a component made by a creator's CreateDetached (or by its type record's New).
void DeleteDetachedComponent(GameComponent* component);

// Points a component class's type record at the component forms of assign (Assign), equals (Equals)
// and delete (the virtual destructor): call it in the class's registration body.
void InstallComponentOps(Base::Reflection::TypeInfo* record);

}  // namespace Core
