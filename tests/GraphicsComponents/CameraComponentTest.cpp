// The camera component on a game object: following its Transform, announcing itself as active,
// turning its object to look at a point, its script-facing lens, and its editor preview.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Base/MathUtil.h"
#include "Base/function/Thunk.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Hooks.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/DebugDraw.h"
#include "tests/Support/LogCapture.h"

namespace {

using Graphics::Camera;

// Stands in for the engine: its hook table, with the camera announcements it received.
struct EngineStandIn {
  void Activated(Base::Handle camera, Core::GameSpace* space) { announcements.push_back({camera, space}); }
  struct Announcement {
    Base::Handle camera;
    Core::GameSpace* space;
  };
  Core::Hooks hooks;
  std::vector<Announcement> announcements;
};

class CameraComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    previousHooks_ = Core::GetEngineHooks();
    Core::SetEngineHooks(&engine_.hooks);
    static const Base::Function activated(Base::MakeSignature<&EngineStandIn::Activated>(),
                                          &Base::Thunk<&EngineStandIn::Activated>, "EngineStandIn::Activated");
    engine_.hooks.AddSystemListener("SetActiveCamera", &engine_, activated);
  }
  void TearDown() override {
    space_.reset();
    Core::SetEngineHooks(previousHooks_);
  }

  // An object with a Transform at `position` and a camera, initialised.
  Camera* Placed(Base::Vec3 position, bool active = false) {
    object_ = space_->CreateObject();
    transform_ = static_cast<Core::Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
    transform_->SetLocalTranslation(position);
    object_->AttachComponent(transform_);
    auto* camera = static_cast<Camera*>(space_->CreateComponent(Core::ComponentType_Camera));
    camera->m_isActive = active;
    object_->AttachComponent(camera);
    object_->Initialize();
    return camera;
  }

  static void ExpectNear(Base::Vec3 got, Base::Vec3 want, float tolerance = 1e-4f) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
  }
  // A world point through the view matrix (row vector on the left).
  static Base::Vec3 ToView(const Base::Mat4& v, Base::Vec3 p) {
    return {p.x * v(0, 0) + p.y * v(1, 0) + p.z * v(2, 0) + v(3, 0), p.x * v(0, 1) + p.y * v(1, 1) + p.z * v(2, 1) + v(3, 1),
            p.x * v(0, 2) + p.y * v(1, 2) + p.z * v(2, 2) + v(3, 2)};
  }

  OrvTest::LogCapture log_;
  EngineStandIn engine_;
  Core::Hooks* previousHooks_ = nullptr;
  std::unique_ptr<Core::GameSpace> space_ = std::make_unique<Core::GameSpace>("Cameras");
  Core::GameObject* object_ = nullptr;
  Core::Transform* transform_ = nullptr;
};

TEST_F(CameraComponent, FollowsItsTransformOnFrameUpdateAndItsMatricesSeeFromThere) {
  Camera* camera = Placed({1, 2, 3});
  ExpectNear(camera->GetPosition(), {1, 2, 3});
  // A quarter turn about y: the camera looks down +x.
  transform_->SetLocalRotation(Base::Quaternion(Base::Vec3(0, Base::DegToRad(90), 0)));
  transform_->SetLocalTranslation({4, 0, 0});
  ExpectNear(camera->GetPosition(), {1, 2, 3});  // not before the frame update
  space_->GetHooks().Call("FrameUpdate", 0.016f);
  ExpectNear(camera->GetPosition(), {4, 0, 0});
  const Base::Vec3 forward = camera->GetForward();
  const Base::Mat3 r = transform_->Rotation().ToMat3();
  ExpectNear(forward, Base::Vec3(r(0, 2), r(1, 2), r(2, 2)));
  const Base::Mat4 view = camera->GetViewMatrix();
  ExpectNear(ToView(view, {4, 0, 0}), {0, 0, 0});
  ExpectNear(ToView(view, Base::Vec3(4, 0, 0) + forward * 5.0f), {0, 0, 5});
  // UpdateCamera copies the pose and rebuilds at once.
  transform_->SetLocalTranslation({0, 0, -10});
  camera->UpdateCamera();
  EXPECT_FALSE(camera->m_dirty);
  ExpectNear(ToView(camera->m_view, {0, 0, -10}), {0, 0, 0});
}

TEST_F(CameraComponent, AnActiveCameraAnnouncesItselfOnceAndSwitchingOffSendsNothing) {
  Camera* active = Placed({0, 0, 0}, true);
  ASSERT_EQ(engine_.announcements.size(), 1u);
  EXPECT_EQ(engine_.announcements[0].camera, active->GetSelf());
  EXPECT_EQ(engine_.announcements[0].space, space_.get());
  Camera* idle = Placed({0, 0, 0}, false);
  EXPECT_EQ(engine_.announcements.size(), 1u);
  idle->SetActive(false);
  EXPECT_EQ(engine_.announcements.size(), 1u);
  idle->SetActive(true);
  ASSERT_EQ(engine_.announcements.size(), 2u);
  EXPECT_EQ(engine_.announcements[1].camera, idle->GetSelf());
  EXPECT_TRUE(idle->m_isActive);
}

