// Models, lights and the skybox as components of game objects in a space the engine draws through its
// active camera component: the frames read back, the components' settings, and their handling of lost
// Transforms, bad layers, copies and repeated construction.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "Base/Serialization/File.h"
#include "Core/Engine.h"
#include "Core/Factory.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/LightComponents.h"
#include "Graphics/Components/Model.h"
#include "Graphics/Components/ParticleSystem.h"
#include "Graphics/Components/Skybox.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/GraphicsSystem.h"
#include "Graphics/RenderList.h"
#include "tests/Graphics/RenderSceneSupport.h"
#include "tests/Support/SilentScripts.h"

namespace {

using Base::Quaternion;
using Base::Vec3;
using Base::Vec4;
using RenderTest::Pixel;

size_t Count(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

class SceneComponents : public RenderTest::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    previous_ = Core::SetScriptHost(&scripts_);
    system_ = new Graphics::GraphicsSystem();
    engine_.AddSystem(system_);
    engine_.Init();
    space_ = engine_.NewGameSpace("Scene");
    engine_.GetHooks().Call("SetActiveCanvas", unsigned(canvasId_), space_);
  }
  void TearDown() override {
    Graphics::DebugDraw::GetInstance().ForgetCanvas(canvas_);
    engine_.Teardown();
    Core::SetScriptHost(previous_);
    ResourceTest::ResourceFixture::TearDown();
  }

  // An object with a Transform at `position` turned by `rotation` (and scaled), plus one component.
  template <class C>
  C* Add(Vec3 position, uint32_t type, Vec3 scale = {1, 1, 1}, Quaternion rotation = {1, 0, 0, 0}) {
    Core::GameObject* object = space_->CreateObject();
    auto* transform = static_cast<Core::Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
    object->AttachComponent(transform);
    transform->SetTranslation(position);
    transform->SetScale(scale);
    transform->SetRotation(rotation);
    auto* component = static_cast<C*>(space_->CreateComponent(type));
    object->AttachComponent(component);
    pending_.push_back(object);
    return component;
  }
  void InitializeAll() {
    for (Core::GameObject* object : pending_) object->Initialize();
    pending_.clear();
  }
  // The camera component, active, at z -10 looking down +z.
  Graphics::Camera* AddCamera(Vec3 position = {0, 0, -10}) {
    auto* camera = Add<Graphics::Camera>(position, Core::ComponentType_Camera);
    camera->m_isActive = true;
    return camera;
  }
  // One engine frame; the fixture's camera takes the camera component's view for AtWorld.
  std::vector<Pixel> Frame(Graphics::Camera* camera) {
    engine_.FrameStep(0.016f);
    camera_ = static_cast<const Graphics::BaseCamera&>(*camera);
    return ReadBack();
  }
  // A system that keeps one particle born near `at`, red, still and `scale` each way from its centre, on
  // "White.png" as its own texture never loads; everything initialised and the particle born.
  Graphics::ParticleSystem* AddOneStillRedParticle(Vec3 at, float scale) {
    auto* fire = Add<Graphics::ParticleSystem>(at, Core::ComponentType_ParticleSystem);
    fire->SetParticleCount(1);
    fire->SetEmissionRate(600.0f);
    fire->SetLifeTime(10.0f);
    fire->SetStartSpeed(0.0f);
    fire->SetScaleStart(Base::Vec2(scale, scale));
    fire->SetScaleEnd(Base::Vec2(scale, scale));
    fire->SetStartColor(Vec4(255, 0, 0, 255));
    fire->SetColorEnd(Vec4(255, 0, 0, 255));
    fire->SetBlendState(0);
    fire->SetTexture("NoSuchSprite.png");
    InitializeAll();
    space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
    return fire;
  }
  static Core::Transform* TransformOf(Core::GameComponent* component) { return component->GetOwnerTransform(); }

