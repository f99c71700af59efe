// The Transform component: an object's translation, rotation and scale relative to its parent, the
// world values derived through the parent chain, a lazily rebuilt world matrix and a local axis frame.
#pragma once

#include "Base/Math.h"
#include "Core/GameComponent.h"

namespace Core {

class Transform : public GameComponent {
 public:
  static constexpr uint32_t kComponentType = ComponentType_Transform;

  // Listens on its object's hook table for parent changes and dirty parents.
  void Initialize() override;
  void Uninitialize() override;
  // Copies translation, rotation, scale and parent rotation only (what archetypes keep); marks the
  // world matrix dirty so that it follows the copied values.
  GameComponent& Assign(const GameComponent& other) override;

  // World values, through the chain of parent Transforms.
  Base::Vec3 Translation() const;
  Base::Quaternion Rotation() const;
  Base::Vec3 Scale() const;
  Base::Vec3 Forward() const;
  Base::Vec3 Up() const;
  Base::Vec3 Right() const;
  // The world setters first re-base on the parent whenever the stored parent rotation no longer undoes
  // the parent's world rotation (a parent turned since, or values read from a file), so that each sets
  // exactly the world value asked for. Non-finite values are logged and change nothing.
  void SetTranslation(Base::Vec3 translation);
  void SetRotation(Base::Quaternion rotation);
  // A component of the parent's world scale that is 0 leaves that component of the local scale as it is.
  void SetScale(Base::Vec3 scale);

  // Local values, relative to the parent. Non-finite values are logged and change nothing.
  Base::Vec3 LocalTranslation() const { return m_translation; }
  Base::Quaternion LocalRotation() const { return m_rotation; }
  Base::Vec3 LocalScale() const { return m_scale; }
  void SetLocalTranslation(Base::Vec3 translation);
  void SetLocalRotation(Base::Quaternion rotation);
  void SetLocalScale(Base::Vec3 scale);

  // The local axis frame (right-handed: right = up x forward). Setting one axis re-forms the other two;
  // a zero vector sets the axis to its default. None of them touches the world matrix.
  Base::Vec3 LocalForward() const { return m_localForward; }
  Base::Vec3 LocalUp() const { return m_localUp; }
  Base::Vec3 LocalRight() const { return m_localRight; }
  void SetLocalForward(Base::Vec3 forward);
  void SetLocalUp(Base::Vec3 up);
  void SetLocalRight(Base::Vec3 right);

  // Turns the local rotation so that the up direction points along `direction`. A zero or non-finite
  // direction is logged and changes nothing.
  void AlignToVector(Base::Vec3 direction);
  void ResetRotation();
  void ResetOrientation();

  // The world matrix (row-major, translation in elements 3, 7, 11), rebuilt first when dirty.
  Base::Mat4 GetWorldMatrix() const;
  // Marks the world matrix dirty and tells the children's Transforms ("DirtyWorldMatrix"), depth first.
  // A subtree already told since its root was last rebuilt is not walked again.
  void MarkWorldMatrixDirty();
  // The parent object's Transform, or null.
  Transform* GetParentTransform() const;

  // The Transform stops being its children's parent Transform: they are marked dirty (no hook fires).
  ~Transform() override;

  // Listeners on the owner's hook table.
  void OnDirtyParentRotation();
  void Parented();
  void UnParented();
  void OnEditorSelected();

  // Draws one line of the editor's axis gizmo; the debug-draw list installs it.
  using DebugLineDrawer = void (*)(const Base::Vec3& from, const Base::Vec3& to, const Base::Vec3& colour);
  static void SetDebugLineDrawer(DebugLineDrawer drawer);

  // Fields after the base, in this order.
  Base::Vec3 m_translation{0.0f, 0.0f, 0.0f};
  Base::Vec3 m_localForward{0.0f, 0.0f, 1.0f};
  Base::Vec3 m_localUp{0.0f, 1.0f, 0.0f};
  Base::Vec3 m_localRight{1.0f, 0.0f, 0.0f};
  Base::Vec3 m_scale{1.0f, 1.0f, 1.0f};
  Base::Quaternion m_rotation;
  // The inverse of the parent's world rotation at the last re-basing.
  Base::Quaternion m_parentRotation;

 private:
  // Re-expresses the local values against the parent's current world rotation when the stored parent
  // rotation does not undo it; world values unchanged.
  void RebaseOnParent(const Transform& parent);
  // Rebuilds the cached world values of this Transform and of its dirty ancestors, root-most first, each
  // from its parent's cached values: every Transform is computed once per change, however deep.
  void RefreshWorld() const;
  void ComputeWorld(const Transform* parent) const;
  // Marks the Transforms below dirty, depth first in child-list order, firing "DirtyWorldMatrix" on each
  // child object reached when asked to.
  void MarkDescendantsDirty(bool fireHooks);

  // World values and matrix, valid while not dirty. A clean Transform's ancestors are clean too, and a
  // Transform whose subtree was marked has every descendant dirty until it is rebuilt: marking keeps both.
  mutable Base::Mat4 m_worldMatrix;
  mutable Base::Quaternion m_worldRotation;
  mutable Base::Vec3 m_worldTranslation{0.0f, 0.0f, 0.0f};
  mutable Base::Vec3 m_worldScale{1.0f, 1.0f, 1.0f};
  mutable Base::Handle m_worldParent = Base::kNullHandle;  // the parent Transform they were computed under
  mutable const Transform* m_refreshBelow = nullptr;  // the next one down while a chain is rebuilt
  mutable bool m_dirty = true;
  mutable bool m_subtreeMarked = false;
  bool m_suppressNotification = false;
};

}  // namespace Core
