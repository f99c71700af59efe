// Memory pools: TLSF limits and overhead, exact used-byte counts through a random stress, freed
// blocks serving their size again, threads sharing a pool, fixed blocks in release order, and bad
// pool ids answered without touching memory.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "MemoryMgr/Tlsf.h"
#include "SoundTestSupport.h"

namespace {

using namespace SN;
using SoundTest::Counts;
using SoundTest::MemoryScope;

constexpr uint32_t kHeader = uint32_t(Tlsf::kBlockHeaderBytes);

uint32_t Used(SnMemPoolId id) {
  MemoryMgr::PoolStats stats;
  EXPECT_EQ(MemoryMgr::GetPoolStats(id, stats), SN_Success);
  return stats.usedBytes;
}

TEST(MemoryMgrTest, HeapPoolLimitsAndOverhead) {
  OrvTest::LogCapture log;
  MemoryScope memory;
  EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 1000, 64, SnMemPool_AllocHook, 0), kInvalidPoolId);
  EXPECT_NE(log.Take().find("tlsf_create: Pool size must be between"), std::string::npos);
  EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_CallerMemory, 0), kInvalidPoolId);
  EXPECT_EQ(MemoryMgr::CreatePool(nullptr, 1 << 20, 64, 3, 0), kInvalidPoolId);

  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 16777216, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  MemoryMgr::PoolMemInfo info;
  ASSERT_EQ(MemoryMgr::GetPoolMemoryUsed(id, info), SN_Success);
  EXPECT_EQ(info.totalBytes, 16777216u - Tlsf::kOverheadBytes);
  EXPECT_EQ(info.usedBytes, 0u);

  EXPECT_EQ(MemoryMgr::Malloc(id, 0), nullptr);
  EXPECT_EQ(MemoryMgr::Free(id, nullptr), SN_Success);
  void* small = MemoryMgr::Malloc(id, 1);
  EXPECT_EQ(Used(id), Tlsf::kMinBlockBytes + kHeader);
  void* odd = MemoryMgr::Malloc(id, 100);
  EXPECT_EQ(Used(id), Tlsf::kMinBlockBytes + 104 + 2 * kHeader);
  EXPECT_EQ(MemoryMgr::Malloc(id, Tlsf::kMaxRequestBytes), nullptr);
  MemoryMgr::Free(id, small);
  MemoryMgr::Free(id, odd);
  EXPECT_EQ(Used(id), 0u);
  MemoryMgr::PoolStats stats;
  EXPECT_EQ(MemoryMgr::GetPoolStats(-1, stats), SN_Failure);
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_Success);
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_InvalidPoolId);
}

TEST(MemoryMgrTest, LargestPoolOverVirtualMemory) {
  OrvTest::LogCapture log;
  MemoryScope memory;
  const uint32_t largest = uint32_t(Tlsf::kMaxRegionBytes);
  EXPECT_EQ(MemoryMgr::CreatePool(nullptr, largest + 64, 8, SnMemPool_VirtualHook, 0), kInvalidPoolId);
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, largest, 4, SnMemPool_VirtualHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  EXPECT_EQ(Counts().virtualAllocs, 2);
  void* big = MemoryMgr::Malloc(id, Tlsf::kMaxRequestBytes - 4096);
  EXPECT_NE(big, nullptr);
  MemoryMgr::Free(id, big);
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_Success);
  EXPECT_EQ(Counts().virtualFrees, 2);
}

TEST(MemoryMgrTest, StressKeepsExactCountsAndAConsistentHeap) {
  MemoryScope memory;
  const uint32_t bytes = 1 << 20;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, bytes, 64, SnMemPool_AllocHook, 16);
  ASSERT_NE(id, kInvalidPoolId);
  std::mt19937 random(7);
  std::vector<std::pair<void*, uint32_t>> live;
  uint32_t expected = 0;
  for (int step = 0; step < 4000; ++step) {
    if (live.empty() || random() % 3 != 0) {
      const uint32_t size = 1 + random() % 4096;
      const bool aligned = random() % 4 == 0;
      void* p = aligned ? MemoryMgr::Malign(id, size, 256) : MemoryMgr::Malloc(id, size);
      if (!p) continue;
      // The pool's own alignment of 16 applies to every plain allocation.
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % (aligned ? 256 : 16), 0u);
      const uint32_t block = uint32_t(Tlsf::BlockSize(p));
      ASSERT_GE(block, std::max<uint32_t>((size + 7) & ~7u, Tlsf::kMinBlockBytes));
      memset(p, 0xAB, size);
      live.push_back({p, block});
      expected += block + kHeader;
    } else {
      const size_t index = random() % live.size();
      ASSERT_EQ(MemoryMgr::Free(id, live[index].first), SN_Success);
      expected -= live[index].second + kHeader;
      live.erase(live.begin() + ptrdiff_t(index));
    }
    ASSERT_EQ(Used(id), expected) << "step " << step;
  }
  for (auto& [p, block] : live) MemoryMgr::Free(id, p);
  EXPECT_EQ(Used(id), 0u);
  // Everything merged back: a request of nearly the whole pool finds one block for it.
  void* all = MemoryMgr::Malloc(id, 1000000);
  EXPECT_NE(all, nullptr);
  MemoryMgr::Free(id, all);
}