  // The layer records of one recording of the space's "Draw" hook.
  Graphics::RenderList* Record() {
    master_.SetDefaultCanvas(canvasId_);
    canvas_->Begin(&camera_);
    space_->GetHooks().Call("Draw");
    canvas_->End();
    return canvas_->TakeReadyList();
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  OrvTest::SilentScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
  Graphics::GraphicsSystem* system_ = nullptr;
  Core::GameSpace* space_ = nullptr;
  std::vector<Core::GameObject*> pending_;
};

// A wall lit by a shadow-casting sun behind a block, a red point light and a blue spot light, all
// components of objects, seen through the active camera component; the lamps' marks move with them.
TEST_F(SceneComponents, ModelsAndLightsDrawFromTheirObjectsWithTheShadowAndFollowTheirTransforms) {
  Graphics::Camera* camera = AddCamera();
  Add<Graphics::Model>(Vec3(0, 0, 5), Core::ComponentType_Model, Vec3(30, 30, 1));
  Add<Graphics::Model>(Vec3(0, 0, 0), Core::ComponentType_Model, Vec3(2, 2, 2));
  // The sun's rotation turns +z onto (1, 0, 1) / sqrt 2: an eighth of a turn about y.
  const float s = std::sin(0.3926991f), c = std::cos(0.3926991f);
  auto* sun = Add<Graphics::DirectionalLight>(Vec3(-40, 0, -40), Core::ComponentType_DirectionalLight, {1, 1, 1},
                                              Quaternion(c, 0, -s, 0));
  sun->SetIntensity(0.5f);
  sun->SetCastsShadow(true);
  auto* lamp = Add<Graphics::PointLight>(Vec3(-4, 4, 3.5f), Core::ComponentType_PointLight);
  lamp->SetDiffuse(Vec3(255, 0, 0));
  lamp->SetRadius(2.0f);
  lamp->SetAtten(Vec3(1, 0, 0));
  // The spot light shines down -y turned onto +z: a quarter turn about x.
  const float h = std::sqrt(0.5f);
  auto* torch = Add<Graphics::SpotLight>(Vec3(-4, -4, 2.5f), Core::ComponentType_SpotLight, {1, 1, 1},
                                         Quaternion(h, h, 0, 0));
  torch->SetDiffuse(Vec3(0, 0, 255));
  torch->SetAtten(Vec3(1, 0, 0));
  torch->SetInnerAngle(22.0f);
  torch->SetOuterAngle(36.0f);
  torch->SetBeamLength(5.0f);
  InitializeAll();

  std::vector<Pixel> px = Frame(camera);
  EXPECT_NEAR(sun->m_data.m_direction.x, std::sqrt(0.5f), 1e-4f);
  EXPECT_NEAR(torch->m_data.m_direction.z, 1.0f, 1e-4f);
  const Pixel lit = AtWorld(px, Vec3(-3, 0, 4.5f)), shadow = AtWorld(px, Vec3(4, 0, 4.5f));
  EXPECT_GT(lit.Brightness(), 150);
  EXPECT_LT(shadow.Brightness(), lit.Brightness() / 4);
  Pixel red = AtWorld(px, Vec3(-4, 4, 4.5f)), blue = AtWorld(px, Vec3(-4, -4, 4.5f));
  EXPECT_GT(int(red.r), int(red.b) + 60);
  EXPECT_GT(int(blue.b), int(blue.r) + 60);

  // The lamps swap sides with their objects: their colours go with them.
  TransformOf(lamp)->SetTranslation(Vec3(4, -4, 3.5f));
  TransformOf(torch)->SetTranslation(Vec3(4, 4, 2.5f));
  px = Frame(camera);
  red = AtWorld(px, Vec3(4, -4, 4.5f));
  blue = AtWorld(px, Vec3(4, 4, 4.5f));
  EXPECT_GT(int(red.r), int(red.b) + 60);
  EXPECT_GT(int(blue.b), int(blue.r) + 60);
  const Pixel before = AtWorld(px, Vec3(-4, 4, 4.5f));
  EXPECT_LT(int(before.r), int(red.r) - 60);
}

// The sky is centred on the camera wherever it is, whatever its own object does; models on layer 1
// draw over it.
TEST_F(SceneComponents, TheSkyFollowsTheCameraNotItsObjectAndModelsDrawOverIt) {
  Graphics::Camera* camera = AddCamera();
  auto* sky = Add<Graphics::Skybox>(Vec3(50, 0, 0), Core::ComponentType_Skybox);
  auto* box = Add<Graphics::Model>(Vec3(-3, 0, 0), Core::ComponentType_Model, Vec3(2, 2, 2));
  box->SetBlendColor(Vec3(0, 255, 0));
  InitializeAll();
  EXPECT_EQ(sky->m_materialName, "SkyBox.mat");

  std::vector<Pixel> px = Frame(camera);
  // Looking down +z: the sky's +z face, blue-tinted, fills what the box leaves.
  const Pixel skyPixel = AtWorld(px, Vec3(3, 0, 0));
  EXPECT_GT(int(skyPixel.b), int(skyPixel.r) + 40);
  EXPECT_GT(skyPixel.Brightness(), 100);
  const Pixel boxPixel = AtWorld(px, Vec3(-3, 0, -1.5f));
  EXPECT_GT(int(boxPixel.g), int(boxPixel.b) + 60);

  // The camera moves far off: the sky, 2.5 units round, is still all round it.
  TransformOf(camera)->SetTranslation(Vec3(0, 0, -200));
  TransformOf(sky)->SetTranslation(Vec3(0, 0, 0));
  px = Frame(camera);
  EXPECT_EQ(At(px, 32, 32).r, skyPixel.r);
  EXPECT_EQ(At(px, 32, 32).b, skyPixel.b);
}

TEST_F(SceneComponents, ModelSettingsReachTheRenderableAndItsLayer) {
  auto* model = Add<Graphics::Model>(Vec3(1, 2, 3), Core::ComponentType_Model);
  // Written as a file read writes it, without the setter: the getter shows the base until Initialize.
  model->m_CastsShadow = false;
  EXPECT_TRUE(model->GetCastsShadow());
  InitializeAll();
  EXPECT_FALSE(model->GetCastsShadow());
  EXPECT_FALSE(model->m_shadowCaster);
  EXPECT_TRUE(model->GetRecievesShadow());
  EXPECT_EQ(model->m_meshName, "default.cong");
  EXPECT_EQ(model->m_materialName, "default.mat");
  model->SetBlendColor(Vec3(255, 128, 0));
  EXPECT_NEAR(model->m_color.y, 128.0f / 255.0f, 1e-6f);
  EXPECT_EQ(model->m_color.w, 1.0f);
  EXPECT_EQ(model->GetBlendColor().y, 128.0f);
  model->SetRecievesShadow(false);
  EXPECT_FALSE(model->m_shadowReceiver);

  Graphics::RenderList* list = Record();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->GetRecord(1)->models.size(), 1u);
  EXPECT_EQ(list->GetRecord(1)->models[0], static_cast<Graphics::BaseModel*>(model));
  EXPECT_EQ((*model->GetWorldMatrix())(1, 3), 2.0f);
  EXPECT_EQ(model->m_bones, nullptr);

