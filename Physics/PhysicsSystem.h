// The per-frame physics system: one physics world per game space, stepped every frame with the poses
// of the objects copied in before the step and back into their Transforms after it. It is the script
// global "physics".
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Base/Vector.h"
#include "Core/System.h"
#include "ZarnPhys/Entity.h"

namespace Core {
class GameSpace;
}

namespace ZarnPhys {
class PhysicsSpace;
}

namespace Physics {

class PhysicsSystem : public Core::System {
 public:
  PhysicsSystem();
  ~PhysicsSystem() override;

  void Initialize(Core::Engine* engine) override;
  const char* GetName() const override { return "PhysicsSystem"; }

  // Engine hooks.
  void FrameStep(float dt, Core::SpaceList* spaces);
  void GameSpaceCreated(Core::GameSpace* space);
  void GameSpaceDeleted(Core::GameSpace* space);
  void GameSpaceLoaded(Core::GameSpace* space);
  // Also a script method.
  void SwitchDebugDraw(bool on) { m_debugDraw = on; }

  // The collision mask of a group: every bit for -1, else the group's own bit.
  static uint32_t GroupToMask(int32_t group);

  // The world of a game space, or null; never adds an entry.
  static ZarnPhys::PhysicsSpace* FindSpace(Core::GameSpace* space);
  // The records the components append from their "PrepareForStep" listeners.
  static std::vector<ZarnPhys::EntityTransform>& TransformList();

  bool m_canvasBound = false;
  bool m_debugDraw = false;

 private:
  void WriteBack();
};

// Frames: the physics library's z axis is the negative of the engine's.
Base::Vec3 ToPhysicsFrame(Base::Vec3 v);
Base::Mat3 ToPhysicsFrame(const Base::Mat3& orientation);

}  // namespace Physics
