// A non-owning reference to a reflected value: its address (or, for pointer types, the pointer itself)
// and the type record that says how to copy, compare, construct, destroy and print it.
#pragma once

#include <string>

namespace Base {
class File;
}

namespace Base::Reflection {

struct TypeInfo;

class Variant {
 public:
  Variant() = default;
  Variant(const TypeInfo* type, void* data) : data(data), type(type) {}
  // A string value; the one typed constructor the base library needs itself.
  explicit Variant(std::string* text);

  bool IsValid() const { return data != nullptr && type != nullptr; }

  // Construct / destroy the value in storage the caller owns (no allocation, no free).
  void PlacementNew() const;
  void PlacementDelete() const;

  void Serialize(File& file) const;
  void Deserialize(File& file) const;

  // Deep equality: same record, then the record's Equals, else member by member.
  bool operator==(const Variant& other) const;

  // Fields in this order: the Lua reference userdata copies them as two words.
  void* data = nullptr;
  const TypeInfo* type = nullptr;
};

}  // namespace Base::Reflection
