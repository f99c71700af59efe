// The type registry singleton.
#include "Base/Reflection/TypeRegistry.h"

namespace Base::Reflection {

TypeRegistry& TypeRegistry::GetInstance() {
  static TypeRegistry registry;
  return registry;
}

TypeInfo* TypeRegistry::FindType(std::string_view name) const {
  const auto found = types_.find(name);
  return found == types_.end() ? nullptr : found->second;
}

}  // namespace Base::Reflection
