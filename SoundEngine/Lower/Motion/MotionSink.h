// The sink of a player's motion output: one channel, one frame whenever asked, each frame handed to
// the player's motion device. Made by an output device of type 128 as its custom sink.
// Audio thread, under the global audio lock.
#pragma once

#include "SoundEngine/Lower/Output/Sink.h"

namespace SN {

class ISnMotionDevicePlugin;

class CSnMotionSink final : public CSnSink {
 public:
  CSnMotionSink() : CSnSink(0) {}
  // The custom sink factory of motion outputs.
  static CSnSink* Make(int32_t pluginPool);
  // Takes the format's layout and the device of the player the context's device id names.
  SNRESULT Init(SnMemPoolId pool, CSnOutputDevice* context, SnSinkFormat& format) override;
  SNRESULT IsDataNeeded(uint32_t& frames) override {
    frames = 1;
    return SN_Success;
  }
  void WriteFrame() override;
  void WriteSilence() override;
  uint32_t GetWaitTime() override;

  void SetDevice(ISnMotionDevicePlugin* device) { m_pDevice = device; }
  ISnMotionDevicePlugin* Device() const { return m_pDevice; }

 private:
  ISnMotionDevicePlugin* m_pDevice = nullptr;
};

}  // namespace SN
