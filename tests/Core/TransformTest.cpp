// Transform maths under moved, rotated and scaled parents, the lazy world matrix, the axis frame,
// alignment, and the Spinner turning a Transform on logic updates.
#include <gtest/gtest.h>

#include <cmath>

#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"

namespace {

using namespace ObjectModelTest;
using Base::Quaternion;
using Base::Vec3;
using Core::GameObject;
using Core::Transform;

void ExpectNear(const Vec3& actual, const Vec3& expected, float tolerance = 1e-4f) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// Same rotation: q and -q both count.
void ExpectSameRotation(const Quaternion& actual, const Quaternion& expected) {
  EXPECT_NEAR(std::fabs(actual.Dot(expected)), 1.0f, 1e-4f);
}

Quaternion AboutAxis(const Vec3& axis, float degrees) {
  Quaternion q;
  q.RotateAroundAxis(axis, Base::DegToRad(degrees));
  return q;
}

class TransformTest : public ObjectModelTestBase {
 protected:
  // An initialised object with a Transform, so that parenting reaches the Transform's listeners.
  Transform* Placed(const char* name, GameObject** object = nullptr) {
    GameObject* created = space_->CreateObject();
    created->Name(name);
    auto* transform = static_cast<Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
    created->AttachComponent(transform);
    created->Initialize();
    if (object) *object = created;
    return transform;
  }