  // A layer outside the canvas's four, as a file or script may set it: refused once, the last good
  // layer kept.
  log_.Take();
  model->m_layer = Graphics::CanvasLayer(2);
  Record();
  model->m_layer = Graphics::CanvasLayer(9);
  list = Record();
  EXPECT_EQ(uint32_t(model->m_layer), 2u);
  EXPECT_EQ(list->GetRecord(2)->models.size(), 1u);
  EXPECT_EQ(Count(log_.Take(), "canvas layer 9 is not 0 to 3, keeping layer 2"), 1u);
}

TEST_F(SceneComponents, LightSettingsAndTheDirectionsTheyTakeFromTheirObjects) {
  const float h = std::sqrt(0.5f);
  auto* sun = Add<Graphics::DirectionalLight>(Vec3(3, 4, 5), Core::ComponentType_DirectionalLight, {1, 1, 1},
                                              Quaternion(h, 0, h, 0));
  auto* lamp = Add<Graphics::PointLight>(Vec3(1, 2, 3), Core::ComponentType_PointLight);
  auto* torch = Add<Graphics::SpotLight>(Vec3(0, 1, 0), Core::ComponentType_SpotLight);
  InitializeAll();
  sun->SetDiffuse(Vec3(255, 128, 0));
  sun->SetIntensity(2.5f);
  EXPECT_NEAR(sun->GetDiffuse().y, 0.50196f, 1e-5f);
  EXPECT_EQ(sun->GetIntensity(), 2.5f);
  sun->SetShadowColor(Vec3(255, 255, 255));
  EXPECT_EQ(sun->GetShadowColor().w, 1.0f);
  torch->SetInnerAngle(60.0f);
  EXPECT_EQ(torch->GetInnerOuterAngles().x, 60.0f);
  EXPECT_EQ(torch->m_data.m_innerCos, 0.0f);  // the cosines follow on the next draw

  // Without shadows the sun's camera stays put; with them it sits on the object.
  Graphics::RenderList* list = Record();
  EXPECT_NEAR(sun->m_data.m_direction.x, -1.0f, 1e-5f);
  EXPECT_EQ(sun->m_shadowCamera.GetPosition().x, 0.0f);
  EXPECT_EQ(lamp->m_data.m_position.z, 3.0f);
  EXPECT_EQ(torch->m_data.m_direction.y, -1.0f);
  EXPECT_NEAR(torch->m_data.m_innerCos, 0.866025f, 1e-5f);
  EXPECT_NEAR(torch->m_data.m_outerCos, 0.923880f, 1e-5f);
  EXPECT_EQ(list->GetRecord(1)->lights.size(), 3u);
  sun->SetCastsShadow(true);
  Record();
  EXPECT_EQ(sun->m_shadowCamera.GetPosition().y, 4.0f);
}

