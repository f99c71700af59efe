// Collider components on objects of real game spaces stepped by the physics system: the shapes they
// hand the library, their flags, their rebuilds on scale changes, their debug shapes, the camera query,
// and what a refused, unlinked or deleted collider leaves alone.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <string>

#include "Base/Quaternion.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/Model.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Material.h"
#include "Graphics/Mesh.h"
#include "Base/ResourceCollection.h"
#include "Lua/Convert.h"
#include "Lua/Environment.h"
#include "Physics/ColliderKinds.h"
#include "Physics/PhysicsSystem.h"
#include "Physics/RigidBody.h"
#include "ZarnPhys/PhysicsSpace.h"
#include "tests/Physics/PhysicsWorlds.h"
#include "tests/Support/LogCapture.h"

namespace {

using Base::Vec3;
using Physics::PhysicsSystem;

// Debug shapes go to the one queue under this key while a test looks at them.
alignas(8) char g_canvasStorage[1];
Graphics::Canvas* const kCanvas = reinterpret_cast<Graphics::Canvas*>(&g_canvasStorage[0]);

class ColliderTest : public PhysicsTest::Worlds {
 protected:
  void SetUp() override {
    Worlds::SetUp();
    space_ = AddSpace("Level", true);
  }
  void TearDown() override {
    Graphics::DebugDraw& queue = Graphics::DebugDraw::GetInstance();
    queue.ForgetCanvas(kCanvas);
    queue.m_canvas = nullptr;
    Worlds::TearDown();
  }

  // An object with a Transform (unless `withTransform` is false); initialise it with Initialize().
  Core::GameObject* AddObject(Vec3 position, Vec3 scale = {1, 1, 1}, Core::GameSpace* space = nullptr,
                              bool withTransform = true) {
    space = space ? space : space_;
    Core::GameObject* object = space->CreateObject();
    if (withTransform) {
      auto* transform = static_cast<Core::Transform*>(space->CreateComponent(Core::ComponentType_Transform));
      object->AttachComponent(transform);
      transform->SetTranslation(position);
      transform->SetScale(scale);
    }
    return object;
  }
  template <class T>
  T* Single(Vec3 position, Vec3 scale = {1, 1, 1}) {
    Core::GameObject* object = AddObject(position, scale);
    T* collider = Attach<T>(object);
    object->Initialize();
    return collider;
  }
  static const ZarnPhys::ColliderBoxLike* Box(Physics::ColliderBase* c) {
    return static_cast<const ZarnPhys::ColliderBoxLike*>(c->GetLibraryCollider());
  }
  // The placed unit mesh of a queued shape: where its point `p` lands.
  static Vec3 Place(const Graphics::DebugDraw::Shape& shape, Vec3 p) {
    const Base::Vec4 v = shape.world.Transposed() * Base::Vec4(p, 1.0f);
    return {v.x, v.y, v.z};
  }
  static std::vector<Graphics::DebugDraw::Shape>& Wire(int kind) {
    return Graphics::DebugDraw::GetInstance().m_wire[kCanvas][kind];
  }