  std::unique_ptr<Core::GameSpace> space_ = NewSpace("Placement");
};

TEST_F(TransformTest, WorldMatrixHoldsScaleAndTranslation) {
  Transform* transform = Placed("Box");
  (void)transform->GetWorldMatrix();  // cached while clean
  transform->SetTranslation({1.0f, 2.0f, 3.0f});
  transform->SetScale({2.0f, 2.0f, 2.0f});
  EXPECT_EQ(transform->LocalTranslation(), Vec3(1.0f, 2.0f, 3.0f));  // no parent: world is local
  const Base::Mat4 expected = Base::Mat4::BuildTranslation(Vec3(1.0f, 2.0f, 3.0f)) * Base::Mat4::BuildScale(2.0f, 2.0f, 2.0f);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(transform->GetWorldMatrix().m[i], expected.m[i]);
}

TEST_F(TransformTest, ChildrenFollowTheirParentsTranslationRotationAndScale) {
  GameObject *parentObject, *childObject, *grandchildObject;
  Transform* parent = Placed("Parent", &parentObject);
  Transform* child = Placed("Child", &childObject);
  Transform* grandchild = Placed("Grandchild", &grandchildObject);
  parent->SetTranslation({5.0f, 0.0f, 0.0f});
  parent->SetScale({2.0f, 2.0f, 2.0f});
  childObject->SetParent(parentObject);
  grandchildObject->SetParent(childObject);
  child->SetLocalTranslation({1.0f, 0.0f, 0.0f});
  child->SetLocalScale({1.0f, 1.0f, 1.0f});
  ExpectNear(child->Translation(), {6.0f, 0.0f, 0.0f});  // the parent's scale does not move the child
  ExpectNear(child->Scale(), {2.0f, 2.0f, 2.0f});

  // A move of the parent reaches the grandchild's cached matrix.
  EXPECT_NEAR(grandchild->GetWorldMatrix().m[3], 6.0f, 1e-5f);  // it went along with the child
  EXPECT_NEAR(grandchild->GetWorldMatrix().m[11], 0.0f, 1e-5f);
  parent->SetTranslation({5.0f, 0.0f, 10.0f});
  EXPECT_NEAR(grandchild->GetWorldMatrix().m[11], 10.0f, 1e-5f);

  // Turning the parent carries the child around it (the parent's scale aside, as its matrix would).
  const Quaternion quarter = AboutAxis({0.0f, 1.0f, 0.0f}, 90.0f);
  parent->SetRotation(quarter);
  const Base::Vec4 carried = quarter.ToMat4(Vec3(5.0f, 0.0f, 10.0f)) * Base::Vec4(1.0f, 0.0f, 0.0f, 1.0f);
  ExpectNear(child->Translation(), carried.ToVec3());
  ExpectSameRotation(child->Rotation(), quarter);
  EXPECT_NEAR(child->GetWorldMatrix().m[3], carried.x, 1e-4f);

  // World setters under the turned parent land exactly where asked.
  child->SetTranslation({-3.0f, 4.0f, 2.0f});
  ExpectNear(child->Translation(), {-3.0f, 4.0f, 2.0f});
  const Quaternion tilt = AboutAxis({1.0f, 0.0f, 0.0f}, 30.0f);
  child->SetRotation(tilt);
  ExpectSameRotation(child->Rotation(), tilt);
  child->SetScale({1.0f, 3.0f, 5.0f});
  ExpectNear(child->Scale(), {1.0f, 3.0f, 5.0f});
}

TEST_F(TransformTest, ParentingAndUnparentingKeepTheWorldPlacement) {
  GameObject *parentObject, *childObject;
  Transform* parent = Placed("Parent", &parentObject);
  Transform* child = Placed("Child", &childObject);
  parent->SetTranslation({2.0f, -1.0f, 4.0f});
  parent->SetRotation(AboutAxis(Vec3(1.0f, 2.0f, 0.5f).Normalized(), 70.0f));
  parent->SetScale({2.0f, 0.5f, 3.0f});
  child->SetTranslation({1.0f, 2.0f, 3.0f});
  child->SetRotation(AboutAxis({0.0f, 0.0f, 1.0f}, 40.0f));
  child->SetScale({1.0f, 2.0f, 1.0f});
  const Vec3 translation = child->Translation();
  const Quaternion rotation = child->Rotation();
  const Vec3 scale = child->Scale();

  childObject->SetParent(parentObject);
  ExpectNear(child->Translation(), translation);
  ExpectSameRotation(child->Rotation(), rotation);
  ExpectNear(child->Scale(), scale);
  EXPECT_NE(child->LocalScale(), scale);

  childObject->SetParent(nullptr);
  ExpectNear(child->LocalTranslation(), translation);
  ExpectSameRotation(child->LocalRotation(), rotation);
  ExpectNear(child->LocalScale(), scale);
}

TEST_F(TransformTest, AFlatParentLeavesThatScaleComponentAlone) {
  GameObject *parentObject, *childObject;
  Transform* parent = Placed("Flat", &parentObject);
  Transform* child = Placed("Child", &childObject);
  parent->SetScale({0.0f, 2.0f, 1.0f});
  childObject->SetParent(parentObject);
  child->SetScale({3.0f, 4.0f, 5.0f});
  EXPECT_EQ(child->LocalScale(), Vec3(1.0f, 2.0f, 5.0f));
}

TEST_F(TransformTest, SettingOneAxisReformsARightHandedFrame) {
  Transform* transform = Placed("Axes");
  transform->SetLocalForward({0.0f, 0.0f, 0.0f});
  EXPECT_EQ(transform->LocalForward(), Vec3(0.0f, 0.0f, 1.0f));
  transform->SetLocalForward({0.0f, 1.0f, 0.0f});
  EXPECT_EQ(transform->LocalUp(), Vec3(0.0f, 0.0f, -1.0f));
  EXPECT_EQ(transform->LocalRight(), Vec3(1.0f, 0.0f, 0.0f));

  const Vec3 directions[] = {{1.0f, 1.0f, 0.0f}, {0.2f, -0.3f, 0.9f}, {0.0f, 0.0f, -4.0f}};
  for (const Vec3& direction : directions) {
    transform->ResetOrientation();
    transform->SetLocalUp(direction);
    ExpectNear(transform->LocalUp(), direction.Normalized());
    ExpectNear(transform->LocalRight(), transform->LocalUp().Cross(transform->LocalForward()).Normalized());
    transform->SetLocalRight(direction);
    ExpectNear(transform->LocalRight(), direction.Normalized());
    EXPECT_NEAR(transform->LocalRight().Dot(transform->LocalUp()), 0.0f, 1e-5f);
  }
}

TEST_F(TransformTest, AlignToVectorPointsUpAlongAnyDirectionAndRefusesNone) {
  Transform* transform = Placed("Needle");
  const Vec3 directions[] = {{0.0f, 0.0f, -2.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, -3.0f, 0.0f}, {0.3f, -5.0f, 0.2f}};
  for (const Vec3& direction : directions) {
    transform->AlignToVector(direction);
    ExpectNear(transform->Up(), direction.Normalized());
  }
  const Quaternion before = transform->LocalRotation();
  log_.Take();
  transform->AlignToVector({0.0f, 0.0f, 0.0f});
  transform->AlignToVector({NAN, 1.0f, 0.0f});
  EXPECT_EQ(transform->LocalRotation().w, before.w);
  EXPECT_EQ(log_.Take(),
            "[Warning][Core] Transform::AlignToVector needs a non-zero finite direction; rotation left unchanged.\n"
            "[Warning][Core] Transform::AlignToVector needs a non-zero finite direction; rotation left unchanged.\n");
}

TEST_F(TransformTest, SpinnersTurnTheirTransformOnLogicUpdates) {
  GameObject* object;
  Transform* transform = Placed("Top", &object);
  auto* spinner = static_cast<Core::Spinner*>(space_->CreateComponent(Core::ComponentType_Spinner));
  spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
  spinner->SetRotationSpeed(90.0f);
  object->AttachComponent(spinner);
  spinner->Initialize();

  space_->GetHooks().Call("LogicUpdate", 0.5f);
  ExpectSameRotation(transform->LocalRotation(), AboutAxis({0.0f, 1.0f, 0.0f}, 45.0f));
  spinner->SetRotationSpeed(-90.0f);
  space_->GetHooks().Call("LogicUpdate", 1.0f);
  ExpectSameRotation(transform->LocalRotation(), AboutAxis({0.0f, 1.0f, 0.0f}, -45.0f));
  spinner->SetRotationSpeed(0.0f);
  space_->GetHooks().Call("LogicUpdate", 1.0f);
  ExpectSameRotation(transform->LocalRotation(), AboutAxis({0.0f, 1.0f, 0.0f}, -45.0f));

  // Without its Transform the spinner updates nothing and does not fail; detached it stops listening.
  spinner->SetRotationSpeed(10.0f);
  object->RemoveComponent(Core::ComponentType_Transform);
  space_->GetHooks().Call("LogicUpdate", 1.0f);
  object->DetachComponent(Core::ComponentType_Spinner);
  EXPECT_EQ(space_->GetHooks().Find("LogicUpdate")->ListenerCount(), 0u);
}

}  // namespace
