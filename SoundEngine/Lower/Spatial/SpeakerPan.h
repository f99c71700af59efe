// The speaker panner: speaker angles of a device; the speaker matrices of what is not positioned in 3D
// (the 2D panner, direct assignment, the standard downmix tables, the LFE route); and 3D panning (the
// pair-gain tables, virtual sources, spread and focus, the matrix of a voice's rays). Any thread
// unless a function says otherwise.
//
// A matrix has one row per input channel (the LFE, when present, last), each row the gains to the
// output channels in their order, padded to a multiple of four floats (`MatrixRowStride`).
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class CSnOutputDevice;
struct CSnCurveGraph;
struct SnEmitterListenerRay;
struct SnPairGain;
struct SnPanTables;

// Which of a ray's gains an output path takes.
enum class SnOutputPathKind : uint8_t { Dry = 0, GameDefinedSend = 1, UserDefinedSend = 2 };

// What the 3D matrix of one output path of a voice depends on beside its rays.
struct SnRayPanSettings {
  SnChannelConfig input = 0;
  SnChannelConfig output = 0;
  uint32_t listenerMask = 0;  // the listeners the output path's bus hears
  uint32_t outputType = 0;    // the device the path renders to
  uint32_t deviceId = 0;
  float centre = 0.0f;        // the centre's share, 0 to 1
  bool allowSpatialization = true;  // the output path's own permission
  bool spatialize3D = true;         // the positioning settings' 3D spatialisation flag
  uint8_t multiPositionType = 0;    // 1: several sources, summed per listener
  SnOutputPathKind kind = SnOutputPathKind::Dry;
  const CSnCurveGraph* spreadCurve = nullptr;  // of the attenuation; null or empty when absent
  const CSnCurveGraph* focusCurve = nullptr;
};

constexpr uint32_t MatrixRowStride(SnChannelConfig output) { return (ChannelCount(output) + 3) / 4 * 4; }
constexpr uint32_t MatrixFloats(SnChannelConfig input, SnChannelConfig output) {
  return ChannelCount(input) * MatrixRowStride(output);
}

// The 2D panning values a voice's matrix of one output path was made from.
struct SnPan2DValues {
  float panLeftRight = 0.0f;   // percent, -100 left to 100 right
  float panFrontRear = 0.0f;   // percent, -100 rear to 100 front
  float centrePercent = 0.0f;  // the centre's share of the front image
  bool panning = false;        // the speaker-panning flag
  bool operator==(const SnPan2DValues&) const = default;
};

// One output path of a 2D voice as its matrix is computed.
struct SnPan2DOutputPath {
  bool dryPath = true;          // auxiliary paths take gain 1.0
  bool allowsPanning = true;    // false: the previous matrix stays
  bool wantsNewMatrix = false;  // the path asks for a matrix even when nothing changed
  SnChannelConfig output = 0;
  SnPan2DValues previous;       // what `previousMatrix` was made from; updated
  const float* previousMatrix = nullptr;
  float* matrix = nullptr;      // MatrixFloats(input, output)
};

class CSnSpeakerPan {
 public:
  // The matrix of one output path of a 2D voice and the path's gain: the first ray's dry gain for a
  // dry path (1.0 until rays exist), 1.0 for an auxiliary one. The previous matrix is kept when the
  // path does not pan, or nothing changed and no update is forced or asked for.
  static float ComputePan2DForOutput(const SnPan2DValues& voice, float rayDryGain, SnChannelConfig input, bool force,
                                     SnPan2DOutputPath& path);
  // Three angles in degrees ascending from the front and the height angle.
  static void DefaultSpeakerAngles(SnChannelConfig config, float* degrees, float& heightDegrees);
  // 1; `SN_InvalidParameter` when an angle is NaN; 2 when an angle is half a circle or more, the first
  // is under one unit or a quarter or more, or the angles do not strictly increase. `minSpacing` is the
  // smallest gap between neighbouring speakers.
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
  // Panning switched off for a mixer: the channels assigned (standard) or mapped one to one
  // (anonymous); a matrix of silence when the kinds differ.
  static void ComputeDirectAssignment(SnChannelConfig input, SnChannelConfig output, float centre, float* matrix);

  // 3D panning. Angles are in 512ths of a circle, growing towards the listener's left; azimuths are
  // in radians, positive to the right.
  // The power gains of the speaker pairs of `mask` at every angle of a half circle, from ascending
  // speaker angles (three, in units).
  static void BuildPairGainTable(uint32_t mask, const uint32_t* angles, SnPairGain* gains);
  static void InitHeadphoneTable();
  // Adds the powers of one virtual source into `row` (one float per output channel).
  static void AddVirtualSource(int32_t angle, float centre, const SnPanTables& tables, float* row);
  // The rows of a source `spread` percent wide, its points drawn together by `focus` percent (both
  // clamped to 0..100), around `azimuth`. `matrix` holds MatrixFloats(input, output).
  static void PanSpread(float azimuth, float centre, float spread, float focus, float* matrix, SnChannelConfig input,
                        SnChannelConfig output, const SnPanTables& tables);
  // The matrix of one output path from a voice's rays, and the gain it is mixed with. `scratch` holds
  // 2 x MatrixFloats(input, output). 1; 2 when the device has no tables to pan with (the matrix is
  // then silent); 52 without memory. Audio thread, under the global audio lock.
  static SNRESULT ComputeRayMatrices(const SnRayPanSettings& settings, const SnEmitterListenerRay* rays,
                                     uint32_t rayCount, float* matrix, float* scratch, float& gain);
  // One direction onto the speakers of `output` on `device`: amplitude gains, one per channel. The
  // result of preparing the device's tables. Audio thread, under the global audio lock.
  static SNRESULT PanDirection(CSnOutputDevice& device, float azimuth, SnChannelConfig output, float centre,
                               float* gains);
};

}  // namespace SN
