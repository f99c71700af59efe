// Named-event tables: listeners register bound functions under an event name, and a call by name runs
// every listener of that name in the table's fixed order with the call's arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "Base/Handle.h"
#include "Base/function/Function.h"

namespace Core {

class Hooks;

// One event: its name and its listeners in calling order. System listeners (keyed by owner pointer)
// follow one process-wide registration sequence; component listeners (keyed by handle) follow the
// handle's 32-bit value. A table normally holds one kind; a table holding both runs components first.
class Hook {
 public:
  // Records live in their table's entries, which name them.
  Hook() = default;
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  const std::string& GetName() const { return *name_; }
  // Listeners a call would consider now; ones removed during a running call are not counted.
  size_t ListenerCount() const;

 private:
  friend class Hooks;

  // The listener nodes of one event come from blocks its record owns, each twice the size of the last
  // up to kLargestBlock nodes, so that a walk steps through neighbouring memory instead of wherever the
  // heap had room. Nodes given back are reused first; the blocks go with the record.
  class NodePool {
   public:
    NodePool() = default;
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;
    ~NodePool();

    // Every node of a pool has one size; any other size goes to the heap as usual.
    void* Allocate(size_t size);
    void Free(void* node, size_t size);

   private:
    static constexpr uint32_t kLargestBlock = 128;
    static constexpr size_t kAlignment = alignof(std::max_align_t);
    struct alignas(kAlignment) Block {
      Block* next;
    };
    struct FreeNode {
      FreeNode* next;
    };
    static size_t Slot(size_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

    Block* blocks_ = nullptr;
    FreeNode* free_ = nullptr;
    char* cursor_ = nullptr;  // the newest block's first unused node
    uint32_t left_ = 0;       // unused nodes there
    uint32_t nextBlock_ = 1;  // nodes in the next block
    size_t nodeSize_ = 0;     // set by the first allocation
  };

  // std::map's allocator over a record's pool.
  template <class T>
  class PoolAllocator {
   public:
    using value_type = T;
    explicit PoolAllocator(NodePool* pool) : pool_(pool) {}
    template <class U>
    PoolAllocator(const PoolAllocator<U>& other) : pool_(other.pool_) {}

    T* allocate(size_t count) { return static_cast<T*>(pool_->Allocate(count * sizeof(T))); }
    void deallocate(T* node, size_t count) { pool_->Free(node, count * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>& other) const {
      return pool_ == other.pool_;
    }

   private:
    template <class U>
    friend class PoolAllocator;
    NodePool* pool_;
  };

  struct Listener {
    void* owner = nullptr;                    // system listeners: the object the function is called on
    Base::Handle handle = Base::kNullHandle;  // component listeners: resolved at call time
    Base::Function function;
    uint64_t bornInWalk = 0;  // the walks counter when it registered: walks already running skip it
    bool removed = false;     // removed while a walk runs; erased when the last walk ends
  };
  using ListenerMap =
      std::map<uint64_t, Listener, std::less<uint64_t>, PoolAllocator<std::pair<const uint64_t, Listener>>>;

  // Erases now, or marks when a walk is running so that the walk's position stays valid.
  void Drop(ListenerMap::iterator entry);
  void DropAll();
  void Sweep();

  static inline const std::string kNoName;
  const std::string* name_ = &kNoName;  // the key of the table entry holding the record
  NodePool nodes_;                       // before the listeners, which give their nodes back to it
  ListenerMap listeners_{ListenerMap::allocator_type(&nodes_)};
  uint64_t walksStarted_ = 0;
  uint32_t activeWalks_ = 0;
  bool hasRemoved_ = false;
};

// The table that the engine, every game space and every game object own. Component handles resolve
// through `handles` (the owning space's table; null for the engine's table) when an event is called.
class Hooks {
 public:
  explicit Hooks(const Base::HandleManager* handles = nullptr);
  ~Hooks();
  Hooks(const Hooks&) = delete;
  Hooks& operator=(const Hooks&) = delete;

  void SetHandleManager(const Base::HandleManager* handles) { handles_ = handles; }
  const Base::HandleManager* GetHandleManager() const { return handles_; }

  // Adds `fn` under a new sequence number: listeners run in the order they registered, across names.
  void AddSystemListener(std::string_view name, void* owner, const Base::Function& fn);
  // Removes every listener `owner` added under `name`; nothing when there is none.
  void RemoveSystemListener(std::string_view name, const void* owner);

  // One listener per component and name: registering again replaces the function.
  void AddComponentListener(std::string_view name, Base::Handle owner, const Base::Function& fn);
  // Nothing when the name was never registered or the component is not listening.
  void RemoveComponentListener(std::string_view name, Base::Handle owner);

  // Runs every listener of `name` with the arguments. A listener whose signature does not take exactly
  // these argument types is reported and skipped; one whose component no longer resolves is dropped.
  // Listeners may add and remove listeners meanwhile: the removed ones are not called, the added ones
  // are called from the next call on. An unknown name does nothing.
  template <class... A>
  void Call(std::string_view name, const A&... args);

  // Empties every event; with deleteRecords also forgets the events themselves.
  void Clear(bool deleteRecords);

  const Hook* Find(std::string_view name) const;

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  // Records sit in the entries themselves (one allocation each); entries never move while they exist.
  using HookMap = std::unordered_map<std::string, Hook, NameHash, std::equal_to<>>;
  // Calls one listener's function (its object already bound) with the caller's packed arguments.
  using Invoker = void (*)(const Base::Function& fn, const void* args);
  class WalkScope;

  static constexpr size_t kInitialBuckets = 8;

  Hook* FindRecord(std::string_view name);
  Hook& Record(std::string_view name);
  void Walk(Hook& hook, Invoker invoke, const void* args);

  const Base::HandleManager* handles_;
  HookMap hooks_;
  // Tables cleared away during a call, with the records a walk may still be in; freed when the
  // outermost call returns.
  std::vector<HookMap> retired_;
  uint32_t activeCalls_ = 0;
};

template <class... A>
void Hooks::Call(std::string_view name, const A&... args) {
  Hook* hook = FindRecord(name);
  if (!hook) return;
  using Pack = std::tuple<const A&...>;
  const Pack pack(args...);
  Walk(
      *hook,
      [](const Base::Function& fn, const void* packed) {
        std::apply([&fn](const A&... values) { fn.Call(values...); }, *static_cast<const Pack*>(packed));
      },
      &pack);
}

}  // namespace Core
