// Speaker matrices without 3D positioning: the 2D panner of mono and multichannel inputs, the direct
// assignment of channels to speakers, the standard downmix tables and the LFE route.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"

namespace SN {
namespace {

constexpr uint32_t FL = kSpeakerFrontLeft, FR = kSpeakerFrontRight, FC = kSpeakerCenter, LFE = kSpeakerLfe;
constexpr uint32_t BL = kSpeakerBackLeft, BR = kSpeakerBackRight, SL = kSpeakerSideLeft, SR = kSpeakerSideRight;
constexpr uint32_t kLastTableSpeaker = SR;
constexpr uint32_t kRearPairs = BL | BR | SL | SR;
constexpr float k = 0.70710677f;  // 1 / sqrt 2

// One row per input speaker in mask-bit order (FL FR FC LFE BL BR FLC FRC BC SL SR), one column per
// output channel; speakers without a row (LFE, front of centre) go nowhere.
struct DownmixTable {
  uint32_t outputMask;
  float rows[11][7];
};
constexpr DownmixTable kDownmixTables[] = {
    {FC, {{k}, {k}, {1}, {}, {0.5f}, {0.5f}, {}, {}, {0.5f}, {0.5f}, {0.5f}}},
    {FL | FR, {{1, 0}, {0, 1}, {k, k}, {}, {k, 0}, {0, k}, {}, {}, {k, k}, {k, 0}, {0, k}}},
    {FL | FR | FC,
     {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {}, {k, 0, 0}, {0, k, 0}, {}, {}, {0, 0, k}, {k, 0, 0}, {0, k, 0}}},
    {FL | FR | SL | SR,
     {{1, 0, 0, 0}, {0, 1, 0, 0}, {k, k, 0, 0}, {}, {0, 0, 1, 0}, {0, 0, 0, 1}, {}, {}, {k, k, 0, 0},
      {0, 0, 1, 0}, {0, 0, 0, 1}}},
    {FL | FR | FC | SL | SR,
     {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}, {}, {},
      {0, 0, k, 1, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}}},
    {FL | FR | BL | BR | SL | SR,
     {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}, {k, k, 0, 0, 0, 0}, {}, {0, 0, 1, 0, 0, 0}, {0, 0, 0, 1, 0, 0}, {},
      {}, {k, k, 0, 0, 0, 0}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 1}}},
    {FL | FR | FC | BL | BR | SL | SR,
     {{1, 0, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0, 0}, {}, {0, 0, 0, 1, 0, 0, 0},
      {0, 0, 0, 0, 1, 0, 0}, {}, {}, {0, 0, k, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 0, 1}}},
};

uint32_t Column(uint32_t mask, uint32_t speaker) { return MaskChannelCount(mask & (speaker - 1)); }

const DownmixTable* TableFor(uint32_t outputMask) {
  // Back speakers without sides sit in the sides' columns: the layout with sides serves.
  if (outputMask == (FL | FR | BL | BR)) outputMask = FL | FR | SL | SR;
  if (outputMask == (FL | FR | FC | BL | BR)) outputMask = FL | FR | FC | SL | SR;
  for (const DownmixTable& table : kDownmixTables)
    if (table.outputMask == outputMask) return &table;
  return nullptr;
}

// Adds `gain` times the route of one input speaker onto the output layout (no LFE in either).
void AddDownmixRow(uint32_t speaker, uint32_t outputMask, float gain, float* row) {
  const DownmixTable* table = speaker <= kLastTableSpeaker ? TableFor(outputMask) : nullptr;
  if (table) {
    const float* from = table->rows[Column(0x7FFu, speaker)];
    for (uint32_t o = 0, n = MaskChannelCount(outputMask); o < n; ++o) row[o] += gain * from[o];
  } else if (outputMask & speaker) {
    // Speakers past the tables, and layouts without one, go to the same speaker when the output has it.
    row[Column(outputMask, speaker)] += gain;
  }
}

