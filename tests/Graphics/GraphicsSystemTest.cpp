// The graphics system inside an engine frame step: registered spaces drawn through the editor camera,
// the script draw calls in their order, removed spaces flushed, the script full-screen switch.
#include "Base/FunctionRegistry.h"
#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameSpace.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/GraphicsSystem.h"
#include "Base/Window.h"
#include "tests/Graphics/RenderSceneSupport.h"

#include <algorithm>
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

RecordingScripts* g_recorder = nullptr;

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
    g_recorder = &scripts_;
    previousLink_ = Graphics::GraphicsSystem::SetDrawLibLink(
        {[] { g_recorder->calls.push_back("drawlib:init"); }, [] { g_recorder->calls.push_back("drawlib:flush"); }});
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
    Graphics::GraphicsSystem::SetDrawLibLink(previousLink_);
    g_recorder = nullptr;
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
  Graphics::GraphicsSystem::DrawLibLink previousLink_;
  Graphics::GraphicsSystem* system_ = nullptr;
  Core::GameSpace* space_ = nullptr;
};

TEST_F(GraphicsSystemFrames, AFrameStepDrawsTheSpaceThroughTheEditorCameraAndCallsTheScriptsInOrder) {
  EXPECT_TRUE(system_->IsSpaceRegistered(space_));
  EXPECT_EQ(std::count(scripts_.calls.begin(), scripts_.calls.end(), "drawlib:init"), 1);
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
    if (call == "Hook:Call Draw" || call == "gui.Draw" || call.rfind("WindowResize", 0) == 0 || call == "drawlib:flush")
      drawCalls.push_back(call);
  EXPECT_EQ(drawCalls, (std::vector<std::string>{"WindowResize 64x64", "Hook:Call Draw", "gui.Draw", "drawlib:flush"}));
  const std::vector<RenderTest::Pixel> px = ReadBack();
  EXPECT_NEAR(At(px, 32, 32).g, 153, 2);
  EXPECT_EQ(At(px, 1, 1).Brightness(), 0);  // the system clears to transparent black
  EXPECT_EQ(system_->GetScreenSize().x, 64.0f);
}

// One frame step of a whole scene: a lit wall with a shadow-casting block, a point light, a spot light
// and a debug shape, each leaving its mark.
TEST_F(GraphicsSystemFrames, AFrameStepDrawsModelsAllThreeLightKindsWithTheShadowMapAndDebugShapes) {
  UseEditorCamera();
  RenderTest::Model wall("default.cong", Vec3(0, 0, 5), Vec3(30, 30, 1));
  RenderTest::Model block("default.cong", Vec3(0, 0, 0), Vec3(2, 2, 2));
  Graphics::BaseDLight sun;
  Vec3 direction(1, 0, 1);
  direction.Normalize();
  sun.m_data.m_direction = direction;
  sun.m_data.m_diffuse = Vec4(1, 1, 1, 0.5f);
  sun.m_castsShadow = true;
  sun.m_shadowCamera.SetPosition(direction * -40.0f);
  sun.m_shadowCamera.LookAt(Vec3(0, 0, 0));
  Graphics::BasePLight lamp;
  lamp.m_data.m_position = Vec3(-4, 4, 3.5f);
  lamp.m_data.m_radius = 2.0f;
  lamp.m_data.m_attenuation = Vec3(1, 0, 0);
  lamp.m_data.m_diffuse = Vec4(1, 0, 0, 1);
  Graphics::BaseSLight torch;
  torch.m_data.m_position = Vec3(-4, -4, 2.5f);
  torch.m_data.m_direction = Vec4(0, 0, 1, 0);
  torch.m_data.m_attenuation = Vec3(1, 0, 0);
  torch.m_data.m_diffuse = Vec4(0, 0, 1, 1);
  torch.m_data.m_innerCos = 0.98f;
  torch.m_data.m_outerCos = 0.95f;
  torch.m_beamLength = 5.0f;
  g_scene = {&wall, &block, &sun, &lamp, &torch};
  Graphics::DebugDraw& queue = Graphics::DebugDraw::GetInstance();
  queue.DrawCube(Vec3(4, -2, 0), Vec3(1, 1, 1), Base::Mat4(), Vec3(0, 1, 0), true);

  engine_.FrameStep(0.016f);
  const std::vector<RenderTest::Pixel> px = ReadBack();
  // On the wall's face (z 4.5): lit left of the block, in its shadow right of it (the light runs
  // along +x+z, so the shadow falls between x 2.5 and 6.5).
  const RenderTest::Pixel lit = AtWorld(px, Vec3(-3, 0, 4.5f)), shadow = AtWorld(px, Vec3(4, 0, 4.5f));
  EXPECT_GT(lit.Brightness(), 150);
  EXPECT_LT(shadow.Brightness(), lit.Brightness() / 4);
  const RenderTest::Pixel red = AtWorld(px, Vec3(-4, 4, 4.5f)), blue = AtWorld(px, Vec3(-4, -4, 4.5f));
  EXPECT_GT(int(red.r), int(red.b) + 60);   // the point light is red
  EXPECT_GT(int(blue.b), int(blue.r) + 60);  // the spot light is blue
  const RenderTest::Pixel green = AtWorld(px, Vec3(4, -2, 0));
  EXPECT_EQ(green.g, 255);  // the debug cube, drawn over the composed frame
  EXPECT_EQ(green.r, 0);
  queue.ForgetCanvas(canvas_);
}

