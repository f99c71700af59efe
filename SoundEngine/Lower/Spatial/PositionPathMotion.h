// The motion of 3D automation paths: segment by segment along the vertices of a path's lists, each
// vertex strayed at random within its list's ranges, in step or continuous mode, in order or at
// random; the positions go to the path's targets, relative to the listener. Audio thread, under the
// global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/Spatial/PathMotion.h"

namespace SN {

struct SnPathVertex;
struct SnPathListItem;

// What a path moves: a playback instance's positioning.
class ISnPathTarget {
 public:
  // The position relative to the listener; not called while the target's position is frozen.
  virtual void SetPathPosition(const float position[3]) = 0;
  virtual bool IsPathPositionFrozen() const = 0;

 protected:
  ~ISnPathTarget() = default;
};

// Mode flags of a path's play list.
enum SnPathModeFlags : uint32_t { SnPathMode_Random = 0x1, SnPathMode_Continuous = 0x2 };
// A path's flag byte: start over when a continuous pass ends.
constexpr uint8_t kPathFlagLooping = 0x1;

// A listener's orientation at the moment a path began: rows of the transposed listener matrix.
struct SnFrozenListenerMatrix {
  uint32_t listener;
  float matrix[3][3];
};

class CSnPathMotion final : public ISnPathMotion {
 public:
  // Frees the motion of every path still known.
  void Term();

  bool Prepare(CSnPositionPath& path) override;
  void Launch(CSnPositionPath& path, uint32_t frame) override;
  void Pause(CSnPositionPath& path, uint32_t frame) override;
  void Resume(CSnPositionPath& path, uint32_t frame) override;
  void Advance(CSnPositionPath& path, uint32_t frame) override;
  void Terminate(CSnPositionPath& path) override;

  // 1, 52 without memory, 29 for a path without motion.
  SNRESULT AddTarget(CSnPositionPath& path, ISnPathTarget* target);
  void RemoveTarget(CSnPositionPath& path, ISnPathTarget* target);
  void SetLooping(CSnPositionPath& path, bool looping);
  // The last position given to the targets; false for a path without motion.
  bool CurrentPosition(const CSnPositionPath& path, float position[3]) const;
  // The result of the last launch: 1, 2 without a list, 37 for a list without vertices.
  SNRESULT LaunchResult(const CSnPositionPath& path) const;

  // Keeps the current orientation of every listener in `mask` for the path (the transpose of its
  // matrix) and the one of listener `listener`; null when it cannot be kept.
  void FreezeListenerMatrices(CSnPositionPath& path, uint32_t mask);
  const SnFrozenListenerMatrix* FreezeListenerMatrix(CSnPositionPath& path, uint32_t listener);
  // The orientation kept for `listener`, null when none is.
  const SnFrozenListenerMatrix* FrozenListenerMatrix(const CSnPositionPath& path, uint32_t listener) const;

  uint32_t Count() const { return m_motions.Count(); }

 private:
  struct Motion;
  Motion* Find(const CSnPositionPath& path) const;
  void NextVertex(Motion& motion);
  // 1 goes on from the new list's first vertex, 17 ends.
  SNRESULT NextList(Motion& motion);
  bool RandomPick(Motion& motion);
  void Publish(Motion& motion);

  SnArray<Motion*> m_motions;
};

namespace LowerEngine {

// The lower engine's path motion, installed by its Init when none is.
CSnPathMotion& PositionPathMotion();

}  // namespace LowerEngine
}  // namespace SN
