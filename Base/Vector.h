// Float vectors of the engine (Vec2, Vec3, Vec4) and the 12-float Jacobian row of the contact solver.
#pragma once

#include <cmath>
#include <type_traits>

namespace Base {

struct Mat3;

struct Vec2 {
  float x = 0.0f;
  float y = 0.0f;

  constexpr Vec2() = default;
  constexpr Vec2(float x_, float y_) : x(x_), y(y_) {}

  constexpr Vec2 operator+(const Vec2& r) const { return {x + r.x, y + r.y}; }
  constexpr Vec2 operator-(const Vec2& r) const { return {x - r.x, y - r.y}; }
  constexpr Vec2 operator-() const { return {-x, -y}; }
  constexpr Vec2 operator*(float s) const { return {x * s, y * s}; }
  constexpr Vec2 operator/(float s) const { return {x / s, y / s}; }
  constexpr Vec2& operator+=(const Vec2& r) { x += r.x; y += r.y; return *this; }
  constexpr Vec2& operator-=(const Vec2& r) { x -= r.x; y -= r.y; return *this; }
  constexpr Vec2& operator*=(float s) { x *= s; y *= s; return *this; }
  constexpr Vec2& operator/=(float s) { x /= s; y /= s; return *this; }
  // Exact comparison: a NaN component makes two vectors unequal.
  constexpr bool operator==(const Vec2& r) const { return x == r.x && y == r.y; }
  constexpr bool operator!=(const Vec2& r) const { return !(*this == r); }

  constexpr float Dot(const Vec2& r) const { return x * r.x + y * r.y; }
  constexpr float LengthSquared() const { return Dot(*this); }
  float Length() const { return std::sqrt(LengthSquared()); }
  // In place; a vector of length exactly 0 stays as it is rather than turning into NaNs.
  Vec2& Normalize() {
    const float len = Length();
    if (len != 0.0f) *this /= len;
    return *this;
  }
};

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vec3() = default;
  constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  constexpr Vec3 operator+(const Vec3& r) const { return {x + r.x, y + r.y, z + r.z}; }
  constexpr Vec3 operator-(const Vec3& r) const { return {x - r.x, y - r.y, z - r.z}; }
  constexpr Vec3 operator-() const { return {-x, -y, -z}; }
  constexpr Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
  constexpr Vec3 operator/(float s) const { return {x / s, y / s, z / s}; }
  // Component-wise product and quotient (scales, per-axis factors).
  constexpr Vec3 operator*(const Vec3& r) const { return {x * r.x, y * r.y, z * r.z}; }
  constexpr Vec3 operator/(const Vec3& r) const { return {x / r.x, y / r.y, z / r.z}; }
  constexpr Vec3& operator+=(const Vec3& r) { x += r.x; y += r.y; z += r.z; return *this; }
  constexpr Vec3& operator-=(const Vec3& r) { x -= r.x; y -= r.y; z -= r.z; return *this; }
  constexpr Vec3& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
  constexpr Vec3& operator/=(float s) { x /= s; y /= s; z /= s; return *this; }
  constexpr Vec3& operator*=(const Vec3& r) { x *= r.x; y *= r.y; z *= r.z; return *this; }
  constexpr Vec3& operator/=(const Vec3& r) { x /= r.x; y /= r.y; z /= r.z; return *this; }
  constexpr bool operator==(const Vec3& r) const { return x == r.x && y == r.y && z == r.z; }
  constexpr bool operator!=(const Vec3& r) const { return !(*this == r); }

  constexpr float Dot(const Vec3& r) const { return x * r.x + y * r.y + z * r.z; }
  // this x r
  constexpr Vec3 Cross(const Vec3& r) const {
    return {y * r.z - z * r.y, z * r.x - x * r.z, x * r.y - y * r.x};
  }
  constexpr float LengthSquared() const { return Dot(*this); }
  float Length() const { return std::sqrt(LengthSquared()); }
  Vec3& Normalize() {
    const float len = Length();
    if (len != 0.0f) *this /= len;
    return *this;
  }
  Vec3 Normalized() const { return Vec3(*this).Normalize(); }
};

