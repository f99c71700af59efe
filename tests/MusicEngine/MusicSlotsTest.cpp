// The room a music context keeps for its small records: records fit there first and the pool takes
// the rest, every record is made and destroyed exactly once, and a freed place is taken again.
#include <vector>

#include "MusicEngine/MusicSlots.h"
#include "tests/MusicEngine/MusicTestSupport.h"

namespace {

struct Record {
  Record(int v, int* alive) : value(v), m_alive(alive) { ++*m_alive; }
  ~Record() { --*m_alive; }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  int64_t value;
  int* m_alive;
};

class MusicSlotsTest : public MusicTest::MusicFixture {
 protected:
  static uint32_t PoolUsed() {
    SN::MemoryMgr::PoolStats stats;
    EXPECT_EQ(SN::MemoryMgr::GetPoolStats(SN::g_DefaultPoolId, stats), SN::SN_Success);
    return stats.usedBytes;
  }
};

TEST_F(MusicSlotsTest, RecordsPastTheRoomComeFromThePoolAndEachIsDestroyedOnce) {
  int alive = 0;
  const uint32_t before = PoolUsed();
  {
    SN::SnMusicSlots<Record, 2> room;
    std::vector<Record*> records;
    records.push_back(room.New(10, &alive));
    records.push_back(room.New(11, &alive));
    EXPECT_EQ(PoolUsed(), before) << "the first two live in the room";
    records.push_back(room.New(12, &alive));
    records.push_back(room.New(13, &alive));
    EXPECT_GT(PoolUsed(), before);
    ASSERT_EQ(alive, 4);
    for (int i = 0; i < 4; ++i) {
      ASSERT_NE(records[i], nullptr);
      EXPECT_EQ(records[i]->value, 10 + i);
    }
    // Freed out of order, room and pool mixed: the others keep their values.
    room.Delete(records[2]);
    room.Delete(records[0]);
    EXPECT_EQ(alive, 2);
    EXPECT_EQ(records[1]->value, 11);
    EXPECT_EQ(records[3]->value, 13);
    room.Delete(records[3]);
    room.Delete(records[1]);
    room.Delete(nullptr);
  }
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(PoolUsed(), before);
}

TEST_F(MusicSlotsTest, AFreedPlaceIsTakenAgainBeforeThePool) {
  int alive = 0;
  SN::SnMusicSlots<Record, 3> room;
  Record* a = room.New(1, &alive);
  Record* b = room.New(2, &alive);
  Record* c = room.New(3, &alive);
  const uint32_t full = PoolUsed();
  room.Delete(b);
  Record* again = room.New(4, &alive);
  EXPECT_EQ(again, b) << "the freed place, not a new block";
  EXPECT_EQ(PoolUsed(), full);
  EXPECT_EQ(a->value, 1);
  EXPECT_EQ(again->value, 4);
  EXPECT_EQ(c->value, 3);
  for (Record* record : {a, again, c}) room.Delete(record);
  EXPECT_EQ(alive, 0);
}

}  // namespace
