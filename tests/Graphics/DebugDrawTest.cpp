// The debug-draw queue: where each primitive's unit mesh lands, which list it joins, and how drawn
// frames age records out.
#include <gtest/gtest.h>

#include <cmath>

#include "Base/Quaternion.h"
#include "Core/Transform.h"
#include "Graphics/DebugDraw.h"

namespace {

using Base::Mat4;
using Base::Vec3;
using Base::Vec4;
using Graphics::DebugDraw;

// Canvases are only keys to the queue: any two distinct addresses will do.
alignas(8) char g_canvasStorage[2];
Graphics::Canvas* const kCanvas = reinterpret_cast<Graphics::Canvas*>(&g_canvasStorage[0]);
Graphics::Canvas* const kOtherCanvas = reinterpret_cast<Graphics::Canvas*>(&g_canvasStorage[1]);

// Where a record puts a point of its unit mesh (the record holds the transposed placement).
Vec4 Place(const DebugDraw::Shape& shape, const Vec3& point) { return shape.world.Transposed() * Vec4(point, 1.0f); }

void ExpectNear(const Vec4& actual, const Vec3& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-5f);
  EXPECT_NEAR(actual.y, expected.y, 1e-5f);
  EXPECT_NEAR(actual.z, expected.z, 1e-5f);
  EXPECT_FLOAT_EQ(actual.w, 1.0f);
}

class DebugDrawTest : public ::testing::Test {
 protected:
  void SetUp() override { queue_.m_canvas = kCanvas; }
  std::vector<DebugDraw::Shape>& Wire(int kind) { return queue_.m_wire[kCanvas][kind]; }
  std::vector<DebugDraw::Shape>& Solid(int kind) { return queue_.m_solid[kCanvas][kind]; }

  DebugDraw queue_;
};

TEST_F(DebugDrawTest, LinesRunFromTheirFirstPointToTheirSecond) {
  queue_.DrawLine(Vec3(0, 0, 0), Vec3(0, 0, 5), Vec3(0.5f, 0.25f, 1.0f));
  queue_.DrawLine(Vec3(1, 2, 3), Vec3(-3, 2, 3), Vec3(1, 0, 0));  // along -X: the half turn
  queue_.DrawLine(Vec3(1, 1, 1), Vec3(1, 1, 1), Vec3(1, 0, 0));   // no length, no NaNs
  ASSERT_EQ(Wire(DebugDraw::Line).size(), 3u);
  const DebugDraw::Shape& line = Wire(DebugDraw::Line)[0];
  EXPECT_EQ(line.colour, Vec4(0.5f, 0.25f, 1.0f, 1.0f));
  EXPECT_EQ(line.time, 0.0f);
  ExpectNear(Place(line, Vec3(0, 0, 0)), Vec3(0, 0, 0));
  ExpectNear(Place(line, Vec3(1, 0, 0)), Vec3(0, 0, 5));
  ExpectNear(Place(Wire(DebugDraw::Line)[1], Vec3(1, 0, 0)), Vec3(-3, 2, 3));
  ExpectNear(Place(Wire(DebugDraw::Line)[2], Vec3(1, 0, 0)), Vec3(1, 1, 1));
  for (float element : Wire(DebugDraw::Line)[2].world.m) EXPECT_TRUE(std::isfinite(element));
  EXPECT_TRUE(queue_.m_solid.empty());
}

TEST_F(DebugDrawTest, ShapesArePlacedScaledAndRotatedAndFiledByFillMode) {
  queue_.DrawCube(Vec3(1, 2, 3), Vec3(2, 4, 6), Vec3(0, 0, 0), Vec3(0, 1, 0), true);
  ASSERT_EQ(Solid(DebugDraw::Cube).size(), 1u);
  ExpectNear(Place(Solid(DebugDraw::Cube)[0], Vec3(0.5f, 0.5f, 0.5f)), Vec3(2, 4, 6));
  EXPECT_EQ(Solid(DebugDraw::Cube)[0].colour, Vec4(0, 1, 0, 1));

  // The Euler form is the matrix form with the quaternion's rotation: T * R * S.
  const Vec3 euler(0.3f, -1.2f, 0.7f);
  const Mat4 rotation = Base::Quaternion(euler).ToMat4();
  queue_.DrawCylinder(Vec3(5, 0, 0), 0.5f, 3.0f, euler, Vec3(1, 1, 1), false);
  queue_.DrawCylinder(Vec3(5, 0, 0), 0.5f, 3.0f, rotation, Vec3(1, 1, 1), false);
  const auto& cylinders = Wire(DebugDraw::Cylinder);
  ASSERT_EQ(cylinders.size(), 2u);
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(cylinders[0].world.m[i], cylinders[1].world.m[i]);
  const Vec3 top = (rotation * Vec4(0, 1.5f, 0, 1.0f)).ToVec3() + Vec3(5, 0, 0);
  ExpectNear(Place(cylinders[0], Vec3(0, 0.5f, 0)), top);

  // A sphere takes twice its radius across; a point is a small unrotated cube in its own colour.
  queue_.DrawSphere(Vec3(0, 0, 0), 2.0f, Vec3(0, 0, 0), Vec3(1, 0, 0), true);
  queue_.DrawPoint(Vec3(7, 8, 9), Vec3(0, 0, 1), false);
  ExpectNear(Place(Solid(DebugDraw::Sphere)[0], Vec3(0.5f, 0.5f, 0.5f)), Vec3(2, 2, 2));
  ASSERT_EQ(Wire(DebugDraw::Cube).size(), 1u);
  ExpectNear(Place(Wire(DebugDraw::Cube)[0], Vec3(0.5f, 0.5f, 0.5f)), Vec3(7.05f, 8.05f, 9.05f));
  EXPECT_EQ(Wire(DebugDraw::Cube)[0].colour, Vec4(0, 0, 1, 1));
}

