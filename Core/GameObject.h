// A game object: a name, the archetype it came from, one component handle per native component type,
// its script components, a parent and children, all by handle in its space; and its hook table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Base/Handle.h"
#include "Core/GameComponent.h"
#include "Core/Generic.h"
#include "Core/Hooks.h"

namespace Base {
class File;
class Serializer;
}  // namespace Base

namespace Core {

// "g%u_%hu:%hu": the object's number, its handle's slot index and generation, as log lines name it.
struct ObjectLogName {
  explicit ObjectLogName(const GameObject& object);
  const char* c_str() const { return text; }
  char text[48];
};

// Lives in its space's object pool; the space creates, numbers and destroys it.
class GameObject : public Generic {
 public:
  GameObject();
  // Initialised objects detach and destroy their components; others destroy them without detaching.
  ~GameObject();
  // An object's handles and hook table belong to its space: copy with CopyFrom instead.
  GameObject(const GameObject&) = delete;
  GameObject& operator=(const GameObject&) = delete;

  // --- Components -----------------------------------------------------------------------------------
  // Makes this object the component's owner and stores it in its slot (script components: appended to the
  // list). A different component already in the slot is destroyed first (uninitialised if it was
  // initialised), with a warning. Not initialised here.
  void AttachComponent(GameComponent* component);
  // The component of a type id, or null (empty or stale slot, script components, id out of range).
  GameComponent* GetComponent(int type) const;
  template <class T>
  T* GetComponent() const {
    GameComponent* component = GetComponent(int(T::kComponentType));
    return component && component->m_typeInfo == Base::Reflection::TypeOf<T>() ? static_cast<T*>(component)
                                                                                 : nullptr;
  }
  // Uninitialises the component of a type id; its handle stays in the slot.
  void DetachComponent(uint32_t type);
  // Detaches (unless already detached) and destroys the component of a type id (0 to 17).
  void RemoveComponent(uint32_t type);
  // Removes script component `index`: the last one takes its place.
  void RemoveLuaComponent(uint32_t index);
  uint32_t LuaComponentCount() const { return uint32_t(m_luaComponents.size()); }
  GameComponent* GetLuaComponent(uint32_t index) const;

  // --- Life -----------------------------------------------------------------------------------------
  // Sets the owner of every component, initialises them (slots in id order, then scripts in order) and
  // tells the scripts ("game:InitObject").
  void Initialize();
  // Initialises every descendant once, children before their parent; not this object itself.
  void InitializeChildren();
  // Marks this object and its subtree (children first) for destruction at the end of the frame and fires
  // "ObjectDestroyed" on the engine, space and object hook tables. Nothing for a marked object.
  void Destroy();
  // Copies names, components (the Transform only when asked), script components and children from
  // another object, possibly of another space; new children are initialised.
  void CopyFrom(const GameObject& source, bool includeTransform);

  // --- Parenting --------------------------------------------------------------------------------------
  // Makes `parent` this object's parent (null: no parent) and fires "Parented" on this object. Nothing
  // when it is already the parent; refused (logged) for this object itself, one of its descendants or an
  // object of another space.
  void SetParent(GameObject* parent);
  // Fires "UnParented" while the link still stands, then drops it.
  void UnParent();
  // Takes `child` out of the child list, keeping the order of the rest.
  void RemoveChild(const GameObject* child);
  GameObject* Parent() const;
  int ChildCount() const { return int(m_children.size()); }
  // One entry per child handle, null where a handle no longer resolves.
  std::vector<GameObject*> ChildObjectList() const;
  GameObject* ChildbyIndex(int index) const;
  GameObject* ChildbyHandle(Base::Handle handle) const;
  GameObject* ChildbyName(const char* name) const;
  // Visits the descendants depth first in child-list order: `enter` runs on reaching an object and says
  // whether to go into its children, `leave` runs once they are done. A child list is read when its
  // object is entered, so listeners that re-parent during the walk cannot derail it; children that no
  // longer resolve are passed over. No recursion: any depth is safe.
  void WalkDescendants(const std::function<bool(GameObject&)>& enter,
                       const std::function<void(GameObject&)>& leave = {});
  // After a space file was read: appends every object to its parent's child list (no "Parented"), in
  // the given (pool) order. A loop of parent links is cut at its first object, with an error.
  static void LinkToParents(GameSpace& space, const std::vector<GameObject*>& objects);

  // --- Names and identity -----------------------------------------------------------------------------
  Base::Handle GetSelf() const { return m_self; }
  GameSpace* GetSpace() const { return m_space; }
  unsigned GUID() const { return m_guid; }
  const char* GetName() const { return m_name.c_str(); }
  void Name(const char* name) { m_name = name ? name : ""; }
  const char* GetArchetype() const { return m_archetype.c_str(); }
  Hooks& GetHooks() { return m_hooks; }
  bool IsAlive() const { return m_alive; }
  bool IsInitialized() const { return m_initialized; }

  // Equal names and archetype names, and for every id 0 to 17 either no component on both or two Equals
  // components. Handles, numbers, parents, children and script components do not count.
  bool Equals(const GameObject& other) const;

  // --- Text form --------------------------------------------------------------------------------------
  // Writes the object block at the serializer's depth: header, members, components.
  void WriteText(Base::File& file, Base::Serializer& serializer) const;
  // Reads an object block (positioned at its header) into this object: members, then components, which
  // are attached. False (logged) when the block is not a GameObject block.
  bool ReadText(Base::File& file, Base::Serializer& serializer);

  // Fields after the Generic part, in this order.
  uint32_t m_guid = 0;  // set by the space
  std::string m_name;
  std::string m_archetype;
  bool m_ownsComponents = true;
  bool m_alive = false;
  bool m_initialized = false;
  Base::Handle m_components[ComponentType_Count];  // slot 18 unused: script components are listed below
  std::vector<Base::Handle> m_luaComponents;
  std::vector<Base::Handle> m_children;
  Base::Handle m_parent = Base::kNullHandle;
  Hooks m_hooks;

 private:
  void DestroyComponents();
  GameComponent* ResolveComponent(Base::Handle handle) const;
  GameObject* ResolveObject(Base::Handle handle) const;
  bool IsDescendant(const GameObject* object) const;
  // Tells this object's Transform that its parent link changed.
  void ParentLinkChanged();
};

// The text form of a handle inside a space file: "Handle <index>", the referenced object's index in the
// attached load context, or -1 (null, unresolved, no context).
void WriteHandleText(Base::File& file, Base::Handle handle);
Base::Handle ReadHandleText(Base::File& file);

}  // namespace Core
