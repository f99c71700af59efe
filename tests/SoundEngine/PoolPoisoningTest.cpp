// Pool memory under AddressSanitizer: what no object owns (freed and kept heap blocks, the headers
// between blocks, free fixed blocks, kept runs' free blocks, a pooled list's free items) is
// unaddressable, what is handed out is addressable byte for byte, and a read of a freed block is
// reported. Without AddressSanitizer there is nothing to see and the cases are skipped.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "Base/PoisonRegion.h"
#include "SoundEngine/Containers.h"
#include "SoundEngine/Lower/KeptBlocks.h"
#include "SoundTestSupport.h"

#ifdef ORV_POOL_POISONING
#define SKIP_WITHOUT_POISONING() (void)0
#else
#define SKIP_WITHOUT_POISONING() GTEST_SKIP() << "pools are poisoned only under AddressSanitizer"
#endif

namespace {

using namespace SN;
using SoundTest::MemoryScope;

bool Poisoned(const void* at) {
#ifdef ORV_POOL_POISONING
  return __asan_address_is_poisoned(at) != 0;
#else
  (void)at;
  return false;
#endif
}
// Whether every byte of [at, at + bytes) may be used.
bool Addressable(const void* at, size_t bytes) {
#ifdef ORV_POOL_POISONING
  return __asan_region_is_poisoned(const_cast<void*>(at), bytes) == nullptr;
#else
  (void)at, (void)bytes;
  return true;
#endif
}

char ReadOne(const void* at) { return *static_cast<const volatile char*>(at); }

// Death tests fork a process that has the pools' threads of its parent: the thread-safe style.
class DeathStyle {
 public:
  DeathStyle() : style_(GTEST_FLAG_GET(death_test_style)) { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  ~DeathStyle() { GTEST_FLAG_SET(death_test_style, style_); }

 private:
  std::string style_;
};

TEST(PoolPoisoningTest, HeapBlocksAreAddressableOnlyWhileHandedOut) {
  SKIP_WITHOUT_POISONING();
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  // Small (kept for reuse when freed) and large (straight back to the heap) blocks, odd sizes too.
  for (size_t size : {size_t(13), size_t(40), size_t(100), size_t(30000)}) {
    auto* a = static_cast<char*>(MemoryMgr::Malloc(id, size));
    auto* b = static_cast<char*>(MemoryMgr::Malloc(id, size));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(Addressable(a, size)) << size;
    EXPECT_TRUE(Addressable(b, size)) << size;
    // The header before each block is a red zone.
    EXPECT_TRUE(Poisoned(a - 1)) << size;
    EXPECT_TRUE(Poisoned(b - 1)) << size;
    ASSERT_EQ(MemoryMgr::Free(id, a), SN_Success);
    EXPECT_TRUE(Poisoned(a)) << size;
    EXPECT_TRUE(Poisoned(a + size - 1)) << size;
    EXPECT_TRUE(Addressable(b, size)) << size;
    // The same size again gets a block as addressable as a new one.
    auto* c = static_cast<char*>(MemoryMgr::Malloc(id, size));
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(Addressable(c, size)) << size;
    MemoryMgr::Free(id, b);
    MemoryMgr::Free(id, c);
  }
  // An aligned block, and the pool's memory unpoisoned again when the pool goes.
  auto* aligned = static_cast<char*>(MemoryMgr::Malign(id, 200, 64));
  ASSERT_NE(aligned, nullptr);
  EXPECT_TRUE(Addressable(aligned, 200));
  EXPECT_EQ(MemoryMgr::DestroyPool(id), SN_Success);
}

TEST(PoolPoisoningTest, CallerMemoryIsTheCallersAgainWhenThePoolGoes) {
  SKIP_WITHOUT_POISONING();
  MemoryScope memory;
  std::vector<char> bytes(1 << 16);
  const SnMemPoolId heap = MemoryMgr::CreatePool(bytes.data(), uint32_t(bytes.size()), 64, SnMemPool_CallerMemory, 0);
  ASSERT_NE(heap, kInvalidPoolId);
  EXPECT_TRUE(Poisoned(bytes.data() + bytes.size() / 2));
  ASSERT_EQ(MemoryMgr::DestroyPool(heap), SN_Success);
  EXPECT_TRUE(Addressable(bytes.data(), bytes.size()));
}

TEST(PoolPoisoningTest, FixedBlocksAreAddressableOnlyWhileHandedOut) {
  SKIP_WITHOUT_POISONING();
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 64 * 4, 64, SnMemPool_AllocHook | SnMemPool_FixedBlocks, 16);
  ASSERT_NE(id, kInvalidPoolId);
  char* a = static_cast<char*>(MemoryMgr::GetBlock(id));
  char* b = static_cast<char*>(MemoryMgr::GetBlock(id));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(Addressable(a, 64));
  EXPECT_TRUE(Addressable(b, 64));
  EXPECT_TRUE(Poisoned(b + 64));  // the next free block
  ASSERT_EQ(MemoryMgr::ReleaseBlock(id, a), SN_Success);
  EXPECT_TRUE(Poisoned(a));
  EXPECT_TRUE(Poisoned(a + 63));
  // The free list runs through the poisoned blocks and still hands them out in release order.
  char* c = static_cast<char*>(MemoryMgr::GetBlock(id));
  char* d = static_cast<char*>(MemoryMgr::GetBlock(id));
  char* e = static_cast<char*>(MemoryMgr::GetBlock(id));
  EXPECT_EQ(e, a);
  for (char* block : {c, d, e}) EXPECT_TRUE(Addressable(block, 64));
  EXPECT_EQ(MemoryMgr::GetBlock(id), nullptr);
}

TEST(PoolPoisoningTest, KeptRunsAndPooledItemsPoisonTheirFreeBlocks) {
  SKIP_WITHOUT_POISONING();
  MemoryScope memory;
  static SnMemPoolId pool = kInvalidPoolId;
  pool = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(pool, kInvalidPoolId);
  // 40-byte objects on a 48-byte stride: 8 bytes of red zone after each.
  static CSnKeptBlocks kind(40, 16, pool);
  CSnKeptBlocks::BeginKeeping();
  auto* a = static_cast<char*>(kind.Take());
  auto* b = static_cast<char*>(kind.Take());
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(Addressable(a, 40));
  EXPECT_TRUE(Poisoned(a + 40));
  EXPECT_TRUE(Poisoned(b + 48));  // a free block of the run
  kind.Keep(a);
  EXPECT_TRUE(Poisoned(a));
  EXPECT_EQ(kind.Take(), a);
  EXPECT_TRUE(Addressable(a, 40));
  kind.Keep(a);
  kind.Keep(b);
  CSnKeptBlocks::EndKeeping();

  {
    SnPooledList<uint64_t> list;
    ASSERT_TRUE(list.Init(4, SnPooledList<uint64_t>::kUnlimited, pool));
    auto* first = list.Append(1);
    auto* second = list.Append(2);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(Addressable(first, sizeof *first));
    EXPECT_TRUE(Poisoned(second + 1));  // a preallocated item not handed out
    list.Remove(nullptr, first);
    EXPECT_TRUE(Poisoned(first));
    EXPECT_EQ(list.Append(3), first);
    EXPECT_EQ(first->payload, 3u);
  }
  MemoryMgr::DestroyPool(pool);
  pool = kInvalidPoolId;
}

TEST(PoolPoisoningTest, AReadOfAFreedPoolBlockIsReported) {
  SKIP_WITHOUT_POISONING();
  MemoryScope memory;
  const SnMemPoolId id = MemoryMgr::CreatePool(nullptr, 1 << 20, 64, SnMemPool_AllocHook, 0);
  ASSERT_NE(id, kInvalidPoolId);
  auto* block = static_cast<char*>(MemoryMgr::Malloc(id, 64));
  ASSERT_NE(block, nullptr);
  block[0] = 1;
  MemoryMgr::Free(id, block);
  DeathStyle style;
  EXPECT_DEATH(ReadOne(block + 8), "AddressSanitizer: use-after-poison");
  // An overflow past a live block into the next one's header is reported the same way.
  auto* live = static_cast<char*>(MemoryMgr::Malloc(id, 64));
  auto* next = static_cast<char*>(MemoryMgr::Malloc(id, 64));
  ASSERT_TRUE(live && next);
  EXPECT_DEATH(ReadOne(live + 64), "AddressSanitizer: use-after-poison");
}

}  // namespace
