// Hook tables: registration, removal that is safe during a call, and the ordered walk.
#include "Core/Hooks.h"

#include <iterator>
#include <new>
#include <tuple>
#include <utility>

#include "Base/TraceLog.h"

namespace Core {
namespace {

// One counter for every table, so that systems run in registration order whichever table they joined.
uint64_t g_systemSequence = 0;

// System keys sit above every 32-bit handle value.
constexpr uint64_t kSystemKeyBase = uint64_t(1) << 32;

uint64_t ComponentKey(Base::Handle handle) { return static_cast<uint32_t>(handle); }
bool IsSystemKey(uint64_t key) { return key >= kSystemKeyBase; }

}  // namespace

Hook::NodePool::~NodePool() {
  while (blocks_) {
    Block* next = blocks_->next;
    ::operator delete(blocks_);
    blocks_ = next;
  }
}

void* Hook::NodePool::Allocate(size_t size) {
  if (nodeSize_ == 0) nodeSize_ = size;
  if (size != nodeSize_ || size < sizeof(FreeNode)) return ::operator new(size);
  if (FreeNode* node = free_) {
    free_ = node->next;
    return node;
  }
  if (left_ == 0) {
    const size_t slot = Slot(size);
    Block* block = static_cast<Block*>(::operator new(sizeof(Block) + slot * nextBlock_));
    block->next = blocks_;
    blocks_ = block;
    cursor_ = reinterpret_cast<char*>(block + 1);
    left_ = nextBlock_;
    if (nextBlock_ < kLargestBlock) nextBlock_ *= 2;
  }
  void* node = cursor_;
  cursor_ += Slot(size);
  --left_;
  return node;
}

void Hook::NodePool::Free(void* node, size_t size) {
  if (size != nodeSize_ || size < sizeof(FreeNode)) {
    ::operator delete(node);
    return;
  }
  free_ = ::new (node) FreeNode{free_};
}

size_t Hook::ListenerCount() const {
  size_t count = 0;
  for (const auto& entry : listeners_) count += entry.second.removed ? 0 : 1;
  return count;
}

void Hook::Drop(ListenerMap::iterator entry) {
  if (activeWalks_ == 0) {
    listeners_.erase(entry);
    return;
  }
  entry->second.removed = true;
  hasRemoved_ = true;
}

void Hook::DropAll() {
  if (activeWalks_ == 0) {
    listeners_.clear();
    return;
  }
  for (auto& entry : listeners_) entry.second.removed = true;
  hasRemoved_ = true;
}

void Hook::Sweep() {
  std::erase_if(listeners_, [](const auto& entry) { return entry.second.removed; });
  hasRemoved_ = false;
}

// Keeps the record's entries and the table's records alive while any walk may still step through them.
class Hooks::WalkScope {
 public:
  WalkScope(Hooks& hooks, Hook& hook) : hooks_(hooks), hook_(hook) {
    ++hook_.activeWalks_;
    ++hooks_.activeCalls_;
  }
  ~WalkScope() {
    if (--hook_.activeWalks_ == 0 && hook_.hasRemoved_) hook_.Sweep();
    if (--hooks_.activeCalls_ == 0) hooks_.retired_.clear();
  }
  WalkScope(const WalkScope&) = delete;
  WalkScope& operator=(const WalkScope&) = delete;

