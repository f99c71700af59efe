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
  explicit Serializer(void* context = nullptr) : m_context(context) {}

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

  // --- The token walker -------------------------------------------------------------------------------
  // Every reader of the object text (instances, objects, components, spaces, archetypes) walks the
  // tokens through these, so braces are counted in one place.
  enum TokenKind { Token_End, Token_Open, Token_Close, Token_Name };
  // The next blank-separated token: "{" raises the depth, "}" lowers it. The view stays valid until the
  // file's next read. Token_End (empty view) when the input is over.
  TokenKind NextToken(File& file, std::string_view& token);
  // One token of lookahead without moving the file: the next NextToken gives this token (copied) again.
  // Only for a caller whose next step is the walker, never a value reader.
  void PutBack(std::string_view token);
  bool HasPutBack() const { return m_pendingSize > 0; }
  // Tokens up to a name, counting braces. False when a "}" brings the depth to `stopDepth`
  // (StoppedAtDepth) or the input ends; a name that ends the input is no name either.
  bool ReadName(File& file, int32_t stopDepth, std::string_view& name);
  // Reads on until a "}" brings the depth to `depth` (or the input ends); true when only braces were
  // passed over on the way.
  bool SkipToDepth(File& file, int32_t depth);
  // After a block's name: when a "{" follows, passes over the balanced block and gives true; otherwise
  // the token that follows is put back and nothing is consumed in effect.
  bool SkipBlock(File& file);

  // ReadName, then the type record of that name (null when none is registered).
  Reflection::TypeInfo* ReadType(File& file, int32_t stopDepth);
  // ReadName, then the member of that name among `members` (exact match; null when it names none).
  const Reflection::Member* ReadMember(File& file, const std::vector<Reflection::Member>& members,
                                       int32_t stopDepth);
  // The member a name names, tried in declared order from `next` on (files list members in that order,
  // so the first try is usually the one); `next` moves past the member found.
  static const Reflection::Member* FindMember(const std::vector<Reflection::Member>& members,
                                              std::string_view name, size_t& next);
  // The member block of an instance whose type name the caller has read and looked up (`found`):
  // DeserializeInstance after its first step. A `found` type other than the variant's is logged as there,
  // and its block is passed over.
  void DeserializeBody(File& file, const Reflection::Variant& value, const Reflection::TypeInfo* found);

  // Two blanks per level.
  static void WriteIndent(File& file, int32_t count);

  void* GetContext() const { return m_context; }
  void SetContext(void* context) { m_context = context; }
  // Braces open while reading; indentation level while writing.
  int32_t GetDepth() const { return m_depth; }
  void SetDepth(int32_t depth) { m_depth = depth; }
  // Whether the last ReadName / ReadType / ReadMember gave nothing because a "}" closed the block at
  // its stop depth (rather than at the end of input or on an unknown name).
  bool StoppedAtDepth() const { return m_stopped; }

 private:
  void DeserializeMembers(File& file, const Reflection::Variant& value);

  int32_t m_depth = 0;
  void* m_context = nullptr;
  int32_t m_nesting = 0;              // instance reads in progress (nested members)
  bool m_reportedEndOfInput = false;  // one report per top-level read
  bool m_stopped = false;
  // The put-back token (a reused buffer: tokens are at most kLongestToken long).
  size_t m_pendingSize = 0;
  char m_pending[kLongestToken];
};

// Points a file at a serializer for the length of a read or write, so that the value writers and readers
// of nested members share its depth and context.
class SerializerScope {
 public:
  SerializerScope(File& file, Serializer& serializer) : m_file(file), m_previous(file.GetSerializer()) {
    file.SetSerializer(&serializer);
  }
  ~SerializerScope() { m_file.SetSerializer(m_previous); }
  SerializerScope(const SerializerScope&) = delete;
  SerializerScope& operator=(const SerializerScope&) = delete;

 private:
  File& m_file;
  Serializer* m_previous;
};

}  // namespace Base
