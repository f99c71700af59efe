// Speaker angle defaults and conversions.
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"

#include <cmath>

namespace SN {

void CSnSpeakerPan::DefaultSpeakerAngles(SnChannelConfig config, float* degrees, float& heightDegrees) {
  const uint32_t mask = ChannelMask(config);
  const uint32_t back = kSpeakerBackLeft | kSpeakerBackRight;
  const uint32_t side = kSpeakerSideLeft | kSpeakerSideRight;
  degrees[0] = 30.0f;
  degrees[1] = 110.0f;
  degrees[2] = 142.5f;
  if ((mask & back) && (mask & side)) degrees[1] = 100.0f;
  // Only front speakers: the pair opens wider.
  if ((mask & ~(kSpeakerFrontLeft | kSpeakerFrontRight | kSpeakerCenter)) == 0) degrees[0] = 45.0f;
  heightDegrees = 45.0f;
}

SNRESULT CSnSpeakerPan::DegreesToAngles(const float* degrees, uint32_t count, uint32_t* units, uint32_t& minSpacing) {
  const uint32_t half = kAngleUnitsPerCircle / 2;
  // A NaN compares false with every limit below and has no integer to become.
  for (uint32_t i = 0; i < count; ++i)
    if (std::isnan(degrees[i])) return SN_InvalidParameter;
  for (uint32_t i = 0; i < count; ++i) {
    const float value = degrees[i] * float(kAngleUnitsPerCircle) / 360.0f + 0.5f;
    // Negative angles and angles past half a circle are both refused below.
    units[i] = value < 0.0f ? half : (value >= float(half) ? half : uint32_t(value));
  }
  if (count == 0) return SN_Failure;
  // A first angle under one unit leaves no spacing for spread to divide by.
  if (units[0] >= half / 2 || units[0] == 0) return SN_Failure;
  uint32_t spacing = units[0];
  for (uint32_t i = 0; i < count; ++i) {
    if (units[i] >= half) return SN_Failure;
    if (i > 0) {
      if (units[i] <= units[i - 1]) return SN_Failure;
      const uint32_t gap = units[i] - units[i - 1];
      if (gap < spacing) spacing = gap;
    }
  }
  if (count > 1) {
    const uint32_t rear = 2 * (half - units[count - 1]);
    if (rear < spacing) spacing = rear;
  }
  minSpacing = spacing;
  return SN_Success;
}

void CSnSpeakerPan::AnglesToDegrees(const uint32_t* units, uint32_t count, float* degrees) {
  for (uint32_t i = 0; i < count; ++i) degrees[i] = float(units[i]) * 360.0f / float(kAngleUnitsPerCircle);
}

}  // namespace SN
