// The game window driven headless by injected window messages: resizing rules, close requests, focus
// and minimising, mouse and keys into the input backend, and a window whose canvas is gone.
#include "Vantor/Window32.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <memory>

#include "Core/EngineLinks.h"
#include "Graphics/Canvas.h"
#include "Graphics/Device.h"
#include "Graphics/Frame.h"
#include "Graphics/GraphicsMaster.h"
#include "Vantor/Win32InputBackend.h"
#include "tests/Support/LogCapture.h"
#include "tests/Vantor/WindowEventsTest.h"

namespace {

using Platform::WindowEvent;
using Vantor::Window32;

WindowEvent Event(WindowEvent::Kind kind, int x = 0, int y = 0) {
  WindowEvent event;
  event.kind = kind;
  event.x = x;
  event.y = y;
  return event;
}

class Window32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    previousHooks_ = Core::GetEngineHooks();
    Core::SetEngineHooks(&hooks_);
    recorder_.Attach(hooks_);
    previousHost_ = Core::SetScriptHost(&scripts_);
  }
  void TearDown() override {
    // The Graphics Master lets go of the frames before the windows they present into go.
    Graphics::GraphicsMaster::GetInstance().Shutdown();
    window_.reset();
    Graphics::DestroyDevice();
    Core::SetScriptHost(previousHost_);
    recorder_.Detach(hooks_);
    Core::SetEngineHooks(previousHooks_);
  }

  Window32& Make(uint32_t mode) {
    Base::WindowSettings settings;
    settings.width = 320;
    settings.height = 180;
    settings.title = "Orvanel";
    settings.mode = mode;
    window_ = std::make_unique<Window32>(settings, &input_);
    log_.clear();
    capture_.Take();
    return *window_;
  }
  std::vector<std::string> Take() { return std::exchange(log_, {}); }

  std::vector<std::string> log_;
  Core::Hooks hooks_;
  Core::Hooks* previousHooks_ = nullptr;
  VantorTest::HookRecorder recorder_{log_};
  VantorTest::ScriptRecorder scripts_{log_};
  Core::ScriptHost* previousHost_ = nullptr;
  Vantor::Win32InputBackend input_;
  OrvTest::LogCapture capture_;
  std::unique_ptr<Window32> window_;
};

TEST_F(Window32Test, ResizesOnlyToARealSizeAndNeverWhileFullScreen) {
  Window32& window = Make(0);
  window.Resize(0, 720);
  window.Resize(640, 0);
  EXPECT_EQ(Take(), std::vector<std::string>{});
  EXPECT_EQ(window.GetWidth(), 320u);

  window.Resize(640, 360);
  EXPECT_EQ(Take(), std::vector<std::string>{"hook:GameWindowResize 640x360"});
  EXPECT_EQ(window.GetWidth(), 640u);
  Graphics::Canvas* canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(window.GetCanvasId());
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->GetFrameSize(), Base::Vec2(640, 360));

  // A size message from the window system follows the same rule.
  window.HandleEvent(Event(WindowEvent::Resized, 0, 200));
  window.HandleEvent(Event(WindowEvent::Resized, 400, 300));
  EXPECT_EQ(Take(), std::vector<std::string>{"hook:GameWindowResize 400x300"});

  window.SetFullscreen(true);
  EXPECT_TRUE(window.IsFullscreen());
  EXPECT_FALSE(window.IsCursorShown());
  Take();
  window.Resize(1920, 1080);
  window.HandleEvent(Event(WindowEvent::Resized, 800, 600));
  EXPECT_EQ(Take(), std::vector<std::string>{});
  EXPECT_EQ(window.GetWidth(), 400u);
}

TEST_F(Window32Test, AFullScreenWindowIsSoFromItsConstruction) {
  Window32& window = Make(Base::WindowSettings::kModeFullscreen);
  EXPECT_TRUE(window.IsFullscreen());
  EXPECT_FALSE(window.IsCursorShown());
  window.Resize(1920, 1080);
  EXPECT_EQ(Take(), std::vector<std::string>{});
  EXPECT_EQ(window.GetWidth(), 320u);
}

