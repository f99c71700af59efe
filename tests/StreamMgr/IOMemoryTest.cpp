// The I/O memory of a device: buddy blocks and the stream cache, driven through the memory itself;
// under AddressSanitizer, which of its bytes a caller may touch.
#include <gtest/gtest.h>

#include <cstring>

#include "Base/PoisonRegion.h"
#include "StreamMgr/IOMemory.h"
#include "tests/StreamMgr/StreamTestSupport.h"

namespace {

using namespace SN;

class IOMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SnStreamMgrSettings settings;
    StreamMgr::GetDefaultSettings(settings);
    ASSERT_NE(StreamMgr::Create(settings), nullptr);
    StreamMgr::GetDefaultDeviceSettings(device_);
  }
  void TearDown() override {
    memory_.Term();
    ISnStreamMgr::m_pStreamMgr->Destroy();
  }
  StreamTest::StreamMemory pools_;
  SnDeviceSettings device_{};
  CSnIOMemoryManager memory_;
};

TEST_F(IOMemoryTest, DefaultsGiveOneHundredTwentyEightBlocksOfTheLargestOrder) {
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  const CSnBuddyAllocator& buddy = memory_.Allocator();
  EXPECT_EQ(buddy.SmallestBlock(), 512u);  // the settings' 4 is raised
  EXPECT_EQ(buddy.LargestBlock(), 16384u);
  EXPECT_EQ(buddy.FreeCount(buddy.Orders() - 1), 128u);
}

TEST_F(IOMemoryTest, AlignmentAndGranularityShapeTheOrders) {
  device_.ioMemoryAlignment = 4096;
  device_.granularity = 20000;
  device_.ioMemorySize = 100000;
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  EXPECT_EQ(memory_.Allocator().SmallestBlock(), 4096u);
  EXPECT_EQ(memory_.Allocator().LargestBlock(), 32768u);
  EXPECT_EQ(memory_.Allocator().UsableSize(), 98304u);  // 100000 / 20000 blocks, rounded to 32768
}

