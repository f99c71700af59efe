// A bound function: the object it is called on, its reflected signature, its script name and the
// generated call thunk that unpacks an array of variants into the real call.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Base/Reflection/Variant.h"
#include "Base/function/Signature.h"

namespace Base {

// (result or null, bound object's data, argument variants, argument count). A thunk checks the count
// (and that it has the object and argument values it needs), reports through ReportError and returns
// without calling on any misuse.
using CallThunk = void (*)(Reflection::Variant* result, void* object, Reflection::Variant* args,
                           unsigned argCount);

// Where the binding diagnostics say they come from; the lines of each report are fixed texts.
inline constexpr const char* kFunctionSource = "Base/function/Function";

class Function {
 public:
  using Variant = Reflection::Variant;

  Function() = default;
  Function(const Signature& signature, CallThunk thunk, std::string_view qualifiedName)
      : m_signature(signature), m_thunk(thunk) {
    SetName(qualifiedName);
  }
  Function(const Function&) = default;
  // Takes the other function's object, signature and thunk; keeps its own name (buttons rely on it).
  Function& operator=(const Function& other) {
    m_object = other.m_object;
    m_signature = other.m_signature;
    m_thunk = other.m_thunk;
    return *this;
  }

  // The script name: what follows the last ':' of the qualified name.
  void SetName(std::string_view qualifiedName);
  const std::string& GetName() const { return m_name; }
  const Signature& GetSignature() const { return m_signature; }
  CallThunk GetThunk() const { return m_thunk; }
  bool IsMethod() const { return m_signature.GetThisType() != nullptr; }

  // The object a method is called on; callers set it before each call.
  void SetObject(const Variant& object) { m_object = object; }
  const Variant& GetObject() const { return m_object; }
  Variant& GetObject() { return m_object; }

  // result: storage of the return type holding a constructed value, or an empty variant to discard
  // the value. A pointer result is stored as the variant's data, like every pointer-typed variant.
  void Invoke(Variant& result, Variant* args, unsigned argCount) const {
    if (m_thunk) m_thunk(&result, m_object.data, args, argCount);
  }
  // Engine callbacks without arguments; a returned value is discarded.
  void Invoke() const {
    if (m_thunk) m_thunk(nullptr, m_object.data, nullptr, 0);
  }
  // Typed call (hook tables, callers holding C++ values): checks the count and every argument's type
  // against the signature, reports each mismatch and calls only when all match.
  template <class... A>
  void Call(const A&... args) const;

 private:
  Variant m_object;
  Signature m_signature;
  std::string m_name;
  CallThunk m_thunk = nullptr;
};

namespace detail {
[[gnu::cold]] void ReportTypedCallCount(unsigned expected);
[[gnu::cold]] void ReportTypedCallArg(unsigned index, unsigned count);
}  // namespace detail

namespace Reflection {
// Defined with the type records (included at the end: they need Function complete).
template <class T>
TypeInfo* TypeOf();
template <class T>
Variant MakeVariant(T& value);
}  // namespace Reflection

template <class... A>
void Function::Call(const A&... args) const {
  constexpr unsigned count = sizeof...(A);
  if constexpr (count == 0) {
    Invoke();
  } else {
    if (m_signature.ArgCount() != count) {
      detail::ReportTypedCallCount(count);
      return;
    }
    bool typesMatch = true;
    unsigned index = 0;
    auto check = [&](const Reflection::TypeInfo* type) {
      if (m_signature.GetArg(index) != type) {
        detail::ReportTypedCallArg(index, count);
        typesMatch = false;
      }
      ++index;
    };
    (check(Reflection::TypeOf<std::decay_t<const A&>>()), ...);
    if (!typesMatch || !m_thunk) return;

    std::tuple<std::decay_t<const A&>...> copies(args...);
    std::apply(
        [&](auto&... value) {
          std::array<Variant, count> variants{Reflection::MakeVariant(value)...};
          m_thunk(nullptr, m_object.data, variants.data(), count);
        },
        copies);
  }
}

}  // namespace Base

// Members hold Functions and type records hold members: both follow the complete class.
#include "Base/Reflection/Member.h"
