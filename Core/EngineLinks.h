// The links from the engine core up to what is built above it: the engine's hook table for the object
// model, and the one seam through which the core and the systems above it reach the scripts. Both are
// installed from above (the engine, the Lua environment), so that the core builds, runs and is tested
// without either.
#pragma once

#include <cstdint>
#include <type_traits>

#include "Base/Reflection/TypeInfo.h"
#include "Base/Reflection/Variant.h"

namespace Core {

class GameSpace;
class Hooks;

// The engine's hook table, or null while no engine has installed it (before it exists, after it is gone).
Hooks* GetEngineHooks();
void SetEngineHooks(Hooks* hooks);

// --- Scripts ----------------------------------------------------------------------------------------------

// The script environment as everything below it sees it. The Lua environment is the one implementation
// and installs itself before main; the core drives it (Engine::Init, Teardown), and the systems above the
// core publish their globals from their own Initialize (Scripts().SetGlobal("physics", ...)) and call
// script functions by name (Scripts().Call("Hook:Call", "Draw")) through the same object, without naming
// a Lua type. The base itself is a host without scripts, what Scripts() gives while none is installed:
// nothing opens, and every call does nothing and reports failure.
class ScriptHost {
 public:
  using Variant = Base::Reflection::Variant;

  ScriptHost() = default;
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;
  virtual ~ScriptHost() = default;

  // Opens the script state; nothing when it is open.
  virtual void Init() {}
  virtual bool IsInitialized() const { return false; }
  // Runs the scripts the engine's own calls rely on ("engine/interface.lua") and builds "ComponentDB".
  virtual void PostInit() {}
  // Runs every script below a folder of the script root.
  virtual void LoadFolder(const char* /*folder*/) {}
  // Closes the state; a later Init opens a new one.
  virtual void Close() {}
  // Stores `value` as the script global `name` (an engine object travels by reference).
  virtual void SetGlobal(const char* /*name*/, const Variant& /*value*/) {}
  // Calls a script function by dotted or colon name ("gui.Draw", "Hook:Call"); `result`, when given,
  // receives the first result and is left as it was when the call fails. Returns whether it ran.
  virtual bool CallFunction(const char* /*name*/, const Variant* /*args*/, unsigned /*argCount*/,
                            Variant* /*result*/) {
    return false;
  }

  bool CallFunction(const char* name, Variant* result = nullptr) { return CallFunction(name, nullptr, 0, result); }
  // Whether a dotted name ("gameSound.Ready") is a script function, asked without a line logged: a script
  // that did not load leaves it undefined.
  virtual bool Defines(const char* /*name*/) { return false; }
  // A library: the global `name` holding `object`, listed in the function registry as a category of
  // the object's type with its description, under `category` (the global's name when null) with
  // `flag`. Nothing while the state is closed.
  void PublishLibrary(const char* name, const Variant& object, const char* description,
                      const char* category = nullptr, uint8_t flag = 0);

  // Typed calls: Call("Hook:Call", "PreFrameStep", dt); CallForResult(text, "game:AddComponent", ...).
  // Strings go as "const char*" (literals and char pointers) or "std::string"; other arguments by their
  // records. Read string results into a std::string: a char pointer would outlive its script value.
  template <class... A>
  bool Call(const char* name, const A&... args);
  template <class R, class... A>
  bool CallForResult(R& result, const char* name, const A&... args);
};

// The installed environment, or the host without scripts when none is.
ScriptHost& Scripts();
// Installs `host` (null: none); returns the one installed before.
ScriptHost* SetScriptHost(ScriptHost* host);
ScriptHost* GetScriptHost();

// The object model's shorthand for Scripts().CallFunction.
inline void CallScript(const char* function, const Base::Reflection::Variant* args, unsigned argCount,
                       Base::Reflection::Variant* result = nullptr) {
  Scripts().CallFunction(function, args, argCount, result);
}

// --- Live spaces ------------------------------------------------------------------------------------------

// Every space an engine owns, under a number never given twice in a run. What is kept across a space's
// end (a script's reference to it, or to one of its objects) proves the space alive by that number: a
// freed space, or a newer one at the same address, does not answer to it. The engine adds each space it
// creates and removes it before freeing it.
uint64_t AddLiveSpace(GameSpace* space);
void RemoveLiveSpace(const GameSpace* space);
// The space's number, or 0 when it is no live space of an engine.
uint64_t LiveSpaceNumber(const GameSpace* space);
// The live space of a number, or null.
GameSpace* FindLiveSpace(uint64_t number);

// --- Typed calls ----------------------------------------------------------------------------------------

namespace detail {

// A variant over one argument of a typed call; valid while the argument lives.
template <class A>
Base::Reflection::Variant ArgumentVariant(const A& argument) {
  using Base::Reflection::TypeOf;
  using Base::Reflection::Variant;
  if constexpr (std::is_array_v<A>) {
    static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<A>>, char>, "only character arrays");
    return Variant(TypeOf<char*>(), const_cast<char*>(argument));
  } else if constexpr (std::is_pointer_v<A>) {
    return Variant(TypeOf<A>(), const_cast<void*>(static_cast<const void*>(argument)));
  } else {
    return Variant(TypeOf<A>(), const_cast<A*>(&argument));
  }
}

}  // namespace detail

template <class... A>
bool ScriptHost::Call(const char* name, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return CallFunction(name, nullptr, 0, nullptr);
  } else {
    const Variant variants[] = {detail::ArgumentVariant(args)...};
    return CallFunction(name, variants, sizeof...(A), nullptr);
  }
}

template <class R, class... A>
bool ScriptHost::CallForResult(R& result, const char* name, const A&... args) {
  static_assert(!std::is_pointer_v<R> || !std::is_same_v<std::remove_cv_t<std::remove_pointer_t<R>>, char>,
                "read string results into a std::string");
  // A pointer result comes back as the variant's data; any other is read into `result` itself.
  Variant out =
      std::is_pointer_v<R> ? Variant(Base::Reflection::TypeOf<R>(), nullptr) : detail::ArgumentVariant(result);
  bool ran;
  if constexpr (sizeof...(A) == 0) {
    ran = CallFunction(name, nullptr, 0, &out);
  } else {
    const Variant variants[] = {detail::ArgumentVariant(args)...};
    ran = CallFunction(name, variants, sizeof...(A), &out);
  }
  if constexpr (std::is_pointer_v<R>) {
    if (ran) result = static_cast<R>(out.data);
  }
  return ran;
}

}  // namespace Core
