// Scalar helpers (clamp, angle units) and the engine's random numbers.
#pragma once

#include "Base/Vector.h"

#include <cstdint>

namespace Base {

constexpr float kPi = 3.14159265358979323846f;

// NaN passes through: both comparisons fail, so the value itself comes back.
constexpr float Clamp(float value, float min, float max) {
  if (value < min) return min;
  if (value > max) return max;
  return value;
}

// Computed in double so that whole degrees land on the same float every time.
constexpr float DegToRad(float degrees) { return float(double(degrees) * 0.017453292519943295); }
constexpr float RadToDeg(float radians) { return float(double(radians) * 57.29577951308232); }

// Engine-wide uniform draws from one 32-bit Mersenne Twister, seeded once from the platform's
// nondeterministic source. Main thread only. Equal bounds give the bound, reversed bounds are swapped.
float RandomFloat(float a, float b);  // [lo, hi)
int RandomInt(int a, int b);          // [lo, hi], both ends included
Vec2 RandomVec2(const Vec2& a, const Vec2& b);
Vec3 RandomVec3(const Vec3& a, const Vec3& b);
Vec4 RandomVec4(const Vec4& a, const Vec4& b);
// Replaces the start-up seed: makes a run repeatable (tests, replays).
void SeedRandom(uint32_t seed);

// The small generator whose formulas expect 0..32767 (sound variation, broad-phase picks).
// Starts as if seeded with 1; safe to call from any thread.
constexpr int kRand15Max = 32767;
int Rand15();
void SeedRand15(uint32_t seed);
// The generator's state, which SeedRand15 takes back: a test that seeds it leaves it as it was.
uint32_t Rand15State();

}  // namespace Base
