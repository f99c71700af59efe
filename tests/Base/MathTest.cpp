// Vector, matrix and quaternion math, scalar helpers and the seeded random sources.
#include "Base/Math.h"
#include "Base/TraceLog.h"

#include <gtest/gtest.h>

#include "tests/Support/LogCapture.h"

#include <cmath>
#include <string>

namespace {

using namespace Base;

constexpr float kEps = 1e-5f;

void ExpectNear(const Vec3& a, const Vec3& b, float eps = kEps) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}
void ExpectNear(const Quaternion& a, const Quaternion& b, float eps = kEps) {
  EXPECT_NEAR(a.w, b.w, eps);
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}
template <typename M>
void ExpectNear(const M& a, const M& b, float eps = kEps) {
  for (size_t i = 0; i < std::size(a.m); ++i) EXPECT_NEAR(a.m[i], b.m[i], eps) << "element " << i;
}

TEST(MathTest, VectorBasics) {
  EXPECT_EQ(Vec3(1, 0, 0).Cross(Vec3(0, 1, 0)), Vec3(0, 0, 1));
  EXPECT_EQ(Cross(Vec3(1, 2, 3), Vec3(4, 5, 6)), Vec3(-3, 6, -3));
  EXPECT_FLOAT_EQ(Dot(Vec3(1, 2, 3), Vec3(4, 5, 6)), 32.0f);
  EXPECT_EQ(2.0f * Vec3(1, 2, 3) / 2.0f - Vec3(1, 2, 3), Vec3());

  Vec3 zero;
  zero.Normalize();  // stays zero rather than NaN
  EXPECT_EQ(zero, Vec3());
  EXPECT_FLOAT_EQ(Vec3(3, 4, 0).Normalize().Length(), 1.0f);

  const Vec3 nan(NAN, 0, 0);
  EXPECT_NE(nan, nan);

  Vec12 row(Vec3(1, 1, 1), Vec3(2, 2, 2), Vec3(3, 3, 3), Vec3(4, 4, 4));
  Mat3 inertia;
  inertia(1, 1) = 5;
  Vec12 mass;
  mass.SetMassDiagonal(0.5f, inertia, 0.25f, Mat3());
  EXPECT_FLOAT_EQ(row.Dot(mass), 1.5f + 2 * 7 + 2.25f + 12);
}

TEST(MathTest, MatrixTransforms) {
  Vec3 axis(0, 0, 2);
  const Mat4 r = Mat4::BuildRotation(kPi / 2, axis);
  EXPECT_EQ(axis, Vec3(0, 0, 1));  // an lvalue axis is normalised in place
  const Mat4 t = Mat4::BuildTranslation(Vec3(10, 20, 30));
  EXPECT_EQ(t[7], 20.0f);  // row-major: the translation is the last column

  // T x R x p = R p + t; counter-clockwise: x turns onto y.
  const Vec4 p(1, 0, 0, 1);
  ExpectNear((t * r * p).ToVec3(), Vec3(10, 21, 30));
  Mat4 tr = t;
  tr *= r;
  ExpectNear(tr, t * r);

  const Mat4 cols(Vec4(1, 2, 3, 4), Vec4(5, 6, 7, 8), Vec4(9, 10, 11, 12), Vec4(13, 14, 15, 16));
  EXPECT_EQ(cols(0, 1), 5.0f);
  EXPECT_EQ(cols(3, 0), 4.0f);
  Mat4 tp;
  cols.Transpose(tp);
  EXPECT_EQ(tp(1, 0), 5.0f);

  Mat3 flip = Mat3::BuildRotation(0.3f, Vec3(1, 2, 3));
  const Mat3 before = flip;
  flip.FlipHandedness();
  for (int i = 0; i < 9; ++i) {
    const bool negated = i == 2 || i == 5 || i == 6 || i == 7;
    EXPECT_EQ(flip[i], negated ? -before[i] : before[i]);
  }
}