// Threads taking and freeing blocks of one pool at once: every block is whole and its own (no two
// threads get the same one), and the counts come back to nothing.
TEST(MemoryMgrTest, ThreadsSharingAPoolGetBlocksOfTheirOwn) {
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 1 << 22, 64, SnMemPool_AllocHook, 16);
  ASSERT_NE(id, kInvalidPoolId);
  constexpr int kThreads = 4, kRounds = 3000;
  std::atomic<int> faults{0};
  auto work = [&](int thread) {
    std::mt19937 random(uint32_t(11 + thread));
    std::vector<std::pair<unsigned char*, uint32_t>> live;
    for (int round = 0; round < kRounds; ++round) {
      if (live.size() < 24 && (live.empty() || random() % 2)) {
        const uint32_t size = 8 + random() % 600;
        auto* p = static_cast<unsigned char*>(MemoryMgr::Malloc(id, size));
        if (!p) {
          ++faults;
          continue;
        }
        memset(p, thread + 1, size);
        live.push_back({p, size});
      } else {
        const size_t index = random() % live.size();
        auto [p, size] = live[index];
        if (std::count(p, p + size, thread + 1) != ptrdiff_t(size)) ++faults;
        MemoryMgr::Free(id, p);
        live.erase(live.begin() + ptrdiff_t(index));
      }
    }
    for (auto [p, size] : live) {
      if (std::count(p, p + size, thread + 1) != ptrdiff_t(size)) ++faults;
      MemoryMgr::Free(id, p);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(Used(id), 0u);
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_Success);
}

TEST(MemoryMgrTest, FreedBlocksServeTheirSizeAgainAndGoBackWhenTheHeapRunsShort) {
  MemoryScope memory;
  const uint32_t bytes = 64 * 1024;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, bytes, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  for (uint32_t size : {100u, 4000u}) {
    void* first = MemoryMgr::Malloc(id, size);
    ASSERT_NE(first, nullptr);
    MemoryMgr::Free(id, first);
    EXPECT_EQ(Used(id), 0u);
    void* again = MemoryMgr::Malloc(id, size);
    EXPECT_EQ(again, first) << size;
    EXPECT_EQ(Used(id), ((size + 7) & ~7u) + kHeader);
    MemoryMgr::Free(id, again);
  }

  // The pool filled with small or with large blocks, all freed: the ones kept for their size count
  // as free, and a request for most of the pool still finds it in one piece.
  for (uint32_t size : {48u, 2000u}) {
    std::vector<void*> blocks;
    for (void* p; (p = MemoryMgr::Malloc(id, size));) blocks.push_back(p);
    ASSERT_GT(blocks.size(), 25u);
    for (void* p : blocks) MemoryMgr::Free(id, p);
    EXPECT_EQ(Used(id), 0u);
    void* all = MemoryMgr::Malloc(id, bytes * 3 / 4);
    ASSERT_NE(all, nullptr) << size;
    EXPECT_EQ(Used(id), uint32_t(Tlsf::BlockSize(all)) + kHeader);
    MemoryMgr::Free(id, all);
    EXPECT_EQ(Used(id), 0u);
  }
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_Success);
}

