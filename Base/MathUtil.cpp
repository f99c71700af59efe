// The engine's two random sources: the Mersenne Twister behind the Random* draws and the 15-bit
// linear congruential generator for code written against a 0..32767 range.
#include "Base/MathUtil.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>

namespace Base {
namespace {

uint32_t StartSeed() {
  try {
    std::random_device device;
    return device();
  } catch (...) {
    // No entropy source: the clock still differs from run to run.
    return uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

std::mt19937& Generator() {
  static std::mt19937 generator(StartSeed());
  return generator;
}

// Built while the program loads, so the first draw never pays for the device.
[[maybe_unused]] const bool kGeneratorReady = (Generator(), true);

std::atomic<uint32_t> g_rand15State{1};

}  // namespace

float RandomFloat(float a, float b) {
  if (a == b || std::isnan(a) || std::isnan(b)) return a;
  const float lo = a < b ? a : b;
  const float hi = a < b ? b : a;
  const double u = std::uniform_real_distribution<double>(0.0, 1.0)(Generator());
  const float r = float(double(lo) + u * (double(hi) - double(lo)));
  // Rounding to float can reach hi itself; the range stays half-open.
  return r < hi ? r : std::nextafter(hi, lo);
}

int RandomInt(int a, int b) {
  if (a == b) return a;
  const int lo = a < b ? a : b;
  const int hi = a < b ? b : a;
  return std::uniform_int_distribution<int>(lo, hi)(Generator());
}

Vec2 RandomVec2(const Vec2& a, const Vec2& b) {
  const float x = RandomFloat(a.x, b.x);
  return {x, RandomFloat(a.y, b.y)};
}

Vec3 RandomVec3(const Vec3& a, const Vec3& b) {
  const float x = RandomFloat(a.x, b.x);
  const float y = RandomFloat(a.y, b.y);
  return {x, y, RandomFloat(a.z, b.z)};
}

Vec4 RandomVec4(const Vec4& a, const Vec4& b) {
  const float x = RandomFloat(a.x, b.x);
  const float y = RandomFloat(a.y, b.y);
  const float z = RandomFloat(a.z, b.z);
  return {x, y, z, RandomFloat(a.w, b.w)};
}

void SeedRandom(uint32_t seed) { Generator().seed(seed); }

int Rand15() {
  // state = state * 214013 + 2531011; the draw is bits 16..30. The CAS loop keeps concurrent
  // callers (audio and I/O threads) from losing or repeating steps.
  uint32_t state = g_rand15State.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = state * 214013u + 2531011u;
  } while (!g_rand15State.compare_exchange_weak(state, next, std::memory_order_relaxed));
  return int((next >> 16) & 0x7FFFu);
}

void SeedRand15(uint32_t seed) { g_rand15State.store(seed, std::memory_order_relaxed); }

uint32_t Rand15State() { return g_rand15State.load(std::memory_order_relaxed); }

}  // namespace Base
