// Registers before main the value types that only the engine core gives meaning to: the lists of game
// objects and game spaces that bound methods hand to scripts (their script converters are the Lua
// layer's). Each pointer type comes ahead of its list, as the base library does for its own lists.
#include <vector>

#include "Base/Reflection/Registration.h"

namespace Core {
class GameObject;
class GameSpace;
}  // namespace Core

ORV_ON_LOAD {
  using Base::Reflection::RegisterPointerAhead;
  using Base::Reflection::RegisterType;
  RegisterPointerAhead<std::vector<Core::GameObject*>>("std::vector<Core::GameObject*>");
  RegisterPointerAhead<std::vector<Core::GameSpace*>>("std::vector<Core::GameSpace*>");
  RegisterType<std::vector<Core::GameObject*>>("std::vector<Core::GameObject*>", false);
  RegisterType<std::vector<Core::GameSpace*>>("std::vector<Core::GameSpace*>", false);
}
