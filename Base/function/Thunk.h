// Generated per bound function: the signature builder and the call thunk that unpacks an array of
// variants into the parameters, calls, and stores the result in the caller's storage.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Base/Reflection/TypeInfo.h"
#include "Base/function/Function.h"
#include "Base/function/Signature.h"

namespace Base {

template <class F>
struct FunctionTraits;

template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
  using Return = R;
  using Class = void;  // free function
  using Args = std::tuple<A...>;
  static constexpr unsigned kArity = sizeof...(A);
};
template <class R, class... A>
struct FunctionTraits<R (*)(A...) noexcept> : FunctionTraits<R (*)(A...)> {};
// A const method is called like any other through the class pointer: one thunk per function.
template <class R, class C, class... A>
struct FunctionTraits<R (C::*)(A...)> : FunctionTraits<R (*)(A...)> {
  using Class = C;
};
template <class R, class C, class... A>
struct FunctionTraits<R (C::*)(A...) const> : FunctionTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct FunctionTraits<R (C::*)(A...) noexcept> : FunctionTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct FunctionTraits<R (C::*)(A...) const noexcept> : FunctionTraits<R (C::*)(A...) const> {};

namespace detail {

[[gnu::cold]] void ReportWrongArgCount(unsigned expected, bool returns);
[[gnu::cold]] void ReportNoObject();
[[gnu::cold]] void ReportMissingArgument(unsigned index);

template <class... A>
Reflection::TypeInfo* const* ArgTypes(std::tuple<A...>*) {
  if constexpr (sizeof...(A) == 0) {
    return nullptr;
  } else {
    static Reflection::TypeInfo* const types[] = {Reflection::TypeOf<A>()...};
    return types;
  }
}

template <class A>
decltype(auto) Unpack(const Reflection::Variant& arg) {
  using V = std::remove_cvref_t<A>;
  if constexpr (std::is_pointer_v<V>) {
    static_assert(!std::is_lvalue_reference_v<A> || std::is_const_v<std::remove_reference_t<A>>,
                  "a pointer parameter cannot be a non-const reference");
    return static_cast<V>(arg.data);
  } else if constexpr (std::is_rvalue_reference_v<A>) {
    return std::move(*static_cast<V*>(arg.data));
  } else {
    return *static_cast<V*>(arg.data);  // a reference binds to it; a by-value parameter copies it
  }
}

template <class R>
void StoreResult(Reflection::Variant* result, R&& value) {
  using V = std::remove_cvref_t<R>;
  if (!result) return;  // no storage: the value is discarded
  if constexpr (std::is_pointer_v<V>) {
    result->data = const_cast<void*>(static_cast<const void*>(value));
  } else if constexpr (!std::is_copy_assignable_v<V> && std::is_lvalue_reference_v<R>) {
    result->data = const_cast<V*>(&value);  // an object that cannot be copied travels by reference
  } else {
    if (result->data) *static_cast<V*>(result->data) = std::forward<R>(value);
  }
}

template <auto Fn, class Self, class... P>
decltype(auto) CallWith(void* object, P&&... params) {
  if constexpr (std::is_void_v<Self>)
    return Fn(std::forward<P>(params)...);
  else
    return (static_cast<Self*>(object)->*Fn)(std::forward<P>(params)...);
}

template <auto Fn, class Self, size_t... I>
void CallUnpacked(Reflection::Variant* result, void* object, [[maybe_unused]] Reflection::Variant* args,
                  std::index_sequence<I...>) {
  using Traits = FunctionTraits<decltype(Fn)>;
  using Args = typename Traits::Args;
  if constexpr (sizeof...(I) > 0) {
    // Pointer parameters (character strings included) take the variant's data itself, so null is a
    // value; every other parameter needs something to point at.
    constexpr bool needsValue[] = {!std::is_pointer_v<std::remove_cvref_t<std::tuple_element_t<I, Args>>>...};
    for (unsigned i = 0; i < sizeof...(I); ++i) {
      if (needsValue[i] && !args[i].data) [[unlikely]] {
        ReportMissingArgument(i);
        return;
      }
    }
  }
  if constexpr (std::is_void_v<typename Traits::Return>)
    CallWith<Fn, Self>(object, Unpack<std::tuple_element_t<I, Args>>(args[I])...);
  else
    StoreResult(result, CallWith<Fn, Self>(object, Unpack<std::tuple_element_t<I, Args>>(args[I])...));
}

}  // namespace detail

// Self is the class the object pointer holds (the registering class; a method of one of its bases is
// called through it), void for a free function.
template <auto Fn, class Self = typename FunctionTraits<decltype(Fn)>::Class>
Signature MakeSignature() {
  using Traits = FunctionTraits<decltype(Fn)>;
  Reflection::TypeInfo* returnType = nullptr;
  Reflection::TypeInfo* thisType = nullptr;
  if constexpr (!std::is_void_v<typename Traits::Return>) returnType = Reflection::TypeOf<typename Traits::Return>();
  if constexpr (!std::is_void_v<Self>) thisType = Reflection::TypeOf<Self>();
  return Signature(returnType, detail::ArgTypes(static_cast<typename Traits::Args*>(nullptr)), thisType,
                   Traits::kArity);
}

template <auto Fn, class Self = typename FunctionTraits<decltype(Fn)>::Class>
void Thunk(Reflection::Variant* result, void* object, Reflection::Variant* args, unsigned argCount) {
  using Traits = FunctionTraits<decltype(Fn)>;
  static_assert(std::is_void_v<Self> == std::is_void_v<typename Traits::Class>,
                "a method needs its class, a free function none");
  if (argCount != Traits::kArity) [[unlikely]] {
    detail::ReportWrongArgCount(Traits::kArity, !std::is_void_v<typename Traits::Return>);
    return;
  }
  if constexpr (!std::is_void_v<Self>) {
    if (!object) [[unlikely]] {
      detail::ReportNoObject();
      return;
    }
  }
  detail::CallUnpacked<Fn, Self>(result, object, args, std::make_index_sequence<Traits::kArity>{});
}

}  // namespace Base
