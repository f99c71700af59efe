// The process-wide map from registered type name to type record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Base/Reflection/TypeInfo.h"

namespace Base::Reflection {

class TypeRegistry {
 public:
  static TypeRegistry& GetInstance();

  // The record registered under exactly this name (stripped, no blanks), or null; logs nothing.
  TypeInfo* FindType(std::string_view name) const;
  // Inserts or re-points a name; the last registration of a name wins. Records are not owned.
  void Map(const std::string& name, TypeInfo* record) {
    m_types[name] = record;
    ++m_generation;
  }
  const auto& GetTypes() const { return m_types; }
  // Changes with every Map(): an answer remembered at one generation holds while it stays the same.
  uint64_t GetGeneration() const { return m_generation; }

 private:
  TypeRegistry() = default;

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, TypeInfo*, NameHash, std::equal_to<>> m_types;
  uint64_t m_generation = 0;
};

}  // namespace Base::Reflection
