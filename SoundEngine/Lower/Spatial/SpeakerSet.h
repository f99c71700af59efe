// Speaker sets of mixer plug-ins: speakers anywhere on the sphere, triangulated twice (in azimuth and
// elevation, and in a second parameterisation whose seam lies elsewhere), and vector-base amplitude
// panning over the triangles. Audio thread (a mixer's calls), under the global audio lock.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class ISnPluginMemAlloc;

struct SnSpeakerTriangle {
  uint32_t i, j, k;  // counter-clockwise in the plane they were built in
  float minU, minV, maxU, maxV;
};

struct SnTriangleList {
  SnSpeakerTriangle* triangles;  // lower-engine pool
  uint32_t count;
  uint32_t capacity;
};

struct SnSpeakerSet {
  uint32_t count;         // the given speakers and one virtual speaker straight below, last
  float* directions;      // unit vectors, three floats each (plug-in allocator)
  float* angles;          // (azimuth, elevation) pairs (plug-in allocator)
  float* secondAngles;    // the same directions from the other pole (plug-in allocator)
  SnTriangleList lists[2];
};

class CSnSpeakerSet {
 public:
  // `count` speakers given as (azimuth, elevation) radian pairs. Null when `count` is 0 or memory
  // runs out (nothing is then kept).
  static SnSpeakerSet* Create(ISnPluginMemAlloc& allocator, const float* angles, uint32_t count);
  // Every block back to the allocator that gave it.
  static void Destroy(ISnPluginMemAlloc& allocator, SnSpeakerSet* set);
  // The triangles of one plane of points, one (u, v) pair per speaker, whose circumcircles hold no
  // other speaker. 1; 52 when the list cannot grow (the triangles found so far stay).
  static SNRESULT Build(SnTriangleList& list, const float* points, uint32_t count);
  // Amplitude gains of the direction, one per given speaker (`channels` written, the rest of the
  // set ignored). Silent when no triangle holds the direction.
  static void ComputeGains(const SnSpeakerSet& set, float azimuth, float elevation, uint32_t channels, float* gains);
  // Both lists into one scratch list from the lower-engine pool (freed by the caller); null when
  // there are none or no memory.
  static SnSpeakerTriangle* CollectTriangles(const SnSpeakerSet& set, uint32_t& count);
};

}  // namespace SN
