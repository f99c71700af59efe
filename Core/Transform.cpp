// Transform maths: world values through the parent chain, cached and rebuilt once per change, re-basing
// on a rotated parent, the local axis frame, parenting listeners, and the Transform's registration.
#include "Core/Transform.h"

#include <algorithm>
#include <cmath>

#include "Base/Assert.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Log.h"

namespace Core {
namespace {

using Base::Mat3;
using Base::Quaternion;
using Base::Vec3;

Transform::DebugLineDrawer g_debugLineDrawer = nullptr;

bool IsFinite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool IsFinite(const Quaternion& q) {
  return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

// Values from scripts and files: a NaN or infinity would spread through every world matrix below.
template <class Value>
bool Refused(const Value& value, const char* setter) {
  if (IsFinite(value)) return false;
  CORE_LOG(Warning, "Transform::%s needs finite values; left unchanged.", setter);
  return true;
}

// The parent rotation stored at the last re-basing undoes the parent's world rotation exactly when
// their product has no vector part.
bool IsIdentityRotation(const Quaternion& q) { return q.x == 0.0f && q.y == 0.0f && q.z == 0.0f; }

template <auto Fn>
Base::Function Listener(const char* name) {
  return Base::Function(Base::MakeSignature<Fn>(), &Base::Thunk<Fn>, name);
}

const Base::Function& DirtyListener() {
  static const Base::Function function = Listener<&Transform::OnDirtyParentRotation>("Transform::OnDirtyParentRotation");
  return function;
}
const Base::Function& ParentedListener() {
  static const Base::Function function = Listener<&Transform::Parented>("Transform::Parented");
  return function;
}
const Base::Function& UnParentedListener() {
  static const Base::Function function = Listener<&Transform::UnParented>("Transform::UnParented");
  return function;
}
const Base::Function& EditorSelectedListener() {
  static const Base::Function function = Listener<&Transform::OnEditorSelected>("Transform::OnEditorSelected");
  return function;
}

// One axis A set, the other two re-formed: D from (A, B) and B from (A, D) by the frame's cross products,
// the one nearer to A first, so that a new A along an old axis never leaves two equal axes.
void ReformFrame(const Vec3& a, Vec3& b, Vec3& d, Vec3 (*makeD)(const Vec3& a, const Vec3& b),
                 Vec3 (*makeB)(const Vec3& a, const Vec3& d)) {
  const float dotB = std::fabs(a.Dot(b));
  const float dotD = std::fabs(a.Dot(d));
  if (dotD >= dotB) {
    d = makeD(a, b);
    if (dotB != 0.0f) b = makeB(a, d).Normalized();
  } else {
    b = makeB(a, d);
    if (dotD != 0.0f) d = makeD(a, b).Normalized();
  }
}

Vec3 AxisOrDefault(Vec3 v, const Vec3& fallback) {
  if (v.LengthSquared() == 0.0f) v = fallback;
  return v.Normalized();
}

}  // namespace

void Transform::SetDebugLineDrawer(DebugLineDrawer drawer) { g_debugLineDrawer = drawer; }

void Transform::Initialize() {
  GameObject* owner = GetOwner();
  if (!owner) return;
  Hooks& hooks = owner->GetHooks();
  hooks.AddComponentListener("DirtyWorldMatrix", m_self, DirtyListener());
  hooks.AddComponentListener("Parented", m_self, ParentedListener());
  hooks.AddComponentListener("UnParented", m_self, UnParentedListener());
  hooks.AddComponentListener("SelectedInEditor", m_self, EditorSelectedListener());
}

void Transform::Uninitialize() {
  GameObject* owner = GetOwner();
  if (!owner) return;
  Hooks& hooks = owner->GetHooks();
  hooks.RemoveComponentListener("DirtyWorldMatrix", m_self);
  hooks.RemoveComponentListener("Parented", m_self);
  hooks.RemoveComponentListener("UnParented", m_self);
  hooks.RemoveComponentListener("SelectedInEditor", m_self);
}

GameComponent& Transform::Assign(const GameComponent& other) {
  if (other.m_typeInfo != m_typeInfo || &other == this) return *this;
  const Transform& source = static_cast<const Transform&>(other);
  m_translation = source.m_translation;
  m_rotation = source.m_rotation;
  m_scale = source.m_scale;
  m_parentRotation = source.m_parentRotation;
  MarkWorldMatrixDirty();
  return *this;
}

Transform::~Transform() {
  // The children's parent Transform goes away with this one: their world values change.
  MarkDescendantsDirty(false);
}

Transform* Transform::GetParentTransform() const {
  const GameObject* owner = GetOwner();
  if (!owner || owner->m_parent == Base::kNullHandle) return nullptr;
  const GameObject* parent = owner->Parent();
  return parent ? parent->GetComponent<Transform>() : nullptr;
}

// --- World values -----------------------------------------------------------------------------------

Quaternion Transform::Rotation() const {
  RefreshWorld();
  return m_worldRotation;
}

Vec3 Transform::Translation() const {
  RefreshWorld();
  return m_worldTranslation;
}

Vec3 Transform::Scale() const {
  RefreshWorld();
  return m_worldScale;
}

Vec3 Transform::Forward() const { return Rotation().ToMat3() * m_localForward; }
Vec3 Transform::Up() const { return Rotation().ToMat3() * m_localUp; }
Vec3 Transform::Right() const { return Rotation().ToMat3() * m_localRight; }

void Transform::RefreshWorld() const {
  if (!m_dirty) {
    // Every change of the parent link marks the Transform dirty.
    ORV_ASSERT((GetParentTransform() ? GetParentTransform()->m_self : Base::kNullHandle) == m_worldParent);
    return;
  }
  // Up to the first clean ancestor (or the root), each dirty one pointing down at the one below it;
  // then down again, each computed from the one above.
  const Transform* top = this;
  const Transform* base = nullptr;
  m_refreshBelow = nullptr;
  [[maybe_unused]] uint32_t steps = 0;
  for (const Transform* parent = GetParentTransform(); parent; parent = parent->GetParentTransform()) {
    if (!parent->m_dirty) {
      base = parent;
      break;
    }
    parent->m_refreshBelow = top;
    top = parent;
    ORV_ASSERT(!m_space || ++steps <= m_space->GetObjectCount());  // parent links never loop
  }
  for (const Transform* node = top; node; node = node->m_refreshBelow) {
    node->ComputeWorld(base);
    base = node;
  }
}

void Transform::ComputeWorld(const Transform* parent) const {
  if (parent) {
    ORV_ASSERT(!parent->m_dirty);
    const Quaternion relative = parent->m_worldRotation * m_parentRotation;
    Quaternion rotation = m_rotation * parent->m_worldRotation * m_parentRotation;
    m_worldRotation = rotation.Normalize();
    m_worldTranslation = parent->m_worldTranslation + relative.ToMat3() * m_translation;
    m_worldScale = m_scale * parent->m_worldScale;
    m_worldParent = parent->m_self;
  } else {
    m_worldRotation = m_rotation;
    m_worldTranslation = m_translation;
    m_worldScale = m_scale;
    m_worldParent = Base::kNullHandle;
  }
  const Vec3& s = m_worldScale;
  Base::Mat4 m(m_worldRotation.ToMat3());
  for (int row = 0; row < 3; ++row) {
    m.m[row * 4 + 0] *= s.x;
    m.m[row * 4 + 1] *= s.y;
    m.m[row * 4 + 2] *= s.z;
  }
  m.m[3] = m_worldTranslation.x;
  m.m[7] = m_worldTranslation.y;
  m.m[11] = m_worldTranslation.z;
  m_worldMatrix = m;
  m_dirty = false;
  m_subtreeMarked = false;
}

void Transform::RebaseOnParent(const Transform& parent) {
  const Quaternion parentWorld = parent.Rotation();
  const Quaternion relative = parentWorld * m_parentRotation;
  if (IsIdentityRotation(relative)) return;
  m_rotation = m_rotation * relative;
  m_translation = relative.ToMat3() * m_translation;
  m_parentRotation = parentWorld.Inverse();
}

void Transform::SetTranslation(Vec3 translation) {
  if (Refused(translation, "SetTranslation")) return;
  if (const Transform* parent = GetParentTransform()) {
    RebaseOnParent(*parent);
    m_translation = (parent->Rotation() * m_parentRotation).ToMat3() * (translation - parent->Translation());
  } else {
    m_translation = translation;
  }
  MarkWorldMatrixDirty();
}

void Transform::SetRotation(Quaternion rotation) {
  if (Refused(rotation, "SetRotation")) return;
  if (const Transform* parent = GetParentTransform()) {
    RebaseOnParent(*parent);
    m_rotation = rotation * parent->Rotation() * m_parentRotation;
  } else {
    m_rotation = rotation;
  }
  MarkWorldMatrixDirty();
}

void Transform::SetScale(Vec3 scale) {
  if (Refused(scale, "SetScale")) return;
  if (const Transform* parent = GetParentTransform()) {
    // A flattened parent cannot say what its child's own scale is: that component keeps its value.
    const Vec3 parentScale = parent->Scale();
    if (parentScale.x != 0.0f) m_scale.x = scale.x / parentScale.x;
    if (parentScale.y != 0.0f) m_scale.y = scale.y / parentScale.y;
    if (parentScale.z != 0.0f) m_scale.z = scale.z / parentScale.z;
  } else {
    m_scale = scale;
  }
  MarkWorldMatrixDirty();
}

// --- Local values -----------------------------------------------------------------------------------

void Transform::SetLocalTranslation(Vec3 translation) {
  if (Refused(translation, "SetLocalTranslation")) return;
  m_translation = translation;
  MarkWorldMatrixDirty();
}

void Transform::SetLocalRotation(Quaternion rotation) {
  if (Refused(rotation, "SetLocalRotation")) return;
  m_rotation = rotation;
  MarkWorldMatrixDirty();
}

void Transform::SetLocalScale(Vec3 scale) {
  if (Refused(scale, "SetLocalScale")) return;
  m_scale = scale;
  MarkWorldMatrixDirty();
}

void Transform::ResetRotation() {
  m_rotation = Quaternion();
  MarkWorldMatrixDirty();
}

void Transform::ResetOrientation() {
  m_localForward = {0.0f, 0.0f, 1.0f};
  m_localUp = {0.0f, 1.0f, 0.0f};
  m_localRight = {1.0f, 0.0f, 0.0f};
}

void Transform::SetLocalForward(Vec3 forward) {
  if (Refused(forward, "SetLocalForward")) return;
  m_localForward = AxisOrDefault(forward, {0.0f, 0.0f, 1.0f});
  ReformFrame(
      m_localForward, m_localUp, m_localRight, [](const Vec3& f, const Vec3& up) { return up.Cross(f); },
      [](const Vec3& f, const Vec3& right) { return f.Cross(right); });
}

void Transform::SetLocalRight(Vec3 right) {
  if (Refused(right, "SetLocalRight")) return;
  m_localRight = AxisOrDefault(right, {1.0f, 0.0f, 0.0f});
  ReformFrame(
      m_localRight, m_localUp, m_localForward, [](const Vec3& r, const Vec3& up) { return r.Cross(up); },
      [](const Vec3& r, const Vec3& forward) { return forward.Cross(r); });
}

void Transform::SetLocalUp(Vec3 up) {
  if (Refused(up, "SetLocalUp")) return;
  m_localUp = AxisOrDefault(up, {0.0f, 1.0f, 0.0f});
  ReformFrame(
      m_localUp, m_localForward, m_localRight, [](const Vec3& u, const Vec3& forward) { return u.Cross(forward); },
      [](const Vec3& u, const Vec3& right) { return right.Cross(u); });
}

void Transform::AlignToVector(Vec3 direction) {
  if (!IsFinite(direction) || direction.LengthSquared() == 0.0f) {
    CORE_LOG(Warning, "Transform::AlignToVector needs a non-zero finite direction; rotation left unchanged.");
    return;
  }
  direction.Normalize();
  const float cosine = std::clamp(direction.y, -1.0f, 1.0f);
  const Vec3 axis = direction.Cross({0.0f, 1.0f, 0.0f});
  if (axis.LengthSquared() < 1e-12f) {
    // Along up already, or straight against it: no axis to turn about, any horizontal one serves.
    m_rotation = cosine > 0.0f ? Quaternion() : Quaternion(Mat3::BuildRotation(Base::kPi, Vec3(1.0f, 0.0f, 0.0f)));
  } else {
    m_rotation = Quaternion(Mat3::BuildRotation(std::acos(cosine), axis));
  }
  MarkWorldMatrixDirty();
}

// --- World matrix and notification --------------------------------------------------------------------

Base::Mat4 Transform::GetWorldMatrix() const {
  RefreshWorld();
  return m_worldMatrix;
}

void Transform::MarkWorldMatrixDirty() {
  m_dirty = true;
  if (m_suppressNotification || m_subtreeMarked) return;
  m_subtreeMarked = true;
  MarkDescendantsDirty(true);
}

void Transform::MarkDescendantsDirty(bool fireHooks) {
  GameObject* owner = GetOwner();
  if (!owner) return;
  // Each child Transform is marked before its hook fires, so that its own listener finds its subtree
  // marked and returns at once: the walk stays here, however deep the tree, and meets each object once.
  owner->WalkDescendants([fireHooks](GameObject& child) {
    Transform* transform = child.GetComponent<Transform>();
    bool enter = false;
    if (transform) {
      transform->m_dirty = true;
      enter = !transform->m_subtreeMarked && !transform->m_suppressNotification;
      if (enter) transform->m_subtreeMarked = true;
    }
    if (fireHooks) child.GetHooks().Call("DirtyWorldMatrix");
    return enter;
  });
}

void Transform::OnDirtyParentRotation() { MarkWorldMatrixDirty(); }

void Transform::Parented() {
  const Transform* parent = GetParentTransform();
  if (!parent) return;
  m_parentRotation = parent->Rotation().Inverse();
  // The current values are world values here: re-express them against the new parent, telling the
  // children once at the end.
  m_suppressNotification = true;
  SetTranslation(m_translation);
  SetScale(m_scale);
  m_suppressNotification = false;
  SetRotation(m_rotation);
}

void Transform::UnParented() {
  // The old parent link still stands: the world values, computed once, become the local ones.
  RefreshWorld();
  m_translation = m_worldTranslation;
  m_scale = m_worldScale;
  Quaternion world = m_worldRotation;
  m_rotation = world.Normalize();
  MarkWorldMatrixDirty();
}

void Transform::OnEditorSelected() {
  if (!g_debugLineDrawer) return;
  constexpr float kLength = 3.0f;
  const Vec3 origin = Translation();
  g_debugLineDrawer(origin, origin + Forward() * kLength, {0.0f, 1.0f, 0.0f});
  g_debugLineDrawer(origin, origin + Up() * kLength, {1.0f, 1.0f, 0.0f});
  g_debugLineDrawer(origin, origin + Right() * kLength, {1.0f, 0.0f, 0.0f});
}

}  // namespace Core

ORV_ON_LOAD { Core::RegisterComponentCreator<Core::Transform>(Core::ComponentType_Transform); }

ORV_REFLECT_CLASS(Core::Transform) {
  using Core::Transform;
  Core::InstallComponentOps(type.Record());
  ORV_PROPERTY(m_translation, SetLocalTranslation, "Set the translation of the Transform component",
               LocalTranslation, "Gets the translation from the Transform component");
  ORV_PROPERTY(m_scale, SetLocalScale, "Set the sacle of the Transform component", LocalScale,
               "Gets the scale from the Transform component");
  ORV_PROPERTY(m_rotation, SetLocalRotation, "Set the roataion of the Transform component", LocalRotation,
               "Gets the roataion from the Transform component");
  static const Base::Function resetRotation(Base::MakeSignature<&Transform::ResetRotation>(),
                                            &Base::Thunk<&Transform::ResetRotation>, "Transform::ResetRotation");
  type.Button("Reset Rotation", resetRotation);

  type.OpenGroup("Orientation");
  type.Field(&Transform::m_localForward, "m_localForward", &Base::Bind<&Transform::SetLocalForward>("Transform::SetLocalForward"),
             &Base::Bind<&Transform::LocalForward>("Transform::LocalForward"));
  type.Field(&Transform::m_localUp, "m_localUp", &Base::Bind<&Transform::SetLocalUp>("Transform::SetLocalUp"),
             &Base::Bind<&Transform::LocalUp>("Transform::LocalUp"));
  type.Field(&Transform::m_localRight, "m_localRight", &Base::Bind<&Transform::SetLocalRight>("Transform::SetLocalRight"),
             &Base::Bind<&Transform::LocalRight>("Transform::LocalRight"));
  static const Base::Function resetOrientation(Base::MakeSignature<&Transform::ResetOrientation>(),
                                               &Base::Thunk<&Transform::ResetOrientation>,
                                               "Transform::ResetOrientation");
  type.Button("Reset Orientation", resetOrientation);
  type.CloseGroup();

  type.Field(&Transform::m_parentRotation, "m_parentRotation")->SetFlag(0);

  ORV_METHOD(Translation);
  ORV_METHOD(SetTranslation);
  ORV_METHOD(Scale);
  ORV_METHOD(SetScale);
  ORV_METHOD(Rotation);
  ORV_METHOD(SetRotation);
  ORV_METHOD(Forward);
  ORV_METHOD(Up);
  ORV_METHOD(Right);
  ORV_METHOD(AlignToVector);
  ORV_METHOD(MarkWorldMatrixDirty);
}
