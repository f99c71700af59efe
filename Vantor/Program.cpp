// The program's initialisation order, main loop and shutdown order.
#include "Vantor/Program.h"

#include <chrono>
#include <string>
#include <thread>

#include "Audio/LogText.h"
#include "Audio/SoundSystem.h"
#include "Base/DebugTimer.h"
#include "Base/Log.h"
#include "Core/EngineLinks.h"
#include "Core/Factory.h"
#include "Core/InputManager.h"
#include "Core/SkyNet.h"
#include "Gameplay/GameLogic.h"
#include "Graphics/AssetTypeRegistry.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/RenderCore.h"
#include "Graphics/Shader.h"
#include "Physics/PhysicsSystem.h"
#include "Platform/ProgramStop.h"
#include "Platform/Window.h"
#include "Vantor/ContentRoot.h"
#include "Vantor/ControllerGamepadSource.h"
#include "Vantor/Win32InputBackend.h"
#include "Vantor/Window32.h"

namespace Vantor {

namespace {

constexpr unsigned kTargetFramerate = 60;
constexpr unsigned kDtSway = 0;
constexpr uint32_t kResizeWidth = 1920;
constexpr uint32_t kResizeHeight = 1080;

// Without a window nothing is seen and nothing could close the game: it says why, and how to run
// without a display, in one line.
void LogNoWindow(const char* reason) {
  BASE_LOG(Error,
           "No window can be shown (%s): the game needs a display. Without one, run it under a virtual display "
           "(xvfb-run -a -s \"-screen 0 1280x720x24\" build/release/bin/Orvanel) or with SDL's offscreen driver "
           "(SDL_VIDEODRIVER=offscreen build/release/bin/Orvanel).",
           reason);
}

// The pacing's two lines are Debug lines, which the trace log's order passes at the Info level as
// well: a start shows them only when the log level asks for debug lines or every line.
void SetPacing(Core::FrameRateController& pacer) {
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  const Base::TraceLevel level = log.GetLevel();
  if (level == Base::TraceLevel_Info) log.SetLevel(Base::TraceLevel_Warning);
  pacer.SetTargetFramerate(kTargetFramerate);
  pacer.SetDtSway(kDtSway);
  log.SetLevel(level);
}

void LogDisplayLost(const char* display) {
  BASE_LOG(Error, "The display %s was lost: the game ends.", Audio::LogSafe(display).c_str());
}

void LogDisplayError(const char* text) { BASE_LOG(Error, "%s", Audio::LogSafe(text).c_str()); }

// The lines signal handlers say as they stand, made ahead: the handlers may not format.
Platform::FixedLine MadeLine(Base::TraceLevel level, const std::string& text) {
  const Base::TraceLog& log = Base::TraceLog::GetInstance();
  return {log.FixedLine(level, Base::TraceModule_Base, text.c_str()), log.OutputDescriptor()};
}

Platform::FixedLine DisplayLostLine(const char* display) {
  return MadeLine(Base::TraceLevel_Error, "The display " + Audio::LogSafe(display) + " was lost: the game ends.");
}

Platform::FixedLine StopReceivedLine(const char* signal) {
  return MadeLine(Base::TraceLevel_Info, std::string(signal) + " received: the game ends.");
}

Platform::FixedLine StuckLine(const char* signal, const char* stuckFor) {
  return MadeLine(Base::TraceLevel_Error, "The game was stuck for " + std::string(stuckFor) + " after " + signal +
                                              ": it ends now, without its shutdown.");
}

}  // namespace

Program::Program() = default;

Program::~Program() {
  if (m_initialised) Shutdown();
}

void Program::AddPhysicsSystem() { GetEngine().AddSystem(new Physics::PhysicsSystem()); }

void Program::AddGraphicsSystem() {
  m_graphics = new Graphics::GraphicsSystem();
  GetEngine().AddSystem(m_graphics);
}

void Program::Init() {
  if (m_initialised) return;
  m_initialised = true;
  Core::Engine& engine = GetEngine();

  // File extensions name the asset types levels and scripts load by; particle settings read as enums.
  Base::RegisterDefaultExtensions();
  Graphics::RegisterParticleEnumTypes();

  m_settings.width = 1280;
  m_settings.height = 720;
  m_settings.title = "Orvanel";
  m_settings.nativeHandle = nullptr;
  m_settings.mode = Base::WindowSettings::kModeFullscreen;

  // Without controller support the pads read as never connected.
  m_gamepads = ControllerGamepadSource::Open();
  if (!m_gamepads) m_gamepads = std::make_unique<Base::NullGamepadSource>();
  m_input = std::make_unique<Win32InputBackend>(m_gamepads.get());

  m_frameRate = Core::FrameRateController();
  SetPacing(m_frameRate);

  engine.AddSystem(new Core::InputManager(m_input.get()));
  engine.AddSystem(new Core::SkyNet());
  engine.AddSystem(new Gameplay::GameLogic());
  AddPhysicsSystem();
  AddGraphicsSystem();

  m_window = std::make_unique<Window32>(m_settings, m_input.get());
  if (m_graphics) m_graphics->m_window = m_window.get();

  engine.AddSystem(new Audio::SoundSystem());
  engine.SetUseFixedDt(false);
  engine.Init();

  m_window->GetDesktopSize();
  // Changes nothing while the window is full screen.
  m_window->Resize(kResizeWidth, kResizeHeight);
  engine.GetHooks().Call("PostWindowInit");
  engine.ChangeLevel(kFirstLevel);
  m_levelChecked.clear();
  CheckRenderer();
  CheckLevelScript();
  CheckSoundScript();
}

// A shader that did not load leaves the frames garbage or black, and a renderer the device refused part
// of draws nothing: the error line named what failed, and the game ends rather than play on unseen.
void Program::CheckRenderer() {
  if (!GetEngine().IsRunning()) return;
  if (Graphics::AnyShaderFailed()) {
    BASE_LOG(Info, "The game cannot draw without its shaders (see the error above): it ends.");
    EndWithError();
  } else if (m_graphics && m_graphics->m_renderCore && !m_graphics->m_renderCore->IsInitialized()) {
    BASE_LOG(Info, "The game cannot draw without its renderer (see the error above): it ends.");
    EndWithError();
  }
}

// The level script moves between the levels and quits on Escape and on closing the window: a game
// without it could not be left. It ends instead, saying why.
void Program::CheckLevelScript() {
  bool ready = false;
  if (Core::Scripts().CallForResult(ready, kLevelScriptReady) && ready) return;
  BASE_LOG(Error,
           "The level script (%s) did not load, see the script error above: without it no key moves between "
           "the levels or quits. The game ends.",
           kLevelScript);
  EndWithError();
}

// The sound script starts each level's music and answers the sound keys: without it the game is silent,
// which the script error alone does not tell.
void Program::CheckSoundScript() {
  if (!GetEngine().IsRunning() || Core::Scripts().Defines(kSoundScriptReady)) return;
  BASE_LOG(Error, "The sound script (%s) did not load, see the script error above: the game goes on without sound.",
           kSoundScript);
}

// A level that brought no game space shows a black screen, and one built in part plays on without what
// its files left out: either way the game ends, naming the level's file. The lines above say what went
// wrong, where there are any: a level file naming no space has none.
void Program::CheckLevelLoaded() {
  Core::Engine& engine = GetEngine();
  if (engine.IsLevelChangePending() || engine.CurrentLevel().empty() || engine.CurrentLevel() == m_levelChecked)
    return;
  m_levelChecked = engine.CurrentLevel();
  const Core::Factory::LevelLoad& load = engine.CurrentLevelLoad();
  if (load.Whole()) return;
  const std::string level = Audio::LogSafe(m_levelChecked);
  const std::string path =
      Audio::LogSafe(Core::Factory::MakeContentPath(m_levelChecked, Core::Factory::FileKind_Level));
  if (load.fileRead && load.spacesNamed == 0)
    BASE_LOG(Error, "The level \"%s\" did not load: %s names no game space. The game ends.", level.c_str(),
             path.c_str());
  else if (load.spacesLoaded == 0)
    BASE_LOG(Error, "The level \"%s\" did not load: %s brought no game space (see the lines above). The game ends.",
             level.c_str(), path.c_str());
  else if (load.spacesNamed == 1)
    BASE_LOG(Error,
             "The level \"%s\" did not load: the one game space %s names did not load whole (see the lines above). "
             "The game ends.",
             level.c_str(), path.c_str());
  else
    BASE_LOG(Error,
             "The level \"%s\" did not load: of the %u game spaces %s names, %u did not load whole (see the lines "
             "above). The game ends.",
             level.c_str(), unsigned(load.spacesNamed), path.c_str(), unsigned(load.spacesNamed - load.spacesWhole));
  EndWithError();
}

// A stop asked from outside ends the game between two passes: the frame in progress has finished, and
// the shutdown runs in its order. A display that is gone shows nothing and takes no key.
void Program::CheckStopRequest() {
  if (m_stopAnswered) return;
  Platform::SettleDisplayErrors();
  const Platform::StopRequest stop = Platform::PendingStop();
  if (stop.kind == Platform::StopRequest::None) return;
  m_stopAnswered = true;
  if (stop.kind == Platform::StopRequest::Signal) {
    // Said as it came, where its handler had the line.
    if (!Platform::StopSignalSaid())
      BASE_LOG(Info, "%s received: the game ends.", Platform::StopSignalName(stop.signal));
    m_exitCode = 128 + stop.signal;
  } else {
    LogDisplayLost(stop.display.c_str());
    m_exitCode = kDisplayLostExitCode;
  }
  GetEngine().Quit();
}

void Program::EndWithError() {
  m_exitCode = kBrokenContentExitCode;
  GetEngine().Quit();
}

Program::Pass Program::RunPass() {
  Core::Engine& engine = GetEngine();
  Platform::MarkProgress();
  Base::DebugTimer::GetInstance().NewFrame();
  engine.Step(0.0f);
  const bool minimized = m_window && m_window->IsMinimized();
  if (m_frameRate.IsFrameDue() && !minimized) {
    m_frameRate.BeginFrame();
    const float dt = m_frameRate.GetFrameTime() / 1000000.0f;
    engine.FrameStep(dt);
    CheckRenderer();
    CheckLevelLoaded();
    m_frameRate.EndFrame();
    m_input->GetKeyboard()->Update();
    m_input->GetMouse()->Update();
    if (m_window) m_window->PumpMessages();
    CheckStopRequest();
    return Pass::Frame;
  }
  // No sleep while the window shows: the next frame begins at the tick it is due.
  if (minimized) std::this_thread::sleep_for(std::chrono::milliseconds(kMinimizedSleepMilliseconds));
  if (m_window) m_window->PumpMessages();
  CheckStopRequest();
  return minimized ? Pass::Sleep : Pass::Poll;
}

void Program::Loop() {
  while (GetEngine().IsRunning()) RunPass();
}

int Program::Shutdown() {
  if (!m_initialised) return 0;
  m_initialised = false;
  GetEngine().Teardown();
  m_graphics = nullptr;
  m_window.reset();
  m_input.reset();
  m_gamepads.reset();
  return 0;
}

int Program::Run() {
  // Checked before anything starts, so that the reason is the one line printed.
  if (!EnterContentRoot()) return kNoContentExitCode;
  Platform::SetStopSignalLines(StopReceivedLine, StuckLine);
  Platform::SetDisplayNotices({LogDisplayLost, LogDisplayError, DisplayLostLine});
  std::string error;
  if (!Platform::Window::DisplayAvailable(&error)) {
    LogNoWindow(error.empty() ? "no video driver" : error.c_str());
    return kNoDisplayExitCode;
  }
  Init();
  if (!m_window || !m_window->GetPlatformWindow()) {
    // The window system's own reason is what tells a display without OpenGL from one that went away.
    const std::string reason = m_window ? m_window->GetCreationError() : std::string();
    LogNoWindow(reason.empty() ? "the window was refused" : reason.c_str());
    Shutdown();
    return kNoDisplayExitCode;
  }
  Loop();
  const int exitCode = m_exitCode;
  Shutdown();
  return exitCode;
}

}  // namespace Vantor
