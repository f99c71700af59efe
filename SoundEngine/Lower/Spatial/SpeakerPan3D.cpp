// 3D speaker panning: virtual sources on the pair-gain tables or the headphone law, a source spread
// and focused over many points, and the matrix of one output path from a voice's rays.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/GameSyncs/Curves.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Spatial/ListenerTable.h"
#include "SoundEngine/Lower/Spatial/PairGainTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"

namespace SN {
namespace {

constexpr uint32_t FL = kSpeakerFrontLeft, FR = kSpeakerFrontRight, FC = kSpeakerCenter;
constexpr uint32_t BL = kSpeakerBackLeft, BR = kSpeakerBackRight, SL = kSpeakerSideLeft, SR = kSpeakerSideRight;
constexpr int32_t kCircle = int32_t(kAngleUnitsPerCircle);
constexpr float kUnitsPerRadian = float(kAngleUnitsPerCircle) / 6.28318530718f;

float Clamp(float v, float low, float high) { return v >= low ? std::min(v, high) : low; }  // NaN gives low

uint32_t Column(uint32_t mask, uint32_t speaker) { return MaskChannelCount(mask & (speaker - 1)); }

void Add(const SnPanTables& tables, uint32_t speaker, float power, float* row) {
  if (tables.outputMask & speaker) row[Column(tables.outputMask, speaker)] += power;
}

// The rows that spread places from the listener's left to right, by the number of channels.
constexpr uint8_t kSlotOrder[8][7] = {
    {}, {0}, {0, 1}, {0, 2, 1}, {2, 0, 1, 3}, {3, 0, 2, 1, 4}, {2, 4, 0, 1, 5, 3}, {3, 5, 0, 2, 1, 6, 4},
};

uint32_t SpatialInputChannels(SnChannelConfig input) {
  if (ConfigType(input) != kConfigTypeStandard) return ChannelCount(input);
  return HasLfe(input) ? ChannelCount(input) - 1 : ChannelCount(input);
}

// The speaker of an output channel, 0 for one the layout does not name.
uint32_t SpeakerOfChannel(SnChannelConfig config, uint32_t channel) {
  const uint32_t count = ChannelCount(config);
  if (ConfigType(config) != kConfigTypeStandard || channel >= count) return 0;
  if (HasLfe(config) && channel == count - 1) return kSpeakerLfe;
  uint32_t bits = ChannelMask(config) & ~kSpeakerLfe;
  for (uint32_t i = 0; i < channel && bits; ++i) bits &= bits - 1;
  return bits & -bits;
}

// A listener's own gain on an output channel: its custom volume for that speaker, or 1.
float ListenerVolume(const SnListenerRecord& listener, SnChannelConfig output, uint32_t channel) {
  const uint32_t volumes = listener.volumeConfig;
  if (ConfigType(volumes) != kConfigTypeStandard)
    return channel < ChannelCount(volumes) ? listener.volumesLinear[channel] : 1.0f;
  const uint32_t speaker = SpeakerOfChannel(output, channel);
  const uint32_t mask = ChannelMask(volumes);
  if (!speaker || !(mask & speaker)) return 1.0f;
  const uint32_t index = speaker == kSpeakerLfe ? ChannelCount(volumes) - 1 : Column(mask & ~kSpeakerLfe, speaker);
  return index < ChannelCount(volumes) ? listener.volumesLinear[index] : 1.0f;
}

float CurveValue(const CSnCurveGraph* curve, float x) {
  return curve && curve->pointCount ? curve->Evaluate(x) : 0.0f;
}

// The matrix of one ray as its listener hears it.
void RayMatrix(const SnRayPanSettings& settings, const SnEmitterListenerRay& ray, const SnPanTables& tables,
               float* matrix) {
  const SnChannelConfig input = settings.input, output = settings.output;
  std::memset(matrix, 0, sizeof(float) * MatrixFloats(input, output));
  const SnListenerRecord& listener = LowerEngine::ListenerTable().Listener(ray.listenerBit % kMaxListeners);
  const uint32_t spatialInputs = SpatialInputChannels(input);
  const uint32_t stride = MatrixRowStride(output);
  const bool audible = (LowerEngine::ListenerTable().AudioMask() >> (ray.listenerBit % kMaxListeners)) & 1u;
  if (spatialInputs && ConfigType(output) == kConfigTypeStandard && settings.allowSpatialization && audible) {
    if (!listener.spatialized) {
      const uint32_t columns = ChannelCount(output) - (HasLfe(output) ? 1 : 0);
      const float even = 1.0f / std::sqrt(float(spatialInputs));
      for (uint32_t r = 0; r < spatialInputs; ++r) std::fill(matrix + r * stride, matrix + r * stride + columns, even);
    } else if (!settings.spatialize3D) {
      CSnSpeakerPan::Pan2D(0.5f, 0.5f, settings.centre, true, input, output, matrix);
    } else {
      const float planar = ray.distance * std::cos(ray.elevation);
      CSnSpeakerPan::PanSpread(ray.azimuth, settings.centre, CurveValue(settings.spreadCurve, planar),
                               CurveValue(settings.focusCurve, planar), matrix, input, output, tables);
    }
  }
  if (HasLfe(input) && HasLfe(output) && ConfigType(input) == kConfigTypeStandard)
    matrix[(ChannelCount(input) - 1) * stride + ChannelCount(output) - 1] = 1.0f;
  if (listener.volumesLinear) {
    for (uint32_t c = 0; c < ChannelCount(output); ++c) {
      const float volume = ListenerVolume(listener, output, c);
      for (uint32_t r = 0; r < ChannelCount(input); ++r) matrix[r * stride + c] *= volume;
    }
  }
}

float RayGain(const SnEmitterListenerRay& ray, SnOutputPathKind kind) {
  return ray.factors[uint32_t(kind) < 3 ? uint32_t(kind) : 0];
}

bool RayReachesPath(const SnRayPanSettings& settings, const SnEmitterListenerRay& ray) {
  const uint32_t index = ray.listenerBit;
  if (index >= kMaxListeners || !(settings.listenerMask & (1u << index))) return false;
  const SnListenerRecord& listener = LowerEngine::ListenerTable().Listener(index);
  return listener.outputType == settings.outputType && listener.deviceId == settings.deviceId;
}

}  // namespace

void CSnSpeakerPan::AddVirtualSource(int32_t angle, float centre, const SnPanTables& tables, float* row) {
  const uint32_t whole = uint32_t(((angle % kCircle) + kCircle) % kCircle);
  if (MaskChannelCount(tables.spatialMask) <= 1) {
    if (tables.spatialMask) Add(tables, tables.spatialMask, 1.0f, row);
    return;
  }
  if (tables.headphones) {
    uint32_t i = (whole + kCircle / 4) % kCircle;
    if (i >= uint32_t(kCircle / 2)) i = kCircle - i;
    const float toLeft = PairGains::HeadphoneTable()[i / 2];
    Add(tables, FL, toLeft, row);
    Add(tables, FR, 1.0f - toLeft, row);
    return;
  }
  if (!tables.pairs) return;
  // The right half is the left half mirrored, its speakers swapped.
  const bool right = whole > uint32_t(kCircle / 2);
  const uint32_t a = right ? kCircle - whole : whole;
  auto nearSide = [right](uint32_t left, uint32_t rightSpeaker) { return right ? rightSpeaker : left; };
  auto farSide = [right](uint32_t left, uint32_t rightSpeaker) { return right ? left : rightSpeaker; };
  const uint32_t mask = tables.spatialMask;
  const uint32_t b0 = tables.angles[0], b1 = tables.angles[1], b2 = tables.angles[2];
  const bool back = mask & BL, side = mask & SL;
  const uint32_t surroundLeft = back ? BL : SL, surroundRight = back ? BR : SR;
  uint32_t first, second;
  if ((back && a > b2) || (side && !back && a > b1)) {
    first = nearSide(surroundLeft, surroundRight), second = farSide(surroundLeft, surroundRight);
  } else if ((mask & 0x633) == 0x633 && a > b1) {
    first = nearSide(SL, SR), second = nearSide(BL, BR);
  } else if ((mask & 0x633) == 0x633 && a > b0) {
    first = nearSide(FL, FR), second = nearSide(SL, SR);
  } else if ((back || side) && a > b0) {
    first = nearSide(FL, FR), second = nearSide(surroundLeft, surroundRight);
  } else if (a <= b0) {
    first = farSide(FL, FR), second = nearSide(FL, FR);
  } else {
    first = nearSide(FL, FR), second = farSide(FL, FR);
  }
  const SnPairGain gains = tables.pairs->gains[a];
  centre = Clamp(centre, 0.0f, 1.0f);
  if ((mask & FC) && tables.centrePairs && a < b0 && centre > 0.0f) {
    const SnPairGain withCentre = tables.centrePairs->gains[a];
    Add(tables, first, (1.0f - centre) * gains.first, row);
    Add(tables, second, (1.0f - centre) * gains.second + centre * withCentre.second, row);
    Add(tables, FC, centre * withCentre.first, row);
    return;
  }
  Add(tables, first, gains.first, row);
  Add(tables, second, gains.second, row);
}

void CSnSpeakerPan::PanSpread(float azimuth, float centre, float spread, float focus, float* matrix,
                              SnChannelConfig input, SnChannelConfig output, const SnPanTables& tables) {
  std::memset(matrix, 0, sizeof(float) * MatrixFloats(input, output));
  const uint32_t channels = SpatialInputChannels(input);
  const uint32_t stride = MatrixRowStride(output);
  if (!channels || !tables.spatialMask) return;
  if (MaskChannelCount(tables.spatialMask) == 1) {
    for (uint32_t r = 0; r < channels; ++r) matrix[r * stride + Column(tables.outputMask, tables.spatialMask)] = 1.0f;
    return;
  }
  // Curves may give anything: past 100 percent the points would wrap round the circle.
  spread = Clamp(spread, 0.0f, 100.0f);
  focus = Clamp(focus, 0.0f, 100.0f);
  if (!std::isfinite(azimuth)) azimuth = 0.0f;
  const float share = 1.0f / float(channels);
  const float width = spread * 2.56f;  // units: 100 percent is half a circle
  const float perChannel = share * width;
  const uint32_t points = uint32_t(perChannel * tables.inverseMinSpacing + 1.0f) + 1;
  const float normalisation = 1.0f / float(points * channels);
  const float halfStep = (1.0f - focus / 100.0f) * perChannel / float(points);
  float slotCentre = (1.0f - share) * width - azimuth * kUnitsPerRadian;
  if (points % 2 == 0) slotCentre -= halfStep;
  const uint32_t outputs = ChannelCount(output);
  for (uint32_t slot = 0; slot < channels; ++slot) {
    const uint32_t r = channels <= 7 ? kSlotOrder[channels][slot] : slot;
    float* row = matrix + r * stride;
    float p = slotCentre + 2.0f * halfStep * float(points / 2) + float(kCircle);
    for (uint32_t i = 0; i < points; ++i, p -= 2.0f * halfStep)
      AddVirtualSource(int32_t(std::floor(p + 0.5f)), centre, tables, row);
    for (uint32_t c = 0; c < outputs; ++c) row[c] = std::sqrt(row[c] * normalisation);
    slotCentre -= 2.0f * perChannel;
  }
}

SNRESULT CSnSpeakerPan::ComputeRayMatrices(const SnRayPanSettings& settings, const SnEmitterListenerRay* rays,
                                           uint32_t rayCount, float* matrix, float* scratch, float& gain) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  const uint32_t floats = MatrixFloats(settings.input, settings.output);
  std::memset(matrix, 0, sizeof(float) * floats);
  gain = 0.0f;
  SnPanTables tables;
  SNRESULT result = SN_Success;
  if (ConfigType(settings.output) == kConfigTypeStandard) {
    CSnOutputDevice* device = LowerEngine::FindOutputDevice(settings.outputType, settings.deviceId);
    result = device ? PairGains::Prepare(*device, settings.output, tables) : SN_Failure;
    if (result != SN_Success) return result;
  }
  uint32_t reaching = 0, only = 0;
  for (uint32_t i = 0; i < rayCount; ++i)
    if (RayReachesPath(settings, rays[i])) ++reaching, only = i;
  if (reaching == 0) return SN_Success;
  if (reaching == 1) {
    RayMatrix(settings, rays[only], tables, matrix);
    gain = RayGain(rays[only], settings.kind);
    return SN_Success;
  }
  float* one = scratch;
  float* sum = scratch + floats;
  auto keepLarger = [floats](const float* from, float* into) {
    for (uint32_t f = 0; f < floats; ++f) into[f] = std::max(into[f], from[f]);
  };
  if (settings.multiPositionType == 1) {
    // Several sources: what one listener hears of them adds up; listeners do not.
    for (uint32_t listener = 0; listener < kMaxListeners; ++listener) {
      bool heard = false;
      std::memset(sum, 0, sizeof(float) * floats);
      for (uint32_t i = 0; i < rayCount; ++i) {
        if (rays[i].listenerBit != listener || !RayReachesPath(settings, rays[i])) continue;
        RayMatrix(settings, rays[i], tables, one);
        const float g = RayGain(rays[i], settings.kind);
        for (uint32_t f = 0; f < floats; ++f) sum[f] += g * one[f];
        heard = true;
      }
      if (heard) keepLarger(sum, matrix);
    }
  } else {
    for (uint32_t i = 0; i < rayCount; ++i) {
      if (!RayReachesPath(settings, rays[i])) continue;
      RayMatrix(settings, rays[i], tables, one);
      const float g = RayGain(rays[i], settings.kind);
      for (uint32_t f = 0; f < floats; ++f) one[f] *= g;
      keepLarger(one, matrix);
    }
  }
  gain = 1.0f;
  return SN_Success;
}

