// The speaker panner: speaker angles of a device, and the speaker matrices of what is not positioned
// in 3D (the 2D panner, direct assignment, the standard downmix tables, the LFE route). Any thread.
//
// A matrix has one row per input channel (the LFE, when present, last), each row the gains to the
// output channels in their order, padded to a multiple of four floats (`MatrixRowStride`).
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/MixBuffer.h"

namespace SN {

constexpr uint32_t MatrixRowStride(SnChannelConfig output) { return (ChannelCount(output) + 3) / 4 * 4; }
constexpr uint32_t MatrixFloats(SnChannelConfig input, SnChannelConfig output) {
  return ChannelCount(input) * MatrixRowStride(output);
}

class CSnSpeakerPan {
 public:
  // Three angles in degrees ascending from the front and the height angle.
  static void DefaultSpeakerAngles(SnChannelConfig config, float* degrees, float& heightDegrees);
  // 1; `SN_InvalidParameter` when an angle is NaN; 2 when an angle is half a circle or more, the first
  // is a quarter or more, or the angles do not strictly increase. `minSpacing` is the smallest gap
  // between neighbouring speakers.
  static SNRESULT DegreesToAngles(const float* degrees, uint32_t count, uint32_t* units, uint32_t& minSpacing);
  static void AnglesToDegrees(const uint32_t* units, uint32_t count, float* degrees);

  // x from left (0) to right (1), y from rear (0) to front (1), the centre's share of the front image
  // (0 to 1; values outside are clamped, not a number taken as 0). Standard configurations pan, or are
  // assigned when panning is off; anonymous ones map channel to channel; mixed kinds stay silent.
  // `matrix` holds MatrixFloats(input, output).
  static void Pan2D(float x, float y, float centre, bool panning, SnChannelConfig input, SnChannelConfig output,
                    float* matrix);
  // Without panning: a mono input spread over the front, anything wider through the downmix tables.
  // The masks without LFE name the spatial speakers; the configurations give the matrix's shape.
  static void AssignToSpeakers(SnChannelConfig input, uint32_t inputMaskNoLfe, SnChannelConfig output,
                               uint32_t outputMaskNoLfe, float centre, float* matrix);
  // One row per speaker of `inputMask` (no LFE), each the table row of that speaker for `outputMask`
  // (no LFE); `rowStride` floats apart. A layout with back speakers and no sides takes the table of
  // the same layout with sides.
  static void StandardDownmix(uint32_t inputMask, uint32_t outputMask, uint32_t rowStride, float* matrix);
  // A matrix over the speakers of a wider layout (`unionMask` columns) mapped onto `outputMask`
  // through the same tables: `rows` rows of `unionRowStride` in, of `outputRowStride` out.
  static void RemapThroughDownmix(const float* unionMatrix, uint32_t rows, uint32_t unionMask,
                                  uint32_t unionRowStride, uint32_t outputMask, uint32_t outputRowStride,
                                  float* matrix);
  // The input's LFE row (its last) goes to the output's LFE alone, or nowhere.
  static void RouteLFE(SnChannelConfig input, SnChannelConfig output, float* matrix);
  static void IdentityMatrix(SnChannelConfig input, SnChannelConfig output, float* matrix);
};

}  // namespace SN
