// Transform maths under moved, rotated and scaled parents, world setters on children read from files,
// cached world values against every kind of change to the chain, the lazy world matrix, the axis
// frame, alignment, and the Spinner turning a Transform on logic updates.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Base/Serialization/File.h"
#include "Base/function/Thunk.h"
#include "Core/Factory.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"
#include "tests/Support/TextFiles.h"

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

// World values as the chain defines them, walked afresh from the root each time: what the cached values
// must equal after any change.
struct Placement {
  Quaternion rotation;
  Vec3 translation;
  Vec3 scale;
};
Placement Walked(const Transform& transform) {
  const Transform* parent = transform.GetParentTransform();
  if (!parent) return {transform.LocalRotation(), transform.LocalTranslation(), transform.LocalScale()};
  const Placement above = Walked(*parent);
  const Quaternion relative = above.rotation * transform.m_parentRotation;
  Quaternion rotation = transform.LocalRotation() * relative;
  return {rotation.Normalize(), above.translation + relative.ToMat3() * transform.LocalTranslation(),
          transform.LocalScale() * above.scale};
}

void ExpectWorldAsWalked(const Transform& transform) {
  const Placement walked = Walked(transform);
  ExpectNear(transform.Translation(), walked.translation);
  ExpectSameRotation(transform.Rotation(), walked.rotation);
  ExpectNear(transform.Scale(), walked.scale);
  const Base::Mat4 matrix = transform.GetWorldMatrix();
  ExpectNear({matrix.m[3], matrix.m[7], matrix.m[11]}, walked.translation);
}

// Counts the calls of one hook it listens on.
struct HookCounter {
  int heard = 0;
  void Ping() { ++heard; }
};

// Holds the one space a test reads from a file, as the engine would.
struct OneSpaceHost : Core::SpaceHost {
  Core::GameSpace* GetGameSpace(const char*) override { return space.get(); }
  Core::GameSpace* NewGameSpace(const char* name) override {
    space = NewSpace(name);
    return space.get();
  }
  std::unique_ptr<Core::GameSpace> space;
};

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
  // Placed objects, each the child of the one before.
  template <size_t N>
  void Chain(const char* const (&names)[N], GameObject* (&objects)[N], Transform* (&transforms)[N]) {
    for (size_t i = 0; i < N; ++i) {
      transforms[i] = Placed(names[i], &objects[i]);
      if (i > 0) objects[i]->SetParent(objects[i - 1]);
    }
  }

  // The fixture's space through the engine's space writer, read back through the factory.
  Core::GameSpace* Reloaded() {
    const std::string path = OrvTest::TempPath("placement.space");
    {
      Base::File file;
      file.Open(path, Base::File::Mode_Write);
      Core::SpaceLoadContext context;
      space_->WriteText(file, context);
    }
    host_.space.reset();
    return Core::Factory::GetInstance().LoadSpace(path.c_str(), host_);
  }

  std::unique_ptr<Core::GameSpace> space_ = NewSpace("Placement");
  OneSpaceHost host_;
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
  GameObject* objects[3];
  Transform* transforms[3];
  Chain({"Parent", "Child", "Grandchild"}, objects, transforms);
  Transform *parent = transforms[0], *child = transforms[1], *grandchild = transforms[2];
  parent->SetTranslation({5.0f, 0.0f, 0.0f});
  parent->SetScale({2.0f, 2.0f, 2.0f});
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