  Core::GameSpace* space_ = nullptr;
};

void ExpectVec(Vec3 actual, Vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-5f);
  EXPECT_NEAR(actual.y, expected.y, 1e-5f);
  EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

TEST_F(ColliderTest, EachKindHandsTheLibraryItsScaledShape) {
  Core::GameObject* boxObject = AddObject({0, 0, 0}, {1, 0.5f, 2});
  auto* box = Attach<Physics::ColliderCube>(boxObject);
  box->m_dimensions = Vec3(2, 4, 6);
  boxObject->Initialize();
  ExpectVec(Box(box)->GetHalfExtents(), {1, 1, 6});
  box->SetDimensions(Vec3(4, 4, 4));
  ExpectVec(Box(box)->GetHalfExtents(), {2, 1, 4});

  auto* capsule = Single<Physics::ColliderCapsule>({5, 0, 0});
  const auto* libraryCapsule = static_cast<const ZarnPhys::ColliderCapsule*>(capsule->GetLibraryCollider());
  EXPECT_FLOAT_EQ(libraryCapsule->GetRadius(), 1.0f);
  EXPECT_FLOAT_EQ(libraryCapsule->GetHalfHeight(), 0.25f);
  ExpectVec(libraryCapsule->GetBoundingHalfExtents(), {1, 1.25f, 1});
  capsule->SetHalfHeight(3.0f);
  EXPECT_FLOAT_EQ(capsule->m_cylinderHeight, 3.0f);
  EXPECT_FLOAT_EQ(libraryCapsule->GetHalfHeight(), 1.5f);

  auto* sphere = Single<Physics::ColliderSphere>({-5, 0, 0}, {2, 5, 5});
  const auto* librarySphere = static_cast<const ZarnPhys::ColliderSphere*>(sphere->GetLibraryCollider());
  EXPECT_FLOAT_EQ(librarySphere->GetRadius(), 2.0f);
  sphere->SetRadius(1.5f);
  EXPECT_FLOAT_EQ(librarySphere->GetRadius(), 3.0f);

  // Each collider placed its own new entity where its Transform is, z mirrored.
  ExpectVec(capsule->GetEntity()->position, {5, 0, 0});
  EXPECT_NE(capsule->GetEntity(), sphere->GetEntity());
}

TEST_F(ColliderTest, FlagsAndGroupsReachTheLibraryAndGettersReadItBack) {
  auto* sphere = Single<Physics::ColliderSphere>({0, 0, 0});
  ZarnPhys::ColliderBase* library = sphere->GetLibraryCollider();
  EXPECT_EQ(sphere->GetCollisionGroup(), 0);
  EXPECT_EQ(library->GetGroupMask(), 1u);
  sphere->SetCollisionGroup(-1);
  EXPECT_EQ(library->GetGroupMask(), 0xFFFFFFFFu);
  sphere->SetCollisionGroup(33);
  EXPECT_EQ(library->GetGroupMask(), 2u);
  EXPECT_EQ(sphere->GetCollisionGroup(), 33);

  sphere->SetGhost(true);
  EXPECT_TRUE(library->GetGhost());
  library->SetGhost(false);
  EXPECT_FALSE(sphere->GetGhost());
  EXPECT_FALSE(sphere->m_ghost);
  library->SetIgnoreCollisionEvent(true);
  EXPECT_TRUE(sphere->GetIgnoreCollisionEvent());
  sphere->SetIgnoreWhenRaycasting(true);
  EXPECT_TRUE(library->GetIgnoreRaycast());

  // Only the capsule and the box bind RenderShape and SetDDColour.
  auto methods = [](const Base::Reflection::TypeInfo* type) {
    std::string names;
    for (const auto& [function, name] : type->methods) names += name + " ";
    return names;
  };
  using Base::Reflection::TypeOf;
  EXPECT_NE(methods(TypeOf<Physics::ColliderCube>()).find("RenderShape "), std::string::npos);
  EXPECT_NE(methods(TypeOf<Physics::ColliderCapsule>()).find("SetDDColour "), std::string::npos);
  for (const auto* type : {TypeOf<Physics::ColliderSphere>(), TypeOf<Physics::ColliderGround>(),
                           TypeOf<Physics::ColliderSlant>(), TypeOf<Physics::ColliderPolytope>()}) {
    EXPECT_EQ(methods(type).find("RenderShape "), std::string::npos) << type->name;
    EXPECT_NE(methods(type).find("QueryAgainstCamera "), std::string::npos) << type->name;
  }
}

TEST_F(ColliderTest, ScriptsSeeAColliderAsItsOwnKind) {
  auto* box = Single<Physics::ColliderCube>({0, 0, 0});
  // Scripts reach components of the spaces an engine owns.
  Core::AddLiveSpace(space_);
  Lua::Environment env;
  env.Init();
  env.PostInit();
  lua_State* L = env.GetState();
  Lua::PushVariant(L, Base::Reflection::Variant(Base::Reflection::TypeOf<Physics::ColliderBase*>(), box));
  lua_setglobal(L, "collider");
  const char* script =
      "collider:SetCollisionGroup(5) group = collider:GetCollisionGroup() "
      "query = collider:QueryAgainstCamera(nil, nil) collider:RenderShape()";
  ASSERT_EQ(luaL_loadstring(L, script), 0);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), 0) << lua_tostring(L, -1);
  lua_getglobal(L, "group");
  EXPECT_EQ(lua_tonumber(L, -1), 5);
  lua_getglobal(L, "query");
  EXPECT_EQ(lua_tonumber(L, -1), -1);
  lua_pop(L, 2);
  env.Close();
  Core::RemoveLiveSpace(space_);
  EXPECT_EQ(box->GetLibraryCollider()->GetGroupMask(), 32u);
}

