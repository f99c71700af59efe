// The data of one viewpoint: pose, lens, and the view and projection matrices built from them
// when first read after a change. Cameras, canvases and shadow-casting lights each hold one.
#pragma once

#include "Base/Matrix.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"

namespace Graphics {

// Matrices are for row vectors (v' = v x M) in a left-handed space; clip depth runs 0 at the
// near plane to 1 at the far plane.
class BaseCamera {
 public:
  BaseCamera();

  // The three getters rebuild all matrices first when a setter has changed the camera.
  Base::Mat4 GetViewMatrix();
  Base::Mat4 GetProjectionMatrix();
  Base::Mat4 GetViewProjectionMatrix();
  Base::Vec3 GetPosition() const { return m_position; }

  void LookAt(const Base::Vec3& target);
  // Moves the eye and the look point together.
  void SetPosition(const Base::Vec3& position);
  // Looks along the rotation's third axis, at the distance halfway between the planes.
  void SetRotation(const Base::Quaternion& rotation);
  void SetFOV(float radians);
  // Both ignored when either value is 0.
  void SetAspect(float width, float height);
  void SetOrthoSize(float width, float height);
  // The planes take effect at the next rebuild that another setter causes.
  void SetNearPlane(float distance);
  void SetFarPlane(float distance);
  void SetLetterBox(bool letterBox) { m_isLetterBox = letterBox; }
  bool GetIsLetterBox() const { return m_isLetterBox; }

  // World position to screen pixels (top left is (0, 0)) and back, through the matrices as they
  // stand: neither rebuilds. ToWorld gives the point on the near plane.
  Base::Vec2 ToScreen(const Base::Vec3& world) const;
  Base::Vec3 ToWorld(float x, float y) const;

  Base::Mat4 m_view;
  Base::Mat4 m_projection;
  Base::Mat4 m_viewProjection;
  Base::Vec3 m_up{0, 1, 0};
  Base::Vec3 m_right{1, 0, 0};
  Base::Vec3 m_forward{0, 0, 1};
  Base::Vec3 m_lookPoint{0, 0, 0};
  Base::Vec3 m_position{0, 0, -20.5f};
  Base::Quaternion m_rotation;
  float m_near = 1.0f;
  float m_far = 300.0f;
  float m_mid = 150.5f;
  float m_fov = 0.78539819f;
  Base::Vec2 m_viewExtent;
  float m_aspect = 16.0f / 9.0f;
  Base::Vec2 m_orthoSize;
  bool m_isOrtho = false;
  // The volume is centred on the view axis; otherwise x runs 0..width and y -height..0.
  bool m_orthoCentered = false;
  bool m_isLetterBox = true;
  bool m_dirty = true;

 private:
  void UpdateAxes();
  void Rebuild();
};

// The screen size ToScreen and ToWorld map to. The graphics system points it at its own screen
// size when it starts; null (the default) stands for 1920 x 1080.
void SetCameraScreenSize(const Base::Vec2* size);

}  // namespace Graphics
