// Game objects: components by slot and script list, initialisation, marking for destruction, parenting,
// copying, equality, the object block of space files, and the reflection of the object.
#include "Core/GameObject.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "Base/Assert.h"
#include "Base/Reflection/Registration.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameSpace.h"
#include "Core/Log.h"
#include "Core/ObjectText.h"
#include "Core/Transform.h"

namespace Core {
namespace {

using Base::Reflection::TypeInfo;
using Base::Reflection::Variant;

void ReportMissingComponent(uint32_t type, const GameObject& object) {
  CORE_LOG(Error, "Attempted to detach a non-existant %s component from object %s",
               ComponentTypeName(type), ObjectLogName(object).c_str());
}

}  // namespace

ObjectLogName::ObjectLogName(const GameObject& object) {
  std::snprintf(text, sizeof(text), "g%u_%hu:%hu", object.m_guid, Base::HandleIndex(object.m_self),
                Base::HandleGeneration(object.m_self));
}

GameObject::GameObject() : Generic(GenericType_GameObject) {
  std::fill(std::begin(m_components), std::end(m_components), Base::kNullHandle);
}

GameObject::~GameObject() {
  if (m_initialized) {
    while (!m_luaComponents.empty()) RemoveLuaComponent(0);
    // Every component is detached before any is destroyed: one may still reach another while it detaches.
    for (uint32_t type = 0; type < ComponentType_LuaComponent; ++type) {
      GameComponent* component = GetComponent(int(type));
      if (component && !component->m_uninitialized) {
        component->Uninitialize();
        component->m_uninitialized = true;
      }
    }
    DestroyComponents();
    m_ownsComponents = false;
  } else {
    // Never initialised: nothing is connected, but the components are still live objects in the pools.
    DestroyComponents();
  }
  m_hooks.Clear(true);
}

void GameObject::DestroyComponents() {
  for (Base::Handle& slot : m_components) {
    if (GameComponent* component = ResolveComponent(slot)) m_space->RemoveComponent(component);
    slot = Base::kNullHandle;
  }
  for (Base::Handle handle : m_luaComponents)
    if (GameComponent* component = ResolveComponent(handle)) m_space->RemoveComponent(component);
  m_luaComponents.clear();
}

GameComponent* GameObject::ResolveComponent(Base::Handle handle) const {
  return m_space ? m_space->GetComponent(handle) : nullptr;
}

GameObject* GameObject::ResolveObject(Base::Handle handle) const {
  return m_space ? m_space->GetGameObject(handle) : nullptr;
}

// --- Components -------------------------------------------------------------------------------------------

void GameObject::AttachComponent(GameComponent* component) {
  if (!component) return;
  if (!m_space || component->m_space != m_space) {
    CORE_LOG(Error, "Attempted to attach a %s component of another space to object %s",
                 ComponentTypeName(component->m_componentType), ObjectLogName(*this).c_str());
    return;
  }
  const uint32_t type = component->m_componentType;
  if (type == ComponentType_LuaComponent) {
    component->m_owner = m_self;
    if (std::find(m_luaComponents.begin(), m_luaComponents.end(), component->m_self) == m_luaComponents.end())
      m_luaComponents.push_back(component->m_self);
    return;
  }
  if (type >= ComponentType_LuaComponent) {
    CORE_LOG(Error, "Attempted to attach a component of unknown type %u to object %s", type,
                 ObjectLogName(*this).c_str());
    return;
  }
  component->m_owner = m_self;
  Base::Handle& slot = m_components[type];
  if (slot == component->m_self) return;
  if (GameComponent* previous = ResolveComponent(slot)) {
    // Left in its pool it would keep its listeners and be updated with no object to show for it.
    CORE_LOG(Warning, "Object %s already has a %s component: the old one is destroyed",
                 ObjectLogName(*this).c_str(), ComponentTypeName(type));
    if (!previous->m_uninitialized) {
      previous->Uninitialize();
      previous->m_uninitialized = true;
    }
    m_space->RemoveComponent(previous);
  }
  slot = component->m_self;
}

GameComponent* GameObject::GetComponent(int type) const {
  if (type < 0 || type >= int(ComponentType_LuaComponent)) return nullptr;
  return ResolveComponent(m_components[type]);
}

GameComponent* GameObject::GetLuaComponent(uint32_t index) const {
  return index < m_luaComponents.size() ? ResolveComponent(m_luaComponents[index]) : nullptr;
}

void GameObject::DetachComponent(uint32_t type) {
  GameComponent* component = GetComponent(int(type));
  if (!component) {
    ReportMissingComponent(type, *this);
    return;
  }
  component->Uninitialize();
  component->m_uninitialized = true;
}

void GameObject::RemoveComponent(uint32_t type) {
  if (type == ComponentType_LuaComponent) return;
  GameComponent* component = GetComponent(int(type));
  if (!component) {
    ReportMissingComponent(type, *this);
    return;
  }
  if (!component->m_uninitialized) DetachComponent(type);
  m_space->RemoveComponent(component);
  m_components[type] = Base::kNullHandle;
}

void GameObject::RemoveLuaComponent(uint32_t index) {
  if (index >= m_luaComponents.size()) {
    CORE_LOG(Warning, "Tried to remove lua component at index %d but no such component!",
                 int(index));
    return;
  }
  const Base::Handle handle = m_luaComponents[index];
  m_luaComponents[index] = m_luaComponents.back();
  m_luaComponents.pop_back();
  if (GameComponent* component = ResolveComponent(handle)) {
    component->Uninitialize();
    component->NotifyRemoved();
    m_space->RemoveComponent(component);
  }
}

// --- Life ---------------------------------------------------------------------------------------------

void GameObject::Initialize() {
  m_initialized = true;
  m_hooks.SetHandleManager(m_space ? &m_space->GetHandles() : nullptr);
  for (uint32_t type = 0; type < ComponentType_LuaComponent; ++type) {
    if (GameComponent* component = GetComponent(int(type))) {
      component->m_owner = m_self;
      component->Initialize();
    }
  }
  // A script may add or remove script components while one initialises: walk a copy.
  const std::vector<Base::Handle> scripts = m_luaComponents;
  for (Base::Handle handle : scripts) {
    if (GameComponent* component = ResolveComponent(handle)) {
      component->m_owner = m_self;
      component->Initialize();
    }
  }
  if (!m_space) return;
  std::string spaceName = m_space->GetName();
  unsigned self = m_self;
  Variant args[] = {Variant(&spaceName), Base::Reflection::MakeVariant(self)};
  CallScript("game:InitObject", args, 2);
}

void GameObject::InitializeChildren() {
  WalkDescendants([](GameObject&) { return true; }, [](GameObject& child) { child.Initialize(); });
}

void GameObject::Destroy() {
  if (!m_alive) return;
  // Cleared on the way down, so that even a corrupt tree cannot bring the walk back to a marked object;
  // queued on the way up, so that children come before their parent.
  m_alive = false;
  auto mark = [](GameObject& object) {
    if (!object.m_space) return;
    object.m_space->QueueDestroy(object.m_self);
    GameObject* self = &object;
    if (Hooks* engine = GetEngineHooks()) engine->Call("ObjectDestroyed", self);
    object.m_space->GetHooks().Call("ObjectDestroyed", self);
    object.m_hooks.Call("ObjectDestroyed");
  };
  WalkDescendants(
      [](GameObject& child) {
        if (!child.m_alive) return false;
        child.m_alive = false;
        return true;
      },
      mark);
  mark(*this);
}

void GameObject::CopyFrom(const GameObject& source, bool includeTransform) {
  if (&source == this || !m_space) return;
  m_archetype = source.m_archetype;
  m_name = source.m_name;

  for (uint32_t type = 0; type < ComponentType_LuaComponent; ++type) {
    GameComponent* from = source.GetComponent(int(type));
    if (!from) continue;
    GameComponent* to = GetComponent(int(type));
    if (!to) {
      to = m_space->CreateComponent(type);
      if (!to) continue;
      to->m_owner = m_self;
      AttachComponent(to);
    }
    if (type == ComponentType_Transform && !includeTransform) continue;
    if (TypeInfo* record = ComponentRegistry::GetType(type); record && record->Assign) record->Assign(to, from);
  }

  while (!m_luaComponents.empty()) RemoveLuaComponent(0);
  const std::vector<Base::Handle> scripts = source.m_luaComponents;
  for (Base::Handle handle : scripts) {
    GameComponent* from = source.ResolveComponent(handle);
    if (!from) continue;
    from->RefreshState();
    GameComponent* to = m_space->CreateComponent(ComponentType_LuaComponent);
    if (!to) continue;
    to->m_owner = m_self;
    AttachComponent(to);
    if (to->m_typeInfo != from->m_typeInfo || !to->m_typeInfo) continue;
    char* target = reinterpret_cast<char*>(to);
    const char* origin = reinterpret_cast<const char*>(from);
    for (const Base::Reflection::Member& member : to->m_typeInfo->members)
      if (member.type && member.type->Assign) member.type->Assign(target + member.offset, origin + member.offset);
  }

  // Each new child's copy initialised its own descendants already; here only the new children follow,
  // so that every new object is initialised exactly once, children before their parent.
  std::vector<GameObject*> made;
  for (GameObject* from : source.ChildObjectList()) {
    if (!from) continue;
    GameObject* child = m_space->CreateObject();
    if (!child) continue;
    child->CopyFrom(*from, true);
    if (child->m_parent != Base::kNullHandle) child->UnParent();
    child->m_parent = m_self;
    m_children.push_back(child->m_self);
    child->m_hooks.Call("Parented");
    child->ParentLinkChanged();
    made.push_back(child);
  }
  for (GameObject* child : made) child->Initialize();
}

// --- Parenting ------------------------------------------------------------------------------------------

bool GameObject::IsDescendant(const GameObject* object) const {
  // Bounded by the number of objects, so that no walk can run forever.
  uint32_t steps = m_space ? m_space->GetObjectCount() : 0;
  const GameObject* ancestor = object ? object->Parent() : nullptr;
  for (; ancestor && steps > 0; ancestor = ancestor->Parent(), --steps)
    if (ancestor == this) return true;
  ORV_ASSERT(!ancestor);  // parent links never loop
  return false;
}

void GameObject::ParentLinkChanged() {
  // A Transform listening on this object has followed already (marking again costs nothing then); one
  // that is not listening yet must still see its world values change.
  if (Transform* transform = GetComponent<Transform>()) transform->MarkWorldMatrixDirty();
}

void GameObject::WalkDescendants(const std::function<bool(GameObject&)>& enter,
                                 const std::function<void(GameObject&)>& leave) {
  if (!m_space) return;
  struct Step {
    Base::Handle object;
    bool leaving;
  };
  std::vector<Step> pending;
  auto pushChildren = [&pending](const std::vector<Base::Handle>& children) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back({*it, false});
  };
  pushChildren(m_children);
  uint32_t entered = 0;
  while (!pending.empty()) {
    const Step step = pending.back();
    pending.pop_back();
    GameObject* object = ResolveObject(step.object);
    if (!object) continue;
    if (step.leaving) {
      if (leave) leave(*object);
      continue;
    }
    // A tree meets each object once; more means a loop of parent links, which parenting refuses.
    const bool withinTree = ++entered <= m_space->GetObjectCount();
    ORV_ASSERT(withinTree);
    if (!withinTree) return;
    if (!enter(*object)) continue;
    pending.push_back({step.object, true});
    pushChildren(object->m_children);
  }
}

