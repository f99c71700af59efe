// The graphics system inside an engine frame step: registered spaces drawn through the editor camera,
// the script draw calls in their order, removed spaces flushed, the script full-screen switch.
#include "Base/FunctionRegistry.h"
#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameSpace.h"
#include "Graphics/GraphicsSystem.h"
#include "Vantor/Window.h"
#include "tests/Graphics/RenderSceneSupport.h"

#include <string>
#include <vector>

namespace {

using Base::Vec3;
using Base::Vec4;

// Stands in for the script environment: records which functions the engine called, in order.
class RecordingScripts : public Core::ScriptHost {
 public:
  bool CallFunction(const char* name, const Variant* args, unsigned argCount, Variant*) override {
    std::string call = name;
    if (call == "Hook:Call" && argCount == 1) call += std::string(" ") + static_cast<const char*>(args[0].data);
    if (call == "WindowResize" && argCount == 2)
      call += " " + std::to_string(int(*static_cast<const float*>(args[0].data))) + "x" +
              std::to_string(int(*static_cast<const float*>(args[1].data)));
    calls.push_back(call);
    return true;
  }
  std::vector<std::string> calls;
};

// The window's full-screen state, as the game window keeps it.
class FullScreenWindow : public Base::Window {
 public:
  void SetFullscreen(bool fullscreen) override { m_fullscreen = fullscreen; }
  bool IsFullscreen() const override { return m_fullscreen; }
  bool m_fullscreen = false;
};

// What the scene's space draws on its "Draw" hook.
std::vector<Graphics::RenderableObject*> g_scene;
void SubmitScene() {
  for (Graphics::RenderableObject* renderable : g_scene) Graphics::GraphicsMaster::GetInstance().Render(renderable, 0);
}

class GraphicsSystemFrames : public RenderTest::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    previous_ = Core::SetScriptHost(&scripts_);
    system_ = new Graphics::GraphicsSystem();
    engine_.AddSystem(system_);
    engine_.Init();
    space_ = engine_.NewGameSpace("Scene");
    const Base::Function submit(Base::MakeSignature<&SubmitScene>(), &Base::Thunk<&SubmitScene>, "SubmitScene");
    space_->GetHooks().AddSystemListener("Draw", this, submit);
  }
  void TearDown() override {
    g_scene.clear();
    engine_.Teardown();  // the system releases canvases, frames, the render core and the device
    Core::SetScriptHost(previous_);
    ResourceTest::ResourceFixture::TearDown();
  }
  void UseEditorCamera() {
    engine_.GetHooks().Call("SetActiveCanvas", unsigned(canvasId_), space_);
    engine_.GetHooks().Call("SetEditorCamera", &camera_);
    engine_.GetHooks().Call("UseEditorCamera", true);
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  RecordingScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
  Graphics::GraphicsSystem* system_ = nullptr;
  Core::GameSpace* space_ = nullptr;
};

TEST_F(GraphicsSystemFrames, AFrameStepDrawsTheSpaceThroughTheEditorCameraAndCallsTheScriptsInOrder) {
  EXPECT_TRUE(system_->IsSpaceRegistered(space_));
  const Vec4 albedo(0.2f, 0.6f, 0.9f, 1.0f);
  RenderTest::Model box("default.cong", Vec3(0, 0, 0), Vec3(4, 4, 4), albedo);
  g_scene = {&box};

  // No camera and no editor mode: nothing is drawn and the scripts are not called.
  scripts_.calls.clear();
  engine_.FrameStep(0.016f);
  EXPECT_TRUE(scripts_.calls.empty() || scripts_.calls.front() != "Hook:Call Draw");

  UseEditorCamera();
  scripts_.calls.clear();
  engine_.FrameStep(0.016f);
  std::vector<std::string> drawCalls;
  for (const std::string& call : scripts_.calls)
    if (call == "Hook:Call Draw" || call == "gui.Draw" || call.rfind("WindowResize", 0) == 0) drawCalls.push_back(call);
  EXPECT_EQ(drawCalls, (std::vector<std::string>{"WindowResize 64x64", "Hook:Call Draw", "gui.Draw"}));
  const std::vector<RenderTest::Pixel> px = ReadBack();
  EXPECT_NEAR(At(px, 32, 32).g, 153, 2);
  EXPECT_EQ(At(px, 1, 1).Brightness(), 0);  // the system clears to transparent black
  EXPECT_EQ(system_->GetScreenSize().x, 64.0f);
}

TEST_F(GraphicsSystemFrames, ADeletedSpaceIsForgottenAndItsFrameBlanked) {
  UseEditorCamera();
  RenderTest::Model box("default.cong", Vec3(0, 0, 0), Vec3(4, 4, 4));
  g_scene = {&box};
  engine_.FrameStep(0.016f);
  EXPECT_GT(At(ReadBack(), 32, 32).Brightness(), 700);
  engine_.MarkForDeletion(space_);
  engine_.FrameStep(0.016f);  // deleted in the space update, flushed by the engine right after
  engine_.FrameStep(0.016f);
  EXPECT_FALSE(system_->IsSpaceRegistered(space_));
  EXPECT_TRUE(system_->GetSpaces().empty());
  EXPECT_EQ(At(ReadBack(), 32, 32).Brightness(), 0);
}

TEST_F(GraphicsSystemFrames, CamerasAndCanvasesOfUnknownSpacesAreRefusedWithTheirMessages) {
  engine_.GetHooks().Call("SetActiveCamera", Base::Handle(5), static_cast<Core::GameSpace*>(nullptr));
  Core::GameSpace* stranger = reinterpret_cast<Core::GameSpace*>(&scripts_);
  engine_.GetHooks().Call("SetActiveCamera", Base::Handle(5), stranger);
  engine_.GetHooks().Call("SetActiveCamera", Base::kNullHandle, space_);
  EXPECT_EQ(system_->GetActiveCamera(stranger), Base::kNullHandle);
  const std::string log = log_.Take();
  for (const char* line : {"Attempting to activate camera with invalid gamespace",
                           "Attempting to activate camera with unregistered gamespace",
                           "Attempting to activate camera with a null handle",
                           "Attempting to get active camera with unregistered gamespace"})
    EXPECT_NE(log.find(std::string("[ Error ][Graphics] ") + line), std::string::npos) << line;
  engine_.GetHooks().Call("SetActiveCamera", Base::Handle(7), space_);
  EXPECT_EQ(system_->GetActiveCamera(space_), Base::Handle(7));
}

TEST_F(GraphicsSystemFrames, TheScriptSwitchTurnsTheWindowFullScreen) {
  EXPECT_FALSE(system_->GetFullScreen());
  system_->SetFullScreen(true);  // no window yet: nothing
  FullScreenWindow window;
  system_->m_window = &window;
  system_->SetFullScreen(true);
  EXPECT_TRUE(window.m_fullscreen);
  EXPECT_TRUE(system_->GetFullScreen());
  // The bound method is what scripts call on "gfxsystem".
  const Base::Function* bound = nullptr;
  for (const auto& entry : Base::FunctionRegistry::GetInstance().GetEntries())
    if (entry.name == "SetFullScreen" && entry.category.find("GraphicsSystem") != std::string::npos) bound = entry.function;
  ASSERT_NE(bound, nullptr);
  Base::Function call = *bound;
  call.SetObject(Base::Reflection::Variant(Base::Reflection::TypeOf<Graphics::GraphicsSystem>(), system_));
  call.Call(false);
  EXPECT_FALSE(window.m_fullscreen);
  system_->m_window = nullptr;
}

}  // namespace
