// The voice buffer's planar block and marker array, and the frame block the source stages share.
#include "SoundEngine/Sources/VoiceBuffer.h"

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {

SNRESULT SnVoiceBuffer::AllocData(uint32_t frames, SnChannelConfig config) {
  FreeData();
  channelConfig = config;
  const size_t bytes = size_t(frames) * ChannelCount(config) * sizeof(float);
  if (frames == 0 || frames > 0xFFFF || bytes == 0) return SN_InvalidParameter;
  data = MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16);
  if (!data) return SN_InsufficientMemory;
  maxFrames = uint16_t(frames);
  validFrames = 0;
  return SN_Success;
}

void SnVoiceBuffer::FreeData() {
  if (data) MemoryMgr::Falign(g_LEngineDefaultPoolId, data);
  data = nullptr;
  maxFrames = validFrames = 0;
}

float* SharedFrameBlock(size_t floats) {
  // Eight channels of 2048 frames; a larger frame takes a block of its own stage.
  constexpr size_t kFloats = 8 * 2048;
  alignas(64) static float block[kFloats];
  return floats <= kFloats ? block : nullptr;
}

void SnVoiceBuffer::FreeMarkers() {
  if (markers) MemoryMgr::Free(g_DefaultPoolId, markers);
  markers = nullptr;
  markerCount = 0;
}

}  // namespace SN
