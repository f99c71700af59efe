// Hook tables: shared names and functions, events stored per handle table, removal that is safe during
// a call, and the ordered walk.
#include "Core/Hooks.h"

#include <algorithm>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Base/Assert.h"
#include "Core/Log.h"

namespace Core {
namespace {

// One counter for every table, so that systems run in registration order whichever table they joined.
uint64_t g_systemSequence = 0;

// System keys sit above every 32-bit handle value.
constexpr uint64_t kSystemKeyBase = uint64_t(1) << 32;

uint64_t ComponentKey(Base::Handle handle) { return static_cast<uint32_t>(handle); }
bool IsSystemKey(uint64_t key) { return key >= kSystemKeyBase; }

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

// The same few callers register the same names and functions for every object: a small table of the
// latest finds, by the address the caller passed, spares most lookups. A hit is still compared in full,
// since an address may hold something else by the next call.
template <class T>
struct Recent {
  static constexpr int kSlots = 16;
  struct Slot {
    const void* key = nullptr;
    T* value = nullptr;
  };
  Slot& For(const void* key) { return slots[(reinterpret_cast<uintptr_t>(key) * 0x9E3779B97F4A7C15u) >> 60]; }
  Slot slots[kSlots];
};

// Event names come from the code, so the set stays small; every table points at these strings instead
// of keeping a copy per event. Never destroyed: tables owned by singletons still look names up at exit.
const std::string* InternName(std::string_view name) {
  static auto& names = *new std::unordered_set<std::string, NameHash, std::equal_to<>>;
  static Recent<const std::string> recent;
  auto& slot = recent.For(name.data());
  if (slot.key == name.data() && *slot.value == name) return slot.value;
  auto found = names.find(name);
  if (found == names.end()) found = names.emplace(name).first;
  slot = {name.data(), &*found};
  return slot.value;
}

bool SameFunction(const Base::Function& a, const Base::Function& b) {
  const Base::Signature& x = a.GetSignature();
  const Base::Signature& y = b.GetSignature();
  if (x.GetReturnType() != y.GetReturnType() || x.GetThisType() != y.GetThisType() ||
      x.ArgCount() != y.ArgCount() || a.GetName() != b.GetName())
    return false;
  for (uint32_t i = 0; i < x.ArgCount(); ++i)
    if (x.GetArg(i) != y.GetArg(i)) return false;
  return true;
}

// Listener functions, one copy per distinct function (thunk, signature and name): thousands of
// components register the same few methods. A call binds its object into the shared copy just before
// running its thunk, which takes the object by value, so a nested call rebinding it changes nothing for
// a listener already running. Never destroyed, like the names.
Base::Function* InternFunction(const Base::Function& fn) {
  static auto& byThunk = *new std::unordered_map<Base::CallThunk, std::vector<std::unique_ptr<Base::Function>>>;
  static Recent<Base::Function> recent;
  auto& slot = recent.For(&fn);
  if (slot.key == &fn && slot.value->GetThunk() == fn.GetThunk() && SameFunction(*slot.value, fn))
    return slot.value;
  std::vector<std::unique_ptr<Base::Function>>& known = byThunk[fn.GetThunk()];
  auto found =
      std::find_if(known.begin(), known.end(), [&](const auto& function) { return SameFunction(*function, fn); });
  if (found == known.end()) found = known.insert(known.end(), std::make_unique<Base::Function>(fn));
  slot = {&fn, found->get()};
  return slot.value;
}

}  // namespace

// The events of every table resolving through one handle table: a space's own table and its objects'
// tables draw fixed-size event records from growing chunks here. Records freed one by one are reused;
// the chunks go together when the last table leaves, which is when the space goes.
class Hooks::Store {
 public:
  static Store& Join(const Base::HandleManager* handles) {
    Store* store = m_last && m_last->m_handles == handles ? m_last : nullptr;
    for (Store* each = m_first; !store && each; each = each->m_next)
      if (each->m_handles == handles) store = each;
    if (!store) {
      store = new Store(handles);
      store->m_next = m_first;
      m_first = store;
    }
    ++store->m_tables;
    m_last = store;
    return *store;
  }

