// Test helpers of the sound sources: the memory pools the sources use, made fresh and put back; an
// independent reader of media files; an IMA-ADPCM decoder written apart from the engine's; and a
// double-precision model of the resampling kernels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "Platform/VirtualMemory.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MallocMemory.h"

namespace SourceTest {

// The default pool and the lower engine's pool for one test; the previous ones come back after it.
class PoolFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDefault_ = SN::g_DefaultPoolId;
    previousLower_ = SN::g_LEngineDefaultPoolId;
    ASSERT_TRUE(memory_.Initialized());
    SN::g_DefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 8 << 20, 16, SN::SnMemPool_AllocHook, 0);
    SN::g_LEngineDefaultPoolId = SN::MemoryMgr::CreatePool(nullptr, 8 << 20, 64, SN::SnMemPool_AllocHook, 16);
    ASSERT_NE(SN::g_DefaultPoolId, SN::kInvalidPoolId);
    ASSERT_NE(SN::g_LEngineDefaultPoolId, SN::kInvalidPoolId);
  }
  void TearDown() override {
    SN::MemoryMgr::DestroyPool(SN::g_DefaultPoolId);
    SN::MemoryMgr::DestroyPool(SN::g_LEngineDefaultPoolId);
    SN::g_DefaultPoolId = previousDefault_;
    SN::g_LEngineDefaultPoolId = previousLower_;
  }
  uint32_t UsedBytes(SN::SnMemPoolId pool) { return OrvTest::MallocMemory::Used(pool); }

  OrvTest::LogCapture log_;

 private:
  OrvTest::MallocMemory memory_{4};
  SN::SnMemPoolId previousDefault_ = SN::kInvalidPoolId;
  SN::SnMemPoolId previousLower_ = SN::kInvalidPoolId;
};

// What a media file says, read chunk by chunk without the engine's parser.
struct WaveFile {
  uint16_t tag = 0, channels = 0, blockAlign = 0, bits = 0;
  uint32_t rate = 0, mask = 0;
  size_t dataOffset = 0;
  std::vector<uint8_t> data;
  bool ok = false;
};

inline uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline WaveFile ReadWave(const std::vector<uint8_t>& bytes) {
  WaveFile w;
  if (bytes.size() < 12) return w;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string tag(reinterpret_cast<const char*>(&bytes[at]), 4);
    const uint32_t size = U32(&bytes[at + 4]);
    const uint8_t* body = &bytes[at + 8];
    if (tag == "fmt ") {
      w.tag = U16(body);
      w.channels = U16(body + 2);
      w.rate = U32(body + 4);
      w.blockAlign = U16(body + 12);
      w.bits = U16(body + 14);
      w.mask = U32(body + 20);
    } else if (tag == "data") {
      w.dataOffset = at + 8;
      w.data.assign(body, body + std::min<size_t>(size, bytes.size() - at - 8));
      w.ok = true;
      return w;
    }
    at += 8 + (tag == "LIST" ? 4 : size + (size & 1));
  }
  return w;
}

// IMA-ADPCM blocks to interleaved samples, the step worked in floating point and floored.
inline std::vector<int16_t> ReferenceDecode(const uint8_t* data, size_t bytes, uint32_t channels) {
  static const int kSteps[89] = {
      7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107,
      118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963,
      1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894,
      6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794,
      32767};
  const size_t group = 36 * channels, groups = channels ? bytes / group : 0;
  std::vector<int16_t> out(groups * 64 * channels);
  for (size_t g = 0; g < groups; ++g) {
    for (uint32_t c = 0; c < channels; ++c) {
      const uint8_t* block = data + g * group + c * 36;
      double predictor = int16_t(U16(block));
      int index = std::min<int>(block[2], 88);
      auto put = [&](size_t s) { out[(g * 64 + s) * channels + c] = int16_t(predictor); };
      put(0);
      for (size_t s = 1; s < 64; ++s) {
        const uint8_t byte = block[4 + (s - 1) / 2];
        const int nibble = (s - 1) % 2 ? byte >> 4 : byte & 15;
        const double magnitude = std::floor((2.0 * (nibble & 7) + 1.0) * kSteps[index] / 8.0);
        predictor = std::clamp(predictor + (nibble & 8 ? -magnitude : magnitude), -32768.0, 32767.0);
        static const int kMoves[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        index = std::clamp(index + kMoves[nibble & 7], 0, 88);
        put(s);
      }
    }
  }
  return out;
}

// The kernels' arithmetic in double: linear interpolation of one channel at 16.16 positions, with
// `previous` standing before the input.
struct LerpModel {
  // A source that ends is followed by silence: its last frame leads down to it.
  static std::vector<double> Ended(std::vector<double> input) {
    input.push_back(0.0);
    return input;
  }
  // Input frames as doubles in [-1, 1); outputs at positions start, start + step, ... while the
  // frame after the position exists.
  static std::vector<double> Run(const std::vector<double>& input, double previous, uint64_t start, uint64_t step,
                                 size_t most) {
    std::vector<double> out;
    for (uint64_t p = start; out.size() < most; p += step) {
      const uint64_t i = p >> 16;
      if (i + 1 > input.size()) break;
      const double a = i == 0 ? previous : input[i - 1];
      const double b = input[i];
      out.push_back(a + (b - a) * double(p & 0xFFFF) / 65536.0);
    }
    return out;
  }
};

}  // namespace SourceTest
