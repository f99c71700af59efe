// The debug-draw queue: primitives queued by the engine and scripts, kept per canvas until the
// renderer's debug-draw pass has drawn and aged them out.
#pragma once

#include <array>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "Base/Matrix.h"
#include "Base/Vector.h"

namespace Graphics {

class Canvas;

class DebugDraw {
 public:
  // The index of a primitive's list; the renderer draws each kind with its own unit mesh.
  enum ShapeKind : int { Line = 0, Quad, Cube, Sphere, Cylinder, Cone, Torus, ShapeKindCount };

  // One queued primitive, uploaded unchanged as per-instance data (stride 84).
  struct Shape {
    Base::Vec4 colour;  // alpha is always 1
    Base::Mat4 world;   // transpose(T * R * S): ready for the GPU's row vectors
    float time;         // remaining lifetime in seconds
  };

  struct ShapeLists {
    std::array<std::vector<Shape>, ShapeKindCount> lists;
    std::vector<Shape>& operator[](int kind) { return lists[kind]; }
    const std::vector<Shape>& operator[](int kind) const { return lists[kind]; }
  };

  using CanvasMap = std::unordered_map<Canvas*, ShapeLists>;

  // What every drawn frame takes off a record's lifetime: a fixed step, not the measured frame time.
  static constexpr float kFrameStep = 0.0167f;

  static DebugDraw& GetInstance();

  // Tests build their own queues; the engine and scripts share the one from GetInstance.
  DebugDraw() = default;
  DebugDraw(const DebugDraw&) = delete;
  DebugDraw& operator=(const DebugDraw&) = delete;

  // Lines ignore any fill mode: they always go to the wireframe lists.
  void DrawLine(const Base::Vec3& from, const Base::Vec3& to, const Base::Vec3& colour);
  // A cube of 0.1 on each side, unrotated.
  void DrawPoint(const Base::Vec3& position, const Base::Vec3& colour, bool solid);

  // Oriented primitives: the rotation as a matrix, or as Euler angles in radians.
  void DrawQuad(const Base::Vec3& position, const Base::Vec3& size, const Base::Mat4& rotation,
                const Base::Vec3& colour, bool solid);
  void DrawQuad(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation, Base::Vec3 colour, bool solid);
  void DrawCube(const Base::Vec3& position, const Base::Vec3& size, const Base::Mat4& rotation,
                const Base::Vec3& colour, bool solid);
  void DrawCube(Base::Vec3 position, Base::Vec3 size, Base::Vec3 rotation, Base::Vec3 colour, bool solid);
  void DrawSphere(const Base::Vec3& position, float radius, const Base::Mat4& rotation, const Base::Vec3& colour,
                  bool solid);
  void DrawSphere(Base::Vec3 position, float radius, Base::Vec3 rotation, Base::Vec3 colour, bool solid);
  void DrawCylinder(const Base::Vec3& position, float radius, float height, const Base::Mat4& rotation,
                    const Base::Vec3& colour, bool solid);
  void DrawCylinder(Base::Vec3 position, float radius, float height, Base::Vec3 rotation, Base::Vec3 colour,
                    bool solid);
  void DrawCone(const Base::Vec3& position, float radius, float height, const Base::Mat4& rotation,
                const Base::Vec3& colour, bool solid);
  void DrawCone(Base::Vec3 position, float radius, float height, Base::Vec3 rotation, Base::Vec3 colour, bool solid);
  void DrawTorus(const Base::Vec3& position, float radius, float height, const Base::Mat4& rotation,
                 const Base::Vec3& colour, bool solid);
  void DrawTorus(Base::Vec3 position, float radius, float height, Base::Vec3 rotation, Base::Vec3 colour,
                 bool solid);

  // The renderer's debug-draw pass calls this once per draw of `canvas`, after drawing its lists:
  // every record of the canvas (solid and wire) loses one frame step and the expired ones leave.
  // Nothing is aged for a null canvas: no pass draws it.
  void CanvasDrawn(Canvas* canvas);
  // One list's share of CanvasDrawn, for a pass that draws and ages list by list. Survivors change
  // order: an expired record is replaced by the last one.
  static void AgeList(std::vector<Shape>& list);
  // A canvas that goes away takes its records with it, and new records no longer go to it.
  void ForgetCanvas(Canvas* canvas);

  // Where records go while m_canvas is null: the renderer names the canvas it draws first (canvas 0),
  // so that what scripts and components queue is drawn even when nothing ever sets m_canvas. With no
  // source, or when it names no canvas, such records are dropped: no pass would draw or age them.
  using CanvasSource = Canvas* (*)();
  static void SetFallbackCanvas(CanvasSource source);

  // The canvas new records are filed under; set once a canvas to draw into exists (null until then).
  Canvas* m_canvas = nullptr;
  // Lifetime of the next records, in seconds; with m_oneShot it applies to the next record alone and
  // then falls back to 0. Callers set both directly.
  float m_drawTime = 0.0f;
  bool m_oneShot = false;
  CanvasMap m_wire;   // drawn in wireframe, after the solid ones
  CanvasMap m_solid;  // drawn solid

 private:
  // Files one record of `kind` built from T * R * S, then spends a one-shot lifetime.
  void Submit(CanvasMap& map, int kind, const Base::Vec3& position, const Base::Mat4& rotation,
              const Base::Vec3& scale, const Base::Vec3& colour);
};

static_assert(sizeof(DebugDraw::Shape) == 84, "the debug shader reads 84-byte instances");
static_assert(offsetof(DebugDraw::Shape, world) == 16 && offsetof(DebugDraw::Shape, time) == 80);

}  // namespace Graphics
