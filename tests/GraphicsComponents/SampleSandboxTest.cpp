// The game's "Sandbox" level and the "Windmill" archetype, built here from components so that the
// checked-in files are exactly what the engine writes (ORV_WRITE_SAMPLE_CONTENT=1 rewrites them): a
// lit ground under a sun with shadows, a turntable with its pillars and lamp, a spot light over the
// worm that plays its clips, a fountain of particles, a windmill whose rotor turns and the speaker the
// level's sound plays on; the sky and the sun live in the sky space.
#include <cmath>
#include <cstdlib>
#include <string>

#include "Audio/SoundEmitter.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/Archetype.h"
#include "Core/ContentPath.h"
#include "Core/Engine.h"
#include "Core/Factory.h"
#include "Core/Spinner.h"
#include "Graphics/Components/AnimationController.h"
#include "Graphics/Components/ParticleSystem.h"
#include "tests/Graphics/ResourceTestSupport.h"
#include "tests/Support/LevelBuilder.h"
#include "tests/Support/SilentScripts.h"
#include "tests/Support/TextFiles.h"

namespace {

using Base::Vec3;
using OrvTest::AddObject;
using OrvTest::Attach;
using OrvTest::Look;

Core::Spinner* Spin(Core::GameObject* object, Vec3 axis, float degreesPerSecond) {
  auto* spinner = Attach<Core::Spinner>(object, Core::ComponentType_Spinner);
  spinner->SetRotationAxis(axis);
  spinner->SetRotationSpeed(degreesPerSecond);
  return spinner;
}

// A tower with a rotor turning about its axle: a hub and two crossed sails, facing -z.
Core::GameObject* BuildWindmill(Core::GameSpace& space) {
  Core::GameObject* root = AddObject(space, "Windmill", {0.0f, 0.0f, 0.0f});
  Core::GameObject* rotor = AddObject(space, "Rotor", {0.0f, 6.0f, -0.7f}, {1.0f, 1.0f, 1.0f}, root);
  Spin(rotor, {0.0f, 0.0f, 1.0f}, 60.0f);
  Look(AddObject(space, "Hub", {0.0f, 0.0f, 0.0f}, {0.6f, 0.6f, 0.6f}, rotor), "Crate.cong", "default.mat",
       {90.0f, 70.0f, 50.0f});
  Look(AddObject(space, "Blade", {0.0f, 0.0f, -0.4f}, {0.45f, 8.0f, 0.1f}, rotor), "Crate.cong", "default.mat",
       {245.0f, 240.0f, 225.0f});
  Look(AddObject(space, "CrossBlade", {0.0f, 0.0f, -0.4f}, {8.0f, 0.45f, 0.1f}, rotor), "Crate.cong", "default.mat",
       {245.0f, 240.0f, 225.0f});
  Look(AddObject(space, "Tower", {0.0f, 3.0f, 0.0f}, {1.2f, 6.0f, 1.2f}, root), "Crate.cong", "default.mat",
       {190.0f, 120.0f, 90.0f});
  return root;
}

void WriteArchetype(const ::Archetype& archetype, const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Base::Serializer serializer;
  serializer.WriteValue(file, Base::Reflection::Variant(Base::Reflection::TypeOf<::Archetype>(),
                                                        const_cast<::Archetype*>(&archetype)));
}

void WriteSpace(Core::GameSpace& space, const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Core::SpaceLoadContext context;
  space.WriteText(file, context);
}

// The content file's path when rewriting, else a scratch path to compare with it.
std::string Target(const std::string& content, const std::string& scratch) {
  return std::getenv("ORV_WRITE_SAMPLE_CONTENT") ? content : ::testing::TempDir() + scratch;
}

void ExpectSameTree(Core::GameObject& a, Core::GameObject& b) {
  EXPECT_TRUE(a.Equals(b)) << a.m_name << " / " << b.m_name;
  ASSERT_EQ(a.ChildCount(), b.ChildCount()) << a.m_name;
  for (int i = 0; i < a.ChildCount(); ++i) ExpectSameTree(*a.ChildbyIndex(i), *b.ChildbyIndex(i));
}

class SampleSandbox : public ResourceTest::ResourceFixture {
 protected:
  void SetUp() override {
    ResourceFixture::SetUp();
    previous_ = Core::SetScriptHost(&scripts_);
    engine_.Init();
  }
  void TearDown() override {
    Core::Factory::GetInstance().ClearArchetypes();
    engine_.Teardown();
    Core::SetScriptHost(previous_);
    ResourceFixture::TearDown();
  }

