// The camera component's pose following, activation, editor preview and registration.
#include "Graphics/Components/Camera.h"

#include <cmath>

#include "Base/MathUtil.h"
#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/EngineLinks.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Log.h"

namespace Graphics {

namespace {

template <auto Method>
const Base::Function& Listener(const char* name) {
  static const Base::Function function(Base::MakeSignature<Method>(), &Base::Thunk<Method>, name);
  return function;
}

}  // namespace

Camera& Camera::operator=(const Camera& other) {
  Assign(other);
  static_cast<BaseCamera&>(*this) = other;
  m_isActive = other.m_isActive;
  m_transform = other.m_transform;
  m_windowSize = other.m_windowSize;
  return *this;
}

void Camera::WarnOnce(const char* what) {
  if (m_warned) return;
  m_warned = true;
  GFX_LOG(Warning, "Camera %u has no live %s", uint32_t(m_self), what);
}

Core::Transform* Camera::ResolveTransform() {
  Core::GameComponent* component = m_space ? m_space->GetComponent(m_transform) : nullptr;
  if (!component || component->m_componentType != Core::ComponentType_Transform) {
    WarnOnce("Transform");
    return nullptr;
  }
  return static_cast<Core::Transform*>(component);
}

void Camera::CopyPose(const Core::Transform& transform) {
  SetRotation(transform.Rotation());
  SetPosition(transform.Translation());
}

void Camera::Initialize() {
  SetActive(m_isActive);
  Core::GameObject* owner = GetOwner();
  if (!owner) {
    WarnOnce("owner");
    return;
  }
  m_transform = owner->m_components[Core::ComponentType_Transform];
  if (Core::Transform* transform = ResolveTransform()) CopyPose(*transform);
  owner->GetHooks().AddComponentListener("SelectedInEditor", m_self,
                                         Listener<&Camera::OnSelectedInEditor>("Camera::OnSelectedInEditor"));
  m_space->GetHooks().AddComponentListener("FrameUpdate", m_self, Listener<&Camera::FrameUpdate>("Camera::FrameUpdate"));
  if (Core::Hooks* engine = Core::GetEngineHooks())
    engine->AddSystemListener("GameWindowResize", this, Listener<&Camera::WindowResize>("Camera::WindowResize"));
}

void Camera::Uninitialize() {
  if (Core::GameObject* owner = GetOwner()) owner->GetHooks().RemoveComponentListener("SelectedInEditor", m_self);
  if (m_space) m_space->GetHooks().RemoveComponentListener("FrameUpdate", m_self);
  if (Core::Hooks* engine = Core::GetEngineHooks()) engine->RemoveSystemListener("GameWindowResize", this);
}

void Camera::FrameUpdate(float) {
  if (Core::Transform* transform = ResolveTransform()) CopyPose(*transform);
}

void Camera::UpdateCamera() {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return;
  CopyPose(*transform);
  GetViewMatrix();  // rebuilds every matrix now
}

void Camera::WindowResize(Base::Vec2 size) { m_windowSize = size; }

float Camera::GetFOVDeg() const { return float(double(m_fov) * 57.29577951308232); }

void Camera::SetFOVDeg(float degrees) { SetFOV(Base::DegToRad(degrees)); }

void Camera::SetActive(bool active) {
  m_isActive = active;
  if (!active) return;
  Core::GameObject* owner = GetOwner();
  if (!owner) {
    WarnOnce("owner");
    return;
  }
  if (Core::Hooks* engine = Core::GetEngineHooks())
    engine->Call("SetActiveCamera", owner->m_components[Core::ComponentType_Camera], m_space);
}

void Camera::LookAt(Base::Vec3 target) {
  Core::Transform* transform = ResolveTransform();
  if (!transform) return;
  m_lookPoint = target;
  m_up = {0.0f, 1.0f, 0.0f};
  m_dirty = true;
  const Base::Mat4 view = GetViewMatrix().Transposed();
  Base::Mat3 rotation;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rotation(r, c) = view(r, c);
  transform->SetRotation(Base::Quaternion(rotation));
}

void Camera::OnSelectedInEditor() {
  Core::GameObject* owner = GetOwner();
  Core::Transform* transform = owner ? owner->GetComponent<Core::Transform>() : nullptr;
  if (!transform) {
    WarnOnce(owner ? "Transform" : "owner");
    return;
  }
  constexpr float kDepth = 15.0f;
  const Base::Vec3 t = transform->Translation();
  const Base::Vec3 f = m_forward, r = m_right;
  const Base::Vec3 n = Base::Cross(f, r);
  const float h = std::tan(m_fov / 2.0f), a = m_aspect;
  DebugDraw& draw = DebugDraw::GetInstance();
  draw.DrawLine(t, t + f * (kDepth / 2.0f), {1.0f, 0.0f, 0.0f});
  const Base::Vec3 corners[4] = {t + (f + (r * -a + n) * h) * kDepth, t + (f + (r * a + n) * h) * kDepth,
                                 t + (f + (r * -a - n) * h) * kDepth, t + (f + (r * a - n) * h) * kDepth};
  const Base::Vec3 yellow{1.0f, 1.0f, 0.0f};
  for (const Base::Vec3& corner : corners) draw.DrawLine(t, corner, yellow);
  const int edges[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
  for (const auto& edge : edges) draw.DrawLine(corners[edge[0]], corners[edge[1]], yellow);
}

}  // namespace Graphics

ORV_ON_LOAD { Core::RegisterComponentCreator<Graphics::Camera>(Core::ComponentType_Camera); }

ORV_REFLECT_CLASS(Graphics::Camera) {
  using Graphics::Camera;
  Core::InstallComponentOps(type.Record());
  auto field = [&](auto member, const char* name, Base::Function* setter, Base::Function* getter) {
    type.Field(member, name, setter, getter);
  };
  Base::Function& getNear = type.Method<&Camera::GetNearPlane>("GetNearPlane");
  Base::Function& setNear = type.Method<&Camera::SetNearPlane>("SetNearPlane");
  field(&Camera::m_near, "m_near", &setNear, &getNear);
  Base::Function& getFar = type.Method<&Camera::GetFarPlane>("GetFarPlane");
  Base::Function& setFar = type.Method<&Camera::SetFarPlane>("SetFarPlane");
  field(&Camera::m_far, "m_far", &setFar, &getFar);
  // The two help texts are crossed over, as scripts' documentation has always shown them.
  Base::Function& getFov = type.Method<&Camera::GetFOVDeg>("GetFOVDeg", nullptr, "Sets tje field of view degree");
  Base::Function& setFov = type.Method<&Camera::SetFOVDeg>("SetFOVDeg", nullptr, "Gets the field of view degree");
  field(&Camera::m_fov, "m_fov", &setFov, &getFov);
  type.Method<&Camera::SetLetterBox>("SetLetterBox");
  type.Method<&Camera::GetIsLetterBox>("GetIsLetterBox");
  field(&Camera::m_isOrtho, "m_isOrtho", nullptr, nullptr);
  Base::Function& setActive = type.Method<&Camera::SetActive>("SetActive", nullptr, "Sets the camera active");
  field(&Camera::m_isActive, "m_isActive", &setActive, nullptr);
  type.Method<&Camera::GetForward>("GetForward", nullptr, "Gets the forward vector of the camera");
  Base::Function& lookAt = type.Method<&Camera::LookAt>("LookAt", nullptr, "Sets the camera look at");
  field(&Camera::m_lookPoint, "m_lookPoint", &lookAt, nullptr);
  type.Method<&Camera::ToWorld>("ToWorld", nullptr, "Converts a screen position into this camera's world space");
  type.Method<&Camera::ToScreen>("ToScreen", nullptr, "Converts a world position to screen position");
  type.Method<&Camera::UpdateCamera>("UpdateCamera", nullptr, "Updates the camera");
}
