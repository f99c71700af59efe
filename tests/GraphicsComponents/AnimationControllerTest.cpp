// The animation controller on a skinned model: poses sampled and blended from animation files written
// by the content writers, compared with poses worked out by hand, and the controller's behaviour on
// broken or missing animation data.
#include <cmath>
#include <memory>

#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/AnimationController.h"
#include "Graphics/Components/Model.h"
#include "Graphics/RenderableObject.h"
#include "tests/Graphics/ResourceTestSupport.h"

namespace {

using namespace ContentWriters;
using Graphics::AnimationController;

constexpr float kFrame = 1.0f / 24.0f;
const float kHalf = std::sqrt(0.5f);

// A clip of `frames` keys 1/24 s apart; `key` gives bone b's key at frame f.
template <class KeyOf>
AnimationClip Clip(const char* name, uint32_t bones, uint32_t frames, KeyOf key) {
  AnimationClip clip{name, frames, {}};
  for (uint32_t b = 0; b < bones; ++b)
    for (uint32_t f = 0; f < frames; ++f) clip.keys.push_back(key(b, f));
  return clip;
}

// The walking chain: bone 0 moves one unit a frame along x, bone 1 sits one unit further on and turns
// a quarter about z, bone 2 sits one unit up from bone 1.
KeyRecord Walk(uint32_t b, uint32_t f) {
  if (b == 0) return {float(f) * kFrame, {float(f), 0, 0}, {1, 0, 0, 0}};
  if (b == 1) return {float(f) * kFrame, {1, 0, 0}, {kHalf, 0, 0, kHalf}};
  return {float(f) * kFrame, {0, 1, 0}, {1, 0, 0, 0}};
}

class AnimationControllerTest : public ResourceTest::ResourceFixture {
 protected:
  void SetUp() override {
    ResourceFixture::SetUp();
    space_ = std::make_unique<Core::GameSpace>("Animation");
  }
  void TearDown() override {
    space_.reset();
    ResourceFixture::TearDown();
  }

  // Three bones laid along x (binds at x = 0, 2 and 4) with the given parents and clips.
  std::string SkinnedMesh(const std::vector<AnimationClip>& clips, std::vector<uint32_t> parents = {0, 0, 1}) {
    MeshFileData mesh = MakeSkinnedBar(2, 3);
    mesh.boneParents = std::move(parents);
    const std::vector<uint8_t> animation = WriteAnimationBytes(clips);
    const std::string name = Unique("Chain");
    WriteFile("content/meshes/" + name + ".cong", WriteMeshBytes(mesh));
    WriteFile("content/animations/" + name + ".conga", animation);
    return name + ".cong";
  }

  // An initialised object with a Transform, a model of `mesh` (none when empty) and a controller.
  AnimationController* Animated(const std::string& mesh) {
    Core::GameObject* object = space_->CreateObject();
    object->AttachComponent(space_->CreateComponent(Core::ComponentType_Transform));
    if (!mesh.empty()) {
      auto* model = static_cast<Graphics::Model*>(space_->CreateComponent(Core::ComponentType_Model));
      model->SetMeshByFilename(mesh);
      object->AttachComponent(model);
    }
    auto* controller =
        static_cast<AnimationController*>(space_->CreateComponent(Core::ComponentType_AnimationController));
    object->AttachComponent(controller);
    object->Initialize();
    // The first update sets the controller up afresh: what scripts play comes after it.
    Update(0.0f);
    return controller;
  }

  void Update(float dt) { space_->GetHooks().Call("LogicUpdate", dt); }

  static Base::Vec3 Apply(const Base::Mat4& m, Base::Vec3 p) {
    const Base::Vec4 r = m * Base::Vec4(p.x, p.y, p.z, 1.0f);
    return {r.x, r.y, r.z};
  }
  static void ExpectNear(Base::Vec3 got, Base::Vec3 want) {
    EXPECT_NEAR(got.x, want.x, 1e-4f);
    EXPECT_NEAR(got.y, want.y, 1e-4f);
    EXPECT_NEAR(got.z, want.z, 1e-4f);
  }
  static size_t Count(const std::string& text, const char* line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  }