// A light copied through its type record renders into a shadow map of its own, and both are
// released once each.
TEST_F(SceneComponents, ACopiedDirectionalLightOwnsItsOwnShadowMap) {
  auto* sun = Add<Graphics::DirectionalLight>(Vec3(0, 0, 0), Core::ComponentType_DirectionalLight);
  InitializeAll();
  sun->SetIntensity(0.25f);
  sun->SetCastsShadow(true);
  auto* copy = new Graphics::DirectionalLight(*sun);
  EXPECT_NE(copy->m_shadowMap.get(), sun->m_shadowMap.get());
  EXPECT_NE(copy->m_shadowMap.get(), nullptr);
  EXPECT_EQ(copy->GetIntensity(), 0.25f);
  EXPECT_TRUE(copy->GetCastsShadow());
  Graphics::DirectionalLight assigned;
  assigned = *copy;
  EXPECT_NE(assigned.m_shadowMap.get(), copy->m_shadowMap.get());
  EXPECT_EQ(assigned.GetIntensity(), 0.25f);
  delete copy;
  EXPECT_NE(sun->GetShadowTexture(), nullptr);
}

// Every component whose Transform is gone skips that frame's work and says so once; the lights keep
// their last place.
TEST_F(SceneComponents, ComponentsWithoutALiveTransformSkipTheirWorkAndReportItOnce) {
  auto* model = Add<Graphics::Model>(Vec3(0, 0, 0), Core::ComponentType_Model);
  auto* lamp = Add<Graphics::PointLight>(Vec3(7, 0, 0), Core::ComponentType_PointLight);
  auto* sun = Add<Graphics::DirectionalLight>(Vec3(0, 0, 0), Core::ComponentType_DirectionalLight);
  InitializeAll();
  Record();
  for (Core::GameComponent* component : std::initializer_list<Core::GameComponent*>{model, lamp, sun})
    component->GetOwner()->RemoveComponent(Core::ComponentType_Transform);
  log_.Take();
  Graphics::RenderList* list = nullptr;
  for (int i = 0; i < 3; ++i) list = Record();
  sun->OnSelectedInEditor();
  EXPECT_TRUE(list->GetRecord(1)->models.empty());
  EXPECT_EQ(list->GetRecord(1)->lights.size(), 2u);
  EXPECT_EQ(lamp->m_data.m_position.x, 7.0f);
  const std::string text = log_.Take();
  EXPECT_EQ(Count(text, "has no live Transform"), 3u) << text;
}

