// The rumble device: frames of the motion output turned into motor speeds of the player's pad.
#include "Audio/RumbleMotionDevice.h"

#include <cmath>
#include <new>

#include "Base/Input/GamepadSource.h"
#include "SoundEngine/Effects/Plugin.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"
#include "SoundEngine/Lower/Motion/MotionDeviceMgr.h"
#include "SoundEngine/Lower/Plugins/PluginFactoryTable.h"

namespace Audio {
namespace {

class RumbleDevice final : public SN::ISnMotionDevicePlugin {
 public:
  SN::SNRESULT Term(SN::ISnPluginMemAlloc* allocator) override {
    this->~RumbleDevice();
    allocator->Free(this);
    return SN::SN_Success;
  }
  SN::SNRESULT Reset() override { return SN::SN_Success; }
  SN::SNRESULT QueryInfo(SN::SnPluginInfo& info) override {
    info = SN::SnPluginInfo{SN::SnPluginType_MotionDevice, 0, 0};
    return SN::SN_Success;
  }
  SN::SNRESULT Init(SN::ISnPluginMemAlloc*, const void*, uint32_t player, void* device) override {
    if (!device) return SN::SN_InvalidParameter;
    m_pad = static_cast<IRumblePad*>(device);
    m_slot = int(player);
    return SN::SN_Success;
  }
  // The motion buses' frame and the voices feeding motion each raise the frame's peak; the motors
  // take it once the frame is over.
  void WriteFrame(const SN::SnMixBuffer& frame) override { Raise(Peak(frame)); }
  void MixVoice(const SN::SnMixBuffer& voiceFrame, float gain) override { Raise(Peak(voiceFrame) * gain); }
  void EndFrame() override {
    float level = m_framePeak * m_gain;
    m_framePeak = 0.0f;
    // Motors take 0..1 of their range; a NaN stops them.
    level = level > 0.0f ? (level < 1.0f ? level : 1.0f) : 0.0f;
    const auto speed = uint16_t(std::lrint(level * 65535.0f));
    // A frame like the last one leaves the motors as they run: the pad is told changes only.
    if (speed == m_speed && m_told) return;
    m_speed = speed;
    m_told = true;
    m_pad->SetVibration(m_slot, speed, speed);
  }
  void Stop() override {
    m_speed = 0;
    m_told = true;
    m_pad->SetVibration(m_slot, 0, 0);
  }
  void SetVolume(float gain) override { m_gain = gain; }

 private:
  // Over every channel's plane of the frame.
  static float Peak(const SN::SnMixBuffer& frame) {
    float peak = 0.0f;
    if (!frame.samples) return peak;
    for (uint32_t c = 0; c < SN::ChannelCount(frame.channelConfig); ++c)
      for (uint32_t t = 0; t < frame.validFrames; ++t)
        peak = std::fmax(peak, std::fabs(frame.samples[size_t(c) * frame.maxFrames + t]));
    return peak;
  }
  void Raise(float peak) { m_framePeak = std::fmax(m_framePeak, peak); }

  IRumblePad* m_pad = nullptr;
  int m_slot = 0;
  float m_gain = 1.0f;
  float m_framePeak = 0.0f;
  uint16_t m_speed = 0;
  bool m_told = false;
};

SN::ISnMotionDevicePlugin* MakeRumble(SN::ISnPluginMemAlloc* allocator) {
  void* memory = allocator->Malloc(sizeof(RumbleDevice));
  return memory ? new (memory) RumbleDevice : nullptr;
}

}  // namespace

void GamepadRumble::SetVibration(int slot, uint16_t left, uint16_t right) {
  if (slot < 0 || slot >= kSlots) return;
  m_speeds[slot].store(uint32_t(left) << 16 | right, std::memory_order_relaxed);
  m_changed.fetch_or(1u << slot, std::memory_order_release);
}

void GamepadRumble::Apply() {
  const uint32_t changed = m_changed.exchange(0, std::memory_order_acquire);
  if (!m_pads) return;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (!(changed & (1u << slot))) continue;
    const uint32_t speeds = m_speeds[slot].load(std::memory_order_relaxed);
    m_pads->SetVibration(slot, uint16_t(speeds >> 16), uint16_t(speeds & 0xFFFF));
  }
}

void RegisterRumbleMotionDevice() { SN::MotionEngine::RegisterMotionDevice(0, SN::kMotionDevicePluginId, &MakeRumble); }

}  // namespace Audio
