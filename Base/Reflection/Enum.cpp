// Reflected enumerations.
#include "Base/Reflection/Enum.h"

namespace Base {

Enum::Enum(const char* name, const char* const* names) : name_(name ? name : "") {
  if (names)
    for (const char* const* entry = names; *entry; ++entry) Add(*entry);
  if (!valueNames_.empty()) valueNames_.pop_back();  // the count stays in the map only
}

Enum::Enum(const char* name, std::initializer_list<const char*> names) : name_(name ? name : "") {
  for (const char* entry : names)
    if (entry) Add(entry);
  if (!valueNames_.empty()) valueNames_.pop_back();
}

void Enum::Add(const char* valueName) {
  valueNames_.emplace_back(valueName);
  values_[valueNames_.back()] = int32_t(valueNames_.size() - 1);
}

int32_t Enum::GetValue(std::string_view valueName) const {
  // A miss answers 0 without remembering the name, so HasValue stays truthful.
  const auto found = values_.find(valueName);
  return found == values_.end() ? 0 : found->second;
}

bool Enum::HasValue(std::string_view valueName) const { return values_.find(valueName) != values_.end(); }

}  // namespace Base