  std::unique_ptr<Core::GameSpace> space_;
};

TEST_F(AnimationControllerTest, SamplesTheKeysOfTheCurrentFrameDownTheChainAndSkinsFromTheBindPose) {
  AnimationController* controller = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk)}));
  ASSERT_EQ(controller->GetBoneCount(), 3u);
  controller->Play("Walk", true, 0.0f);
  Update(kFrame * 1.5f);
  EXPECT_EQ(controller->GetCurrentFrame(), 1);
  const std::vector<Base::Mat4>& pose = controller->GetGlobalPose();
  ExpectNear(Apply(pose[0], {0, 0, 0}), {1, 0, 0});
  ExpectNear(Apply(pose[1], {0, 0, 0}), {2, 0, 0});
  // Bone 2's one unit up is turned by bone 1's quarter turn into one unit back along x.
  ExpectNear(Apply(pose[2], {0, 0, 0}), {1, 0, 0});
  // Skinning: bind space (bone 2 bound at x = 4) to the pose, mirrored in z, handed over transposed.
  const Base::Mat4 skin2 = controller->GetSkinningMatrices()[2].Transposed();
  ExpectNear(Apply(skin2, {4, 0, 1}), {1, 0, -1});
  ExpectNear(Apply(skin2, {4, 1, 0}), {0, 0, 0});
  // The model takes the controller's matrices when it is drawn.
  auto* model = controller->GetOwner()->GetComponent<Graphics::Model>();
  space_->GetHooks().Call("Draw");
  EXPECT_EQ(model->m_bones, controller->GetSkinningMatrices());
  EXPECT_EQ(model->m_boneCount, 3u);

  // 60 updates a second: the frame follows the time at 24 frames a second and the loop wraps at the
  // last key (3/24 s), keeping the overshoot.
  for (int i = 0; i < 3; ++i) Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetCurrentFrame(), 2);  // 0.1125 s
  Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetCurrentFrame(), 0);
  EXPECT_NEAR(controller->GetCurrentTrack().time, kFrame * 1.5f + 4.0f / 60.0f - 3.0f * kFrame, 1e-5f);
  for (int i = 0; i < 2; ++i) Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetCurrentFrame(), 0);
  Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetCurrentFrame(), 1);  // 0.0542 s into the second loop
}

TEST_F(AnimationControllerTest, BlendsPositionsLinearlyAndRotationsAlongTheArcAsTheOldTrackFades) {
  auto rest = [](uint32_t b, uint32_t f) { return b == 0 ? KeyRecord{f * kFrame, {0, 0, 0}, {1, 0, 0, 0}} : Walk(b, f); };
  auto turn = [](uint32_t b, uint32_t f) { return b == 0 ? KeyRecord{f * kFrame, {2, 0, 0}, {kHalf, 0, 0, kHalf}} : Walk(b, f); };
  AnimationController* controller = Animated(SkinnedMesh({Clip("Rest", 3, 4, rest), Clip("Turn", 3, 4, turn)}));
  controller->Play("Rest", true, 0.0f);
  Update(kFrame * 0.5f);
  controller->Play("Turn", true, 1.0f);
  Update(0.25f);
  // Three quarters of the blend remain: a quarter of the way to (2, 0, 0) and to the quarter turn.
  const float angle = 0.25f * 1.5707964f;
  ExpectNear(Apply(controller->GetGlobalPose()[0], {1, 0, 0}), {0.5f + std::cos(angle), std::sin(angle), 0});
}

TEST_F(AnimationControllerTest, OneShotsRestOnTheirLastFrameAndEndedAnimationsBlendIntoIdle) {
  AnimationController* controller = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk), Clip("Idle", 3, 2, Walk)}));
  controller->SetIdleAnimation("Idle");
  controller->PlayOneShot("Walk");
  for (int i = 0; i < 20; ++i) Update(1.0f / 60.0f);
  EXPECT_TRUE(controller->IsPaused());
  EXPECT_EQ(controller->GetCurrentFrame(), 3);

  AnimationController* other = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk), Clip("Idle", 3, 2, Walk)}));
  other->SetIdleAnimation("Idle");
  other->Play("Walk", false, 0.0f);
  Update(4.0f * kFrame);
  EXPECT_EQ(other->GetCurrentFrameCount(), 2u);
  EXPECT_FLOAT_EQ(other->GetPreviousTrack().blendRemaining, 0.2f);
}