TEST_F(TransformTest, WorldSettersLandExactlyOnChildrenReadFromAFile) {
  GameObject* objects[3];
  Transform* transforms[3];
  Chain({"Parent", "Child", "Grandchild"}, objects, transforms);
  Transform *parent = transforms[0], *child = transforms[1], *grandchild = transforms[2];
  parent->SetTranslation({2.0f, 1.0f, 0.0f});
  child->SetLocalTranslation({1.0f, 0.0f, 3.0f});
  child->SetLocalScale({1.0f, 2.0f, 1.0f});
  grandchild->SetLocalTranslation({0.0f, 2.0f, 1.0f});
  grandchild->SetLocalRotation(AboutAxis({1.0f, 0.0f, 0.0f}, 20.0f));
  // Turned after its children were linked: their stored parent rotations no longer undo the turn, and
  // the file keeps them as they are.
  parent->SetLocalRotation(AboutAxis({0.0f, 1.0f, 0.0f}, 90.0f));
  const Vec3 saved = grandchild->Translation();

  Core::GameSpace* space = Reloaded();
  ASSERT_NE(space, nullptr);
  for (const char* name : {"Child", "Grandchild"}) {
    SCOPED_TRACE(name);
    Transform* loaded = space->FindGameObject(name)->GetComponent<Transform>();
    ASSERT_NE(loaded->GetParentTransform(), nullptr);
    const Quaternion rotation = loaded->Rotation();
    const Vec3 scale = loaded->Scale();

    loaded->SetTranslation({6.0f, 5.0f, -4.0f});
    ExpectNear(loaded->Translation(), {6.0f, 5.0f, -4.0f});
    ExpectSameRotation(loaded->Rotation(), rotation);  // re-basing first moves nothing
    ExpectNear(loaded->Scale(), scale);

    const Quaternion tilt = AboutAxis(Vec3(1.0f, 1.0f, 0.0f).Normalized(), 35.0f);
    loaded->SetRotation(tilt);
    ExpectSameRotation(loaded->Rotation(), tilt);
    ExpectNear(loaded->Translation(), {6.0f, 5.0f, -4.0f});
    ExpectWorldAsWalked(*loaded);
  }
  // Setting the child carried the grandchild along before it was set itself.
  EXPECT_GT((saved - Vec3(6.0f, 5.0f, -4.0f)).LengthSquared(), 1.0f);
}

TEST_F(TransformTest, NonFiniteValuesAreRefusedWithAWarning) {
  GameObject *parentObject, *childObject;
  Transform* parent = Placed("Parent", &parentObject);
  Transform* child = Placed("Child", &childObject);
  parent->SetRotation(AboutAxis({0.0f, 1.0f, 0.0f}, 90.0f));
  childObject->SetParent(parentObject);
  child->SetTranslation({1.0f, 2.0f, 3.0f});
  const Placement before = Walked(*child);

  log_.Take();
  child->SetTranslation({NAN, 0.0f, 0.0f});
  child->SetRotation({1.0f, INFINITY, 0.0f, 0.0f});
  child->SetScale({0.0f, -INFINITY, 1.0f});
  child->SetLocalTranslation({0.0f, 0.0f, NAN});
  child->SetLocalForward({NAN, 1.0f, 0.0f});
  ExpectNear(child->Translation(), before.translation);
  ExpectSameRotation(child->Rotation(), before.rotation);
  ExpectNear(child->Scale(), before.scale);
  EXPECT_EQ(child->LocalForward(), Vec3(0.0f, 0.0f, 1.0f));
  EXPECT_EQ(log_.Take(),
            "[Warning][Core] Transform::SetTranslation needs finite values; left unchanged.\n"
            "[Warning][Core] Transform::SetRotation needs finite values; left unchanged.\n"
            "[Warning][Core] Transform::SetScale needs finite values; left unchanged.\n"
            "[Warning][Core] Transform::SetLocalTranslation needs finite values; left unchanged.\n"
            "[Warning][Core] Transform::SetLocalForward needs finite values; left unchanged.\n");
}

