// The pair-gain tables of the 3D panner: for every angle of one half circle, the power gains of the
// two speakers of a speaker mask that bracket it, built from a device's speaker angles; and the
// engine-wide headphone law.
#pragma once

#include <cstdint>

#include "MemoryMgr/SnResult.h"
#include "SoundEngine/Lower/Mixing/MixBuffer.h"

namespace SN {

class CSnOutputDevice;

// Angles 0 (ahead) to 256 (behind) of one side of the listener.
constexpr uint32_t kPairGainEntries = 257;
constexpr uint32_t kHeadphoneEntries = 129;
// The speakers that take part in panning; LFE never does.
constexpr uint32_t kSpatialSpeakers = 0x637;

struct SnPairGain {
  float first;   // the speaker nearer the front
  float second;  // the speaker further round towards the back
};

struct SnPairGainTable {
  SnPairGainTable* next;
  uint32_t mask;  // spatial speakers
  SnPairGain gains[kPairGainEntries];
};

// What one pan needs of an output device, gathered once per output path.
struct SnPanTables {
  uint32_t spatialMask = 0;  // the output's speakers in kSpatialSpeakers
  uint32_t outputMask = 0;   // every speaker of the output but LFE: the columns
  uint32_t angles[3] = {};   // the device's speaker angles in units, ascending
  float inverseMinSpacing = 0.0f;
  bool headphones = false;                       // stereo output under the headphone rule
  const SnPairGainTable* pairs = nullptr;        // the mask without its centre
  const SnPairGainTable* centrePairs = nullptr;  // the mask with its centre, when it has one
};

namespace PairGains {

// The tables of `output` on `device`, built from the lower-engine pool on first use. 1; 2 for a
// device without speaker angles or a configuration that is not a standard one; 52 without memory.
// Audio thread, under the global audio lock.
SNRESULT Prepare(CSnOutputDevice& device, SnChannelConfig output, SnPanTables& tables);

// The engine-wide headphone law, sin^2 over a quarter circle (CSnSpeakerPan::InitHeadphoneTable).
const float* HeadphoneTable();

}  // namespace PairGains

// Returns a device's tables to the lower-engine pool and empties the list.
void FreePairGainTables(SnPairGainTable*& list);

}  // namespace SN
