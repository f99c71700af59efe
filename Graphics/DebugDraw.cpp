// The debug-draw queue: placement of each primitive's unit mesh, lifetimes and ageing.
#include "Graphics/DebugDraw.h"

#include "Base/Quaternion.h"
#include "Base/Reflection/Registration.h"
#include "Core/Transform.h"

namespace Graphics {
namespace {

using Base::Mat4;
using Base::Vec3;

Mat4 EulerRotation(const Vec3& radians) { return Base::Quaternion(radians).ToMat4(); }

// The unit meshes are one unit across: a radius becomes a diameter.
Vec3 RoundScale(float radius, float height) { return {2.0f * radius, height, 2.0f * radius}; }

DebugDraw::CanvasSource g_fallbackCanvas = nullptr;

}  // namespace

void DebugDraw::SetFallbackCanvas(CanvasSource source) { g_fallbackCanvas = source; }

DebugDraw& DebugDraw::GetInstance() {
  static DebugDraw instance;
  return instance;
}

void DebugDraw::Submit(CanvasMap& map, int kind, const Vec3& position, const Mat4& rotation, const Vec3& scale,
                       const Vec3& colour) {
  // Without a canvas no pass would ever draw or age the record: keeping it would only pile records
  // up. The one-shot lifetime is spent all the same, as the next submission is the one it was for.
  Canvas* canvas = m_canvas ? m_canvas : (g_fallbackCanvas ? g_fallbackCanvas() : nullptr);
  if (canvas) {
    const Mat4 world = Mat4::BuildTranslation(position) * rotation * Mat4::BuildScale(scale);
    map[canvas][kind].push_back({Base::Vec4(colour, 1.0f), world.Transposed(), m_drawTime});
  }
  if (m_oneShot) {
    m_drawTime = 0.0f;
    m_oneShot = false;
  }
}

void DebugDraw::DrawLine(const Vec3& from, const Vec3& to, const Vec3& colour) {
  Vec3 direction = to - from;
  const float length = direction.Length();
  direction.Normalize();
  // The unit line runs along +X; a line along -X turns half way round Y.
  const Base::Quaternion turn(Vec3(1.0f, 0.0f, 0.0f), direction, Vec3(0.0f, 1.0f, 0.0f));
  Submit(m_wire, Line, from, turn.ToMat4(), Vec3(length, 0.0f, 0.0f), colour);
}

void DebugDraw::DrawPoint(const Vec3& position, const Vec3& colour, bool solid) {
  DrawCube(position, Vec3(0.1f, 0.1f, 0.1f), Mat4(), colour, solid);
}

void DebugDraw::DrawQuad(const Vec3& position, const Vec3& size, const Mat4& rotation, const Vec3& colour,
                         bool solid) {
  Submit(solid ? m_solid : m_wire, Quad, position, rotation, size, colour);
}

void DebugDraw::DrawQuad(Vec3 position, Vec3 size, Vec3 rotation, Vec3 colour, bool solid) {
  DrawQuad(position, size, EulerRotation(rotation), colour, solid);
}

void DebugDraw::DrawCube(const Vec3& position, const Vec3& size, const Mat4& rotation, const Vec3& colour,
                         bool solid) {
  Submit(solid ? m_solid : m_wire, Cube, position, rotation, size, colour);
}

void DebugDraw::DrawCube(Vec3 position, Vec3 size, Vec3 rotation, Vec3 colour, bool solid) {
  DrawCube(position, size, EulerRotation(rotation), colour, solid);
}

void DebugDraw::DrawSphere(const Vec3& position, float radius, const Mat4& rotation, const Vec3& colour,
                           bool solid) {
  const float diameter = 2.0f * radius;
  Submit(solid ? m_solid : m_wire, Sphere, position, rotation, Vec3(diameter, diameter, diameter), colour);
}

void DebugDraw::DrawSphere(Vec3 position, float radius, Vec3 rotation, Vec3 colour, bool solid) {
  DrawSphere(position, radius, EulerRotation(rotation), colour, solid);
}

void DebugDraw::DrawCylinder(const Vec3& position, float radius, float height, const Mat4& rotation,
                             const Vec3& colour, bool solid) {
  Submit(solid ? m_solid : m_wire, Cylinder, position, rotation, RoundScale(radius, height), colour);
}

void DebugDraw::DrawCylinder(Vec3 position, float radius, float height, Vec3 rotation, Vec3 colour, bool solid) {
  DrawCylinder(position, radius, height, EulerRotation(rotation), colour, solid);
}

void DebugDraw::DrawCone(const Vec3& position, float radius, float height, const Mat4& rotation,
                         const Vec3& colour, bool solid) {
  Submit(solid ? m_solid : m_wire, Cone, position, rotation, RoundScale(radius, height), colour);
}

void DebugDraw::DrawCone(Vec3 position, float radius, float height, Vec3 rotation, Vec3 colour, bool solid) {
  DrawCone(position, radius, height, EulerRotation(rotation), colour, solid);
}

void DebugDraw::DrawTorus(const Vec3& position, float radius, float height, const Mat4& rotation,
                          const Vec3& colour, bool solid) {
  Submit(solid ? m_solid : m_wire, Torus, position, rotation, RoundScale(radius, height), colour);
}

void DebugDraw::DrawTorus(Vec3 position, float radius, float height, Vec3 rotation, Vec3 colour, bool solid) {
  DrawTorus(position, radius, height, EulerRotation(rotation), colour, solid);
}

void DebugDraw::AgeList(std::vector<Shape>& list) {
  for (size_t i = 0; i < list.size();) {
    Shape& shape = list[i];
    shape.time -= kFrameStep;
    // A NaN lifetime counts as expired: it would otherwise never leave.
    if (shape.time >= 0.0f) {
      ++i;
      continue;
    }
    // The last record takes the slot and is examined there; the list never shifts.
    shape = list.back();
    list.pop_back();
  }
}

void DebugDraw::CanvasDrawn(Canvas* canvas) {
  if (!canvas) return;
  for (CanvasMap* map : {&m_solid, &m_wire}) {
    const auto entry = map->find(canvas);
    if (entry == map->end()) continue;
    for (std::vector<Shape>& list : entry->second.lists) AgeList(list);
  }
}

void DebugDraw::ForgetCanvas(Canvas* canvas) {
  if (m_canvas == canvas) m_canvas = nullptr;
  m_wire.erase(canvas);
  m_solid.erase(canvas);
}

}  // namespace Graphics

// The editor's axis gizmo on a selected Transform draws through this queue.
ORV_ON_LOAD {
  Core::Transform::SetDebugLineDrawer([](const Base::Vec3& from, const Base::Vec3& to, const Base::Vec3& colour) {
    Graphics::DebugDraw::GetInstance().DrawLine(from, to, colour);
  });
}
