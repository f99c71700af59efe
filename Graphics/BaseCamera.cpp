// Lazily built view and projection matrices, and conversions between world and screen.
#include "Graphics/BaseCamera.h"

#include <cmath>

namespace Graphics {

namespace {

const Base::Vec2* g_screenSize = nullptr;

Base::Vec2 ScreenSize() { return g_screenSize ? *g_screenSize : Base::Vec2(1920, 1080); }

// v x M for a row vector.
Base::Vec4 RowTimes(const Base::Vec4& v, const Base::Mat4& m) {
  return {v.x * m(0, 0) + v.y * m(1, 0) + v.z * m(2, 0) + v.w * m(3, 0),
          v.x * m(0, 1) + v.y * m(1, 1) + v.z * m(2, 1) + v.w * m(3, 1),
          v.x * m(0, 2) + v.y * m(1, 2) + v.z * m(2, 2) + v.w * m(3, 2),
          v.x * m(0, 3) + v.y * m(1, 3) + v.z * m(2, 3) + v.w * m(3, 3)};
}

Base::Mat4 Rows(const Base::Vec4& r0, const Base::Vec4& r1, const Base::Vec4& r2, const Base::Vec4& r3) {
  Base::Mat4 m;
  const Base::Vec4* rows[4] = {&r0, &r1, &r2, &r3};
  for (int r = 0; r < 4; ++r) {
    m(r, 0) = rows[r]->x;
    m(r, 1) = rows[r]->y;
    m(r, 2) = rows[r]->z;
    m(r, 3) = rows[r]->w;
  }
  return m;
}

}  // namespace

void SetCameraScreenSize(const Base::Vec2* size) { g_screenSize = size; }

BaseCamera::BaseCamera() {
  UpdateAxes();
  m_viewExtent.x = 2.0f * m_mid * std::tan(m_fov * 0.5f);
  m_viewExtent.y = m_viewExtent.x / m_aspect;
}

void BaseCamera::UpdateAxes() {
  m_forward = (m_lookPoint - m_position).Normalize();
  m_right = Base::Cross(m_up, m_forward).Normalize();
}

Base::Mat4 BaseCamera::GetViewMatrix() {
  if (m_dirty) Rebuild();
  return m_view;
}

Base::Mat4 BaseCamera::GetProjectionMatrix() {
  if (m_dirty) Rebuild();
  return m_projection;
}

Base::Mat4 BaseCamera::GetViewProjectionMatrix() {
  if (m_dirty) Rebuild();
  return m_viewProjection;
}

void BaseCamera::LookAt(const Base::Vec3& target) {
  m_lookPoint = target;
  UpdateAxes();
  m_dirty = true;
}

void BaseCamera::SetPosition(const Base::Vec3& position) {
  m_lookPoint += position - m_position;
  m_position = position;
  UpdateAxes();
  m_dirty = true;
}

void BaseCamera::SetRotation(const Base::Quaternion& rotation) {
  m_rotation = rotation;
  const Base::Mat3 r = rotation.ToMat3();
  m_lookPoint = m_position + Base::Vec3(r(0, 2), r(1, 2), r(2, 2)).Normalize() * m_mid;
  m_up = {0, 1, 0};
  UpdateAxes();
  m_dirty = true;
}

void BaseCamera::SetFOV(float radians) {
  m_fov = radians;
  m_dirty = true;
}

void BaseCamera::SetAspect(float width, float height) {
  if (width == 0.0f || height == 0.0f) return;
  m_aspect = width / height;
  m_dirty = true;
}

void BaseCamera::SetOrthoSize(float width, float height) {
  if (width == 0.0f || height == 0.0f) return;
  m_orthoSize = {width, height};
  m_dirty = true;
}

void BaseCamera::SetNearPlane(float distance) {
  m_near = distance;
  m_mid = (m_near + m_far) * 0.5f;
}

void BaseCamera::SetFarPlane(float distance) {
  m_far = distance;
  m_mid = (m_near + m_far) * 0.5f;
}

void BaseCamera::Rebuild() {
  const Base::Vec3 z = (m_lookPoint - m_position).Normalize();
  const Base::Vec3 x = Base::Cross(m_up, z).Normalize();
  const Base::Vec3 y = Base::Cross(z, x);
  const Base::Vec3& e = m_position;
  m_view = Rows({x.x, y.x, z.x, 0}, {x.y, y.y, z.y, 0}, {x.z, y.z, z.z, 0}, {-x.Dot(e), -y.Dot(e), -z.Dot(e), 1});

  const float n = m_near, f = m_far;
  if (m_isOrtho) {
    m_viewExtent = m_orthoSize;
    const float w = m_orthoSize.x, h = m_orthoSize.y;
    // Off centre, the volume's left edge and top edge lie on the view axis.
    const float left = m_orthoCentered ? 0.0f : -1.0f, top = m_orthoCentered ? 0.0f : 1.0f;
    m_projection = Rows({2 / w, 0, 0, 0}, {0, 2 / h, 0, 0}, {0, 0, 1 / (f - n), 0}, {left, top, -n / (f - n), 1});
  } else {
    const float a = 2.0f * m_mid * std::tan(m_fov * 0.5f);
    const float b = a / m_aspect;
    m_viewExtent = {a, b};
    const float yScale = std::cos(m_fov * 0.5f) / std::sin(m_fov * 0.5f);
    const float xScale = yScale / (a / b);
    const float r = f / (f - n);
    m_projection = Rows({xScale, 0, 0, 0}, {0, yScale, 0, 0}, {0, 0, r, 1}, {0, 0, -r * n, 0});
  }
  m_viewProjection = m_view * m_projection;
  m_dirty = false;
}

Base::Vec2 BaseCamera::ToScreen(const Base::Vec3& world) const {
  const Base::Vec2 s = ScreenSize();
  const Base::Vec4 c = RowTimes(RowTimes(Base::Vec4(world, 1), m_view), m_projection);
  const float x = c.x / c.w, y = c.y / c.w;
  return {(x + 1) * 0.5f * s.x, (1 - y) * 0.5f * s.y};
}

Base::Vec3 BaseCamera::ToWorld(float x, float y) const {
  const Base::Vec2 s = ScreenSize();
  const Base::Vec4 n((x / s.x) * 2 - 1, -((y / s.y) * 2 - 1), 0, 1);
  const Base::Vec4 r = RowTimes(n, (m_view * m_projection).Inverse());
  return r.ToVec3();
}

}  // namespace Graphics