  void Leave() {
    ORV_ASSERT(m_tables > 0);
    if (--m_tables > 0) return;
    for (Store** link = &m_first; *link; link = &(*link)->m_next) {
      if (*link == this) {
        *link = m_next;
        break;
      }
    }
    if (m_last == this) m_last = nullptr;
    delete this;
  }

  void* Allocate() {
    if (Slot* slot = m_free) {
      m_free = slot->next;
      return slot;
    }
    if (m_left == 0) {
      Chunk* chunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + sizeof(Slot) * m_nextChunk));
      chunk->next = m_chunks;
      m_chunks = chunk;
      m_cursor = reinterpret_cast<Slot*>(chunk + 1);
      m_left = m_nextChunk;
      m_nextChunk = std::min(m_nextChunk * 2, kLargestChunk);
    }
    --m_left;
    return m_cursor++;
  }

  void Free(void* record) { m_free = ::new (record) Slot{m_free}; }

 private:
  union Slot {
    Slot* next;
    alignas(Hook) unsigned char record[sizeof(Hook)];
  };
  struct alignas(Slot) Chunk {
    Chunk* next;
  };
  // A space of objects needs four records per Transform: chunks double up to this many records.
  static constexpr uint32_t kFirstChunk = 16;
  static constexpr uint32_t kLargestChunk = 1024;

  explicit Store(const Base::HandleManager* handles) : m_handles(handles) {}
  ~Store() {
    while (m_chunks) {
      Chunk* next = m_chunks->next;
      ::operator delete(m_chunks);
      m_chunks = next;
    }
  }

  static inline Store* m_first = nullptr;
  static inline Store* m_last = nullptr;  // the store joined last: objects of one space join in a row

  const Base::HandleManager* m_handles;
  Store* m_next = nullptr;
  Chunk* m_chunks = nullptr;
  Slot* m_free = nullptr;
  Slot* m_cursor = nullptr;  // the newest chunk's first unused slot
  uint32_t m_left = 0;       // unused slots there
  uint32_t m_nextChunk = kFirstChunk;
  uint32_t m_tables = 0;
};

// --- Events -------------------------------------------------------------------------------------------

Hook::~Hook() {
  if (m_listeners != m_inline) delete[] m_listeners;
}

uint32_t Hook::LowerBound(uint64_t key) const {
  const Listener* found = std::lower_bound(m_listeners, m_listeners + m_size, key,
                                           [](const Listener& listener, uint64_t k) { return listener.key < k; });
  return uint32_t(found - m_listeners);
}

void Hook::Insert(uint32_t index, const Listener& listener) {
  ORV_ASSERT(index <= m_size);
  ORV_ASSERT(index == 0 || m_listeners[index - 1].key < listener.key);
  ORV_ASSERT(index == m_size || listener.key < m_listeners[index].key);
  if (m_size == m_capacity) {
    const uint32_t capacity = std::max(m_capacity * 2, 4u);
    Listener* grown = new Listener[capacity];
    std::copy(m_listeners, m_listeners + m_size, grown);
    if (m_listeners != m_inline) delete[] m_listeners;
    m_listeners = grown;
    m_capacity = capacity;
  }
  if (index < m_size) {
    std::copy_backward(m_listeners + index, m_listeners + m_size, m_listeners + m_size + 1);
    ++m_layout;
  }
  m_listeners[index] = listener;
  ++m_size;
}

void Hook::Drop(uint32_t index) {
  ORV_ASSERT(index < m_size && !m_listeners[index].removed);
  m_listeners[index].removed = true;
  ++m_removed;
  if (m_activeWalks > 0) return;
  // Components go in reverse order of their coming when a space is emptied: trimming the end keeps
  // that linear.
  while (m_size > 0 && m_listeners[m_size - 1].removed) {
    --m_size;
    --m_removed;
  }
  // Elsewhere a removal leaves a gap that walks skip, until gaps are half the listeners.
  if (m_removed * 2 > m_size) Compact();
}

void Hook::DropAll() {
  if (m_activeWalks == 0) {
    m_size = 0;
    m_removed = 0;
    return;
  }
  for (uint32_t i = 0; i < m_size; ++i) {
    if (m_listeners[i].removed) continue;
    m_listeners[i].removed = true;
    ++m_removed;
  }
}

