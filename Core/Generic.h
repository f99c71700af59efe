// The part that game objects and components share: what kind of thing it is, its own handle, its space.
#pragma once

#include <cstdint>

#include "Base/Handle.h"

namespace Core {

class GameSpace;

// Values of the reflected enumeration "Generics".
enum GenericType : uint32_t {
  GenericType_GameComponent = 0,
  GenericType_GameObject = 1,
  GenericType_Abstract = 2,
};

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
