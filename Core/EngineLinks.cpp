// The installed links from the engine core up to the engine and the scripts, and the live-space numbers.
#include "Core/EngineLinks.h"

#include <unordered_map>

#include "Base/FunctionRegistry.h"

namespace Core {
namespace {

// Plain pointers: nothing here is destroyed at exit, so a late caller never meets a dead object.
Hooks* g_engineHooks = nullptr;
ScriptHost* g_scriptHost = nullptr;

ScriptHost& None() {
  static ScriptHost* const none = new ScriptHost;  // never destroyed (see above)
  return *none;
}

struct LiveSpaces {
  std::unordered_map<const GameSpace*, uint64_t> numbers;
  std::unordered_map<uint64_t, GameSpace*> spaces;
  uint64_t last = 0;
};

LiveSpaces& Live() {
  static LiveSpaces* const live = new LiveSpaces;  // queried until the very end of the run
  return *live;
}

}  // namespace

Hooks* GetEngineHooks() { return g_engineHooks; }
void SetEngineHooks(Hooks* hooks) { g_engineHooks = hooks; }

// --- Scripts ----------------------------------------------------------------------------------------------

ScriptHost& Scripts() { return g_scriptHost ? *g_scriptHost : None(); }

ScriptHost* SetScriptHost(ScriptHost* host) {
  ScriptHost* previous = g_scriptHost;
  g_scriptHost = host;
  return previous;
}

ScriptHost* GetScriptHost() { return g_scriptHost; }

void ScriptHost::PublishLibrary(const char* name, const Variant& object, const char* description,
                                const char* category, uint8_t flag) {
  if (!name || !IsInitialized()) return;
  SetGlobal(name, object);
  if (!category) category = name;
  Base::FunctionRegistry& registry = Base::FunctionRegistry::GetInstance();
  // A state opened again (a new run in one process) must not list the library twice.
  if (!registry.FindCategory(category) && object.type)
    registry.RegisterCategory(const_cast<Base::Reflection::TypeInfo*>(object.type), category, flag, description);
}

// --- Live spaces ------------------------------------------------------------------------------------------

uint64_t AddLiveSpace(GameSpace* space) {
  if (!space) return 0;
  LiveSpaces& live = Live();
  RemoveLiveSpace(space);
  const uint64_t number = ++live.last;
  live.numbers[space] = number;
  live.spaces[number] = space;
  return number;
}

void RemoveLiveSpace(const GameSpace* space) {
  LiveSpaces& live = Live();
  const auto found = live.numbers.find(space);
  if (found == live.numbers.end()) return;
  live.spaces.erase(found->second);
  live.numbers.erase(found);
}

uint64_t LiveSpaceNumber(const GameSpace* space) {
  const LiveSpaces& live = Live();
  const auto found = live.numbers.find(space);
  return found == live.numbers.end() ? 0 : found->second;
}

GameSpace* FindLiveSpace(uint64_t number) {
  const LiveSpaces& live = Live();
  const auto found = live.spaces.find(number);
  return found == live.spaces.end() ? nullptr : found->second;
}

}  // namespace Core