float Clamp01(float v) { return v >= 0.0f ? std::min(v, 1.0f) : 0.0f; }  // not a number gives 0
float Root(float v) { return std::sqrt(std::max(v, 0.0f)); }

// Gains of one source panned over a layout, by speaker; speakers the layout lacks are not written.
struct SpeakerGains {
  float gain[11] = {};
  void Set(uint32_t speaker, float value) { gain[Column(0x7FFu, speaker)] = value; }
  float Of(uint32_t speaker) const { return speaker <= kLastTableSpeaker ? gain[Column(0x7FFu, speaker)] : 0.0f; }
};

// The front split of a centre share c at x: left, right and centre powers.
void CentreSplit(float x, float c, float& left, float& right, float& centre) {
  if (x <= 0.5f) {
    centre = 2.0f * c * x;
    right = (1.0f - c) * x;
  } else {
    centre = 2.0f * c * (1.0f - x);
    right = x - c * (1.0f - x);
  }
  left = 1.0f - right - centre;
}

// Front, back and side powers of the six- and seven-speaker mono layouts.
void SixSpeakerGains(float x, float y, SpeakerGains& g, float frontLeft, float frontRight) {
  const float f = std::max(0.0f, (4.0f * y - 1.0f) / 3.0f);
  const float b = std::max(0.0f, (3.0f - 4.0f * y) / 3.0f);
  const float s = 1.0f - (f + b);
  g.Set(FL, Root(f * frontLeft));
  g.Set(FR, Root(f * frontRight));
  g.Set(BL, Root(b * (1.0f - x)));
  g.Set(BR, Root(b * x));
  g.Set(SL, Root(s * (1.0f - x)));
  g.Set(SR, Root(s * x));
}
void FourSpeakerGains(float x, float y, SpeakerGains& g) {
  g.Set(FL, Root((1.0f - x) * y));
  g.Set(FR, Root(x * y));
  g.Set(SL, Root((1.0f - y) * (1.0f - x)));
  g.Set(SR, Root((1.0f - y) * x));
}

void MonoGains(float x, float y, float c, uint32_t outputMask, SpeakerGains& g) {
  float left, right, centre;
  CentreSplit(x, c, left, right, centre);
  switch (outputMask) {
    case FL | FR | FC | BL | BR | SL | SR:
      SixSpeakerGains(x, y, g, left, right);
      g.Set(FC, Root(std::max(0.0f, (4.0f * y - 1.0f) / 3.0f) * centre));
      break;
    case FL | FR | BL | BR | SL | SR: SixSpeakerGains(x, y, g, 1.0f - x, x); break;
    case FL | FR | FC | SL | SR:
      g.Set(FL, Root(left * y));
      g.Set(FR, Root(right * y));
      g.Set(FC, Root(centre * y));
      g.Set(SL, Root((1.0f - x) * (1.0f - y)));
      g.Set(SR, Root(x * (1.0f - y)));
      break;
    case FL | FR | SL | SR: FourSpeakerGains(x, y, g); break;
    case FL | FR | FC:
      g.Set(FL, Root(left));
      g.Set(FR, Root(right));
      g.Set(FC, Root(centre));
      break;
    default:
      g.Set(FL, Root(1.0f - x));
      g.Set(FR, Root(x));
      break;
  }
}

