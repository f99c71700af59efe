// The camera component: a viewpoint on a game object that follows the object's Transform, announces
// itself to the graphics system when made active and previews its view volume in the editor.
#pragma once

#include "Base/Handle.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"
#include "Graphics/BaseCamera.h"

namespace Graphics {

class Camera : public Core::GameComponent, public BaseCamera {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_Camera;

  Camera() = default;
  Camera(const Camera&) = default;
  // The reflected members first, then the camera data and the fields the reflection does not carry.
  Camera& operator=(const Camera& other);

  // Announces a camera stored active, takes the Transform's pose and connects the listeners.
  void Initialize() override;
  void Uninitialize() override;

  // Copies the Transform's pose into the camera data; the matrices follow when next read.
  void FrameUpdate(float dt);
  // The same copy, with the matrices rebuilt at once.
  void UpdateCamera();
  void WindowResize(Base::Vec2 size);
  // The view volume, 15 units deep, as debug lines.
  void OnSelectedInEditor();

  float GetNearPlane() const { return m_near; }
  void SetNearPlane(float distance) { BaseCamera::SetNearPlane(distance); }
  float GetFarPlane() const { return m_far; }
  void SetFarPlane(float distance) { BaseCamera::SetFarPlane(distance); }
  float GetFOVDeg() const;
  void SetFOVDeg(float degrees);
  void SetLetterBox(bool letterBox) { BaseCamera::SetLetterBox(letterBox); }
  bool GetIsLetterBox() const { return BaseCamera::GetIsLetterBox(); }
  // Sends "SetActiveCamera" when switched on; switching off only clears the flag.
  void SetActive(bool active);
  Base::Vec3 GetForward() const { return m_forward; }
  // Turns the owner's Transform towards the target; the camera follows on the next frame update.
  void LookAt(Base::Vec3 target);
  Base::Vec3 ToWorld(Base::Vec2 screen) const { return BaseCamera::ToWorld(screen.x, screen.y); }
  Base::Vec2 ToScreen(Base::Vec3 world) const { return BaseCamera::ToScreen(world); }

  // Fields after the two bases, in this order.
  bool m_isActive = false;
  Base::Handle m_transform = Base::kNullHandle;
  Base::Vec2 m_windowSize{0.0f, 0.0f};

 private:
  // The live Transform behind m_transform, or null; the first miss of each camera is logged.
  Core::Transform* ResolveTransform();
  void CopyPose(const Core::Transform& transform);
  void WarnOnce(const char* what);

  bool m_warned = false;
};

}  // namespace Graphics
