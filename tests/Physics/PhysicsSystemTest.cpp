// The physics system over real game spaces: worlds per space, the frame step's order and profiler
// sections, and poses written back into Transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <string>

#include "Base/DebugTimer.h"
#include "Base/Quaternion.h"
#include "Base/TraceLog.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Physics/PhysicsSystem.h"
#include "ZarnPhys/PhysicsSpace.h"
#include "tests/Physics/PhysicsWorlds.h"
#include "tests/Support/LogCapture.h"

namespace {

using Physics::PhysicsSystem;

// Listens on a space's hooks; on "PrepareForStep" hands the system the record of its one entity.
struct Probe {
  int updateScale = 0;
  int prepare = 0;
  int deleteRigid = 0;
  int deleteCollider = 0;
  ZarnPhys::EntityTransform record;

  void UpdateScale() { ++updateScale; }
  void Prepare() {
    ++prepare;
    if (record.entity) PhysicsSystem::TransformList().push_back(record);
  }
  void DeleteRigid() { ++deleteRigid; }
  void DeleteCollider() { ++deleteCollider; }

  template <auto Method>
  void Listen(Core::GameSpace& space, const char* hook) {
    space.GetHooks().AddSystemListener(hook, this, Base::Function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, hook));
  }
  void ListenTo(Core::GameSpace& space) {
    Listen<&Probe::UpdateScale>(space, "UpdateScale");
    Listen<&Probe::Prepare>(space, "PrepareForStep");
    Listen<&Probe::DeleteRigid>(space, "DeleteZarnRigid");
    Listen<&Probe::DeleteCollider>(space, "DeleteZarnCollider");
  }
};

class PhysicsSystemTest : public PhysicsTest::Worlds {
 protected:
  void TearDown() override {
    Worlds::TearDown();
    probes_.clear();
  }

  // An object with a Transform and a body of `description` in the space's world, posed at `position`
  // with `orientation` (engine frame).
  Core::Transform* AddBody(Core::GameSpace* space, Probe& probe, const ZarnPhys::RigidBodyDescription& description,
                           Base::Vec3 position, const Base::Mat3& orientation) {
    Core::GameObject* object = space->CreateObject();
    auto* transform = static_cast<Core::Transform*>(space->CreateComponent(Core::ComponentType_Transform));
    object->AttachComponent(transform);
    object->Initialize();
    transform->SetTranslation(position);
    probe.record.userData.object = object;
    probe.record.position = Physics::ToPhysicsFrame(position);
    probe.record.orientation = Physics::ToPhysicsFrame(orientation);
    ZarnPhys::Entity* entity = nullptr;
    PhysicsSystem::FindSpace(space)->CreateRigidBody(&entity, description, probe.record);
    probe.record.entity = entity;
    return transform;
  }

  bool AnySectionOpen() {
    Base::DebugTimer& timers = Base::DebugTimer::GetInstance();
    for (const char* name : {"Physics", "PrepForStep", "GetTransforms", "SetTransforms", "Convert Transforms", "Run Step"})
      if (timers.IsTimerRunning(name) || timers.IsTimerPaused(name)) return true;
    return false;
  }

  // Outlive the spaces: deleting a space in TearDown still calls their listeners.
  Probe& NewProbe() { return probes_.emplace_back(); }
  std::deque<Probe> probes_;
};

TEST_F(PhysicsSystemTest, ASpaceWithoutAWorldIsReportedAndTheOthersStillStep) {
  Core::GameSpace* bare = AddSpace("Bare", false);
  Core::GameSpace* stepped = AddSpace("Stepped", true);
  Probe& bareProbe = NewProbe();
  Probe& steppedProbe = NewProbe();
  bareProbe.ListenTo(*bare);
  steppedProbe.ListenTo(*stepped);

  system_.FrameStep(1.0f / 60.0f, &list_);

  EXPECT_NE(log_.Take().find("Null physics space pointer!"), std::string::npos);
  EXPECT_EQ(bareProbe.updateScale, 1);
  EXPECT_EQ(steppedProbe.updateScale, 1);
  EXPECT_EQ(steppedProbe.prepare, 1);
  EXPECT_FALSE(AnySectionOpen());
  // Looking the bare space up left no entry behind.
  EXPECT_EQ(PhysicsSystem::FindSpace(bare), nullptr);
}

// Several worlds in one frame share the profiler's sections: each space enters them again without a
// section being reported as already running, and all are closed when the frame is done.
TEST_F(PhysicsSystemTest, SeveralWorldsStepInOneFrameWithTheirSectionsClosed) {
  for (const char* name : {"First", "Second", "Third"}) NewProbe().ListenTo(*AddSpace(name, true));
  log_.Take();
  for (int frame = 0; frame < 3; ++frame) system_.FrameStep(1.0f / 60.0f, &list_);
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
  EXPECT_FALSE(AnySectionOpen());
  for (const Probe& probe : probes_) EXPECT_EQ(probe.prepare, 3);
}

