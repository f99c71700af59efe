// Named-event tables: listeners register bound functions under an event name, and a call by name runs
// every listener of that name in the table's fixed order with the call's arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "Base/Handle.h"
#include "Base/function/Function.h"

namespace Core {

class Hooks;

// One event of a table: its name and its listeners in calling order. System listeners (keyed by owner
// pointer) follow one process-wide registration sequence; component listeners (keyed by handle) follow
// the handle's 32-bit value. A table normally holds one kind; a table holding both runs components first.
class Hook {
 public:
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  const std::string& GetName() const { return *m_name; }
  // Listeners a call would consider now; ones removed during a running call are not counted.
  size_t ListenerCount() const { return m_size - m_removed; }

 private:
  friend class Hooks;

  struct Listener {
    uint64_t key;              // the handle's value, or a system key above every handle value
    void* owner;               // system listeners: the object the function is called on
    Base::Function* function;  // shared by every listener registered with an equal function
    uint32_t bornInWalk;       // 0, or the walk running when it registered: that walk skips it
    bool removed;              // kept in place until no walk runs, so that walks keep their place
  };
  // Most events of an object's table have one listener: its Transform.
  static constexpr uint32_t kInlineListeners = 1;

  explicit Hook(const std::string* name) : m_name(name), m_nameSize(uint32_t(name->size())) {}
  bool Named(std::string_view name) const { return m_nameSize == name.size() && *m_name == name; }
  ~Hook();

  // The first listener whose key is not below `key`.
  uint32_t LowerBound(uint64_t key) const;
  void Insert(uint32_t index, const Listener& listener);
  // Erases now, or marks when a walk is running so that the walk's position stays valid.
  void Drop(uint32_t index);
  void DropAll();
  void Compact();
  void EndWalk();

  const std::string* m_name;  // interned: every table names its events with the same strings
  Hook* m_next = nullptr;     // the table's next event
  Listener* m_listeners = m_inline;
  uint32_t m_size = 0;
  uint32_t m_capacity = kInlineListeners;
  uint32_t m_removed = 0;       // listeners marked removed
  uint32_t m_layout = 0;        // changes when listeners shift: a walk then finds its place again by key
  uint32_t m_walksStarted = 0;  // since no walk last ran
  uint32_t m_activeWalks = 0;
  uint32_t m_nameSize;              // kept here: most names differ in size, without a look at the text
  bool m_hasLateListeners = false;  // some bornInWalk is set
  Listener m_inline[kInlineListeners];
};

// The table that the engine, every game space and every game object own. Component handles resolve
// through `handles` (the owning space's table; null for the engine's table) when an event is called.
// A table allocates nothing until its first listener; the events of every table resolving through one
// handle table (a space and its objects) share one store, which goes in one piece with the last of them.
class Hooks {
 public:
  explicit Hooks(const Base::HandleManager* handles = nullptr);
  ~Hooks();
  Hooks(const Hooks&) = delete;
  Hooks& operator=(const Hooks&) = delete;

  void SetHandleManager(const Base::HandleManager* handles) { m_handles = handles; }
  const Base::HandleManager* GetHandleManager() const { return m_handles; }

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
  class Store;
  class WalkScope;
  // Calls one listener's function (its object already bound) with the caller's packed arguments.
  using Invoker = void (*)(const Base::Function& fn, const void* args);

  Hook* FindRecord(std::string_view name) const;
  Hook& Record(std::string_view name);
  void Walk(Hook& hook, Invoker invoke, const void* args);
  void Release(Hook* records);
  void LeaveStoreWhenEmpty();

  const Base::HandleManager* m_handles;
  Store* m_store = nullptr;   // where this table's events live; joined at the first listener
  Hook* m_records = nullptr;  // the events, newest first
  Hook* m_retired = nullptr;  // events cleared away during a call: freed when the outermost call returns
  uint32_t m_activeCalls = 0;
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
