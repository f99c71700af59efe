// Skinned models lit like the same models unskinned: a bar written by the content tool, drawn through
// its animation controller beside a copy drawn without one, under a white directional light, read back
// face by face and compared with the cosine between each face's normal and the light, worked out here.
#include <cmath>
#include <string>

#include "Core/Engine.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/AnimationController.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/LightComponents.h"
#include "Graphics/Components/Model.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/GraphicsSystem.h"
#include "tests/Graphics/RenderSceneSupport.h"
#include "tests/Support/LevelBuilder.h"
#include "tests/Support/SilentScripts.h"

namespace {

using Base::Quaternion;
using Base::Vec3;
using namespace ContentWriters;
using RenderTest::Pixel;

const float kRootHalf = std::sqrt(0.5f);
// The Transform's rotation that carries +x onto +y, a quarter turn about z (a key's rotation, taken
// the other way round, is (kRootHalf, 0, 0, kRootHalf)), and half a turn about x, which turns y and z over.
const Quaternion kQuarterAboutZ(kRootHalf, 0, 0, -kRootHalf);
const Quaternion kHalfAboutX(0, 1, 0, 0);

class SkinnedLighting : public RenderTest::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    previous_ = Core::SetScriptHost(&scripts_);
    engine_.AddSystem(new Graphics::GraphicsSystem());
    engine_.Init();
    space_ = engine_.NewGameSpace("Skinned");
    engine_.GetHooks().Call("SetActiveCanvas", unsigned(canvasId_), space_);
  }
  void TearDown() override {
    Graphics::DebugDraw::GetInstance().ForgetCanvas(canvas_);
    engine_.Teardown();
    Core::SetScriptHost(previous_);
    ResourceTest::ResourceFixture::TearDown();
  }

  // The content tool's bar of two bones (4 long along x, its square section 0.5 across) with `clips`.
  std::string BarMesh(const std::vector<AnimationClip>& clips) {
    const std::string name = Unique("Bar");
    WriteFile("content/meshes/" + name + ".cong", WriteMeshBytes(MakeSkinnedBar(4, 2)));
    WriteFile("content/animations/" + name + ".conga", WriteAnimationBytes(clips));
    return name + ".cong";
  }
  // A model of `mesh`; with `clip` non-null it has an animation controller too, playing that clip (the
  // bind pose when empty).
  Core::GameObject* Bar(const std::string& mesh, Vec3 position, Vec3 scale, const char* clip = nullptr,
                        Quaternion rotation = {1, 0, 0, 0}) {
    Core::GameObject* bar = OrvTest::AddObject(*space_, clip ? "Skinned" : "Plain", position, scale);
    OrvTest::Turn(bar, rotation);
    OrvTest::Look(bar, mesh.c_str(), "default.mat");
    if (clip)
      OrvTest::Attach<Graphics::AnimationController>(bar, Core::ComponentType_AnimationController)->m_currentAnimation =
          clip;
    bar->Initialize();
    return bar;
  }
  // A white light of intensity 1 shining along `direction`, and the active camera.
  void Scene(Vec3 direction, Vec3 eye, Vec3 target) {
    Core::GameObject* sun = OrvTest::AddObject(*space_, "Sun", Vec3(0, 0, 0) - direction * 20.0f);
    OrvTest::Turn(sun, OrvTest::Facing(direction));
    OrvTest::Attach<Graphics::DirectionalLight>(sun, Core::ComponentType_DirectionalLight);
    sun->Initialize();
    camera_component_ = OrvTest::AddCamera(*space_, "Camera", eye, target);
    camera_component_->GetOwner()->Initialize();
  }
  // The controllers pose their bones, then one frame is drawn and read back.
  std::vector<Pixel> Frame() {
    space_->GetHooks().Call("LogicUpdate", 1.0f / 60.0f);
    engine_.FrameStep(1.0f / 60.0f);
    camera_ = static_cast<const Graphics::BaseCamera&>(*camera_component_);
    return ReadBack();
  }
  static bool DrawnSkinned(Core::GameObject* bar) {
    const Graphics::Model* model = bar->GetComponent<Graphics::Model>();
    return model && model->IsAnimated();
  }

  Core::Engine& engine_ = Core::Engine::GetInstance();
  OrvTest::SilentScripts scripts_;
  Core::ScriptHost* previous_ = nullptr;
  Core::GameSpace* space_ = nullptr;
  Graphics::Camera* camera_component_ = nullptr;
};

