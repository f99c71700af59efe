// Named-event tables: listeners register bound functions under an event name, and a call by name runs
// every listener of that name in the table's fixed order with the call's arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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
  explicit Hook(std::string name) : name_(std::move(name)) {}
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  const std::string& GetName() const { return name_; }
  // Listeners a call would consider now; ones removed during a running call are not counted.
  size_t ListenerCount() const;

 private:
  friend class Hooks;

  struct Listener {
    void* owner = nullptr;                    // system listeners: the object the function is called on
    Base::Handle handle = Base::kNullHandle;  // component listeners: resolved at call time
    Base::Function function;
    uint64_t bornInWalk = 0;  // the walks counter when it registered: walks already running skip it
    bool removed = false;     // removed while a walk runs; erased when the last walk ends
  };
  using ListenerMap = std::map<uint64_t, Listener>;

  // Erases now, or marks when a walk is running so that the walk's position stays valid.
  void Drop(ListenerMap::iterator entry);
  void DropAll();
  void Sweep();

  std::string name_;
  ListenerMap listeners_;
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
  using HookMap = std::unordered_map<std::string, std::unique_ptr<Hook>, NameHash, std::equal_to<>>;
  // Calls one listener's function (its object already bound) with the caller's packed arguments.
  using Invoker = void (*)(const Base::Function& fn, const void* args);
  class WalkScope;

  static constexpr size_t kInitialBuckets = 8;

  Hook* FindRecord(std::string_view name) const;
  Hook& Record(std::string_view name);
  void Walk(Hook& hook, Invoker invoke, const void* args);

  const Base::HandleManager* handles_;
  HookMap hooks_;
  // Records cleared away during a call; freed when the outermost call returns.
  std::vector<std::unique_ptr<Hook>> retired_;
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