TEST_F(ColliderTest, AScaleChangeRebuildsTheShapeOnceAtTheNextStep) {
  auto* box = Single<Physics::ColliderCube>({0, 0, 0});
  auto* library = const_cast<ZarnPhys::ColliderBoxLike*>(Box(box));
  Step();
  box->GetOwnerTransform()->SetScale(Vec3(2, 2, 2));
  ExpectVec(library->GetHalfExtents(), {0.5f, 0.5f, 0.5f});
  Step();
  ExpectVec(library->GetHalfExtents(), {1, 1, 1});
  ExpectVec(library->GetBoundingHalfExtents(), {1, 1, 1});
  // Unchanged scale: the shape is left as it is, even when changed behind the collider's back.
  library->SetHalfExtents(Vec3(7, 7, 7));
  Step(2);
  ExpectVec(library->GetHalfExtents(), {7, 7, 7});
}

TEST_F(ColliderTest, DebugShapesFollowTheTransformAndTheKind) {
  Graphics::DebugDraw::GetInstance().m_canvas = kCanvas;
  Core::GameObject* boxObject = AddObject({1, 2, 3}, {1, 0.5f, 2});
  auto* box = Attach<Physics::ColliderCube>(boxObject);
  box->m_dimensions = Vec3(2, 4, 6);
  boxObject->Initialize();
  boxObject->GetHooks().Call("DrawCollider");
  ASSERT_EQ(Wire(Graphics::DebugDraw::Cube).size(), 1u);
  ExpectVec(Place(Wire(Graphics::DebugDraw::Cube)[0], {0.5f, 0.5f, 0.5f}), {2, 3, 9});

  Single<Physics::ColliderSlant>({0, 0, 0}, {2, 2, 2});
  Single<Physics::ColliderCapsule>({0, 10, 0});
  Wire(Graphics::DebugDraw::Cube).clear();
  space_->GetHooks().Call("RenderShape");
  EXPECT_EQ(Wire(Graphics::DebugDraw::Cube).size(), 1u);
  // The slant's nine segments, the first along its floor's +z edge.
  ASSERT_EQ(Wire(Graphics::DebugDraw::Line).size(), 9u);
  const Graphics::DebugDraw::Shape& first = Wire(Graphics::DebugDraw::Line)[0];
  ExpectVec(Place(first, {0, 0, 0}), {-1, -1, 1});
  ExpectVec(Place(first, {1, 0, 0}), {1, -1, 1});
  // The capsule's cylinder and its two end spheres at +-h.
  EXPECT_EQ(Wire(Graphics::DebugDraw::Cylinder).size(), 1u);
  ASSERT_EQ(Wire(Graphics::DebugDraw::Sphere).size(), 2u);
  ExpectVec(Place(Wire(Graphics::DebugDraw::Sphere)[0], {0, 0, 0}), {0, 10.25f, 0});
  ExpectVec(Place(Wire(Graphics::DebugDraw::Sphere)[1], {0, 0, 0}), {0, 9.75f, 0});
}