TEST_F(SceneComponents, SkyboxesShareOneSphereBuiltOnce) {
  auto* first = Add<Graphics::Skybox>(Vec3(0, 0, 0), Core::ComponentType_Skybox);
  const uint32_t afterFirst = Base::Resources<Graphics::Mesh>::Instance().GetEntryCount();
  auto* second = Add<Graphics::Skybox>(Vec3(0, 0, 0), Core::ComponentType_Skybox);
  Graphics::Skybox copy(*second);
  EXPECT_EQ(Base::Resources<Graphics::Mesh>::Instance().GetEntryCount(), afterFirst);
  EXPECT_EQ(first->GetMeshID(), second->GetMeshID());
  EXPECT_EQ(copy.GetMeshID(), first->GetMeshID());
  InitializeAll();
  Graphics::RenderList* list = Record();
  EXPECT_EQ(list->GetRecord(0)->models.size(), 2u);
  EXPECT_EQ((*first->GetWorldMatrix())(0, 0), 5.0f);
}

// A particle system drawn through the camera: its quads face the camera at the particles, in their
// colour, on "White.png" when its own texture never loads.
TEST_F(SceneComponents, ParticlesDrawAsCameraFacingQuadsInTheirColour) {
  Graphics::Camera* camera = AddCamera();
  auto* fire = AddOneStillRedParticle(Vec3(2, 1, 0), 2.0f);
  ASSERT_EQ(fire->m_particlePool.GetObjectsInUse(), 1u);
  const std::vector<Pixel> px = Frame(camera);
  const Pixel at = AtWorld(px, Vec3(2, 1, 0)), away = AtWorld(px, Vec3(-2, -1, 0));
  EXPECT_GT(int(at.r), 200);
  EXPECT_LT(int(at.g), 40);
  EXPECT_LT(away.Brightness(), 30);
}

// One still particle seen from two places away from every axis through it, from the front and from the
// side: each time its quad stands at the particle and faces the camera, so it reaches along the
// camera's own right and up, and nothing is drawn well beyond it.
TEST_F(SceneComponents, ParticlesFaceTheCameraAndStandWhereTheyAreFromEveryPose) {
  Graphics::Camera* camera = AddCamera();
  auto* fire = AddOneStillRedParticle(Vec3(2, 1, 3), 1.5f);
  ASSERT_EQ(fire->m_drawList.size(), 1u);
  const Vec3 at = fire->m_drawList.front()->position;
  auto red = [](const Pixel& p) { return p.r > 200 && p.g < 40 && p.b < 40; };
  for (const Vec3 eye : {Vec3(5, 4, -8), Vec3(13, 5, 6)}) {
    // UpdateCamera stands for the game logic's frame update, which this engine runs without: the
    // camera takes its Transform's place, turns it to the particle, and takes the turn.
    TransformOf(camera)->SetTranslation(eye);
    camera->UpdateCamera();
    camera->LookAt(at);
    camera->UpdateCamera();
    Frame(camera);  // one frame for the moved camera to reach the renderer
    const std::vector<Pixel> px = Frame(camera);
    const Vec3 right = camera_.m_right, up = Base::Cross(camera_.m_forward, camera_.m_right);
    const std::string pose = "seen from " + std::to_string(eye.x) + ", " + std::to_string(eye.y) + ", " +
                             std::to_string(eye.z);
    EXPECT_TRUE(red(AtWorld(px, at))) << pose;
    for (const Vec3 edge : {right, right * -1.0f, up, up * -1.0f}) {
      EXPECT_TRUE(red(AtWorld(px, at + edge * 1.1f))) << pose;
      EXPECT_FALSE(red(AtWorld(px, at + edge * 2.5f))) << pose;
    }
  }
}

