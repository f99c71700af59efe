// Emitter shapes with a seeded generator: where each shape puts its particles, which way they start,
// how many an emission step makes, and the start values that could not be computed before.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "Base/MathUtil.h"
#include "Core/GameObject.h"
#include "Core/GameSpace.h"
#include "Core/Transform.h"
#include "Graphics/Components/EmitterShape.h"
#include "Graphics/Components/ParticleSystem.h"

namespace {

using namespace Graphics;

constexpr float kTurn = 6.2831855f;

// The settings and counters an emission step reads, with the particle system's defaults.
struct Emitting {
  ParticlePool m_particlePool;
  bool m_isActive = true, m_followTrans = false, m_onShell = false, m_isRandomDirection = false;
  uint32_t m_particleCount = 100, m_emitLimit = 0, m_emittedCount = 0;
  float m_emitRate = 50, m_emitAccumulator = 0;
  const EmitterShape* m_emitter = &EmitterShape::ForType(EmitterShape_Box);
  ShapeData m_shapeData;
  Base::Vec3 m_velocityStart{0, 0, 0}, m_velocityEnd{0, 0, 0}, m_velocityInt{0, 0, 0};
  std::vector<Particle*> m_drawList;
  float m_lifeTime = 1, m_lifeTimeVariance = 0, m_deathFade = 0, m_deathFadeVariance = 0;
  float m_speedStart = 1, m_speedVariance = 0;
  Base::Vec2 m_scaleStart{1, 1}, m_scaleStartVariance{0, 0}, m_scaleEnd{1, 1}, m_scaleEndVariance{0, 0};
  float m_rotationStart = 0, m_rotationStartVariance = 0, m_rotationEnd = 0, m_rotationEndVariance = 0;
  float m_rotationSpeed = 0, m_rotationSpeedVariance = 0;
  int32_t m_rotationType = 0;
  Base::Vec4 m_colorStart{255, 255, 255, 255}, m_colorStartVariance{0, 0, 0, 0};
  Base::Vec4 m_colorEnd{255, 255, 255, 255}, m_colorEndVariance{0, 0, 0, 0};
};

class EmitterShapes : public ::testing::Test {
 protected:
  void SetUp() override {
    Base::SeedRandom(1234);
    Core::GameObject* object = space_->CreateObject();
    transform_ = static_cast<Core::Transform*>(space_->CreateComponent(Core::ComponentType_Transform));
    object->AttachComponent(transform_);
  }
  // The engine-wide generator goes back to an unpredictable seed, as at start-up.
  void TearDown() override { Base::SeedRandom(std::random_device()()); }

  std::vector<Base::Vec3> Sample(int32_t type, bool shell, const ShapeData& shape, int count = 2000) {
    std::vector<Base::Vec3> points;
    const EmitterShape& emitter = EmitterShape::ForType(type);
    for (int i = 0; i < count; ++i) points.push_back(shell ? emitter.SampleShell(shape) : emitter.SampleVolume(shape));
    return points;
  }

  std::unique_ptr<Core::GameSpace> space_ = std::make_unique<Core::GameSpace>("Particles");
  Core::Transform* transform_ = nullptr;
};

// The engine's draws mirrored: each is a uniform double from a Mersenne Twister scaled onto [lo, hi),
// and the box's face an integer of 0 to 5 from the same generator, so the same seed tells where a
// shape must put each particle and which way it must send it.
class MirroredDraws {
 public:
  explicit MirroredDraws(uint32_t seed) : generator_(seed) {}
  float Next(float lo, float hi) {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(generator_);
    return float(double(lo) + u * (double(hi) - double(lo)));
  }
  int Face() { return std::uniform_int_distribution<int>(0, 5)(generator_); }

 private:
  std::mt19937 generator_;
};

void ExpectNear(const Base::Vec3& actual, const Base::Vec3& expected, float tolerance, size_t i) {
  EXPECT_NEAR(actual.x, expected.x, tolerance) << "particle " << i;
  EXPECT_NEAR(actual.y, expected.y, tolerance) << "particle " << i;
  EXPECT_NEAR(actual.z, expected.z, tolerance) << "particle " << i;
}

Base::Vec3 Unit(const Base::Vec3& v) { return v * (1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z)); }

