// Processor features read from cpuid answers: the bits of leaf 1, the cache leaf or its defaults.
#include <gtest/gtest.h>

#include "SoundEngine/CpuInfo.h"

namespace {

using SN::CSnCpuInfo;
using SN::SnCpuidAnswers;

TEST(CpuInfo, FeaturesAndCacheComeFromTheirLeaves) {
  SnCpuidAnswers answers;
  answers.maxLeaf = 1;
  answers.leaf1Edx = (1u << 25) | (1u << 26);  // SSE, SSE2
  answers.leaf1Ecx = 1u << 9;                  // SSSE3, no SSE3
  answers.maxExtendedLeaf = 0x80000008u;
  answers.cacheLeafEcx = (512u << 16) | 0x40;  // 512 KB, 64-byte lines
  const CSnCpuInfo info(answers);
  EXPECT_TRUE(info.HasFeature(CSnCpuInfo::Feature_SSE));
  EXPECT_TRUE(info.HasFeature(CSnCpuInfo::Feature_SSE2));
  EXPECT_FALSE(info.HasFeature(CSnCpuInfo::Feature_SSE3));
  EXPECT_TRUE(info.HasFeature(CSnCpuInfo::Feature_SSSE3));
  EXPECT_TRUE(info.HasFeature(CSnCpuInfo::Feature_SSE3 | CSnCpuInfo::Feature_SSE2));  // any of them
  EXPECT_EQ(info.GetL2CacheSize(), 512u);
  EXPECT_EQ(info.GetCacheLineSize(), 64u);
}

TEST(CpuInfo, WithoutTheLeavesNothingIsClaimedAndTheCacheDefaults) {
  SnCpuidAnswers answers;
  answers.leaf1Edx = 1u << 25;  // not to be read: leaf 1 is not there
  answers.maxExtendedLeaf = 0x80000004u;
  answers.cacheLeafEcx = 0xFFFFFFFFu;
  const CSnCpuInfo info(answers);
  EXPECT_FALSE(info.HasFeature(CSnCpuInfo::Feature_SSE));
  EXPECT_EQ(info.GetL2CacheSize(), 1024u);
  EXPECT_EQ(info.GetCacheLineSize(), 64u);
}

TEST(CpuInfo, AvxNeedsTheInstructionsAndTheSystemSavingTheWideRegisters) {
  SnCpuidAnswers answers;
  answers.maxLeaf = 1;
  answers.leaf1Ecx = (1u << 27) | (1u << 28);  // the system saves state, AVX
  answers.savedState = 0x7;                    // x87, SSE and AVX halves saved
  EXPECT_TRUE(CSnCpuInfo(answers).HasFeature(CSnCpuInfo::Feature_AVX));
  answers.savedState = 0x3;  // the upper halves are not saved: the instructions would fault
  EXPECT_FALSE(CSnCpuInfo(answers).HasFeature(CSnCpuInfo::Feature_AVX));
  answers.savedState = 0x7;
  answers.leaf1Ecx = 1u << 28;  // no saving of state at all
  EXPECT_FALSE(CSnCpuInfo(answers).HasFeature(CSnCpuInfo::Feature_AVX));
}

TEST(CpuInfo, ThisProcessorHasTheKernelsInstructions) {
  // Every x86-64 processor has SSE and SSE2.
  EXPECT_TRUE(CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_SSE));
  EXPECT_TRUE(CSnCpuInfo::GetInstance().HasFeature(CSnCpuInfo::Feature_SSE2));
  EXPECT_GT(CSnCpuInfo::GetInstance().GetCacheLineSize(), 0u);
}

}  // namespace