void Hook::Compact() {
  ORV_ASSERT(m_activeWalks == 0);
  Listener* end = std::remove_if(m_listeners, m_listeners + m_size, [](const Listener& l) { return l.removed; });
  m_size = uint32_t(end - m_listeners);
  m_removed = 0;
  ++m_layout;
}

void Hook::EndWalk() {
  ORV_ASSERT(m_activeWalks == 0);
  if (m_hasLateListeners) {
    for (uint32_t i = 0; i < m_size; ++i) m_listeners[i].bornInWalk = 0;
    m_hasLateListeners = false;
  }
  m_walksStarted = 0;
  if (m_removed > 0) Compact();
}

// --- Tables -------------------------------------------------------------------------------------------

// Keeps the event's listeners in place and the table's events alive while any walk may still step
// through them.
class Hooks::WalkScope {
 public:
  WalkScope(Hooks& hooks, Hook& hook) : m_hooks(hooks), m_hook(hook), m_walk(++hook.m_walksStarted) {
    ++m_hook.m_activeWalks;
    ++m_hooks.m_activeCalls;
  }
  ~WalkScope() {
    ORV_ASSERT(m_hook.m_activeWalks > 0 && m_hooks.m_activeCalls > 0);
    if (--m_hook.m_activeWalks == 0) m_hook.EndWalk();
    if (--m_hooks.m_activeCalls == 0 && m_hooks.m_retired) {
      m_hooks.Release(m_hooks.m_retired);
      m_hooks.m_retired = nullptr;
      m_hooks.LeaveStoreWhenEmpty();
    }
  }
  WalkScope(const WalkScope&) = delete;
  WalkScope& operator=(const WalkScope&) = delete;

  // Listeners registered during this walk or a later one carry at least this number.
  uint32_t Walk() const { return m_walk; }

 private:
  Hooks& m_hooks;
  Hook& m_hook;
  uint32_t m_walk;
};

Hooks::Hooks(const Base::HandleManager* handles) : m_handles(handles) {}

Hooks::~Hooks() {
  ORV_ASSERT(m_activeCalls == 0);
  Release(m_records);
  Release(m_retired);
  m_records = m_retired = nullptr;
  LeaveStoreWhenEmpty();
}

Hook* Hooks::FindRecord(std::string_view name) const {
  for (Hook* hook = m_records; hook; hook = hook->m_next)
    if (hook->Named(name)) return hook;
  return nullptr;
}

const Hook* Hooks::Find(std::string_view name) const { return FindRecord(name); }

Hook& Hooks::Record(std::string_view name) {
  if (Hook* hook = FindRecord(name)) return *hook;
  if (!m_store) m_store = &Store::Join(m_handles);
  Hook* hook = ::new (m_store->Allocate()) Hook(InternName(name));
  hook->m_next = m_records;
  m_records = hook;
  return *hook;
}

void Hooks::Release(Hook* records) {
  while (records) {
    ORV_ASSERT(records->m_activeWalks == 0);
    Hook* next = records->m_next;
    records->~Hook();
    m_store->Free(records);
    records = next;
  }
}

void Hooks::LeaveStoreWhenEmpty() {
  if (!m_store || m_records || m_retired) return;
  m_store->Leave();
  m_store = nullptr;
}

namespace {
// A listener registered while its event is being walked waits for the walks that follow.
uint32_t BirthOf(uint32_t activeWalks, uint32_t walksStarted, bool& late) {
  if (activeWalks == 0) return 0;
  late = true;
  return walksStarted;
}
}  // namespace

void Hooks::AddSystemListener(std::string_view name, void* owner, const Base::Function& fn) {
  Hook& hook = Record(name);
  // Sequence numbers only grow: the new listener goes last.
  const uint32_t born = BirthOf(hook.m_activeWalks, hook.m_walksStarted, hook.m_hasLateListeners);
  hook.Insert(hook.m_size, {kSystemKeyBase + ++g_systemSequence, owner, InternFunction(fn), born, false});
}

void Hooks::RemoveSystemListener(std::string_view name, const void* owner) {
  Hook* hook = FindRecord(name);
  if (!hook) return;
  // From the end, so that trimming or compacting behind a removal never moves what is still to see.
  for (uint32_t i = hook->m_size; i-- > hook->LowerBound(kSystemKeyBase);) {
    if (i >= hook->m_size) continue;
    const Hook::Listener& listener = hook->m_listeners[i];
    if (listener.owner == owner && !listener.removed) hook->Drop(i);
  }
}

