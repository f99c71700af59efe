// A game space: one self-contained world of a level with its handle table, its pools of game objects
// and components, its space component, its hook table, deferred destruction and its text form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Base/Handle.h"
#include "Base/PBManager.h"
#include "Core/GameComponent.h"
#include "Core/Hooks.h"
#include "Core/SpaceComponent.h"

namespace Base {
class File;
class Serializer;
}  // namespace Base

namespace Core {

class GameObject;
class SpaceComponent;

// What a space's text read and write share while one space file is read or written: the objects by
// their index in the file, and which objects the writer emits. Attach it with Scope around the read or
// write; handles written as text and GameSpace::GetObjectFromGUID use the attached one.
struct SpaceLoadContext {
  // Read: the pre-created objects in index order (or, without a count, the objects in file order).
  // Write: filled by the writer with every object in pool order; an object's index is its m_guid.
  std::vector<Base::Handle> objects;
  GameSpace* space = nullptr;
  bool noCount = false;                      // the file has no count line: each block makes an object
  bool writeAllObjects = true;               // write every object...
  bool writeObjectsWithoutArchetype = true;  // ...or, when that is clear, those not made from an archetype
  // Object headers read "GameObject" instead of "3:GameObject"; the writer then leaves out the count
  // line too, since a count tells the reader to expect indexed headers.
  bool headersWithoutIndex = false;

  // The attached context, or null outside a space read or write.
  static SpaceLoadContext* Current();

  class Scope {
   public:
    explicit Scope(SpaceLoadContext& context);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    SpaceLoadContext* m_previous;
  };
};

// Large (a 16384-slot handle table and 20 pools): always on the heap, never copied.
class GameSpace {
 public:
  // Pool shape of the object pool and of every component pool: at most 3000 of each.
  static constexpr uint32_t kObjectsPerPage = 150;
  static constexpr uint32_t kMaxPages = 20;
  static constexpr uint32_t kPoolPadBytes = 4;
  static constexpr uint32_t kMaxObjects = kObjectsPerPage * kMaxPages;
  static constexpr uint32_t kSpaceComponentTypes = SpaceComponentType_Count;

  GameSpace();
  explicit GameSpace(std::string_view name);
  // Destroys every object, every component left in the pools and the space component.
  ~GameSpace();
  GameSpace(const GameSpace&) = delete;
  GameSpace& operator=(const GameSpace&) = delete;

  // --- Objects and components -------------------------------------------------------------------
  // A new, empty, uninitialised object with its handle, space and number; null (logged) when the object
  // pool or the handle table is full.
  GameObject* CreateObject();
  // `count` new objects at once (a space file's count line), their handles appended in creation order;
  // fewer when the pool or the handle table fills up (logged).
  void CreateObjects(uint32_t count, std::vector<Base::Handle>& handles);
  // A new component of a type id from its registered creator; not attached, not initialised. Null
  // (logged) for an id without a creator and when the pool or the handle table is full.
  GameComponent* CreateComponent(uint32_t type);
  // Returns a component to its pool through its creator (destructor, handle released, block freed).
  void RemoveComponent(GameComponent* component);

  // Stores a space component in the slot of its type; a slot already taken keeps its component and the
  // newcomer is destroyed with a warning.
  void AddSpaceComponent(SpaceComponent* component);
  SpaceComponent* GetSpaceComponent(uint32_t type = 0) const;

  // Marks an object for destruction at the end of the frame (the object's Destroy); nothing for null or
  // an object already marked.
  void Destroy(GameObject* object);
  // Destroys one object now: unparents it, orphans its children, runs its destructor, frees it.
  void DestroyObject(GameObject* object);
  // Destroys the marked objects, last marked first; with all set, every object in reverse pool order.
  void DestroyPendingObjects(bool all);
  // After a space file was read: links children to their parents, then initialises every object.
  void InitializeObjects();

