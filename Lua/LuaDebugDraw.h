// The debug-draw queue as scripts see it (the global "debugdraw"): a current colour and fill mode
// on top of the queue, whose lifetimes it shares with the engine's own callers.
#pragma once

#include "Base/Vector.h"

namespace Graphics {
class DebugDraw;
}

namespace Lua {

class LuaDebugDraw {
 public:
  // The one object scripts share; the Lua environment publishes it.
  static LuaDebugDraw& GetInstance();

  // Tests build their own; the queue is the process-wide one.
  LuaDebugDraw();

  void SetSolid(bool solid);
  // A lasting lifetime for the next primitives, in seconds.
  void SetDrawTime(float seconds);
  // A lifetime for the next primitive alone.
  void PushDrawTime(float seconds);
  void SetColor(Base::Vec3 colour);

  // The point takes its own colour; the line is always wireframe. Rotations are Euler angles in radians.
  void DrawPoint(Base::Vec3 position, Base::Vec3 colour);
  void DrawLine(Base::Vec3 from, Base::Vec3 to);
  void DrawQuad(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation);
  void DrawCube(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation);
  void DrawSphere(Base::Vec3 position, float radius, Base::Vec3 rotation);
  void DrawCylinder(Base::Vec3 position, float radius, float height, Base::Vec3 rotation);
  void DrawCone(Base::Vec3 position, float radius, float height, Base::Vec3 rotation);
  void DrawTorus(Base::Vec3 position, float radius, float height, Base::Vec3 rotation);

  bool IsSolid() const { return m_isSolid; }
  const Base::Vec3& GetColor() const { return m_color; }

 private:
  Graphics::DebugDraw* m_queue;
  bool m_isSolid = false;
  Base::Vec3 m_color{1.0f, 1.0f, 0.0f};
};

}  // namespace Lua
