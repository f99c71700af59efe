// Mixer panning services: each finds the device of the mixer's bus and hands the work to the
// speaker panner or the speaker sets.
#include "SoundEngine/Lower/Spatial/MixerPanning.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/Log.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/Spatial/PairGainTable.h"
#include "SoundEngine/Lower/Spatial/SpeakerAngles.h"
#include "SoundEngine/Lower/Spatial/SpeakerPan.h"
#include "SoundEngine/Lower/Spatial/SpeakerSet.h"

namespace SN {
namespace {

float Clamp(float v, float low, float high) { return v >= low ? std::min(v, high) : low; }  // NaN gives low

// Where a speaker of an input sits on the device, in units growing to the left.
int32_t SpeakerAngle(uint32_t speaker, const uint32_t* angles) {
  switch (speaker) {
    case kSpeakerFrontLeft: return int32_t(angles[0]);
    case kSpeakerFrontRight: return -int32_t(angles[0]);
    case kSpeakerSideLeft: return int32_t(angles[1]);
    case kSpeakerSideRight: return -int32_t(angles[1]);
    case kSpeakerBackLeft: return int32_t(angles[2]);
    case kSpeakerBackRight: return -int32_t(angles[2]);
    default: return 0;  // the centre, and speakers the device has no angle for: ahead
  }
}

}  // namespace

uint32_t NormaliseSurroundPair(uint32_t config) {
  if (ConfigType(config) != kConfigTypeStandard) return config;
  const uint32_t mask = ChannelMask(config);
  const uint32_t back = kSpeakerBackLeft | kSpeakerBackRight, side = kSpeakerSideLeft | kSpeakerSideRight;
  if ((mask & kSpeakerBackLeft) && !(mask & kSpeakerSideLeft))
    return (config & 0xFFFu) | (((mask & ~back) | side) << 12);
  return config;
}

CSnOutputDevice* CSnMixerPanningServices::Device() const {
  uint32_t deviceId = 0, outputType = 0;
  GetOutputID(deviceId, outputType);
  return LowerEngine::FindOutputDevice(outputType, deviceId);
}

SNRESULT CSnMixerPanningServices::GetSpeakerAngles(float* angles, uint32_t& count, float& heightDegrees) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  const CSnOutputDevice* device = Device();
  if (!device || !device->m_pSpeakerAngles) return SN_Failure;
  if (ConfigType(device->ChannelConfig()) != kConfigTypeStandard) {
    count = 0;
    heightDegrees = 0.0f;
    return SN_Failure;
  }
  // One angle per pair of the widest layout: front, side, back.
  const uint32_t available = MaskChannelCount(0x633) / 2;
  if (angles) {
    count = std::min({count, available, device->m_speakerAngleCount});
    CSnSpeakerPan::AnglesToDegrees(device->m_pSpeakerAngles, count, angles);
  } else {
    count = available;
  }
  heightDegrees = device->m_heightAngle;
  return SN_Success;
}

SNRESULT CSnMixerPanningServices::ComputePanning2D(uint32_t inputConfig, uint32_t outputConfig, float centrePercent,
                                                   float* matrix) {
  CSnSpeakerPan::ComputeDirectAssignment(NormaliseSurroundPair(inputConfig), NormaliseSurroundPair(outputConfig),
                                         centrePercent * 0.01f, matrix);
  return SN_Success;
}

SNRESULT CSnMixerPanningServices::ComputePanningFromPosition(const SnPanPosition& position, float centrePercent,
                                                             uint32_t inputConfig, uint32_t outputConfig,
                                                             float* matrix) {
  const float x = (Clamp(position.x, -1.0f, 1.0f) + 1.0f) * 0.5f;
  const float y = (Clamp(position.y, -1.0f, 1.0f) + 1.0f) * 0.5f;
  CSnSpeakerPan::Pan2D(x, y, centrePercent * 0.01f, true, NormaliseSurroundPair(inputConfig),
                       NormaliseSurroundPair(outputConfig), matrix);
  return SN_Success;
}

SNRESULT CSnMixerPanningServices::ComputePanning3D(float azimuth, float centrePercent, uint32_t outputConfig,
                                                   float* gains) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  CSnOutputDevice* device = Device();
  if (!device) {
    std::fill(gains, gains + ChannelCount(outputConfig), 0.0f);
    return SN_Failure;
  }
  return CSnSpeakerPan::PanDirection(*device, azimuth, outputConfig, centrePercent * 0.01f, gains);
}

SNRESULT CSnMixerPanningServices::CreateSpeakerSet(ISnPluginMemAlloc* allocator, const float* angles, uint32_t count,
                                                   SnSpeakerSet*& set) {
  set = nullptr;
  if (!allocator || !angles || count == 0) {
    SOUND_LOG(Error, "CreateSpeakerSet: %u speakers without an allocator or angles", count);
    return SN_InvalidParameter;
  }
  set = CSnSpeakerSet::Create(*allocator, angles, count);
  return set ? SN_Success : SN_InsufficientMemory;
}

SNRESULT CSnMixerPanningServices::ComputeSpeakerSetGains(SnSpeakerSet* set, float azimuth, float elevation,
                                                         uint32_t channels, float* gains) {
  if (!set) {
    std::fill(gains, gains + channels, 0.0f);
    return SN_InvalidParameter;
  }
  CSnSpeakerSet::ComputeGains(*set, azimuth, elevation, channels, gains);
  return SN_Success;
}

SNRESULT CSnMixerPanningServices::DestroySpeakerSet(ISnPluginMemAlloc* allocator, SnSpeakerSet* set) {
  if (!allocator) return SN_InvalidParameter;
  CSnSpeakerSet::Destroy(*allocator, set);
  return SN_Success;
}

SNRESULT CSnMixerPanningServices::ComputeDeviceMixMatrix(uint32_t inputConfig, uint32_t outputConfig, float* matrix) {
  SN_ASSERT_AUDIO_LOCK_HELD();
  std::memset(matrix, 0, sizeof(float) * MatrixFloats(inputConfig, outputConfig));
  CSnOutputDevice* device = Device();
  if (!device) return SN_Failure;
  SnPanTables tables;
  const SNRESULT result = PairGains::Prepare(*device, outputConfig, tables);
  if (result != SN_Success) return result;
  const uint32_t stride = MatrixRowStride(outputConfig);
  const uint32_t inputMask = ChannelMask(NormaliseSurroundPair(inputConfig)) & ~kSpeakerLfe;
  const bool standard = ConfigType(inputConfig) == kConfigTypeStandard;
  const uint32_t spatial = standard ? MaskChannelCount(inputMask) : ChannelCount(inputConfig);
  uint32_t bits = inputMask;
  for (uint32_t r = 0; r < spatial; ++r) {
    const uint32_t speaker = standard ? (bits & -bits) : 0u;
    bits &= bits - 1;
    float* row = matrix + r * stride;
    // A centre channel stays on the centre when the device has one.
    CSnSpeakerPan::AddVirtualSource(SpeakerAngle(speaker, tables.angles), speaker == kSpeakerCenter ? 1.0f : 0.0f,
                                    tables, row);
    for (uint32_t c = 0; c < ChannelCount(outputConfig); ++c) row[c] = std::sqrt(row[c]);
  }
  if (HasLfe(inputConfig) && HasLfe(outputConfig))
    matrix[(ChannelCount(inputConfig) - 1) * stride + ChannelCount(outputConfig) - 1] = 1.0f;
  return SN_Success;
}

}  // namespace SN
