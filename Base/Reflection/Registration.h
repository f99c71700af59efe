// Registering reflected types before main: RegisterType<T> / RegisterPointerType<T>, a small builder
// for members and methods, and macros that run a registration from a static initialiser.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "Base/FunctionRegistry.h"
#include "Base/Reflection/TypeInfo.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Base/Reflection/ValueOps.h"
#include "Base/function/Bind.h"

namespace Base::Reflection {

// The record's metatable name: what follows the last ':' of `source`.
std::string MetatableName(std::string_view source);

// Registers T under `name` (namespaces and blanks stripped), with the value operations the plain-data
// flag selects; T's pointer type shares `metatableSource`'s metatable name. A registration never fails:
// a name registered again points at the newer record. Key picks the record when two registered types
// share one C++ type (a handle over a plain integer); it may also supply `static T ReflectDefault()`.
template <class T, class Key = RecordKey<T>>
TypeInfo* RegisterType(TypeRegistry& registry, uint32_t size, const char* name,
                       const char* metatableSource, bool plainData) {
  ClearMemberGroupStack();
  TypeInfo& record = TypeRecord<Key>();
  record.Init(StripNamespaces(name), size);
  InstallValueOps<T, Key>(record, plainData);
  record.isDirect = std::is_same_v<RecordKey<T>, char*> ? 1 : 0;
  record.isPointer = std::is_pointer_v<T> ? 1 : 0;
  record.metatableName =
      MetatableName(metatableSource && *metatableSource ? std::string_view(metatableSource) : record.name);
  registry.Map(record.name, &record);
  return &record;
}

template <class T, class Key = RecordKey<T>>
TypeInfo* RegisterType(const char* name, bool plainData) {
  return RegisterType<T, Key>(TypeRegistry::GetInstance(), sizeof(T), name, name, plainData);
}

template <class T, class Key = RecordKey<T>>
TypeInfo* RegisterType(const char* name, uint32_t size, bool plainData) {
  return RegisterType<T, Key>(TypeRegistry::GetInstance(), size, name, name, plainData);
}

// Registers T* as plain data named as declared ("Core::GameSpace *"; T's name + "*" by default) with
// T's metatable name, so scripts see T and T* as one type. Register T first.
template <class T>
TypeInfo* RegisterPointerType(const char* pointerName = nullptr) {
  const TypeInfo& pointee = *TypeOf<T>();
  const std::string name = pointerName ? std::string(pointerName) : pointee.name + "*";
  return RegisterType<T*>(TypeRegistry::GetInstance(), sizeof(T*), name.c_str(),
                          pointee.metatableName.c_str(), true);
}

// Registers T* ahead of T, named T's name + "*", with T's metatable name given outright (T has no record
// to take it from yet), so that scripts see T and T* as one type either way round.
template <class T>
TypeInfo* RegisterPointerAhead(const char* pointeeName) {
  const std::string name = std::string(pointeeName) + "*";
  return RegisterType<T*>(TypeRegistry::GetInstance(), sizeof(T*), name.c_str(), pointeeName, true);
}

// The byte offset of a field of T (or of one of T's bases). Under the Itanium C++ ABI a data-member
// pointer is exactly that offset, and it needs no object (offsetof rejects polymorphic classes).
template <class T, class M, class C>
uint32_t FieldOffset(M C::*field) {
  static_assert(std::is_base_of_v<C, T>, "the field belongs to another class");
  M T::*own = field;
  static_assert(sizeof(own) == sizeof(std::ptrdiff_t));
  return static_cast<uint32_t>(std::bit_cast<std::ptrdiff_t>(own));
}

// Help texts of member accessors are stored quoted, as the script documentation prints them.
std::string QuotedDescription(const char* text);

// Binds a function or method with its help text, stored quoted as the script documentation prints it.
template <auto Fn>
Function& BindDescribed(const char* qualifiedName, const char* luaName, const char* description) {
  return Bind<Fn>(qualifiedName, luaName, QuotedDescription(description).c_str());
}

// Static initialisers of different files run in link order: a class must carry its registered name
// before another unit lists methods under it. Registering later (with members) changes nothing here.
template <class T>
void EnsureRegistered(const char* name, bool withPointer = true) {
  if (TypeOf<T>()->name.empty()) RegisterType<T>(name, false);
  if (withPointer && TypeOf<T*>()->name.empty()) RegisterPointerType<T>();
}

// Adds T's members, methods, buttons and groups; used inside a registration body.
template <class T>
class TypeBuilder {
 public:
  using Self = T;

  explicit TypeBuilder(TypeInfo* record) : m_record(record) {}
  TypeInfo* Record() const { return m_record; }
  TypeInfo* operator->() const { return m_record; }

  template <class M, class C>
  Member* Field(M C::*field, const char* name, Function* setter = nullptr, Function* getter = nullptr) {
    return m_record->AddMember(TypeOf<M>(), name, FieldOffset<T>(field), setter, getter);
  }

  // `name` is the method's own name ("Reset", qualified as "Spinner::Reset") or a qualified name.
  template <auto Fn>
  Function& Method(std::string_view name, const char* luaName = nullptr, const char* description = nullptr) {
    const std::string quoted = description ? QuotedDescription(description) : std::string();
    return Bind<Fn, CallSelf<Fn>>(Qualify(name), luaName, description ? quoted.c_str() : nullptr);
  }

