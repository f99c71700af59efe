// Speaker-set triangulation (every triangle whose circumcircle holds no other speaker) and
// vector-base amplitude panning over it.
#include "SoundEngine/Lower/Spatial/SpeakerSet.h"

#include <cmath>
#include <cstring>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kTwoPi = 6.2831853f;
constexpr uint32_t kGrowBy = 4;
// Below this a triangle's directions nearly share a plane through the listener: its inverse is noise.
constexpr float kSingular = 1e-6f;
constexpr float kInCircle = 0.01f;
constexpr float kCollinear = 1e-9f;

float WrapAzimuth(float a) { return a > kPi ? a - kTwoPi : (a < -kPi ? a + kTwoPi : a); }
float WrapElevation(float e) { return e > kHalfPi ? e - kPi : (e < -kHalfPi ? e + kPi : e); }

float Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void Cross(const float* a, const float* b, float* out) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

void Direction(float azimuth, float elevation, float* v) {
  v[0] = std::cos(elevation) * std::cos(azimuth);
  v[1] = std::cos(elevation) * std::sin(azimuth);
  v[2] = std::sin(elevation);
}

bool Append(SnTriangleList& list, const SnSpeakerTriangle& triangle) {
  if (list.count == list.capacity) {
    const uint32_t capacity = list.capacity + kGrowBy;
    auto* grown = static_cast<SnSpeakerTriangle*>(
        MemoryMgr::Malloc(g_LEngineDefaultPoolId, capacity * sizeof(SnSpeakerTriangle)));
    if (!grown) return false;
    if (list.count) std::memcpy(grown, list.triangles, list.count * sizeof(SnSpeakerTriangle));
    if (list.triangles) MemoryMgr::Free(g_LEngineDefaultPoolId, list.triangles);
    list.triangles = grown;
    list.capacity = capacity;
  }
  list.triangles[list.count++] = triangle;
  return true;
}

// Positive when d lies inside the circumcircle of the counter-clockwise a, b, c.
float InCircle(const float* a, const float* b, const float* c, const float* d) {
  const float ax = a[0] - d[0], ay = a[1] - d[1], bx = b[0] - d[0], by = b[1] - d[1];
  const float cx = c[0] - d[0], cy = c[1] - d[1];
  return (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
         (cx * cx + cy * cy) * (ax * by - bx * ay);
}

}  // namespace

SNRESULT CSnSpeakerSet::Build(SnTriangleList& list, const float* points, uint32_t count) {
  if (count < 3) return SN_Success;  // two speakers make no triangle
  for (uint32_t i = 0; i < count; ++i)
    for (uint32_t j = i + 1; j < count; ++j)
      for (uint32_t k = j + 1; k < count; ++k) {
        const float* a = points + 2 * i;
        const float* b = points + 2 * j;
        const float* c = points + 2 * k;
        const float cross = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
        if (std::fabs(cross) <= kCollinear) continue;
        SnSpeakerTriangle t{i, j, k, 2 * kPi, 2 * kPi, -2 * kPi, -2 * kPi};
        if (cross < 0) std::swap(t.j, t.k), std::swap(b, c);
        bool empty = true;
        for (uint32_t l = 0; l < count && empty; ++l)
          if (l != i && l != j && l != k && InCircle(a, b, c, points + 2 * l) > kInCircle) empty = false;
        if (!empty) continue;
        for (uint32_t corner : {t.i, t.j, t.k}) {
          const float u = points[2 * corner], v = points[2 * corner + 1];
          t.minU = std::fmin(t.minU, u), t.minV = std::fmin(t.minV, v);
          t.maxU = std::fmax(t.maxU, u), t.maxV = std::fmax(t.maxV, v);
        }
        if (!Append(list, t)) {
          SOUND_LOG(Error, "Speaker set: no memory for more than %u triangles", list.count);
          return SN_InsufficientMemory;
        }
      }
  return SN_Success;
}

SnSpeakerSet* CSnSpeakerSet::Create(ISnPluginMemAlloc& allocator, const float* angles, uint32_t count) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  if (count == 0 || !angles) return nullptr;
  auto* set = static_cast<SnSpeakerSet*>(allocator.Malloc(sizeof(SnSpeakerSet)));
  if (!set) return nullptr;
  std::memset(set, 0, sizeof(SnSpeakerSet));
  const uint32_t n = count + 1;
  set->count = n;
  bool ok = true;
  for (SnTriangleList& list : set->lists) {
    list.triangles =
        static_cast<SnSpeakerTriangle*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, 2 * n * sizeof(SnSpeakerTriangle)));
    list.capacity = list.triangles ? 2 * n : 0;
    ok = ok && list.triangles;
  }
  set->directions = static_cast<float*>(allocator.Malloc(3 * n * sizeof(float)));
  set->angles = static_cast<float*>(allocator.Malloc(2 * n * sizeof(float)));
  set->secondAngles = static_cast<float*>(allocator.Malloc(2 * n * sizeof(float)));
  if (!ok || !set->directions || !set->angles || !set->secondAngles) {
    SOUND_LOG(Error, "CreateSpeakerSet: no memory for %u speakers", count);
    Destroy(allocator, set);
    return nullptr;
  }
  for (uint32_t s = 0; s < n; ++s) {
    // The last speaker closes the hull straight below the listener.
    const float azimuth = s < count ? WrapAzimuth(angles[2 * s]) : 0.0f;
    const float elevation = s < count ? WrapElevation(angles[2 * s + 1]) : -kHalfPi;
    float* v = set->directions + 3 * s;
    Direction(azimuth, elevation, v);
    set->angles[2 * s] = azimuth;
    set->angles[2 * s + 1] = elevation;
    set->secondAngles[2 * s] = WrapAzimuth(std::atan2(v[2], -v[0]));
    set->secondAngles[2 * s + 1] = WrapElevation(std::asin(std::fmax(-1.0f, std::fmin(1.0f, v[1]))));
  }
  if (Build(set->lists[0], set->angles, n) != SN_Success || Build(set->lists[1], set->secondAngles, n) != SN_Success) {
    Destroy(allocator, set);
    return nullptr;
  }
  return set;
}

