// The collider kinds: each one's description of its shape, its debug drawing, its shape setters and
// its registration (component creator, reflected members, bound methods with their help texts).
#include "Physics/ColliderKinds.h"

#include <cmath>
#include <cstring>

#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Graphics/Components/Model.h"
#include "Graphics/DebugDraw.h"
#include "Base/ResourceCollection.h"
#include "ZarnPhys/Collider.h"

namespace Physics {

namespace {

using Base::Mat3;
using Base::Mat4;
using Base::Vec3;

Graphics::DebugDraw& Queue() { return Graphics::DebugDraw::GetInstance(); }

// A length the library can build a shape from and take its volume and inertia of: NaN fails both
// comparisons.
bool Positive(float length) { return length > 0.0f && std::isfinite(length); }
ValueFit SizeFit(float length) { return FitOf(Positive(length), {length}); }
ValueFit SizeFit(const Vec3& edges) {
  return FitOf(Positive(edges.x) && Positive(edges.y) && Positive(edges.z), {edges.x, edges.y, edges.z});
}
ValueFit HeightFit(float length) { return FitOf(length >= 0.0f && std::isfinite(length), {length}); }

// A face record opens with its three corners.
void FaceCorners(const Graphics::MeshFace& face, Vec3 corners[3]) {
  static_assert(sizeof(Graphics::MeshFace) >= 3 * sizeof(Vec3));
  std::memcpy(corners, face.bytes, 3 * sizeof(Vec3));
}

Vec3 Transformed(const Mat4& world, const Vec3& point) {
  const Base::Vec4 p = world * Base::Vec4(point, 1.0f);
  return {p.x, p.y, p.z};
}

}  // namespace

// --- Capsule -----------------------------------------------------------------------------------------

ZarnPhys::ColliderDescription ColliderCapsule::BuildDescription() {
  ZarnPhys::ColliderDescription description = FillCommonDescription();
  const float r = ScaledRadius(), h = ScaledHalfHeight();
  description.kind = ZarnPhys::ColliderKind_Capsule;
  description.shape[0] = r;
  description.shape[1] = h;
  description.boundingHalfExtents = Vec3(r, h + r, r);
  return description;
}

void ColliderCapsule::WriteDimensions() {
  ZarnPhys::ColliderBase* collider = GetLibraryCollider();
  if (!collider || collider->GetKind() != ZarnPhys::ColliderKind_Capsule) return;
  auto* capsule = static_cast<ZarnPhys::ColliderCapsule*>(collider);
  capsule->SetRadius(ScaledRadius());
  capsule->SetHalfHeight(ScaledHalfHeight());
  UpdateBodyMass();
}

void ColliderCapsule::KeepValidShape() {
  if (!KeepSize(SizeFit(m_radius), "m_radius")) m_radius = 1.0f;
  if (!KeepSize(HeightFit(m_cylinderHeight), "m_cylinderHeight")) m_cylinderHeight = 0.5f;
}

void ColliderCapsule::SetRadius(float radius) {
  if (!AcceptSize(SizeFit(radius), "SetRadius")) return;
  m_radius = radius;
  WriteDimensions();
}

void ColliderCapsule::SetHalfHeight(float height) {
  if (!AcceptSize(HeightFit(height), "SetHalfHeight")) return;
  m_cylinderHeight = height;
  WriteDimensions();
}

void ColliderCapsule::RenderShape() {
  Vec3 centre;
  Mat3 rotation;
  if (!DebugPose(centre, rotation)) return;
  const float r = ScaledRadius(), h = ScaledHalfHeight();
  Queue().DrawCylinder(centre, r, 2.0f * h, Mat4(rotation), m_debugDrawColour, m_drawAsSolid);
  const Vec3 up = rotation * Vec3(0.0f, h, 0.0f);
  Queue().DrawSphere(centre + up, r, Mat4(), m_debugDrawColour, m_drawAsSolid);
  Queue().DrawSphere(centre - up, r, Mat4(), m_debugDrawColour, m_drawAsSolid);
}

// --- Box, ground, slant --------------------------------------------------------------------------------

ZarnPhys::ColliderDescription BoxShapedCollider::DescribeBox(ZarnPhys::ColliderKind kind) const {
  ZarnPhys::ColliderDescription description = FillCommonDescription();
  const Vec3 e = ScaledHalfExtents();
  description.kind = kind;
  description.shape[0] = e.x;
  description.shape[1] = e.y;
  description.shape[2] = e.z;
  description.boundingHalfExtents = e;
  return description;
}

void BoxShapedCollider::KeepValidShape() {
  if (!KeepSize(SizeFit(m_dimensions), "m_dimensions")) m_dimensions = Vec3(1.0f, 1.0f, 1.0f);
}

void BoxShapedCollider::SetDimensions(Vec3 dimensions) {
  if (!AcceptSize(SizeFit(dimensions), "SetDimensions")) return;
  m_dimensions = dimensions;
  ZarnPhys::ColliderBase* collider = GetLibraryCollider();
  if (!collider) return;
  const ZarnPhys::ColliderKind kind = collider->GetKind();
  if (kind != ZarnPhys::ColliderKind_Cube && kind != ZarnPhys::ColliderKind_Ground &&
      kind != ZarnPhys::ColliderKind_Slant)
    return;
  static_cast<ZarnPhys::ColliderBoxLike*>(collider)->SetHalfExtents(ScaledHalfExtents());
  UpdateBodyMass();
}

void BoxShapedCollider::RenderShape() {
  Vec3 centre;
  Mat3 rotation;
  if (!DebugPose(centre, rotation)) return;
  const Vec3 size(m_dimensions.x * m_cachedScale.x, m_dimensions.y * m_cachedScale.y, m_dimensions.z * m_cachedScale.z);
  Queue().DrawCube(centre, size, Mat4(rotation), m_debugDrawColour, m_drawAsSolid);
}

void ColliderSlant::RenderShape() {
  Vec3 centre;
  Mat3 rotation;
  if (!DebugPose(centre, rotation)) return;
  const Vec3 h = ScaledHalfExtents();
  const auto corner = [&](float a, float b, float c) { return centre + rotation * Vec3(a * h.x, b * h.y, c * h.z); };
  // The full-height face at +z, the floor, and the slope down to the floor's -z edge; no top face.
  static constexpr float kSegments[9][6] = {
      {-1, -1, 1, 1, -1, 1},  {-1, 1, 1, 1, 1, 1},   {-1, 1, 1, -1, -1, 1},
      {1, 1, 1, 1, -1, 1},    {1, 1, 1, 1, -1, -1},  {-1, 1, 1, -1, -1, -1},
      {-1, -1, 1, -1, -1, -1}, {1, -1, 1, 1, -1, -1}, {-1, -1, -1, 1, -1, -1}};
  for (const auto& s : kSegments) Queue().DrawLine(corner(s[0], s[1], s[2]), corner(s[3], s[4], s[5]), m_debugDrawColour);
}

// --- Sphere --------------------------------------------------------------------------------------------

ZarnPhys::ColliderDescription ColliderSphere::BuildDescription() {
  ZarnPhys::ColliderDescription description = FillCommonDescription();
  const float r = m_radius * m_cachedScale.x;
  description.kind = ZarnPhys::ColliderKind_Sphere;
  description.shape[0] = r;
  description.boundingHalfExtents = Vec3(r, r, r);
  return description;
}

void ColliderSphere::KeepValidShape() {
  if (!KeepSize(SizeFit(m_radius), "m_radius")) m_radius = 1.0f;
}

void ColliderSphere::SetRadius(float radius) {
  if (!AcceptSize(SizeFit(radius), "SetRadius")) return;
  m_radius = radius;
  ZarnPhys::ColliderBase* collider = GetLibraryCollider();
  if (!collider || collider->GetKind() != ZarnPhys::ColliderKind_Sphere) return;
  static_cast<ZarnPhys::ColliderSphere*>(collider)->SetRadius(m_radius * m_cachedScale.x);
  UpdateBodyMass();
}

void ColliderSphere::RenderShape() {
  Vec3 centre;
  Mat3 rotation;
  if (!DebugPose(centre, rotation)) return;
  Queue().DrawSphere(centre, m_radius * m_cachedScale.x, Vec3(0.0f, 0.0f, 0.0f), m_debugDrawColour, m_drawAsSolid);
}

// --- Polytope ------------------------------------------------------------------------------------------

ZarnPhys::ColliderDescription ColliderPolytope::BuildDescription() {
  ZarnPhys::ColliderDescription description = FillCommonDescription();
  m_points.clear();
  m_faces.clear();
  m_hull.clear();
  Core::GameObject* owner = GetOwner();
  if (!owner) return ReportMissing(Missing_Owner, "live owner"), description;
  Core::GameComponent* component = owner->GetComponent(int(Core::ComponentType_Model));
  if (!component || component->m_componentType != Core::ComponentType_Model)
    return ReportMissing(Missing_Model, "Model to take its hull from"), description;
  const uint32_t id = static_cast<Graphics::Model*>(component)->GetMeshID();
  Base::Resources<Graphics::Mesh>& meshes = Base::Resources<Graphics::Mesh>::Instance();
  Graphics::Mesh* mesh = id < meshes.GetEntryCount() ? meshes.GetResourceById(id) : nullptr;
  if (!mesh || mesh->GetPointList().empty())
    return ReportMissing(Missing_Model, "model mesh with points to take its hull from"), description;

  m_points = mesh->GetPointList();
  m_faces = mesh->GetFaceList();
  m_hull.reserve(m_points.size());
  for (const Vec3& point : m_points) m_hull.emplace_back(point.x, point.y, -point.z);
  description.kind = ZarnPhys::ColliderKind_Polytope;
  description.vertices = m_hull.data();
  description.vertexCount = uint32_t(m_hull.size());
  description.boundingHalfExtents = mesh->GetExtents() * 0.5f;
  return description;
}

void ColliderPolytope::RenderShape() {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return;
  const Mat4 world = transform->GetWorldMatrix();
  for (const Graphics::MeshFace& face : m_faces) {
    Vec3 corners[3];
    FaceCorners(face, corners);
    for (int i = 0; i < 3; ++i)
      Queue().DrawLine(Transformed(world, corners[i]), Transformed(world, corners[(i + 1) % 3]), m_debugDrawColour);
  }
}

// --- Registration --------------------------------------------------------------------------------------

namespace {

// The members and methods every kind registers after its own members, in this order.
template <class T>
void RegisterCommon(Base::Reflection::TypeBuilder<T>& type) {
  type.template Property<&ColliderBase::SetGhost, &ColliderBase::GetGhost>(
      &ColliderBase::m_ghost, "m_ghost", "SetGhost", "Set whether a collider is ghost", "GetGhost",
      "Get whether a collider is ghost");
  type.template Property<&ColliderBase::SetIgnoreWhenRaycasting, &ColliderBase::GetIgnoreWhenRaycasting>(
      &ColliderBase::m_ignoreWhenRaycasting, "m_ignoreWhenRaycasting", "SetIgnoreWhenRaycasting",
      "Set whether a collider gets ignored when raycasting", "GetIgnoreWhenRaycasting",
      "Get whether a collider gets ignored when raycasting");
  type.template Property<&ColliderBase::SetCollisionGroup, &ColliderBase::GetCollisionGroup>(
      &ColliderBase::m_collisionGroup, "m_collisionGroup", "SetCollisionGroup", "Set a collider's collision group",
      "GetCollisionGroup", "Get a collider's collision group");
  type.template Property<&ColliderBase::SetIgnoreCollisionEvent, &ColliderBase::GetIgnoreCollisionEvent>(
      &ColliderBase::m_ignoreCollisionEvent, "m_ignoreCollisionEvent", "SetIgnoreCollisionEvent",
      "Set whether a collider ignores collision events", "GetIgnoreCollisionEvent",
      "Get whether a collider ignores collision events");
  type.Field(&ColliderBase::m_offset, "m_offset");
  type.Field(&ColliderBase::m_drawAsSolid, "m_drawAsSolid");
  type.Field(&ColliderBase::m_debugDrawColour, "m_debugDrawColour");
  type.template Method<&ColliderBase::QueryAgainstCamera>(
      "QueryAgainstCamera", nullptr,
      "Queries this collider against a specified camera. 0 - Outside. 1 - Overlaps. 2 - Inside");
}

// A shape member with its setter (no getter).
template <auto Setter, class T, class M, class C>
void ShapeMember(Base::Reflection::TypeBuilder<T>& type, M C::*field, const char* name, const char* setter,
                 const char* help) {
  Base::Function& function = type.template Method<Setter>(setter, nullptr, help);
  type.Field(field, name, &function, nullptr);
}

}  // namespace

}  // namespace Physics

