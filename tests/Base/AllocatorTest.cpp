// Paged pools (limits, layout, debug checks, ownership) and blob allocators (growth, reset, consolidate).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Base/BlobAllocator.h"
#include "Base/PBManager.h"
#include "Base/TraceLog.h"
#include "tests/Support/LogCapture.h"

namespace {

using namespace Base;

class AllocatorTest : public ::testing::Test {
 protected:
  std::string TakeLog() { return capture_.Take(); }
  OrvTest::LogCapture capture_;
};

// The configuration the game spaces use for their object and component pools.
PBManager::Config SpacePool() {
  PBManager::Config config;
  config.plainNew = false;
  config.objectsPerPage = 150;
  config.maxPages = 20;
  config.debug = false;
  config.padBytes = 4;
  config.headerKind = PBManager::Header_None;
  config.headerSize = 0;
  config.alignment = 4;
  return config;
}

PBManager::Config DebugPool(uint32_t headerKind = PBManager::Header_Basic) {
  PBManager::Config config;
  config.objectsPerPage = 4;
  config.maxPages = 2;
  config.debug = true;
  config.padBytes = 4;
  config.headerKind = headerKind;
  config.alignment = 8;
  return config;
}

bool Filled(const void* block, size_t size, uint8_t value) {
  const auto* bytes = static_cast<const uint8_t*>(block);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != value) return false;
  return true;
}

TEST_F(AllocatorTest, SpacePoolHoldsTwentyPagesOf150) {
  PBManager pool(64, SpacePool());
  std::vector<void*> blocks;
  std::set<void*> distinct;
  for (int i = 0; i < 3000; ++i) {
    void* block = pool.Allocate();
    ASSERT_NE(block, nullptr) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 0u);
    blocks.push_back(block);
    distinct.insert(block);
  }
  EXPECT_EQ(distinct.size(), 3000u);
  EXPECT_EQ(pool.GetPagesInUse(), 20u);
  EXPECT_EQ(TakeLog(), "");

  EXPECT_EQ(pool.Allocate(), nullptr);
  EXPECT_EQ(TakeLog(), "[ Error ][Base] Can't Allocate New Page: Max logical pages has been reached\n");
  EXPECT_EQ(pool.GetObjectsInUse(), 3000u);

  // Blocks are walked in the order they were handed out, whatever was freed in between.
  pool.Free(blocks[1]);
  pool.Free(blocks[2999]);
  EXPECT_EQ(pool.Allocate(), blocks[2999]);  // last freed, first reused
  std::vector<void*> walked = pool.GetBlocks();
  ASSERT_EQ(walked.size(), 2999u);
  EXPECT_EQ(walked[0], blocks[0]);
  EXPECT_EQ(walked[1], blocks[2]);
  EXPECT_EQ(walked.back(), blocks[2999]);

  // FreeAll goes newest first, so the oldest block ends on top of the free list.
  pool.FreeAll();
  EXPECT_EQ(pool.GetObjectsInUse(), 0u);
  EXPECT_TRUE(pool.GetBlocks().empty());
  EXPECT_EQ(pool.Allocate(), blocks[0]);
  pool.FreeAll();
  EXPECT_EQ(pool.GetDeallocations(), 3002u);
  EXPECT_EQ(pool.GetPeakObjectsInUse(), 3000u);
  EXPECT_EQ(TakeLog(), "");
}

// One page of a debug pool, block by block: the alignment, header, pad and object bytes sit exactly
// where the layout numbers put them, with nothing of the pool's own in between.
struct LayoutCase {
  uint32_t alignment, headerKind, pad, objectSize;
  uint32_t left, inter, first, stride, pageSize;
};

