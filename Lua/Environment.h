// The one Lua state of the program: the engine's metatables and bound functions, the script loader,
// and the calls between engine and scripts in both directions. It is the engine's script host
// (Core::ScriptHost): the core and the systems above it reach it through Core::Scripts().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <lua.hpp>

#include "Base/FunctionRegistry.h"
#include "Base/Reflection/TypeInfo.h"
#include "Core/EngineLinks.h"

namespace Lua {

using Base::Reflection::TypeInfo;
using Base::Reflection::Variant;

class Environment final : public Core::ScriptHost {
 public:
  struct LoadedScript {
    std::string absolutePath;  // canonical: the key that makes a file run once, however it was named
    std::string foundPath;     // as found, with '/' separators
    bool flag;                 // LoadScript's second argument; kept, not otherwise read
    int64_t lastWriteTime;     // seconds since the epoch, from the file system
  };

  static Environment& GetInstance();

  // The engine uses GetInstance (installed as the script host before main); tests may build their own.
  Environment() = default;
  ~Environment() override;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  // Opens the state: metatables of every registered type, every registered bound function, the
  // globals "_R", "interface", "trace", "debugdraw" and "debugtime". Does nothing when initialised.
  void Init() override;
  // Runs "engine/interface.lua" and builds "ComponentDB".
  void PostInit() override;
  // Closes the state and forgets the script component types it announced.
  void Close() override;
  bool IsInitialized() const override { return m_initialized != 0; }
  lua_State* GetState() const { return m_state; }

  // Finds and runs a script once: the name as given, under the script root, then under each sub path.
  // '\' and '/' both separate folders; file names are case-sensitive.
  void LoadScript(const char* name, bool flag);
  // Runs every ".lua" file below a folder, sub-folders depth first, in name order.
  void LoadFolder(const char* folder) override;
  // An extra folder below the script root, concatenated with names as it is (no separator added).
  void AddSubpath(const char* path);
  void SetGlobal(const char* name, const Variant& value) override;
  void SetPath(const std::string& root);
  void BindFunction(const Base::FunctionRegistry::Entry& entry);
  void BindAll();
  // interface:SendLuaComponentList(count, list): the list on top of the Lua stack replaces the registry
  // of script component types (LuaComponentRegistry); `list` only holds its place in the signature.
  void HandleLuaComponentList(int count, int list);

  const std::vector<LoadedScript>& GetLoadedScripts() const { return m_loadedScripts; }
  const std::vector<std::string>& GetSubpaths() const { return m_subPaths; }
  const std::string& GetScriptRoot() const { return m_absoluteRoot; }

  // Engine -> Lua. Calls a function by name: "Hook:Call" (the ':' passes Hook as self), "gui.Draw",
  // "skynet:Update" or a plain global. Arguments are pushed through their records; `result`, when
  // given, receives the first result, and is left untouched when the call fails. The stack is left at
  // its height on entry. A name whose tables are missing is logged once and not called.
  // Returns whether the function ran without error. The typed forms (Call, CallForResult) are the
  // script host's.
  bool CallFunction(const char* name, const Variant* args, unsigned argCount, Variant* result) override;
  using Core::ScriptHost::CallFunction;
  bool Defines(const char* name) override;

  // Pushes the tables of the name's path, the function and (for "a:b") self; returns how many values
  // it pushed, 0 (and nothing pushed) when the name cannot be called. Writes the last segment and
  // whether the name held a ':'.
  int PushFunctionByName(const char* name, std::string_view* lastName, bool* isMethod);
  // The message handler of every protected call the engine makes: logs "Lua error: %s" with a
  // traceback for string and number errors, and returns the error value unchanged.
  static int ErrorHandler(lua_State* state);
  static void StackDump(lua_State* state);

  // Lua -> engine: the C closure behind every bound function (upvalue 1: the Base::Function).
  static int Dispatch(lua_State* state);

 private:
  void DeclareMetatables();
  void DefineMetatables();
  void LoadFolderTree(const std::string& directory, std::unordered_set<std::string>& visited);
  void ReportUncallable(const char* name, std::string_view path, int luaType);

  uint32_t m_initialized = 0;
  std::vector<LoadedScript> m_loadedScripts;
  std::vector<std::string> m_subPaths;
  std::string m_absoluteRoot;
  std::string m_relativeRoot;
  lua_State* m_state = nullptr;
  int m_handlerRef = LUA_NOREF;  // the message handler, kept in the registry for the calls into Lua
  std::unordered_set<std::string> m_reportedNames;  // names of uncallable functions already logged
};

}  // namespace Lua
