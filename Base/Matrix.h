// Row-major float matrices (Mat2, Mat3, Mat4) that multiply column vectors from the left.
// Element (r, c) is m[r * n + c]; a Mat4 keeps its translation in elements 3, 7 and 11.
#pragma once

#include "Base/Vector.h"

#include <type_traits>

namespace Base {

struct Mat2 {
  float m[4] = {1.0f, 0.0f, 0.0f, 1.0f};

  constexpr Mat2() = default;
  constexpr float& operator()(int r, int c) { return m[r * 2 + c]; }
  constexpr float operator()(int r, int c) const { return m[r * 2 + c]; }
};

struct Mat3 {
  float m[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};

  constexpr Mat3() = default;
  // Rotation by angle (radians) about axis; an lvalue axis is normalised in place, as callers expect.
  Mat3(float angle, Vec3& axis) : Mat3(BuildRotation(angle, axis)) {}
  Mat3(float angle, const Vec3& axis) : Mat3(BuildRotation(angle, axis)) {}

  constexpr float& operator()(int r, int c) { return m[r * 3 + c]; }
  constexpr float operator()(int r, int c) const { return m[r * 3 + c]; }
  constexpr float& operator[](int i) { return m[i]; }
  constexpr float operator[](int i) const { return m[i]; }

  constexpr Mat3 operator*(const Mat3& b) const {
    Mat3 out;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        out.m[r * 3 + c] = m[r * 3] * b.m[c] + m[r * 3 + 1] * b.m[3 + c] + m[r * 3 + 2] * b.m[6 + c];
      }
    }
    return out;
  }
  constexpr Vec3 operator*(const Vec3& v) const {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
  }

  // Writes the transpose into result (result may be this matrix).
  constexpr void Transpose(Mat3& result) const { result = Transposed(); }
  constexpr Mat3 Transposed() const {
    Mat3 out;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) out.m[c * 3 + r] = m[r * 3 + c];
    return out;
  }
  constexpr float Determinant() const {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
  }
  // Transposed cofactors over the determinant; a singular matrix gives its transposed cofactors
  // unscaled (a zero inertia tensor thus inverts to zero instead of to infinities).
  Mat3 Inverse() const;
  // Converts a rotation between this engine's frame and one whose z axis is mirrored.
  constexpr void FlipHandedness() {
    m[2] = -m[2];
    m[5] = -m[5];
    m[6] = -m[6];
    m[7] = -m[7];
  }

  static Mat3 BuildRotation(float angle, Vec3& axis);
  static Mat3 BuildRotation(float angle, const Vec3& axis);
};

struct Mat4 {
  float m[16] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};

  constexpr Mat4() = default;
  // The Mat3 in the upper-left block of an identity.
  constexpr explicit Mat4(const Mat3& a)
      : m{a.m[0], a.m[1], a.m[2], 0.0f, a.m[3], a.m[4], a.m[5], 0.0f,
          a.m[6], a.m[7], a.m[8], 0.0f, 0.0f,   0.0f,   0.0f,   1.0f} {}
  // Each vector becomes one column.
  constexpr Mat4(const Vec4& c0, const Vec4& c1, const Vec4& c2, const Vec4& c3)
      : m{c0.x, c1.x, c2.x, c3.x, c0.y, c1.y, c2.y, c3.y, c0.z, c1.z, c2.z, c3.z, c0.w, c1.w, c2.w, c3.w} {}

  constexpr float& operator()(int r, int c) { return m[r * 4 + c]; }
  constexpr float operator()(int r, int c) const { return m[r * 4 + c]; }
  constexpr float& operator[](int i) { return m[i]; }
  constexpr float operator[](int i) const { return m[i]; }

  // Row r of the product is the rows of b weighted by row r of this: four-wide loops vectorise.
  Mat4 operator*(const Mat4& b) const {
    Mat4 out;
    for (int r = 0; r < 4; ++r) {
      const float* a = m + r * 4;
      float* o = out.m + r * 4;
      for (int c = 0; c < 4; ++c) o[c] = a[0] * b.m[c];
      for (int k = 1; k < 4; ++k)
        for (int c = 0; c < 4; ++c) o[c] += a[k] * b.m[k * 4 + c];
    }
    return out;
  }
  // this = this x b
  Mat4& operator*=(const Mat4& b) { return *this = *this * b; }
  constexpr Vec4 operator*(const Vec4& v) const {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3] * v.w,
            m[4] * v.x + m[5] * v.y + m[6] * v.z + m[7] * v.w,
            m[8] * v.x + m[9] * v.y + m[10] * v.z + m[11] * v.w,
            m[12] * v.x + m[13] * v.y + m[14] * v.z + m[15] * v.w};
  }

  constexpr void Transpose(Mat4& result) const { result = Transposed(); }
  constexpr Mat4 Transposed() const {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) out.m[c * 4 + r] = m[r * 4 + c];
    return out;
  }
  // General inverse by cofactors. A singular matrix gives its adjugate unscaled, as Mat3 does,
  // so no infinities reach the renderer.
  Mat4 Inverse() const;
  // Inverse of a matrix whose last row is (0, 0, 0, 1): A^-1 x T(-t).
  Mat4 AffineInverse() const;

  // Make* set this matrix; Build* return a new one.
  void MakeTranslation(const Vec3& t) { *this = BuildTranslation(t); }
  void MakeScale(float x, float y, float z) { *this = BuildScale(x, y, z); }
  void MakeScale(const Vec3& s) { *this = BuildScale(s.x, s.y, s.z); }

  static constexpr Mat4 BuildTranslation(const Vec3& t) {
    Mat4 out;
    out.m[3] = t.x;
    out.m[7] = t.y;
    out.m[11] = t.z;
    return out;
  }
  // Sets the whole fourth column, w included.
  static constexpr Mat4 BuildTranslation(const Vec4& t) {
    Mat4 out;
    out.m[3] = t.x;
    out.m[7] = t.y;
    out.m[11] = t.z;
    out.m[15] = t.w;
    return out;
  }
  static constexpr Mat4 BuildScale(float x, float y, float z) {
    Mat4 out;
    out.m[0] = x;
    out.m[5] = y;
    out.m[10] = z;
    return out;
  }
  static constexpr Mat4 BuildScale(const Vec3& s) { return BuildScale(s.x, s.y, s.z); }
  static Mat4 BuildRotation(float angle, Vec3& axis) { return Mat4(Mat3::BuildRotation(angle, axis)); }
  static Mat4 BuildRotation(float angle, const Vec3& axis) {
    return Mat4(Mat3::BuildRotation(angle, axis));
  }
};

// Plain data: copied by memcpy in reflection and uploaded as-is into GPU buffers.
static_assert(sizeof(Mat2) == 16 && sizeof(Mat3) == 36 && sizeof(Mat4) == 64);
static_assert(std::is_standard_layout_v<Mat2> && std::is_trivially_copyable_v<Mat2>);
static_assert(std::is_standard_layout_v<Mat3> && std::is_trivially_copyable_v<Mat3>);
static_assert(std::is_standard_layout_v<Mat4> && std::is_trivially_copyable_v<Mat4>);

}  // namespace Base
