// The motion sink: a one-channel frame buffer whose frames go to the player's motion device.
#include "SoundEngine/Lower/Motion/MotionSink.h"

#include <cstring>
#include <new>

#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Output/OutputDevice.h"
#include "SoundEngine/Lower/OutputServices.h"

namespace SN {

CSnSink* CSnMotionSink::Make(int32_t) {
  void* memory = MemoryMgr::Malloc(g_LEngineDefaultPoolId, sizeof(CSnMotionSink));
  return memory ? new (memory) CSnMotionSink : nullptr;
}

SNRESULT CSnMotionSink::Init(SnMemPoolId, CSnOutputDevice* context, SnSinkFormat& format) {
  m_channelConfig = format.channelConfig;
  const SNRESULT result = AllocFrameBuffer(format.channelConfig);
  if (result != SN_Success) return result;
  uint32_t player = 0, outputType = 0;
  if (context) context->GetOutputID(player, outputType);
  if (CSnMotionDeviceMgr* motion = CSnMotionDeviceMgr::Get()) m_pDevice = motion->Device(player);
  return SN_Success;
}

void CSnMotionSink::WriteFrame() {
  if (m_pDevice) m_pDevice->WriteFrame(m_frameBuffer);
}

void CSnMotionSink::WriteSilence() {
  // A frame without motion is still a frame: the device hears it as stillness and lets its motors
  // stop, where nothing at all would leave them running at the last voice's level.
  if (!m_pDevice || !m_frameBuffer.samples) return;
  const uint32_t frames = LowerEngine::kMotionFrameSamples;
  memset(m_frameBuffer.samples, 0, sizeof(float) * frames * ChannelCount(m_channelConfig));
  m_frameBuffer.validFrames = uint16_t(frames);
  m_pDevice->WriteFrame(m_frameBuffer);
}

uint32_t CSnMotionSink::GetWaitTime() { return LowerEngine::QuarterFrameDurationMs(); }

}  // namespace SN
