// The limiter's ordered array and the play-parameters record as a play begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "SoundEngine/Containers.h"
#include "SoundEngine/PlayParams.h"
#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;

struct Playing {
  float priority;
  uint32_t sequence;
  float Priority() const { return priority; }
  uint32_t SequenceNumber() const { return sequence; }
};

std::vector<uint32_t> Order(const SnPriorityArray<Playing>& array) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < array.Count(); ++i) out.push_back(array[i]->sequence);
  return out;
}

class SoundPriorityArrayTest : public SoundTest::GameSyncFixture {
 protected:
  void SetUp() override {
    GameSyncFixture::SetUp();
    Start();
  }
};

TEST_F(SoundPriorityArrayTest, PriorityFirstThenSequenceInEitherDirection) {
  std::vector<Playing> items = {{50, 1}, {80, 2}, {50, 3}, {20, 4}, {80, 5}, {NAN, 6}, {50, 7}};
  SnPriorityArray<Playing> newest(false), oldest(true);
  for (Playing& item : items) {
    ASSERT_TRUE(newest.Insert(&item));
    ASSERT_TRUE(oldest.Insert(&item));
  }
  // A priority that is not finite sorts as 50.
  EXPECT_EQ(Order(newest), (std::vector<uint32_t>{5, 2, 7, 6, 3, 1, 4}));
  EXPECT_EQ(Order(oldest), (std::vector<uint32_t>{2, 5, 1, 3, 6, 7, 4}));
  newest.SetOldestFirst(true);
  EXPECT_EQ(Order(newest), Order(oldest));
  EXPECT_TRUE(oldest.Remove(&items[1]));
  EXPECT_FALSE(oldest.Remove(&items[1]));
  EXPECT_EQ(Order(oldest), (std::vector<uint32_t>{5, 1, 3, 6, 7, 4}));
}

TEST_F(SoundPriorityArrayTest, OneChangedEntryMovesAndManyAreSortedWhole) {
  std::vector<Playing> items;
  for (uint32_t i = 0; i < 20; ++i) items.push_back({float(i % 5) * 10.0f, i});
  SnPriorityArray<Playing> array(true);
  for (Playing& item : items) ASSERT_TRUE(array.Insert(&item));
  auto sorted = [&] {
    for (uint32_t i = 1; i < array.Count(); ++i)
      if (array.Before(array[i], array[i - 1])) return false;
    return true;
  };
  ASSERT_TRUE(sorted());
  items[0].priority = 100.0f;  // from the end to the front
  array.Move(&items[0]);
  EXPECT_EQ(array[0]->sequence, 0u);
  items[0].priority = -1.0f;  // and to the back
  array.Move(&items[0]);
  EXPECT_EQ(array[19]->sequence, 0u);
  EXPECT_TRUE(sorted());
  for (Playing& item : items) item.priority = float((item.sequence * 7) % 11);
  array.Resort();
  EXPECT_TRUE(sorted());
  EXPECT_EQ(array.Count(), 20u);
}

TEST_F(SoundPriorityArrayTest, RemovalTakesExactlyTheEntryAmongEqualsAndAfterAnUntoldChange) {
  // Runs of equal priorities, removed in a scrambled order; the rest keeps the order a plain model
  // of the rule gives (priority down, then number in the tie direction).
  for (const bool oldestFirst : {true, false}) {
    std::vector<Playing> items;
    for (uint32_t i = 0; i < 40; ++i) items.push_back({float((i * 3) % 4) * 25.0f, i + 1});
    items[7].priority = NAN;
    SnPriorityArray<Playing> array(oldestFirst);
    for (Playing& item : items) ASSERT_TRUE(array.Insert(&item));
    std::vector<const Playing*> model;
    for (const Playing& item : items) model.push_back(&item);
    auto sortKey = [](const Playing* p) { return std::isfinite(p->priority) ? p->priority : 50.0f; };
    auto modelOrder = [&] {
      std::vector<const Playing*> sorted = model;
      std::stable_sort(sorted.begin(), sorted.end(), [&](const Playing* a, const Playing* b) {
        if (sortKey(a) != sortKey(b)) return sortKey(a) > sortKey(b);
        return oldestFirst ? a->sequence < b->sequence : a->sequence > b->sequence;
      });
      std::vector<uint32_t> out;
      for (const Playing* p : sorted) out.push_back(p->sequence);
      return out;
    };
    ASSERT_EQ(Order(array), modelOrder());
    // A priority changed without the array being told: the entry is still found and taken out.
    items[12].priority = 99.0f;
    for (uint32_t step = 0; step < 40; ++step) {
      Playing* victim = &items[(step * 17 + 5) % 40];
      EXPECT_TRUE(array.Remove(victim)) << "entry " << victim->sequence;
      EXPECT_FALSE(array.Remove(victim)) << "entry " << victim->sequence << " a second time";
      model.erase(std::find(model.begin(), model.end(), victim));
      if (victim == &items[12]) continue;  // the model sorts by the changed priority; the array never saw it
      std::vector<uint32_t> rest = Order(array);
      std::vector<uint32_t> expected = modelOrder();
      expected.erase(std::remove(expected.begin(), expected.end(), items[12].sequence), expected.end());
      rest.erase(std::remove(rest.begin(), rest.end(), items[12].sequence), rest.end());
      EXPECT_EQ(rest, expected) << "after removing " << victim->sequence;
    }
    EXPECT_EQ(array.Count(), 0u);
  }
}

TEST(SoundPlayParams, APlayBeginsWithoutEventDelayOrOffset) {
  CSnPlayParams params;
  EXPECT_EQ(params.midiEvent.status, 0);
  EXPECT_EQ(params.midiEvent.channel, 0xFF);
  EXPECT_EQ(params.midiEvent.note, 0xFF);
  EXPECT_EQ(params.midiEvent.velocity, 0xFF);
  EXPECT_EQ(params.flags & (CSnPlayParams::kFlagDelayed | CSnPlayParams::kFlagPaused), 0);
  EXPECT_NE(params.flags & CSnPlayParams::kFlagFirstPlay, 0);
  EXPECT_FALSE(params.midiEvent.IsNoteOn());
  EXPECT_EQ(params.frameOffset, 0);
  EXPECT_EQ(params.gameObject, nullptr);
  EXPECT_FALSE(params.ContinuesInstance());
  params.midiTargetId = 77;
  EXPECT_EQ(params.GetMidiTargetID(), 0u);  // no event, no target
  params.midiEvent = {SnMidiEvent::kNoteOn, 0, 60, 0};
  EXPECT_FALSE(params.midiEvent.IsNoteOn());  // velocity 0 is a note-off
  params.midiEvent.velocity = 90;
  EXPECT_TRUE(params.midiEvent.IsNoteOn());
  EXPECT_EQ(params.GetMidiTargetID(), 77u);
}

}  // namespace