  // --- Lookups ------------------------------------------------------------------------------------
  GameObject* FindGameObject(const char* name) const;
  std::vector<GameObject*> FindGameObjectsByName(const char* name) const;
  // What a handle resolves to here, or null; a handle of the other kind (a component's handle given to
  // GetGameObject) resolves to null too.
  GameObject* GetGameObject(Base::Handle handle) const;
  GameComponent* GetComponent(Base::Handle handle) const;
  // Entry n of the attached load context's object list, or null (no context, n out of range).
  GameObject* GetObjectFromGUID(uint32_t guid) const;
  // Every live object in pool order (the order objects were created).
  std::vector<GameObject*> GetObjects() const;
  uint32_t GetObjectCount() const { return m_objectPool.GetObjectsInUse(); }
  // The space's address as a number scripts can compare (exact: addresses stay below 2^53).
  double PointerValue() const;

  // --- State ----------------------------------------------------------------------------------------
  // Pausing fires "SpacePaused" / "SpaceUnPaused" and tells the scripts ("game:PauseGameSpace").
  void Pause();
  void UnPause();
  bool Paused() const { return m_paused; }
  // The engine's first update after creation makes the space loaded and active.
  void Activate() { m_loaded = m_active = true; }
  bool IsLoaded() const { return m_loaded; }
  bool IsActive() const { return m_active; }
  bool IsDeleted() const { return m_deleted; }
  bool IsHidden() const { return m_hidden; }
  void SetHidden(bool hidden) { m_hidden = hidden; }
  // Deactivates an active space and marks it deleted: true when this call did it, and the caller (the
  // engine) then queues the space for deletion at the end of the frame. An inactive space is left alone.
  bool MarkForDeletion();

  const std::string& GetName() const { return m_name; }
  Hooks& GetHooks() { return m_hooks; }
  const Base::HandleManager& GetHandles() const { return m_handles; }

  // --- Text form ------------------------------------------------------------------------------------
  // Writes the space file: name, count, "SpaceComponents" block, object blocks. Numbers the objects
  // (m_guid = index) into the context's list.
  void WriteText(Base::File& file, SpaceLoadContext& context);
  // Reads the object blocks after the "SpaceComponents" block up to the end of the file, then links and
  // initialises the objects, initialises the space component and fires the engine hook "Initialized".
  void ReadText(Base::File& file, SpaceLoadContext& context);
  // Reads the next component block into a new component of this space (the caller attaches it). A block
  // whose name is no registered component type is skipped whole with a warning, and reading goes on.
  // Null when a "}" brings the depth to stopDepth, when the input ends, or when the next name opens no
  // block (that name is consumed).
  GameComponent* ReadComponent(Base::File& file, Base::Serializer& serializer, int32_t stopDepth = 0);
  // Reads the next space-component block into this space's space component of that type (nothing is
  // created). Null when the next name is not a space component's.
  SpaceComponent* ReadSpaceComponent(Base::File& file, Base::Serializer& serializer, int32_t stopDepth = 0);

  // --- For creators and objects -----------------------------------------------------------------------
  // The pool of a component type when it is laid out for blocks of `size` bytes, else null (logged).
  Base::PBManager* GetComponentPool(uint32_t type, uint32_t size);
  Base::Handle AddHandle(GameComponent* component);
  void RemoveHandle(Base::Handle handle);
  // Called by GameObject::Destroy: the object is destroyed at the end of the frame.
  void QueueDestroy(Base::Handle object) { m_pendingDestroy.push_back(object); }

 private:
  enum HandleKind : uint8_t { HandleKind_None = 0, HandleKind_Object = 1, HandleKind_Component = 2 };

  void InitComponentPools();
  // CreateObject, with the Verbose line only when `logCreation` is set.
  GameObject* NewObject(bool logCreation);
  Base::Handle AddHandle(void* data, HandleKind kind);
  void DestroyLeftoverComponents();

  // The handle table comes first: objects and components share it.
  Base::HandleManager m_handles;
  std::string m_name;
  Base::PBManager m_componentPools[ComponentType_Count];
  SpaceComponent* m_spaceComponents[kSpaceComponentTypes] = {};
  Base::PBManager m_objectPool;
  std::vector<Base::Handle> m_pendingDestroy;
  Hooks m_hooks;
  uint32_t m_nextGuid = 0;
  bool m_paused = false;
  bool m_hidden = false;
  bool m_loaded = false;
  bool m_active = false;
  bool m_deleted = false;
  // What each live slot holds, so that a handle of one kind never resolves as the other.
  uint8_t m_handleKinds[Base::HandleManager::kSlotCount] = {};
};

}  // namespace Core
