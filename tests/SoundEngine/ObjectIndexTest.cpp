// The object index and the shared containers: lookups add a reference, the last release leaves the
// index before it is destroyed, shared buckets, the bus list, the id hash table and pooled lists.
#include <thread>

#include "SoundEngine/Containers.h"
#include "SoundEngine/IdHashTable.h"
#include "SoundEngine/ObjectIndex.h"
#include "SoundEngine/PoolObject.h"
#include "SoundTestSupport.h"

namespace {

using namespace SN;

std::atomic<int> g_destroyed{0};

class Counted : public CSnIndexedObject {
 public:
  Counted(uint32_t id, SnIndexList list) : CSnIndexedObject(id, list) {}
  ~Counted() override {
    alive = false;
    ++g_destroyed;
  }
  std::atomic<bool> alive{true};
};

class ObjectIndexTest : public SoundTest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    InitSynchronous();
    g_destroyed = 0;
  }
  Counted* Make(uint32_t id, SnIndexList list = SnIndex_Nodes) {
    Counted* object = PoolNew<Counted>(g_DefaultPoolId, id, list);
    g_pObjectIndex->List(list).Insert(object);
    return object;
  }
};

TEST_F(ObjectIndexTest, LookupsAddReferencesAndTheLastReleaseLeavesTheIndex) {
  Counted* a = Make(5);
  Counted* b = Make(5 + 193);  // same bucket
  CSnObjectIndexList& nodes = g_pObjectIndex->List(SnIndex_Nodes);
  EXPECT_EQ(nodes.Count(), 2u);
  EXPECT_EQ(nodes.FindAndAddRef(5), a);
  EXPECT_EQ(nodes.FindAndAddRef(5 + 193), b);
  EXPECT_EQ(a->RefCount(), 2u);
  EXPECT_EQ(nodes.FindAndAddRef(6), nullptr);

  EXPECT_EQ(g_pObjectIndex->FindNodeAndAddRef(5, true), nullptr);  // the bus list only
  Counted* bus = Make(5, SnIndex_Busses);
  EXPECT_EQ(g_pObjectIndex->FindNodeByKeyAndAddRef(SnNodeKey{5, true}), bus);
  EXPECT_EQ(bus->Release(), 1u);
  EXPECT_EQ(bus->Release(), 0u);

  EXPECT_EQ(a->Release(), 1u);
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(g_destroyed, 2);
  EXPECT_EQ(nodes.FindAndAddRef(5), nullptr);
  EXPECT_EQ(nodes.FindAndAddRef(5 + 193), b);
  for (int i = 0; i < 3; ++i) b->Release();
  EXPECT_EQ(nodes.Count(), 0u);
}

TEST_F(ObjectIndexTest, ConcurrentLookupsNeverSeeAnObjectBeingDestroyed) {
  constexpr uint32_t kObjects = 64;
  std::atomic<bool> stop{false};
  std::atomic<int> lookups{0}, badLookups{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        for (uint32_t id = 0; id < kObjects; ++id) {
          auto* found = static_cast<Counted*>(g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(id));
          if (!found) continue;
          ++lookups;
          if (!found->alive) ++badLookups;
          found->Release();
        }
      }
    });
  }
  for (int round = 0; round < 50; ++round) {
    for (uint32_t id = 0; id < kObjects; ++id) Make(id, SnIndex_Events);
    for (uint32_t id = 0; id < kObjects; ++id) {
      CSnIndexedObject* object = g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(id);
      ASSERT_NE(object, nullptr);
      object->Release();
      object->Release();  // the creator's reference: the object goes when readers let go
    }
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(badLookups, 0);
  EXPECT_EQ(g_destroyed, int(50 * kObjects));
  EXPECT_EQ(g_pObjectIndex->List(SnIndex_Events).Count(), 0u);
}

// Holders take and give back references of their own beside lookups, then let go in any order
// while the creator's reference goes too: each object is destroyed once, by the last release, and
// no reference count is lost or counted twice.
TEST_F(ObjectIndexTest, HoldersSharingAnObjectDestroyItOnceWhenTheLastLetsGo) {
  constexpr uint32_t kObjects = 16;
  constexpr int kHolders = 4;
  for (int round = 0; round < 40; ++round) {
    std::vector<Counted*> objects;
    for (uint32_t id = 0; id < kObjects; ++id) objects.push_back(Make(id, SnIndex_Events));
    // Each holder's first reference is taken before the threads start, as a creator hands one over.
    for (Counted* object : objects)
      for (int h = 0; h < kHolders; ++h) object->AddRef();
    std::atomic<int> badCounts{0}, badLookups{0};
    std::vector<std::thread> holders;
    for (int h = 0; h < kHolders; ++h) {
      holders.emplace_back([&, h] {
        for (int pass = 0; pass < 20; ++pass)
          for (Counted* object : objects) {
            if (object->AddRef() < 2) ++badCounts;
            auto* found = static_cast<Counted*>(g_pObjectIndex->List(SnIndex_Events).FindAndAddRef(object->ID()));
            if (found != object || !found->alive) ++badLookups;
            if (found) found->Release();
            if (object->Release() < 1) ++badCounts;
          }
        for (uint32_t i = 0; i < kObjects; ++i) objects[(i + uint32_t(h) * 5) % kObjects]->Release();
      });
    }
    // The creator lets go while the holders work.
    for (Counted* object : objects) object->Release();
    for (std::thread& holder : holders) holder.join();
    ASSERT_EQ(badCounts, 0);
    ASSERT_EQ(badLookups, 0);
    ASSERT_EQ(g_destroyed, int((round + 1) * kObjects));
    ASSERT_EQ(g_pObjectIndex->List(SnIndex_Events).Count(), 0u);
  }
}