// With debug drawing on, the step also queues the library's tree boxes and contacts, where they are in
// the engine's frame; off, nothing is queued.
TEST_F(ColliderTest, DebugDrawingShowsTreeBoxesAndContactsWhereTheyAre) {
  Graphics::DebugDraw::GetInstance().m_canvas = kCanvas;
  system_.m_canvasBound = true;
  Core::GameObject* ground = AddObject({0, 0, 5});
  Attach<Physics::ColliderGround>(ground)->m_dimensions = Vec3(20, 1, 20);
  ground->Initialize();
  Core::GameObject* crate = AddObject({0, 0.95f, 5});
  Attach<Physics::RigidBody>(crate);
  Attach<Physics::ColliderCube>(crate);
  crate->Initialize();
  Step(2);
  EXPECT_TRUE(Wire(Graphics::DebugDraw::Cube).empty());
  EXPECT_TRUE(Wire(Graphics::DebugDraw::Line).empty());

  system_.SwitchDebugDraw(true);
  Step();
  int treeBoxes = 0, points = 0;
  for (const Graphics::DebugDraw::Shape& shape : Wire(Graphics::DebugDraw::Cube)) {
    const Vec3 centre = Place(shape, {0, 0, 0});
    if (std::abs(shape.colour.z - 0.9f) < 1e-5f && std::abs(shape.colour.x - 0.2f) < 1e-5f) {
      ++treeBoxes;
      EXPECT_NEAR(centre.z, 5.0f, 0.5f) << "tree boxes in the engine's frame";
    } else if (shape.colour.x == 1.0f && shape.colour.y == 1.0f) {
      ++points;
      EXPECT_NEAR(centre.z, 5.0f, 0.6f) << "contacts in the engine's frame";
      EXPECT_NEAR(centre.y, 0.5f, 0.2f);
    }
  }
  EXPECT_EQ(treeBoxes, 3) << "the root and two leaves";
  EXPECT_GE(points, 1);
  EXPECT_FALSE(Wire(Graphics::DebugDraw::Line).empty());

  system_.SwitchDebugDraw(false);
  Wire(Graphics::DebugDraw::Cube).clear();
  Wire(Graphics::DebugDraw::Line).clear();
  Step();
  EXPECT_TRUE(Wire(Graphics::DebugDraw::Cube).empty());
  EXPECT_TRUE(Wire(Graphics::DebugDraw::Line).empty());
}

TEST_F(ColliderTest, QueryAgainstCameraTellsInsideOutsideAndCut) {
  Core::GameObject* eye = AddObject({0, 0, 0});
  auto* camera = Attach<Graphics::Camera>(eye);
  eye->Initialize();
  auto* inside = Single<Physics::ColliderSphere>({0, 0, 10});
  auto* behind = Single<Physics::ColliderSphere>({0, 0, -10});
  auto* onNear = Single<Physics::ColliderSphere>({0, 0, 1});
  EXPECT_EQ(inside->QueryAgainstCamera(space_, camera), 2);
  EXPECT_EQ(behind->QueryAgainstCamera(space_, camera), 0);
  EXPECT_EQ(onNear->QueryAgainstCamera(space_, camera), 1);
  EXPECT_EQ(inside->QueryAgainstCamera(space_, nullptr), -1);
  EXPECT_NE(log_.Take().find("QueryAgainstCamera needs a camera"), std::string::npos);
}

TEST_F(ColliderTest, ASpaceWithoutAWorldOrAnObjectWithoutATransformLeavesTheColliderUnlinked) {
  Core::GameSpace* bare = AddSpace("Bare", false);
  Core::GameObject* object = AddObject({0, 0, 0}, {1, 1, 1}, bare);
  auto* sphere = Attach<Physics::ColliderSphere>(object);
  object->Initialize();
  EXPECT_EQ(sphere->GetEntity(), nullptr);
  sphere->SetRadius(3.0f);
  sphere->SetGhost(true);
  EXPECT_TRUE(sphere->GetGhost());
  Core::GameObject* loose = AddObject({0, 0, 0}, {1, 1, 1}, nullptr, false);
  auto* box = Attach<Physics::ColliderCube>(loose);
  loose->Initialize();
  EXPECT_EQ(box->GetEntity(), nullptr);
  Step(3);
  box->UpdateScale();
  box->RenderShape();
  const std::string text = log_.Take();
  EXPECT_NE(text.find("has no physics world"), std::string::npos);
  EXPECT_EQ(text.find("has no live Transform"), text.rfind("has no live Transform"));
  EXPECT_NE(text.find("has no live Transform"), std::string::npos);
}