// A particle system left at its defaults finds its own texture, the content's soft round sprite: a
// quad bright at its particle, half as bright half way out, and nothing drawn in its corners.
TEST_F(SceneComponents, AParticleSystemAtItsDefaultsDrawsItsSoftRoundSpriteWithoutAComplaint) {
  Graphics::Camera* camera = AddCamera();
  auto* sparks = Add<Graphics::ParticleSystem>(Vec3(0, 0, 0), Core::ComponentType_ParticleSystem);
  InitializeAll();
  for (int i = 0; i < 3; ++i) {
    space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
    Frame(camera);
  }
  const std::string log = log_.Take();
  EXPECT_EQ(log.find("[ Error ]"), std::string::npos) << log;
  EXPECT_EQ(log.find("[Warning]"), std::string::npos) << log;
  EXPECT_EQ(sparks->GetTexture(), "normal_4.png");

  // One still particle whose quad, facing the camera straight on, reaches three units each way.
  sparks->SetParticleCount(1);
  sparks->SetEmissionRate(600.0f);
  sparks->SetLifeTime(10.0f);
  sparks->SetStartSpeed(0.0f);
  sparks->SetScaleStart(Base::Vec2(3.0f, 3.0f));
  sparks->SetScaleEnd(Base::Vec2(3.0f, 3.0f));
  space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
  ASSERT_EQ(sparks->m_drawList.size(), 1u);
  const Vec3 at = sparks->m_drawList.front()->position;
  const std::vector<Pixel> px = Frame(camera);
  // The sprite's alpha, and its colour with it, is (1 - r^2)^2 at r radii out: 1 at the centre,
  // 0.5625 half way (143 of 255), 0 past the rim, which the quad's corners (r 1.2) lie beyond.
  const Pixel centre = AtWorld(px, at), half = AtWorld(px, at + Vec3(1.5f, 0, 0));
  const Pixel corner = AtWorld(px, at + Vec3(2.6f, 2.6f, 0)), belowLeft = AtWorld(px, at + Vec3(-2.6f, -2.6f, 0));
  EXPECT_GT(int(centre.r), 235);
  EXPECT_NEAR(int(half.r), 143, 20);
  EXPECT_EQ(half.r, half.b);
  EXPECT_LT(corner.Brightness(), 15);
  EXPECT_LT(belowLeft.Brightness(), 15);
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
}

TEST_F(SceneComponents, ParticleSystemsEmitAgeAndPulseByTheirSettings) {
  auto* system = Add<Graphics::ParticleSystem>(Vec3(0, 0, 0), Core::ComponentType_ParticleSystem);
  InitializeAll();
  auto step = [&](int updates) {
    for (int i = 0; i < updates; ++i) space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
  };
  // 50 a second, each living a second.
  step(60);
  EXPECT_NEAR(double(system->m_particlePool.GetObjectsInUse()), 50.0, 2.0);
  EXPECT_EQ(system->m_drawList.size(), size_t(system->m_particlePool.GetObjectsInUse()));
  const Graphics::Particle& p = *system->m_drawList.front();
  EXPECT_EQ(p.color.w, 255.0f);
  EXPECT_EQ(p.scale.x, 1.0f);

  // A copy takes the settings, not the particles; its own updates leave the source alone.
  Graphics::ParticleSystem copy(*system);
  EXPECT_EQ(copy.m_particlePool.GetObjectsInUse(), 0u);
  EXPECT_TRUE(copy.m_drawList.empty());
  EXPECT_EQ(copy.GetEmissionRate(), 50.0f);
  const uint32_t alive = system->m_particlePool.GetObjectsInUse();
  copy.Update(0.5f);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), alive);

  // Bursts of 20, two seconds apart.
  system->SetParticleCount(100);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), 0u);
  system->SetLifeTime(0.5f);
  system->SetEmitLimit(20);
  system->SetLimitPulse(2.0f);
  system->SetLimitPulse(-1.0f);
  EXPECT_EQ(system->GetLimitPulse(), 2.0f);
  step(60);
  EXPECT_FALSE(system->GetActive());
  EXPECT_EQ(system->m_emittedCount, 20u);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), 0u);
  // The burst ended at 0.4 s; the next starts two seconds later, at 2.4 s.
  step(90);
  EXPECT_GT(system->m_emittedCount, 0u);
  EXPECT_LT(system->m_emittedCount, 20u);
  step(30);
  EXPECT_EQ(system->m_emittedCount, 20u);

  system->EmitAllPerFrame();
  EXPECT_EQ(system->GetEmissionRate(), 6000.0f);
  system->SetColorEnd(Vec4(300, -5, 128, 255));
  EXPECT_EQ(system->GetColorEnd().x, 255.0f);
  EXPECT_EQ(system->GetColorEnd().y, 0.0f);
  system->SetEmitterShape(3);
  EXPECT_EQ(system->GetEmitterShape(), 0);
  system->SetSpeedVariance(-2.0f);
  EXPECT_EQ(system->GetSpeedVariance(), 2.0f);

  // A layer outside the canvas's four is refused.
  log_.Take();
  system->SetLayer(Graphics::CanvasLayer(2));
  system->SetLayer(Graphics::CanvasLayer(7));
  EXPECT_EQ(uint32_t(system->GetLayer()), 2u);
  EXPECT_EQ(Count(log_.Take(), "canvas layer 7 is not 0 to 3, keeping layer 2"), 1u);
}

