// The base of every component: owner and space by handle, its type record and type id, the hooks into
// its life (initialise, uninitialise) and equality and copy of its reflected members.
#pragma once

#include <cstdint>
#include <string_view>

#include "Base/Handle.h"
#include "Base/Reflection/TypeInfo.h"
#include "Core/Generic.h"

namespace Core {

class GameObject;
class Transform;

// Values of the reflected enumeration "ComponentType": a game object's handle slot and a space's pool
// for each native component class. Their names are also the block names of components in text files.
enum ComponentType : uint32_t {
  ComponentType_Transform = 0,
  ComponentType_Camera = 1,
  ComponentType_Model = 2,
  ComponentType_RigidBody = 3,
  ComponentType_ColliderCube = 4,
  ComponentType_ColliderCapsule = 5,
  ComponentType_ColliderGround = 6,
  ComponentType_ColliderSphere = 7,
  ComponentType_ColliderSlant = 8,
  ComponentType_ColliderPolytope = 9,
  ComponentType_AnimationController = 10,
  ComponentType_SoundEmitter = 11,
  ComponentType_Spinner = 12,
  ComponentType_Skybox = 13,
  ComponentType_PointLight = 14,
  ComponentType_SpotLight = 15,
  ComponentType_DirectionalLight = 16,
  ComponentType_ParticleSystem = 17,
  ComponentType_LuaComponent = 18,  // script components: kept in a list, not in a slot
  ComponentType_Count = 19,
};

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
