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
    Store* store = last_ && last_->handles_ == handles ? last_ : nullptr;
    for (Store* each = first_; !store && each; each = each->next_)
      if (each->handles_ == handles) store = each;
    if (!store) {
      store = new Store(handles);
      store->next_ = first_;
      first_ = store;
    }
    ++store->tables_;
    last_ = store;
    return *store;
  }

  void Leave() {
    ORV_ASSERT(tables_ > 0);
    if (--tables_ > 0) return;
    for (Store** link = &first_; *link; link = &(*link)->next_) {
      if (*link == this) {
        *link = next_;
        break;
      }
    }
    if (last_ == this) last_ = nullptr;
    delete this;
  }

  void* Allocate() {
    if (Slot* slot = free_) {
      free_ = slot->next;
      return slot;
    }
    if (left_ == 0) {
      Chunk* chunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + sizeof(Slot) * nextChunk_));
      chunk->next = chunks_;
      chunks_ = chunk;
      cursor_ = reinterpret_cast<Slot*>(chunk + 1);
      left_ = nextChunk_;
      nextChunk_ = std::min(nextChunk_ * 2, kLargestChunk);
    }
    --left_;
    return cursor_++;
  }

  void Free(void* record) { free_ = ::new (record) Slot{free_}; }

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

  explicit Store(const Base::HandleManager* handles) : handles_(handles) {}
  ~Store() {
    while (chunks_) {
      Chunk* next = chunks_->next;
      ::operator delete(chunks_);
      chunks_ = next;
    }
  }

  static inline Store* first_ = nullptr;
  static inline Store* last_ = nullptr;  // the store joined last: objects of one space join in a row

  const Base::HandleManager* handles_;
  Store* next_ = nullptr;
  Chunk* chunks_ = nullptr;
  Slot* free_ = nullptr;
  Slot* cursor_ = nullptr;  // the newest chunk's first unused slot
  uint32_t left_ = 0;       // unused slots there
  uint32_t nextChunk_ = kFirstChunk;
  uint32_t tables_ = 0;
};

// --- Events -------------------------------------------------------------------------------------------

Hook::~Hook() {
  if (listeners_ != inline_) delete[] listeners_;
}

uint32_t Hook::LowerBound(uint64_t key) const {
  const Listener* found = std::lower_bound(listeners_, listeners_ + size_, key,
                                           [](const Listener& listener, uint64_t k) { return listener.key < k; });
  return uint32_t(found - listeners_);
}

void Hook::Insert(uint32_t index, const Listener& listener) {
  ORV_ASSERT(index <= size_);
  ORV_ASSERT(index == 0 || listeners_[index - 1].key < listener.key);
  ORV_ASSERT(index == size_ || listener.key < listeners_[index].key);
  if (size_ == capacity_) {
    const uint32_t capacity = std::max(capacity_ * 2, 4u);
    Listener* grown = new Listener[capacity];
    std::copy(listeners_, listeners_ + size_, grown);
    if (listeners_ != inline_) delete[] listeners_;
    listeners_ = grown;
    capacity_ = capacity;
  }
  if (index < size_) {
    std::copy_backward(listeners_ + index, listeners_ + size_, listeners_ + size_ + 1);
    ++layout_;
  }
  listeners_[index] = listener;
  ++size_;
}

void Hook::Drop(uint32_t index) {
  ORV_ASSERT(index < size_ && !listeners_[index].removed);
  listeners_[index].removed = true;
  ++removed_;
  if (activeWalks_ > 0) return;
  // Components go in reverse order of their coming when a space is emptied: trimming the end keeps
  // that linear.
  while (size_ > 0 && listeners_[size_ - 1].removed) {
    --size_;
    --removed_;
  }
  // Elsewhere a removal leaves a gap that walks skip, until gaps are half the listeners.
  if (removed_ * 2 > size_) Compact();
}

void Hook::DropAll() {
  if (activeWalks_ == 0) {
    size_ = 0;
    removed_ = 0;
    return;
  }
  for (uint32_t i = 0; i < size_; ++i) {
    if (listeners_[i].removed) continue;
    listeners_[i].removed = true;
    ++removed_;
  }
}

void Hook::Compact() {
  ORV_ASSERT(activeWalks_ == 0);
  Listener* end = std::remove_if(listeners_, listeners_ + size_, [](const Listener& l) { return l.removed; });
  size_ = uint32_t(end - listeners_);
  removed_ = 0;
  ++layout_;
}

void Hook::EndWalk() {
  ORV_ASSERT(activeWalks_ == 0);
  if (hasLateListeners_) {
    for (uint32_t i = 0; i < size_; ++i) listeners_[i].bornInWalk = 0;
    hasLateListeners_ = false;
  }
  walksStarted_ = 0;
  if (removed_ > 0) Compact();
}

// --- Tables -------------------------------------------------------------------------------------------

// Keeps the event's listeners in place and the table's events alive while any walk may still step
// through them.
class Hooks::WalkScope {
 public:
  WalkScope(Hooks& hooks, Hook& hook) : hooks_(hooks), hook_(hook), walk_(++hook.walksStarted_) {
    ++hook_.activeWalks_;
    ++hooks_.activeCalls_;
  }
  ~WalkScope() {
    ORV_ASSERT(hook_.activeWalks_ > 0 && hooks_.activeCalls_ > 0);
    if (--hook_.activeWalks_ == 0) hook_.EndWalk();
    if (--hooks_.activeCalls_ == 0 && hooks_.retired_) {
      hooks_.Release(hooks_.retired_);
      hooks_.retired_ = nullptr;
      hooks_.LeaveStoreWhenEmpty();
    }
  }
  WalkScope(const WalkScope&) = delete;
  WalkScope& operator=(const WalkScope&) = delete;

