// What the sound engine asks of the processor: the vector instruction sets its kernels may use and
// the second-level cache, read once through cpuid.
#pragma once

#include <cstdint>

namespace SN {

// What cpuid answered: the highest leaves and the registers of leaves 1 and 0x80000006.
struct SnCpuidAnswers {
  uint32_t maxLeaf = 0;
  uint32_t leaf1Ecx = 0;
  uint32_t leaf1Edx = 0;
  uint32_t maxExtendedLeaf = 0;
  uint32_t cacheLeafEcx = 0;
  // The register state the system saves (xgetbv 0): wide registers are usable only when it keeps them.
  uint64_t savedState = 0;
};

class CSnCpuInfo {
 public:
  // Created on first use; any thread.
  static CSnCpuInfo& GetInstance();
  explicit CSnCpuInfo(const SnCpuidAnswers& answers);

  enum Feature : uint32_t { Feature_SSE = 1, Feature_SSE2 = 2, Feature_SSE3 = 4, Feature_SSSE3 = 8, Feature_AVX = 16 };
  // True when any feature of the mask is there.
  bool HasFeature(uint32_t mask) const { return (m_features & mask) != 0; }
  uint32_t GetL2CacheSize() const { return m_l2CacheKb; }  // KB
  uint32_t GetCacheLineSize() const { return m_cacheLineBytes; }

 private:
  uint32_t m_features = 0;
  uint32_t m_l2CacheKb = 1024;
  uint32_t m_cacheLineBytes = 64;
};

}  // namespace SN
