// Playing, blending and posing skeletal animations, and the controller's registration.
#include "Graphics/Components/AnimationController.h"

#include <cmath>

#include "Base/Reflection/Registration.h"
#include "Core/ComponentCreator.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/DebugDraw.h"
#include "Graphics/Log.h"
#include "Graphics/Mesh.h"
#include "Graphics/RenderableObject.h"
#include "Base/ResourceCollection.h"

namespace Graphics {

namespace {

const Base::Mat4 kMirrorZ = Base::Mat4::BuildScale(1.0f, 1.0f, -1.0f);

Base::Mat4 RotationMatrix(const Base::Quaternion& rotation) { return Base::Mat4(rotation.ToMat3Transposed()); }

// translation(position) x rotation matrix, written out: the product only places the translation.
Base::Mat4 BonePose(const Base::Vec3& position, const Base::Quaternion& rotation) {
  Base::Mat4 pose = RotationMatrix(rotation);
  pose(0, 3) = position.x;
  pose(1, 3) = position.y;
  pose(2, 3) = position.z;
  return pose;
}

// a x b for an `a` whose last row is (0, 0, 0, 1), as every bone pose is: the last row of the
// product is b's own.
void AffineTimes(const Base::Mat4& a, const Base::Mat4& b, Base::Mat4& out) {
  for (int r = 0; r < 3; ++r) {
    const float* row = a.m + r * 4;
    float* o = out.m + r * 4;
    for (int c = 0; c < 4; ++c) o[c] = row[0] * b.m[c] + row[1] * b.m[4 + c] + row[2] * b.m[8 + c] + row[3] * b.m[12 + c];
  }
  for (int c = 0; c < 4; ++c) out.m[12 + c] = b.m[12 + c];
}

Base::Vec3 XYZ(const Base::Vec4& v) { return {v.x, v.y, v.z}; }

// The frame shown at a time, taken in double precision so that no time overflows the count.
uint32_t FrameAt(float time, uint32_t frameCount) {
  return uint32_t(std::fmod(std::floor(double(time) * AnimationController::kFrameRate), double(frameCount)));
}

}  // namespace

AnimationController& AnimationController::operator=(const AnimationController& other) {
  Assign(other);
  m_model = other.m_model;
  m_animationSpeed = other.m_animationSpeed;
  m_looping = other.m_looping;
  m_currentAnimation = other.m_currentAnimation;
  m_idleAnimation = other.m_idleAnimation;
  m_animationData = other.m_animationData;
  m_skinningMatrices = other.m_skinningMatrices;
  m_localPose = other.m_localPose;
  m_globalPose = other.m_globalPose;
  m_attachments = other.m_attachments;
  m_boneCount = other.m_boneCount;
  m_meshId = other.m_meshId;
  m_currentHash = other.m_currentHash;
  m_previousHash = other.m_previousHash;
  m_idleHash = other.m_idleHash;
  m_previousTrack = other.m_previousTrack;
  m_currentTrack = other.m_currentTrack;
  m_paused = other.m_paused;
  m_initialised = other.m_initialised;
  m_poseDirty = other.m_poseDirty;
  m_uninterrupted = other.m_uninterrupted;
  m_oneShot = other.m_oneShot;
  m_parents = other.m_parents;
  return *this;
}

// --- Finding the model ------------------------------------------------------------------------------

BaseModel* AnimationController::FindModel() {
  Core::GameComponent* component = m_space ? m_space->GetComponent(m_model) : nullptr;
  // The model component carries its drawing half as a base of its own.
  BaseModel* model = component && component->m_componentType == Core::ComponentType_Model
                         ? dynamic_cast<BaseModel*>(component)
                         : nullptr;
  if (!model) {
    if (!m_modelMissingLogged) GFX_LOG(Warning, "Could not find model for %i", int(uint32_t(m_self)));
    m_modelMissingLogged = true;
    return nullptr;
  }
  m_modelMissingLogged = false;
  return model;
}

Mesh* AnimationController::FindMesh(const BaseModel& model) const {
  Base::Resources<Mesh>& meshes = Base::Resources<Mesh>::Instance();
  return model.GetMeshID() < meshes.GetEntryCount() ? meshes.GetResourceById(model.GetMeshID()) : nullptr;
}

Core::Transform* AnimationController::FindTransform() {
  Core::Transform* transform = GetOwnerTransform();
  if (!transform && !m_transformMissingLogged)
    GFX_LOG(Warning, "Animation controller %i has no live Transform", int(uint32_t(m_self)));
  m_transformMissingLogged = !transform;
  return transform;
}

// --- Setup ------------------------------------------------------------------------------------------

void AnimationController::ClearSkeleton() {
  m_animationData = nullptr;
  m_boneCount = 0;
  m_skinningMatrices.clear();
  m_localPose.clear();
  m_globalPose.clear();
  m_parents.clear();
  m_previousTrack = m_currentTrack = AnimationTrack();
}

void AnimationController::LoadTrack(AnimationTrack& track, const void* rangePointer) const {
  const auto* range = static_cast<const AnimationData::Range*>(rangePointer);
  track.keys = nullptr;
  track.animationIndex = 0;
  track.frameCount = 0;
  if (!range || !m_animationData || range->frameCount == 0) return;
  const uint64_t end = uint64_t(range->firstRecord) + uint64_t(range->frameCount) * uint64_t(m_boneCount);
  if (end > m_animationData->m_keyFrameCount) return;
  track.keys = m_animationData->GetAnimationByIndex(range->firstRecord);
  track.animationIndex = range->firstRecord;
  track.frameCount = range->frameCount;
}

void AnimationController::Setup() {
  Core::GameObject* owner = GetOwner();
  m_model = owner ? owner->m_components[Core::ComponentType_Model] : Base::kNullHandle;
  BaseModel* model = owner ? FindModel() : nullptr;
  Mesh* mesh = model ? FindMesh(*model) : nullptr;
  if (!mesh) {
    ClearSkeleton();
    return;
  }
  // Remembered first: a mesh without a skeleton is set up once, not on every update, and what is
  // wrong with a mesh is reported once, not again by the first update's fresh setup.
  const bool report = !m_meshReported || m_meshId != model->GetMeshID();
  m_meshReported = true;
  m_meshId = model->GetMeshID();
  AnimationData& data = mesh->GetAnimationData();
  const uint32_t bones = data.GetBoneCount();
  if (!mesh->IsAnimated() || bones == 0 || data.GetBoneMatrices().size() < bones) {
    if (report) GFX_LOG(Warning, "Mesh %s has no animation data", mesh->m_fileName.c_str());
    ClearSkeleton();
    return;
  }
  m_animationData = &data;
  m_boneCount = int32_t(bones);
  m_skinningMatrices.assign(bones, kMirrorZ);
  m_localPose.assign(bones, Base::Mat4());
  m_globalPose.assign(bones, Base::Mat4());
  m_parents.assign(bones, -1);
  for (uint32_t b = 1; b < bones; ++b) {
    const uint32_t parent = data.m_boneParents[b];
    if (parent < b) {
      m_parents[b] = int32_t(parent);
    } else if (report) {
      GFX_LOG(Warning, "Bone %u of mesh %s names parent %u, which does not precede it: taken as a root", b,
              mesh->m_fileName.c_str(), parent);
    }
  }
  m_previousTrack = m_currentTrack = AnimationTrack();
  if (m_currentAnimation.empty()) return;
  m_currentHash = Base::HashName(m_currentAnimation.c_str());
  data.SetCurrentAnimation(m_currentHash);
  LoadTrack(m_currentTrack, data.FindAnimationByHash(m_currentHash));
}

void AnimationController::Initialize() {
  if (!m_space) return;
  static const Base::Function logicUpdate(Base::MakeSignature<&AnimationController::LogicUpdate>(),
                                          &Base::Thunk<&AnimationController::LogicUpdate>,
                                          "AnimationController::LogicUpdate");
  m_space->GetHooks().AddComponentListener("LogicUpdate", m_self, logicUpdate);
  Setup();
}

void AnimationController::Uninitialize() {
  if (!m_space) return;
  m_space->GetHooks().RemoveComponentListener("LogicUpdate", m_self);
  Core::GameComponent* component = m_space->GetComponent(m_model);
  BaseModel* model = component ? dynamic_cast<BaseModel*>(component) : nullptr;
  if (Mesh* mesh = model ? FindMesh(*model) : nullptr) {
    mesh->m_skinnedUpload = false;
    mesh->UploadVertices(false);
  }
  m_previousTrack = m_currentTrack = AnimationTrack();
}

// --- Playing ----------------------------------------------------------------------------------------

const KeyFrame& AnimationController::Key(const AnimationTrack& track, uint32_t bone, uint32_t frame) const {
  return track.keys[bone * track.frameCount + frame];
}

void AnimationController::LogicUpdate(float dt) {
  BaseModel* model = FindModel();
  if (!model) return;
  if (m_meshId != model->GetMeshID() || !m_initialised) {
    Setup();
    m_initialised = true;
  }
  if (m_paused && !m_poseDirty) return;
  if (m_previousTrack.keys && m_previousTrack.blendRemaining > 0.0f) {
    // The blend weight moves on every update: so does the pose.
    m_poseDirty = true;
    m_previousTrack.blendRemaining -= m_animationSpeed * dt;
    Advance(m_previousTrack, dt);
  }
  if (m_currentTrack.keys) Advance(m_currentTrack, dt);
  if (m_poseDirty || m_trackChanged) BuildPose();
  m_poseDirty = m_trackChanged = false;
}

void AnimationController::Advance(AnimationTrack& track, float dt) {
  track.time += m_animationSpeed * dt;
  if (!(track.time > Key(track, 0, track.frame).time)) return;
  // The pose is rebuilt when the frame shown changes, not on every update between two keys.
  const uint32_t shown = track.frame;
  track.frame = FrameAt(track.time, track.frameCount);
  if (track.frame != shown) m_poseDirty = true;
  const float last = Key(track, 0, track.frameCount - 1).time;
  if (!(track.time > last)) return;
  m_poseDirty = true;
  if (m_looping) {
    // A timeline that never moves forward cannot be wrapped by stepping back: it rests on frame 0.
    if (!(last > 0.0f)) {
      track.time = 0.0f;
      track.frame = 0;
    } else {
      track.time = std::fmod(track.time, last);
      if (track.time == 0.0f) track.time = last;
      // The frame follows the wrapped time: kept on the last frame, the track would hold it until
      // the time passed the last key again, a whole loop later.
      track.frame = FrameAt(track.time, track.frameCount);
    }
  } else if (m_oneShot) {
    m_paused = true;
    track.time = last;
    track.frame = track.frameCount - 1;
  } else if (m_uninterrupted) {
    std::swap(m_previousTrack, m_currentTrack);
    m_previousTrack.blendRemaining = m_previousTrack.blendTotal = 0.1f;
    if (m_animationData) m_animationData->SetCurrentAnimation(m_previousHash);
    std::swap(m_currentHash, m_previousHash);
    m_uninterrupted = false;
    m_currentTrack.frame = 0;
    m_currentTrack.time = 0.0f;
    m_looping = true;
  } else {
    m_previousTrack = track;
    m_previousTrack.blendRemaining = m_previousTrack.blendTotal = 0.2f;
    if (m_animationData) m_animationData->SetCurrentAnimation(m_idleHash);
    m_currentHash = m_idleHash;
    AnimationTrack idle;
    LoadTrack(idle, m_animationData ? m_animationData->FindAnimationByHash(m_idleHash) : nullptr);
    m_currentTrack = idle;
    m_looping = true;
  }
}

void AnimationController::BuildPose() {
  const uint32_t bones = uint32_t(m_boneCount);
  const bool blending = m_previousTrack.keys && m_previousTrack.blendRemaining > 0.0f && m_currentTrack.keys;
  if (blending) {
    const float t = m_previousTrack.blendRemaining / m_previousTrack.blendTotal;
    for (uint32_t b = 0; b < bones; ++b) {
      const KeyFrame& previous = Key(m_previousTrack, b, m_previousTrack.frame);
      const KeyFrame& current = Key(m_currentTrack, b, m_currentTrack.frame);
      const Base::Vec3 position = previous.position * t + current.position * (1.0f - t);
      m_localPose[b] = BonePose(position, current.rotation.Slerp(previous.rotation, t));
    }
  } else if (m_currentTrack.keys) {
    for (uint32_t b = 0; b < bones; ++b) {
      const KeyFrame& key = Key(m_currentTrack, b, m_currentTrack.frame);
      m_localPose[b] = BonePose(key.position, key.rotation);
    }
  } else {
    for (Base::Mat4& m : m_skinningMatrices) m = kMirrorZ;  // its own transpose
    return;
  }
  const std::vector<Base::Mat4>& bind = m_animationData->GetBoneMatrices();
  Base::Mat4 skin;
  for (uint32_t b = 0; b < bones; ++b) {
    if (m_parents[b] < 0)
      m_globalPose[b] = m_localPose[b];
    else
      AffineTimes(m_globalPose[uint32_t(m_parents[b])], m_localPose[b], m_globalPose[b]);
    // scale(1, 1, -1) x global x bind, handed to the GPU transposed.
    AffineTimes(m_globalPose[b], bind[b], skin);
    for (int c = 0; c < 4; ++c) skin.m[8 + c] = -skin.m[8 + c];
    m_skinningMatrices[b] = skin.Transposed();
  }
}

void AnimationController::Play(std::string name, bool loop, float blendTime) {
  if (!m_animationData) {
    GFX_LOG(Error, "Trying to animate with no valid animation data");
    return;
  }
  const uint32_t hash = Base::HashName(name.c_str());
  if (!m_uninterrupted) {
    m_previousTrack = m_currentTrack;
    m_previousTrack.blendRemaining = m_previousTrack.blendTotal = blendTime;
    m_previousHash = m_currentHash;
    m_currentHash = hash;
    m_currentTrack = AnimationTrack();
    LoadTrack(m_currentTrack, m_animationData->FindAnimationByHash(hash));
    m_looping = loop;
    m_animationData->SetCurrentAnimation(hash);
    m_trackChanged = true;
  } else if (hash != m_currentHash) {
    m_previousHash = hash;
    LoadTrack(m_previousTrack, m_animationData->FindAnimationByHash(hash));
  }
}

void AnimationController::SetAnimation(std::string name) {
  Play(name, m_looping, 1.0f);
  m_currentAnimation = std::move(name);
}

void AnimationController::PlayOneShot(std::string name) {
  Play(std::move(name), false, 0.0f);
  m_oneShot = true;
}

void AnimationController::PlayUninterrupted(std::string name, float blendTime) {
  Play(std::move(name), false, blendTime);
  m_uninterrupted = true;
}

void AnimationController::Stop(float blendTime) {
  m_previousTrack = m_currentTrack;
  m_previousHash = m_currentHash;
  m_previousTrack.blendRemaining = m_previousTrack.blendTotal = blendTime;
  m_currentHash = m_idleHash;
  m_looping = true;
  m_currentTrack = AnimationTrack();
  if (!m_animationData) return;
  m_trackChanged = true;
  m_animationData->SetCurrentAnimation(m_idleHash);
  // No idle animation: the current track stays empty and the pose settles on the bind pose.
  if (m_animationData->HasAnimation(m_idleAnimation.c_str()))
    LoadTrack(m_currentTrack, m_animationData->GetAnimationByName(m_idleAnimation.c_str()));
}

void AnimationController::SetIdleAnimation(std::string name) {
  if (!m_animationData) {
    GFX_LOG(Error, "Trying to set idle animation to a mesh without animation data");
    return;
  }
  if (!m_animationData->HasAnimation(name.c_str())) {
    GFX_LOG(Warning, "Couldn't set idle animation %s", name.c_str());
    return;
  }
  m_idleHash = Base::HashName(name.c_str());
  m_idleAnimation = std::move(name);
}

void AnimationController::SetCurrentFrame(uint32_t frame) {
  if (!m_currentTrack.keys) return;
  m_currentTrack.frame = frame % m_currentTrack.frameCount;
  m_currentTrack.time = float(m_currentTrack.frame) * (1.0f / kFrameRate);
  m_poseDirty = true;
}

// --- Bones in the world -----------------------------------------------------------------------------

Base::Mat4 AnimationController::BoneWorldFrame(const Core::Transform& transform) const {
  return Base::Mat4(transform.Rotation().ToMat3()) * Base::Mat4::BuildScale(transform.Scale()) * kMirrorZ;
}

Base::Vec3 AnimationController::GetBoneOrientation(uint32_t bone, int32_t axis) {
  Core::Transform* transform = FindTransform();
  if (!transform || bone >= uint32_t(m_boneCount)) return {0.0f, 0.0f, 0.0f};
  const Base::Vec4 d = axis == 1 ? Base::Vec4(0, 1, 0, 0) : axis == 2 ? Base::Vec4(0, 0, 1, 0) : Base::Vec4(1, 0, 0, 0);
  return XYZ(BoneWorldFrame(*transform) * (m_globalPose[bone] * d));
}

Base::Vec3 AnimationController::GetBonePosition(uint32_t bone, bool draw) {
  Core::Transform* transform = FindTransform();
  if (!transform) return {0.0f, 0.0f, 0.0f};
  Base::Mat4 m;
  if (bone < uint32_t(m_boneCount))
    m = m_globalPose[bone];
  else if (bone - uint32_t(m_boneCount) < m_attachments.size())
    m = m_attachments[bone - uint32_t(m_boneCount)].matrix.Inverse();
  else
    return {0.0f, 0.0f, 0.0f};
  const Base::Vec3 p = XYZ(BoneWorldFrame(*transform) * (m * Base::Vec4(0, 0, 0, 1))) + transform->Translation();
  if (draw) {
    DebugDraw& debug = DebugDraw::GetInstance();
    debug.DrawSphere(p, 0.5f, Base::Mat4(), Base::Vec3(1, 1, 1), false);
    const Base::Vec3 colours[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int axis = 0; axis < 3; ++axis) debug.DrawLine(p, p + GetBoneOrientation(bone, axis), colours[axis]);
  }
  return p;
}

void AnimationController::AttachBone(uint32_t bone, Base::Vec3 offset, Base::Vec3 direction, bool flag) {
  if (bone >= uint32_t(m_boneCount) || !m_animationData) return;
  const std::vector<Base::Mat4>& set = flag ? m_animationData->GetBoneMatrices() : m_animationData->GetSecondBoneMatrices();
  const Base::Mat4 b = bone < set.size() ? set[bone] : Base::Mat4();
  const Base::Vec3 q = XYZ(b * Base::Vec4(offset.x, offset.y, offset.z, 1.0f));
  BoneAttachment attachment;
  attachment.bone = bone;
  attachment.position = {q.x, q.y, q.z, 0.0f};
  attachment.orientation = Base::Quaternion(q, q + direction, Base::Vec3(0, 1, 0));
  attachment.matrix = flag ? Base::Mat4::BuildTranslation(offset).Inverse() : Base::Mat4::BuildTranslation(q);
  m_attachments.push_back(attachment);
}

}  // namespace Graphics