// A default Vec4 is a point at the origin (w = 1), the value reflection hands out for a new one.
struct Vec4 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 1.0f;

  constexpr Vec4() = default;
  constexpr Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  constexpr Vec4(const Vec3& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}
  constexpr Vec4(const Vec2& v, float z_, float w_) : x(v.x), y(v.y), z(z_), w(w_) {}
  constexpr Vec3 ToVec3() const { return {x, y, z}; }

  constexpr Vec4 operator+(const Vec4& r) const { return {x + r.x, y + r.y, z + r.z, w + r.w}; }
  constexpr Vec4 operator-(const Vec4& r) const { return {x - r.x, y - r.y, z - r.z, w - r.w}; }
  constexpr Vec4 operator-() const { return {-x, -y, -z, -w}; }
  constexpr Vec4 operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
  constexpr Vec4 operator/(float s) const { return {x / s, y / s, z / s, w / s}; }
  constexpr Vec4& operator+=(const Vec4& r) { x += r.x; y += r.y; z += r.z; w += r.w; return *this; }
  constexpr Vec4& operator-=(const Vec4& r) { x -= r.x; y -= r.y; z -= r.z; w -= r.w; return *this; }
  constexpr Vec4& operator*=(float s) { x *= s; y *= s; z *= s; w *= s; return *this; }
  constexpr Vec4& operator/=(float s) { x /= s; y /= s; z /= s; w /= s; return *this; }
  constexpr bool operator==(const Vec4& r) const {
    return x == r.x && y == r.y && z == r.z && w == r.w;
  }
  constexpr bool operator!=(const Vec4& r) const { return !(*this == r); }

  constexpr float Dot(const Vec4& r) const { return x * r.x + y * r.y + z * r.z + w * r.w; }
  constexpr float LengthSquared() const { return Dot(*this); }
  float Length() const { return std::sqrt(LengthSquared()); }
  Vec4& Normalize() {
    const float len = Length();
    if (len != 0.0f) *this /= len;
    return *this;
  }
};

constexpr Vec2 operator*(float s, const Vec2& v) { return v * s; }
constexpr Vec3 operator*(float s, const Vec3& v) { return v * s; }
constexpr Vec4 operator*(float s, const Vec4& v) { return v * s; }
// A scalar over a vector divides the scalar by each component.
constexpr Vec2 operator/(float s, const Vec2& v) { return {s / v.x, s / v.y}; }
constexpr Vec3 operator/(float s, const Vec3& v) { return {s / v.x, s / v.y, s / v.z}; }
constexpr Vec4 operator/(float s, const Vec4& v) { return {s / v.x, s / v.y, s / v.z, s / v.w}; }

constexpr float Dot(const Vec2& a, const Vec2& b) { return a.Dot(b); }
constexpr float Dot(const Vec3& a, const Vec3& b) { return a.Dot(b); }
constexpr float Dot(const Vec4& a, const Vec4& b) { return a.Dot(b); }
constexpr Vec3 Cross(const Vec3& a, const Vec3& b) { return a.Cross(b); }

// One constraint row of the contact solver: linear and angular parts of body A, then of body B.
struct Vec12 {
  float v[12] = {};

  constexpr Vec12() = default;
  constexpr Vec12(const Vec3& linearA, const Vec3& angularA, const Vec3& linearB, const Vec3& angularB)
      : v{linearA.x,  linearA.y,  linearA.z,  angularA.x, angularA.y, angularA.z,
          linearB.x,  linearB.y,  linearB.z,  angularB.x, angularB.y, angularB.z} {}

  constexpr float Dot(const Vec12& r) const {
    float sum = 0.0f;
    for (int i = 0; i < 12; ++i) sum += v[i] * r.v[i];
    return sum;
  }
  constexpr Vec12 operator*(float s) const {
    Vec12 out;
    for (int i = 0; i < 12; ++i) out.v[i] = v[i] * s;
    return out;
  }
  // Component-wise, in place (applies an inverse-mass diagonal to a Jacobian row).
  constexpr Vec12& operator*=(const Vec12& r) {
    for (int i = 0; i < 12; ++i) v[i] *= r.v[i];
    return *this;
  }
  constexpr Vec12 Clone() const { return *this; }
  // The diagonal inverse-mass row: A's inverse mass three times, the diagonal of A's inverse inertia,
  // then the same for B. Defined with Mat3.
  void SetMassDiagonal(float invMassA, const Mat3& invInertiaA, float invMassB, const Mat3& invInertiaB);
};

constexpr Vec12 operator*(float s, const Vec12& r) { return r * s; }

// These cross into GPU buffers, file records and reflection by offset: keep them plain floats.
static_assert(sizeof(Vec2) == 8 && sizeof(Vec3) == 12 && sizeof(Vec4) == 16 && sizeof(Vec12) == 48);
static_assert(std::is_standard_layout_v<Vec2> && std::is_trivially_copyable_v<Vec2>);
static_assert(std::is_standard_layout_v<Vec3> && std::is_trivially_copyable_v<Vec3>);
static_assert(std::is_standard_layout_v<Vec4> && std::is_trivially_copyable_v<Vec4>);
static_assert(std::is_standard_layout_v<Vec12> && std::is_trivially_copyable_v<Vec12>);

}  // namespace Base
