// The reflected shape of a bound function: result, parameter and class type records.
#pragma once

#include <cstdint>

namespace Base {

namespace Reflection {
struct TypeInfo;
}

class Signature {
 public:
  using TypeInfo = Reflection::TypeInfo;

  Signature() = default;
  Signature(TypeInfo* returnType, TypeInfo* const* argTypes, TypeInfo* thisType, uint32_t argCount)
      : m_returnType(returnType), m_argTypes(argTypes), m_thisType(thisType), m_argCount(argCount) {}

  TypeInfo* GetReturnType() const { return m_returnType; }
  // No bounds check: index < ArgCount().
  TypeInfo* GetArg(uint32_t index) const { return m_argTypes[index]; }
  TypeInfo* GetThisType() const { return m_thisType; }
  uint32_t ArgCount() const { return m_argCount; }

 private:
  TypeInfo* m_returnType = nullptr;       // null: returns nothing
  TypeInfo* const* m_argTypes = nullptr;  // static array of the signature builder; null without parameters
  TypeInfo* m_thisType = nullptr;         // null: free function
  uint32_t m_argCount = 0;
};

}  // namespace Base