TEST_F(DebugDrawTest, DrawnFramesAgeRecordsOutOfTheDrawnCanvasOnly) {
  // Lifetime 0 lasts one draw; 0.02 lasts two; a lasting time stays until changed.
  queue_.DrawPoint(Vec3(), Vec3(), false);
  queue_.m_drawTime = 0.02f;
  queue_.DrawPoint(Vec3(), Vec3(), true);
  queue_.DrawLine(Vec3(), Vec3(1, 0, 0), Vec3());
  queue_.m_canvas = kOtherCanvas;
  queue_.DrawPoint(Vec3(), Vec3(), false);

  queue_.CanvasDrawn(kCanvas);
  EXPECT_TRUE(Wire(DebugDraw::Cube).empty());
  ASSERT_EQ(Solid(DebugDraw::Cube).size(), 1u);
  EXPECT_NEAR(Solid(DebugDraw::Cube)[0].time, 0.02f - DebugDraw::kFrameStep, 1e-6f);
  EXPECT_EQ(Wire(DebugDraw::Line).size(), 1u);
  EXPECT_EQ(queue_.m_wire[kOtherCanvas][DebugDraw::Cube][0].time, 0.02f);  // not drawn, not aged

  queue_.CanvasDrawn(kCanvas);
  EXPECT_TRUE(Solid(DebugDraw::Cube).empty());
  EXPECT_TRUE(Wire(DebugDraw::Line).empty());
  EXPECT_EQ(queue_.m_wire[kOtherCanvas][DebugDraw::Cube].size(), 1u);

  // Expired records are replaced by the last one; every survivor is aged exactly once.
  auto& cubes = Wire(DebugDraw::Cube);
  for (float time : {0.0f, 1.0f, 0.0f, 2.0f, NAN}) cubes.push_back({Vec4(), Mat4(), time});
  DebugDraw::AgeList(cubes);
  ASSERT_EQ(cubes.size(), 2u);
  EXPECT_FLOAT_EQ(cubes[0].time, 2.0f - DebugDraw::kFrameStep);
  EXPECT_FLOAT_EQ(cubes[1].time, 1.0f - DebugDraw::kFrameStep);
}

TEST_F(DebugDrawTest, AOneShotLifetimeGoesToTheNextRecordAlone) {
  queue_.m_drawTime = 2.0f;
  queue_.m_oneShot = true;
  queue_.DrawPoint(Vec3(), Vec3(), false);
  queue_.DrawCube(Vec3(), Vec3(1, 1, 1), Vec3(), Vec3(), false);
  EXPECT_EQ(Wire(DebugDraw::Cube)[0].time, 2.0f);
  EXPECT_EQ(Wire(DebugDraw::Cube)[1].time, 0.0f);
  EXPECT_EQ(queue_.m_drawTime, 0.0f);
  EXPECT_FALSE(queue_.m_oneShot);

  // With no canvas yet nothing could draw or age a record: none is kept, the one-shot is still spent.
  queue_.m_canvas = nullptr;
  queue_.m_drawTime = 3.0f;
  queue_.m_oneShot = true;
  queue_.DrawSphere(Vec3(), 1.0f, Vec3(), Vec3(), true);
  EXPECT_EQ(queue_.m_solid.count(nullptr), 0u);
  EXPECT_EQ(queue_.m_drawTime, 0.0f);
  queue_.CanvasDrawn(nullptr);
}

TEST(DebugDrawGizmo, ASelectedTransformDrawsItsAxesThroughTheQueue) {
  DebugDraw& queue = DebugDraw::GetInstance();
  queue.m_canvas = kCanvas;
  Core::Transform transform;
  transform.m_translation = Vec3(1, 2, 3);
  transform.OnEditorSelected();
  const auto& lines = queue.m_wire[kCanvas][DebugDraw::Line];
  ASSERT_EQ(lines.size(), 3u);
  // Forward (+Z) green, up (+Y) yellow, right (+X) red, each 3 long.
  ExpectNear(Place(lines[0], Vec3(1, 0, 0)), Vec3(1, 2, 6));
  EXPECT_EQ(lines[0].colour, Vec4(0, 1, 0, 1));
  ExpectNear(Place(lines[1], Vec3(1, 0, 0)), Vec3(1, 5, 3));
  EXPECT_EQ(lines[1].colour, Vec4(1, 1, 0, 1));
  ExpectNear(Place(lines[2], Vec3(1, 0, 0)), Vec3(4, 2, 3));
  EXPECT_EQ(lines[2].colour, Vec4(1, 0, 0, 1));
  queue.m_wire.clear();
  queue.m_canvas = nullptr;
}

}  // namespace