TEST_F(AnimationControllerTest, ATimelineThatNeverAdvancesRestsOnFrameZeroInsteadOfWrappingForever) {
  auto still = [](uint32_t b, uint32_t f) { return KeyRecord{0.0f, {float(b), 0, 0}, {1, 0, 0, 0}}; (void)f; };
  AnimationController* controller = Animated(SkinnedMesh({Clip("Still", 3, 3, still)}));
  controller->Play("Still", true, 0.0f);
  Update(0.1f);
  EXPECT_EQ(controller->GetCurrentFrame(), 0);
  EXPECT_EQ(controller->GetCurrentTrack().time, 0.0f);
}

TEST_F(AnimationControllerTest, AnAnimationWithoutFramesPlaysAsAnEmptyTrack) {
  AnimationController* controller = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk), Clip("Empty", 3, 0, Walk)}));
  controller->Play("Empty", true, 0.0f);
  EXPECT_EQ(controller->GetCurrentFrameCount(), 0u);
  EXPECT_EQ(controller->GetCurrentTrack().keys, nullptr);
  controller->SetCurrentFrame(2);
  Update(0.5f);
  EXPECT_EQ(controller->GetCurrentFrame(), 0);
}

TEST_F(AnimationControllerTest, ABoneWhoseParentDoesNotPrecedeItIsPosedAsARoot) {
  AnimationController* controller = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk)}, {0, 7, 1}));
  EXPECT_EQ(Count(log_.Take(), "Bone 1 of mesh"), 1u);
  controller->Play("Walk", true, 0.0f);
  Update(kFrame * 1.5f);
  ExpectNear(Apply(controller->GetGlobalPose()[1], {0, 0, 0}), {1, 0, 0});
  ExpectNear(Apply(controller->GetGlobalPose()[2], {0, 0, 0}), {0, 0, 0});
}

TEST_F(AnimationControllerTest, AMeshWithoutAnimationDataHasNoBonesAndIsReportedOnce) {
  const std::string name = Unique("Box.cong");
  WriteFile("content/meshes/" + name, WriteMeshBytes(MakeBox(1, 1, 1)));
  AnimationController* controller = Animated(name);
  for (int i = 0; i < 5; ++i) Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetBoneCount(), 0u);
  EXPECT_EQ(controller->GetSkinningMatrices(), nullptr);
  controller->Play("Walk", true, 0.0f);
  const std::string text = log_.Take();
  EXPECT_EQ(Count(text, "has no animation data"), 1u) << text;
  EXPECT_EQ(Count(text, "Trying to animate with no valid animation data"), 1u);
}

TEST_F(AnimationControllerTest, StopWithoutAnIdleAnimationEmptiesTheTrackAndRestsOnTheBindPose) {
  AnimationController* controller = Animated(SkinnedMesh({Clip("Walk", 3, 4, Walk)}));
  controller->Play("Walk", true, 0.0f);
  Update(kFrame * 1.5f);
  controller->Stop(0.5f);
  EXPECT_EQ(controller->GetCurrentFrameCount(), 0u);
  Update(0.1f);
  const Base::Mat4 mirror = Base::Mat4::BuildScale(1, 1, -1);
  for (uint32_t b = 0; b < 3; ++b)
    for (int i = 0; i < 16; ++i) EXPECT_EQ(controller->GetSkinningMatrices()[b].m[i], mirror.m[i]);
}

TEST_F(AnimationControllerTest, AMissingModelIsReportedOnceNotEveryUpdate) {
  AnimationController* controller = Animated("");
  for (int i = 0; i < 5; ++i) Update(1.0f / 60.0f);
  EXPECT_EQ(controller->GetBoneCount(), 0u);
  const std::string text = log_.Take();
  EXPECT_EQ(Count(text, "Could not find model for"), 1u) << text;
}

}  // namespace