TEST_F(Window32Test, ACloseRequestGoesToBothChannelsAndTheWindowStays) {
  Window32& window = Make(0);
  window.HandleEvent(Event(WindowEvent::CloseRequest));
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowClose", "lua:Hook:Call GameWindowClose"}));
  EXPECT_NE(window.GetPlatformWindow(), nullptr);

  // The same request as the window system delivers it, one message per pump.
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = window.GetPlatformWindow()->GetId();
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  ASSERT_EQ(SDL_PushEvent(&close), 1);
  ASSERT_EQ(SDL_PushEvent(&close), 1);
  window.PumpMessages();
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowClose", "lua:Hook:Call GameWindowClose"}));
  window.PumpMessages();
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowClose", "lua:Hook:Call GameWindowClose"}));
}

TEST_F(Window32Test, WindowedLosingTheFocusMinimisesAndGainingItRestores) {
  Window32& window = Make(0);
  window.HandleEvent(Event(WindowEvent::FocusLost));
  EXPECT_TRUE(window.IsMinimized());
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:WindowFocus 0", "lua:Hook:Call WindowFocusChange 0",
                                              "hook:GameWindowMinimize", "lua:Hook:Call GameWindowMinimize"}));
  // The window system's own report of the minimising it was asked for adds nothing.
  window.HandleEvent(Event(WindowEvent::Minimized));
  EXPECT_EQ(Take(), std::vector<std::string>{});

  window.HandleEvent(Event(WindowEvent::FocusGained));
  EXPECT_FALSE(window.IsMinimized());
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:WindowFocus 1", "lua:Hook:Call WindowFocusChange 1",
                                              "hook:GameWindowRestore", "lua:Hook:Call GameWindowRestore"}));
  // Minimised from its frame: both channels hear it once.
  window.HandleEvent(Event(WindowEvent::Minimized));
  window.HandleEvent(Event(WindowEvent::Restored));
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowMinimize", "lua:Hook:Call GameWindowMinimize",
                                              "hook:GameWindowRestore", "lua:Hook:Call GameWindowRestore"}));
}

TEST_F(Window32Test, MouseAndKeysReachTheInputDevices) {
  Window32& window = Make(0);
  Base::Mouse& mouse = *input_.GetMouse();
  WindowEvent wheel = Event(WindowEvent::Wheel);
  wheel.wheel = 1;
  window.HandleEvent(wheel);
  window.HandleEvent(wheel);
  EXPECT_EQ(mouse.GetCurrent().wheel, 2);
  mouse.Update();
  EXPECT_EQ(mouse.GetPrevious().wheel, 2);
  EXPECT_EQ(mouse.GetCurrent().wheel, 0);
  wheel.wheel = -1;
  window.HandleEvent(wheel);
  EXPECT_EQ(mouse.GetCurrent().wheel, -1);

  // Moves count with or without a button held; a press remembers where it was.
  window.HandleEvent(Event(WindowEvent::MouseMove, 10, 20));
  EXPECT_EQ(mouse.GetCurrent().x, 10);
  WindowEvent press = Event(WindowEvent::ButtonDown, 30, 40);
  press.button = 1;
  window.HandleEvent(press);
  EXPECT_TRUE(mouse.IsButtonDown(1));
  EXPECT_EQ(window.GetLastClickPosition(), Base::Vec2(30, 40));
  window.HandleEvent(Event(WindowEvent::MouseMove, 50, 60));
  EXPECT_EQ(mouse.GetCurrent().y, 60);
  press.kind = WindowEvent::ButtonUp;
  window.HandleEvent(press);
  EXPECT_FALSE(mouse.IsButtonDown(1));

  WindowEvent key = Event(WindowEvent::KeyDown);
  key.key = 27;  // escape
  window.HandleEvent(key);
  EXPECT_TRUE(input_.GetKeyboard()->IsKeyDown(Base::Key_Escape));
  key.kind = WindowEvent::KeyUp;
  window.HandleEvent(key);
  EXPECT_FALSE(input_.GetKeyboard()->IsKeyDown(Base::Key_Escape));
}

