// Quaternion conversions, interpolation and look-at rotations.
#include "Base/Quaternion.h"

#include <cmath>

#include "Base/Log.h"
#include "Base/MathUtil.h"

namespace Base {

Quaternion::Quaternion(const Mat3& m) {
  const float t = m[0] + m[4] + m[8];
  if (t > 0.0f) {
    const float s = 0.5f / std::sqrt(t + 1.0f);
    w = 0.25f / s;
    x = (m[7] - m[5]) * s;
    y = (m[2] - m[6]) * s;
    z = (m[3] - m[1]) * s;
  } else if (m[0] > m[4] && m[0] > m[8]) {
    const float s = 2.0f * std::sqrt(1.0f + m[0] - m[4] - m[8]);
    x = 0.25f * s;
    y = (m[3] + m[1]) / s;
    z = (m[6] + m[2]) / s;
    w = (m[7] - m[5]) / s;
  } else if (m[4] > m[8]) {
    const float s = 2.0f * std::sqrt(1.0f + m[4] - m[0] - m[8]);
    y = 0.25f * s;
    x = (m[3] + m[1]) / s;
    z = (m[5] + m[7]) / s;
    w = (m[2] - m[6]) / s;
  } else {
    const float s = 2.0f * std::sqrt(1.0f + m[8] - m[0] - m[4]);
    z = 0.25f * s;
    x = (m[6] + m[2]) / s;
    y = (m[7] + m[5]) / s;
    w = (m[3] - m[1]) / s;
  }
  Normalize();
}

Quaternion::Quaternion(const Vec3& euler) {
  const float ca = std::cos(euler.x * 0.5f), sa = std::sin(euler.x * 0.5f);
  const float cb = std::cos(euler.y * 0.5f), sb = std::sin(euler.y * 0.5f);
  const float cc = std::cos(euler.z * 0.5f), sc = std::sin(euler.z * 0.5f);
  w = ca * cb * cc + sa * sb * sc;
  x = sa * cb * cc - ca * sb * sc;
  y = ca * sb * cc + sa * cb * sc;
  z = ca * cb * sc + sa * sb * cc;
  Normalize();
}

Quaternion::Quaternion(const Vec3& from, const Vec3& to, const Vec3& axis) { LookAt(from, to, axis); }

Quaternion Quaternion::Inverse() const {
  const float n = LengthSquared();
  const Quaternion conjugate(w, -x, -y, -z);
  if (n == 0.0f) return conjugate;
  const float inv = 1.0f / n;
  return {conjugate.w * inv, conjugate.x * inv, conjugate.y * inv, conjugate.z * inv};
}

Quaternion& Quaternion::Normalize() {
  const float n = LengthSquared();
  if (n == 0.0f) {
    w = 1.0f;
    return *this;
  }
  const float len = std::sqrt(n);
  w /= len;
  x /= len;
  y /= len;
  z /= len;
  return *this;
}

Quaternion Quaternion::Slerp(const Quaternion& q, float t) const {
  const float d = Dot(q);
  const float cosAngle = std::fabs(d);
  float a, b;
  if (1.0f - cosAngle > 1e-5f) {
    const float angle = std::acos(cosAngle);
    const float invSin = 1.0f / std::sin(angle);
    a = std::sin((1.0f - t) * angle) * invSin;
    b = std::sin(t * angle) * invSin;
  } else {
    // Nearly the same rotation: sin(angle) is too small to divide by.
    a = 1.0f - t;
    b = t;
  }
  if (d < 0.0f) b = -b;  // the shorter arc
  return {w * a + q.w * b, x * a + q.x * b, y * a + q.y * b, z * a + q.z * b};
}

void Quaternion::LookAt(const Vec3& from, const Vec3& to, const Vec3& axis) {
  const Vec3 a = from.Normalized();
  const Vec3 b = to.Normalized();
  const float d = a.Dot(b);
  if (std::fabs(d + 1.0f) < 1e-6f) {
    // Opposite: any perpendicular works, so the caller names the half-turn axis.
    *this *= Quaternion(0.0f, axis.x, axis.y, axis.z);
  } else if (std::fabs(d - 1.0f) < 1e-6f) {
    // Already aligned: the shortest arc is no rotation at all.
  } else {
    const Vec3 turn = b.Cross(a).Normalized();
    const float half = std::acos(d) * 0.5f;
    const float s = std::sin(half);
    *this *= Quaternion(std::cos(half), turn.x * s, turn.y * s, turn.z * s);
  }
}

void Quaternion::RotateAroundAxis(const Vec3& axis, float angle) {
  const float s = std::sin(angle * 0.5f);
  *this *= Quaternion(std::cos(angle * 0.5f), axis.x * s, axis.y * s, axis.z * s);
}

Quaternion Quaternion::LuaLerp(Quaternion q, float t) const {
  const float u = 1.0f - t;
  Quaternion r(w * u + q.w * t, x * u + q.x * t, y * u + q.y * t, z * u + q.z * t);
  return r.Normalize();
}

Vec3 Quaternion::GetEulerAngles() const {
  const float test = w * z + x * y;
  if (test > 0.499f) return {0.0f, 2.0f * std::atan2(x, w), kPi * 0.5f};
  if (test < -0.499f) return {0.0f, -2.0f * std::atan2(x, w), -kPi * 0.5f};
  const float ay = std::atan2(2.0f * (z * x + w * y), 1.0f - 2.0f * (y * y - z * z));
  const float az = std::asin(2.0f * test);
  const float ax = std::atan2(2.0f * (x * w - z * y), 1.0f - 2.0f * (x * x - z * z));
  return {ax, ay, az};
}

void Quaternion::RotateAroundAxisV(Vec3 axis, float degrees) { RotateAroundAxis(axis, DegToRad(degrees)); }

void Quaternion::LookAtV(Vec3 from, Vec3 to, Vec3 axis) {
  const auto usable = [](const Vec3& v) {
    const float n = v.LengthSquared();
    return n > 0.0f && std::isfinite(n);
  };
  if (!usable(from) || !usable(to)) {
    BASE_LOG(Warning,
             "Quaternion:LookAt needs two non-zero finite directions; "
             "rotation left unchanged.");
    return;
  }
  LookAt(from, to, axis);
}

}  // namespace Base
