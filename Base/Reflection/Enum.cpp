// Reflected enumerations.
#include "Base/Reflection/Enum.h"

namespace Base {

Enum::Enum(const char* name, const char* const* names) : m_name(name ? name : "") {
  if (names)
    for (const char* const* entry = names; *entry; ++entry) Add(*entry);
  if (!m_valueNames.empty()) m_valueNames.pop_back();  // the count stays in the map only
}

Enum::Enum(const char* name, std::initializer_list<const char*> names) : m_name(name ? name : "") {
  for (const char* entry : names)
    if (entry) Add(entry);
  if (!m_valueNames.empty()) m_valueNames.pop_back();
}

void Enum::Add(const char* valueName) {
  m_valueNames.emplace_back(valueName);
  m_values[m_valueNames.back()] = int32_t(m_valueNames.size() - 1);
}

int32_t Enum::GetValue(std::string_view valueName) const {
  // A miss answers 0 without remembering the name, so HasValue stays truthful.
  const auto found = m_values.find(valueName);
  return found == m_values.end() ? 0 : found->second;
}

bool Enum::HasValue(std::string_view valueName) const { return m_values.find(valueName) != m_values.end(); }

}  // namespace Base
