// The life of the game on its one thread: initialisation in its fixed order, the paced main loop and
// the ordered shutdown. The entry (Vantor/Game/Main.cpp) installs the crash handler and runs one.
#pragma once

#include <memory>
#include <string>

#include "Base/Input/GamepadSource.h"
#include "Core/Engine.h"
#include "Base/Window.h"

namespace Graphics {
class GraphicsSystem;
}

namespace Vantor {

class Window32;
class Win32InputBackend;

class Program {
 public:
  static constexpr const char* kFirstLevel = "Splash";
  // While minimised the loop renders nothing and sleeps this long per pass.
  static constexpr int kMinimizedSleepMilliseconds = 10;
  // What Run returns when no window can be made.
  static constexpr int kNoDisplayExitCode = 1;
  // What Run returns when neither the working directory nor a folder above the executable holds the
  // content.
  static constexpr int kNoContentExitCode = 1;
  // What Run returns when the level script, a level or a shader did not load, or the renderer could not
  // be made.
  static constexpr int kBrokenContentExitCode = 1;
  // What Run returns when the display's connection was lost while the game ran; a stop signal gives
  // 128 + its number (the entry then ends the process by the signal itself).
  static constexpr int kDisplayLostExitCode = 1;
  // The game's level script, and the function of it that answers true once the whole script has run.
  static constexpr const char* kLevelScript = "content/lua/game/Levels.lua";
  static constexpr const char* kLevelScriptReady = "gameLevels.Ready";
  // The game's sound script, and its function answering true once the whole script has run.
  static constexpr const char* kSoundScript = "content/lua/game/Sound.lua";
  static constexpr const char* kSoundScriptReady = "gameSound.Ready";

  // What one pass of the main loop did.
  enum class Pass { Frame, Poll, Sleep };

  Program();
  // Shuts down when Shutdown has not run.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The input devices, the frame pacing at 60 Hz, the systems in their order, the window (full
  // screen, 1280 x 720 "Orvanel"), the engine with its scripts, then "PostWindowInit" and the request
  // for the first level, which loads at the end of the first frame step. When the level script did not
  // run to its end, an error line says so and the engine stops running; so it does when a shader did
  // not load or the device refused the renderer a buffer (its error line names it).
  void Init();
  // One pass: a new profiler frame and the engine hook "Step"; then, when a frame is due and the
  // window is not minimised, one frame step with the measured frame time, the keyboard and mouse
  // updates and one window message; otherwise one window message (after a sleep while minimised). A
  // level that the frame step did not load whole (no game space, or a space file missing or cut short)
  // ends the game with an error line. A stop signal (Ctrl+C, SIGTERM) or a lost display noted meanwhile
  // ends the game after the pass, in one line.
  Pass RunPass();
  // Passes until a script clears the engine's running flag.
  void Loop();
  // Every game space deleted, the systems shut down and destroyed in order, the scripts closed, then the
  // window and the input devices. Returns the program's exit code, 0.
  int Shutdown();
  // Init, Loop and Shutdown, in the folder that holds the content (EnterContentRoot): without one, one
  // error line says where to run the game and Run returns kNoContentExitCode. When no window can be
  // made (no display), one error line says so and how to run the game without one, and Run returns
  // kNoDisplayExitCode: before Init when the video system does not start, after it (with Shutdown)
  // when the window itself is refused. A level script, level or shader that did not load, or a renderer
  // the device refused, gives kBrokenContentExitCode.
  int Run();

  Core::Engine& GetEngine() { return Core::Engine::GetInstance(); }
  Window32* GetWindow() { return m_window.get(); }
  Win32InputBackend* GetInput() { return m_input.get(); }
  Core::FrameRateController& GetFrameRateController() { return m_frameRate; }
  Graphics::GraphicsSystem* GetGraphicsSystem() { return m_graphics; }

 private:
  // The physics system's place in the order (the fourth system): it joins with its components.
  void AddPhysicsSystem();
  // The graphics system's place (the fifth): until the renderer's system lands, a presenter that
  // clears and shows the window's canvas takes it.
  void AddGraphicsSystem();
  void CheckRenderer();
  void CheckLevelScript();
  void CheckSoundScript();
  void CheckLevelLoaded();
  void CheckStopRequest();
  void EndWithError();

  Base::WindowSettings m_settings;
  std::unique_ptr<Base::GamepadSource> m_gamepads;
  std::unique_ptr<Win32InputBackend> m_input;
  Core::FrameRateController m_frameRate{};
  std::unique_ptr<Window32> m_window;
  Graphics::GraphicsSystem* m_graphics = nullptr;  // owned by the engine
  bool m_initialised = false;
  std::string m_levelChecked;  // the last level whose load was checked
  int m_exitCode = 0;
  bool m_stopAnswered = false;
};

}  // namespace Vantor
