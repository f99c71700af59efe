// The game's "SplashStage" space, built here from components so that the checked-in file is exactly
// what the engine writes (ORV_WRITE_SAMPLE_CONTENT=1 rewrites it), then loaded and drawn: the Splash
// level opens on it, so its camera is the one the level is seen through.
#include <cstdlib>
#include <string>

#include "Audio/SoundEmitter.h"
#include "Base/Serialization/File.h"
#include "Core/ContentPath.h"
#include "Core/Factory.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/LightComponents.h"
#include "Graphics/Components/Model.h"
#include "Graphics/GraphicsSystem.h"
#include "tests/Graphics/RenderSceneSupport.h"
#include "tests/Support/LevelBuilder.h"
#include "tests/Support/SilentScripts.h"
#include "tests/Support/TextFiles.h"

namespace {

using Base::Vec3;

class SampleStage : public RenderTest::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    previous_ = Core::SetScriptHost(&scripts_);
    engine_.AddSystem(new Graphics::GraphicsSystem());
    engine_.Init();
  }
  void TearDown() override {
    engine_.Teardown();
    Core::SetScriptHost(previous_);
    ResourceTest::ResourceFixture::TearDown();
  }

  template <class C>
  C* Add(Core::GameSpace& space, const char* name, Vec3 position, uint32_t type) {
    Core::GameObject* object = space.CreateObject();
    object->Name(name);
    auto* transform = static_cast<Core::Transform*>(space.CreateComponent(Core::ComponentType_Transform));
    object->AttachComponent(transform);
    transform->SetLocalTranslation(position);
    auto* component = static_cast<C*>(space.CreateComponent(type));
    object->AttachComponent(component);
    return component;
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  OrvTest::SilentScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
};

TEST_F(SampleStage, TheStageIsWhatTheEngineWritesAndShowsItsCrate) {
  Core::GameSpace& stage = *engine_.NewGameSpace("SplashStage");
  OrvTest::AddCamera(stage, "StageCamera", {0.0f, 2.0f, -7.0f}, {0.0f, 0.5f, 0.0f});
  auto* crate = Add<Graphics::Model>(stage, "Crate", {0.0f, 0.5f, 0.0f}, Core::ComponentType_Model);
  crate->m_meshName = "Crate.cong";
  crate->m_materialName = "Checker.mat";
  auto* spinner = static_cast<Core::Spinner*>(stage.CreateComponent(Core::ComponentType_Spinner));
  spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
  spinner->SetRotationSpeed(40.0f);
  crate->GetOwner()->AttachComponent(spinner);
  // A sun from the front left: the crate's shadow falls back and to the right on the floor.
  OrvTest::AddSun(stage, "Sun", {0.4f, -0.75f, 0.55f}, {0.0f, 0.0f, 0.0f}, 16.0f);
  Add<Graphics::PointLight>(stage, "Lamp", {2.0f, 2.0f, -2.0f}, Core::ComponentType_PointLight);
  OrvTest::Look(OrvTest::AddObject(stage, "Floor", {0.0f, -0.5f, 12.0f}, {40.0f, 1.0f, 40.0f}), "Crate.cong",
                "default.mat", {205.0f, 200.0f, 185.0f});
  OrvTest::AddSky(stage);
  // The level's voice: its scripts play the tune and the effects on it.
  Add<Audio::SoundEmitter>(stage, "Speaker", {0.0f, 0.0f, 0.0f}, Core::ComponentType_SoundEmitter);

  const std::string content = std::string(Core::kSpaceFolder) + "SplashStage" + std::string(Core::kSpaceExtension);
  const bool rewrite = std::getenv("ORV_WRITE_SAMPLE_CONTENT") != nullptr;
  const std::string path = rewrite ? content : ::testing::TempDir() + "orv_sample_SplashStage.space";
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    Core::SpaceLoadContext context;
    stage.WriteText(file, context);
  }
  EXPECT_EQ(OrvTest::ReadFile(path), OrvTest::ReadFile(content));
  engine_.DeleteGameSpace(&stage);
  engine_.FrameStep(0.016f);

  // The level as the game opens it: the stage draws its crate in the middle of the frame.
  engine_.ChangeLevel("Splash");
  engine_.FrameStep(0.016f);
  Core::GameSpace* loaded = engine_.GetGameSpace("SplashStage");
  ASSERT_NE(loaded, nullptr);
  engine_.GetHooks().Call("SetActiveCanvas", unsigned(canvasId_), loaded);
  engine_.FrameStep(0.016f);
  engine_.FrameStep(0.016f);
  const std::vector<RenderTest::Pixel> pixels = ReadBack();
  const RenderTest::Pixel centre = pixels[size_t(kSize) * (kSize / 2) + kSize / 2];
  EXPECT_GT(centre.Brightness(), 0) << "the crate is drawn where the camera looks";
}

}  // namespace
