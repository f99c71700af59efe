// The engine: owns the per-frame systems, the engine hook table and the live game spaces, runs one
// frame step at a time and applies level changes between frames; it drives the scripts through the
// seam of Core/EngineLinks.h. Also the frame-rate controller that paces the main loop.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Core/EngineLinks.h"
#include "Core/Factory.h"
#include "Core/Hooks.h"

namespace Core {

class GameSpace;
class System;

class Engine : public SpaceHost {
 public:
  // The engine of the process: built before main, it lives until exit. End a run with Teardown.
  static Engine& GetInstance();

  Engine();
  // Frees the containers and the hook table only: spaces and systems are Teardown's, which must have run
  // (static destruction order would otherwise let them reach singletons already gone).
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- Life ---------------------------------------------------------------------------------------
  // The engine owns the system from here on.
  void AddSystem(System* system);
  // Opens the scripts, publishes "core", "gamepad", "keyboard" and "factory", initialises every system,
  // then runs the post-initialisation hooks and scripts; sets the running flag.
  void Init();
  // One frame: dt clamped to 0.1 s (or the fixed dt), the systems' frame steps, the space update, then a
  // pending level change. Returns the running flag.
  bool FrameStep(float dt);
  // Fires the engine hook "Step" once per pass of the main loop. Returns the running flag.
  bool Step(float value);
  // Every system's Shutdown, in the order added; with destroy, each is then deleted (and the engine hook
  // table, whose listeners they were, is emptied).
  void Shutdown(bool destroy);
  // Ends a run in order: every game space deleted (with its hooks and scripts), every system shut down
  // and destroyed, the scripts closed. Afterwards the engine is as constructed and may be initialised
  // again; a second call does nothing.
  void Teardown();

  // --- Levels and time ----------------------------------------------------------------------------
  // The level loads at the end of the current frame step; the last request of a frame wins.
  void ChangeLevel(const char* name);
  void RestartLevel();
  void Quit() { m_running = false; }
  bool IsRunning() const { return m_running; }
  // Game time in whole milliseconds, summed over frame steps.
  unsigned CurrentTime() const { return m_currentTime; }
  const std::string& CurrentLevel() const { return m_currentLevel; }
  bool IsLevelChangePending() const { return m_levelChangePending; }
  // How far the current level's load came.
  const Factory::LevelLoad& CurrentLevelLoad() const { return m_levelLoad; }
  void SetUseFixedDt(bool use) { m_useFixedDt = use; }
  bool UsesFixedDt() const { return m_useFixedDt; }
  float GetFixedDt() const { return m_fixedDt; }
  void SetFixedDt(float dt);

  // --- Game spaces ------------------------------------------------------------------------------------
  // A copy of the live spaces, in list order.
  std::vector<GameSpace*> GameSpaceList() const { return m_spaces; }
  GameSpace* GetGameSpace(const char* name) override;
  // A new space with its space component, announced to the scripts ("game:NewGameSpace") and on the
  // hook "GameSpaceCreated"; it takes part in logic from the next space update. An existing name is
  // refused with a warning and that space is returned.
  GameSpace* NewGameSpace(const char* name) override;
  // Marks a live space for deletion; it is deleted by the next space update. Nothing for a space that
  // is not active (never updated yet, or already marked).
  void MarkForDeletion(GameSpace* space);
  // Activates new spaces and carries out the others' pending object destructions, then deletes the
  // spaces marked for deletion.
  void UpdateSpaces();
  // Deletes one space now, with its log line, hooks and Lua notifications.
  void DeleteGameSpace(GameSpace* space);

  Hooks& GetHooks() { return m_hooks; }
  const std::vector<System*>& GetSystems() const { return m_systems; }

  // The graphics system installs how it releases the canvases of spaces removed by a level change.
  void SetRemovedSpacesFlush(void (*flush)()) { m_flushRemovedSpaces = flush; }

 private:
  void ApplyLevelChange();

  // Fields in this order.
  bool m_running = false;
  float m_fixedDt = 0.0167f;
  bool m_useFixedDt = true;
  uint32_t m_currentTime = 0;
  Hooks m_hooks;
  std::vector<System*> m_systems;
  std::string m_currentLevel;
  std::string m_nextLevel;
  bool m_levelChangePending = false;
  Factory::LevelLoad m_levelLoad;
  std::vector<GameSpace*> m_spaces;
  std::unordered_map<std::string, GameSpace*> m_spacesByName;
  std::vector<GameSpace*> m_spacesToDelete;

  bool m_initialized = false;
  std::vector<GameSpace*> m_deleting;  // spaces whose deletion is under way
  void (*m_flushRemovedSpaces)() = nullptr;
};

// Paces the main loop in 100-ns ticks: when the next frame is due and how long the last one took.
class FrameRateController {
 public:
  // Logs "Set Target Framerate to %u". The period is whole milliseconds: 60 gives 16 ms. 0 means
  // unpaced (every pass has a frame due).
  void SetTargetFramerate(unsigned fps);
  // Logs "Set dt sway amount to %u": the milliseconds by which each frame is due early.
  void SetDtSway(unsigned milliseconds);
  void BeginFrame();
  void EndFrame();
  bool IsFrameDue() const;
  // The last frame's work in microseconds, never less than 16666.668 (a 60 Hz frame).
  float GetFrameTime() const;

  // Fields in this order, in ticks.
  int64_t m_frameBegin = 0;
  int64_t m_frameEnd = 0;
  int64_t m_nextFrameDue = 0;
  int64_t m_elapsed = 0;
  int64_t m_period = 0;
  int64_t m_sway = 0;
};

}  // namespace Core