  void BuildWorld(Core::GameSpace& world) {
    OrvTest::AddCamera(world, "SandboxCamera", {0.0f, 7.0f, -17.0f}, {0.0f, 2.5f, 4.0f});
    Look(AddObject(world, "Ground", {0.0f, -0.5f, 10.0f}, {50.0f, 1.0f, 50.0f}), "Crate.cong", "default.mat",
         {150.0f, 185.0f, 115.0f});

    // The turntable: a plank turning on the ground, a pillar at each end, a lamp above the right one.
    Core::GameObject* turntable = AddObject(world, "Turntable", {0.0f, 0.1f, 3.0f});
    Spin(turntable, {0.0f, 1.0f, 0.0f}, 15.0f);
    Look(turntable, "Plank.cong", "Checker.mat");
    Look(AddObject(world, "PillarLeft", {-1.5f, 0.6f, 0.0f}, {1.0f, 1.0f, 1.0f}, turntable), "Crate.cong",
         "Checker.mat");
    Core::GameObject* right = AddObject(world, "PillarRight", {1.5f, 0.6f, 0.0f}, {1.0f, 1.0f, 1.0f}, turntable);
    Look(right, "Crate.cong", "Checker.mat");
    Core::GameObject* lamp = AddObject(world, "Lamp", {0.0f, 1.5f, 0.0f}, {1.0f, 1.0f, 1.0f}, right);
    Spin(lamp, {1.0f, 0.0f, 0.0f}, 90.0f);
    auto* glow = Attach<Graphics::PointLight>(lamp, Core::ComponentType_PointLight);
    glow->SetDiffuse({255.0f, 170.0f, 80.0f});
    glow->SetIntensity(1.5f);
    glow->SetRadius(4.0f);
    glow->SetAtten({1.0f, 0.3f, 0.1f});

    // The worm lies along x under a spot light shining straight down, rolled a quarter turn so that
    // its clips bend it from side to side along the ground.
    Core::GameObject* worm = AddObject(world, "Worm", {-8.0f, 0.25f, 1.0f});
    OrvTest::Turn(worm, OrvTest::Facing({0.0f, -1.0f, 0.0f}));
    Look(worm, "Worm.cong", "default.mat", {235.0f, 150.0f, 160.0f});
    Attach<Graphics::AnimationController>(worm, Core::ComponentType_AnimationController)->m_currentAnimation =
        "Wiggle";
    auto* spot = Attach<Graphics::SpotLight>(AddObject(world, "Spotlight", {-6.0f, 6.0f, 1.0f}),
                                             Core::ComponentType_SpotLight);
    spot->SetDiffuse({150.0f, 200.0f, 255.0f});
    spot->SetIntensity(1.6f);
    spot->SetInnerAngle(40.0f);
    spot->SetOuterAngle(70.0f);
    spot->SetBeamLength(8.0f);
    spot->SetAtten({1.0f, 0.1f, 0.01f});

    // A fountain of warm sparks beside the turntable.
    auto* fountain = Attach<Graphics::ParticleSystem>(AddObject(world, "Fountain", {5.0f, 0.2f, 0.0f}),
                                                      Core::ComponentType_ParticleSystem);
    fountain->SetParticleCount(200);
    fountain->SetEmissionRate(60.0f);
    fountain->SetLifeTime(2.5f);
    fountain->SetLifeVariance(0.5f);
    fountain->SetRandomDirection(true);
    fountain->SetStartSpeed(1.0f);
    fountain->SetVelocityOverLifeTime(true);
    fountain->SetVelocityStart({0.0f, 4.0f, 0.0f});
    fountain->SetVelocityEnd({0.0f, -2.0f, 0.0f});
    fountain->SetScaleStart({0.3f, 0.3f});
    fountain->SetScaleEnd({0.1f, 0.1f});
    fountain->SetStartColor({255.0f, 220.0f, 120.0f, 255.0f});
    fountain->SetColorEnd({255.0f, 90.0f, 30.0f, 0.0f});
    fountain->SetInterpolateAlpha(true);
    fountain->SetTexture("White.png");

    // The windmill as the archetype makes it, set back on the right.
    Core::GameObject* windmill = BuildWindmill(world);
    windmill->m_archetype = "Windmill";
    windmill->GetComponent<Core::Transform>()->SetLocalTranslation({7.0f, 0.0f, 10.0f});

    // The level's voice: its scripts play the tune and the effects on it.
    Attach<Audio::SoundEmitter>(AddObject(world, "Speaker", {0.0f, 0.0f, 0.0f}), Core::ComponentType_SoundEmitter);
  }