TEST_F(TransformTest, CachedWorldValuesFollowEveryChangeOfTheChain) {
  GameObject* objects[6];
  Transform* chain[6];
  Chain({"Link 0", "Link 1", "Link 2", "Link 3", "Link 4", "Link 5"}, objects, chain);
  for (int i = 0; i < 6; ++i) {
    chain[i]->SetLocalTranslation({1.0f, float(i), 0.5f});
    chain[i]->SetLocalRotation(AboutAxis(Vec3(0.3f, 1.0f, float(i)).Normalized(), 15.0f * float(i + 1)));
    chain[i]->SetLocalScale({1.0f, 1.0f + 0.25f * float(i), 1.0f});
  }
  auto expectAll = [&](const char* step) {
    SCOPED_TRACE(step);
    for (Transform* transform : chain)
      if (transform) ExpectWorldAsWalked(*transform);
  };
  expectAll("built");

  chain[0]->SetLocalRotation(AboutAxis({0.0f, 0.0f, 1.0f}, 50.0f));
  expectAll("root turned");
  chain[2]->SetLocalScale({2.0f, 0.5f, 1.0f});
  chain[0]->SetTranslation({-3.0f, 0.0f, 2.0f});  // a second change before anything was read
  expectAll("middle scaled, root moved");
  chain[3]->MarkWorldMatrixDirty();
  expectAll("marked by hand");

  objects[3]->SetParent(nullptr);
  expectAll("unparented in the middle");
  objects[3]->SetParent(objects[1]);
  expectAll("parented elsewhere");

  // Objects not initialised hear no hooks, yet their world values follow their new parent.
  GameObject* quietParent = space_->CreateObject();
  GameObject* quietChild = space_->CreateObject();
  auto* quietTop = static_cast<Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
  auto* quietBottom = static_cast<Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
  quietParent->AttachComponent(quietTop);
  quietChild->AttachComponent(quietBottom);
  quietTop->SetLocalTranslation({0.0f, 7.0f, 0.0f});
  quietBottom->SetLocalTranslation({1.0f, 0.0f, 0.0f});
  ExpectNear(quietBottom->Translation(), {1.0f, 0.0f, 0.0f});
  quietChild->SetParent(quietParent);
  ExpectNear(quietBottom->Translation(), {1.0f, 7.0f, 0.0f});
  quietTop->SetLocalTranslation({0.0f, 9.0f, 0.0f});
  ExpectNear(quietBottom->Translation(), {1.0f, 9.0f, 0.0f});

  objects[4]->RemoveComponent(Core::ComponentType_Transform);  // the link below loses its parent Transform
  chain[4] = nullptr;
  expectAll("a Transform removed in the middle");
  space_->DestroyObject(objects[1]);  // its children stay, orphaned
  chain[1] = nullptr;
  expectAll("an object destroyed in the middle");
}

TEST_F(TransformTest, AChangeReachesEachDescendantOnceUntilItIsReadAgain) {
  GameObject* objects[3];
  Transform* transforms[3];
  Chain({"Top", "Middle", "Bottom"}, objects, transforms);
  Transform *root = transforms[0], *leaf = transforms[2];
  GameObject* bottom = objects[2];
  HookCounter counter;
  bottom->GetHooks().AddSystemListener(
      "DirtyWorldMatrix", &counter,
      Base::Function(Base::MakeSignature<&HookCounter::Ping>(), &Base::Thunk<&HookCounter::Ping>, "HookCounter::Ping"));
  (void)leaf->GetWorldMatrix();

  root->SetLocalTranslation({1.0f, 0.0f, 0.0f});
  root->SetLocalTranslation({2.0f, 0.0f, 0.0f});
  root->SetLocalRotation(AboutAxis({0.0f, 1.0f, 0.0f}, 10.0f));
  EXPECT_EQ(counter.heard, 1);  // dirty already: nothing below is walked again
  ExpectNear(leaf->Translation(), {2.0f, 0.0f, 0.0f});
  root->SetLocalTranslation({3.0f, 0.0f, 0.0f});
  EXPECT_EQ(counter.heard, 2);
  ExpectNear(leaf->Translation(), {3.0f, 0.0f, 0.0f});
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
