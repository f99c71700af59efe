// Type records: names, text functions, properties and methods.
#include "Base/Reflection/TypeInfo.h"

#include <algorithm>

#include "Base/function/Function.h"

namespace Base::Reflection {
namespace {

TypeInfo::TextFn g_instanceWriter = nullptr;
TypeInfo::TextFn g_instanceReader = nullptr;

std::string_view AfterLastColon(std::string_view text) {
  const size_t colon = text.rfind(':');
  return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

}  // namespace

std::string StripNamespaces(std::string_view typeName) {
  // Each piece runs up to and including the next '<' and keeps only what follows its last ':', so
  // template arguments lose their namespaces too. Commas are not special.
  std::string result;
  size_t start = 0;
  for (;;) {
    const size_t open = typeName.find('<', start);
    const std::string_view piece =
        typeName.substr(start, open == std::string_view::npos ? std::string_view::npos : open - start + 1);
    result += AfterLastColon(piece);
    if (open == std::string_view::npos) return result;
    start = open + 1;
  }
}

std::string MetatableName(std::string_view source) { return std::string(AfterLastColon(source)); }

std::string QuotedDescription(const char* text) {
  std::string quoted = "\"";
  if (text) quoted += text;
  quoted += '"';
  return quoted;
}

void TypeInfo::Init(std::string_view typeName, uint32_t byteSize) {
  name.clear();
  for (char c : typeName)
    if (c != ' ') name += c;
  size = byteSize;
}

void TypeInfo::SetInstanceSerializers(TextFn writer, TextFn reader) {
  g_instanceWriter = writer;
  g_instanceReader = reader;
}

void TypeInfo::Serialize(File& file, const Variant& value) const {
  if (serialize)
    serialize(file, value);
  else if (g_instanceWriter)
    g_instanceWriter(file, value);
}

void TypeInfo::Deserialize(File& file, const Variant& value) const {
  if (deserialize)
    deserialize(file, value);
  else if (g_instanceReader)
    g_instanceReader(file, value);
}

Member* TypeInfo::AddMember(TypeInfo* fieldType, const char* memberName, uint32_t offset, Function* setter,
                            Function* getter) {
  members.emplace_back(CurrentMemberGroup(), memberName, offset, fieldType, this, setter, getter);
  propertyOrder.emplace_back(PropertyKind_Member, static_cast<uint32_t>(members.size() - 1));
  return &members.back();
}

MemberButton* TypeInfo::AddMemberButton(const char* label, const Function* function) {
  // The button takes the function's object, signature and thunk, not its name.
  MemberButton button(CurrentMemberGroup(), label, Function());
  if (function) button.function = *function;
  buttons.push_back(std::move(button));
  propertyOrder.emplace_back(PropertyKind_Button, static_cast<uint32_t>(buttons.size() - 1));
  return &buttons.back();
}

MemberGroup* TypeInfo::AddMemberGroup(const char* groupName) {
  MemberGroup* group = NewMemberGroup();
  if (!group) return nullptr;
  group->parent = CurrentMemberGroup();
  group->name = groupName ? groupName : "";
  group->owner = this;
  if (group->parent) group->parent->children.push_back(group);
  groups.push_back(group);
  return group;
}

MemberGroup* TypeInfo::OpenMemberGroup(const char* groupName) {
  MemberGroup* group = AddMemberGroup(groupName);
  PushMemberGroup(group);
  return group;
}

const Member* TypeInfo::FindMember(std::string_view memberName) const {
  for (const Member& member : members)
    if (memberName == member.name) return &member;
  return nullptr;
}

void TypeInfo::AddMethod(Function* function, std::string_view qualifiedName, const char* luaName) {
  const bool listed = std::any_of(methods.begin(), methods.end(),
                                  [&](const auto& method) { return method.first == function; });
  if (listed) return;
  methods.emplace_back(function, luaName ? std::string(luaName) : std::string(AfterLastColon(qualifiedName)));
}

}  // namespace Base::Reflection
