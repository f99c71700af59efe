// The process-wide map from registered type name to type record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "Base/Reflection/TypeInfo.h"

namespace Base::Reflection {

class TypeRegistry {
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };

 public:
  using Types = std::unordered_map<std::string, TypeInfo*, NameHash, std::equal_to<>>;

  static TypeRegistry& GetInstance();

  // The record registered under exactly this name (stripped, no blanks), or null; logs nothing.
  TypeInfo* FindType(std::string_view name) const;
  // Inserts or re-points a name; the last registration of a name wins. Records are not owned.
  void Map(const std::string& name, TypeInfo* record) {
    m_types[name] = record;
    ++m_generation;
  }
  const Types& GetTypes() const { return m_types; }
  // Puts back a copy of GetTypes() taken earlier, as a test leaves the registry as it found it.
  void RestoreTypes(Types types) {
    m_types = std::move(types);
    ++m_generation;
  }
  // Changes with every Map() and RestoreTypes(): an answer remembered at one generation holds while it stays the same.
  uint64_t GetGeneration() const { return m_generation; }

 private:
  TypeRegistry() = default;

  Types m_types;
  uint64_t m_generation = 0;
};

}  // namespace Base::Reflection
