// Game spaces: pools and handles, object creation and deferred destruction, lookups, pausing, the
// space file's object blocks, and the reflection of the space.
#include "Core/GameSpace.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "Base/Reflection/Registration.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/Log.h"
#include "Core/ObjectText.h"
#include "Core/SpaceComponent.h"

namespace Core {
namespace {

SpaceLoadContext* g_currentContext = nullptr;

Base::PBManager::Config PoolConfig(uint32_t alignment) {
  Base::PBManager::Config config;
  config.plainNew = false;
  config.objectsPerPage = GameSpace::kObjectsPerPage;
  config.maxPages = GameSpace::kMaxPages;
  config.debug = false;
  config.padBytes = GameSpace::kPoolPadBytes;
  config.headerKind = Base::PBManager::Header_None;
  config.headerSize = 0;
  config.headerAdditionalBytes = 0;
  config.alignment = std::max<uint32_t>(alignment, 4);
  return config;
}

}  // namespace

SpaceLoadContext* SpaceLoadContext::Current() { return g_currentContext; }

SpaceLoadContext::Scope::Scope(SpaceLoadContext& context) : m_previous(g_currentContext) {
  g_currentContext = &context;
}

SpaceLoadContext::Scope::~Scope() { g_currentContext = m_previous; }

GameSpace::GameSpace() : GameSpace("Unnamed Space") {}

GameSpace::GameSpace(std::string_view name) : m_name(name), m_hooks(&m_handles) { InitComponentPools(); }

void GameSpace::InitComponentPools() {
  m_hooks.SetHandleManager(&m_handles);
  for (uint32_t type = 0; type < ComponentType_Count; ++type)
    if (const ComponentCreator* creator = ComponentRegistry::GetCreator(type))
      m_componentPools[type].Init(creator->m_size, PoolConfig(creator->m_alignment));
  m_objectPool.Init(sizeof(GameObject), PoolConfig(alignof(GameObject)));
  std::fill(std::begin(m_spaceComponents), std::end(m_spaceComponents), nullptr);
}

GameSpace::~GameSpace() {
  DestroyPendingObjects(true);
  DestroyLeftoverComponents();
  for (SpaceComponent*& component : m_spaceComponents) {
    delete component;
    component = nullptr;
  }
  m_hooks.Clear(true);
}

void GameSpace::DestroyLeftoverComponents() {
  // Components never attached (or left by a failed read) still hold live C++ objects and handles.
  for (uint32_t type = ComponentType_Count; type-- > 0;) {
    const ComponentCreator* creator = ComponentRegistry::GetCreator(type);
    if (!creator || m_componentPools[type].GetObjectsInUse() == 0) continue;
    m_componentPools[type].ForEachBlock(
        [&](void* block) { creator->Destroy(this, static_cast<GameComponent*>(block)); });
  }
}

// --- Handles ------------------------------------------------------------------------------------------

Base::Handle GameSpace::AddHandle(void* data, HandleKind kind) {
  const Base::Handle handle = m_handles.Add(data);
  if (handle != Base::kNullHandle) m_handleKinds[Base::HandleIndex(handle)] = kind;
  return handle;
}

Base::Handle GameSpace::AddHandle(GameComponent* component) {
  return AddHandle(static_cast<void*>(component), HandleKind_Component);
}

void GameSpace::RemoveHandle(Base::Handle handle) {
  if (m_handles.Resolve(handle)) m_handleKinds[Base::HandleIndex(handle)] = HandleKind_None;
  m_handles.Remove(handle);
}

GameObject* GameSpace::GetGameObject(Base::Handle handle) const {
  void* data = m_handles.Resolve(handle);
  if (!data || m_handleKinds[Base::HandleIndex(handle)] != HandleKind_Object) return nullptr;
  return static_cast<GameObject*>(data);
}

GameComponent* GameSpace::GetComponent(Base::Handle handle) const {
  void* data = m_handles.Resolve(handle);
  if (!data || m_handleKinds[Base::HandleIndex(handle)] != HandleKind_Component) return nullptr;
  return static_cast<GameComponent*>(data);
}

Base::PBManager* GameSpace::GetComponentPool(uint32_t type, uint32_t size) {
  if (type < ComponentType_Count && size > 0 && m_componentPools[type].GetObjectSize() >= size)
    return &m_componentPools[type];
  CORE_LOG(Error, "Space \"%s\" has no pool for %s components of %u bytes", m_name.c_str(),
               ComponentTypeName(type), size);
  return nullptr;
}

// --- Objects and components ---------------------------------------------------------------------------

GameObject* GameSpace::CreateObject() {
  return NewObject(Base::TraceLog::GetInstance().GetLevel() >= Base::TraceLevel_Verbose);
}

GameObject* GameSpace::NewObject(bool logCreation) {
  void* block = m_objectPool.Allocate();
  if (!block) {
    CORE_LOG(Error, "Could not create an object in space \"%s\": no free block", m_name.c_str());
    return nullptr;
  }
  GameObject* object = ::new (block) GameObject();
  const Base::Handle handle = AddHandle(static_cast<void*>(object), HandleKind_Object);
  if (handle == Base::kNullHandle) {
    object->~GameObject();
    m_objectPool.Free(block);
    CORE_LOG(Error, "Could not create an object in space \"%s\": no free handle", m_name.c_str());
    return nullptr;
  }
  object->m_self = handle;
  object->m_space = this;
  object->m_hooks.SetHandleManager(&m_handles);
  if (m_nextGuid == 0xFFFFFFFFu) m_nextGuid = 0;
  object->m_guid = m_nextGuid++;
  object->m_alive = true;
  // Spaces are loaded object by object: the name is formatted only when the line can be printed.
  if (logCreation)
    CORE_LOG(Verbose, "Created object %s from space \"%s\"", ObjectLogName(*object).c_str(), m_name.c_str());
  return object;
}

void GameSpace::CreateObjects(uint32_t count, std::vector<Base::Handle>& handles) {
  // The whole run at once: room for every handle up front, the trace level asked once.
  handles.reserve(handles.size() + count);
  const bool logCreation = Base::TraceLog::GetInstance().GetLevel() >= Base::TraceLevel_Verbose;
  for (uint32_t i = 0; i < count; ++i) {
    GameObject* object = NewObject(logCreation);
    if (!object) return;  // logged; later indices name no object
    handles.push_back(object->m_self);
  }
}

GameComponent* GameSpace::CreateComponent(uint32_t type) {
  const ComponentCreator* creator = ComponentRegistry::GetCreator(type);
  if (!creator) {
    CORE_LOG(Error, "No ComponentCreator is registered for %s components (type %u)",
                 ComponentTypeName(type), type);
    return nullptr;
  }
  return creator->Create(this);
}

void GameSpace::RemoveComponent(GameComponent* component) {
  if (!component) return;
  const ComponentCreator* creator = ComponentRegistry::GetCreator(component->m_componentType);
  if (!creator) {
    CORE_LOG(Error, "No ComponentCreator is registered for %s components (type %u)",
                 ComponentTypeName(component->m_componentType), component->m_componentType);
    return;
  }
  creator->Destroy(this, component);
}

void GameSpace::AddSpaceComponent(SpaceComponent* component) {
  if (!component) return;
  if (component->m_type >= kSpaceComponentTypes) {
    CORE_LOG(Error, "Attempted to add a space component of unknown type %u", component->m_type);
    SpaceComponentRegistry::Destroy(this, component);
    return;
  }
  SpaceComponent*& slot = m_spaceComponents[component->m_type];
  if (slot == component) return;
  if (slot) {
    CORE_LOG(Warning, "Existing Space Component: can't add a new component till old is removed");
    SpaceComponentRegistry::Destroy(this, component);
    return;
  }
  component->m_space = this;
  slot = component;
}

SpaceComponent* GameSpace::GetSpaceComponent(uint32_t type) const {
  return type < kSpaceComponentTypes ? m_spaceComponents[type] : nullptr;
}

void GameSpace::Destroy(GameObject* object) {
  if (object && object->m_alive) object->Destroy();
}

void GameSpace::DestroyObject(GameObject* object) {
  if (!object) return;
  if (object->m_space != this) {
    CORE_LOG(Error, "Attempted to destroy object %s in space \"%s\", which does not own it",
                 ObjectLogName(*object).c_str(), m_name.c_str());
    return;
  }
  if (Base::TraceLog::GetInstance().GetLevel() >= Base::TraceLevel_Verbose)
    CORE_LOG(Verbose, "Destroyed object %s from space \"%s\"", ObjectLogName(*object).c_str(),
                 m_name.c_str());
  if (GameObject* parent = GetGameObject(object->m_parent); parent && parent->m_alive) object->UnParent();
  for (Base::Handle child : object->m_children)
    if (GameObject* orphan = GetGameObject(child)) orphan->m_parent = Base::kNullHandle;

  const Base::Handle handle = object->m_self;
  object->~GameObject();
  RemoveHandle(handle);
  m_objectPool.Free(object);
}

void GameSpace::DestroyPendingObjects(bool all) {
  if (all) {
    m_pendingDestroy.clear();
    m_objectPool.ForEachBlock(
        [&](void* block) { m_pendingDestroy.push_back(static_cast<GameObject*>(block)->m_self); });
  }
  while (!m_pendingDestroy.empty()) {
    // Taken off first: listeners run by the destruction may mark more objects.
    const Base::Handle handle = m_pendingDestroy.back();
    m_pendingDestroy.pop_back();
    if (GameObject* object = GetGameObject(handle)) DestroyObject(object);
  }
}

void GameSpace::InitializeObjects() {
  const std::vector<GameObject*> objects = GetObjects();
  GameObject::LinkToParents(*this, objects);
  for (GameObject* object : objects) object->Initialize();
}

bool GameSpace::MarkForDeletion() {
  if (!m_active) return false;
  m_active = false;
  m_deleted = true;
  return true;
}

void GameSpace::Pause() {
  if (m_paused) return;
  m_paused = true;
  m_hooks.Call("SpacePaused");
  bool paused = m_paused;
  Base::Reflection::Variant args[] = {Base::Reflection::Variant(&m_name), Base::Reflection::MakeVariant(paused)};
  CallScript("game:PauseGameSpace", args, 2);
}

void GameSpace::UnPause() {
  if (!m_paused) return;
  m_paused = false;
  m_hooks.Call("SpaceUnPaused");
  bool paused = m_paused;
  Base::Reflection::Variant args[] = {Base::Reflection::Variant(&m_name), Base::Reflection::MakeVariant(paused)};
  CallScript("game:PauseGameSpace", args, 2);
}

// --- Lookups --------------------------------------------------------------------------------------------

std::vector<GameObject*> GameSpace::GetObjects() const {
  std::vector<GameObject*> objects;
  objects.reserve(m_objectPool.GetObjectsInUse());
  m_objectPool.ForEachBlock([&](void* block) { objects.push_back(static_cast<GameObject*>(block)); });
  return objects;
}

GameObject* GameSpace::FindGameObject(const char* name) const {
  if (!name) return nullptr;
  GameObject* found = nullptr;
  m_objectPool.ForEachBlock([&](void* block) {
    GameObject* object = static_cast<GameObject*>(block);
    if (!found && object->m_name == name) found = object;
  });
  return found;
}

std::vector<GameObject*> GameSpace::FindGameObjectsByName(const char* name) const {
  std::vector<GameObject*> found;
  if (!name) return found;
  m_objectPool.ForEachBlock([&](void* block) {
    GameObject* object = static_cast<GameObject*>(block);
    if (object->m_name == name) found.push_back(object);
  });
  return found;
}

GameObject* GameSpace::GetObjectFromGUID(uint32_t guid) const {
  const SpaceLoadContext* context = SpaceLoadContext::Current();
  if (!context || guid == 0xFFFFFFFFu || guid >= context->objects.size()) return nullptr;
  return GetGameObject(context->objects[guid]);
}

double GameSpace::PointerValue() const { return double(reinterpret_cast<uintptr_t>(this)); }

// --- Text form ------------------------------------------------------------------------------------------

void GameSpace::WriteText(Base::File& file, SpaceLoadContext& context) { ObjectText::WriteSpace(file, *this, context); }

void GameSpace::ReadText(Base::File& file, SpaceLoadContext& context) { ObjectText::ReadObjects(file, *this, context); }

GameComponent* GameSpace::ReadComponent(Base::File& file, Base::Serializer& serializer, int32_t stopDepth) {
  return ObjectText::ReadComponent(file, serializer, *this, stopDepth);
}

SpaceComponent* GameSpace::ReadSpaceComponent(Base::File& file, Base::Serializer& serializer, int32_t stopDepth) {
  return ObjectText::ReadSpaceComponent(file, serializer, *this, stopDepth);
}

namespace {

void WriteSpace(Base::File& file, const Base::Reflection::Variant& value) {
  SpaceLoadContext fallback;
  SpaceLoadContext* context = SpaceLoadContext::Current();
  if (value.data) static_cast<GameSpace*>(value.data)->WriteText(file, context ? *context : fallback);
}

void ReadSpace(Base::File& file, const Base::Reflection::Variant& value) {
  SpaceLoadContext fallback;
  fallback.noCount = true;
  SpaceLoadContext* context = SpaceLoadContext::Current();
  if (value.data) static_cast<GameSpace*>(value.data)->ReadText(file, context ? *context : fallback);
}

}  // namespace

}  // namespace Core