void CSnSpeakerSet::Destroy(ISnPluginMemAlloc& allocator, SnSpeakerSet* set) {
  if (!set) return;
  for (SnTriangleList& list : set->lists)
    if (list.triangles) MemoryMgr::Free(g_LEngineDefaultPoolId, list.triangles);
  if (set->directions) allocator.Free(set->directions);
  if (set->angles) allocator.Free(set->angles);
  if (set->secondAngles) allocator.Free(set->secondAngles);
  allocator.Free(set);
}

SnSpeakerTriangle* CSnSpeakerSet::CollectTriangles(const SnSpeakerSet& set, uint32_t& count) {
  count = set.lists[0].count + set.lists[1].count;
  if (count == 0) return nullptr;
  auto* all =
      static_cast<SnSpeakerTriangle*>(MemoryMgr::Malloc(g_LEngineDefaultPoolId, count * sizeof(SnSpeakerTriangle)));
  if (!all) {
    count = 0;
    return nullptr;
  }
  std::memcpy(all, set.lists[0].triangles, set.lists[0].count * sizeof(SnSpeakerTriangle));
  if (set.lists[1].count)
    std::memcpy(all + set.lists[0].count, set.lists[1].triangles, set.lists[1].count * sizeof(SnSpeakerTriangle));
  return all;
}

void CSnSpeakerSet::ComputeGains(const SnSpeakerSet& set, float azimuth, float elevation, uint32_t channels,
                                 float* gains) {
  std::fill(gains, gains + channels, 0.0f);
  if (!std::isfinite(azimuth) || !std::isfinite(elevation)) return;
  float p[3];
  Direction(azimuth, elevation, p);
  uint32_t count = 0;
  SnSpeakerTriangle* triangles = CollectTriangles(set, count);
  if (!triangles) return;
  const SnSpeakerTriangle* best = nullptr;
  float bestGains[3] = {};
  float bestNorm = -1.0f;
  for (uint32_t t = 0; t < count; ++t) {
    const float* a = set.directions + 3 * triangles[t].i;
    const float* b = set.directions + 3 * triangles[t].j;
    const float* c = set.directions + 3 * triangles[t].k;
    float bc[3], pc[3], bp[3];
    Cross(b, c, bc);
    const float det = Dot(a, bc);
    if (std::fabs(det) < kSingular) continue;
    Cross(p, c, pc);
    Cross(b, p, bp);
    const float g[3] = {Dot(p, bc) / det, Dot(a, pc) / det, Dot(a, bp) / det};
    if (g[0] < -kSingular || g[1] < -kSingular || g[2] < -kSingular) continue;
    const float norm = g[0] * g[0] + g[1] * g[1] + g[2] * g[2];
    if (norm > bestNorm) {
      bestNorm = norm;
      best = &triangles[t];
      for (int i = 0; i < 3; ++i) bestGains[i] = std::fmax(g[i], 0.0f);
    }
  }
  if (best) {
    const uint32_t corners[3] = {best->i, best->j, best->k};
    const uint32_t virtualSpeaker = set.count - 1;
    if (corners[0] == virtualSpeaker || corners[1] == virtualSpeaker || corners[2] == virtualSpeaker) {
      // The hull's closing speaker is silent: the two real ones pan as a pair in the horizontal plane.
      uint32_t pair[2], n = 0;
      for (uint32_t corner : corners)
        if (corner != virtualSpeaker && n < 2) pair[n++] = corner;
      const float* u = set.directions + 3 * pair[0];
      const float* v = set.directions + 3 * pair[1];
      const float det = u[0] * v[1] - v[0] * u[1];
      float gu = 0.70710677f, gv = 0.70710677f;
      if (std::fabs(det) >= kSingular) {
        gu = std::fmax(0.0f, (p[0] * v[1] - v[0] * p[1]) / det);
        gv = std::fmax(0.0f, (u[0] * p[1] - p[0] * u[1]) / det);
        const float length = std::sqrt(gu * gu + gv * gv);
        if (length > 0.0f)
          gu /= length, gv /= length;
        else
          gu = gv = 0.70710677f;
      }
      if (pair[0] < channels) gains[pair[0]] = gu;
      if (pair[1] < channels) gains[pair[1]] = gv;
    } else {
      for (int i = 0; i < 3; ++i)
        if (corners[i] < channels) gains[corners[i]] = bestGains[i];
    }
  }
  MemoryMgr::Free(g_LEngineDefaultPoolId, triangles);
}

}  // namespace SN