TEST_F(CameraComponent, FieldOfViewIsSetInDegreesAndStoredInRadians) {
  Camera* camera = Placed({0, 0, 0});
  camera->SetFOVDeg(90.0f);
  EXPECT_FLOAT_EQ(camera->m_fov, 1.5707964f);
  EXPECT_NEAR(camera->GetFOVDeg(), 90.0f, 1e-4f);
  camera->SetNearPlane(0.5f);
  camera->SetFarPlane(50.0f);
  EXPECT_EQ(camera->GetNearPlane(), 0.5f);
  EXPECT_EQ(camera->GetFarPlane(), 50.0f);
}

TEST_F(CameraComponent, LookAtTurnsTheTransformAndTheCameraFollowsOnTheNextFrame) {
  Camera* camera = Placed({0, 0, 0});
  camera->LookAt({10, 0, 10});
  const Base::Mat3 r = transform_->Rotation().ToMat3();
  const float h = std::sqrt(0.5f);
  ExpectNear(Base::Vec3(r(0, 2), r(1, 2), r(2, 2)), {h, 0, h});
  space_->GetHooks().Call("FrameUpdate", 0.016f);
  ExpectNear(camera->GetForward(), {h, 0, h});
}

TEST_F(CameraComponent, WindowSizesStopArrivingOnceUninitialised) {
  Camera* camera = Placed({0, 0, 0});
  engine_.hooks.Call("GameWindowResize", Base::Vec2(640, 360));
  EXPECT_EQ(camera->m_windowSize.x, 640.0f);
  camera->Uninitialize();
  engine_.hooks.Call("GameWindowResize", Base::Vec2(800, 600));
  EXPECT_EQ(camera->m_windowSize.x, 640.0f);
  object_->RemoveComponent(Core::ComponentType_Camera);
}

TEST_F(CameraComponent, ALostTransformIsSkippedAndReportedOnce) {
  Camera* camera = Placed({1, 1, 1});
  log_.Take();
  object_->RemoveComponent(Core::ComponentType_Transform);
  for (int i = 0; i < 3; ++i) space_->GetHooks().Call("FrameUpdate", 0.016f);
  camera->UpdateCamera();
  camera->LookAt({5, 5, 5});
  ExpectNear(camera->GetPosition(), {1, 1, 1});
  const std::string text = log_.Take();
  size_t lines = 0;
  for (size_t at = text.find("has no live Transform"); at != std::string::npos;
       at = text.find("has no live Transform", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << text;
}

TEST_F(CameraComponent, TheEditorPreviewIsAFifteenUnitFrustumWithAHalfLengthAxis) {
  Camera* camera = Placed({0, 0, 0});
  Graphics::DebugDraw& draw = Graphics::DebugDraw::GetInstance();
  int key = 0;
  auto* canvas = reinterpret_cast<Graphics::Canvas*>(&key);
  Graphics::Canvas* previous = draw.m_canvas;
  draw.m_canvas = canvas;
  object_->GetHooks().Call("SelectedInEditor");
  // The Transform's own gizmo answers the selection first, with its three axes.
  const std::vector<Graphics::DebugDraw::Shape>& all = draw.m_wire[canvas][Graphics::DebugDraw::Line];
  const std::vector<Graphics::DebugDraw::Shape> lines(all.size() >= 9 ? all.end() - 9 : all.begin(), all.end());
  EXPECT_EQ(all.size(), 12u);
  draw.ForgetCanvas(canvas);
  draw.m_canvas = previous;
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0].colour.x, 1.0f);
  EXPECT_EQ(lines[0].colour.y, 0.0f);
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].colour.y, 1.0f);
  // A line's record scales a unit line by its length: the axis is 7.5 long, the first edge reaches a
  // corner 15 units ahead.
  auto length = [](const Graphics::DebugDraw::Shape& s) {
    const Base::Mat4& w = s.world;
    return std::sqrt(w(0, 0) * w(0, 0) + w(0, 1) * w(0, 1) + w(0, 2) * w(0, 2));
  };
  const float h = std::tan(camera->m_fov / 2), a = camera->m_aspect;
  EXPECT_NEAR(length(lines[0]), 7.5f, 1e-3f);
  EXPECT_NEAR(length(lines[1]), 15.0f * std::sqrt(1 + h * h * (a * a + 1)), 1e-3f);
}

}  // namespace
