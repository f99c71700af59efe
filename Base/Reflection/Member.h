// Properties of a type record: reflected members (fields at fixed offsets), editor buttons, and the
// named groups that nest them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Base/Reflection/Variant.h"
#include "Base/function/Function.h"

namespace Base::Reflection {

struct TypeInfo;
struct MemberGroup;

enum PropertyKind : uint32_t {
  PropertyKind_Member = 0,
  PropertyKind_Button = 1,
};

// Members and buttons share one base so that an editor can walk both in one property order.
class TypeProperty {
 public:
  explicit TypeProperty(PropertyKind kind, MemberGroup* group) : kind(kind), group(group) {}
  // The flag is set on every new property; an editor may read a cleared flag as "hidden".
  virtual void SetFlag(uint8_t value) { flag = value; }

  uint32_t kind;
  MemberGroup* group;  // the group open when the property was added, or null
  uint8_t flag = 1;
};

class Member : public TypeProperty {
 public:
  // An unnamed member with the flag set and every other field zero (the default value of its record).
  Member() : Member(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr) {}
  Member(MemberGroup* group, const char* name, uint32_t offset, TypeInfo* type, TypeInfo* owner,
         Function* setter, Function* getter)
      : TypeProperty(PropertyKind_Member, group),
        name(name),
        offset(offset),
        type(type),
        owner(owner),
        setter(setter),
        getter(getter) {}

  // The member's value inside `object`, as a variant: the field's address, or for pointer-typed
  // fields the pointer stored there (every pointer-typed variant carries the pointer itself).
  Variant GetVariant(void* object) const;

  const char* name;             // static storage
  const char* label = nullptr;  // display label, set after registration by a few types
  uint32_t offset;
  TypeInfo* type;
  TypeInfo* owner;
  Function* setter;  // bound script accessors, or null; the value itself is always read at `offset`
  Function* getter;
};

class MemberButton : public TypeProperty {
 public:
  MemberButton(MemberGroup* group, const char* label, const Function& function)
      : TypeProperty(PropertyKind_Button, group), label(label), function(function) {}

  const char* label;
  Function function;  // a copy; the holder binds its own object before calling
};

// Allocated from the global blob allocator and kept until exit.
struct MemberGroup {
  MemberGroup* parent = nullptr;
  std::string name;
  std::vector<MemberGroup*> children;
  TypeInfo* owner = nullptr;
};

// A new, empty group from the global blob allocator; it lives until exit. Null when out of memory.
MemberGroup* NewMemberGroup();

// The one open-group stack shared by all registrations; its top is the current group.
void PushMemberGroup(MemberGroup* group);
void PopMemberGroup();
MemberGroup* CurrentMemberGroup();
// Every registration step starts with an empty stack, so a group left open cannot leak into the next type.
void ClearMemberGroupStack();

// Pushes a group for the lifetime of a scope.
class MemberGroupScope {
 public:
  explicit MemberGroupScope(MemberGroup* group) { PushMemberGroup(group); }
  ~MemberGroupScope() { PopMemberGroup(); }
  MemberGroupScope(const MemberGroupScope&) = delete;
  MemberGroupScope& operator=(const MemberGroupScope&) = delete;
};

}  // namespace Base::Reflection

// The records come after their properties (this header is their include root too).
#include "Base/Reflection/TypeInfo.h"