  // Listeners registered during this walk or a later one carry at least this number.
  uint32_t Walk() const { return walk_; }

 private:
  Hooks& hooks_;
  Hook& hook_;
  uint32_t walk_;
};

Hooks::Hooks(const Base::HandleManager* handles) : handles_(handles) {}

Hooks::~Hooks() {
  ORV_ASSERT(activeCalls_ == 0);
  Release(records_);
  Release(retired_);
  records_ = retired_ = nullptr;
  LeaveStoreWhenEmpty();
}

Hook* Hooks::FindRecord(std::string_view name) const {
  for (Hook* hook = records_; hook; hook = hook->next_)
    if (hook->Named(name)) return hook;
  return nullptr;
}

const Hook* Hooks::Find(std::string_view name) const { return FindRecord(name); }

Hook& Hooks::Record(std::string_view name) {
  if (Hook* hook = FindRecord(name)) return *hook;
  if (!store_) store_ = &Store::Join(handles_);
  Hook* hook = ::new (store_->Allocate()) Hook(InternName(name));
  hook->next_ = records_;
  records_ = hook;
  return *hook;
}

void Hooks::Release(Hook* records) {
  while (records) {
    ORV_ASSERT(records->activeWalks_ == 0);
    Hook* next = records->next_;
    records->~Hook();
    store_->Free(records);
    records = next;
  }
}

void Hooks::LeaveStoreWhenEmpty() {
  if (!store_ || records_ || retired_) return;
  store_->Leave();
  store_ = nullptr;
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
  const uint32_t born = BirthOf(hook.activeWalks_, hook.walksStarted_, hook.hasLateListeners_);
  hook.Insert(hook.size_, {kSystemKeyBase + ++g_systemSequence, owner, InternFunction(fn), born, false});
}

void Hooks::RemoveSystemListener(std::string_view name, const void* owner) {
  Hook* hook = FindRecord(name);
  if (!hook) return;
  // From the end, so that trimming or compacting behind a removal never moves what is still to see.
  for (uint32_t i = hook->size_; i-- > hook->LowerBound(kSystemKeyBase);) {
    if (i >= hook->size_) continue;
    const Hook::Listener& listener = hook->listeners_[i];
    if (listener.owner == owner && !listener.removed) hook->Drop(i);
  }
}

void Hooks::AddComponentListener(std::string_view name, Base::Handle owner, const Base::Function& fn) {
  Hook& hook = Record(name);
  const uint64_t key = ComponentKey(owner);
  // Components made one after another mostly register in handle order: try the end before searching.
  uint32_t index = hook.size_;
  if (index > 0 && hook.listeners_[index - 1].key >= key) index = hook.LowerBound(key);
  if (index < hook.size_ && hook.listeners_[index].key == key) {
    Hook::Listener& listener = hook.listeners_[index];
    listener.function = InternFunction(fn);
    if (listener.removed) {
      // Removed and added again: like any new listener, it waits for the calls that follow.
      listener.removed = false;
      --hook.removed_;
      listener.bornInWalk = BirthOf(hook.activeWalks_, hook.walksStarted_, hook.hasLateListeners_);
    }
    return;
  }
  const uint32_t born = BirthOf(hook.activeWalks_, hook.walksStarted_, hook.hasLateListeners_);
  hook.Insert(index, {key, nullptr, InternFunction(fn), born, false});
}

void Hooks::RemoveComponentListener(std::string_view name, Base::Handle owner) {
  Hook* hook = FindRecord(name);
  if (!hook || hook->size_ == 0) return;
  const uint64_t key = ComponentKey(owner);
  const uint32_t index = hook->listeners_[hook->size_ - 1].key == key ? hook->size_ - 1 : hook->LowerBound(key);
  if (index < hook->size_ && hook->listeners_[index].key == key && !hook->listeners_[index].removed)
    hook->Drop(index);
}

void Hooks::Clear(bool deleteRecords) {
  if (deleteRecords && activeCalls_ == 0) {
    Release(records_);
  } else {
    for (Hook* hook = records_; hook; hook = hook->next_) hook->DropAll();
    if (!deleteRecords || !records_) return;
    // A running call may still be walking one of them: they go when the outermost call returns.
    Hook* last = records_;
    while (last->next_) last = last->next_;
    last->next_ = retired_;
    retired_ = records_;
  }
  records_ = nullptr;
  LeaveStoreWhenEmpty();
}

void Hooks::Walk(Hook& hook, Invoker invoke, const void* args) {
  const WalkScope scope(*this, hook);
  const uint32_t walk = scope.Walk();
  // Nothing is erased while a walk runs; an insertion in the middle shifts what follows, and the walk
  // then goes on after the last key it saw.
  uint32_t layout = hook.layout_;
  uint64_t lastKey = 0;
  bool started = false;
  for (uint32_t i = 0;; ++i) {
    if (hook.layout_ != layout) {
      layout = hook.layout_;
      i = started ? std::upper_bound(hook.listeners_, hook.listeners_ + hook.size_, lastKey,
                                     [](uint64_t k, const Hook::Listener& l) { return k < l.key; }) -
                        hook.listeners_
                  : 0;
    }
    if (i >= hook.size_) break;
    Hook::Listener& listener = hook.listeners_[i];
    ORV_ASSERT(!started || listener.key > lastKey);
    lastKey = listener.key;
    started = true;
    if (listener.removed || (listener.bornInWalk != 0 && listener.bornInWalk >= walk)) continue;

    void* object = listener.owner;
    if (!IsSystemKey(listener.key)) {
      const Base::Handle handle(static_cast<uint32_t>(listener.key));
      object = handles_ ? handles_->Resolve(handle) : nullptr;
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