// The weights over the union layout of a multichannel input with a centre channel.
void CentredInputGains(float x, float y, bool rearPairs, bool onePair, SpeakerGains& g) {
  if (rearPairs) {
    const float f = std::max(0.0f, (8.0f * y - 1.0f) / 7.0f);
    const float b = std::max(0.0f, (7.0f - 10.0f * y) / 7.0f);
    const float s = 1.0f - (f + b);
    const float l = (2.0f - 2.0f * x) / 3.0f;
    g.Set(FL, Root(f * l));
    g.Set(FR, Root(f * (1.0f - (l + 1.0f / 3.0f))));
    g.Set(FC, Root(f / 3.0f));
    g.Set(BL, Root(b * (1.0f - x)));
    g.Set(BR, Root(b * x));
    g.Set(SL, Root(s * (1.0f - x)));
    g.Set(SR, Root(s * x));
  } else if (onePair) {
    const float r = y >= 0.5f ? (4.0f - 4.0f * y) * 0.2f : 1.0f - 6.0f * y * 0.2f;
    const float f = 1.0f - r;
    g.Set(FL, Root(f * (2.0f - 2.0f * x) / 3.0f));
    g.Set(FR, Root(f * 2.0f * x / 3.0f));
    g.Set(FC, Root(f / 3.0f));
    g.Set(SL, Root(r * (1.0f - x)));
    g.Set(SR, Root(r * x));
  } else {
    g.Set(FL, Root((2.0f - 2.0f * x) / 3.0f));
    g.Set(FR, Root(2.0f * x / 3.0f));
    g.Set(FC, Root(1.0f / 3.0f));
  }
}

bool PannableInput(uint32_t mask) {
  switch (mask) {
    case FL | FR:
    case FL | FR | FC:
    case FL | FR | SL | SR:
    case FL | FR | FC | SL | SR:
    case FL | FR | BL | BR | SL | SR:
    case FL | FR | FC | BL | BR | SL | SR: return true;
    default: return false;
  }
}

void PanMultichannel(float x, float y, uint32_t inputMask, uint32_t outputMask, uint32_t rowStride, float* matrix) {
  // Back speakers without sides pan as sides, each on its own: a lone back speaker must not make a
  // pair that the input lacks (the layout it leaves is then no pannable one).
  if ((inputMask & BL) && !(inputMask & SL))
    inputMask = (inputMask & ~(BL | BR)) | SL | ((inputMask & BR) ? SR : 0u);
  if (!PannableInput(inputMask)) return;
  const uint32_t unionMask = inputMask | outputMask;
  const bool rearPairs = (unionMask & kRearPairs) == kRearPairs;
  const bool onePair = unionMask == (FL | FR | SL | SR) || unionMask == (FL | FR | FC | SL | SR);
  constexpr uint32_t kUnionStride = 32;  // a mask has at most 20 speaker bits
  float wide[7][kUnionStride] = {};
  auto route = [&](uint32_t from, uint32_t to, float gain) {
    if ((inputMask & from) && (unionMask & to)) wide[Column(inputMask, from)][Column(unionMask, to)] = gain;
  };
  for (uint32_t bits = inputMask; bits; bits &= bits - 1) route(bits & -bits, bits & -bits, 1.0f);
  const uint32_t surrounds = rearPairs ? kRearPairs : onePair ? (SL | SR) : 0u;
  if (!(inputMask & (SL | SR))) {
    if (rearPairs) {
      route(FL, BL, 1.0f), route(FL, SL, 1.0f);
      route(FR, BR, 1.0f), route(FR, SR, 1.0f);
    } else if (onePair) {
      route(FL, SL, 1.0f), route(FR, SR, 1.0f);
    }
    for (uint32_t bits = surrounds; bits; bits &= bits - 1) route(FC, bits & -bits, 0.5f);
  } else if (!(inputMask & BL) && rearPairs) {
    route(SL, BL, 1.0f), route(SR, BR, 1.0f);
  }
  SpeakerGains gains;
  if (inputMask & FC)
    CentredInputGains(x, y, rearPairs, onePair, gains);
  else if (rearPairs)
    SixSpeakerGains(x, y, gains, 1.0f - x, x);
  else if (onePair)
    FourSpeakerGains(x, y, gains);
  else
    gains.Set(FL, Root(1.0f - x)), gains.Set(FR, Root(x));
  const uint32_t rows = MaskChannelCount(inputMask);
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t bits = unionMask; bits; bits &= bits - 1)
      wide[r][Column(unionMask, bits & -bits)] *= gains.Of(bits & -bits);
  CSnSpeakerPan::RemapThroughDownmix(&wide[0][0], rows, unionMask, kUnionStride, outputMask, rowStride, matrix);
}

