// Rotations as quaternions stored (w, x, y, z), w first; the identity is (1, 0, 0, 0).
#pragma once

#include "Base/Matrix.h"
#include "Base/Vector.h"

#include <type_traits>

namespace Base {

struct Quaternion {
  // Reflected as "r", "i", "j", "k" in this order.
  float w = 1.0f;
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Quaternion() = default;
  constexpr Quaternion(float w_, float x_, float y_, float z_) : w(w_), x(x_), y(y_), z(z_) {}
  // From a rotation matrix in the column-vector convention (the layout of ToMat3Transposed).
  explicit Quaternion(const Mat3& m);
  // From Euler angles in radians (x, y, z).
  explicit Quaternion(const Vec3& euler);
  // The identity followed by LookAt(from, to, axis).
  Quaternion(const Vec3& from, const Vec3& to, const Vec3& axis);

  // Hamilton product this x r.
  constexpr Quaternion operator*(const Quaternion& r) const {
    return {w * r.w - x * r.x - y * r.y - z * r.z, w * r.x + x * r.w + y * r.z - z * r.y,
            w * r.y - x * r.z + y * r.w + z * r.x, w * r.z + x * r.y - y * r.x + z * r.w};
  }
  constexpr Quaternion& operator*=(const Quaternion& r) { return *this = *this * r; }
  constexpr float Dot(const Quaternion& r) const { return w * r.w + x * r.x + y * r.y + z * r.z; }
  constexpr float LengthSquared() const { return Dot(*this); }

  // Conjugate over the squared norm; a zero quaternion gives its (zero) conjugate, not NaNs.
  Quaternion Inverse() const;
  // A squared norm of exactly 0 sets w to 1 and leaves x, y, z; anything else (NaN included) is
  // divided by the norm.
  Quaternion& Normalize();
  // Spherical interpolation towards q along the shorter arc; t = 1 gives q, or -q when the two lie
  // on opposite hemispheres. Not normalised.
  Quaternion Slerp(const Quaternion& q, float t) const;
  // this = this x (shortest-arc rotation turning from onto to); a half turn about axis when they are
  // opposite; unchanged when they already agree.
  void LookAt(const Vec3& from, const Vec3& to, const Vec3& axis);
  // this = this x (cos(angle/2), axis sin(angle/2)); the axis is taken as given.
  void RotateAroundAxis(const Vec3& axis, float angle);

  // The engine's rotation matrix of q, row-major: the transpose of the column-vector matrix.
  constexpr Mat3 ToMat3() const {
    Mat3 r;
    r.m[0] = 1.0f - 2.0f * (y * y + z * z);
    r.m[1] = 2.0f * (x * y + w * z);
    r.m[2] = 2.0f * (x * z - w * y);
    r.m[3] = 2.0f * (x * y - w * z);
    r.m[4] = 1.0f - 2.0f * (x * x + z * z);
    r.m[5] = 2.0f * (y * z + w * x);
    r.m[6] = 2.0f * (x * z + w * y);
    r.m[7] = 2.0f * (y * z - w * x);
    r.m[8] = 1.0f - 2.0f * (x * x + y * y);
    return r;
  }
  constexpr Mat3 ToMat3Transposed() const { return ToMat3().Transposed(); }
  // The ToMat3 block with the translation in elements 3, 7, 11.
  constexpr Mat4 ToMat4(const Vec3& translation = Vec3()) const {
    Mat4 r(ToMat3());
    r.m[3] = translation.x;
    r.m[7] = translation.y;
    r.m[11] = translation.z;
    return r;
  }

  // Script-facing forms (also reachable as Base::Quat::...).
  void Reset() { *this = Quaternion(); }
  // Component-wise (1 - t) this + t q, normalised.
  Quaternion LuaLerp(Quaternion q, float t) const;
  Quaternion LuaSlerp(Quaternion q, float t) const { return Slerp(q, t); }
  void SetEulerAngles(Vec3 angles) { *this = Quaternion(angles); }
  // Euler angles (x, y, z) in radians; not the inverse of SetEulerAngles.
  Vec3 GetEulerAngles() const;
  // Angle in degrees.
  void RotateAroundAxisV(Vec3 axis, float degrees);
  // LookAt for scripts: a zero-length or non-finite direction is logged and leaves this unchanged.
  void LookAtV(Vec3 from, Vec3 to, Vec3 axis);
};

// The script bindings name the quaternion's methods through this shorter name.
using Quat = Quaternion;

static_assert(sizeof(Quaternion) == 16);
static_assert(std::is_standard_layout_v<Quaternion> && std::is_trivially_copyable_v<Quaternion>);

}  // namespace Base
