// The engine object: initialisation order, the frame step, game spaces, level changes, teardown; the
// frame-rate controller; and the engine's reflection (the Lua library "core").
#include "Core/Engine.h"

#include <algorithm>
#include <cmath>

#include "Base/DebugTimer.h"
#include "Base/Input/InputBackend.h"
#include "Base/Reflection/Registration.h"
#include "Base/TraceRepeats.h"
#include "Core/GameSpace.h"
#include "Core/InputManager.h"
#include "Core/Log.h"
#include "Core/SpaceComponent.h"
#include "Core/System.h"
#include "Platform/Clock.h"
#include "Platform/ProgramStop.h"

namespace Core {
namespace {

constexpr float kMaxDt = 0.1f;
constexpr float kMinFrameMicroseconds = 16666.668f;
constexpr int64_t kTicksPerMillisecond = 10000;

}  // namespace

// --- Engine -----------------------------------------------------------------------------------------------

Engine& Engine::GetInstance() {
  static Engine instance;
  return instance;
}

Engine::Engine() = default;

Engine::~Engine() {
  if (GetEngineHooks() == &m_hooks) SetEngineHooks(nullptr);
  m_hooks.Clear(true);
}

void Engine::AddSystem(System* system) {
  if (!system) return;
  if (std::find(m_systems.begin(), m_systems.end(), system) != m_systems.end()) return;
  m_systems.push_back(system);
}

void Engine::SetFixedDt(float dt) {
  if (std::isfinite(dt) && dt >= 0.0f) m_fixedDt = dt;
}

void Engine::Init() {
  if (m_initialized) {
    CORE_LOG(Warning, "The engine is already initialised");
    return;
  }
  m_initialized = true;
  // From here on what fails on every frame or lookup is said once and counted.
  Base::TraceRepeats::OfGameFrames().SetHolding(true);
  // Objects and spaces fire "ObjectDestroyed", "Initialized" and "GameSpaceLoaded" here.
  SetEngineHooks(&m_hooks);

  using Base::Reflection::TypeOf;
  using Base::Reflection::Variant;
  ScriptHost& scripts = Scripts();
  scripts.Init();
  scripts.PublishLibrary("core", Variant(TypeOf<Engine*>(), this), "Functions for accessing the core engine.");
  Base::InputBackend* input = InputManager::GetInstance() ? InputManager::GetInstance()->GetBackend() : nullptr;
  void* gamepad = input ? static_cast<void*>(input->GetGamepad()) : nullptr;
  void* keyboard = input ? static_cast<void*>(input->GetKeyboard()) : nullptr;
  scripts.PublishLibrary("gamepad", Variant(TypeOf<Base::Gamepad*>(), gamepad),
                         "Functions for accessing Gamepad State data.");
  scripts.PublishLibrary("keyboard", Variant(TypeOf<Base::Keyboard*>(), keyboard),
                         "Functions for accessing Keyboard state data.");
  scripts.PublishLibrary("factory", Variant(TypeOf<Factory*>(), &Factory::GetInstance()),
                         "Functions for accessing the Object and Space factory.");

  // A system may add systems while initialising: they are initialised in turn.
  for (size_t i = 0; i < m_systems.size(); ++i) {
    Platform::MarkProgress();
    m_systems[i]->Initialize(this);
  }
  m_hooks.Call("SystemPostInit");
  scripts.PostInit();
  m_hooks.Call("LuaPostInit");
  scripts.LoadFolder("engine/libraries");
  scripts.LoadFolder("engine");
  scripts.LoadFolder("game");
  scripts.Call("game:SendComponentList");
  m_hooks.Call("EnginePostInit");
  m_running = true;
}

bool Engine::FrameStep(float dt) {
  if (m_useFixedDt) dt = m_fixedDt;
  // A negative or undefined frame time (a clock fault) must not run time backwards.
  if (!(dt >= 0.0f)) dt = 0.0f;
  if (dt > kMaxDt) dt = kMaxDt;
  m_currentTime += static_cast<uint32_t>(dt * 1000.0f);

  Scripts().Call("Hook:Call", "PreFrameStep", dt);
  Base::DebugTimer& timers = Base::DebugTimer::GetInstance();
  timers.StartTimer("FrameStep");
  m_hooks.Call("FrameStep", dt, &m_spaces);
  timers.StopTimer("FrameStep");
  UpdateSpaces();
  Scripts().Call("Hook:Call", "PostFrameStep", dt);
  if (m_levelChangePending) ApplyLevelChange();
  Base::TraceRepeats::OfGameFrames().EndFrame();
  Base::TraceRepeats::OfGameFrames().WriteClosed();
  return m_running;
}

bool Engine::Step(float value) {
  m_hooks.Call("Step", value);
  return m_running;
}

void Engine::Shutdown(bool destroy) {
  // A system may not add systems from its Shutdown: walk the ones there are now.
  const std::vector<System*> systems = m_systems;
  for (System* system : systems) {
    Platform::MarkProgress();
    system->Shutdown(this);
    if (destroy) delete system;
  }
  if (!destroy) return;
  m_systems.clear();
  // The systems were the listeners of this table: nothing may call them any more.
  m_hooks.Clear(true);
}

void Engine::Teardown() {
  if (!m_initialized && m_spaces.empty() && m_systems.empty()) return;
  // What failed frame after frame was said once: its count ends the play.
  Base::TraceRepeats::OfGameFrames().Flush();
  Base::TraceRepeats::OfGameFrames().SetHolding(false);
  for (size_t i = 0; i < m_spaces.size(); ++i) MarkForDeletion(m_spaces[i]);
  UpdateSpaces();
  // Spaces that were never activated are not queued by marking; they go now, last first.
  const std::vector<GameSpace*> left = m_spaces;
  for (auto space = left.rbegin(); space != left.rend(); ++space)
    if (std::find(m_spaces.begin(), m_spaces.end(), *space) != m_spaces.end()) DeleteGameSpace(*space);
  Shutdown(true);
  if (m_initialized) Scripts().Close();
  if (GetEngineHooks() == &m_hooks) SetEngineHooks(nullptr);
  m_hooks.Clear(true);

  m_running = false;
  m_currentTime = 0;
  m_currentLevel.clear();
  m_nextLevel.clear();
  m_levelChangePending = false;
  m_levelLoad = {};
  m_initialized = false;
}

// --- Levels -------------------------------------------------------------------------------------------------

void Engine::ChangeLevel(const char* name) {
  if (!name) {
    CORE_LOG(Warning, "Level change without a level name ignored");
    return;
  }
  m_levelChangePending = true;
  m_nextLevel = name;
}

void Engine::RestartLevel() {
  m_levelChangePending = true;
  m_nextLevel = m_currentLevel;
}

void Engine::ApplyLevelChange() {
  // The request is taken before the load: one made while the level loads (a script reacting to its
  // objects) stays pending for the next frame instead of being lost.
  const std::string level = std::move(m_nextLevel);
  m_nextLevel.clear();
  m_levelChangePending = false;

  if (!m_spaces.empty()) {
    for (size_t i = 0; i < m_spaces.size(); ++i) MarkForDeletion(m_spaces[i]);
    UpdateSpaces();
    if (m_flushRemovedSpaces) m_flushRemovedSpaces();
  }
  m_currentLevel = level;
  m_levelLoad = Factory::GetInstance().LoadLevel(level.c_str(), *this);
}

// --- Game spaces -------------------------------------------------------------------------------------------

GameSpace* Engine::GetGameSpace(const char* name) {
  if (!name) return nullptr;
  const auto found = m_spacesByName.find(name);
  return found == m_spacesByName.end() ? nullptr : found->second;
}

GameSpace* Engine::NewGameSpace(const char* name) {
  const std::string spaceName = name ? name : "Unnamed Space";
  if (GameSpace* existing = GetGameSpace(spaceName.c_str())) {
    CORE_LOG(Warning, "Attempted to create two spaces named \"%s\"", spaceName.c_str());
    return existing;
  }
  CORE_LOG(Info, "Created new Game Space: \"%s\"", spaceName.c_str());
  GameSpace* space = new GameSpace(spaceName);
  AddLiveSpace(space);
  m_spacesByName[spaceName] = space;
  m_spaces.push_back(space);
  if (const SpaceCompCreator* creator = SpaceComponentRegistry::GetCreator(0))
    space->AddSpaceComponent(creator->Create(space));

  Scripts().Call("game:NewGameSpace", spaceName.c_str(), space);
  m_hooks.Call("GameSpaceCreated", space);
  return space;
}

void Engine::MarkForDeletion(GameSpace* space) {
  if (space && space->MarkForDeletion()) m_spacesToDelete.push_back(space);
}

void Engine::UpdateSpaces() {
  // Spaces created meanwhile (by scripts reacting to destructions) wait for the next update.
  const size_t count = m_spaces.size();
  for (size_t i = 0; i < count && i < m_spaces.size(); ++i) {
    GameSpace* space = m_spaces[i];
    if (!space->IsLoaded())
      space->Activate();
    else
      space->DestroyPendingObjects(false);
  }
  // Taken off first: spaces marked while these are deleted wait for the next update.
  std::vector<GameSpace*> doomed;
  doomed.swap(m_spacesToDelete);
  for (GameSpace* space : doomed)
    if (std::find(m_spaces.begin(), m_spaces.end(), space) != m_spaces.end()) DeleteGameSpace(space);
}

void Engine::DeleteGameSpace(GameSpace* space) {
  const auto live = std::find(m_spaces.begin(), m_spaces.end(), space);
  if (!space || live == m_spaces.end()) {
    CORE_LOG(Error, "Attempted to delete a game space that is not live");
    return;
  }
  // A listener of the notifications below may ask for this deletion again: it is already under way.
  if (std::find(m_deleting.begin(), m_deleting.end(), space) != m_deleting.end()) return;
  m_deleting.push_back(space);
  // The name outlives the space: the last notification is sent after it is freed.
  const std::string name = space->GetName();
  CORE_LOG(Info, "Deleting GameSpace: \"%s\"", name.c_str());
  m_hooks.Call("GameSpaceDeleted", space);
  Scripts().Call("Hook:Call", "GameSpaceDeleted", name.c_str());

  m_spacesByName.erase(name);
  // The listeners above may have changed the list: look the space up again.
  const auto entry = std::find(m_spaces.begin(), m_spaces.end(), space);
  if (entry != m_spaces.end()) {
    *entry = m_spaces.back();
    m_spaces.pop_back();
  }
  std::erase(m_spacesToDelete, space);
  std::erase(m_deleting, space);
  // From here nothing kept across the space's end (a script's reference) reaches it or its objects.
  RemoveLiveSpace(space);
  delete space;
  Scripts().Call("game:RemoveGameSpace", name.c_str());
}

// --- Frame-rate controller ------------------------------------------------------------------------------

void FrameRateController::SetTargetFramerate(unsigned fps) {
  CORE_LOG(Debug, "Set Target Framerate to %u", fps);
  if (fps == 0) {
    m_period = 0;
    return;
  }
  const unsigned milliseconds = static_cast<unsigned>(1.0f / static_cast<float>(fps) * 1000.0f);
  m_period = int64_t(milliseconds) * kTicksPerMillisecond;
}

void FrameRateController::SetDtSway(unsigned milliseconds) {
  CORE_LOG(Debug, "Set dt sway amount to %u", milliseconds);
  m_sway = int64_t(milliseconds) * kTicksPerMillisecond;
}

void FrameRateController::BeginFrame() { m_frameBegin = Platform::TicksNow(); }

void FrameRateController::EndFrame() {
  m_frameEnd = Platform::TicksNow();
  m_elapsed = m_frameEnd - m_frameBegin;
  m_nextFrameDue = m_frameBegin + m_period - m_sway;
}

bool FrameRateController::IsFrameDue() const { return Platform::TicksNow() >= m_nextFrameDue; }

float FrameRateController::GetFrameTime() const {
  return std::max(static_cast<float>(m_elapsed / 10), kMinFrameMicroseconds);
}

}  // namespace Core

// The engine exists before main.
ORV_ON_LOAD { Core::Engine::GetInstance(); }

ORV_REFLECT_CLASS(Core::Engine) {
  using Core::Engine;
  type.Method<&Engine::CurrentTime>("Core::Engine::CurrentTime", nullptr, "Returns the current time");
  type.Method<&Engine::Quit>("Core::Engine::Quit", nullptr, "Sets the running flag to false");
  type.Method<&Engine::ChangeLevel>("Core::Engine::ChangeLevel", "LoadLevel", "Sets the next level to load");
  type.Method<&Engine::RestartLevel>("Core::Engine::RestartLevel", "ReloadLevel", "Reloads the current Level");
  type.Method<&Engine::GameSpaceList>("Core::Engine::GameSpaceList", nullptr, "Gets a list of all game spaces");
}