void ExpectPageLayout(const LayoutCase& c) {
  PBManager::Config config = DebugPool(c.headerKind);
  config.objectsPerPage = 4;
  config.padBytes = c.pad;
  config.alignment = c.alignment;
  PBManager pool(c.objectSize, config);
  EXPECT_EQ(pool.GetConfig().leftAlignmentBytes, c.left);
  EXPECT_EQ(pool.GetConfig().interAlignmentBytes, c.inter);
  EXPECT_EQ(pool.GetFirstObjectOffset(), c.first);
  EXPECT_EQ(pool.GetStride(), c.stride);
  EXPECT_EQ(pool.GetPageSize(), c.pageSize);

  std::vector<uint8_t*> blocks;
  for (int i = 0; i < 4; ++i) blocks.push_back(static_cast<uint8_t*>(pool.Allocate()));
  std::sort(blocks.begin(), blocks.end());
  const uint8_t* page = blocks[0] - c.first;
  const uint32_t header = pool.GetConfig().headerSize;
  EXPECT_TRUE(Filled(page + PBManager::kPageLinkSize, c.left, 0xEE));
  for (size_t i = 0; i < blocks.size(); ++i) {
    const uint8_t* block = blocks[i];
    EXPECT_EQ(block, page + c.first + i * c.stride);
    if (c.alignment > 1) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % c.alignment, 0u);
    }
    if (i > 0) {
      EXPECT_TRUE(Filled(block - c.pad - header - c.inter, c.inter, 0xEE));
    }
    EXPECT_TRUE(Filled(block - c.pad, c.pad, 0xDD));
    EXPECT_TRUE(Filled(block, c.objectSize, 0xBB));
    EXPECT_TRUE(Filled(block + c.objectSize, c.pad, 0xDD));
  }
  EXPECT_EQ(blocks.back() + c.objectSize + c.pad, page + c.pageSize);
  pool.FreeAll();
}

