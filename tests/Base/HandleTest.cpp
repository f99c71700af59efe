// Handle table: slot reuse with generations, refusal of stale and foreign handles, exhaustion, hashing.
#include "Base/Handle.h"

#include <gtest/gtest.h>

#include "tests/Support/LogCapture.h"

#include <memory>
#include <string>

#include "Base/TraceLog.h"

namespace {

using namespace Base;

class HandleTest : public ::testing::Test {
 protected:
  std::string TakeLog() { return capture_.Take(); }

  OrvTest::LogCapture capture_;

  // The table is large (one per game space); keep it off the stack.
  std::unique_ptr<HandleManager> table_ = std::make_unique<HandleManager>();
  int objects_[8] = {};
};

const char* const kInvalidRemove = "[Warning][General] Attempted to remove invalid handle!\n";

TEST_F(HandleTest, SlotsAreHandedOutInOrderAndReusedWithANewGeneration) {
  Handle handles[8];
  for (int i = 0; i < 8; ++i) handles[i] = table_->Add(&objects_[i]);
  EXPECT_EQ(handles[0], 0x00000000u);
  EXPECT_EQ(handles[7], 0x00000007u);
  EXPECT_EQ(table_->Resolve(handles[3]), &objects_[3]);
  EXPECT_EQ(ResolveHandle<int>(*table_, handles[4]), &objects_[4]);

  table_->Remove(handles[5]);
  EXPECT_EQ(table_->Resolve(handles[5]), nullptr);
  const Handle reused = table_->Add(&objects_[0]);
  EXPECT_EQ(reused, MakeHandle(5, 1));
  EXPECT_EQ(table_->Resolve(reused), &objects_[0]);
  EXPECT_EQ(table_->Resolve(handles[5]), nullptr);

  // Last released, first reused.
  table_->Remove(handles[2]);
  table_->Remove(handles[3]);
  EXPECT_EQ(HandleIndex(table_->Add(nullptr)), 3);
  EXPECT_EQ(HandleIndex(table_->Add(nullptr)), 2);
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(HandleTest, StaleForeignAndNullHandlesChangeNothing) {
  const Handle old = table_->Add(&objects_[0]);
  table_->Remove(old);
  const Handle current = table_->Add(&objects_[1]);
  ASSERT_EQ(HandleIndex(current), HandleIndex(old));
  const uint32_t freeCount = table_->GetFreeCount();

  // A stale handle must not release the slot's new occupant.
  table_->Remove(old);
  EXPECT_EQ(TakeLog(), kInvalidRemove);
  EXPECT_EQ(table_->Resolve(current), &objects_[1]);

  table_->Remove(current);
  table_->Remove(current);
  EXPECT_EQ(TakeLog(), kInvalidRemove);

  for (Handle bad : {kNullHandle, MakeHandle(HandleManager::kSlotCount, 0), MakeHandle(0xFFFE, 1)}) {
    EXPECT_EQ(table_->Resolve(bad), nullptr);
    table_->Remove(bad);
    EXPECT_EQ(TakeLog(), kInvalidRemove);
  }
  EXPECT_EQ(table_->GetFreeCount(), freeCount + 1);
}

TEST_F(HandleTest, TheLastSlotIsNeverHandedOut) {
  for (uint32_t i = 0; i < HandleManager::kUsableSlots; ++i) ASSERT_EQ(table_->Add(&objects_[0]), i);
  EXPECT_EQ(TakeLog(), "");
  EXPECT_EQ(table_->Add(&objects_[1]), kNullHandle);
  EXPECT_EQ(TakeLog(), "[ Error ][General] Handle Manager has run out of slots!\n");

  table_->Remove(100);
  EXPECT_EQ(table_->Add(&objects_[2]), MakeHandle(100, 1));
}

TEST_F(HandleTest, GenerationWrapsAfter65536Releases) {
  Handle handle = table_->Add(&objects_[0]);
  for (uint32_t i = 1; i < 65536; ++i) {
    table_->Remove(handle);
    handle = table_->Add(&objects_[0]);
  }
  EXPECT_EQ(handle, MakeHandle(0, 0xFFFF));
  EXPECT_NE(handle, kNullHandle);
  EXPECT_EQ(table_->Resolve(handle), &objects_[0]);
  table_->Remove(handle);
  EXPECT_EQ(table_->Add(&objects_[1]), 0x00000000u);
}

TEST(MurmurHash2Test, MatchesVectorsWorkedFromTheAlgorithm) {
  EXPECT_EQ(MurmurHash2(nullptr, 4, 0), 0u);
  EXPECT_EQ(MurmurHash2("abc", 0, 7), 0u);
  // One to three tail bytes, one whole block, a seed, and bytes above 0x7F (read unsigned).
  EXPECT_EQ(MurmurHash2("a", 1, 0), 0x92685F5Eu);
  EXPECT_EQ(MurmurHash2("ab", 2, 0), 0x1AA14063u);
  EXPECT_EQ(MurmurHash2("abc", 3, 0), 0x13577C9Bu);
  EXPECT_EQ(MurmurHash2("abcd", 4, 0), 0x26873021u);
  EXPECT_EQ(MurmurHash2("abcd", 4, 0x9747B28Cu), 0xB11AB5F4u);
  EXPECT_EQ(MurmurHash2("\xFF\xFE\x80", 3, 0), 0xA30EFE85u);
  // Names are hashed with their terminating zero.
  EXPECT_EQ(HashName("Hello"), 0x65EC8AEDu);
  EXPECT_EQ(HashName("Root"), 0xD4E3447Fu);
  EXPECT_NE(HashName("Bone_01"), HashName("Bone_02"));
}

}  // namespace