TEST_F(ColliderTest, AColliderWithoutOwnerOrLibraryColliderSkipsItsWorkAndSaysSoOnce) {
  Core::GameObject* eye = AddObject({0, 0, 0});
  auto* camera = Attach<Graphics::Camera>(eye);
  eye->Initialize();
  auto* stray = static_cast<Physics::ColliderPolytope*>(space_->CreateComponent(Core::ComponentType_ColliderPolytope));
  for (int i = 0; i < 2; ++i) {
    stray->Initialize();
    stray->UpdateScale();
    stray->PrepareForStep();
    stray->RenderShape();
    EXPECT_EQ(stray->BuildDescription().kind, ZarnPhys::ColliderKind_None);
    EXPECT_EQ(stray->QueryAgainstCamera(space_, camera), -1);
    stray->Uninitialize();
  }
  EXPECT_TRUE(PhysicsSystem::TransformList().empty());
  const std::string text = log_.Take();
  EXPECT_NE(text.find("has no live owner"), std::string::npos);
  EXPECT_EQ(text.find("has no live owner"), text.rfind("has no live owner"));
}

TEST_F(ColliderTest, DeletingTheSpaceRemovesTheColliderFirstAndUninitializeLeavesTheWorldAlone) {
  Core::GameObject* object = AddObject({0, 0, 0});
  auto* box = Attach<Physics::ColliderCube>(object);
  object->Initialize();
  ZarnPhys::Entity* entity = box->GetEntity();
  ASSERT_NE(entity, nullptr);
  space_->GetHooks().Call("DeleteZarnCollider");
  EXPECT_EQ(entity->collider, nullptr);
  EXPECT_EQ(box->GetEntity(), nullptr);
  box->SetDimensions(Vec3(3, 3, 3));
  EXPECT_EQ(box->m_dimensions, Vec3(3, 3, 3));
  system_.GameSpaceDeleted(space_);
  object->RemoveComponent(Core::ComponentType_ColliderCube);
  EXPECT_EQ(log_.Take().find("RemoveCollider"), std::string::npos);
}

TEST_F(ColliderTest, ARefusedSecondColliderHoldsNothingOfTheFirstOnesEntity) {
  Core::GameObject* object = AddObject({0, 3, 0});
  auto* body = Attach<Physics::RigidBody>(object);
  auto* box = Attach<Physics::ColliderCube>(object);
  auto* sphere = Attach<Physics::ColliderSphere>(object);
  object->Initialize();
  ASSERT_NE(box->GetEntity(), nullptr);
  EXPECT_EQ(box->GetEntity(), body->GetEntity());
  EXPECT_EQ(sphere->GetEntity(), nullptr);
  EXPECT_NE(log_.Take().find("Adding Duplicate Collider"), std::string::npos);
  sphere->SetRadius(9.0f);
  sphere->SetCollisionGroup(4);
  EXPECT_EQ(box->GetLibraryCollider()->GetKind(), ZarnPhys::ColliderKind_Cube);
  EXPECT_EQ(box->GetLibraryCollider()->GetGroupMask(), 1u);
  object->RemoveComponent(Core::ComponentType_ColliderSphere);
  EXPECT_EQ(box->GetLibraryCollider()->GetKind(), ZarnPhys::ColliderKind_Cube);
  EXPECT_TRUE(body->HasCollider());
  EXPECT_EQ(body->m_colliderKind, uint32_t(Core::ComponentType_ColliderCube));
}

TEST_F(ColliderTest, AFallingBoxLandsOnTheGround) {
  Core::GameObject* ground = AddObject({0, 0, 0});
  Attach<Physics::ColliderGround>(ground)->m_dimensions = Vec3(20, 1, 20);
  ground->Initialize();
  Core::GameObject* crate = AddObject({0, 3, 0});
  Attach<Physics::RigidBody>(crate);
  Attach<Physics::ColliderCube>(crate);
  crate->Initialize();
  Step(180);
  const Vec3 at = crate->GetComponent<Core::Transform>()->Translation();
  EXPECT_NEAR(at.y, 1.0f, 0.1f);
  EXPECT_NEAR(at.x, 0.0f, 0.05f);
}

// The hull comes from the model's mesh as the content tool wrote it.
class PolytopeTest : public ColliderTest {};

