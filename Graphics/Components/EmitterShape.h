// Emitter shapes: where a particle system's new particles are born and which way they start, and the
// emission step that draws every randomised start value of the new particles from the system's settings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "Base/Matrix.h"
#include "Base/MathUtil.h"
#include "Base/Quaternion.h"
#include "Base/Vector.h"
#include "Core/Transform.h"

namespace Graphics {

// The shape parameters of a particle system.
struct ShapeData {
  Base::Vec3 dimension{1.0f, 1.0f, 1.0f};  // box edge lengths
  float radius = 1.0f;                      // sphere, circle and hemisphere
  bool uniform = false;                     // circle: evenly spaced instead of random angles
  int32_t uniformIndex = 0;                 // running spawn index of the even spacing
  int32_t uniformCount = 0;                 // divisor of the even spacing (the emit limit - 1)
};

// One live particle.
struct Particle {
  Base::Vec3 position;  // world, or relative to the transform for a following system
  Base::Vec3 direction;
  Base::Vec4 color;  // 0 to 255
  Base::Vec4 colorStart;
  Base::Vec4 colorEnd;
  Base::Vec2 scale;
  float speed;
  float rotation;  // radians
  float life;
  float deathFade;
  float lifeTime;
  float rotationSpeed;  // radians per second
  Base::Vec3 velocity;
  Base::Vec2 scaleStart;
  Base::Vec3 velocityStart;
  float rotationStartDeg;
  Base::Vec2 scaleEnd;
  Base::Vec3 velocityEnd;
  float rotationEnd;  // radians, unwrapped towards the turning sense
};

// The values of "EmitterShapeType"; 3 names no shape.
enum EmitterShapeType : int32_t {
  EmitterShape_Box = 0,
  EmitterShape_Sphere = 1,
  EmitterShape_Circle = 2,
  EmitterShape_Hemisphere = 4,
};

// "RotationType" 3: from the start angle to the end angle over the particle's life.
inline constexpr int32_t kRotationOverLife = 3;

// The shapes hold no data: one static instance of each, chosen by ForType.
class EmitterShape {
 public:
  // A point on the shape's surface and one inside it, in the emitter's frame.
  virtual Base::Vec3 SampleShell(const ShapeData& shape) const = 0;
  virtual Base::Vec3 SampleVolume(const ShapeData& shape) const = 0;
  // The unnormalised start direction of a particle born at `position` (as the particle stores it).
  virtual Base::Vec3 GetDirection(bool randomDirection, const Base::Vec3& position,
                                  const Core::Transform& transform) const = 0;

  // The shape of an "EmitterShapeType" value; the box for every value that names no other shape.
  static const EmitterShape& ForType(int32_t type);

