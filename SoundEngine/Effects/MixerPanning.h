// The panning services a mixer plug-in reaches through its context: the speaker angles of the device
// its bus renders to, 2D and 3D panning onto that device, speaker sets of the plug-in's own speakers,
// and the device's mix matrix. Called from the mixer's own calls, on the audio thread.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"

namespace SN {

class ISnPluginMemAlloc;
struct SnSpeakerSet;

// A position in the plane of the listener: x from left (-1) to right (1), y from behind (-1) to
// ahead (1).
struct SnPanPosition {
  float x;
  float y;
};

class ISnMixerPanning {
 public:
  // Degrees of one side of the listener, ascending from the front. `count` in: room in `angles`
  // (null asks only for the count); out: how many there are or were copied. 2 for a device without
  // angles or without a standard layout.
  virtual SNRESULT GetSpeakerAngles(float* angles, uint32_t& count, float& heightDegrees) = 0;
  // Channels assigned to speakers without panning (`centrePercent` of a mono source on the centre).
  virtual SNRESULT ComputePanning2D(uint32_t inputConfig, uint32_t outputConfig, float centrePercent,
                                    float* matrix) = 0;
  // Panned to a position, each coordinate held to -1..1.
  virtual SNRESULT ComputePanningFromPosition(const SnPanPosition& position, float centrePercent,
                                              uint32_t inputConfig, uint32_t outputConfig, float* matrix) = 0;
  // One direction (radians, positive to the right) onto the speakers of `outputConfig`: amplitude
  // gains, one per channel.
  virtual SNRESULT ComputePanning3D(float azimuth, float centrePercent, uint32_t outputConfig, float* gains) = 0;
  // `count` speakers as (azimuth, elevation) radian pairs. 52 without memory, 31 without speakers.
  virtual SNRESULT CreateSpeakerSet(ISnPluginMemAlloc* allocator, const float* angles, uint32_t count,
                                    SnSpeakerSet*& set) = 0;
  // One gain per speaker of the set, `channels` of them.
  virtual SNRESULT ComputeSpeakerSetGains(SnSpeakerSet* set, float azimuth, float elevation, uint32_t channels,
                                          float* gains) = 0;
  virtual SNRESULT DestroySpeakerSet(ISnPluginMemAlloc* allocator, SnSpeakerSet* set) = 0;
  // Every channel of the input placed at its speaker's angle on the device.
  virtual SNRESULT ComputeDeviceMixMatrix(uint32_t inputConfig, uint32_t outputConfig, float* matrix) = 0;

 protected:
  ~ISnMixerPanning() = default;
};

}  // namespace SN