// A face lit at the cosine c between its normal and the way back to the light reads 255 c in every
// channel: white texture, white model, white light of intensity 1, nothing else lighting it.
void ExpectFace(const Pixel& p, float cosine, const char* face) {
  const int want = int(255.0f * cosine + 0.5f);
  EXPECT_NEAR(int(p.r), want, 3) << face;
  EXPECT_NEAR(int(p.g), want, 3) << face;
  EXPECT_NEAR(int(p.b), want, 3) << face;
}

// The light comes down at (0, -0.8, 0.6) and the camera looks down on the bars' top and front faces:
// the top's normal (0, 1, 0) meets the way back to the light, (0, 0.8, -0.6), at 0.8 (204 of 255),
// the front's (0, 0, -1) at 0.6 (153). Turned half over about x, the bars show their bottom and back
// faces in those places, lit the same.
TEST_F(SkinnedLighting, ABarInItsBindPoseIsLitFaceByFaceAsTheSameBarUnskinned) {
  const std::string mesh = BarMesh({MakeBendClip("Bend", 2, 4, 0.5f)});
  // Sections 1.5 across: the plain bar spans x -4.5 to -0.5, the skinned one 0.5 to 4.5.
  Core::GameObject* plain = Bar(mesh, {-4.5f, 0, 0}, {1, 3, 3});
  Core::GameObject* skinned = Bar(mesh, {0.5f, 0, 0}, {1, 3, 3}, "");
  Scene({0, -0.8f, 0.6f}, {0, 4, -4}, {0, 0, 0});

  for (const char* view : {"upright", "turned over"}) {
    SCOPED_TRACE(view);
    const std::vector<Pixel> px = Frame();
    ASSERT_TRUE(DrawnSkinned(skinned));
    ASSERT_FALSE(DrawnSkinned(plain));
    for (float x : {-2.5f, 2.5f}) {
      SCOPED_TRACE(x < 0 ? "plain" : "skinned");
      ExpectFace(AtWorld(px, {x, 0.75f, 0}), 0.8f, "top");
      ExpectFace(AtWorld(px, {x, 0, -0.75f}), 0.6f, "front");
    }
    EXPECT_NEAR(AtWorld(px, {2.5f, 0.75f, 0}).Brightness(), AtWorld(px, {-2.5f, 0.75f, 0}).Brightness(), 3);
    EXPECT_NEAR(AtWorld(px, {2.5f, 0, -0.75f}).Brightness(), AtWorld(px, {-2.5f, 0, -0.75f}).Brightness(), 3);
    for (Core::GameObject* bar : {plain, skinned}) bar->GetComponent<Core::Transform>()->SetLocalRotation(kHalfAboutX);
  }
}

// The root bone turned a quarter about z stands the skinned bar up along +y, faces and normals with
// it; the plain bar is stood up by its Transform instead. The light shines along (-0.6, 0, 0.8): the
// front faces, normal (0, 0, -1), meet the way back to it at 0.8 (204), the faces turned to +x (the
// bars' bottoms) at 0.6 (153).
TEST_F(SkinnedLighting, ABoneTurnedAQuarterStandsTheBarUpLitAsTheSameBarTurnedWhole) {
  const KeyRecord rootTurned{0, {0, 0, 0}, {kRootHalf, 0, 0, kRootHalf}}, tipAtRest{0, {4, 0, 0}, {1, 0, 0, 0}};
  const std::string mesh = BarMesh({{"Stand", 1, {rootTurned, tipAtRest}}});
  // Both 4 high and 1.5 across: the skinned bar is scaled across after its bones stood it up, the
  // plain one across before its Transform turns it.
  Core::GameObject* plain = Bar(mesh, {-4, 0, 0}, {1, 3, 3}, nullptr, kQuarterAboutZ);
  Core::GameObject* skinned = Bar(mesh, {0, 0, 0}, {3, 1, 3}, "Stand");
  Scene({-0.6f, 0, 0.8f}, {4, 2, -8}, {-2, 2, 0});

  const std::vector<Pixel> px = Frame();
  ASSERT_TRUE(DrawnSkinned(skinned));
  ASSERT_FALSE(DrawnSkinned(plain));
  for (float x : {-4.0f, 0.0f}) {
    SCOPED_TRACE(x < 0 ? "plain" : "skinned");
    for (float y : {0.5f, 2.0f, 3.5f}) {
      ExpectFace(AtWorld(px, {x, y, -0.75f}), 0.8f, "front");
      ExpectFace(AtWorld(px, {x + 0.75f, y, 0}), 0.6f, "side");
    }
  }
}

}  // namespace
