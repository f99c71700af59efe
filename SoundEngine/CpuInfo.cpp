// Processor features from cpuid; without the cache leaf, 1024 KB of L2 in 64-byte lines.
#include "SoundEngine/CpuInfo.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace SN {
namespace {

constexpr uint32_t kCacheLeaf = 0x80000006u;
constexpr uint32_t kOsSavesState = 1u << 27;
constexpr uint32_t kAvx = 1u << 28;
// The SSE and AVX register halves in the saved-state word.
constexpr uint64_t kWideRegistersSaved = 0x6;

SnCpuidAnswers AskProcessor() {
  SnCpuidAnswers answers;
#if defined(__x86_64__) || defined(__i386__)
  uint32_t a = 0, b = 0, c = 0, d = 0;
  answers.maxLeaf = __get_cpuid_max(0, nullptr);
  if (answers.maxLeaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) {
    answers.leaf1Ecx = c;
    answers.leaf1Edx = d;
    if (c & kOsSavesState) {
      uint32_t low = 0, high = 0;
      __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
      answers.savedState = (uint64_t(high) << 32) | low;
    }
  }
  answers.maxExtendedLeaf = __get_cpuid_max(0x80000000u, nullptr);
  if (answers.maxExtendedLeaf >= kCacheLeaf && __get_cpuid(kCacheLeaf, &a, &b, &c, &d)) answers.cacheLeafEcx = c;
#endif
  return answers;
}

}  // namespace

CSnCpuInfo::CSnCpuInfo(const SnCpuidAnswers& answers) {
  if (answers.maxLeaf >= 1) {
    if (answers.leaf1Edx & (1u << 25)) m_features |= Feature_SSE;
    if (answers.leaf1Edx & (1u << 26)) m_features |= Feature_SSE2;
    if (answers.leaf1Ecx & (1u << 0)) m_features |= Feature_SSE3;
    if (answers.leaf1Ecx & (1u << 9)) m_features |= Feature_SSSE3;
    if ((answers.leaf1Ecx & (kOsSavesState | kAvx)) == (kOsSavesState | kAvx) &&
        (answers.savedState & kWideRegistersSaved) == kWideRegistersSaved)
      m_features |= Feature_AVX;
  }
  if (answers.maxExtendedLeaf >= kCacheLeaf) {
    m_l2CacheKb = answers.cacheLeafEcx >> 16;
    m_cacheLineBytes = answers.cacheLeafEcx & 0xFF;
  }
}

CSnCpuInfo& CSnCpuInfo::GetInstance() {
  static CSnCpuInfo instance(AskProcessor());
  return instance;
}

}  // namespace SN
