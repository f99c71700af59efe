// The animation controller: plays and blends the skeletal animations of its object's model mesh on
// the space's logic updates and keeps one skinning matrix per bone for the model's skinned draws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Base/Handle.h"
#include "Base/Matrix.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"
#include "Core/GameComponent.h"

namespace Graphics {

class AnimationData;
class BaseModel;
class Mesh;
struct KeyFrame;

// One playing animation. Null keys is the empty track.
struct AnimationTrack {
  uint32_t frame = 0;
  float time = 0.0f;
  float blendRemaining = 0.0f;
  float blendTotal = 0.0f;
  const KeyFrame* keys = nullptr;
  uint32_t animationIndex = 0;
  uint32_t frameCount = 0;
};

struct BoneAttachment {
  uint32_t bone = 0;
  Base::Mat4 matrix;
  Base::Vec4 position;
  Base::Quaternion orientation;
};

class AnimationController : public Core::GameComponent {
 public:
  static constexpr uint32_t kComponentType = Core::ComponentType_AnimationController;
  static constexpr float kFrameRate = 24.0f;

  AnimationController() = default;
  AnimationController(const AnimationController&) = default;
  AnimationController& operator=(const AnimationController& other);

  void Initialize() override;
  void Uninitialize() override;
  void LogicUpdate(float dt);

  void SetAnimation(std::string name);
  void Play(std::string name, bool loop, float blendTime);
  void PlayUninterrupted(std::string name, float blendTime);
  void PlayOneShot(std::string name);
  void SetCurrentFrame(uint32_t frame);
  int32_t GetCurrentFrame() const { return int32_t(m_currentTrack.frame); }
  Base::Vec3 GetBoneOrientation(uint32_t bone, int32_t axis);
  uint32_t GetCurrentFrameCount() const { return m_currentTrack.keys ? m_currentTrack.frameCount : 0; }
  void AttachBone(uint32_t bone, Base::Vec3 offset, Base::Vec3 direction, bool flag);
  Base::Vec3 GetBonePosition(uint32_t bone, bool draw);
  float GetAnimationSpeed() const { return m_animationSpeed; }
  void SetAnimationSpeed(float speed) { m_animationSpeed = speed; }
  void SetLooping(bool looping) { m_looping = looping; }
  void SetIdleAnimation(std::string name);
  // Blends into the idle animation; without one the controller comes to rest on the bind pose.
  void Stop(float blendTime);
  void Pause(bool paused) { m_paused = paused; }

  // What the model binds on each draw: m_boneCount matrices transposed for the GPU's bone buffer
  // (null when there are none, so the model draws unskinned).
  const Base::Mat4* GetSkinningMatrices() const { return m_boneCount ? m_skinningMatrices.data() : nullptr; }
  uint32_t GetBoneCount() const { return uint32_t(m_boneCount); }
  const std::vector<Base::Mat4>& GetGlobalPose() const { return m_globalPose; }
  bool IsPaused() const { return m_paused; }
  const AnimationTrack& GetCurrentTrack() const { return m_currentTrack; }
  const AnimationTrack& GetPreviousTrack() const { return m_previousTrack; }

  // Fields after the base, in this order.
  Base::Handle m_model = Base::kNullHandle;
  float m_animationSpeed = 1.0f;
  bool m_looping = true;
  std::string m_currentAnimation;
  std::string m_idleAnimation;
  AnimationData* m_animationData = nullptr;
  std::vector<Base::Mat4> m_skinningMatrices;
  std::vector<Base::Mat4> m_localPose;
  std::vector<Base::Mat4> m_globalPose;
  std::vector<BoneAttachment> m_attachments;
  int32_t m_boneCount = 0;
  uint32_t m_meshId = 0;
  uint32_t m_currentHash = 0;
  uint32_t m_previousHash = 0;
  uint32_t m_idleHash = 0;
  AnimationTrack m_previousTrack;
  AnimationTrack m_currentTrack;
  bool m_paused = false;
  bool m_initialised = false;
  bool m_poseDirty = false;
  bool m_uninterrupted = false;
  bool m_oneShot = false;

 private:
  // The owner's model half and its mesh; null (logged once until found again) when either is missing.
  BaseModel* FindModel();
  Mesh* FindMesh(const BaseModel& model) const;
  void Setup();
  // Empties the skeleton: no bones, no pose, no tracks.
  void ClearSkeleton();
  // Points a track at an animation's keys; an animation the data cannot give whole (no frames, keys
  // beyond the file's) leaves the track empty.
  void LoadTrack(AnimationTrack& track, const void* range) const;
  void Advance(AnimationTrack& track, float dt);
  void BuildPose();
  const KeyFrame& Key(const AnimationTrack& track, uint32_t bone, uint32_t frame) const;
  Base::Mat4 BoneWorldFrame(const Core::Transform& transform) const;
  Core::Transform* FindTransform();

  // Parent of each bone as the pose is built: a file's parent that does not precede its child makes the
  // child a root.
  std::vector<int32_t> m_parents;
  // A new animation took a track: its first frame is posed even before the frame index moves.
  bool m_trackChanged = false;
  bool m_meshReported = false;  // the warnings about m_meshId's mesh have been logged
  bool m_modelMissingLogged = false;
  bool m_transformMissingLogged = false;
};

}  // namespace Graphics