TEST_F(GraphicsSystemFrames, TheSpaceIsDrawnThroughItsActiveCameraComponentAndAReplacedOneIsNoLongerActive) {
  engine_.GetHooks().Call("SetActiveCanvas", unsigned(canvasId_), space_);
  auto* first = static_cast<Graphics::Camera*>(space_->CreateComponent(Core::ComponentType_Camera));
  auto* second = static_cast<Graphics::Camera*>(space_->CreateComponent(Core::ComponentType_Camera));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  RenderTest::Model box("default.cong", Vec3(0, 0, 0), Vec3(4, 4, 4));
  g_scene = {&box};
  engine_.GetHooks().Call("SetActiveCamera", first->m_self, space_);
  first->m_isActive = true;
  engine_.FrameStep(0.016f);
  EXPECT_GT(At(ReadBack(), 32, 32).Brightness(), 700);  // the default view looks at the origin

  engine_.GetHooks().Call("SetActiveCamera", second->m_self, space_);
  EXPECT_FALSE(first->m_isActive);
  EXPECT_EQ(system_->GetActiveCamera(space_), second->m_self);
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

TEST_F(GraphicsSystemFrames, SkippedFramesAndHiddenSpacesDrawNothing) {
  UseEditorCamera();
  RenderTest::Model box("default.cong", Vec3(0, 0, 0), Vec3(4, 4, 4));
  g_scene = {&box};
  engine_.GetHooks().Call("SkipRender", true);
  scripts_.calls.clear();
  engine_.FrameStep(0.016f);
  EXPECT_EQ(std::count(scripts_.calls.begin(), scripts_.calls.end(), "gui.Draw"), 0);
  EXPECT_EQ(frame_->GetPendingPresents(), 0u);

  engine_.GetHooks().Call("SkipRender", false);
  space_->SetHidden(true);
  engine_.FrameStep(0.016f);
  EXPECT_EQ(std::count(scripts_.calls.begin(), scripts_.calls.end(), "gui.Draw"), 1);
  EXPECT_EQ(At(ReadBack(), 32, 32).Brightness(), 0);  // cleared, the box never recorded
  space_->SetHidden(false);
  engine_.FrameStep(0.016f);
  EXPECT_GT(At(ReadBack(), 32, 32).Brightness(), 700);
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