TEST(MathTest, Inverses) {
  Mat3 a = Mat3::BuildRotation(0.7f, Vec3(1, -2, 0.5f));
  a(0, 0) *= 2;
  a(1, 2) += 0.3f;
  ExpectNear(a * a.Inverse(), Mat3());

  // Singular: the transposed cofactors come back unscaled, so A x result = det(A) I = 0.
  Mat3 s;
  s.m[0] = 1; s.m[1] = 2; s.m[2] = 3;
  s.m[3] = 2; s.m[4] = 4; s.m[5] = 6;
  s.m[6] = 0; s.m[7] = 1; s.m[8] = 1;
  const Mat3 adj = s.Inverse();
  EXPECT_NE(adj(0, 0), 0.0f);
  Mat3 zero;
  for (float& e : zero.m) e = 0;
  ExpectNear(s * adj, zero);
  ExpectNear(zero.Inverse(), zero);

  const Mat4 world = Mat4::BuildTranslation(Vec3(1, -2, 3)) * Mat4::BuildRotation(1.1f, Vec3(0, 1, 1)) *
                     Mat4::BuildScale(2, 3, 4);
  ExpectNear(world * world.Inverse(), Mat4());
  ExpectNear(world.AffineInverse(), world.Inverse());
  Mat4 general = world;
  general(3, 0) = 0.25f;  // not affine
  ExpectNear(general * general.Inverse(), Mat4(), 1e-4f);
  const Mat4 flat = Mat4::BuildScale(1, 0, 1);
  for (float e : flat.Inverse().m) EXPECT_TRUE(std::isfinite(e));
  for (float e : flat.AffineInverse().m) EXPECT_TRUE(std::isfinite(e));
}

TEST(MathTest, QuaternionConversions) {
  const float t = 0.8f;
  const Quaternion qz(std::cos(t / 2), 0, 0, std::sin(t / 2));
  ExpectNear(qz.ToMat3(), Mat3::BuildRotation(t, Vec3(0, 0, 1)).Transposed());
  ExpectNear(qz.ToMat3Transposed(), Mat3::BuildRotation(t, Vec3(0, 0, 1)));
  EXPECT_EQ(qz.ToMat4(Vec3(1, 2, 3))[11], 3.0f);

  // From a column-vector matrix back to the quaternion, through every branch of the trace test.
  for (const Vec3& axis : {Vec3(1, 2, 3), Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)}) {
    for (float angle : {0.5f, 3.0f}) {
      Quaternion q;
      q.RotateAroundAxis(axis.Normalized(), angle);
      Quaternion back(q.ToMat3Transposed());
      if (back.Dot(q) < 0) back = Quaternion(-back.w, -back.x, -back.y, -back.z);
      ExpectNear(back, q);
    }
  }

  const Quaternion a(Vec3(0.3f, -0.2f, 1.0f)), b(Vec3(-1.2f, 0.4f, 0.1f));
  ExpectNear((a * b).ToMat3(), b.ToMat3() * a.ToMat3());
  ExpectNear(a * a.Inverse(), Quaternion());
  ExpectNear(Quaternion(0, 0, 0, 0).Inverse(), Quaternion(0, 0, 0, 0), 0);
  Quaternion zero(0, 0, 0, 0);
  ExpectNear(zero.Normalize(), Quaternion(), 0);
  ExpectNear(Quaternion(2, 0, 0, 0).LuaLerp(Quaternion(0, 0, 0, 2), 0.5f),
             Quaternion(std::sqrt(0.5f), 0, 0, std::sqrt(0.5f)));
}

TEST(MathTest, Slerp) {
  Quaternion p, q;
  p.RotateAroundAxis(Vec3(0, 1, 0), 0.2f);
  q.RotateAroundAxis(Vec3(0, 1, 0), 1.4f);
  ExpectNear(p.Slerp(q, 0), p);
  ExpectNear(p.Slerp(q, 1), q);
  Quaternion mid;
  mid.RotateAroundAxis(Vec3(0, 1, 0), 0.8f);
  ExpectNear(p.LuaSlerp(q, 0.5f), mid);

  // -q is the same rotation on the far hemisphere: the path stays on the shorter arc and ends at -q.
  const Quaternion negQ(-q.w, -q.x, -q.y, -q.z);
  ExpectNear(p.Slerp(negQ, 1), q);
  ExpectNear(p.Slerp(negQ, 0.5f), mid);
  // Nearly equal rotations fall back to linear weights.
  ExpectNear(p.Slerp(p, 0.3f), p);
}