TEST_F(PolytopeTest, TheHullIsTheMeshMirroredAndIgnoresScale) {
  Core::GameObject* object = AddObject({0, 0, 0});
  Attach<Graphics::Model>(object)->m_meshName = "Pyramid.cong";
  auto* polytope = Attach<Physics::ColliderPolytope>(object);
  object->Initialize();
  const auto* library = static_cast<const ZarnPhys::ColliderPolytope*>(polytope->GetLibraryCollider());
  ASSERT_NE(library, nullptr);
  ASSERT_FALSE(polytope->m_points.empty());
  ASSERT_EQ(library->GetVertices().size(), polytope->m_points.size());
  for (size_t i = 0; i < polytope->m_points.size(); ++i) {
    const Vec3 p = polytope->m_points[i];
    ExpectVec(library->GetVertices()[i], {p.x, p.y, -p.z});
  }
  ExpectVec(library->GetHalfExtents(), {0.5f, 0.5f, 0.5f});
  object->GetComponent<Core::Transform>()->SetScale(Vec3(3, 3, 3));
  Step();
  ExpectVec(library->GetHalfExtents(), {0.5f, 0.5f, 0.5f});
  ExpectVec(library->GetVertices()[0], {polytope->m_points[0].x, polytope->m_points[0].y, -polytope->m_points[0].z});
}

// A collider off the object's centre: the world places the shape at the offset, and the object's
// Transform gets the shape's pose back without it, so nothing drifts frame after frame.
TEST_F(PolytopeTest, AnOffsetColliderLeavesItsObjectWhereItIs) {
  Core::GameObject* pyramid = AddObject({4, 2, 1});
  Attach<Graphics::Model>(pyramid)->m_meshName = "Pyramid.cong";
  Attach<Physics::ColliderPolytope>(pyramid)->m_offset = Vec3(0, 0, 3);
  pyramid->Initialize();
  Core::GameObject* crate = AddObject({-4, 2, 1}, {2, 2, 2});
  Attach<Physics::ColliderCube>(crate)->m_offset = Vec3(1, 0.5f, 0);
  crate->Initialize();
  Base::Quaternion turn;
  turn.RotateAroundAxis({0, 1, 0}, 1.0f);
  crate->GetComponent<Core::Transform>()->SetRotation(turn);
  Step(30);
  ExpectVec(pyramid->GetComponent<Core::Transform>()->Translation(), {4, 2, 1});
  ExpectVec(crate->GetComponent<Core::Transform>()->Translation(), {-4, 2, 1});
  // The shape itself sits at the offset, scaled and turned with the object: (1, 0.5, 0) scaled by 2 is
  // (2, 1, 0); the engine's matrix of a turn by 1 radian about y takes (1, 0, 0) to (cos 1, 0, sin 1),
  // so the shape is (2 cos 1, 1, 2 sin 1) = (1.0806046, 1, 1.6829420) from the object's origin, at
  // (-2.9193954, 3, 2.6829420), whose z the library's frame mirrors.
  const ZarnPhys::Entity* entity = Box(static_cast<Physics::ColliderBase*>(
                                           crate->GetComponent(Core::ComponentType_ColliderCube)))->GetEntity();
  ExpectVec(entity->position, {-2.9193954f, 3.0f, -2.6829420f});
  // Unturned and unscaled, the pyramid's shape is 3 further along z: (4, 2, 4), mirrored.
  const ZarnPhys::Entity* hull =
      static_cast<Physics::ColliderBase*>(pyramid->GetComponent(Core::ComponentType_ColliderPolytope))->GetEntity();
  ASSERT_NE(hull, nullptr);
  ExpectVec(hull->position, {4.0f, 2.0f, -4.0f});
}

TEST_F(PolytopeTest, WithoutAModelNothingIsAdded) {
  auto* polytope = Single<Physics::ColliderPolytope>({0, 0, 0});
  EXPECT_EQ(polytope->GetEntity(), nullptr);
  EXPECT_EQ(PhysicsSystem::FindSpace(space_)->GetColliderCount(), 0u);
  const std::string text = log_.Take();
  EXPECT_NE(text.find("has no Model"), std::string::npos);
  EXPECT_NE(text.find("has no shape to add"), std::string::npos);
  EXPECT_EQ(text.find("Unknown collider kind"), std::string::npos);
}

}  // namespace
