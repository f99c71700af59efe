// Kept blocks over a real pool: the lowest free block first, runs packed in address order, one empty
// run kept, every block and run back in the pool once keeping ends, and blocks one by one outside it,
// past the last run, or when the pool has no room for a run.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryMgr/MemoryMgr.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "tests/Support/MallocMemory.h"

namespace {

using SN::CSnKeptBlocks;

constexpr size_t kSize = 40;
constexpr uint32_t kAlignment = 16;
constexpr size_t kStride = 48;
constexpr size_t kBig = 1000;

SN::SnMemPoolId& Pool() {
  static SN::SnMemPoolId pool = SN::kInvalidPoolId;
  return pool;
}

// Kinds live as long as the program, as their users' are.
CSnKeptBlocks& Small() {
  static CSnKeptBlocks kind(kSize, kAlignment, Pool());
  return kind;
}
CSnKeptBlocks& Big() {
  static CSnKeptBlocks kind(kBig, kAlignment, Pool());
  return kind;
}

class KeptBlocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(memory_.Initialized());
    UsePool(1 << 20);
  }
  void TearDown() override {
    CSnKeptBlocks::EndKeeping();
    SN::MemoryMgr::DestroyPool(Pool());
    Pool() = SN::kInvalidPoolId;
  }
  void UsePool(uint32_t bytes) {
    if (Pool() != SN::kInvalidPoolId) SN::MemoryMgr::DestroyPool(Pool());
    Pool() = SN::MemoryMgr::CreatePool(nullptr, bytes, 16, SN::SnMemPool_AllocHook, 0);
    ASSERT_NE(Pool(), SN::kInvalidPoolId);
    baseline_ = Used();
  }
  static uint32_t Used() { return OrvTest::MallocMemory::Used(Pool()); }
  static std::vector<char*> TakeMany(CSnKeptBlocks& kind, size_t count) {
    std::vector<char*> blocks;
    for (size_t i = 0; i < count; ++i) blocks.push_back(static_cast<char*>(kind.Take()));
    return blocks;
  }
  OrvTest::MallocMemory memory_{4};
  uint32_t baseline_ = 0;
};

TEST_F(KeptBlocksTest, TheLowestFreeBlockComesFirstAndRunsArePacked) {
  CSnKeptBlocks::BeginKeeping();
  std::vector<char*> blocks = TakeMany(Small(), 150);  // three runs
  for (char* block : blocks) {
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kAlignment, 0u);
  }
  for (size_t i = 1; i < CSnKeptBlocks::kBlocksPerRun; ++i) EXPECT_EQ(blocks[i] - blocks[i - 1], ptrdiff_t(kStride));
  std::vector<char*> sorted = blocks;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());

  // Freed in any order, they come back lowest first.
  std::vector<char*> freed;
  for (size_t i = blocks.size(); i-- > 0;)
    if (i % 3 == 1) {
      Small().Keep(blocks[i]);
      freed.push_back(blocks[i]);
    }
  std::sort(freed.begin(), freed.end());
  EXPECT_EQ(TakeMany(Small(), freed.size()), freed);

  // All back: one empty run stays while keeping; none once it ends.
  for (char* block : blocks) Small().Keep(block);
  const uint32_t oneRun = Used() - baseline_;
  EXPECT_GE(oneRun, kStride * CSnKeptBlocks::kBlocksPerRun);
  EXPECT_LT(oneRun, 2 * kStride * CSnKeptBlocks::kBlocksPerRun);
  EXPECT_EQ(Small().Take(), sorted.front());  // the run kept is the lowest
  Small().Keep(sorted.front());
  EXPECT_EQ(Used() - baseline_, oneRun);
  CSnKeptBlocks::EndKeeping();
  EXPECT_EQ(Used(), baseline_);
}

TEST_F(KeptBlocksTest, BlocksGoBackOneByOneOutsideKeepingAndRunsWithTheirLastBlock) {
  // Outside keeping: straight from the pool and back.
  char* lone = static_cast<char*>(Small().Take());
  ASSERT_NE(lone, nullptr);
  EXPECT_GT(Used(), baseline_);
  Small().Keep(lone);
  EXPECT_EQ(Used(), baseline_);

  // A run still in use when keeping ends goes back with its last block.
  CSnKeptBlocks::BeginKeeping();
  std::vector<char*> blocks = TakeMany(Small(), 70);
  CSnKeptBlocks::EndKeeping();
  EXPECT_GT(Used(), baseline_);
  for (size_t i = 0; i + 1 < blocks.size(); ++i) Small().Keep(blocks[i]);
  EXPECT_GT(Used(), baseline_);
  Small().Keep(blocks.back());
  EXPECT_EQ(Used(), baseline_);
}

TEST_F(KeptBlocksTest, PastTheLastRunOrWithNoRoomForOneBlocksComeOneByOne) {
  CSnKeptBlocks::BeginKeeping();
  const size_t inRuns = size_t(CSnKeptBlocks::kMostRuns) * CSnKeptBlocks::kBlocksPerRun;
  std::vector<char*> blocks = TakeMany(Small(), inRuns + 3);
  for (char* block : blocks) ASSERT_NE(block, nullptr);
  for (char* block : blocks) Small().Keep(block);
  CSnKeptBlocks::EndKeeping();
  EXPECT_EQ(Used(), baseline_);

  // Room for a few big blocks but not for a run of them.
  UsePool(16 * 1024);
  CSnKeptBlocks::BeginKeeping();
  std::vector<char*> big = TakeMany(Big(), 4);
  for (char* block : big) ASSERT_NE(block, nullptr);
  for (char* block : big) Big().Keep(block);
  EXPECT_EQ(Used(), baseline_);
  CSnKeptBlocks::EndKeeping();
}

}  // namespace