ORV_ON_LOAD {
  using namespace Physics;
  Core::RegisterComponentCreator<ColliderCube>(Core::ComponentType_ColliderCube);
  Core::RegisterComponentCreator<ColliderCapsule>(Core::ComponentType_ColliderCapsule);
  Core::RegisterComponentCreator<ColliderGround>(Core::ComponentType_ColliderGround);
  Core::RegisterComponentCreator<ColliderSphere>(Core::ComponentType_ColliderSphere);
  Core::RegisterComponentCreator<ColliderSlant>(Core::ComponentType_ColliderSlant);
  Core::RegisterComponentCreator<ColliderPolytope>(Core::ComponentType_ColliderPolytope);
}

ORV_REFLECT_CLASS(Physics::ColliderCapsule) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  ShapeMember<&ColliderCapsule::SetRadius>(type, &ColliderCapsule::m_radius, "m_radius", "SetRadius",
                                           "Set the radius of the capsule collider");
  ShapeMember<&ColliderCapsule::SetHalfHeight>(type, &ColliderCapsule::m_cylinderHeight, "m_cylinderHeight",
                                               "SetHalfHeight", "Set the height of the capsule collider");
  RegisterCommon(type);
  type.Method<&ColliderBase::RenderShape>("RenderShape", nullptr, "Draw a collider's collision group");
  type.Method<&ColliderBase::SetDDColour>("SetDDColour");
}