TEST_F(AllocatorTest, PageLayoutFollowsTheAlignmentFormula) {
  static_assert(PBManager::kPageLinkSize == 8 && PBManager::kExternalHeaderSize == 8, "numbers below are 64-bit");
  const uint32_t none = PBManager::Header_None, basic = PBManager::Header_Basic;
  const LayoutCase cases[] = {
      // A 32-byte block without header, pads or alignment takes 32 bytes.
      {0, none, 0, 32, 0, 0, 8, 32, 8 + 4 * 32},
      // Alignment 4, header 5, pad 4: left = 4 - (17 mod 4) = 3.
      {4, basic, 4, 32, 3, 3, 20, 48, 8 + 3 + 4 * 45 + 3 * 3},
      // Alignment 4, no header, no pad: zero remainders give full alignments.
      {4, none, 0, 32, 4, 4, 12, 36, 8 + 4 + 4 * 32 + 3 * 4},
      {8, basic, 4, 32, 7, 3, 24, 48, 8 + 7 + 4 * 45 + 3 * 3},
      {8, none, 0, 32, 8, 8, 16, 40, 8 + 8 + 4 * 32 + 3 * 8},
      // The game spaces' pools: pad 4, no header, alignment 8.
      {8, none, 4, 64, 4, 8, 16, 80, 8 + 4 + 4 * 72 + 3 * 8},
      {8, PBManager::Header_External, 3, 24, 5, 2, 24, 40, 8 + 5 + 4 * 38 + 3 * 2},
      {16, basic, 0, 40, 3, 3, 16, 48, 8 + 3 + 4 * 45 + 3 * 3},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "alignment " << c.alignment << ", header " << c.headerKind << ", pad "
                                    << c.pad << ", object " << c.objectSize);
    ExpectPageLayout(c);
  }
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(AllocatorTest, LayoutPlacesEveryBlockOnItsAlignment) {
  for (uint32_t alignment : {8u, 16u, 64u}) {
    PBManager::Config config = DebugPool(PBManager::Header_External);
    config.objectsPerPage = 5;
    config.padBytes = 3;
    config.alignment = alignment;
    PBManager pool(24, config);
    EXPECT_EQ(pool.GetStride() % alignment, 0u);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(reinterpret_cast<uintptr_t>(pool.Allocate()) % alignment, 0u) << alignment;
    pool.FreeAll();
  }
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(AllocatorTest, DebugPoolCatchesDoubleFreesOverrunsAndBadAddresses) {
  PBManager pool(32, DebugPool());
  auto* a = static_cast<uint8_t*>(pool.Allocate());
  auto* b = static_cast<uint8_t*>(pool.Allocate());
  EXPECT_TRUE(Filled(a, 32, 0xBB));
  EXPECT_TRUE(Filled(a - 4, 4, 0xDD));
  EXPECT_TRUE(Filled(a + 32, 4, 0xDD));

  pool.Free(a);
  // A freed block is poisoned under AddressSanitizer: its fill is looked at on purpose.
  UnpoisonRegion(a, 32);
  EXPECT_TRUE(Filled(a + sizeof(void*), 32 - sizeof(void*), 0xCC));  // the first word links the free list
  PoisonRegion(a, 32);
  const uint32_t inUse = pool.GetObjectsInUse(), freed = pool.GetDeallocations();
  pool.Free(a);
  EXPECT_EQ(TakeLog(), "[Warning][Base] Block has already been deallocated\n");
  EXPECT_EQ(pool.GetObjectsInUse(), inUse);
  EXPECT_EQ(pool.GetDeallocations(), freed);

  b[32] = 0;  // one byte past the block
  pool.Free(b);
  EXPECT_EQ(TakeLog(), "[ Error ][Base] Block is corrputed due to overflow/underflow\n");
  EXPECT_EQ(pool.GetObjectsInUse(), inUse);
  b[32] = 0xDD;
  b[-1] = 0;  // one byte before it
  pool.Free(b);
  EXPECT_EQ(TakeLog(), "[ Error ][Base] Block is corrputed due to overflow/underflow\n");
  b[-1] = 0xDD;

  // Aligned addresses that are not block starts, inside or outside every page, are refused too.
  alignas(16) static char outside[64];
  const char* const kBadAddress = "[Warning][Base] Block is improperly aligned or a bad address\n";
  for (void* bad : {static_cast<void*>(b + 1), static_cast<void*>(b + 8), static_cast<void*>(outside)}) {
    pool.Free(bad);
    EXPECT_EQ(TakeLog(), kBadAddress);
  }
  EXPECT_EQ(pool.GetObjectsInUse(), inUse);
  pool.Free(b);
  pool.Free(nullptr);
  EXPECT_EQ(pool.GetObjectsInUse(), 0u);
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(AllocatorTest, FastPoolRefusesForeignAddressesAndKeepsOrderAcrossMoves) {
  PBManager pool(64, SpacePool());
  PBManager other(64, SpacePool());
  void* a = pool.Allocate();
  void* b = pool.Allocate();
  void* c = pool.Allocate();
  void* foreign = other.Allocate();

  // A block of another pool and an address inside a block are refused; nothing moves.
  const char* const kBadAddress = "[Warning][Base] Block is improperly aligned or a bad address\n";
  pool.Free(foreign);
  EXPECT_EQ(TakeLog(), kBadAddress);
  pool.Free(static_cast<char*>(a) + 8);
  EXPECT_EQ(TakeLog(), kBadAddress);
  // Blocks go out from the end of the page down: the one below c was never handed out.
  pool.Free(static_cast<char*>(c) - pool.GetStride());
  EXPECT_EQ(TakeLog(), "[Warning][Base] Block has already been deallocated\n");
  EXPECT_EQ(pool.GetObjectsInUse(), 3u);
  EXPECT_EQ(other.GetObjectsInUse(), 1u);

  pool.Free(b);
  pool.Free(b);  // without debug checks the bookkeeping still refuses a second free
  EXPECT_EQ(TakeLog(), "[Warning][Base] Block has already been deallocated\n");
  EXPECT_EQ(pool.Allocate(), b);  // reused: the peak stays
  EXPECT_EQ(pool.GetPeakObjectsInUse(), 3u);
  void* d = pool.Allocate();  // never used before: a new peak
  EXPECT_EQ(pool.GetPeakObjectsInUse(), 4u);
  EXPECT_EQ(pool.GetFreeObjects(), 146u);

  // The order survives moves, also onto a pool that still holds blocks of its own.
  const std::vector<void*> order{a, c, b, d};
  PBManager moved(std::move(pool));
  EXPECT_EQ(moved.GetBlocks(), order);
  EXPECT_TRUE(pool.GetBlocks().empty());
  other = std::move(moved);
  EXPECT_EQ(TakeLog(), "[Warning][Base] Trying to destruct PBManager but memory still allocated.\n");
  EXPECT_EQ(other.GetBlocks(), order);
  other.FreeAll();
  EXPECT_EQ(other.GetObjectsInUse(), 0u);
  EXPECT_EQ(other.Allocate(), a);
  other.FreeAll();
  EXPECT_EQ(TakeLog(), "");
}

// Long runs of allocations and frees in random order over several pages, with and without debug: the
// walk keeps allocation order, the free list hands back the last freed block, and FreeAll empties it.
TEST_F(AllocatorTest, RandomUseKeepsTheWalkInAllocationOrder) {
  for (bool debug : {false, true}) {
    PBManager::Config config = SpacePool();
    config.objectsPerPage = 16;
    config.maxPages = 4;
    config.debug = debug;
    PBManager pool(24, config);
    std::mt19937 random(5);
    std::vector<void*> live;
    for (int step = 0; step < 20000; ++step) {
      if (live.size() < 64 && (live.empty() || random() % 2)) {
        live.push_back(pool.Allocate());
        ASSERT_NE(live.back(), nullptr);
      } else {
        const size_t index = random() % live.size();
        void* block = live[index];
        live.erase(live.begin() + index);
        pool.Free(block);
        if (step % 7 == 0) {
          pool.Free(block);  // refused, changes nothing
          EXPECT_EQ(TakeLog(), "[Warning][Base] Block has already been deallocated\n");
          live.push_back(pool.Allocate());
          EXPECT_EQ(live.back(), block);
        }
      }
      if (step % 1000 == 0) {
        ASSERT_EQ(pool.GetBlocks(), live) << step;
      }
    }
    EXPECT_EQ(pool.GetBlocks(), live);
    EXPECT_EQ(pool.GetObjectsInUse(), live.size());
    pool.FreeAll();
    EXPECT_TRUE(pool.GetBlocks().empty());
    EXPECT_EQ(pool.Allocate(), live.front());  // freed last
    pool.FreeAll();
  }
  EXPECT_EQ(TakeLog(), "");
}

// The label records live outside the pages: the sanitizer checks they are released with their blocks.
TEST_F(AllocatorTest, ExternalHeadersKeepLabelsUntilFreedOrDestroyed) {
  {
    PBManager pool(16, DebugPool(PBManager::Header_External));
    pool.Free(pool.Allocate("Transform"));
    pool.Allocate(nullptr);
    pool.Allocate("still here at exit");  // its record is released by the destructor
  }
  EXPECT_EQ(TakeLog(), "[Warning][Base] Trying to destruct PBManager but memory still allocated.\n");
}

TEST_F(AllocatorTest, PoolsAreMoveOnlyAndReinitWithoutLeaking) {
  static_assert(!std::is_copy_constructible_v<PBManager> && !std::is_copy_assignable_v<PBManager>);
  PBManager first(32, DebugPool());
  void* block = first.Allocate();

  PBManager second(std::move(first));
  EXPECT_EQ(second.GetObjectsInUse(), 1u);
  EXPECT_EQ(first.Allocate(), nullptr);  // the moved-from pool has no pages and no page allowance
  EXPECT_EQ(TakeLog(), "[ Error ][Base] Can't Allocate New Page: Max logical pages has been reached\n");
  second.Free(block);

  // Init on a pool that owns pages releases them first and starts over with the new layout.
  const uint32_t allocations = second.GetAllocations();
  second.Init(100, SpacePool());
  EXPECT_EQ(second.GetPagesInUse(), 1u);
  EXPECT_EQ(second.GetFreeObjects(), 150u);
  EXPECT_EQ(second.GetObjectSize(), 100u);
  EXPECT_EQ(second.GetAllocations(), allocations);
  EXPECT_NE(second.Allocate(), nullptr);
  second.FreeAll();

  PBManager::Config plain = DebugPool();
  plain.plainNew = true;
  PBManager heap(48, plain);
  EXPECT_EQ(heap.GetPagesInUse(), 0u);
  void* fromHeap = heap.Allocate();
  ASSERT_NE(fromHeap, nullptr);
  EXPECT_EQ(heap.GetObjectsInUse(), 1u);
  heap.Free(fromHeap);
  EXPECT_EQ(heap.GetObjectsInUse(), 0u);
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(AllocatorTest, BlobsGrowResetAndConsolidate) {
  BlobAllocator blobs(64);
  EXPECT_EQ(blobs.GetBlobCount(), 0u);
  void* first = blobs.Allocate(40);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % BlobAllocator::kDefaultAlignment, 0u);
  auto* packed = static_cast<char*>(blobs.Allocate(3, 1));
  EXPECT_EQ(packed, static_cast<char*>(first) + 40);
  EXPECT_EQ(blobs.GetBlobCount(), 1u);

  // A request above the blob size raises it; the new block comes from a new blob.
  void* big = blobs.Allocate(100);
  EXPECT_EQ(blobs.GetBlobSize(), 100u);
  EXPECT_EQ(blobs.GetBlobCount(), 2u);
  EXPECT_EQ(blobs.GetTotalCapacity(), 164u);
  std::memset(big, 0x5A, 100);

  // After a reset the same requests reuse the blobs already held.
  blobs.Reset();
  EXPECT_EQ(blobs.GetBytesUsed(), 0u);
  EXPECT_EQ(blobs.Allocate(40), first);
  blobs.Allocate(3, 1);
  EXPECT_EQ(blobs.Allocate(100), big);
  EXPECT_EQ(blobs.GetBlobCount(), 2u);

  // Consolidate folds them into one blob that serves the whole round.
  blobs.Reset();
  blobs.Consolidate();
  EXPECT_EQ(blobs.GetBlobCount(), 1u);
  EXPECT_EQ(blobs.GetBlobSize(), 164u);
  blobs.Allocate(40);
  blobs.Allocate(3, 1);
  blobs.Allocate(100);
  EXPECT_EQ(blobs.GetBlobCount(), 1u);
  blobs.Consolidate();  // one blob already: nothing to do
  EXPECT_EQ(blobs.GetBlobCount(), 1u);

  BlobAllocator& global = GlobalBlobAllocator();
  EXPECT_EQ(&global, &GlobalBlobAllocator());
  EXPECT_GE(global.GetBlobCount(), 1u);
  EXPECT_EQ(TakeLog(), "");
}

// Under AddressSanitizer a block is addressable only while handed out: never handed out, freed, or
// freed and handed out again, in fast and debug pools alike; a read of a freed block is reported.
TEST_F(AllocatorTest, BlocksAreAddressableOnlyWhileHandedOut) {
#ifndef ORV_POOL_POISONING
  GTEST_SKIP() << "pools are poisoned only under AddressSanitizer";
#else
  for (const PBManager::Config& config : {SpacePool(), DebugPool()}) {
    PBManager pool(40, config);
    auto* a = static_cast<char*>(pool.Allocate());
    auto* b = static_cast<char*>(pool.Allocate());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(__asan_region_is_poisoned(a, 40), nullptr);
    EXPECT_EQ(__asan_region_is_poisoned(b, 40), nullptr);
    pool.Free(a);
    EXPECT_TRUE(__asan_address_is_poisoned(a));
    EXPECT_TRUE(__asan_address_is_poisoned(a + 20));  // a last granule shared with the pad stays addressable
    EXPECT_EQ(pool.Allocate(), a);
    EXPECT_EQ(__asan_region_is_poisoned(a, 40), nullptr);
    pool.Free(a);
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH((void)*static_cast<volatile char*>(a + 16), "AddressSanitizer: use-after-poison");
    GTEST_FLAG_SET(death_test_style, style);
    pool.Free(b);
  }
#endif
}

}  // namespace