TEST_F(EmitterShapes, TheSameSeedPlacesTheSameParticles) {
  // A sphere's volume from an emitter at (5, -2, 3) turned a quarter about y, which takes a point
  // (x, y, z) of the shape to (-z, y, x); particles start outwards from the centre.
  transform_->SetLocalTranslation({5, -2, 3});
  transform_->SetLocalRotation(Base::Quaternion(std::sqrt(0.5f), 0, std::sqrt(0.5f), 0));
  Emitting sphere;
  sphere.m_emitter = &EmitterShape::ForType(EmitterShape_Sphere);
  sphere.m_shapeData.radius = 2;
  sphere.m_emitRate = 20;
  Base::SeedRandom(99);
  Emit(sphere, 1.0f, *transform_);
  ASSERT_EQ(sphere.m_drawList.size(), 20u);
  MirroredDraws draws(99);
  for (size_t i = 0; i < 20; ++i) {
    // theta from the pole (z), phi around it, then the distance from the centre.
    const float theta = Base::DegToRad(draws.Next(0, 180)), phi = Base::DegToRad(draws.Next(0, 360));
    const float length = draws.Next(0, 2);
    const Base::Vec3 local(std::cos(phi) * std::sin(theta) * length, std::sin(phi) * std::sin(theta) * length,
                           std::cos(theta) * length);
    const Base::Vec3 turned(-local.z, local.y, local.x);
    ExpectNear(sphere.m_drawList[i]->position, turned + Base::Vec3(5, -2, 3), 1e-5f, i);
    ExpectNear(sphere.m_drawList[i]->direction, Unit(turned), 2e-3f, i);  // one refined reciprocal root
  }

  // A box's shell at (1, 2, 3) unturned, with random directions: a face pair, a side and the two free
  // coordinates in x, y, z order, then the direction's three components.
  transform_->SetLocalTranslation({1, 2, 3});
  transform_->SetLocalRotation(Base::Quaternion(1, 0, 0, 0));
  Emitting box;
  box.m_shapeData.dimension = {2, 4, 6};
  box.m_onShell = true;
  box.m_isRandomDirection = true;
  box.m_emitRate = 30;
  Base::SeedRandom(7);
  Emit(box, 1.0f, *transform_);
  ASSERT_EQ(box.m_drawList.size(), 30u);
  MirroredDraws boxDraws(7);
  for (size_t i = 0; i < 30; ++i) {
    const int face = boxDraws.Face();
    const float side = face % 2 ? 0.5f : -0.5f;
    Base::Vec3 local;
    if (face / 2 == 0) {
      const float x = boxDraws.Next(-1, 1), z = boxDraws.Next(-3, 3);
      local = {x, side * 4, z};
    } else if (face / 2 == 1) {
      const float y = boxDraws.Next(-2, 2), z = boxDraws.Next(-3, 3);
      local = {side * 2, y, z};
    } else {
      const float x = boxDraws.Next(-1, 1), y = boxDraws.Next(-2, 2);
      local = {x, y, side * 6};
    }
    const float dx = boxDraws.Next(-1, 1), dy = boxDraws.Next(-1, 1), dz = boxDraws.Next(-1, 1);
    ExpectNear(box.m_drawList[i]->position, local + Base::Vec3(1, 2, 3), 1e-5f, i);
    ExpectNear(box.m_drawList[i]->direction, Unit({dx, dy, dz}), 2e-3f, i);
  }

  // The seed again: every particle again, to the last bit of every component.
  Emitting again;
  again.m_shapeData = box.m_shapeData;
  again.m_shapeData.uniformIndex = 0;
  again.m_onShell = true;
  again.m_isRandomDirection = true;
  again.m_emitRate = 30;
  Base::SeedRandom(7);
  Emit(again, 1.0f, *transform_);
  ASSERT_EQ(again.m_drawList.size(), 30u);
  for (size_t i = 0; i < 30; ++i) {
    EXPECT_EQ(again.m_drawList[i]->position, box.m_drawList[i]->position) << i;
    EXPECT_EQ(again.m_drawList[i]->direction, box.m_drawList[i]->direction) << i;
  }
}

