// The base value formats of the engine's text files.
#include "Base/Serialization/ValueText.h"

#include <cstdint>
#include <string>

#include "Base/Handle.h"
#include "Base/Math.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/Serialization/Serializer.h"
#include "Base/Log.h"

namespace Base::ValueText {
namespace {

template <class T>
T& ValueOf(const Variant& value) {
  return *static_cast<T*>(value.data);
}

const char* NameOf(const Variant& value) { return value.type->name.c_str(); }

// Scalar readers do not compare the type name they pass over, so they do not look it up either. They
// count braces on their own (a walker of their own), apart from the serializer reading the enclosing
// instance. The name they mostly find there, their own, is taken without the walker.
void SkipTypeName(File& file, const Variant& value) {
  if (file.TakeToken(value.type->name, Serializer::kLongestToken)) return;
  Serializer own;
  std::string_view name;
  own.ReadName(file, 0, name);
}

// Braced readers insist on their own type; a mismatch is logged and the value is left alone.
bool ReadOwnTypeName(File& file, const Variant& value) {
  if (file.TakeToken(value.type->name, Serializer::kLongestToken)) return true;
  Serializer own;
  std::string_view name;
  // The type's own name needs no lookup: only another name is looked up, for a record it may also go by.
  if (own.ReadName(file, 0, name) &&
      (name == value.type->name || Reflection::TypeRegistry::GetInstance().FindType(name) == value.type))
    return true;
  BASE_LOG(Error, "Attempted to deseralize \"%s\" from different wrong type!", NameOf(value));
  return false;
}

// The braced numbers of a vector. One that closes early ({1, 2} for three numbers) would leave its "}"
// to close the enclosing instance and lose every member after it: it is reported and its brace taken.
void ReadBraced(File& file, const Variant& value, float* const* values, int count) {
  const int scanned = file.ScanBracedFloats(values, count);
  if (scanned == EOF || scanned >= count || !file.TakeOnLine('}')) return;
  BASE_LOG(Error, "A \"%s\" value holds %d of its %d numbers in file: %s", NameOf(value), scanned, count,
           file.GetPath().c_str());
}

}  // namespace

void SetTextFunctions(Reflection::TypeInfo* record, Reflection::TypeInfo::TextFn writer,
                      Reflection::TypeInfo::TextFn reader) {
  record->SetSerializeFunction(writer);
  record->SetDeserializeFunction(reader);
}

void WriteChar(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %c\r\n", NameOf(value), ValueOf<char>(value));
}

void ReadChar(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  file.Scan(" %c", &ValueOf<char>(value));
}

void WriteInt(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %d\r\n", NameOf(value), ValueOf<int32_t>(value));
}

void ReadInt(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  file.ScanValue(ValueOf<int32_t>(value));
}

void WriteUnsigned(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %u\r\n", NameOf(value), ValueOf<uint32_t>(value));
}

void ReadUnsigned(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  file.ScanValue(ValueOf<uint32_t>(value));
}

void WriteFloat(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %f\r\n", NameOf(value), double(ValueOf<float>(value)));
}

void ReadFloat(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  file.ScanValue(ValueOf<float>(value));
}

void WriteDouble(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %lf\r\n", NameOf(value), ValueOf<double>(value));
}

void ReadDouble(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  file.ScanValue(ValueOf<double>(value));
}

void WriteBool(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %s\r\n", NameOf(value), ValueOf<bool>(value) ? "true" : "false");
}

void ReadBool(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  std::string_view word;
  if (file.ReadTokenView(word, Serializer::kLongestToken)) ValueOf<bool>(value) = word == "true";
}

void WriteString(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s \"%s\"\r\n", NameOf(value), ValueOf<std::string>(value).c_str());
}

void ReadString(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  // The opening quote ends the type-name token; the text runs to the next quote. A text cut off by the
  // end of the file is not taken.
  if (!file.SkipUntil('"') || !file.IsGood()) return;
  thread_local std::string text;  // reused: one buffer for every string read
  if (!file.ReadUntil('"', text)) return;
  // A file with CR LF line ends reads as one with LF line ends.
  if (text.find('\r') != std::string::npos) {
    size_t kept = 0;
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') text[kept++] = text[i];
    text.resize(kept);
  }
  ValueOf<std::string>(value).assign(text);
}

void WriteVec2(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  const Vec2& v = ValueOf<Vec2>(value);
  file.Write("%s {%f, %f}\r\n", NameOf(value), double(v.x), double(v.y));
}

void ReadVec2(File& file, const Variant& value) {
  if (!value.IsValid() || !ReadOwnTypeName(file, value)) return;
  Vec2& v = ValueOf<Vec2>(value);
  float* const values[] = {&v.x, &v.y};
  ReadBraced(file, value, values, 2);
}

void WriteVec3(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  const Vec3& v = ValueOf<Vec3>(value);
  file.Write("%s {%f, %f, %f}\r\n", NameOf(value), double(v.x), double(v.y), double(v.z));
}

void ReadVec3(File& file, const Variant& value) {
  if (!value.IsValid() || !ReadOwnTypeName(file, value)) return;
  Vec3& v = ValueOf<Vec3>(value);
  float* const values[] = {&v.x, &v.y, &v.z};
  ReadBraced(file, value, values, 3);
}

void WriteVec4(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  const Vec4& v = ValueOf<Vec4>(value);
  file.Write("%s {%f, %f, %f, %f}\r\n", NameOf(value), double(v.x), double(v.y), double(v.z), double(v.w));
}

void ReadVec4(File& file, const Variant& value) {
  if (!value.IsValid() || !ReadOwnTypeName(file, value)) return;
  Vec4& v = ValueOf<Vec4>(value);
  float* const values[] = {&v.x, &v.y, &v.z, &v.w};
  ReadBraced(file, value, values, 4);
}

void WriteQuaternion(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  const Quaternion& q = ValueOf<Quaternion>(value);
  file.Write("%s {%f, %f, %f, %f}\r\n", NameOf(value), double(q.w), double(q.x), double(q.y), double(q.z));
}

void ReadQuaternion(File& file, const Variant& value) {
  if (!value.IsValid() || !ReadOwnTypeName(file, value)) return;
  Quaternion& q = ValueOf<Quaternion>(value);
  float* const values[] = {&q.w, &q.x, &q.y, &q.z};
  ReadBraced(file, value, values, 4);
}

void WriteHandle(File& file, const Variant& value) {
  if (value.IsValid())
    file.Write("%s %d\r\n", NameOf(value), static_cast<int32_t>(ValueOf<Handle>(value).value));
}

void ReadHandle(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file, value);
  int32_t bits = 0;
  if (file.ScanValue(bits) == 1) ValueOf<Handle>(value) = Handle(static_cast<uint32_t>(bits));
}

}  // namespace Base::ValueText
