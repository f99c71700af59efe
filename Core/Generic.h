// The part that game objects and components share: what kind of thing it is, its own handle, its space.
#pragma once

#include <cstdint>

#include "Base/Handle.h"
#include "Base/Reflection/Enum.h"

namespace Core {

class GameSpace;

// The kinds of generic in "Generics" order: the one list their ids and the reflected enumeration are built
// from.
#define ORV_GENERIC_TYPES(X) X(GameComponent) X(GameObject)

enum GenericType : uint32_t {
#define ORV_GENERIC_TYPE_ID(name) GenericType_##name,
  ORV_GENERIC_TYPES(ORV_GENERIC_TYPE_ID)
#undef ORV_GENERIC_TYPE_ID
  GenericType_Abstract,  // the list's last name, in the count's place: no generic is of this kind
};

// The reflected enumeration "Generics": the names of the list above, "Abstract" last.
const Base::Enum& GenericsEnum();

// Not polymorphic: a game object starts with it, a component holds it right after its virtual table.
struct Generic {
  explicit Generic(uint32_t genericType) : m_genericType(genericType) {}

  uint32_t m_genericType;
  // Own handle in the space's table; null until the space has registered it.
  Base::Handle m_self = Base::kNullHandle;
  // Every handle the holder keeps is resolved against this space's table; null until placed.
  GameSpace* m_space = nullptr;
};

}  // namespace Core
