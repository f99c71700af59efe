// The four emitter shapes: where on or in each shape a particle is born and which way it starts.
#include "Graphics/Components/EmitterShape.h"

#include <bit>
#include <cmath>

namespace Graphics {

namespace {

constexpr float kTwoPi = 6.2831855f;
// How far off the centre a particle of a zero-sized round shape is put, so that it still has a way out.
constexpr float kLeastLength = 0.00001f;

Base::Vec3 AtLength(const Base::Vec3& unit, float length) { return unit * (length > 0.0f ? length : kLeastLength); }

float BoxCoordinate(float edge) { return Base::RandomFloat(-edge / 2.0f, edge / 2.0f); }

// theta from the pole in [0, maxThetaDeg], phi around it.
Base::Vec3 RoundDirection(float maxThetaDeg, bool poleOnY) {
  const float theta = Base::DegToRad(Base::RandomFloat(0.0f, maxThetaDeg));
  const float phi = Base::DegToRad(Base::RandomFloat(0.0f, 360.0f));
  const float s = std::sin(theta);
  if (poleOnY) return {std::cos(phi) * s, std::cos(theta), std::sin(phi) * s};
  return {std::cos(phi) * s, std::sin(phi) * s, std::cos(theta)};
}

// The circle's angle: evenly spaced by the running index, else random. With a single spot to space
// over (an emit limit of 1) or none, every particle takes angle 0.
float CircleAngle(const ShapeData& shape) {
  if (!shape.uniform) return Base::DegToRad(Base::RandomFloat(0.0f, 360.0f));
  if (shape.uniformCount <= 0) return 0.0f;
  return kTwoPi * float(shape.uniformIndex) / float(shape.uniformCount);
}

Base::Vec3 CirclePoint(float angle) { return {std::cos(angle), 0.0f, std::sin(angle)}; }

const BoxEmitter g_box;
const SphereEmitter g_sphere;
const CircleEmitter g_circle;
const HemisphereEmitter g_hemisphere;

}  // namespace

const EmitterShape& EmitterShape::ForType(int32_t type) {
  switch (type) {
    case EmitterShape_Sphere: return g_sphere;
    case EmitterShape_Circle: return g_circle;
    case EmitterShape_Hemisphere: return g_hemisphere;
    default: return g_box;
  }
}

Base::Vec3 FastNormalize(const Base::Vec3& v) {
  const float x = v.LengthSquared();
  if (x == 0.0f) return v;
  float y = std::bit_cast<float>(0x5f375a86u - (std::bit_cast<uint32_t>(x) >> 1));
  y = y * (1.5f - 0.5f * x * y * y);
  return v * y;
}

Base::Vec3 BoxEmitter::SampleVolume(const ShapeData& shape) const {
  const Base::Vec3& d = shape.dimension;
  const float x = BoxCoordinate(d.x), y = BoxCoordinate(d.y), z = BoxCoordinate(d.z);
  return {x, y, z};
}

Base::Vec3 BoxEmitter::SampleShell(const ShapeData& shape) const {
  const Base::Vec3& d = shape.dimension;
  const int face = Base::RandomInt(0, 5);
  const float side = face % 2 ? 0.5f : -0.5f;
  // The two free coordinates are drawn in x, y, z order.
  switch (face / 2) {
    case 0: {
      const float x = BoxCoordinate(d.x), z = BoxCoordinate(d.z);
      return {x, side * d.y, z};
    }
    case 1: {
      const float y = BoxCoordinate(d.y), z = BoxCoordinate(d.z);
      return {side * d.x, y, z};
    }
    default: {
      const float x = BoxCoordinate(d.x), y = BoxCoordinate(d.y);
      return {x, y, side * d.z};
    }
  }
}

Base::Vec3 BoxEmitter::GetDirection(bool randomDirection, const Base::Vec3&, const Core::Transform& transform) const {
  if (randomDirection) return Base::RandomVec3({-1, -1, -1}, {1, 1, 1});
  return transform.LocalRotation().ToMat3() * Base::Vec3(0.0f, 1.0f, 0.0f);
}

Base::Vec3 RadialEmitter::GetDirection(bool randomDirection, const Base::Vec3& position,
                                       const Core::Transform& transform) const {
  if (randomDirection) return Base::RandomVec3({-1, -1, -1}, {1, 1, 1});
  return position - transform.Translation();
}

Base::Vec3 SphereEmitter::SampleShell(const ShapeData& shape) const {
  return AtLength(RoundDirection(180.0f, false), shape.radius);
}

Base::Vec3 SphereEmitter::SampleVolume(const ShapeData& shape) const {
  const Base::Vec3 u = RoundDirection(180.0f, false);
  return AtLength(u, Base::RandomFloat(0.0f, shape.radius));
}

Base::Vec3 HemisphereEmitter::SampleShell(const ShapeData& shape) const {
  return AtLength(RoundDirection(90.0f, true), shape.radius);
}

Base::Vec3 HemisphereEmitter::SampleVolume(const ShapeData& shape) const {
  const Base::Vec3 u = RoundDirection(90.0f, true);
  return AtLength(u, Base::RandomFloat(0.0f, shape.radius));
}

Base::Vec3 CircleEmitter::SampleShell(const ShapeData& shape) const {
  return AtLength(CirclePoint(CircleAngle(shape)), shape.radius);
}

Base::Vec3 CircleEmitter::SampleVolume(const ShapeData& shape) const {
  const Base::Vec3 u = CirclePoint(CircleAngle(shape));
  return AtLength(u, Base::RandomFloat(0.0f, shape.radius));
}

}  // namespace Graphics