TEST(MathTest, LookAtBranches) {
  const Vec3 from(1, 0, 0);
  const Vec3 to = Vec3(1, 2, -1).Normalized();
  const Quaternion q(from, to, Vec3(0, 1, 0));
  ExpectNear(q.ToMat3() * from, to);

  // Opposite directions: a half turn about the fallback axis.
  ExpectNear(Quaternion(from, -from, Vec3(0, 1, 0)), Quaternion(0, 0, 1, 0));
  // Same direction: no extra turn, so an existing rotation is kept (as it is just off parallel).
  Quaternion base(Vec3(0.1f, 0.2f, 0.3f));
  Quaternion same = base, near = base;
  same.LookAt(from, from * 3.0f, Vec3(0, 1, 0));
  near.LookAt(from, Vec3(1, 1e-3f, 0), Vec3(0, 1, 0));
  ExpectNear(same, base, 0);
  ExpectNear(near, base, 1e-3f);
  // The general branch composes on the right.
  Quaternion composed = base;
  composed.LookAt(from, to, Vec3(0, 1, 0));
  ExpectNear(composed, base * q);

  OrvTest::LogCapture capture;
  Quaternion script = base;
  script.LookAtV(Vec3(), to, Vec3(0, 1, 0));
  const std::string text = capture.Take();
  ExpectNear(script, base, 0);
  EXPECT_NE(text.find("Quaternion:LookAt needs two non-zero finite directions"), std::string::npos);
}

TEST(MathTest, EulerAngles) {
  Quaternion q;
  q.SetEulerAngles(Vec3(kPi / 2, 0, 0));
  ExpectNear(q, Quaternion(std::sqrt(0.5f), std::sqrt(0.5f), 0, 0));
  ExpectNear(Quaternion(Vec3(0, 0, 0.6f)), Quaternion(std::cos(0.3f), 0, 0, std::sin(0.3f)));

  // Single-axis rotations about x and z read back as their angle.
  ExpectNear(Quaternion(std::cos(0.4f), std::sin(0.4f), 0, 0).GetEulerAngles(), Vec3(0.8f, 0, 0));
  ExpectNear(Quaternion(std::cos(0.4f), 0, 0, std::sin(0.4f)).GetEulerAngles(), Vec3(0, 0, 0.8f));
  // Past the poles only the y angle varies.
  const Quaternion pole(0.6f, 0.2f, 0.0f, 0.9f);
  ExpectNear(pole.GetEulerAngles(), Vec3(0, 2 * std::atan2(0.2f, 0.6f), kPi / 2));
  const Quaternion southPole(0.6f, 0.2f, 0.0f, -0.9f);
  ExpectNear(southPole.GetEulerAngles(), Vec3(0, -2 * std::atan2(0.2f, 0.6f), -kPi / 2));

  Quaternion spun;
  spun.RotateAroundAxisV(Vec3(0, 0, 1), 90);
  ExpectNear(spun, Quaternion(std::sqrt(0.5f), 0, 0, std::sqrt(0.5f)));
  spun.Reset();
  ExpectNear(spun, Quaternion(), 0);
}

TEST(MathTest, Scalars) {
  EXPECT_EQ(Clamp(-1, 0, 1), 0.0f);
  EXPECT_EQ(Clamp(2, 0, 1), 1.0f);
  EXPECT_TRUE(std::isnan(Clamp(NAN, 0, 1)));
  EXPECT_EQ(DegToRad(180), float(3.14159265358979323846));
  EXPECT_FLOAT_EQ(RadToDeg(kPi), 180.0f);
}

TEST(MathTest, SeededRandom) {
  SeedRand15(1);
  EXPECT_EQ(Rand15(), 41);
  EXPECT_EQ(Rand15(), 18467);
  EXPECT_EQ(Rand15(), 6334);
  for (int i = 0; i < 10000; ++i) {
    const int r = Rand15();
    ASSERT_TRUE(r >= 0 && r <= kRand15Max) << r;
  }

  SeedRandom(7);
  const float f = RandomFloat(1, 2);
  SeedRandom(7);
  EXPECT_EQ(RandomFloat(1, 2), f);
  EXPECT_EQ(RandomInt(5, 5), 5);
  EXPECT_EQ(RandomFloat(3, 3), 3.0f);
  EXPECT_TRUE(std::isnan(RandomFloat(NAN, 1)));
  bool sawLo = false, sawHi = false;
  for (int i = 0; i < 1000; ++i) {
    const int n = RandomInt(9, 2);  // bounds in either order
    ASSERT_TRUE(n >= 2 && n <= 9) << n;
    sawLo |= n == 2;
    sawHi |= n == 9;
    const float x = RandomFloat(1, -1);
    ASSERT_TRUE(x >= -1.0f && x < 1.0f) << x;
  }
  EXPECT_TRUE(sawLo && sawHi);
  const Vec3 v = RandomVec3(Vec3(0, 5, -1), Vec3(1, 5, -2));
  EXPECT_EQ(v.y, 5.0f);
  EXPECT_TRUE(v.x >= 0 && v.x < 1 && v.z >= -2 && v.z < -1);
}

}  // namespace