ORV_REFLECT_CLASS(Core::GameSpace) {
  type->SetSerializeFunction(&Core::WriteSpace);
  type->SetDeserializeFunction(&Core::ReadSpace);
  type.Method<&Core::GameSpace::PointerValue>("PointerValue", nullptr, "Gets the actual pointer value of the Game Space");
  type.Method<&Core::GameSpace::FindGameObject>("FindGameObject", "FindObject", "Returns a GameObject from the space by name");
  type.Method<&Core::GameSpace::GetGameObject>("GetGameObject", "GetObject", "Returns a GameObject from the space by Handle");
  type.Method<&Core::GameSpace::GetComponent>("GetComponent", nullptr, "Returns a GameComponent from the space by Handle");
  type.Method<&Core::GameSpace::FindGameObjectsByName>("FindGameObjectsByName", "FindObjectsByName",
                                                       "Returns all GameObject from the sapce with the same name");
  type.Method<&Core::GameSpace::Destroy>("Destroy", nullptr, "Marks the GameObject to be destroy");
  type.Method<&Core::GameSpace::Pause>("Pause", nullptr, "Pauses the GameSpace");
  type.Method<&Core::GameSpace::UnPause>("UnPause", nullptr, "Unpauses the GameSpace");
  type.Method<&Core::GameSpace::Paused>("Paused", nullptr, "Returns GameSpace pause state");
  type.Method<&Core::GameSpace::GetObjectFromGUID>("GetObjectFromGUID");
}
