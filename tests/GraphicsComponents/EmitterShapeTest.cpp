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

TEST_F(EmitterShapes, TheSameSeedPlacesTheSameParticles) {
  ShapeData shape;
  const std::vector<Base::Vec3> first = Sample(EmitterShape_Sphere, false, shape, 50);
  Base::SeedRandom(1234);
  const std::vector<Base::Vec3> again = Sample(EmitterShape_Sphere, false, shape, 50);
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].x, again[i].x) << i;
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