TEST_F(EmitterShapes, EachShapeKeepsItsParticlesOnOrInsideIt) {
  ShapeData shape;
  shape.dimension = {2, 4, 6};
  shape.radius = 3;
  Base::Vec3 sum{0, 0, 0};
  for (const Base::Vec3& p : Sample(EmitterShape_Box, false, shape)) {
    EXPECT_TRUE(std::abs(p.x) <= 1 && std::abs(p.y) <= 2 && std::abs(p.z) <= 3);
    sum += p;
  }
  EXPECT_NEAR(sum.x / 2000, 0, 0.1f);  // centred on the emitter
  int faces[3] = {};
  for (const Base::Vec3& p : Sample(EmitterShape_Box, true, shape)) {
    const bool onX = std::abs(p.x) == 1, onY = std::abs(p.y) == 2, onZ = std::abs(p.z) == 3;
    EXPECT_TRUE(onX || onY || onZ);
    faces[0] += onX, faces[1] += onY, faces[2] += onZ;
  }
  for (int f : faces) EXPECT_NEAR(f, 2000 / 3, 120);  // every face pair about as often
  for (const Base::Vec3& p : Sample(EmitterShape_Sphere, true, shape)) EXPECT_NEAR(p.Length(), 3, 1e-4f);
  for (const Base::Vec3& p : Sample(EmitterShape_Sphere, false, shape)) EXPECT_LE(p.Length(), 3 + 1e-4f);
  for (const Base::Vec3& p : Sample(EmitterShape_Hemisphere, true, shape)) {
    EXPECT_NEAR(p.Length(), 3, 1e-4f);
    EXPECT_GE(p.y, -1e-5f);
  }
  for (const Base::Vec3& p : Sample(EmitterShape_Circle, false, shape)) {
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_LE(p.Length(), 3 + 1e-4f);
  }
  // A zero radius still gives the particle a way out.
  shape.radius = 0;
  for (const Base::Vec3& p : Sample(EmitterShape_Sphere, true, shape, 20)) EXPECT_NEAR(p.Length(), 0.00001f, 1e-9f);
}

TEST_F(EmitterShapes, EmissionCountsCarryFractionsAndStopAtTheLimit) {
  Emitting s;
  Emit(s, 1.0f / 60, *transform_);
  EXPECT_EQ(s.m_drawList.size(), 0u);
  Emit(s, 1.0f / 60, *transform_);
  EXPECT_EQ(s.m_drawList.size(), 1u);
  EXPECT_NEAR(s.m_emitAccumulator, 0.6667f, 1e-3f);
  s.m_emitLimit = 10;
  s.m_emittedCount = 8;
  s.m_emitAccumulator = 0;
  Emit(s, 0.1f, *transform_);  // 5 due
  EXPECT_EQ(s.m_drawList.size(), 3u);
  EXPECT_FALSE(s.m_isActive);
  EXPECT_EQ(s.m_emittedCount, 10u);
}

TEST_F(EmitterShapes, UniformCirclesSpaceTheirParticlesAndALimitOfOneIsAngleZero) {
  transform_->SetLocalTranslation({5, 0, 0});
  Emitting s;
  s.m_emitter = &EmitterShape::ForType(EmitterShape_Circle);
  s.m_shapeData.uniform = true;
  s.m_onShell = true;
  s.m_emitLimit = 4;
  s.m_emitRate = 4;
  Emit(s, 1.0f, *transform_);
  ASSERT_EQ(s.m_drawList.size(), 4u);
  const float expected[4] = {kTurn / 3, 2 * kTurn / 3, kTurn, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(s.m_drawList[i]->position.x, 5 + std::cos(expected[i]), 1e-4f) << i;
    EXPECT_NEAR(s.m_drawList[i]->position.z, std::sin(expected[i]), 1e-4f) << i;
    // Radial: outwards from the emitter's centre.
    EXPECT_NEAR(s.m_drawList[i]->direction.x, std::cos(expected[i]), 3e-3f) << i;  // one refined reciprocal root
  }
  Emitting one;
  one.m_emitter = s.m_emitter;
  one.m_shapeData = s.m_shapeData;
  one.m_shapeData.uniformIndex = 0;
  one.m_onShell = true;
  one.m_emitLimit = 1;
  Emit(one, 1.0f, *transform_);
  ASSERT_EQ(one.m_drawList.size(), 1u);
  EXPECT_FALSE(std::isnan(one.m_drawList[0]->position.x));
  EXPECT_NEAR(one.m_drawList[0]->position.x, 6, 1e-5f);
}

TEST_F(EmitterShapes, RollOverALifeOfZeroHasNoSpeedAndAnglesUnwrapTowardsTheTurn) {
  Emitting s;
  s.m_rotationType = kRotationOverLife;
  s.m_lifeTime = 0;
  s.m_rotationEnd = 90;
  s.m_emitRate = 10;
  Emit(s, 1.0f, *transform_);
  ASSERT_FALSE(s.m_drawList.empty());
  for (const Particle* p : s.m_drawList) {
    EXPECT_EQ(p->rotationSpeed, 0.0f);
    EXPECT_EQ(p->deathFade, 0.0f);
    // A roll speed of 0 turns backwards: the end angle above the start comes down by a full turn.
    EXPECT_NEAR(p->rotationEnd, Base::DegToRad(90) - kTurn, 1e-5f);
  }
}

}  // namespace