ORV_REFLECT_CLASS(Physics::ColliderCube) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  ShapeMember<&BoxShapedCollider::SetDimensions>(type, &BoxShapedCollider::m_dimensions, "m_dimensions",
                                                 "SetDimensions", "Set the dimensions of the box collider");
  RegisterCommon(type);
  type.Method<&ColliderBase::RenderShape>("RenderShape", nullptr, "Draws collider");
  type.Method<&ColliderBase::SetDDColour>("SetDDColour");
}

ORV_REFLECT_CLASS(Physics::ColliderGround) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  ShapeMember<&BoxShapedCollider::SetDimensions>(type, &BoxShapedCollider::m_dimensions, "m_dimensions",
                                                 "SetDimensions", "Set the dimensions of the box collider");
  RegisterCommon(type);
}

ORV_REFLECT_CLASS(Physics::ColliderSlant) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  ShapeMember<&BoxShapedCollider::SetDimensions>(type, &BoxShapedCollider::m_dimensions, "m_dimensions",
                                                 "SetDimensions", "Set the dimensions of the slant collider");
  RegisterCommon(type);
}

ORV_REFLECT_CLASS(Physics::ColliderSphere) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  ShapeMember<&ColliderSphere::SetRadius>(type, &ColliderSphere::m_radius, "m_radius", "SetRadius",
                                          "Set the radius of the sphere collider");
  RegisterCommon(type);
}

ORV_REFLECT_CLASS(Physics::ColliderPolytope) {
  using namespace Physics;
  Core::InstallComponentOps(type.Record());
  RegisterCommon(type);
}
