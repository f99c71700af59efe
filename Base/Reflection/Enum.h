// Enumerations whose value names are known at run time, so that text files and scripts can name
// component types, asset types and object kinds by word.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Spells one entry of an X-macro list of value names as its text: `{MY_LIST(ORV_ENUM_NAME) "countMine",
// nullptr}` is the list an Enum is built from, so the enumeration and the C++ enum share one list.
#define ORV_ENUM_NAME(name) #name,

namespace Base {

class Enum {
 public:
  // The names in value order, ending with the count's name ("countComponents"): the count maps to the
  // number of values but is not a value name. `names` ends with a null entry.
  Enum(const char* name, const char* const* names);
  Enum(const char* name, std::initializer_list<const char*> names);

  const std::string& GetName() const { return m_name; }
  // The value of a name; 0 (also the first value's number) when the name is unknown: ask HasValue
  // first to tell the two apart.
  int32_t GetValue(std::string_view valueName) const;
  bool HasValue(std::string_view valueName) const;
  uint32_t GetValueCount() const { return uint32_t(m_valueNames.size()); }
  const std::string& GetValueName(uint32_t value) const { return m_valueNames[value]; }
  const std::vector<std::string>& GetValueNames() const { return m_valueNames; }

 private:
  void Add(const char* valueName);

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };

  std::string m_name;
  std::vector<std::string> m_valueNames;
  std::unordered_map<std::string, int32_t, NameHash, std::equal_to<>> m_values;
};

}  // namespace Base