 protected:
  ~EmitterShape() = default;
};

class BoxEmitter final : public EmitterShape {
 public:
  Base::Vec3 SampleShell(const ShapeData& shape) const override;
  Base::Vec3 SampleVolume(const ShapeData& shape) const override;
  // Along the emitter's local up axis.
  Base::Vec3 GetDirection(bool randomDirection, const Base::Vec3& position,
                          const Core::Transform& transform) const override;
};

// The round shapes start their particles outwards from the emitter's centre.
class RadialEmitter : public EmitterShape {
 public:
  Base::Vec3 GetDirection(bool randomDirection, const Base::Vec3& position,
                          const Core::Transform& transform) const override;
};

class SphereEmitter final : public RadialEmitter {
 public:
  Base::Vec3 SampleShell(const ShapeData& shape) const override;
  Base::Vec3 SampleVolume(const ShapeData& shape) const override;
};

// In the XZ plane.
class CircleEmitter final : public RadialEmitter {
 public:
  Base::Vec3 SampleShell(const ShapeData& shape) const override;
  Base::Vec3 SampleVolume(const ShapeData& shape) const override;
};

// Opening towards +Y.
class HemisphereEmitter final : public RadialEmitter {
 public:
  Base::Vec3 SampleShell(const ShapeData& shape) const override;
  Base::Vec3 SampleVolume(const ShapeData& shape) const override;
};

// The engine's fast normalisation of a start direction: one refined reciprocal square root; a zero
// vector stays zero.
Base::Vec3 FastNormalize(const Base::Vec3& v);

// The randomised start values of a particle born at `position` heading `direction`, drawn from the
// system's settings in their fixed order (life, scales, speed, angles, roll speed, fade, colours);
// `r` is the emitter's world rotation.
template <class System>
void DrawStartValues(const System& s, const Base::Mat3& r, Particle& p) {
  using Base::RandomFloat;
  p.life = p.lifeTime = std::max(0.0f, s.m_lifeTime + RandomFloat(-s.m_lifeTimeVariance, s.m_lifeTimeVariance));
  auto atLeastZero = [](Base::Vec2 v) { return Base::Vec2(std::max(0.0f, v.x), std::max(0.0f, v.y)); };
  p.scale = p.scaleStart = atLeastZero(s.m_scaleStart + Base::RandomVec2(-s.m_scaleStartVariance, s.m_scaleStartVariance));
  p.scaleEnd = atLeastZero(s.m_scaleEnd + Base::RandomVec2(-s.m_scaleEndVariance, s.m_scaleEndVariance));
  p.speed = s.m_speedStart + RandomFloat(-s.m_speedVariance, s.m_speedVariance);
  p.rotationStartDeg = s.m_rotationStart + RandomFloat(-s.m_rotationStartVariance, s.m_rotationStartVariance);
  p.rotation = Base::DegToRad(p.rotationStartDeg);
  p.rotationEnd = Base::DegToRad(s.m_rotationEnd + RandomFloat(-s.m_rotationEndVariance, s.m_rotationEndVariance));
  constexpr float kTurn = 6.2831855f;
  if (s.m_rotationSpeed > 0.0f && p.rotation > p.rotationEnd) p.rotationEnd += kTurn;
  if (s.m_rotationSpeed <= 0.0f && p.rotationEnd > p.rotation) p.rotationEnd -= kTurn;
  if (s.m_rotationType == kRotationOverLife)
    // A particle without a life has no time to turn in.
    p.rotationSpeed = p.lifeTime > 0.0f ? (p.rotationEnd - p.rotation) / p.lifeTime : 0.0f;
  else
    p.rotationSpeed = Base::DegToRad(s.m_rotationSpeed + RandomFloat(-s.m_rotationSpeedVariance, s.m_rotationSpeedVariance));
  p.velocityStart = r * s.m_velocityStart;
  p.velocityEnd = r * s.m_velocityEnd;
  p.velocity = r * s.m_velocityInt;
  p.deathFade = std::min(std::max(0.0f, s.m_deathFade + RandomFloat(-s.m_deathFadeVariance, s.m_deathFadeVariance)),
                         p.lifeTime);
  auto colour = [](Base::Vec4 c) {
    return Base::Vec4(Base::Clamp(c.x, 0, 255), Base::Clamp(c.y, 0, 255), Base::Clamp(c.z, 0, 255), Base::Clamp(c.w, 0, 255));
  };
  p.color = p.colorStart = colour(s.m_colorStart + Base::RandomVec4(-s.m_colorStartVariance, s.m_colorStartVariance));
  p.colorEnd = colour(s.m_colorEnd + Base::RandomVec4(-s.m_colorEndVariance, s.m_colorEndVariance));
}

// The whole particles of `due` and, in `carry`, the fraction left for the next step. A due count that
// is not a number or is negative gives none; one beyond what uint32_t holds (which has no defined
// conversion) gives the most there is. Neither carries anything.
inline uint32_t WholeParticlesDue(float due, float& carry) {
  carry = 0.0f;
  if (!(due >= 0.0f)) return 0;
  if (!(due < 4294967296.0f)) return std::numeric_limits<uint32_t>::max();
  const uint32_t whole = uint32_t(due);
  carry = due - float(whole);
  return whole;
}

// One emission step of a particle system at its owner's transform: how many particles are due, then
// each one placed by the system's shape, given its start values and appended to the draw list. The
// system provides the settings and counters by their member names, `m_particlePool` (Allocate,
// GetObjectsInUse), `m_drawList` and `m_emitter`. False when the pool could not give a particle: the
// step stops at that first failure, and the particles made so far count as emitted.
template <class System>
bool Emit(System& s, float dt, const Core::Transform& transform) {
  uint32_t n = WholeParticlesDue(s.m_emitRate * dt + s.m_emitAccumulator, s.m_emitAccumulator);
  const uint32_t alive = s.m_particlePool.GetObjectsInUse();
  n = std::min(n, alive >= s.m_particleCount ? 0u : s.m_particleCount - alive);
  const uint32_t left = s.m_emittedCount >= s.m_emitLimit ? 0u : s.m_emitLimit - s.m_emittedCount;
  if (s.m_emitLimit != 0 && left <= n) {
    s.m_isActive = false;
    n = left;
  }
  s.m_shapeData.uniformCount = int32_t(s.m_emitLimit - 1);
  const Base::Mat3 r = transform.Rotation().ToMat3();
  const EmitterShape& shape = *s.m_emitter;
  for (uint32_t i = 0; i < n; ++i) {
    void* block = s.m_particlePool.Allocate();
    if (!block) {
      s.m_emittedCount += i;
      return false;
    }
    Particle& p = *::new (block) Particle();
    if (++s.m_shapeData.uniformIndex > s.m_shapeData.uniformCount) s.m_shapeData.uniformIndex = 0;
    p.position = r * (s.m_onShell ? shape.SampleShell(s.m_shapeData) : shape.SampleVolume(s.m_shapeData));
    if (!s.m_followTrans) p.position += transform.Translation();
    // Radial directions are taken from the emitter's centre in the world, also for a following
    // system whose particles keep their positions relative to it.
    const Base::Vec3 world = s.m_followTrans ? p.position + transform.Translation() : p.position;
    p.direction = FastNormalize(shape.GetDirection(s.m_isRandomDirection, world, transform));
    DrawStartValues(s, r, p);
    s.m_drawList.push_back(&p);
  }
  s.m_emittedCount += n;
  return true;
}

}  // namespace Graphics
