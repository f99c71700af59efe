// The recursive instance writer and reader of the value text format.
#include "Base/Serialization/Serializer.h"

#include <algorithm>

#include "Base/Reflection/Registration.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/TraceLog.h"

namespace Base {
namespace {

using Reflection::Member;
using Reflection::TypeInfo;
using Reflection::Variant;

// Points the file at the serializer working on it for the length of one instance call, so that nested
// members and types with their own text functions share its depth and context.
class AttachScope {
 public:
  AttachScope(File& file, Serializer* serializer) : file_(file), previous_(file.GetSerializer()) {
    file.SetSerializer(serializer);
  }
  ~AttachScope() { file_.SetSerializer(previous_); }
  AttachScope(const AttachScope&) = delete;
  AttachScope& operator=(const AttachScope&) = delete;

 private:
  File& file_;
  Serializer* previous_;
};

// How a type without its own text functions is written and read: as a nested instance, by the
// serializer already at work on the file, or by a fresh one when a caller went straight to the type.
void WriteInstance(File& file, const Variant& value) {
  if (Serializer* serializer = file.GetSerializer()) {
    serializer->SerializeInstance(file, value);
    return;
  }
  Serializer fresh;
  fresh.SerializeInstance(file, value);
}

void ReadInstance(File& file, const Variant& value) {
  if (Serializer* serializer = file.GetSerializer()) {
    serializer->DeserializeInstance(file, value);
    return;
  }
  Serializer fresh;
  fresh.DeserializeInstance(file, value);
}

ORV_ON_LOAD { TypeInfo::SetInstanceSerializers(&WriteInstance, &ReadInstance); }

// A member name against a token (which holds no NUL), without measuring the name first.
bool NameIs(const char* name, std::string_view token) {
  for (const char c : token)
    if (*name++ != c) return false;
  return *name == '\0';
}

Variant FieldOf(const Variant& object, const Member& member) {
  // Text functions get the field's own address, also for pointer-typed fields, so a reader can store.
  return Variant(member.type, static_cast<char*>(object.data) + member.offset);
}

}  // namespace

void Serializer::WriteIndent(File& file, int32_t count) {
  static constexpr char kBlanks[] = "                                                                ";
  constexpr int32_t kLevels = (sizeof(kBlanks) - 1) / 2;
  while (count > 0) {
    const int32_t levels = std::min(count, kLevels);
    file.WriteText(std::string_view(kBlanks, size_t(levels) * 2));
    count -= levels;
  }
}

void Serializer::SerializeInstance(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  AttachScope attach(file, this);
  const int32_t depth = depth_;
  file.WriteText(value.type->name);
  file.WriteText(File::kLineEnd);
  WriteIndent(file, depth);
  file.WriteText("{\r\n");
  depth_ = depth + 1;
  for (const Member& member : value.type->members) {
    if (!member.type || !member.name) continue;
    WriteIndent(file, depth_);
    file.WriteText(member.name);
    file.WriteText(" ");
    member.type->Serialize(file, FieldOf(value, member));
  }
  depth_ = depth;
  WriteIndent(file, depth);
  file.WriteText("}\r\n");
}

void Serializer::WriteValue(File& file, const Variant& value) {
  if (!value.type) return;
  AttachScope attach(file, this);
  value.type->Serialize(file, value);
}

void Serializer::ReadValue(File& file, const Variant& value) {
  if (!value.type) return;
  AttachScope attach(file, this);
  value.type->Deserialize(file, value);
}

bool Serializer::ReadName(File& file, int32_t stopDepth, std::string_view& name) {
  stopped_ = false;
  while (file.ReadTokenView(name, kLongestToken)) {
    if (name == "{") {
      ++depth_;
    } else if (name == "}") {
      if (--depth_ == stopDepth) {
        stopped_ = true;
        return false;
      }
    } else {
      return file.IsGood();
    }
  }
  return false;
}

TypeInfo* Serializer::ReadType(File& file, int32_t stopDepth) {
  std::string_view name;
  if (!ReadName(file, stopDepth, name)) return nullptr;
  return Reflection::TypeRegistry::GetInstance().FindType(name);
}

const Member* Serializer::ReadMember(File& file, const std::vector<Member>& members, int32_t stopDepth) {
  std::string_view name;
  if (!ReadName(file, stopDepth, name)) return nullptr;
  for (const Member& member : members)
    if (member.name && NameIs(member.name, name)) return &member;
  return nullptr;
}

void Serializer::DeserializeInstance(File& file, const Variant& value) {
  if (nesting_ == 0) reportedEndOfInput_ = false;
  TraceLog& log = TraceLog::GetInstance();
  const char* typeName = value.type ? value.type->name.c_str() : "";
  const char* path = file.GetPath().c_str();
  const TypeInfo* found = ReadType(file, 0);
  if (!found) {
    log.Print(TraceLevel_Error, TraceModule_Base,
              "No type info found when deserializing an instance of \"%s\" in file: %s", typeName, path);
    return;
  }
  if (found != value.type) {
    log.Print(TraceLevel_Error, TraceModule_Base,
              "Attempted to deserialize an instance of \"%s\" using a \"%s\" in file: %s", typeName,
              found->name.c_str(), path);
    return;
  }
  if (!value.data) {
    log.Print(TraceLevel_Error, TraceModule_Base,
              "Attempted to deserialize an instance of \"%s\" without storage in file: %s", typeName, path);
    return;
  }
  AttachScope attach(file, this);
  ++nesting_;
  DeserializeMembers(file, value);
  --nesting_;
}

void Serializer::DeserializeMembers(File& file, const Variant& value) {
  const int32_t depth = depth_;
  do {
    if (const Member* member = ReadMember(file, value.type->members, depth)) {
      if (member->type) member->type->Deserialize(file, FieldOf(value, *member));
      continue;
    }
    if (stopped_) break;
    // Without this the loop would wait forever for the closing brace of a truncated file.
    if (!file.IsGood()) {
      if (!reportedEndOfInput_)
        TraceLog::GetInstance().Print(
            TraceLevel_Error, TraceModule_Base,
            "Unexpected end of file while deserializing an instance of \"%s\" in file: %s",
            value.type->name.c_str(), file.GetPath().c_str());
      reportedEndOfInput_ = true;
      depth_ = depth;
      return;
    }
  } while (depth_ != depth);
}

}  // namespace Base
