// Pair-gain tables by the tangent law, region by region between a device's speaker angles, and the
// headphone law.
#include "SoundEngine/Lower/Spatial/PairGainTable.h"

#include <cmath>
#include <new>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"

namespace SN {
namespace {

constexpr uint32_t kHalfCircle = kAngleUnitsPerCircle / 2;
constexpr double kPi = 3.14159265358979323846;
constexpr double kRadiansPerUnit = kPi / kHalfCircle;

float* HeadphoneStorage() {
  static float table[kHeadphoneEntries];
  return table;
}

// The tangent law over the integer angles first..last of a region of bisector `bisector` and half
// aperture `half` (units). Sines and cosines step by the recurrence x(n+1) = 2 cos(d) x(n) - x(n-1)
// in double, so that a region costs two calls to the math library.
void FillRegion(double bisector, double half, uint32_t first, uint32_t last, SnPairGain* gains) {
  const double h = half * kRadiansPerUnit;
  const double sinH = std::sin(h), cosH = std::cos(h);
  const double twoCosStep = 2.0 * std::cos(kRadiansPerUnit);
  const double t0 = first * kRadiansPerUnit - bisector * kRadiansPerUnit;
  double sinPrev = std::sin(t0 - kRadiansPerUnit), sinCur = std::sin(t0);
  double cosPrev = std::cos(t0 - kRadiansPerUnit), cosCur = std::cos(t0);
  for (uint32_t a = first; a <= last; ++a) {
    const double toSecond = cosCur * sinH + sinCur * cosH;  // sin(H + t)
    const double toFirst = cosCur * sinH - sinCur * cosH;   // sin(H - t)
    const double sum = toSecond * toSecond + toFirst * toFirst;
    gains[a].first = float(toFirst * toFirst / sum);
    gains[a].second = float(toSecond * toSecond / sum);
    const double sinNext = twoCosStep * sinCur - sinPrev, cosNext = twoCosStep * cosCur - cosPrev;
    sinPrev = sinCur, sinCur = sinNext;
    cosPrev = cosCur, cosCur = cosNext;
  }
}

SnPairGainTable* FindTable(SnPairGainTable* list, uint32_t mask) {
  for (; list; list = list->next)
    if (list->mask == mask) return list;
  return nullptr;
}

SNRESULT FindOrBuild(CSnOutputDevice& device, uint32_t mask, const SnPairGainTable*& out) {
  if (SnPairGainTable* found = FindTable(device.m_pPairTables, mask)) {
    out = found;
    return SN_Success;
  }
  void* block = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(SnPairGainTable));
  if (!block) {
    SOUND_LOG(Error, "Speaker panning: no memory for the pair-gain table of speakers 0x%x", mask);
    return SN_InsufficientMemory;
  }
  auto* table = new (block) SnPairGainTable{device.m_pPairTables, mask, {}};
  CSnSpeakerPan::BuildPairGainTable(mask, device.m_pSpeakerAngles, table->gains);
  device.m_pPairTables = table;
  out = table;
  return SN_Success;
}

}  // namespace

void CSnSpeakerPan::BuildPairGainTable(uint32_t mask, const uint32_t* angles, SnPairGain* gains) {
  mask &= kSpatialSpeakers;
  const uint32_t outer = mask & ~kSpeakerCenter;
  const uint32_t pairs = MaskChannelCount(outer) / 2;
  for (uint32_t a = 0; a < kPairGainEntries; ++a) gains[a] = {1.0f, 0.0f};
  if (pairs == 0) return;  // one speaker or none: nothing to pan between
  // The edges of the regions; back speakers without sides sit at the rear angle.
  uint32_t edges[3] = {angles[0], angles[1], angles[2]};
  const uint32_t used = pairs < 3 ? pairs : 3;
  if (used >= 2 && (mask & kSpeakerBackLeft) && !(mask & kSpeakerSideLeft)) edges[1] = angles[2];
  const uint32_t front = edges[0];
  if (mask & kSpeakerCenter)
    FillRegion(front * 0.5, front * 0.5, 0, front, gains);
  else
    FillRegion(0.0, front, 0, front, gains);
  // A region owns the angle of its far speaker, as the panner picks pairs (after a speaker, the
  // next pair).
  for (uint32_t i = 1; i < used; ++i)
    FillRegion((edges[i - 1] + edges[i]) * 0.5, (edges[i] - edges[i - 1]) * 0.5, edges[i - 1] + 1, edges[i], gains);
  const uint32_t last = edges[used - 1];
  if (last > kHalfCircle / 2) {
    FillRegion(kHalfCircle, kHalfCircle - last, last + 1, kHalfCircle, gains);
  } else {
    // Speakers all ahead of the side: hard on the first speaker to the mirror of the last angle,
    // then the front region again, mirrored.
    for (uint32_t a = kHalfCircle - last + 1; a <= kHalfCircle; ++a)
      gains[a] = {gains[kHalfCircle - a].second, gains[kHalfCircle - a].first};
  }
}

void CSnSpeakerPan::InitHeadphoneTable() {
  float* table = HeadphoneStorage();
  for (uint32_t i = 0; i < kHeadphoneEntries; ++i) {
    const double s = std::sin(i * kPi / kHalfCircle);
    table[i] = float(s * s);
  }
}

namespace PairGains {

const float* HeadphoneTable() {
  static const bool built = (CSnSpeakerPan::InitHeadphoneTable(), true);
  (void)built;
  return HeadphoneStorage();
}

SNRESULT Prepare(CSnOutputDevice& device, SnChannelConfig output, SnPanTables& tables) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  tables = SnPanTables{};
  if (ConfigType(output) != kConfigTypeStandard) return SN_Failure;
  if (!device.m_pSpeakerAngles || device.m_speakerAngleCount < kDefaultSpeakerAngleCount) return SN_Failure;
  tables.spatialMask = ChannelMask(output) & kSpatialSpeakers;
  tables.outputMask = ChannelMask(output) & ~kSpeakerLfe;
  for (uint32_t i = 0; i < kDefaultSpeakerAngleCount; ++i) tables.angles[i] = device.m_pSpeakerAngles[i];
  tables.inverseMinSpacing = device.m_inverseMinSpacing;
  tables.headphones =
      device.PanningRule() == 1 && (tables.spatialMask & ~(kSpeakerFrontLeft | kSpeakerFrontRight)) == 0;
  SNRESULT result = FindOrBuild(device, tables.spatialMask & ~kSpeakerCenter, tables.pairs);
  if (result == SN_Success && (tables.spatialMask & kSpeakerCenter))
    result = FindOrBuild(device, tables.spatialMask, tables.centrePairs);
  return result;
}

}  // namespace PairGains

void FreePairGainTables(SnPairGainTable*& list) {
  while (SnPairGainTable* table = list) {
    list = table->next;
    MemoryMgr::Free(g_LEngineDefaultPoolId, table);
  }
}

}  // namespace SN