TEST_F(IOMemoryTest, BuddiesMergeInEitherOrderAndOddSizesKeepTheRegionWhole) {
  device_.granularity = 20000;
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  const CSnBuddyAllocator& buddy = memory_.Allocator();
  const uint32_t usable = buddy.UsableSize();
  const uint32_t top = buddy.Orders() - 1;
  const uint32_t topFree = buddy.FreeCount(top);
  for (bool reversed : {false, true}) {
    SnIOBlock* a = memory_.AcquireTransferBlock(8000, 0);
    SnIOBlock* b = memory_.AcquireTransferBlock(8000, 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(buddy.FreeBytes() + memory_.BytesHandedOut(), usable);
    memory_.ReleaseBlock(reversed ? b : a);
    memory_.ReleaseBlock(reversed ? a : b);
    EXPECT_EQ(buddy.FreeCount(top), topFree);
    EXPECT_EQ(memory_.BytesHandedOut(), 0u);
  }
  SnIOBlock* odd = memory_.AcquireTransferBlock(20000, 20000);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(buddy.FreeBytes() + memory_.BytesHandedOut(), usable);
  memory_.ReleaseBlock(odd);
  EXPECT_EQ(buddy.FreeCount(top), topFree);
}

TEST_F(IOMemoryTest, ExhaustedMemoryRecyclesCachedBlocksBeforeGivingUp) {
  device_.ioMemorySize = 4 * 16384;
  device_.useStreamCache = true;
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  SnIOBlock* blocks[4];
  for (int i = 0; i < 4; ++i) {
    blocks[i] = memory_.AcquireTransferBlock(16384, 16384);
    ASSERT_NE(blocks[i], nullptr);
  }
  EXPECT_EQ(memory_.AcquireTransferBlock(16384, 16384), nullptr);
  blocks[0]->cacheId = 7;
  blocks[0]->filePosition = 0;
  blocks[0]->dataSize = 16384;
  memory_.InsertCache(blocks[0]);
  memory_.ReleaseBlock(blocks[0]);
  EXPECT_EQ(memory_.ReleasedCachedBytes(), 16384u);
  // Still cached: a read of the same bytes finds it.
  SnIOBlock* hit = memory_.LookupCache(7, 0, 16384);
  ASSERT_EQ(hit, blocks[0]);
  memory_.ReleaseBlock(hit);
  // A new transfer takes the oldest released cached block.
  SnIOBlock* recycled = memory_.AcquireTransferBlock(16384, 16384);
  EXPECT_EQ(recycled, blocks[0]);
  EXPECT_EQ(memory_.LookupCache(7, 0, 16384), nullptr);
  memory_.ReleaseBlock(recycled);
  for (int i = 1; i < 4; ++i) memory_.ReleaseBlock(blocks[i]);
  EXPECT_EQ(memory_.BytesHandedOut(), 0u);
}

TEST_F(IOMemoryTest, FlushDropsReleasedCachedDataOnlyWithTheCacheOn) {
  for (bool cache : {false, true}) {
    device_.useStreamCache = cache;
    ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
    SnIOBlock* block = memory_.AcquireTransferBlock(16384, 16384);
    block->cacheId = 3;
    memory_.InsertCache(block);
    memory_.ReleaseBlock(block);
    memory_.Flush();
    EXPECT_EQ(memory_.CacheCount(), 0u);
    EXPECT_EQ(memory_.BytesHandedOut(), 0u);
    memory_.Term();
  }
}

TEST_F(IOMemoryTest, NoMemoryAskedIsNoFailureButSomeMemoryWithoutAPoolIs) {
  device_.ioMemorySize = 0;
  EXPECT_EQ(memory_.Init(device_, nullptr), SN_Success);
  EXPECT_FALSE(memory_.HasMemory());
  memory_.Term();
  device_.ioMemorySize = 16384;
  device_.poolAttributes = SnMemPool_CallerMemory;  // and no caller memory
  EXPECT_EQ(memory_.Init(device_, nullptr), SN_Failure);
}

#ifdef ORV_POOL_POISONING
bool Poisoned(const void* at) { return __asan_address_is_poisoned(at) != 0; }
bool Addressable(const void* at, size_t bytes) { return !__asan_region_is_poisoned(const_cast<void*>(at), bytes); }

TEST_F(IOMemoryTest, OnlyTheBytesOfBlocksInUseAreAddressableAndCachedDataSurvivesItsRelease) {
  // 3 granules of 20000 bytes: one largest block of 32768 is usable, the rest of the region never is.
  device_.granularity = 20000;
  device_.ioMemorySize = 60000;
  device_.useStreamCache = true;
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  SnIOBlock* block = memory_.AcquireTransferBlock(20000, 20000);
  ASSERT_NE(block, nullptr);
  uint8_t* base = block->address;
  EXPECT_TRUE(Addressable(base, 20000));
  EXPECT_TRUE(Poisoned(base + 20000));  // up to the next smallest block: a red zone
  EXPECT_TRUE(Poisoned(base + 20480));  // free
  EXPECT_TRUE(Poisoned(base + 40000));  // beyond the usable size
  EXPECT_EQ(memory_.AcquireTransferBlock(20000, 20000), nullptr);

  const std::vector<uint8_t> data = StreamTest::Pattern(20000, 9);
  memcpy(base, data.data(), data.size());
  block->cacheId = 5;
  block->filePosition = 0;
  block->dataSize = 20000;
  memory_.InsertCache(block);
  memory_.ReleaseBlock(block);
  EXPECT_TRUE(Poisoned(base) && Poisoned(base + 19999));
  SnIOBlock* hit = memory_.LookupCache(5, 0, 20000);
  ASSERT_EQ(hit, block);
  ASSERT_TRUE(Addressable(base, 20000));
  EXPECT_EQ(memcmp(base, data.data(), data.size()), 0);
  memory_.ReleaseBlock(hit);

  // With no memory left the released cached block is taken again whole.
  SnIOBlock* recycled = memory_.AcquireTransferBlock(20000, 20000);
  ASSERT_EQ(recycled, block);
  EXPECT_TRUE(Addressable(base, 20000));
  memory_.ReleaseBlock(recycled);  // no longer cached: free
  EXPECT_TRUE(Poisoned(base) && Poisoned(base + 10000));
  EXPECT_TRUE(Poisoned(&recycled->filePosition));  // a spare record
}

TEST_F(IOMemoryTest, AReadOfAReleasedIOBlockIsReported) {
  ASSERT_EQ(memory_.Init(device_, nullptr), SN_Success);
  SnIOBlock* block = memory_.AcquireTransferBlock(16384, 16384);
  ASSERT_NE(block, nullptr);
  uint8_t* address = block->address;
  memory_.ReleaseBlock(block);
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH((void)*static_cast<volatile uint8_t*>(address + 100), "AddressSanitizer: use-after-poison");
  GTEST_FLAG_SET(death_test_style, style);
}
#endif

}  // namespace
