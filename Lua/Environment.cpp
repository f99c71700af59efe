// The Lua state: its creation, the engine's metatables and bound functions, globals and script loading.
#include "Lua/Environment.h"

#include <algorithm>
#include <ctime>

#include <boost/filesystem.hpp>

#include "Base/DebugTimer.h"
#include "Base/Reflection/Registration.h"
#include "Base/Reflection/TypeRegistry.h"
#include "Core/GameComponent.h"
#include "Lua/Convert.h"
#include "Lua/Log.h"
#include "Lua/Lookup.h"
#include "Lua/LuaComponentList.h"
#include "Lua/LuaDebugDraw.h"

namespace Lua {
namespace {

namespace fs = boost::filesystem;

// Scripts and content files may name folders with '\'; the file system here only knows '/'.
std::string ForwardSlashes(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

bool Exists(const std::string& path) {
  boost::system::error_code error;
  return !path.empty() && fs::exists(path, error);
}

bool IsDirectory(const std::string& path) {
  boost::system::error_code error;
  return !path.empty() && fs::is_directory(path, error);
}

// One spelling per file: symbolic links, "." and ".." resolved; the lexical form when that fails.
std::string CanonicalPath(const std::string& path) {
  boost::system::error_code error;
  fs::path canonical = fs::canonical(path, error);
  if (error) canonical = fs::absolute(path).lexically_normal();
  return canonical.string();
}

int64_t LastWriteTime(const std::string& path) {
  boost::system::error_code error;
  const std::time_t time = fs::last_write_time(path, error);
  return error ? 0 : static_cast<int64_t>(time);
}

// Every registered record once, in a fixed order: a metatable shared by T and T* takes its
// "__members" and "__isPOD" from T, which comes after its pointer types.
std::vector<const TypeInfo*> SortedRecords() {
  std::vector<const TypeInfo*> records;
  for (const auto& [name, record] : Base::Reflection::TypeRegistry::GetInstance().GetTypes())
    if (record && !record->metatableName.empty()) records.push_back(record);
  std::sort(records.begin(), records.end(), [](const TypeInfo* a, const TypeInfo* b) {
    if (a->isPointer != b->isPointer) return a->isPointer > b->isPointer;
    if (a->name != b->name) return a->name < b->name;
    return a < b;
  });
  records.erase(std::unique(records.begin(), records.end()), records.end());
  return records;
}

// Globals the engine reads and writes bypass metamethods: a script's strict-mode globals table must
// not turn them into Lua errors in engine frames.
void GetRawGlobal(lua_State* state, const char* name) {
  lua_pushstring(state, name);
  lua_rawget(state, LUA_GLOBALSINDEX);
}

void SetRawGlobal(lua_State* state, const char* name) {
  lua_pushstring(state, name);
  lua_insert(state, -2);
  lua_rawset(state, LUA_GLOBALSINDEX);
}

void PushDispatcher(lua_State* state, Base::Function* function) {
  lua_pushlightuserdata(state, function);
  lua_pushcclosure(state, &Environment::Dispatch, 1);
}

int Panic(lua_State* state) {
  const char* message = lua_tostring(state, -1);
  LUA_LOG(Error, "Unprotected lua error: %s", message ? message : "(not a string)");
  return 0;
}

}  // namespace

Environment& Environment::GetInstance() {
  static Environment instance;
  return instance;
}

Environment::~Environment() {
  Close();
  if (Core::GetScriptHost() == this) Core::SetScriptHost(nullptr);
}

void Environment::Init() {
  if (m_initialized) return;
  m_initialized = 1;

  boost::system::error_code error;
  const std::string workingDirectory = fs::current_path(error).string();
  m_relativeRoot = "content/lua/";

  LUA_LOG(Info, "Creating new lua state");
  m_state = luaL_newstate();
  if (!m_state) {
    LUA_LOG(Error, "Couldn't create a lua state");
    m_initialized = 0;
    return;
  }
  LUA_LOG(Verbose, "Setting up new lua state");
  // A new state has run nothing yet: scripts of an earlier state must be able to run again.
  m_loadedScripts.clear();
  m_reportedNames.clear();
  lua_atpanic(m_state, &Panic);

  DeclareMetatables();
  luaL_openlibs(m_state);
  SetPath(workingDirectory + "/" + m_relativeRoot);
  DefineMetatables();
  BindAll();
  PushErrorHandler(m_state);
  m_handlerRef = luaL_ref(m_state, LUA_REGISTRYINDEX);

  using Base::Reflection::TypeOf;
  PublishLibrary("interface", Variant(TypeOf<Environment*>(), this), "Lua Interface functions.");
  PublishLibrary("trace", Variant(TypeOf<Base::TraceLog*>(), &Base::TraceLog::GetInstance()),
                 "Trace log functions.");
  PublishLibrary("debugdraw", Variant(TypeOf<LuaDebugDraw*>(), &LuaDebugDraw::GetInstance()),
                 "Debug draw functions");
  PublishLibrary("debugtime", Variant(TypeOf<Base::DebugTimer*>(), &Base::DebugTimer::GetInstance()),
                 "Debug timer functions");
}

void Environment::DeclareMetatables() {
  lua_State* state = m_state;
  lua_newtable(state);
  SetRawGlobal(state, "_R");
  for (const TypeInfo* record : SortedRecords()) {
    const char* metatable = record->metatableName.c_str();
    lua_getfield(state, LUA_REGISTRYINDEX, metatable);
    const bool declared = !lua_isnil(state, -1);
    lua_pop(state, 1);
    if (declared) continue;

    LUA_LOG(Verbose, "Declaring lua metatable for %s [%s]", record->name.c_str(), metatable);
    luaL_newmetatable(state, metatable);
    lua_pushvalue(state, -1);
    lua_setfield(state, -2, "__index");
    lua_createtable(state, 3, 0);
    lua_setfield(state, -2, "__cfunctions");
    MarkEngineMetatable(state, -1);
    GetRawGlobal(state, "_R");
    lua_pushvalue(state, -2);
    lua_setfield(state, -2, metatable);
    lua_pop(state, 2);
  }
}

void Environment::DefineMetatables() {
  lua_State* state = m_state;
  std::unordered_set<std::string> withFields;
  for (const TypeInfo* record : SortedRecords()) {
    lua_getfield(state, LUA_REGISTRYINDEX, record->metatableName.c_str());
    if (!lua_istable(state, -1)) {
      LUA_LOG(Debug, "Couldn't find meta table for %s when defining meta table.", record->name.c_str());
      lua_pop(state, 1);
      continue;
    }
    lua_newtable(state);
    if (!record->toLua) {
      for (size_t i = 0; i < record->members.size(); ++i) {
        const Base::Reflection::Member& member = record->members[i];
        LUA_LOG(Verbose, "Reflected type member %s::%s", record->name.c_str(), member.name);
        lua_pushnumber(state, static_cast<lua_Number>(i));
        lua_setfield(state, -2, member.name);
      }
    }
    lua_setfield(state, -2, "__members");
    lua_pushboolean(state, record->isPlainData);
    lua_setfield(state, -2, "__isPOD");
    if (withFields.insert(record->metatableName).second) InstallObjectFields(state, -1, record->metatableName);
    lua_pop(state, 1);
  }
}

void Environment::BindAll() {
  for (const Base::FunctionRegistry::Entry& entry : Base::FunctionRegistry::GetInstance().GetEntries())
    BindFunction(entry);
}

void Environment::BindFunction(const Base::FunctionRegistry::Entry& entry) {
  lua_State* state = m_state;
  if (!state || !entry.function) return;
  const char* luaName = entry.name.c_str();
  const TypeInfo* thisType = entry.function->GetSignature().GetThisType();

  if (thisType) {
    const char* metatable = thisType->metatableName.c_str();
    LUA_LOG(Verbose, "Binding method %s::%s to lua", metatable, luaName);
    lua_getfield(state, LUA_REGISTRYINDEX, metatable);
    if (!lua_istable(state, -1)) {
      LUA_LOG(Warning, "Couldn't find meta table for %s when binding method %s", thisType->name.c_str(), luaName);
      lua_pop(state, 1);
      return;
    }
    lua_pushstring(state, luaName);
    PushDispatcher(state, entry.function);
    lua_rawset(state, -3);
    lua_getfield(state, -1, "__cfunctions");
    if (lua_istable(state, -1)) {
      lua_pushstring(state, luaName);
      lua_rawseti(state, -2, static_cast<int>(lua_objlen(state, -2) + 1));
    } else {
      LUA_LOG(Warning, "Couldn't find __cfunctions table inside of meta table for %s", metatable);
    }
    lua_pop(state, 2);
    return;
  }

  if (entry.category.empty()) {
    PushDispatcher(state, entry.function);
    SetRawGlobal(state, luaName);
    LUA_LOG(Verbose, "Bound static function %s to lua", luaName);
    return;
  }

  const char* category = entry.category.c_str();
  LUA_LOG(Verbose, "Binding static table function %s.%s to lua.", category, luaName);
  GetRawGlobal(state, category);
  if (lua_isnil(state, -1)) {
    lua_pop(state, 1);
    lua_newtable(state);
    lua_pushvalue(state, -1);
    SetRawGlobal(state, category);
  }
  if (!lua_istable(state, -1)) {
    LUA_LOG(Warning, "Couldn't bind static table function %s.%s to lua: %s is not a table", category, luaName,
            category);
    lua_pop(state, 1);
    return;
  }
  lua_pushstring(state, luaName);
  PushDispatcher(state, entry.function);
  lua_rawset(state, -3);
  lua_pop(state, 1);
}

void Environment::SetGlobal(const char* name, const Variant& value) {
  if (!m_state || !name) return;
  PushVariant(m_state, value);
  SetRawGlobal(m_state, name);
}

void Environment::SetPath(const std::string& root) {
  LUA_LOG(Verbose, "Setting lua path to: %s", root.c_str());
  m_absoluteRoot = root;
  if (!m_state) return;
  GetRawGlobal(m_state, "package");
  if (lua_istable(m_state, -1)) {
    const std::string path = root + "?.lua";
    lua_pushstring(m_state, path.c_str());
    lua_setfield(m_state, -2, "path");
  }
  lua_pop(m_state, 1);
}

void Environment::PostInit() {
  LoadScript("engine/interface.lua", false);
  if (!m_state) return;
  const Base::Enum& types = Core::ComponentTypeEnum();
  lua_newtable(m_state);
  // The native component types only: the enumeration's closing count is no component.
  const uint32_t count = std::min<uint32_t>(types.GetValueCount(), Core::ComponentType_Count);
  for (uint32_t i = 0; i < count; ++i) {
    lua_pushnumber(m_state, i);
    lua_setfield(m_state, -2, types.GetValueName(i).c_str());
  }
  SetRawGlobal(m_state, "ComponentDB");
}

void Environment::Close() {
  if (!m_initialized) return;
  m_initialized = 0;
  if (m_state) lua_close(m_state);
  m_state = nullptr;
  m_handlerRef = LUA_NOREF;
  // The types were the closed state's scripts' own.
  LuaComponentRegistry::GetInstance().Clear();
}

void Environment::AddSubpath(const char* path) {
  if (!path) return;
  LUA_LOG(Verbose, "Added sub path %s", path);
  m_subPaths.emplace_back(path);
}

void Environment::LoadScript(const char* name, bool flag) {
  if (!m_state || !name) return;
  const std::string wanted = ForwardSlashes(name);
  std::string found;
  if (Exists(wanted)) {
    found = wanted;
  } else if (Exists(m_relativeRoot + wanted)) {
    found = m_relativeRoot + wanted;
  } else {
    for (const std::string& sub : m_subPaths) {
      const std::string candidate = m_relativeRoot + ForwardSlashes(sub) + wanted;
      if (Exists(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  if (found.empty()) {
    LUA_LOG(Warning, "Couldn't find lua script: %s", name);
    return;
  }

  const std::string absolute = CanonicalPath(found);
  for (const LoadedScript& script : m_loadedScripts)
    if (script.absolutePath == absolute) return;

  LUA_LOG(Verbose, "Loading lua script: %s", name);
  m_loadedScripts.push_back({absolute, found, flag, LastWriteTime(found)});

  lua_State* state = m_state;
  const int top = lua_gettop(state);
  int status = luaL_loadfile(state, found.c_str());
  if (status == 0) status = lua_pcall(state, 0, LUA_MULTRET, 0);
  if (status != 0) {
    const char* message = lua_tostring(state, -1);
    LUA_LOG(Error, "Failed to load lua script %s", message ? message : "(error value is not a string)");
  }
  lua_settop(state, top);  // results or the error value: neither belongs to the caller
}

void Environment::LoadFolder(const char* folder) {
  if (!m_state || !folder) return;
  const std::string wanted = ForwardSlashes(folder);
  std::string found;
  if (IsDirectory(wanted)) {
    found = wanted;
  } else if (IsDirectory(m_relativeRoot + wanted)) {
    found = m_relativeRoot + wanted;
  } else {
    for (const std::string& sub : m_subPaths) {
      const std::string candidate = m_relativeRoot + ForwardSlashes(sub) + wanted;
      if (IsDirectory(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  if (found.empty()) {
    LUA_LOG(Warning, "Couldn't find folder: %s", folder);
    return;
  }
  std::unordered_set<std::string> visited;
  LoadFolderTree(found, visited);
}

void Environment::LoadFolderTree(const std::string& directory, std::unordered_set<std::string>& visited) {
  // A folder reached again (a link back up the tree) is not walked twice, so the walk always ends.
  if (!visited.insert(CanonicalPath(directory)).second) return;

  boost::system::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
    entries.push_back(it->path());
  // Directory order differs between file systems; name order makes the load order the same everywhere.
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });

  for (const fs::path& entry : entries) {
    const std::string path = entry.string();
    if (IsDirectory(path))
      LoadFolderTree(path, visited);
    else if (entry.extension().string() == ".lua")
      LoadScript(path.c_str(), true);
  }
}

}  // namespace Lua

// The engine reaches the scripts through the environment from before main on.
ORV_ON_LOAD { Core::SetScriptHost(&Lua::Environment::GetInstance()); }

ORV_REFLECT_CLASS(Lua::Environment) {
  type.Method<&Lua::Environment::LoadScript>("Lua::Environment::LoadScript", nullptr, "Attempts to loads a Lua script");
  type.Method<&Lua::Environment::AddSubpath>("Lua::Environment::AddSubpath", nullptr, "Adds a subpath to be searched ");
}
