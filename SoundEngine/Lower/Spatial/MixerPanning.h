// The mixer context's panning services over the lower engine's devices and panners; the mixer
// context of a bus takes them by naming the device its bus renders to. Audio thread, under the
// global audio lock.
#pragma once

#include <cstdint>

#include "SoundEngine/Effects/MixerPanning.h"

namespace SN {

class CSnOutputDevice;

class CSnMixerPanningServices : public ISnMixerPanning {
 public:
  SNRESULT GetSpeakerAngles(float* angles, uint32_t& count, float& heightDegrees) override;
  SNRESULT ComputePanning2D(uint32_t inputConfig, uint32_t outputConfig, float centrePercent, float* matrix) override;
  SNRESULT ComputePanningFromPosition(const SnPanPosition& position, float centrePercent, uint32_t inputConfig,
                                      uint32_t outputConfig, float* matrix) override;
  SNRESULT ComputePanning3D(float azimuth, float centrePercent, uint32_t outputConfig, float* gains) override;
  SNRESULT CreateSpeakerSet(ISnPluginMemAlloc* allocator, const float* angles, uint32_t count,
                            SnSpeakerSet*& set) override;
  SNRESULT ComputeSpeakerSetGains(SnSpeakerSet* set, float azimuth, float elevation, uint32_t channels,
                                  float* gains) override;
  SNRESULT DestroySpeakerSet(ISnPluginMemAlloc* allocator, SnSpeakerSet* set) override;
  SNRESULT ComputeDeviceMixMatrix(uint32_t inputConfig, uint32_t outputConfig, float* matrix) override;

  // The device the mixer's bus renders to.
  virtual void GetOutputID(uint32_t& deviceId, uint32_t& outputType) const = 0;

 protected:
  ~CSnMixerPanningServices() = default;

 private:
  CSnOutputDevice* Device() const;
};

// A standard layout with exactly one of the side and back pairs has it as the side pair.
uint32_t NormaliseSurroundPair(uint32_t config);

}  // namespace SN
