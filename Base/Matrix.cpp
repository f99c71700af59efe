// Matrix inverses and axis-angle rotations; the hot products stay inline in the header.
#include "Base/Matrix.h"

namespace Base {

Mat3 Mat3::Inverse() const {
  Mat3 out;
  // Cofactor (r, c) is stored at (c, r): the adjugate.
  out.m[0] = m[4] * m[8] - m[5] * m[7];
  out.m[3] = -(m[3] * m[8] - m[5] * m[6]);
  out.m[6] = m[3] * m[7] - m[4] * m[6];
  out.m[1] = -(m[1] * m[8] - m[2] * m[7]);
  out.m[4] = m[0] * m[8] - m[2] * m[6];
  out.m[7] = -(m[0] * m[7] - m[1] * m[6]);
  out.m[2] = m[1] * m[5] - m[2] * m[4];
  out.m[5] = -(m[0] * m[5] - m[2] * m[3]);
  out.m[8] = m[0] * m[4] - m[1] * m[3];
  const float det = m[0] * out.m[0] + m[1] * out.m[3] + m[2] * out.m[6];
  if (det == 0.0f) return out;
  const float inv = 1.0f / det;
  for (float& e : out.m) e *= inv;
  return out;
}

// Counter-clockwise rotation for column vectors (Rodrigues form).
Mat3 Mat3::BuildRotation(float angle, const Vec3& axisIn) {
  const Vec3 a = axisIn.Normalized();
  const float c = std::cos(angle);
  const float s = std::sin(angle);
  const float k = 1.0f - c;
  Mat3 r;
  r.m[0] = a.x * a.x * k + c;
  r.m[1] = a.x * a.y * k - a.z * s;
  r.m[2] = a.x * a.z * k + a.y * s;
  r.m[3] = a.x * a.y * k + a.z * s;
  r.m[4] = a.y * a.y * k + c;
  r.m[5] = a.y * a.z * k - a.x * s;
  r.m[6] = a.x * a.z * k - a.y * s;
  r.m[7] = a.y * a.z * k + a.x * s;
  r.m[8] = a.z * a.z * k + c;
  return r;
}

Mat3 Mat3::BuildRotation(float angle, Vec3& axis) {
  axis.Normalize();
  return BuildRotation(angle, static_cast<const Vec3&>(axis));
}

Mat4 Mat4::Inverse() const {
  const float* a = m;
  // 2x2 minors of the top two rows (s) and the bottom two rows (c).
  const float s0 = a[0] * a[5] - a[4] * a[1];
  const float s1 = a[0] * a[6] - a[4] * a[2];
  const float s2 = a[0] * a[7] - a[4] * a[3];
  const float s3 = a[1] * a[6] - a[5] * a[2];
  const float s4 = a[1] * a[7] - a[5] * a[3];
  const float s5 = a[2] * a[7] - a[6] * a[3];
  const float c5 = a[10] * a[15] - a[14] * a[11];
  const float c4 = a[9] * a[15] - a[13] * a[11];
  const float c3 = a[9] * a[14] - a[13] * a[10];
  const float c2 = a[8] * a[15] - a[12] * a[11];
  const float c1 = a[8] * a[14] - a[12] * a[10];
  const float c0 = a[8] * a[13] - a[12] * a[9];

  Mat4 out;
  float* o = out.m;
  o[0] = a[5] * c5 - a[6] * c4 + a[7] * c3;
  o[1] = -a[1] * c5 + a[2] * c4 - a[3] * c3;
  o[2] = a[13] * s5 - a[14] * s4 + a[15] * s3;
  o[3] = -a[9] * s5 + a[10] * s4 - a[11] * s3;
  o[4] = -a[4] * c5 + a[6] * c2 - a[7] * c1;
  o[5] = a[0] * c5 - a[2] * c2 + a[3] * c1;
  o[6] = -a[12] * s5 + a[14] * s2 - a[15] * s1;
  o[7] = a[8] * s5 - a[10] * s2 + a[11] * s1;
  o[8] = a[4] * c4 - a[5] * c2 + a[7] * c0;
  o[9] = -a[0] * c4 + a[1] * c2 - a[3] * c0;
  o[10] = a[12] * s4 - a[13] * s2 + a[15] * s0;
  o[11] = -a[8] * s4 + a[9] * s2 - a[11] * s0;
  o[12] = -a[4] * c3 + a[5] * c1 - a[6] * c0;
  o[13] = a[0] * c3 - a[1] * c1 + a[2] * c0;
  o[14] = -a[12] * s3 + a[13] * s1 - a[14] * s0;
  o[15] = a[8] * s3 - a[9] * s1 + a[10] * s0;

  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (det == 0.0f) return out;
  const float inv = 1.0f / det;
  for (float& e : out.m) e *= inv;
  return out;
}

Mat4 Mat4::AffineInverse() const {
  Mat3 upper;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) upper.m[r * 3 + c] = m[r * 4 + c];
  const Mat3 inv = upper.Inverse();
  // A' x T(-t): the block A' with the translation column A' (-t).
  Mat4 out(inv);
  const Vec3 t = inv * Vec3(-m[3], -m[7], -m[11]);
  out.m[3] = t.x;
  out.m[7] = t.y;
  out.m[11] = t.z;
  return out;
}

void Vec12::SetMassDiagonal(float invMassA, const Mat3& invInertiaA, float invMassB,
                            const Mat3& invInertiaB) {
  v[0] = v[1] = v[2] = invMassA;
  v[3] = invInertiaA.m[0];
  v[4] = invInertiaA.m[4];
  v[5] = invInertiaA.m[8];
  v[6] = v[7] = v[8] = invMassB;
  v[9] = invInertiaB.m[0];
  v[10] = invInertiaB.m[4];
  v[11] = invInertiaB.m[8];
}

}  // namespace Base
