// IMA-ADPCM as media stores it: 36-byte blocks of 64 samples of one channel (a 16-bit first sample, a
// step index, then 63 nibbles), one block per channel in each block group.
#pragma once

#include <cstdint>

namespace SN {

constexpr int kImaMaxStepIndex = 88;

// One nibble's step of the decoder: the predictor and index move as the decoder moves them. The
// media writer chooses each nibble through this same arithmetic.
int ImaAdpcmNext(int& predictor, int& index, uint32_t nibble);

// Decodes `blocks` blocks of one channel: block b at in + b x inStride bytes, sample s of the run to
// out[s x outStride]. A step index above 88 is clamped; the return is true when one was.
bool DecodeImaAdpcmBlocks(const uint8_t* in, int16_t* out, uint32_t blocks, uint32_t inStride, uint32_t outStride);
// The same for `groups` stereo block groups (72 bytes each) into interleaved pairs: both channels'
// steps are taken side by side, two chains the processor runs at once instead of one after the other.
bool DecodeImaAdpcmStereoGroups(const uint8_t* in, int16_t* out, uint32_t groups);

namespace ImaAdpcm {
extern const int16_t kStepTable[kImaMaxStepIndex + 1];
extern const int8_t kIndexTable[16];
}  // namespace ImaAdpcm

inline int ImaAdpcmStepSize(int index) { return ImaAdpcm::kStepTable[index]; }

}  // namespace SN