TEST(MemoryMgrTest, AKeptBlockServesOnlyTheAlignmentItHas) {
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 64 * 1024, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  // Blocks of 32 bytes lie 40 apart: of two neighbours one is on 16 bytes and one is not.
  void* a = MemoryMgr::Malloc(id, 32);
  void* b = MemoryMgr::Malloc(id, 32);
  ASSERT_TRUE(a && b);
  void* off = reinterpret_cast<uintptr_t>(a) % 16 ? a : b;
  void* on = off == a ? b : a;
  ASSERT_NE(reinterpret_cast<uintptr_t>(off) % 16, 0u);
  MemoryMgr::Free(id, off);
  void* aligned = MemoryMgr::Malign(id, 32, 16);
  ASSERT_NE(aligned, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 16, 0u);
  EXPECT_NE(aligned, off);
  EXPECT_EQ(MemoryMgr::Malloc(id, 32), off);  // a plain request of its size takes it
  for (void* p : {on, off, aligned}) MemoryMgr::Free(id, p);
  EXPECT_EQ(Used(id), 0u);
}

TEST(MemoryMgrTest, TlsfWalkAgreesWithTheCounts) {
  alignas(16) static uint8_t region[64 * 1024];
  Tlsf::Heap heap = Tlsf::Create(region, sizeof region);
  ASSERT_NE(heap, nullptr);
  std::vector<void*> blocks;
  for (int i = 0; i < 50; ++i) blocks.push_back(Tlsf::Malloc(heap, size_t(16 + i * 37)));
  for (size_t i = 0; i < blocks.size(); i += 2) Tlsf::Free(heap, blocks[i]);
  Tlsf::WalkTotals totals;
  ASSERT_TRUE(Tlsf::Walk(heap, &totals));
  EXPECT_EQ(totals.usedBlocks, 25u);
  for (size_t i = 1; i < blocks.size(); i += 2) Tlsf::Free(heap, blocks[i]);
  ASSERT_TRUE(Tlsf::Walk(heap, &totals));
  EXPECT_EQ(totals.usedBlocks, 0u);
  EXPECT_EQ(totals.freeBlocks, 1u);
  EXPECT_EQ(totals.freeBytes, sizeof region - Tlsf::kOverheadBytes);
}

TEST(MemoryMgrTest, FixedBlocksComeBackInReleaseOrder) {
  OrvTest::LogCapture log;
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 10 * 32, 32, SnMemPool_AllocHook | SnMemPool_FixedBlocks, 0);
  ASSERT_NE(id, kInvalidPoolId);
  std::vector<void*> blocks;
  for (void* b; (b = MemoryMgr::GetBlock(id));) blocks.push_back(b);
  ASSERT_EQ(blocks.size(), 10u);
  EXPECT_EQ(Used(id), 320u);
  MemoryMgr::ReleaseBlock(id, blocks[7]);
  MemoryMgr::ReleaseBlock(id, blocks[2]);
  EXPECT_EQ(MemoryMgr::GetBlock(id), blocks[7]);
  EXPECT_EQ(MemoryMgr::GetBlock(id), blocks[2]);
  EXPECT_EQ(MemoryMgr::GetBlock(id), nullptr);
  EXPECT_EQ(MemoryMgr::Malloc(id, 8), nullptr);  // not a heap
}

TEST(MemoryMgrTest, BadPoolIdsAreRefusedAndTheTableGoesBackThroughItsHook) {
  OrvTest::LogCapture log;
  {
    MemoryScope memory;
    const int allocsAfterInit = Counts().allocs;
    EXPECT_EQ(allocsAfterInit, 1);  // the pool table
    const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 65536, 64, SnMemPool_AllocHook, 0);
    void* p = MemoryMgr::Malloc(id, 64);
    ASSERT_NE(p, nullptr);
    for (SnMemPoolId bad : {-1, 5, 20, 1000}) {
      EXPECT_EQ(MemoryMgr::Malloc(bad, 16), nullptr);
      EXPECT_EQ(MemoryMgr::Free(bad, p), SN_InvalidPoolId);
      EXPECT_EQ(MemoryMgr::CheckPoolId(bad), SN_InvalidPoolId);
    }
    int outside = 0;
    EXPECT_EQ(MemoryMgr::Free(id, &outside), SN_Failure);
    EXPECT_NE(log.Take().find("invalid memory pool id"), std::string::npos);
    EXPECT_EQ(MemoryMgr::Free(id, p), SN_Success);
    EXPECT_EQ(Used(id), 0u);
    EXPECT_EQ(MemoryMgr::GetNumPools(), 1);
  }
  EXPECT_EQ(Counts().allocs, Counts().frees);
  EXPECT_FALSE(MemoryMgr::IsInitialized());
}

}  // namespace
