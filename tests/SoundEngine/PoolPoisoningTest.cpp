// Pool memory under AddressSanitizer: only what is handed out is addressable (heap blocks, fixed
// blocks, kept runs' blocks, pooled list items), and a read of a freed block is reported.
#include <gtest/gtest.h>

#include <vector>

#include "Base/PoisonRegion.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/Voices/KeptBlocks.h"
#include "SoundTestSupport.h"

#ifdef ORV_POOL_POISONING
namespace {

using namespace SN;
using SoundTest::MemoryScope;

bool Poisoned(const void* at) { return __asan_address_is_poisoned(at) != 0; }
bool Addressable(const void* at, size_t bytes) { return !__asan_region_is_poisoned(const_cast<void*>(at), bytes); }

TEST(PoolPoisoningTest, HeapBlocksAreAddressableOnlyWhileHandedOut) {
  MemoryScope memory;
  std::vector<char> caller(1 << 16);
  const SnMemPoolId callers = MemoryMgr::CreatePool(caller.data(), uint32_t(caller.size()), 64, SnMemPool_CallerMemory, 0);
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_TRUE(callers != kInvalidPoolId && id != kInvalidPoolId);
  // Kept small sizes and a large one that goes straight back to the heap.
  for (size_t size : {size_t(13), size_t(100), size_t(30000)}) {
    auto* a = static_cast<char*>(MemoryMgr::Malloc(id, size));
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(Addressable(a, size)) << size;
    EXPECT_TRUE(Poisoned(a - 1)) << size;  // the header before it: a red zone
    MemoryMgr::Free(id, a);
    EXPECT_TRUE(Poisoned(a) && Poisoned(a + size / 2)) << size;
    auto* again = static_cast<char*>(MemoryMgr::Malloc(id, size));
    EXPECT_TRUE(Addressable(again, size)) << size;
    MemoryMgr::Free(id, again);
  }
  // The caller's memory is the caller's again once its pool goes.
  EXPECT_TRUE(Poisoned(caller.data() + caller.size() / 2));
  MemoryMgr::DestroyPool(callers);
  EXPECT_TRUE(Addressable(caller.data(), caller.size()));
}

TEST(PoolPoisoningTest, FixedBlocksKeptRunsAndPooledItemsAreAddressableOnlyWhileHandedOut) {
  MemoryScope memory;
  const SnMemPoolId fixed = MemoryMgr::CreatePool(nullptr, 64 * 4, 64, SnMemPool_AllocHook | SnMemPool_FixedBlocks, 16);
  static SnMemPoolId pool = kInvalidPoolId;
  pool = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_TRUE(fixed != kInvalidPoolId && pool != kInvalidPoolId);
  auto* block = static_cast<char*>(MemoryMgr::GetBlock(fixed));
  EXPECT_TRUE(Addressable(block, 64));
  EXPECT_TRUE(Poisoned(block + 64));  // the next, free
  MemoryMgr::ReleaseBlock(fixed, block);
  EXPECT_TRUE(Poisoned(block));

  // 40-byte objects on a 48-byte stride: 8 bytes of red zone after each.
  static CSnKeptBlocks kind(40, 16, pool);
  CSnKeptBlocks::BeginKeeping();
  auto* kept = static_cast<char*>(kind.Take());
  EXPECT_TRUE(Addressable(kept, 40));
  EXPECT_TRUE(Poisoned(kept + 40));
  kind.Keep(kept);
  EXPECT_TRUE(Poisoned(kept));
  CSnKeptBlocks::EndKeeping();

  SnPooledList<uint64_t> list;
  ASSERT_TRUE(list.Init(4, SnPooledList<uint64_t>::kUnlimited, pool));
  auto* first = list.Append(1);
  EXPECT_TRUE(Addressable(first, sizeof *first));
  EXPECT_TRUE(Poisoned(first + 1));  // a preallocated item not handed out
  list.Remove(nullptr, first);
  EXPECT_TRUE(Poisoned(first));
  EXPECT_EQ(list.Append(3), first);
  EXPECT_EQ(first->payload, 3u);
  list.Term();
  MemoryMgr::DestroyPool(pool);
  pool = kInvalidPoolId;
}

TEST(PoolPoisoningTest, AReadOfAFreedPoolBlockIsReported) {
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  auto* block = static_cast<char*>(MemoryMgr::Malloc(id, 64));
  ASSERT_NE(block, nullptr);
  MemoryMgr::Free(id, block);
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH((void)*static_cast<volatile char*>(block + 8), "AddressSanitizer: use-after-poison");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
#endif
