// The base value formats of the engine's text files.
#include "Base/Serialization/ValueText.h"

#include <cstdint>
#include <string>

#include "Base/Handle.h"
#include "Base/Math.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"

namespace Base::ValueText {
namespace {

template <class T>
T& ValueOf(const Variant& value) {
  return *static_cast<T*>(value.data);
}

const char* NameOf(const Variant& value) { return value.type->name.c_str(); }

// Scalar readers do not compare the type name they pass over, so they do not look it up either. They
// count braces on their own, apart from the serializer reading the enclosing instance.
void SkipTypeName(File& file) {
  std::string_view token;
  for (int32_t depth = 0; file.ReadTokenView(token, Serializer::kLongestToken);) {
    if (token == "{") {
      ++depth;
    } else if (token == "}") {
      if (--depth == 0) return;
    } else {
      return;
    }
  }
}

// Braced readers insist on their own type; a mismatch is logged and the value is left alone.
bool ReadOwnTypeName(File& file, const Variant& value) {
  Serializer own;
  if (own.ReadType(file, 0) == value.type) return true;
  TraceLog::GetInstance().Print(TraceLevel_Error, TraceModule_Base,
                                "Attempted to deseralize \"%s\" from different wrong type!", NameOf(value));
  return false;
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
  SkipTypeName(file);
  file.Scan(" %c", &ValueOf<char>(value));
}

void WriteInt(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %d\r\n", NameOf(value), ValueOf<int32_t>(value));
}

void ReadInt(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
  file.Scan("%d", &ValueOf<int32_t>(value));
}

void WriteUnsigned(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %u\r\n", NameOf(value), ValueOf<uint32_t>(value));
}

void ReadUnsigned(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
  file.Scan("%u", &ValueOf<uint32_t>(value));
}

void WriteFloat(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %f\r\n", NameOf(value), double(ValueOf<float>(value)));
}

void ReadFloat(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
  file.Scan("%f", &ValueOf<float>(value));
}

void WriteDouble(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %lf\r\n", NameOf(value), ValueOf<double>(value));
}

void ReadDouble(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
  file.Scan("%lf", &ValueOf<double>(value));
}

void WriteBool(File& file, const Variant& value) {
  if (value.IsValid()) file.Write("%s %s\r\n", NameOf(value), ValueOf<bool>(value) ? "true" : "false");
}

void ReadBool(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
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
  file.ReadUntil('"');
  if (!file.IsGood()) return;
  std::string text = file.ReadUntil('"');
  if (!file.IsGood()) return;
  ValueOf<std::string>(value) = std::move(text);
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
  file.ScanBracedFloats(values, 2);
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
  file.ScanBracedFloats(values, 3);
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
  file.ScanBracedFloats(values, 4);
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
  file.ScanBracedFloats(values, 4);
}

void WriteHandle(File& file, const Variant& value) {
  if (value.IsValid())
    file.Write("%s %d\r\n", NameOf(value), static_cast<int32_t>(ValueOf<Handle>(value).value));
}

void ReadHandle(File& file, const Variant& value) {
  if (!value.IsValid()) return;
  SkipTypeName(file);
  int32_t bits = 0;
  if (file.Scan("%d", &bits) == 1) ValueOf<Handle>(value) = Handle(static_cast<uint32_t>(bits));
}

}  // namespace Base::ValueText