void GameObject::LinkToParents(GameSpace& space, const std::vector<GameObject*>& objects) {
  // Positions in `objects` by handle slot, so that every look-up below is constant time.
  std::vector<uint32_t> position(Base::HandleManager::kSlotCount, UINT32_MAX);
  for (uint32_t i = 0; i < objects.size(); ++i) position[Base::HandleIndex(objects[i]->m_self)] = i;
  auto parentOf = [&](uint32_t i) -> uint32_t {
    const GameObject* parent = space.GetGameObject(objects[i]->m_parent);
    return parent ? position[Base::HandleIndex(parent->m_self)] : UINT32_MAX;
  };

  // One pass up from each object, stopping at what an earlier pass settled: a pass that comes back to
  // itself has found a loop, cut at its first object in pool order.
  enum : uint8_t { Unseen, OnPath, Settled };
  std::vector<uint8_t> state(objects.size(), Unseen);
  std::vector<bool> cut(objects.size(), false);
  std::vector<uint32_t> path;
  for (uint32_t start = 0; start < objects.size(); ++start) {
    path.clear();
    uint32_t i = start;
    while (i != UINT32_MAX && state[i] == Unseen) {
      state[i] = OnPath;
      path.push_back(i);
      i = parentOf(i);
    }
    if (i != UINT32_MAX && state[i] == OnPath) {
      uint32_t first = i;
      for (uint32_t j = parentOf(i); j != i; j = parentOf(j)) first = std::min(first, j);
      cut[first] = true;
    }
    for (uint32_t j : path) state[j] = Settled;
  }

  // Objects read with the space have empty lists; only children listed before the read are searched.
  std::vector<size_t> listed(objects.size());
  for (uint32_t i = 0; i < objects.size(); ++i) listed[i] = objects[i]->m_children.size();
  for (uint32_t i = 0; i < objects.size(); ++i) {
    GameObject* object = objects[i];
    if (object->m_parent == Base::kNullHandle) continue;
    GameObject* parent = space.GetGameObject(object->m_parent);
    if (!parent) continue;
    if (cut[i]) {
      CORE_LOG(Error, "Object %s of space \"%s\" is its own ancestor: its parent link is dropped",
               ObjectLogName(*object).c_str(), space.GetName().c_str());
      object->m_parent = Base::kNullHandle;
      continue;
    }
    std::vector<Base::Handle>& children = parent->m_children;
    const uint32_t at = position[Base::HandleIndex(parent->m_self)];
    const auto end = children.begin() + std::ptrdiff_t(at == UINT32_MAX ? children.size() : listed[at]);
    if (std::find(children.begin(), end, object->m_self) == end) children.push_back(object->m_self);
  }
}