TEST_F(ObjectIndexTest, TermReleasesRuntimeObjectsAndOpenSequences) {
  Make(0x80000001u);
  Make(0x80000002u, SnIndex_SourcePluginDefinitions);
  Make(77, SnIndex_DynamicSequences);
  Counted* loaded = Make(12);
  g_pObjectIndex->ReleaseRuntimeObjects();
  EXPECT_EQ(g_destroyed, 3);
  EXPECT_EQ(g_pObjectIndex->List(SnIndex_Nodes).Count(), 1u);
  loaded->Release();
}

TEST_F(ObjectIndexTest, IdHashTableFindsInsertsErasesAndIterates) {
  SnIdHashTable193<uint32_t> table;
  table.Init(g_DefaultPoolId);
  for (uint32_t key : {3u, 3u + 193u, 10u, 400u}) *table.FindOrInsert(key) = key * 2;
  EXPECT_EQ(table.Count(), 4u);
  EXPECT_EQ(*table.Find(3 + 193), (3u + 193u) * 2);
  EXPECT_EQ(table.Find(4), nullptr);

  std::vector<uint32_t> order;
  for (auto it = table.Begin(); !it.AtEnd(); table.Next(it)) order.push_back(it.node->key);
  // Buckets ascending, newest first inside one.
  EXPECT_EQ(order, (std::vector<uint32_t>{3u + 193u, 3u, 10u, 400u}));

  auto it = table.FindWithPrev(3);
  ASSERT_FALSE(it.AtEnd());
  it = table.Erase(it);
  EXPECT_EQ(it.node->key, 10u);
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_NE(table.Find(3 + 193), nullptr);
  table.Term();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_FALSE(table.IsInitialized());
}

TEST_F(ObjectIndexTest, ArraysAndPooledListsGrowFromTheDefaultPool) {
  SnArray<uint32_t> array;
  for (uint32_t v : {1u, 2u, 4u}) ASSERT_NE(array.Add(v), nullptr);
  array.InsertAt(2, 3);
  array.RemoveAt(0);
  EXPECT_EQ(std::vector<uint32_t>(array.begin(), array.end()), (std::vector<uint32_t>{2, 3, 4}));
  EXPECT_EQ(array.IndexOf(4), 2);

  SnPooledList<uint32_t> list;
  ASSERT_TRUE(list.Init(32, SnPooledList<uint32_t>::kUnlimited));
  for (uint32_t i = 0; i < 33; ++i) ASSERT_NE(list.Append(i), nullptr);
  EXPECT_FALSE(list.IsPreallocated(list.Tail()));  // the 33rd comes from the pool
  EXPECT_TRUE(list.IsPreallocated(list.Head()));
  list.Remove(nullptr, list.Head());
  EXPECT_EQ(list.Head()->payload, 1u);
  EXPECT_EQ(list.Count(), 32u);

  SnPooledList<uint32_t> bounded;
  ASSERT_TRUE(bounded.Init(1, 1));
  EXPECT_NE(bounded.Append(1), nullptr);
  EXPECT_EQ(bounded.Append(2), nullptr);
}

// A list that keeps items reuses its pool items after they are removed, gives back those beyond
// what it keeps, and returns every byte at Term.
TEST_F(ObjectIndexTest, APooledListKeepsUpToItsCountOfRemovedItems) {
  auto used = [] {
    MemoryMgr::PoolMemInfo info;
    MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info);
    return info.usedBytes;
  };
  const uint32_t before = used();
  {
    SnPooledList<uint32_t> list;
    ASSERT_TRUE(list.Init(2, SnPooledList<uint32_t>::kUnlimited, kInvalidPoolId, 2));
    for (uint32_t i = 0; i < 5; ++i) ASSERT_NE(list.Append(i), nullptr);  // three from the pool
    const uint32_t full = used();
    const SnPooledList<uint32_t>::Item* firstFromPool = list.Head()->next->next;
    while (list.Head()) list.Remove(nullptr, list.Head());
    const uint32_t emptied = used();
    EXPECT_LT(emptied, full);  // one pool item went back, two are kept
    for (uint32_t i = 0; i < 4; ++i) ASSERT_NE(list.Append(i), nullptr);
    EXPECT_EQ(used(), emptied);  // the block's two and the kept two: nothing new
    bool reused = false;
    for (auto* item = list.Head(); item; item = item->next) reused |= item == firstFromPool;
    EXPECT_TRUE(reused);
    list.Term();
    EXPECT_EQ(used(), before);
    ASSERT_TRUE(list.Init(0, SnPooledList<uint32_t>::kUnlimited, kInvalidPoolId, 1));
    ASSERT_NE(list.Append(7), nullptr);
    list.Remove(nullptr, list.Head());
  }  // the destructor gives back the kept item
  EXPECT_EQ(used(), before);
}

}  // namespace