 private:
  Hooks& hooks_;
  Hook& hook_;
};

Hooks::Hooks(const Base::HandleManager* handles) : handles_(handles) {}

Hooks::~Hooks() = default;

Hook* Hooks::FindRecord(std::string_view name) {
  const auto found = hooks_.find(name);
  return found == hooks_.end() ? nullptr : &found->second;
}

const Hook* Hooks::Find(std::string_view name) const {
  const auto found = hooks_.find(name);
  return found == hooks_.end() ? nullptr : &found->second;
}

Hook& Hooks::Record(std::string_view name) {
  if (Hook* hook = FindRecord(name)) return *hook;
  // Every game object has a table: its buckets wait for its first event.
  if (hooks_.bucket_count() < kInitialBuckets) hooks_.reserve(kInitialBuckets);
  const auto entry = hooks_.try_emplace(std::string(name)).first;
  entry->second.name_ = &entry->first;
  return entry->second;
}

void Hooks::AddSystemListener(std::string_view name, void* owner, const Base::Function& fn) {
  Hook& hook = Record(name);
  // Sequence numbers only grow: the new listener goes last, and the function is copied once, in place.
  hook.listeners_.emplace_hint(hook.listeners_.end(), std::piecewise_construct,
                               std::forward_as_tuple(kSystemKeyBase + ++g_systemSequence),
                               std::forward_as_tuple(owner, Base::kNullHandle, fn, hook.walksStarted_, false));
}

void Hooks::RemoveSystemListener(std::string_view name, const void* owner) {
  Hook* hook = FindRecord(name);
  if (!hook) return;
  for (auto entry = hook->listeners_.lower_bound(kSystemKeyBase); entry != hook->listeners_.end();) {
    const auto next = std::next(entry);
    if (entry->second.owner == owner && !entry->second.removed) hook->Drop(entry);
    entry = next;
  }
}

void Hooks::AddComponentListener(std::string_view name, Base::Handle owner, const Base::Function& fn) {
  Hook& hook = Record(name);
  const uint64_t key = ComponentKey(owner);
  // Components made one after another mostly register in handle order: try the end before searching.
  auto entry = hook.listeners_.end();
  const bool last = hook.listeners_.empty() || std::prev(entry)->first < key;
  if (!last) entry = hook.listeners_.lower_bound(key);
  if (last || entry->first != key) {
    hook.listeners_.emplace_hint(entry, std::piecewise_construct, std::forward_as_tuple(key),
                                 std::forward_as_tuple(nullptr, owner, fn, hook.walksStarted_, false));
    return;
  }
  Hook::Listener& listener = entry->second;
  // Function's assignment keeps the target's name; a replacement takes the new one too.
  listener.function = fn;
  listener.function.SetName(fn.GetName());
  if (listener.removed) {
    // Removed and added again during a call: it waits for the next call, like any new listener.
    listener.removed = false;
    listener.bornInWalk = hook.walksStarted_;
  }
}

void Hooks::RemoveComponentListener(std::string_view name, Base::Handle owner) {
  Hook* hook = FindRecord(name);
  if (!hook) return;
  const auto entry = hook->listeners_.find(ComponentKey(owner));
  if (entry != hook->listeners_.end() && !entry->second.removed) hook->Drop(entry);
}

void Hooks::Clear(bool deleteRecords) {
  for (auto& [name, hook] : hooks_) hook.DropAll();
  if (!deleteRecords) return;
  // Records that a running call still walks are kept until that call returns.
  if (activeCalls_ > 0) retired_.push_back(std::move(hooks_));
  HookMap().swap(hooks_);
}

void Hooks::Walk(Hook& hook, Invoker invoke, const void* args) {
  const uint64_t walk = ++hook.walksStarted_;
  WalkScope scope(*this, hook);
  // Nothing is erased while a walk runs, so the iterator survives whatever the listeners do.
  for (auto entry = hook.listeners_.begin(); entry != hook.listeners_.end(); ++entry) {
    Hook::Listener& listener = entry->second;
    if (listener.removed || listener.bornInWalk >= walk) continue;

    void* object = listener.owner;
    if (!IsSystemKey(entry->first)) {
      object = handles_ ? handles_->Resolve(listener.handle) : nullptr;
      if (!object) {
        // Its component is gone: once the slot's generation wraps, the handle would name a stranger.
        Base::TraceLog::GetInstance().Print(
            Base::TraceLevel_Warning, Base::TraceModule_Core,
            "Hook \"%s\": dropped listener %s of handle 0x%08X, which no longer resolves", hook.GetName().c_str(),
            listener.function.GetName().c_str(), static_cast<uint32_t>(listener.handle));
        hook.Drop(entry);
        continue;
      }
    }
    listener.function.SetObject(
        Base::Reflection::Variant(listener.function.GetSignature().GetThisType(), object));
    invoke(listener.function, args);
  }
}

}  // namespace Core