TEST_F(SceneComponents, ParticlesSortFarFirstAndPositionsThatAreNotNumbersGoLast) {
  const Vec3 eye(0, 0, 0);
  std::vector<Graphics::Particle> particles(5);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Vec3 positions[5] = {{1, 0, 0}, {nan, 0, 0}, {5, 0, 0}, {0, nan, 0}, {3, 0, 0}};
  std::vector<Graphics::Particle*> list;
  for (int i = 0; i < 5; ++i) {
    particles[size_t(i)].position = positions[i];
    list.push_back(&particles[size_t(i)]);
  }
  Graphics::ParticleSystem::SortFarFirst(list, eye);
  EXPECT_EQ(list[0]->position.x, 5.0f);
  EXPECT_EQ(list[1]->position.x, 3.0f);
  EXPECT_EQ(list[2]->position.x, 1.0f);
  EXPECT_TRUE(std::isnan(list[3]->position.x) || std::isnan(list[3]->position.y));
  EXPECT_TRUE(std::isnan(list[4]->position.x) || std::isnan(list[4]->position.y));
}

TEST_F(SceneComponents, AParticleSystemWithoutATransformEmitsNothingAndSaysSoOnce) {
  auto* system = Add<Graphics::ParticleSystem>(Vec3(0, 0, 0), Core::ComponentType_ParticleSystem);
  InitializeAll();
  system->GetOwner()->RemoveComponent(Core::ComponentType_Transform);
  log_.Take();
  for (int i = 0; i < 10; ++i) space_->GetHooks().Call("LogicUpdate", 0.1f);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), 0u);
  EXPECT_EQ(Count(log_.Take(), "has no live Transform"), 1u);
}

// Counts and rates as scripts set them: a negative count is refused (it would have read back as
// 4294967295), a count past what a pool holds is cut to it, and rates that are no finite number of at
// least 0 are refused.
TEST_F(SceneComponents, ParticleCountsAndRatesFromScriptsAreChecked) {
  auto* system = Add<Graphics::ParticleSystem>(Vec3(0, 0, 0), Core::ComponentType_ParticleSystem);
  InitializeAll();
  log_.Take();
  system->SetParticleCount(-1);
  EXPECT_EQ(system->GetParticleCount(), 100);
  system->SetParticleCount(5000000);
  EXPECT_EQ(system->GetParticleCount(), 100000);
  for (float rate : {std::numeric_limits<float>::quiet_NaN(), -5.0f, std::numeric_limits<float>::infinity()}) {
    system->SetEmissionRate(rate);
    EXPECT_EQ(system->GetEmissionRate(), 50.0f) << rate;
  }
  const std::string log = log_.Take();
  EXPECT_EQ(Count(log, "ParticleSystem::SetParticleCount needs a count of at least 0; left unchanged."), 1u);
  EXPECT_EQ(Count(log, "a system holds at most 100000 particles; the count is 100000."), 1u);
  EXPECT_EQ(Count(log, "ParticleSystem::SetEmissionRate needs a finite rate of at least 0; left unchanged."), 3u);

  // 2^32 + 512 due in one step: more than any count, so the pool fills to the count.
  system->SetEmissionRate(4294967808.0f);
  system->Update(1.0f);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), 100000u);
  EXPECT_EQ(system->m_emitAccumulator, 0.0f);
}

