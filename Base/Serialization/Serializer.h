// Reflected instances as indented text: a type name, a braced block, one line per member with the
// member's name, its type's name and its value. Walks members recursively through the type records.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Base/Reflection/Member.h"
#include "Base/Reflection/TypeInfo.h"
#include "Base/Reflection/Variant.h"
#include "Base/Serialization/File.h"

namespace Base {

class Serializer {
 public:
  // Tokens are at most this long (a longer run of non-blanks is read as several tokens).
  static constexpr size_t kLongestToken = 255;

  // `context` belongs to the caller (the factory keeps its load tables there); GetContext returns it.
  explicit Serializer(void* context = nullptr) : context_(context) {}

  // Writes the type name and the member block at the current depth (the caller has placed the
  // indentation before the type name).
  void SerializeInstance(File& file, const Reflection::Variant& value);
  // Reads one instance into the variant's object. Members the text does not name keep their values;
  // lines naming no member are passed over. Mismatched or unknown types and input that ends inside
  // the block are logged (Error, Base) and stop the read.
  void DeserializeInstance(File& file, const Reflection::Variant& value);

  // One value through its type's own text function (or the member walk when it has none), with this
  // serializer attached to the file: that function reaches GetDepth / GetContext through
  // file.GetSerializer(). How a caller hands its context to a type that writes itself (a game space).
  void WriteValue(File& file, const Reflection::Variant& value);
  void ReadValue(File& file, const Reflection::Variant& value);

  // Reads tokens, counting braces, up to a type name: its record (null when none is registered), or
  // null when a "}" brings the depth to `stopDepth` or the input ends.
  Reflection::TypeInfo* ReadType(File& file, int32_t stopDepth);
  // As ReadType, but the name is looked up among `members` (exact match); null when it names none.
  const Reflection::Member* ReadMember(File& file, const std::vector<Reflection::Member>& members,
                                       int32_t stopDepth);

  // Two blanks per level.
  static void WriteIndent(File& file, int32_t count);

  void* GetContext() const { return context_; }
  void SetContext(void* context) { context_ = context; }
  // Braces open while reading; indentation level while writing.
  int32_t GetDepth() const { return depth_; }
  void SetDepth(int32_t depth) { depth_ = depth; }
  // Whether the last ReadType / ReadMember gave null because a "}" closed the block at its stop depth
  // (rather than at the end of input or on an unknown name).
  bool StoppedAtDepth() const { return stopped_; }

 private:
  // Reads tokens, counting braces, up to a name; false when a "}" brings the depth to `stopDepth` or
  // the input ends. The name is a view into the file, valid until its next read.
  bool ReadName(File& file, int32_t stopDepth, std::string_view& name);
  void DeserializeMembers(File& file, const Reflection::Variant& value);

  int32_t depth_ = 0;
  void* context_ = nullptr;
  int32_t nesting_ = 0;              // instance reads in progress (nested members)
  bool reportedEndOfInput_ = false;  // one report per top-level read
  bool stopped_ = false;
};

// Points a file at a serializer for the length of a read or write, so that the value writers and readers
// of nested members share its depth and context.
class SerializerScope {
 public:
  SerializerScope(File& file, Serializer& serializer) : file_(file), previous_(file.GetSerializer()) {
    file.SetSerializer(&serializer);
  }
  ~SerializerScope() { file_.SetSerializer(previous_); }
  SerializerScope(const SerializerScope&) = delete;
  SerializerScope& operator=(const SerializerScope&) = delete;

 private:
  File& file_;
  Serializer* previous_;
};

}  // namespace Base