void Hooks::AddComponentListener(std::string_view name, Base::Handle owner, const Base::Function& fn) {
  Hook& hook = Record(name);
  const uint64_t key = ComponentKey(owner);
  // Components made one after another mostly register in handle order: try the end before searching.
  uint32_t index = hook.m_size;
  if (index > 0 && hook.m_listeners[index - 1].key >= key) index = hook.LowerBound(key);
  if (index < hook.m_size && hook.m_listeners[index].key == key) {
    Hook::Listener& listener = hook.m_listeners[index];
    listener.function = InternFunction(fn);
    if (listener.removed) {
      // Removed and added again: like any new listener, it waits for the calls that follow.
      listener.removed = false;
      --hook.m_removed;
      listener.bornInWalk = BirthOf(hook.m_activeWalks, hook.m_walksStarted, hook.m_hasLateListeners);
    }
    return;
  }
  const uint32_t born = BirthOf(hook.m_activeWalks, hook.m_walksStarted, hook.m_hasLateListeners);
  hook.Insert(index, {key, nullptr, InternFunction(fn), born, false});
}

void Hooks::RemoveComponentListener(std::string_view name, Base::Handle owner) {
  Hook* hook = FindRecord(name);
  if (!hook || hook->m_size == 0) return;
  const uint64_t key = ComponentKey(owner);
  const uint32_t index = hook->m_listeners[hook->m_size - 1].key == key ? hook->m_size - 1 : hook->LowerBound(key);
  if (index < hook->m_size && hook->m_listeners[index].key == key && !hook->m_listeners[index].removed)
    hook->Drop(index);
}

void Hooks::Clear(bool deleteRecords) {
  if (deleteRecords && m_activeCalls == 0) {
    Release(m_records);
  } else {
    for (Hook* hook = m_records; hook; hook = hook->m_next) hook->DropAll();
    if (!deleteRecords || !m_records) return;
    // A running call may still be walking one of them: they go when the outermost call returns.
    Hook* last = m_records;
    while (last->m_next) last = last->m_next;
    last->m_next = m_retired;
    m_retired = m_records;
  }
  m_records = nullptr;
  LeaveStoreWhenEmpty();
}

void Hooks::Walk(Hook& hook, Invoker invoke, const void* args) {
  const WalkScope scope(*this, hook);
  const uint32_t walk = scope.Walk();
  // Nothing is erased while a walk runs; an insertion in the middle shifts what follows, and the walk
  // then goes on after the last key it saw.
  uint32_t layout = hook.m_layout;
  uint64_t lastKey = 0;
  bool started = false;
  for (uint32_t i = 0;; ++i) {
    if (hook.m_layout != layout) {
      layout = hook.m_layout;
      i = started ? std::upper_bound(hook.m_listeners, hook.m_listeners + hook.m_size, lastKey,
                                     [](uint64_t k, const Hook::Listener& l) { return k < l.key; }) -
                        hook.m_listeners
                  : 0;
    }
    if (i >= hook.m_size) break;
    Hook::Listener& listener = hook.m_listeners[i];
    ORV_ASSERT(!started || listener.key > lastKey);
    lastKey = listener.key;
    started = true;
    if (listener.removed || (listener.bornInWalk != 0 && listener.bornInWalk >= walk)) continue;

    void* object = listener.owner;
    if (!IsSystemKey(listener.key)) {
      const Base::Handle handle(static_cast<uint32_t>(listener.key));
      object = m_handles ? m_handles->Resolve(handle) : nullptr;
      if (!object) {
        // Its component is gone: once the slot's generation wraps, the handle would name a stranger.
        CORE_LOG(Warning, "Hook \"%s\": dropped listener %s of handle 0x%08X, which no longer resolves",
                 hook.GetName().c_str(), listener.function->GetName().c_str(), static_cast<uint32_t>(handle));
        hook.Drop(i);
        continue;
      }
    }
    // The listener's slot may move while its function runs; the shared function does not.
    Base::Function& function = *listener.function;
    function.SetObject(Base::Reflection::Variant(function.GetSignature().GetThisType(), object));
    invoke(function, args);
  }
}

}  // namespace Core
