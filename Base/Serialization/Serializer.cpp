// The recursive instance writer and reader of the value text format.
#include "Base/Serialization/Serializer.h"

#include <algorithm>
#include <cstring>

#include "Base/Reflection/Registration.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/Assert.h"
#include "Base/Log.h"

namespace Base {
namespace {

using Reflection::Member;
using Reflection::TypeInfo;
using Reflection::Variant;

// Points the file at the serializer working on it for the length of one instance call, so that nested
// members and types with their own text functions share its depth and context.
class AttachScope {
 public:
  AttachScope(File& file, Serializer* serializer) : m_file(file), m_previous(file.GetSerializer()) {
    file.SetSerializer(serializer);
  }
  ~AttachScope() { m_file.SetSerializer(m_previous); }
  AttachScope(const AttachScope&) = delete;
  AttachScope& operator=(const AttachScope&) = delete;

 private:
  File& m_file;
  Serializer* m_previous;
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

// A member name against a token. A token may hold NUL bytes (files are outside input): the name is
// measured only up to one past the token's length, so its terminator ends the comparison and nothing
// past it is read; names of another length are refused without comparing a byte.
bool NameIs(const char* name, std::string_view token) {
  return strnlen(name, token.size() + 1) == token.size() && std::memcmp(name, token.data(), token.size()) == 0;
}

void ReportWrongType(const File& file, const Variant& value, const TypeInfo& found) {
  BASE_LOG(Error, "Attempted to deserialize an instance of \"%s\" using a \"%s\" in file: %s",
           value.type ? value.type->name.c_str() : "", found.name.c_str(), file.GetPath().c_str());
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
  const int32_t depth = m_depth;
  file.WriteText(value.type->name);
  file.WriteText(File::kLineEnd);
  WriteIndent(file, depth);
  file.WriteText("{\r\n");
  m_depth = depth + 1;
  for (const Member& member : value.type->members) {
    if (!member.type || !member.name) continue;
    WriteIndent(file, m_depth);
    file.WriteText(member.name);
    file.WriteText(" ");
    member.type->Serialize(file, FieldOf(value, member));
  }
  m_depth = depth;
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

Serializer::TokenKind Serializer::NextToken(File& file, std::string_view& token) {
  if (m_pendingSize > 0) {
    token = std::string_view(m_pending, m_pendingSize);
    m_pendingSize = 0;  // the bytes stay until the next PutBack, which no caller makes while holding this view
  } else if (!file.ReadTokenView(token, kLongestToken)) {
    return Token_End;
  }
  if (token.size() == 1) {
    if (token[0] == '{') {
      ++m_depth;
      return Token_Open;
    }
    if (token[0] == '}') {
      --m_depth;
      return Token_Close;
    }
  }
  return Token_Name;
}

void Serializer::PutBack(std::string_view token) {
  ORV_ASSERT(m_pendingSize == 0 && token.size() <= kLongestToken);
  const size_t size = std::min(token.size(), kLongestToken);
  std::memmove(m_pending, token.data(), size);  // the token may be the put-back one itself
  m_pendingSize = size;
  // A brace given back is counted again when it is read again.
  if (size == 1 && token[0] == '{') --m_depth;
  if (size == 1 && token[0] == '}') ++m_depth;
}

bool Serializer::ReadName(File& file, int32_t stopDepth, std::string_view& name) {
  m_stopped = false;
  for (;;) {
    switch (NextToken(file, name)) {
      case Token_End:
        return false;
      case Token_Open:
        break;
      case Token_Close:
        if (m_depth == stopDepth) {
          m_stopped = true;
          return false;
        }
        break;
      case Token_Name:
        // A put-back name stands before whatever the file holds next.
        return file.IsGood() || name.data() == m_pending;
    }
  }
}

bool Serializer::SkipToDepth(File& file, int32_t depth) {
  bool clean = true;
  std::string_view token;
  while (m_depth > depth) {
    const TokenKind kind = NextToken(file, token);
    if (kind == Token_End) break;
    if (kind == Token_Name) clean = false;
  }
  m_depth = depth;
  return clean;
}

bool Serializer::SkipBlock(File& file) {
  const int32_t depth = m_depth;
  std::string_view token;
  const TokenKind kind = NextToken(file, token);
  if (kind == Token_Open) {
    SkipToDepth(file, depth);
    return true;
  }
  if (kind != Token_End) PutBack(token);
  return false;
}

TypeInfo* Serializer::ReadType(File& file, int32_t stopDepth) {
  std::string_view name;
  if (!ReadName(file, stopDepth, name)) return nullptr;
  return Reflection::TypeRegistry::GetInstance().FindType(name);
}

const Member* Serializer::FindMember(const std::vector<Member>& members, std::string_view name, size_t& next) {
  const size_t count = members.size();
  for (size_t tried = 0, i = next < count ? next : 0; tried < count; ++tried, i = i + 1 == count ? 0 : i + 1) {
    const Member& member = members[i];
    if (member.name && NameIs(member.name, name)) {
      next = i + 1;
      return &member;
    }
  }
  return nullptr;
}

const Member* Serializer::ReadMember(File& file, const std::vector<Member>& members, int32_t stopDepth) {
  std::string_view name;
  if (!ReadName(file, stopDepth, name)) return nullptr;
  size_t first = 0;
  return FindMember(members, name, first);
}

void Serializer::DeserializeInstance(File& file, const Variant& value) {
  if (m_nesting == 0) m_reportedEndOfInput = false;
  const char* typeName = value.type ? value.type->name.c_str() : "";
  const char* path = file.GetPath().c_str();
  // Mostly the text names the variant's own type: taken without the walker, and needing no lookup.
  const TypeInfo* found = m_pendingSize == 0 && value.type && file.TakeToken(value.type->name, kLongestToken)
                              ? value.type
                              : ReadType(file, 0);
  if (!found) {
    BASE_LOG(Error, "No type info found when deserializing an instance of \"%s\" in file: %s", typeName, path);
    return;
  }
  if (found != value.type) {
    ReportWrongType(file, value, *found);
    return;
  }
  DeserializeBody(file, value, found);
}

void Serializer::DeserializeBody(File& file, const Variant& value, const TypeInfo* found) {
  if (m_nesting == 0) m_reportedEndOfInput = false;
  if (found && found != value.type) {
    ReportWrongType(file, value, *found);
    SkipBlock(file);
    return;
  }
  if (!value.type || !value.data) {
    BASE_LOG(Error, "Attempted to deserialize an instance of \"%s\" without storage in file: %s",
             value.type ? value.type->name.c_str() : "", file.GetPath().c_str());
    return;
  }
  AttachScope attach(file, this);
  ++m_nesting;
  DeserializeMembers(file, value);
  --m_nesting;
}

void Serializer::DeserializeMembers(File& file, const Variant& value) {
  const int32_t depth = m_depth;
  const std::vector<Member>& members = value.type->members;
  size_t next = 0;
  std::string_view name;
  // The block's braces and its members mostly come where they are expected: those are taken without the
  // walker, counted as it counts them.
  if (m_pendingSize == 0 && file.TakeToken("{", kLongestToken)) ++m_depth;
  do {
    // Files list the members in their declared order: the next one is usually the one expected.
    if (m_pendingSize == 0 && next < members.size()) {
      const Member& expected = members[next];
      if (expected.name && expected.type && file.TakeToken(expected.name, kLongestToken)) {
        ++next;
        expected.type->Deserialize(file, FieldOf(value, expected));
        continue;
      }
    } else if (m_pendingSize == 0 && file.TakeToken("}", kLongestToken)) {
      if (--m_depth == depth) {
        m_stopped = true;
        break;
      }
      continue;
    }
    if (ReadName(file, depth, name)) {
      const Member* member = FindMember(members, name, next);
      if (member && member->type) {
        // Value readers read the file directly: nothing may wait in the walker.
        ORV_ASSERT(m_pendingSize == 0);
        member->type->Deserialize(file, FieldOf(value, *member));
      }
      continue;  // a name that names no member is passed over
    }
    if (m_stopped) break;
    // Without this the loop would wait forever for the closing brace of a truncated file.
    if (!file.IsGood()) {
      if (!m_reportedEndOfInput)
        BASE_LOG(Error, "Unexpected end of file while deserializing an instance of \"%s\" in file: %s",
                 value.type->name.c_str(), file.GetPath().c_str());
      m_reportedEndOfInput = true;
      m_depth = depth;
      return;
    }
  } while (m_depth != depth);
}

}  // namespace Base
