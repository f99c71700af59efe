// The IMA-ADPCM block decoder and its tables.
#include "SoundEngine/Sources/ImaAdpcm.h"

#include <cstring>

namespace SN {

namespace ImaAdpcm {

const int16_t kStepTable[kImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int8_t kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace ImaAdpcm

int ImaAdpcmNext(int& predictor, int& index, uint32_t nibble) {
  const int step = ImaAdpcm::kStepTable[index];
  int delta = int((nibble & 7) * 2 + 1) * step / 8;
  if (nibble & 8) delta = -delta;
  predictor += delta;
  if (predictor > 32767) predictor = 32767;
  if (predictor < -32768) predictor = -32768;
  index += ImaAdpcm::kIndexTable[nibble & 15];
  if (index < 0) index = 0;
  if (index > kImaMaxStepIndex) index = kImaMaxStepIndex;
  return predictor;
}

namespace {

// The index after each of the 89 indices and 8 magnitudes, clamped: one look-up instead of an add and
// two compares per nibble.
struct NextIndexTable {
  uint8_t next[kImaMaxStepIndex + 1][8];
  NextIndexTable() {
    for (int i = 0; i <= kImaMaxStepIndex; ++i)
      for (int m = 0; m < 8; ++m) {
        const int n = i + ImaAdpcm::kIndexTable[m];
        next[i][m] = uint8_t(n < 0 ? 0 : n > kImaMaxStepIndex ? kImaMaxStepIndex : n);
      }
  }
};
const NextIndexTable kNext;

// The decoder's step: the same arithmetic as ImaAdpcmNext, with the magnitude worked unsigned.
inline int Step(int& predictor, uint32_t& index, uint32_t nibble) {
  const uint32_t magnitude = ((nibble & 7) * 2 + 1) * uint32_t(ImaAdpcm::kStepTable[index]) >> 3;
  int p = predictor + ((nibble & 8) ? -int(magnitude) : int(magnitude));
  p = p > 32767 ? 32767 : p;
  p = p < -32768 ? -32768 : p;
  predictor = p;
  index = kNext.next[index][nibble & 7];
  return p;
}

}  // namespace

namespace {

// A block's decoder state from its header: the first sample and the step index (clamped, noted).
struct BlockState {
  int predictor;
  uint32_t index;
  BlockState(const uint8_t* block, bool& clamped) {
    int16_t first;
    memcpy(&first, block, sizeof first);
    predictor = first;
    index = block[2];
    if (index > kImaMaxStepIndex) {
      index = kImaMaxStepIndex;
      clamped = true;
    }
  }
  int16_t Next(uint32_t nibble) { return int16_t(Step(predictor, index, nibble)); }
};

}  // namespace

bool DecodeImaAdpcmBlocks(const uint8_t* in, int16_t* out, uint32_t blocks, uint32_t inStride, uint32_t outStride) {
  bool clamped = false;
  for (uint32_t b = 0; b < blocks; ++b, in += inStride) {
    BlockState state(in, clamped);
    int16_t* o = out;
    o[0] = int16_t(state.predictor);
    const uint8_t* nibbles = in + 4;
    for (uint32_t i = 0; i < 31; ++i) {
      o[(2 * i + 1) * outStride] = state.Next(nibbles[i] & 15);
      o[(2 * i + 2) * outStride] = state.Next(nibbles[i] >> 4);
    }
    o[63 * outStride] = state.Next(nibbles[31] & 15);
    out += 64 * size_t(outStride);
  }
  return clamped;
}

bool DecodeImaAdpcmStereoGroups(const uint8_t* in, int16_t* out, uint32_t groups) {
  bool clamped = false;
  for (uint32_t g = 0; g < groups; ++g, in += 72, out += 128) {
    const uint8_t* left = in + 4;
    const uint8_t* right = in + 36 + 4;
    BlockState l(in, clamped), r(in + 36, clamped);
    out[0] = int16_t(l.predictor);
    out[1] = int16_t(r.predictor);
    for (uint32_t i = 0; i < 31; ++i) {
      out[4 * i + 2] = l.Next(left[i] & 15);
      out[4 * i + 3] = r.Next(right[i] & 15);
      out[4 * i + 4] = l.Next(left[i] >> 4);
      out[4 * i + 5] = r.Next(right[i] >> 4);
    }
    out[126] = l.Next(left[31] & 15);
    out[127] = r.Next(right[31] & 15);
  }
  return clamped;
}

}  // namespace SN