  // The sky space: the sky, the sun turning slowly about its own beam so that its light and shadows
  // hold still, and the moon across from it, a faint blue light on the faces the sun leaves dark.
  void BuildSky(Core::GameSpace& sky) {
    OrvTest::AddSky(sky);
    const Vec3 beam(0.4f, -0.75f, 0.55f);
    Graphics::DirectionalLight* sun = OrvTest::AddSun(sky, "Sun", beam, {0.0f, 0.0f, 3.0f}, 24.0f);
    Spin(sun->GetOwner(), beam.Normalized(), 1.0f);
    Core::GameObject* moon = AddObject(sky, "Moon", {0.0f, 50.0f, 40.0f});
    OrvTest::Turn(moon, OrvTest::Facing({-0.6f, -0.4f, 0.6f}));
    auto* moonlight = Attach<Graphics::DirectionalLight>(moon, Core::ComponentType_DirectionalLight);
    moonlight->SetDiffuse({110.0f, 130.0f, 190.0f});
    moonlight->SetIntensity(0.35f);
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  OrvTest::SilentScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
};

TEST_F(SampleSandbox, TheLevelAndTheWindmillAreWhatTheEngineWrites) {
  Core::GameSpace& workshop = *engine_.NewGameSpace("Workshop");
  ::Archetype windmill;
  windmill.SetFromObject(*BuildWindmill(workshop));
  const std::string archetype = Core::Factory::MakeContentPath("Windmill", Core::Factory::FileKind_Archetype);
  const std::string archetypeOut = Target(archetype, "orv_sample_Windmill.arche");
  WriteArchetype(windmill, archetypeOut);
  EXPECT_EQ(OrvTest::ReadFile(archetypeOut), OrvTest::ReadFile(archetype));

  for (const char* name : {"SandboxWorld", "SandboxSky"}) {
    Core::GameSpace& space = *engine_.NewGameSpace(name);
    if (std::string(name) == "SandboxWorld")
      BuildWorld(space);
    else
      BuildSky(space);
    const std::string content = std::string(Core::kSpaceFolder) + name + std::string(Core::kSpaceExtension);
    const std::string out = Target(content, std::string("orv_sample_") + name + ".space");
    WriteSpace(space, out);
    EXPECT_EQ(OrvTest::ReadFile(out), OrvTest::ReadFile(content)) << content;
    engine_.DeleteGameSpace(&space);
  }
  engine_.DeleteGameSpace(&workshop);
  engine_.FrameStep(1.0f / 60.0f);

  // The level as the game opens it: the windmill in it is the archetype's tree, and the sun's turn
  // about its beam leaves the light where it was.
  engine_.ChangeLevel("Sandbox");
  engine_.FrameStep(1.0f / 60.0f);
  Core::GameSpace* world = engine_.GetGameSpace("SandboxWorld");
  Core::GameSpace* sky = engine_.GetGameSpace("SandboxSky");
  ASSERT_TRUE(world && sky);
  Core::GameObject* placed = world->FindGameObject("Windmill");
  ASSERT_NE(placed, nullptr);
  Core::GameObject* made = Core::Factory::GetInstance().LoadObjectFromArchetype(world, "Windmill");
  ASSERT_NE(made, nullptr);
  made->GetComponent<Core::Transform>()->SetLocalTranslation({7.0f, 0.0f, 10.0f});
  ExpectSameTree(*placed, *made);

  auto* sun = sky->FindGameObject("Sun")->GetComponent<Graphics::DirectionalLight>();
  ASSERT_NE(sun, nullptr);
  Core::Transform* sunPlace = sun->GetOwner()->GetComponent<Core::Transform>();
  const Base::Quaternion before = sunPlace->LocalRotation();
  sky->GetHooks().Call("LogicUpdate", 30.0f);
  EXPECT_GT(std::abs(sunPlace->LocalRotation().w - before.w), 1e-3f) << "the sun turns";
  sun->Submit();
  // The beam (0.4, -0.75, 0.55) over its length 1.01242.
  EXPECT_NEAR(sun->m_data.m_direction.x, 0.3951f, 2e-3f);
  EXPECT_NEAR(sun->m_data.m_direction.y, -0.7408f, 2e-3f);
  EXPECT_NEAR(sun->m_data.m_direction.z, 0.5433f, 2e-3f);
}

}  // namespace
