// Transform maths: world values through the parent chain, re-basing on a rotated parent, the lazy world
// matrix, the local axis frame, parenting listeners, and the Transform's registration.
#include "Core/Transform.h"

#include <algorithm>
#include <cmath>

#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"

namespace Core {
namespace {

using Base::Mat3;
using Base::Quaternion;
using Base::Vec3;

Transform::DebugLineDrawer g_debugLineDrawer = nullptr;

bool IsFinite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

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

Transform* Transform::GetParentTransform() const {
  const GameObject* owner = GetOwner();
  if (!owner || owner->m_parent == Base::kNullHandle) return nullptr;
  const GameObject* parent = owner->Parent();
  return parent ? parent->GetComponent<Transform>() : nullptr;
}

// --- World values -----------------------------------------------------------------------------------

Quaternion Transform::Rotation() const {
  const Transform* parent = GetParentTransform();
  if (!parent) return m_rotation;
  Quaternion world = m_rotation * parent->Rotation() * m_parentRotation;
  return world.Normalize();
}

Vec3 Transform::Translation() const {
  const Transform* parent = GetParentTransform();
  if (!parent) return m_translation;
  return parent->Translation() + (parent->Rotation() * m_parentRotation).ToMat3() * m_translation;
}

Vec3 Transform::Scale() const {
  const Transform* parent = GetParentTransform();
  return parent ? m_scale * parent->Scale() : m_scale;
}

Vec3 Transform::Forward() const { return Rotation().ToMat3() * m_localForward; }
Vec3 Transform::Up() const { return Rotation().ToMat3() * m_localUp; }
Vec3 Transform::Right() const { return Rotation().ToMat3() * m_localRight; }

void Transform::RebaseOnParent(const Transform& parent) {
  const Quaternion parentWorld = parent.Rotation();
  const Quaternion relative = parentWorld * m_parentRotation;
  m_rotation = m_rotation * relative;
  m_translation = relative.ToMat3() * m_translation;
  m_parentRotation = parentWorld.Inverse();
  m_parentRotationChanged = false;
}

void Transform::SetTranslation(Vec3 translation) {
  if (const Transform* parent = GetParentTransform()) {
    if (m_parentRotationChanged) RebaseOnParent(*parent);
    m_translation = (parent->Rotation() * m_parentRotation).ToMat3() * (translation - parent->Translation());
  } else {
    m_translation = translation;
  }
  MarkWorldMatrixDirty();
}

void Transform::SetRotation(Quaternion rotation) {
  if (const Transform* parent = GetParentTransform()) {
    if (m_parentRotationChanged) RebaseOnParent(*parent);
    m_rotation = rotation * parent->Rotation() * m_parentRotation;
  } else {
    m_rotation = rotation;
  }
  MarkWorldMatrixDirty();
}

void Transform::SetScale(Vec3 scale) {
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
  m_translation = translation;
  MarkWorldMatrixDirty();
}

void Transform::SetLocalRotation(Quaternion rotation) {
  m_rotation = rotation;
  MarkWorldMatrixDirty();
}

void Transform::SetLocalScale(Vec3 scale) {
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
  if (!IsFinite(forward)) return;
  m_localForward = AxisOrDefault(forward, {0.0f, 0.0f, 1.0f});
  ReformFrame(
      m_localForward, m_localUp, m_localRight, [](const Vec3& f, const Vec3& up) { return up.Cross(f); },
      [](const Vec3& f, const Vec3& right) { return f.Cross(right); });
}

void Transform::SetLocalRight(Vec3 right) {
  if (!IsFinite(right)) return;
  m_localRight = AxisOrDefault(right, {1.0f, 0.0f, 0.0f});
  ReformFrame(
      m_localRight, m_localUp, m_localForward, [](const Vec3& r, const Vec3& up) { return r.Cross(up); },
      [](const Vec3& r, const Vec3& forward) { return forward.Cross(r); });
}

void Transform::SetLocalUp(Vec3 up) {
  if (!IsFinite(up)) return;
  m_localUp = AxisOrDefault(up, {0.0f, 1.0f, 0.0f});
  ReformFrame(
      m_localUp, m_localForward, m_localRight, [](const Vec3& u, const Vec3& forward) { return u.Cross(forward); },
      [](const Vec3& u, const Vec3& right) { return right.Cross(u); });
}

void Transform::AlignToVector(Vec3 direction) {
  if (!IsFinite(direction) || direction.LengthSquared() == 0.0f) {
    Base::TraceLog::GetInstance().Print(Base::TraceLevel_Warning, Base::TraceModule_Core,
                                        "Transform::AlignToVector needs a non-zero finite direction; "
                                        "rotation left unchanged.");
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
  if (m_dirty) {
    const Vec3 t = Translation();
    const Vec3 s = Scale();
    Base::Mat4 m(Rotation().ToMat3());
    for (int row = 0; row < 3; ++row) {
      m.m[row * 4 + 0] *= s.x;
      m.m[row * 4 + 1] *= s.y;
      m.m[row * 4 + 2] *= s.z;
    }
    m.m[3] = t.x;
    m.m[7] = t.y;
    m.m[11] = t.z;
    m_worldMatrix = m;
    m_dirty = false;
  }
  return m_worldMatrix;
}

void Transform::MarkWorldMatrixDirty() {
  m_dirty = true;
  if (m_suppressNotification) return;
  const GameObject* owner = GetOwner();
  if (!owner) return;
  // A listener may re-parent while the change spreads: walk a copy of the child list.
  const std::vector<Base::Handle> children = owner->m_children;
  for (Base::Handle handle : children)
    if (GameObject* child = m_space->GetGameObject(handle)) child->GetHooks().Call("DirtyWorldMatrix");
}

void Transform::OnDirtyParentRotation() {
  m_parentRotationChanged = true;
  MarkWorldMatrixDirty();
}

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
  // The old parent link still stands: the world values become the local ones.
  m_suppressNotification = true;
  m_translation = Translation();
  MarkWorldMatrixDirty();
  m_scale = Scale();
  MarkWorldMatrixDirty();
  m_suppressNotification = false;
  Quaternion world = Rotation();
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
