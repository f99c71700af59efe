// The reflected enumeration of the kinds of generic, built from the list in Generic.h.
#include "Core/Generic.h"

namespace Core {
namespace {

constexpr const char* kGenericTypeNames[] = {ORV_GENERIC_TYPES(ORV_ENUM_NAME) "Abstract", nullptr};

}  // namespace

const Base::Enum& GenericsEnum() {
  static const Base::Enum values("Generics", kGenericTypeNames);
  return values;
}

}  // namespace Core
