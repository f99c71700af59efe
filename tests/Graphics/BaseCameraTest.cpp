// Camera data: lazily built matrices checked against values worked out by hand, and the
// conversions between world positions and screen pixels.
#include "Graphics/BaseCamera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectRows(const Base::Mat4& m, std::initializer_list<float> rows, float tolerance = 1e-5f) {
  int i = 0;
  for (float want : rows) {
    EXPECT_NEAR(m.m[i], want, tolerance) << "element (" << i / 4 << ", " << i % 4 << ")";
    ++i;
  }
}

const float kCot22_5 = 2.4142136f;  // yScale of a 45-degree lens
const float kDepth = 300.0f / 299.0f;

TEST(BaseCamera, AFreshBlockLooksAlongZFromItsEyeThroughA45DegreeWideLens) {
  Graphics::BaseCamera camera;
  EXPECT_TRUE(camera.m_dirty);
  EXPECT_NEAR(camera.m_viewExtent.x, 124.678f, 1e-3f);
  EXPECT_NEAR(camera.m_viewExtent.y, 70.1315f, 1e-3f);
  ExpectRows(camera.GetViewMatrix(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 20.5f, 1});
  EXPECT_FALSE(camera.m_dirty);
  ExpectRows(camera.GetProjectionMatrix(),
             {kCot22_5 / (16.0f / 9.0f), 0, 0, 0, 0, kCot22_5, 0, 0, 0, 0, kDepth, 1, 0, 0, -kDepth, 0});
  ExpectRows(camera.GetViewProjectionMatrix(),
             {kCot22_5 / (16.0f / 9.0f), 0, 0, 0, 0, kCot22_5, 0, 0, 0, 0, kDepth, 1, 0, 0, 19.5f * kDepth, 20.5f},
             1e-4f);
}

TEST(BaseCamera, ScreenAndWorldUseTheMatricesAsTheyStand) {
  Graphics::BaseCamera camera;
  // Before any rebuild the matrices are identities.
  Base::Vec3 world = camera.ToWorld(960, 540);
  EXPECT_EQ(world, Base::Vec3(0, 0, 0));
  camera.GetViewProjectionMatrix();
  Base::Vec2 centre = camera.ToScreen({0, 0, 0});
  EXPECT_NEAR(centre.x, 960, 1e-3f);
  EXPECT_NEAR(centre.y, 540, 1e-3f);
  world = camera.ToWorld(960, 540);
  EXPECT_NEAR(world.x, 0, 1e-4f);
  EXPECT_NEAR(world.y, 0, 1e-4f);
  EXPECT_NEAR(world.z, -19.5f, 1e-3f);  // on the near plane

  // Screen y grows downwards: a point above the axis lands in the upper half.
  EXPECT_LT(camera.ToScreen({0, 5, 0}).y, 540);

  // Another screen size, as the graphics system registers it.
  const Base::Vec2 size(800, 600);
  Graphics::SetCameraScreenSize(&size);
  centre = camera.ToScreen({0, 0, 0});
  Graphics::SetCameraScreenSize(nullptr);
  EXPECT_NEAR(centre.x, 400, 1e-3f);
  EXPECT_NEAR(centre.y, 300, 1e-3f);
}

TEST(BaseCamera, SettersMarkDirtyExceptThePlanesAndIgnoreZeroSizes) {
  Graphics::BaseCamera camera;
  camera.GetViewMatrix();
  camera.SetAspect(0, 9);
  camera.SetOrthoSize(1920, 0);
  EXPECT_FALSE(camera.m_dirty);
  EXPECT_FLOAT_EQ(camera.m_aspect, 16.0f / 9.0f);

  // The near plane waits for another change.
  camera.SetNearPlane(5);
  EXPECT_FLOAT_EQ(camera.m_mid, 152.5f);
  EXPECT_NEAR(camera.GetProjectionMatrix()(3, 2), -kDepth, 1e-6f);
  camera.SetFOV(camera.m_fov);
  EXPECT_NEAR(camera.GetProjectionMatrix()(3, 2), -5 * 300.0f / 295.0f, 1e-5f);

  camera.SetAspect(1920, 1200);
  EXPECT_NEAR(camera.GetProjectionMatrix()(0, 0), kCot22_5 / 1.6f, 1e-5f);
}

TEST(BaseCamera, PositionRotationAndLookAtTurnTheView) {
  Graphics::BaseCamera camera;
  camera.SetPosition({1, 2, -20.5f});
  EXPECT_EQ(camera.m_lookPoint, Base::Vec3(1, 2, 0));  // the look point moves along
  ExpectRows(camera.GetViewMatrix(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -1, -2, 20.5f, 1});

  // A quarter turn about y looks along -x, halfway between the planes.
  const float h = std::sqrt(0.5f);
  camera.SetRotation(Base::Quaternion(h, 0, h, 0));
  EXPECT_NEAR(camera.m_lookPoint.x, 1 - 150.5f, 1e-3f);
  EXPECT_NEAR(camera.m_forward.x, -1, 1e-6f);
  EXPECT_NEAR(camera.m_right.z, 1, 1e-6f);
  // View x axis is world +z, view z axis is world -x: rows (0, 0, -1), (0, 1, 0), (1, 0, 0).
  ExpectRows(camera.GetViewMatrix(), {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 20.5f, -2, 1, 1});

  camera.LookAt({1, 2, 100});
  EXPECT_NEAR(camera.m_forward.z, 1, 1e-6f);
  EXPECT_TRUE(camera.m_dirty);
}

TEST(BaseCamera, OrthographicVolumesCentredAndFromTheCorner) {
  Graphics::BaseCamera camera;
  camera.m_isOrtho = true;
  camera.SetOrthoSize(1920, 1080);
  camera.SetPosition({0, 0, -1});
  ExpectRows(camera.GetProjectionMatrix(),
             {2 / 1920.0f, 0, 0, 0, 0, 2 / 1080.0f, 0, 0, 0, 0, 1 / 299.0f, 0, -1, 1, -1 / 299.0f, 1});
  EXPECT_EQ(camera.m_viewExtent, Base::Vec2(1920, 1080));
  // x 0..width and y -height..0 fill the screen: pixels with y negated.
  Base::Vec2 p = camera.ToScreen({960, -540, 0});
  EXPECT_NEAR(p.x, 960, 1e-3f);
  EXPECT_NEAR(p.y, 540, 1e-3f);
  p = camera.ToScreen({0, 0, 0});
  EXPECT_NEAR(p.x, 0, 1e-3f);
  EXPECT_NEAR(p.y, 0, 1e-3f);
  const Base::Vec3 corner = camera.ToWorld(1920, 1080);
  EXPECT_NEAR(corner.x, 1920, 1e-2f);
  EXPECT_NEAR(corner.y, -1080, 1e-2f);

  camera.m_orthoCentered = true;
  camera.SetOrthoSize(250, 250);
  ExpectRows(camera.GetProjectionMatrix(),
             {2 / 250.0f, 0, 0, 0, 0, 2 / 250.0f, 0, 0, 0, 0, 1 / 299.0f, 0, 0, 0, -1 / 299.0f, 1});
}

}  // namespace