void GameObject::SetParent(GameObject* parent) {
  if (!parent) {
    UnParent();
    return;
  }
  if (!m_space || parent->m_space != m_space) {
    CORE_LOG(Warning, "Attempted to parent object %s to an object of another space", ObjectLogName(*this).c_str());
    return;
  }
  if (parent->m_self == m_parent) return;
  if (parent == this || IsDescendant(parent)) {
    CORE_LOG(Warning, "Attempted to parent object %s to itself or to one of its descendants",
             ObjectLogName(*this).c_str());
    return;
  }
  UnParent();
  m_parent = parent->m_self;
  parent->m_children.push_back(m_self);
  m_hooks.Call("Parented");
  ParentLinkChanged();
}

void GameObject::UnParent() {
  if (m_parent == Base::kNullHandle) return;
  m_hooks.Call("UnParented");
  if (GameObject* parent = ResolveObject(m_parent)) parent->RemoveChild(this);
  m_parent = Base::kNullHandle;
  ParentLinkChanged();
}

void GameObject::RemoveChild(const GameObject* child) {
  if (!child) return;
  const auto found = std::find(m_children.begin(), m_children.end(), child->m_self);
  if (found != m_children.end()) m_children.erase(found);
}

GameObject* GameObject::Parent() const { return ResolveObject(m_parent); }