TEST_F(Window32Test, TheWindowSystemsKeysArriveAsVirtualKeys) {
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_a), 'A');
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_0), '0');
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_ESCAPE), 27);
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_RSHIFT), 16);
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_KP_0), 96);
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_KP_9), 105);
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_F15), 126);
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_QUOTE), 222);
  // Every key the window system names either has a virtual key the table converts, or none at all.
  for (SDL_Keycode code : {SDLK_SPACE, SDLK_RETURN, SDLK_BACKSPACE, SDLK_LEFT, SDLK_DOWN, SDLK_PAUSE, SDLK_F1,
                           SDLK_SEMICOLON, SDLK_BACKQUOTE, SDLK_KP_DIVIDE, SDLK_LGUI, SDLK_APPLICATION})
    EXPECT_NE(Vantor::Win32InputBackend::ConvertKeyCode(Platform::VirtualKeyFromKeyCode(code)),
              Vantor::Win32InputBackend::kNoKey)
        << code;
  EXPECT_EQ(Platform::VirtualKeyFromKeyCode(SDLK_AUDIOPLAY), 0);
}

TEST_F(Window32Test, AMissingCanvasIsReportedAndTheWindowStateStillChanges) {
  Window32& window = Make(0);
  delete Graphics::GraphicsMaster::GetInstance().GetCanvas(window.GetCanvasId());
  window.SetFullscreen(true);
  EXPECT_TRUE(window.IsFullscreen());
  EXPECT_FALSE(window.IsCursorShown());
  EXPECT_EQ(capture_.Take(), "[ Error ][Base] Invalid canvas being used with Window32\n"
                             "[ Error ][Base] Invalid canvas being used with Window32\n");
  window.HandleEvent(Event(WindowEvent::FocusLost));
  EXPECT_TRUE(window.IsMinimized());
  EXPECT_TRUE(window.IsCursorShown());
  EXPECT_NE(capture_.Take().find("Invalid canvas being used with Window32"), std::string::npos);
}

// Destroying the window: a full-screen one gives its canvas the desktop size and takes it out of full
// screen before the close is reported on both channels; a windowed one leaves its canvas as it is.
TEST_F(Window32Test, DestroyingTheWindowLeavesFullScreenThenReportsTheClose) {
  for (const uint32_t mode : {Base::WindowSettings::kModeFullscreen, 0u}) {
    Window32& window = Make(mode);
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    ASSERT_NE(desktop.w, 640);
    Graphics::Canvas* canvas = Graphics::GraphicsMaster::GetInstance().GetCanvas(window.GetCanvasId());
    ASSERT_NE(canvas, nullptr);
    Graphics::Frame* frame = Graphics::GraphicsMaster::GetInstance().GetFrame(int(canvas->GetFrameID()));
    ASSERT_NE(frame, nullptr);
    canvas->Resize(640, 360);
    ASSERT_EQ(frame->IsFullScreen(), mode != 0);

    bool fullScreenAtClose = true;
    Base::Vec2 sizeAtClose;
    window.AddCloseCallback([&] {
      fullScreenAtClose = frame->IsFullScreen();
      sizeAtClose = frame->GetSize();
      log_.push_back("own close callback");
      // The frame presents into the window: it goes before the window does.
      Graphics::GraphicsMaster::GetInstance().Shutdown();
    });
    window_.reset();
    EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowClose", "lua:Hook:Call GameWindowClose",
                                                "own close callback"}))
        << mode;
    EXPECT_FALSE(fullScreenAtClose) << mode;
    if (mode != 0)
      EXPECT_EQ(sizeAtClose, Base::Vec2(float(desktop.w), float(desktop.h)));
    else
      EXPECT_EQ(sizeAtClose, Base::Vec2(640, 360));
    EXPECT_EQ(capture_.Take().find("Invalid canvas"), std::string::npos) << mode;
  }
}

// At the game's end the canvas has gone with the Graphics Master before the window goes: nothing to
// leave full screen, nothing to report about it, and the close callbacks still run.
TEST_F(Window32Test, DestroyingAWindowWhoseCanvasWentFirstReportsOnlyTheClose) {
  Make(Base::WindowSettings::kModeFullscreen);
  Graphics::GraphicsMaster::GetInstance().Shutdown();
  capture_.Take();
  window_.reset();
  EXPECT_EQ(Take(), (std::vector<std::string>{"hook:GameWindowClose", "lua:Hook:Call GameWindowClose"}));
  EXPECT_EQ(capture_.Take(), "");
}

}  // namespace