ORV_ON_LOAD {
  Core::RegisterComponentCreator<Graphics::AnimationController>(Core::ComponentType_AnimationController);
}

ORV_REFLECT_CLASS(Graphics::AnimationController) {
  using Graphics::AnimationController;
  Core::InstallComponentOps(type.Record());
  Base::Function& setAnimation = type.Method<&AnimationController::SetAnimation>("SetAnimation", nullptr,
                                                                                  "Sets the current animation");
  type.Field(&AnimationController::m_currentAnimation, "m_currentAnimation", &setAnimation, nullptr);
  type.Method<&AnimationController::Play>("Play");
  type.Method<&AnimationController::PlayUninterrupted>("PlayUninterrupted");
  type.Method<&AnimationController::PlayOneShot>("PlayOneShot");
  type.Method<&AnimationController::SetCurrentFrame>("SetCurrentFrame");
  type.Method<&AnimationController::GetCurrentFrame>("GetCurrentFrame");
  type.Method<&AnimationController::GetBoneOrientation>("GetBoneOrientation");
  type.Method<&AnimationController::GetCurrentFrameCount>("GetCurrentFrameCount");
  type.Method<&AnimationController::AttachBone>("AttachBone");
  type.Method<&AnimationController::GetBonePosition>("GetBonePosition");
  ORV_PROPERTY(m_animationSpeed, SetAnimationSpeed, "Sets the animation speed", GetAnimationSpeed,
               "Gets the animation speed");
  Base::Function& setLooping =
      type.Method<&AnimationController::SetLooping>("SetLooping", nullptr, "Sets current animation to looping");
  type.Field(&AnimationController::m_looping, "m_looping", &setLooping, nullptr);
  Base::Function& setIdle =
      type.Method<&AnimationController::SetIdleAnimation>("SetIdleAnimation", nullptr, "Sets the idle animation");
  type.Field(&AnimationController::m_idleAnimation, "m_idleAnimation", &setIdle, nullptr);
  type.Method<&AnimationController::Stop>("Stop", nullptr, "Stops the animation sequence and goes to idle if it exists");
  type.Method<&AnimationController::Pause>("Pause", nullptr, "Pauses the current animation");
}
