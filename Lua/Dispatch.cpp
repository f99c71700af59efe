// Lua -> engine: the one C function behind every bound function. It checks the argument count, reads
// the object and the arguments into variants over storage on the native stack, calls the thunk and
// pushes the result. No C++ exception leaves it, and no Lua error is raised while it owns values. A
// call whose object or an argument is refused is not made and returns nothing (nil).
#include <alloca.h>

#include <cstdint>
#include <exception>
#include <new>

#include "Base/function/Function.h"
#include "Lua/Convert.h"
#include "Lua/Environment.h"
#include "Lua/Log.h"
#include "Lua/Lookup.h"

namespace Lua {
namespace {

constexpr size_t kSlotAlign = alignof(std::max_align_t);

size_t SlotSize(size_t size) { return (size + kSlotAlign - 1) & ~(kSlotAlign - 1); }

// Arguments that Lua converts into a value need storage; engine objects, value userdata and pointers
// are referred to where they live.
bool ArgumentNeedsStorage(const TypeInfo* type) {
  return type && !type->isPointer && type->fromLua && type->fromLua != &ReadValueUserdata && type->PlacementNew &&
         type->size > 0;
}

bool ResultNeedsStorage(const TypeInfo* type) {
  return type && !type->isPointer && type->PlacementNew && type->size > 0;
}

// Where each value lives during one call: the object (only for a converted this-type), then the
// result, then the arguments, each 16-byte aligned inside one block on the native stack.
size_t StorageSize(const Base::Signature& signature) {
  size_t total = 0;
  if (ArgumentNeedsStorage(signature.GetThisType())) total += SlotSize(signature.GetThisType()->size);
  if (ResultNeedsStorage(signature.GetReturnType())) total += SlotSize(signature.GetReturnType()->size);
  for (uint32_t i = 0; i < signature.ArgCount(); ++i)
    if (ArgumentNeedsStorage(signature.GetArg(i))) total += SlotSize(signature.GetArg(i)->size);
  return total;
}

// Hands out the slots in layout order and constructs a value in each; the caller records a slot only
// once its value exists, so that the teardown destroys exactly what was built.
class Storage {
 public:
  explicit Storage(char* block) : m_next(block) {}

  void* Construct(const TypeInfo* type, bool needed) {
    if (!needed) return nullptr;
    void* slot = m_next;
    m_next += SlotSize(type->size);
    type->PlacementNew(slot);
    return slot;
  }

 private:
  char* m_next;
};

void Destroy(const TypeInfo* type, void* slot) {
  if (slot && type->PlacementDelete) type->PlacementDelete(slot);
}

// A result of a reference type held in our storage dies with this call: Lua gets its own copy.
void PushResult(lua_State* state, const Variant& result, const void* storage) {
  if (result.data && result.data == storage && !result.type->toLua)
    PushValueUserdata(state, result);
  else
    PushVariant(state, result);
}

int CallBound(lua_State* state, const Base::Function& function, char* block) {
  const Base::Signature& signature = function.GetSignature();
  const TypeInfo* thisType = signature.GetThisType();
  const TypeInfo* returnType = signature.GetReturnType();
  const uint32_t argCount = signature.ArgCount();
  const int firstArgument = thisType ? 2 : 1;

  Variant* args = argCount ? static_cast<Variant*>(alloca(sizeof(Variant) * argCount)) : nullptr;
  void** argSlots = argCount ? static_cast<void**>(alloca(sizeof(void*) * argCount)) : nullptr;
  for (uint32_t i = 0; i < argCount; ++i) argSlots[i] = nullptr;
  void* objectSlot = nullptr;
  void* resultSlot = nullptr;

  int pushed = 0;
  try {
    Storage storage(block);
    if (thisType) objectSlot = storage.Construct(thisType, ArgumentNeedsStorage(thisType));
    if (returnType) resultSlot = storage.Construct(returnType, ResultNeedsStorage(returnType));
    for (uint32_t i = 0; i < argCount; ++i) {
      const TypeInfo* type = signature.GetArg(i);
      argSlots[i] = storage.Construct(type, ArgumentNeedsStorage(type));
      ::new (&args[i]) Variant(type, argSlots[i]);
    }

    Variant object(thisType, objectSlot);
    bool valid = true;
    if (thisType) {
      ReadVariant(state, 1, object);
      if (!object.IsValid()) {
        LUA_LOG(Error, "Invalid context when used to call function %s from lua", function.GetName().c_str());
        valid = false;
      }
    }
    // A converter refuses a value (a dead object, a number that is no integer of the type) by clearing
    // the variant's type, and logs why: the call is then not made at all, rather than made with a
    // value the script never meant.
    for (uint32_t i = 0; valid && i < argCount; ++i) {
      ReadVariant(state, firstArgument + static_cast<int>(i), args[i]);
      valid = args[i].type != nullptr;
    }
    if (valid) {
      Variant result(returnType, resultSlot);
      if (function.GetThunk()) function.GetThunk()(&result, object.data, args, argCount);
      if (returnType) {
        PushResult(state, result, resultSlot);
        pushed = 1;
      }
    }
  } catch (const std::exception& exception) {
    LUA_LOG(Error, "Exception thrown calling function %s from lua: %s", function.GetName().c_str(), exception.what());
  } catch (...) {
    if (IsLuaErrorInFlight()) throw;
    LUA_LOG(Error, "Exception thrown calling function %s from lua", function.GetName().c_str());
  }

  // Only what this call constructed is destroyed: a variant re-pointed at an engine object or at a
  // value userdata must never have its target destroyed here.
  for (uint32_t i = 0; i < argCount; ++i) Destroy(signature.GetArg(i), argSlots[i]);
  if (resultSlot) Destroy(returnType, resultSlot);
  if (objectSlot) Destroy(thisType, objectSlot);
  return pushed;
}

}  // namespace

int Environment::Dispatch(lua_State* state) {
  const auto* function = static_cast<const Base::Function*>(lua_touserdata(state, lua_upvalueindex(1)));
  if (!function) {
    LUA_LOG(Error, "Faulty Lua -> C++ Function call!");
    return 0;
  }
  const Base::Signature& signature = function->GetSignature();
  const int expected = static_cast<int>(signature.ArgCount()) + (signature.GetThisType() ? 1 : 0);
  if (lua_gettop(state) != expected) {
    LUA_LOG(Error, "Wrong argument count calling function %s from lua", function->GetName().c_str());
    return 0;
  }
  const size_t size = StorageSize(signature);
  char* block = nullptr;
  if (size) {
    const uintptr_t raw = reinterpret_cast<uintptr_t>(alloca(size + kSlotAlign - 1));
    block = reinterpret_cast<char*>((raw + kSlotAlign - 1) & ~uintptr_t(kSlotAlign - 1));
  }
  return CallBound(state, *function, block);
}

}  // namespace Lua
