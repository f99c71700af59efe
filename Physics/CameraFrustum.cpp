// A camera's frustum from its axes, lens and its object's position: the eight corners of the near and
// far rectangles, mirrored into the physics frame, then one plane through each face.
#include "Physics/CameraFrustum.h"

#include <cmath>

#include "Core/Transform.h"
#include "Graphics/Components/Camera.h"
#include "Physics/PhysicsSystem.h"

namespace Physics {

CameraFrustum BuildCameraFrustum(const Graphics::Camera& camera) {
  using Base::Cross;
  using Base::Vec3;
  const Vec3 right = camera.m_right;
  const Vec3 forward = camera.m_forward;
  const Vec3 up = Cross(forward, right);
  const float t = std::tan(camera.m_fov * 0.5f);
  // A camera without a Transform still has its own eye position.
  const Core::Transform* transform = camera.GetOwnerTransform();
  const Vec3 position = transform ? transform->Translation() : camera.m_position;

  // Per distance: (-x, +y), (+x, +y), (-x, -y), (+x, -y).
  Vec3 n[4], f[4];
  const float signs[4][2] = {{-1, 1}, {1, 1}, {-1, -1}, {1, -1}};
  for (int i = 0; i < 4; ++i) {
    const Vec3 direction = forward + (right * (signs[i][0] * camera.m_aspect) + up * signs[i][1]) * t;
    n[i] = ToPhysicsFrame(position + direction * camera.m_near);
    f[i] = ToPhysicsFrame(position + direction * camera.m_far);
  }

  CameraFrustum frustum;
  frustum.planes[0] = ZarnPhys::Plane(Cross(n[2] - n[3], n[1] - n[3]), n[1]);
  frustum.planes[1] = ZarnPhys::Plane(Cross(f[0] - f[1], f[3] - f[1]), f[1]);
  frustum.planes[2] = ZarnPhys::Plane(Cross(f[1] - n[1], n[3] - n[1]), n[1]);
  frustum.planes[3] = ZarnPhys::Plane(Cross(f[2] - n[2], n[0] - n[2]), f[2]);
  frustum.planes[4] = ZarnPhys::Plane(Cross(n[0] - n[1], f[1] - n[1]), n[1]);
  frustum.planes[5] = ZarnPhys::Plane(Cross(f[3] - n[3], n[2] - n[3]), f[3]);
  return frustum;
}

}  // namespace Physics
