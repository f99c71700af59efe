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
      : returnType_(returnType), argTypes_(argTypes), thisType_(thisType), argCount_(argCount) {}

  TypeInfo* GetReturnType() const { return returnType_; }
  // No bounds check: index < ArgCount().
  TypeInfo* GetArg(uint32_t index) const { return argTypes_[index]; }
  TypeInfo* GetThisType() const { return thisType_; }
  uint32_t ArgCount() const { return argCount_; }

 private:
  TypeInfo* returnType_ = nullptr;       // null: returns nothing
  TypeInfo* const* argTypes_ = nullptr;  // static array of the signature builder; null without parameters
  TypeInfo* thisType_ = nullptr;         // null: free function
  uint32_t argCount_ = 0;
};

}  // namespace Base