TEST_F(PhysicsSystemTest, WorldsLiveFromCreationToDeletionAndADuplicateCreationKeepsTheFirst) {
  Core::GameSpace* space = AddSpace("Level", true);
  ZarnPhys::PhysicsSpace* world = PhysicsSystem::FindSpace(space);
  ASSERT_NE(world, nullptr);
  log_.Take();
  system_.GameSpaceCreated(space);
  EXPECT_EQ(PhysicsSystem::FindSpace(space), world);
  EXPECT_NE(log_.Take().find("already has a physics space"), std::string::npos);

  Probe& probe = NewProbe();
  probe.ListenTo(*space);
  system_.GameSpaceDeleted(space);
  EXPECT_EQ(PhysicsSystem::FindSpace(space), nullptr);
  // A space that never had a world still gets both hooks and both lines.
  Core::GameSpace* bare = AddSpace("Bare", false);
  Probe& bareProbe = NewProbe();
  bareProbe.ListenTo(*bare);
  system_.GameSpaceDeleted(bare);
  for (const Probe* p : {&probe, &bareProbe}) {
    EXPECT_EQ(p->deleteRigid, 1);
    EXPECT_EQ(p->deleteCollider, 1);
  }
  const std::string text = log_.Take();
  EXPECT_NE(text.find("Cleaning up ZARN objects"), std::string::npos);
  EXPECT_NE(text.find("Deleting Physics Space"), std::string::npos);
}

TEST_F(PhysicsSystemTest, InactiveAndPausedSpacesAreLeftWhereTheyAre) {
  Core::GameSpace* idle = AddSpace("Idle", true);
  Core::GameSpace* paused = AddSpace("Paused", true);
  Probe& idleProbe = NewProbe();
  Probe& pausedProbe = NewProbe();
  idleProbe.ListenTo(*idle);
  pausedProbe.ListenTo(*paused);
  spaces_.push_back(std::make_unique<Core::GameSpace>("NeverActivated"));
  Core::GameSpace* inactive = spaces_.back().get();
  system_.GameSpaceCreated(inactive);
  Probe& inactiveProbe = NewProbe();
  inactiveProbe.ListenTo(*inactive);
  list_.push_back(inactive);
  Core::Transform* falling = AddBody(paused, pausedProbe, {}, Base::Vec3(0, 5, 0), Base::Mat3());
  paused->Pause();

  for (int i = 0; i < 3; ++i) system_.FrameStep(1.0f / 60.0f, &list_);

  EXPECT_EQ(pausedProbe.updateScale, 3);
  EXPECT_EQ(pausedProbe.prepare, 0);
  EXPECT_EQ(falling->Translation().y, 5.0f);
  EXPECT_EQ(inactiveProbe.updateScale, 0);
  EXPECT_EQ(idleProbe.prepare, 3);
}

TEST_F(PhysicsSystemTest, AFallingBodyMovesItsTransform) {
  Core::GameSpace* space = AddSpace("Level", true);
  Probe& probe = NewProbe();
  probe.ListenTo(*space);
  Core::Transform* transform = AddBody(space, probe, {}, Base::Vec3(1, 10, -4), Base::Mat3());

  for (int i = 0; i < 10; ++i) system_.FrameStep(1.0f / 60.0f, &list_);

  EXPECT_LT(transform->Translation().y, 10.0f);
  EXPECT_FLOAT_EQ(transform->Translation().x, 1.0f);
  EXPECT_FLOAT_EQ(transform->Translation().z, -4.0f);
  const Base::Quaternion rotation = transform->Rotation();
  EXPECT_NEAR(std::fabs(rotation.w), 1.0f, 1e-5f);
}

TEST_F(PhysicsSystemTest, RotationsComeBackInTheEngineFrame) {
  Core::GameSpace* space = AddSpace("Level", true);
  Probe& probe = NewProbe();
  probe.ListenTo(*space);
  ZarnPhys::RigidBodyDescription still;
  still.isStatic = 1;
  const Base::Quaternion turned(Base::Vec3(0.3f, 0.7f, -0.2f));
  Core::Transform* transform = AddBody(space, probe, still, Base::Vec3(0, 0, 2), turned.ToMat3Transposed());

  system_.FrameStep(1.0f / 60.0f, &list_);

  const Base::Quaternion back = transform->Rotation();
  EXPECT_NEAR(std::fabs(back.Dot(turned)), 1.0f, 1e-4f);
  EXPECT_NEAR(transform->Translation().z, 2.0f, 1e-5f);
}

TEST_F(PhysicsSystemTest, ATraceJustPastOneGivesTheRecordsOwnRotationNotTheOldOne) {
  Core::GameSpace* space = AddSpace("Level", true);
  Probe& probe = NewProbe();
  probe.ListenTo(*space);
  ZarnPhys::RigidBodyDescription still;
  still.isStatic = 1;
  Base::Mat3 nearlyIdentity;
  nearlyIdentity.m[0] = nearlyIdentity.m[4] = nearlyIdentity.m[8] = 1.0000005f;
  Core::Transform* transform = AddBody(space, probe, still, Base::Vec3(), nearlyIdentity);
  transform->SetRotation(Base::Quaternion(Base::Vec3(1.2f, 0, 0)));

  system_.FrameStep(1.0f / 60.0f, &list_);

  const Base::Quaternion back = transform->Rotation();
  EXPECT_FALSE(std::isnan(back.w));
  EXPECT_NEAR(std::fabs(back.w), 1.0f, 1e-4f);
}

TEST(PhysicsGroups, AGroupIsOneBitAndMinusOneIsEvery) {
  EXPECT_EQ(PhysicsSystem::GroupToMask(-1), 0xFFFFFFFFu);
  EXPECT_EQ(PhysicsSystem::GroupToMask(0), 1u);
  EXPECT_EQ(PhysicsSystem::GroupToMask(33), 2u);
}

}  // namespace