std::vector<GameObject*> GameObject::ChildObjectList() const {
  std::vector<GameObject*> children;
  children.reserve(m_children.size());
  for (Base::Handle handle : m_children) children.push_back(ResolveObject(handle));
  return children;
}

GameObject* GameObject::ChildbyIndex(int index) const {
  return index >= 0 && size_t(index) < m_children.size() ? ResolveObject(m_children[size_t(index)]) : nullptr;
}

GameObject* GameObject::ChildbyHandle(Base::Handle handle) const {
  return std::find(m_children.begin(), m_children.end(), handle) != m_children.end() ? ResolveObject(handle)
                                                                                       : nullptr;
}

GameObject* GameObject::ChildbyName(const char* name) const {
  if (!name) return nullptr;
  for (Base::Handle handle : m_children)
    if (GameObject* child = ResolveObject(handle); child && child->m_name == name) return child;
  return nullptr;
}

bool GameObject::Equals(const GameObject& other) const {
  if (m_name != other.m_name || m_archetype != other.m_archetype) return false;
  for (uint32_t type = 0; type < ComponentType_LuaComponent; ++type) {
    const GameComponent* mine = GetComponent(int(type));
    const GameComponent* theirs = other.GetComponent(int(type));
    if (!mine != !theirs) return false;
    if (mine && !mine->Equals(*theirs)) return false;
  }
  return true;
}

// --- Text form ------------------------------------------------------------------------------------------
// The object block's format lives with the rest of the object text (Core/ObjectText.cpp).

