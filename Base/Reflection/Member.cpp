// Member values, member groups and the open-group stack of registration.
#include "Base/Reflection/Member.h"

#include <new>

#include "Base/BlobAllocator.h"
#include "Base/Reflection/TypeInfo.h"

namespace Base::Reflection {
namespace {

std::vector<MemberGroup*>& OpenGroups() {
  static std::vector<MemberGroup*> stack;
  return stack;
}

// Groups live in blob memory; this list destroys them at exit (their names and child lists own heap
// memory). It touches the blob allocator first so that the allocator is destroyed after it.
struct GroupStore {
  GroupStore() { GlobalBlobAllocator(); }
  ~GroupStore() {
    for (MemberGroup* group : groups) group->~MemberGroup();
  }
  std::vector<MemberGroup*> groups;
};

GroupStore& Groups() {
  static GroupStore store;
  return store;
}

}  // namespace

Variant Member::GetVariant(void* object) const {
  char* field = static_cast<char*>(object) + offset;
  if (type && type->isPointer) return Variant(type, *reinterpret_cast<void**>(field));
  return Variant(type, field);
}

MemberGroup* NewMemberGroup() {
  GroupStore& store = Groups();
  void* block = GlobalBlobAllocator().Allocate(sizeof(MemberGroup), alignof(MemberGroup));
  if (!block) return nullptr;
  MemberGroup* group = ::new (block) MemberGroup();
  store.groups.push_back(group);
  return group;
}

void PushMemberGroup(MemberGroup* group) { OpenGroups().push_back(group); }

void PopMemberGroup() {
  if (!OpenGroups().empty()) OpenGroups().pop_back();
}

MemberGroup* CurrentMemberGroup() { return OpenGroups().empty() ? nullptr : OpenGroups().back(); }

void ClearMemberGroupStack() { OpenGroups().clear(); }

}  // namespace Base::Reflection