bool Consistent(SnChannelConfig config) {
  return ConfigType(config) != kConfigTypeStandard || MaskChannelCount(ChannelMask(config)) == ChannelCount(config);
}

void Clear(SnChannelConfig input, SnChannelConfig output, float* matrix) {
  std::memset(matrix, 0, sizeof(float) * MatrixFloats(input, output));
}

// The last small matrix panned: the voices that start with the same values on the same layouts (the
// voices of one sound, of a music switch's children) find it made. Audio thread, under the global
// audio lock; a matrix whose layouts were refused (and logged) is never kept.
struct LastPan2D {
  static constexpr uint32_t kMostFloats = 16;
  bool kept = false;
  float x = 0.0f, y = 0.0f, centre = 0.0f;
  bool panning = false;
  SnChannelConfig input = 0, output = 0;
  float matrix[kMostFloats] = {};

  bool Matches(float px, float py, float pc, bool pp, SnChannelConfig in, SnChannelConfig out) const {
    return kept && px == x && py == y && pc == centre && pp == panning && in == input && out == output;
  }
};
LastPan2D& LastPanned() {
  static LastPan2D last;
  return last;
}

}  // namespace

void CSnSpeakerPan::Pan2D(float x, float y, float centre, bool panning, SnChannelConfig input,
                          SnChannelConfig output, float* matrix) {
  Clear(input, output, matrix);
  if (!ChannelCount(input) || !ChannelCount(output)) return;
  const uint32_t inputType = ConfigType(input), outputType = ConfigType(output);
  if (inputType == kConfigTypeAnonymous && outputType == kConfigTypeAnonymous) {
    IdentityMatrix(input, output, matrix);
    return;
  }
  if (inputType != kConfigTypeStandard || outputType != kConfigTypeStandard) return;
  if (!Consistent(input) || !Consistent(output)) {
    SOUND_LOG(Error, "Pan2D: channel configuration 0x%08x or 0x%08x counts other channels than its speakers", input,
              output);
    return;
  }
  x = Clamp01(x), y = Clamp01(y), centre = Clamp01(centre);
  const uint32_t inputMask = ChannelMask(input) & ~LFE, outputMask = ChannelMask(output) & ~LFE;
  if (!panning || MaskChannelCount(outputMask) <= 1) {
    AssignToSpeakers(input, inputMask, output, outputMask, centre, matrix);
    return;
  }
  if (MaskChannelCount(inputMask) == 1) {
    SpeakerGains gains;
    MonoGains(x, y, centre, outputMask, gains);
    for (uint32_t bits = outputMask & 0x7FFu; bits; bits &= bits - 1)
      matrix[Column(outputMask, bits & -bits)] = gains.Of(bits & -bits);
  } else {
    PanMultichannel(x, y, inputMask, outputMask, MatrixRowStride(output), matrix);
  }
  RouteLFE(input, output, matrix);
}

float CSnSpeakerPan::ComputePan2DForOutput(const SnPan2DValues& voice, float rayDryGain, SnChannelConfig input,
                                           bool force, SnPan2DOutputPath& path) {
  const float gain = path.dryPath ? rayDryGain : 1.0f;
  const uint32_t floats = MatrixFloats(input, path.output);
  const bool unchanged = voice == path.previous && !force && !path.wantsNewMatrix;
  if (!path.allowsPanning || unchanged) {
    if (path.previousMatrix && path.previousMatrix != path.matrix)
      std::copy(path.previousMatrix, path.previousMatrix + floats, path.matrix);
    return gain;
  }
  const float x = Clamp01((voice.panLeftRight + 100.0f) * 0.005f);
  const float y = Clamp01((voice.panFrontRear + 100.0f) * 0.005f);
  // A centre percentage outside 0..100 from a game parameter would push the front pair negative.
  const float c = Clamp01(voice.centrePercent * 0.01f);
  LastPan2D& last = LastPanned();
  if (floats <= LastPan2D::kMostFloats && last.Matches(x, y, c, voice.panning, input, path.output)) {
    std::copy(last.matrix, last.matrix + floats, path.matrix);
  } else {
    Pan2D(x, y, c, voice.panning, input, path.output, path.matrix);
    if (floats <= LastPan2D::kMostFloats && Consistent(input) && Consistent(path.output)) {
      last = LastPan2D{true, x, y, c, voice.panning, input, path.output, {}};
      std::copy(path.matrix, path.matrix + floats, last.matrix);
    }
  }
  path.previous = voice;
  return gain;
}

