// Binding registration: one static Function per bound function (and class), registered with the
// function registry and, for a method, listed on its class's type record.
#pragma once

#include <string_view>

#include "Base/FunctionRegistry.h"
#include "Base/function/Thunk.h"

namespace Base {

// Bind<&Spinner::SetRotationAxis>("Spinner::SetRotationAxis") or Bind<&Gamepad::IsButtonDown>(
// "Base::Gamepad::IsButtonDown", "_ButtonDown"). Binding the same function again registers the same
// Function again (the registry warns) and lists it once on the class. Self is the class whose objects
// the calls receive: give the registering class when binding a method it inherits.
template <auto Fn, class Self = typename FunctionTraits<decltype(Fn)>::Class>
Function& Bind(std::string_view qualifiedName, const char* luaName = nullptr,
               const char* description = nullptr) {
  static Function function(MakeSignature<Fn, Self>(), &Thunk<Fn, Self>, qualifiedName);
  RegisterBinding(function, qualifiedName, luaName, description);
  return function;
}

}  // namespace Base
