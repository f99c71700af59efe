// The type registry singleton and its lookup.
#include "Base/Reflection/TypeRegistry.h"

namespace Base::Reflection {
namespace {

// Reading a file asks for the same few names thousands of times. Each thread remembers its latest
// answers (by the registry's own key strings, which never move) so that a repeated name costs one
// comparison instead of a hash; any registration empties the memory through the generation.
struct RecentTypes {
  static constexpr size_t kSlots = 16;
  struct Entry {
    const std::string* name;
    TypeInfo* record;
  };
  static size_t SlotOf(std::string_view name) {
    // Length and both ends tell the engine's common names apart (Vec3, Quaternion, Transform, ...).
    return (name.size() * 7 + static_cast<unsigned char>(name.front()) * 3 +
            static_cast<unsigned char>(name.back())) % kSlots;
  }
  // Type names are short: a plain loop beats a call to memcmp.
  static bool Same(const std::string& key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
      if (key[i] != name[i]) return false;
    return true;
  }
  uint64_t generation;
  Entry entries[kSlots];
};
thread_local RecentTypes t_recent = {};

}  // namespace

TypeRegistry& TypeRegistry::GetInstance() {
  static TypeRegistry registry;
  return registry;
}

TypeInfo* TypeRegistry::FindType(std::string_view name) const {
  if (name.empty()) {
    const auto found = m_types.find(name);
    return found == m_types.end() ? nullptr : found->second;
  }
  RecentTypes& recent = t_recent;
  if (recent.generation != m_generation) recent = RecentTypes{m_generation, {}};
  RecentTypes::Entry& entry = recent.entries[RecentTypes::SlotOf(name)];
  if (entry.name && RecentTypes::Same(*entry.name, name)) return entry.record;
  const auto found = m_types.find(name);
  if (found == m_types.end()) return nullptr;
  entry = {&found->first, found->second};
  return found->second;
}

}  // namespace Base::Reflection