// A count written past its setter, above what the pool holds: emission stops at the first particle
// the pool cannot give and says so once, however many steps ask again.
TEST_F(SceneComponents, AParticleSystemPastItsPoolStopsAtTheFirstFailureAndSaysSoOnce) {
  auto* system = Add<Graphics::ParticleSystem>(Vec3(0, 0, 0), Core::ComponentType_ParticleSystem);
  InitializeAll();
  system->SetLifeTime(10.0f);
  system->SetEmissionRate(1e9f);
  system->m_particleCount = 300000;
  log_.Take();
  for (int i = 0; i < 3; ++i) space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
  EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), 100000u);
  EXPECT_EQ(system->m_emittedCount, 100000u);
  const std::string log = log_.Take();
  EXPECT_EQ(Count(log, "no room for another particle after 100000; emission waits for room"), 1u);
  EXPECT_LE(Count(log, "Can't Allocate New Page"), 3u);  // the pool's own line, at most once a step
}

// Counts and rates as a level file holds them, which no setter has seen: a count written negative
// (read back unsigned), one above the pool, and rates that are not a number, negative or huge.
TEST_F(SceneComponents, ParticleCountsAndRatesFromALevelFileAreChecked) {
  struct Case {
    const char* name;
    uint32_t count;
    float rate;
    uint32_t expectedCount;
    uint32_t expectedAlive;  // after one second
  };
  const Case cases[] = {
      {"Negative", 4294967295u, std::numeric_limits<float>::quiet_NaN(), 100, 50},
      {"Crowded", 300000, 1e9f, 100000, 100000},
      {"Backwards", 100, -100.0f, 100, 50},
  };
  Core::GameSpace& built = *engine_.NewGameSpace("Sparks");
  for (const Case& c : cases) {
    Core::GameObject* object = built.CreateObject();
    object->Name(c.name);
    object->AttachComponent(built.CreateComponent(Core::ComponentType_Transform));
    auto* system = static_cast<Graphics::ParticleSystem*>(built.CreateComponent(Core::ComponentType_ParticleSystem));
    system->m_particleCount = c.count;
    system->m_emitRate = c.rate;
    system->m_lifeTime = 10.0f;
    object->AttachComponent(system);
  }
  const std::string path = ::testing::TempDir() + "orv_particle_limits.space";
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    Core::SpaceLoadContext context;
    built.WriteText(file, context);
  }
  engine_.DeleteGameSpace(&built);
  engine_.FrameStep(0.016f);
  log_.Take();

  Core::GameSpace* loaded = Core::Factory::GetInstance().LoadSpace(path.c_str(), engine_);
  ASSERT_NE(loaded, nullptr);
  const std::string log = log_.Take();
  EXPECT_EQ(Count(log, "its m_particleCount is negative; it keeps 100"), 1u) << log;
  EXPECT_EQ(Count(log, "its m_particleCount 300000 is more than a system holds; it keeps 100000"), 1u);
  EXPECT_EQ(Count(log, "its m_emitRate is not a finite rate of at least 0; it keeps 50"), 2u);
  size_t seen = 0;
  for (Core::GameObject* object : loaded->GetObjects())
    for (const Case& c : cases) {
      if (std::string(object->GetName()) != c.name) continue;
      ++seen;
      auto* system = object->GetComponent<Graphics::ParticleSystem>();
      ASSERT_NE(system, nullptr) << c.name;
      EXPECT_EQ(uint32_t(system->GetParticleCount()), c.expectedCount) << c.name;
      system->Update(1.0f);
      EXPECT_EQ(system->m_particlePool.GetObjectsInUse(), c.expectedAlive) << c.name;
    }
  EXPECT_EQ(seen, 3u);
  engine_.DeleteGameSpace(loaded);
}

}  // namespace