void CSnSpeakerPan::AssignToSpeakers(SnChannelConfig input, uint32_t inputMaskNoLfe, SnChannelConfig output,
                                     uint32_t outputMaskNoLfe, float centre, float* matrix) {
  if (!ChannelCount(input) || !ChannelCount(output)) return;
  const uint32_t stride = MatrixRowStride(output);
  if (MaskChannelCount(inputMaskNoLfe) == 1) {
    std::fill(matrix, matrix + stride, 0.0f);
    if (MaskChannelCount(outputMaskNoLfe) < 2) {
      matrix[0] = 1.0f;
    } else if ((outputMaskNoLfe & (FL | FR | FC)) != (FL | FR | FC)) {
      matrix[0] = matrix[1] = k;
    } else {
      centre = Clamp01(centre);
      matrix[Column(outputMaskNoLfe, FL)] = matrix[Column(outputMaskNoLfe, FR)] = std::sqrt((1.0f - centre) * 0.5f);
      matrix[Column(outputMaskNoLfe, FC)] = std::sqrt(centre);
    }
  } else {
    StandardDownmix(inputMaskNoLfe, outputMaskNoLfe, stride, matrix);
  }
  RouteLFE(input, output, matrix);
}

void CSnSpeakerPan::StandardDownmix(uint32_t inputMask, uint32_t outputMask, uint32_t rowStride, float* matrix) {
  inputMask &= ~LFE, outputMask &= ~LFE;
  for (uint32_t bits = inputMask; bits; bits &= bits - 1, matrix += rowStride) {
    std::fill(matrix, matrix + rowStride, 0.0f);
    AddDownmixRow(bits & -bits, outputMask, 1.0f, matrix);
  }
}

void CSnSpeakerPan::RemapThroughDownmix(const float* unionMatrix, uint32_t rows, uint32_t unionMask,
                                        uint32_t unionRowStride, uint32_t outputMask, uint32_t outputRowStride,
                                        float* matrix) {
  unionMask &= ~LFE, outputMask &= ~LFE;
  for (uint32_t r = 0; r < rows; ++r) {
    float* row = matrix + r * outputRowStride;
    std::fill(row, row + outputRowStride, 0.0f);
    for (uint32_t bits = unionMask; bits; bits &= bits - 1) {
      const float gain = unionMatrix[r * unionRowStride + Column(unionMask, bits & -bits)];
      if (gain != 0.0f) AddDownmixRow(bits & -bits, outputMask, gain, row);
    }
  }
}

void CSnSpeakerPan::RouteLFE(SnChannelConfig input, SnChannelConfig output, float* matrix) {
  if (!HasLfe(input) || !ChannelCount(input)) return;
  const uint32_t stride = MatrixRowStride(output);
  float* row = matrix + (ChannelCount(input) - 1) * stride;
  std::fill(row, row + stride, 0.0f);
  if (HasLfe(output) && ChannelCount(output)) row[ChannelCount(output) - 1] = 1.0f;
}

void CSnSpeakerPan::IdentityMatrix(SnChannelConfig input, SnChannelConfig output, float* matrix) {
  Clear(input, output, matrix);
  const uint32_t stride = MatrixRowStride(output);
  for (uint32_t c = 0, n = std::min(ChannelCount(input), ChannelCount(output)); c < n; ++c)
    matrix[c * stride + c] = 1.0f;
}

}  // namespace SN