void GameObject::WriteText(Base::File& file, Base::Serializer& serializer) const {
  ObjectText::WriteObject(file, serializer, *this);
}

bool GameObject::ReadText(Base::File& file, Base::Serializer& serializer) {
  return ObjectText::ReadObject(file, serializer, *this);
}

namespace {

void WriteObject(Base::File& file, const Variant& value) {
  if (!value.data) return;
  if (Base::Serializer* serializer = file.GetSerializer()) {
    static_cast<const GameObject*>(value.data)->WriteText(file, *serializer);
    return;
  }
  Base::Serializer fresh;
  static_cast<const GameObject*>(value.data)->WriteText(file, fresh);
}

void ReadObject(Base::File& file, const Variant& value) {
  if (!value.data) return;
  if (Base::Serializer* serializer = file.GetSerializer()) {
    static_cast<GameObject*>(value.data)->ReadText(file, *serializer);
    return;
  }
  Base::Serializer fresh;
  static_cast<GameObject*>(value.data)->ReadText(file, fresh);
}

void WriteHandle(Base::File& file, const Variant& value) {
  if (value.data) WriteHandleText(file, *static_cast<const Base::Handle*>(value.data));
}

void ReadHandle(Base::File& file, const Variant& value) {
  const Base::Handle handle = ReadHandleText(file);
  if (value.data) *static_cast<Base::Handle*>(value.data) = handle;
}

void AssignObject(void* destination, const void* source) {
  static_cast<GameObject*>(destination)->CopyFrom(*static_cast<const GameObject*>(source), true);
}

bool EqualObjects(const void* a, const void* b) {
  return static_cast<const GameObject*>(a)->Equals(*static_cast<const GameObject*>(b));
}

}  // namespace

}  // namespace Core

// Handles inside space files name objects by their index in the file.
ORV_ON_LOAD {
  Base::Reflection::TypeInfo* handle = Base::Reflection::TypeOf<Base::Handle>();
  handle->SetSerializeFunction(&Core::WriteHandle);
  handle->SetDeserializeFunction(&Core::ReadHandle);
}

ORV_REFLECT_CLASS(Core::GameObject) {
  using Core::GameObject;
  type->Assign = &Core::AssignObject;
  type->Equals = &Core::EqualObjects;
  type->SetSerializeFunction(&Core::WriteObject);
  type->SetDeserializeFunction(&Core::ReadObject);
  ORV_FIELD(m_name);
  ORV_FIELD(m_archetype);
  ORV_FIELD(m_guid);
  ORV_FIELD(m_parent);
  type.Method<&GameObject::Name>("Name", nullptr, "Sets the GameObject's name");
  type.Method<&GameObject::GetName>("GetName", nullptr, "Gets the GameObject's name");
  type.Method<&GameObject::GetArchetype>("GetArchetype", nullptr, "Gets the GameObject's archtype");
  type.Method<&GameObject::GUID>("GUID", nullptr, "Gets the GameObject's GUID");
  type.Method<static_cast<Core::GameComponent* (GameObject::*)(int) const>(&GameObject::GetComponent)>(
      "GetComponent", "GetCPPComponent", "Returns a GameComponent of the GameObject");
  type.Method<&GameObject::GetSelf>("GetSelf", nullptr, "Get the GameObject's Handle. You can just use .Self instead.");
  type.Method<&GameObject::GetSpace>("GetSpace", nullptr,
                                     "Gets the GameObject's Game Space. You can just use .Space instead.");
  type.Method<&GameObject::Parent>("Parent", nullptr, "Returns a GameObject that is the parent of the GameObject");
  type.Method<&GameObject::SetParent>("SetParent", nullptr, "Sets the GameObject's parent");
  type.Method<&GameObject::ChildbyName>("ChildbyName", nullptr, "Finds a child with corresponding name ");
  type.Method<&GameObject::ChildbyHandle>("ChildbyHandle", nullptr, "Finds a child with corresponding handle");
  type.Method<&GameObject::ChildbyIndex>("ChildbyIndex", nullptr, "Return the child base on its index in the child list");
  type.Method<&GameObject::ChildCount>("ChildCount", nullptr, "Gets the GameObject's count of childern");
  type.Method<&GameObject::ChildObjectList>("ChildObjectList", nullptr, "Returns a list of the GameObject's childern");
}