SNRESULT CSnSpeakerPan::PanDirection(CSnOutputDevice& device, float azimuth, SnChannelConfig output, float centre,
                                     float* gains) {
  const uint32_t channels = ChannelCount(output);
  std::fill(gains, gains + channels, 0.0f);
  SnPanTables tables;
  const SNRESULT result = PairGains::Prepare(device, output, tables);
  if (result != SN_Success) return result;
  if (!std::isfinite(azimuth)) {
    SOUND_LOG(Error, "PanDirection: azimuth %g is not a direction", double(azimuth));
    azimuth = 0.0f;
  }
  // Halves away from zero.
  const int32_t angle = int32_t(std::lround(-azimuth * kUnitsPerRadian));
  AddVirtualSource(angle, centre, tables, gains);
  for (uint32_t c = 0; c < channels; ++c) gains[c] = std::sqrt(gains[c]);
  return result;
}

void CSnSpeakerPan::ComputeDirectAssignment(SnChannelConfig input, SnChannelConfig output, float centre,
                                            float* matrix) {
  std::memset(matrix, 0, sizeof(float) * MatrixFloats(input, output));
  if (ConfigType(input) != ConfigType(output)) return;
  if (ConfigType(input) == kConfigTypeStandard)
    AssignToSpeakers(input, ChannelMask(input) & ~kSpeakerLfe, output, ChannelMask(output) & ~kSpeakerLfe,
                     Clamp(centre, 0.0f, 1.0f), matrix);
  else
    IdentityMatrix(input, output, matrix);
}

}  // namespace SN