  // A field with script accessors: both help texts are queued, the getter binds first and takes the
  // later text, the setter the earlier one; then the member records both.
  template <auto Setter, auto Getter, class M, class C>
  Member* Property(M C::*field, const char* name, std::string_view setterName, const char* setterDescription,
                   std::string_view getterName, const char* getterDescription) {
    FunctionRegistry& registry = FunctionRegistry::GetInstance();
    registry.PushDescription(QuotedDescription(setterDescription).c_str());
    registry.PushDescription(QuotedDescription(getterDescription).c_str());
    Function& getter = Bind<Getter, CallSelf<Getter>>(Qualify(getterName));
    Function& setter = Bind<Setter, CallSelf<Setter>>(Qualify(setterName));
    return Field(field, name, &setter, &getter);
  }

  MemberButton* Button(const char* label, const Function& function) {
    return m_record->AddMemberButton(label, &function);
  }
  MemberGroup* OpenGroup(const char* name) { return m_record->OpenMemberGroup(name); }
  void CloseGroup() { PopMemberGroup(); }

 private:
  // Methods are called on a T; static member functions are free functions.
  template <auto Fn>
  using CallSelf = std::conditional_t<std::is_void_v<typename FunctionTraits<decltype(Fn)>::Class>, void, T>;

  std::string Qualify(std::string_view name) const {
    if (name.find(':') != std::string_view::npos) return std::string(name);
    return m_record->name + "::" + std::string(name);
  }

  TypeInfo* m_record;
};

// T, then its members and methods (body), then T* when asked.
template <class T>
TypeInfo* RegisterReflected(const char* name, bool plainData, bool withPointer, void (*body)(TypeBuilder<T>&)) {
  TypeInfo* record = RegisterType<T>(name, plainData);
  if (body) {
    TypeBuilder<T> builder(record);
    body(builder);
  }
  ClearMemberGroupStack();
  if (withPointer) RegisterPointerType<T>((std::string(name) + "*").c_str());
  return record;
}

// The registration body of T (ORV_REFLECT_CLASS / ORV_REFLECT_TYPE specialise it); a member of a
// class template so that a reflected class can befriend every body with one line.
template <class T>
struct Reflect;

// Runs a function from a static initialiser, before main.
struct OnLoad {
  explicit OnLoad(void (*function)()) { function(); }
};

}  // namespace Base::Reflection

#define ORV_CONCAT_(a, b) a##b
#define ORV_CONCAT(a, b) ORV_CONCAT_(a, b)

// ORV_ON_LOAD { ... }: the block runs once before main.
#define ORV_ON_LOAD ORV_ON_LOAD_(ORV_CONCAT(orvOnLoad_, __COUNTER__))
#define ORV_ON_LOAD_(fn)                                                                  \
  static void fn();                                                                       \
  [[maybe_unused]] static const ::Base::Reflection::OnLoad ORV_CONCAT(fn, _runner){&fn}; \
  static void fn()

// ORV_REFLECT_CLASS(Core::Spinner) { ORV_FIELD(m_speed); ORV_METHOD(Reset); ... } at global scope
// registers the class (not plain data), the body's members and methods, then "Core::Spinner*".
// ORV_REFLECT_TYPE(Base::Vec3, false) { ... } registers the type alone. In the body, `type` is the
// TypeBuilder of the class. A class opens its private fields and methods to its body with ORV_REFLECTED.
#define ORV_REFLECT_CLASS(Type) ORV_REFLECT_(Type, false, true, ORV_CONCAT(orvReflect_, __COUNTER__))
#define ORV_REFLECT_TYPE(Type, Plain) ORV_REFLECT_(Type, Plain, false, ORV_CONCAT(orvReflect_, __COUNTER__))
#define ORV_REFLECT_(Type, Plain, WithPointer, id)                                         \
  template <>                                                                              \
  struct Base::Reflection::Reflect<Type> {                                                 \
    static void Body(::Base::Reflection::TypeBuilder<Type>& type);                         \
  };                                                                                       \
  [[maybe_unused]] static ::Base::Reflection::TypeInfo* const ORV_CONCAT(id, _record) =    \
      ::Base::Reflection::RegisterReflected<Type>(#Type, Plain, WithPointer,               \
                                                  &::Base::Reflection::Reflect<Type>::Body); \
  void Base::Reflection::Reflect<Type>::Body([[maybe_unused]] ::Base::Reflection::TypeBuilder<Type>& type)

// Inside a class: lets its registration body name private and protected members.
#define ORV_REFLECTED    \
  template <class>       \
  friend struct ::Base::Reflection::Reflect

#define ORV_SELF std::remove_reference_t<decltype(type)>::Self
// ORV_FIELD(m_speed)
#define ORV_FIELD(field) type.Field(&ORV_SELF::field, #field)
// ORV_METHOD(Reset), ORV_METHOD(IsButtonDown, "_ButtonDown"), ORV_METHOD(Reset, nullptr, "Resets it")
#define ORV_METHOD(method, ...) type.Method<&ORV_SELF::method>(#method __VA_OPT__(, ) __VA_ARGS__)
// ORV_PROPERTY(m_rotationAxis, SetRotationAxis, "Set the rotation axis", GetRotationAxis, "Gets ...")
#define ORV_PROPERTY(field, Setter, setterDescription, Getter, getterDescription)                     \
  type.Property<&ORV_SELF::Setter, &ORV_SELF::Getter>(&ORV_SELF::field, #field, #Setter, setterDescription, \
                                                      #Getter, getterDescription)
