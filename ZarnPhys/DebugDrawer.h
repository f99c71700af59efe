// The one seam between the physics library and whatever draws debug shapes: the engine installs an
// implementation over its debug-draw queue, so the library itself links without the renderer.
#pragma once

#include "Base/Matrix.h"
#include "Base/Vector.h"

namespace ZarnPhys {

class DebugDrawer {
 public:
  virtual ~DebugDrawer() = default;
  virtual void DrawLine(const Base::Vec3& from, const Base::Vec3& to, const Base::Vec3& colour) = 0;
  virtual void DrawPoint(const Base::Vec3& position, const Base::Vec3& colour, bool solid) = 0;
  virtual void DrawCube(const Base::Vec3& position, const Base::Vec3& size, const Base::Mat4& rotation,
                        const Base::Vec3& colour, bool solid) = 0;
};

// Process-wide; null (the default) makes every debug drawing of the library a no-op.
void SetDebugDrawer(DebugDrawer* drawer);
DebugDrawer* GetDebugDrawer();

}  // namespace ZarnPhys
