// The play road of a node: the MIDI filter of note-ons (ancestors first), and the initial delay that
// plays at once, hands the play to the delayed-play carrier in samples, or grows the frame offset of
// a play that continues an instance.
#include "SoundEngine/Actions/DelayedPlay.h"
#include "SoundEngine/Lower/Mixing/FrameFormat.h"
#include "tests/SoundBanks/NodeTestKinds.h"

namespace {

using namespace NodeTest;
using SN::CSnPlayParams;
using SN::SnMidiEvent;

struct RecordingScheduler : SN::ISnDelayedPlayScheduler {
  SN::SNRESULT ScheduleDelayedPlay(SN::CSnHierarchyNode* node, const CSnPlayParams&, int32_t samples) override {
    nodes.push_back(node);
    delays.push_back(samples);
    return result;
  }
  std::vector<SN::CSnHierarchyNode*> nodes;
  std::vector<int32_t> delays;
  SN::SNRESULT result = SN::SN_Success;
};

class SoundNodePlayRoadTest : public NodeFixture {
 protected:
  void TearDown() override {
    SN::DelayedPlayScheduler() = nullptr;
    SN::LowerEngine::SetSampleRate(48000);
    NodeFixture::TearDown();
  }
  CSnPlayParams NoteOn(uint8_t channel, uint8_t note, uint8_t velocity) {
    CSnPlayParams params;
    params.midiEvent = {SnMidiEvent::kNoteOn, channel, note, velocity};
    return params;
  }
};

TEST_F(SoundNodePlayRoadTest, TheMidiFilterTransposesClampsAndTurnsAway) {
  Tools::BankNodeParams parent;
  parent.properties = {Tools::BankNodeProperty::Int(47, 2), Tools::BankNodeProperty::Int(53, 0x0003)};
  Tools::BankNodeParams leaf;
  leaf.parentId = 60;
  leaf.properties = {Tools::BankNodeProperty::Int(47, 3), Tools::BankNodeProperty::Int(48, -20),
                     Tools::BankNodeProperty::Int(50, 126)};
  ASSERT_EQ(LoadBank({{kParentType, 60, parent}, {kLeafType, 70, leaf}}), SN::SN_Success);
  TestNode* node = Node(70);
  CSnPlayParams params = NoteOn(1, 60, 100);
  ASSERT_EQ(node->Play(params), SN::SN_Success);
  ASSERT_EQ(node->plays.size(), 1u);
  EXPECT_EQ(node->plays[0].midiEvent.note, 65);  // both transpositions, the parent's first
  EXPECT_EQ(node->plays[0].midiEvent.velocity, 80);
  // Channel 2 is not in the parent's mask.
  params = NoteOn(2, 60, 100);
  EXPECT_EQ(node->Play(params), SN::SN_MidiFiltered);
  // Note 120 + 5 would be 125, inside; 125 + 5 is clamped to 127 and outside the range ending at 126.
  params = NoteOn(0, 125, 100);
  EXPECT_EQ(node->Play(params), SN::SN_MidiFiltered);
  EXPECT_EQ(node->plays.size(), 1u);
  // Velocity 10 less 20 is clamped to 1, not 0 (the filter itself: a velocity-0 note-on is no note-on).
  SnMidiEvent event{SnMidiEvent::kNoteOn, 0, 60, 10};
  EXPECT_EQ(node->FilterMidiEvent(event, CSnPlayParams{}), SN::SN_Success);
  EXPECT_EQ(event.velocity, 1);
  params = NoteOn(0, 60, 0);
  EXPECT_EQ(node->Play(params), SN::SN_Success);  // not filtered
  EXPECT_EQ(node->plays.back().midiEvent.velocity, 0);
}

TEST_F(SoundNodePlayRoadTest, CurveTranspositionIsRoundedHalfAwayFromZero) {
  Tools::BankNodeParams leaf;
  leaf.curves = {LinearCurve(7, 39, -10.0f, 10.0f)};
  ASSERT_EQ(LoadBank({{kLeafType, 70, leaf}}), SN::SN_Success);
  for (const auto& [x, note] : std::vector<std::pair<float, int>>{{57.5f, 62}, {42.5f, 58}, {50.0f, 60}}) {
    SN::g_pRTPCMgr->SetRTPCImmediate(7, x, SN::SnRTPCKey{});
    SnMidiEvent event{SnMidiEvent::kNoteOn, 0, 60, 100};
    EXPECT_EQ(Node(70)->FilterMidiEvent(event, CSnPlayParams{}), SN::SN_Success);
    EXPECT_EQ(event.note, note) << x;
  }
}

TEST_F(SoundNodePlayRoadTest, AnInitialDelayIsHandedOnInSamplesOrGrowsTheFrameOffset) {
  SN::LowerEngine::SetSampleRate(32768);
  Tools::BankNodeParams delayed;
  delayed.properties = {Tools::BankNodeProperty::Float(59, 3.0f / 65536.0f)};  // 1.5 samples
  Tools::BankNodeParams negative;
  negative.properties = {Tools::BankNodeProperty::Float(59, -1.0f)};
  Tools::BankNodeParams ranged;
  ranged.ranges = {{59, 0.5f, 0.5f}};
  ASSERT_EQ(
      LoadBank({{kLeafType, 70, {}}, {kLeafType, 71, delayed}, {kLeafType, 72, negative}, {kLeafType, 73, ranged}}),
      SN::SN_Success);
  CSnPlayParams params;
  // No delay, or none above 0: at once.
  EXPECT_EQ(Node(70)->Play(params), SN::SN_Success);
  EXPECT_EQ(Node(70)->plays.size(), 1u);
  EXPECT_EQ(Node(72)->Play(params), SN::SN_Success);
  EXPECT_EQ(Node(72)->plays.size(), 1u);
  // With nothing to carry delayed plays, the play fails and says so.
  SN::DelayedPlayScheduler() = nullptr;
  EXPECT_EQ(Node(71)->Play(params), SN::SN_Failure);
  EXPECT_TRUE(Logged("a delayed play cannot be queued"));
  RecordingScheduler scheduler;
  SN::DelayedPlayScheduler() = &scheduler;
  EXPECT_EQ(Node(71)->Play(params), SN::SN_Success);
  EXPECT_TRUE(Node(71)->plays.empty());
  EXPECT_EQ(scheduler.delays, std::vector<int32_t>{2});
  EXPECT_EQ(scheduler.nodes[0], Node(71));
  EXPECT_EQ(Node(73)->Play(params), SN::SN_Success);  // the range's 0.5 s
  EXPECT_EQ(scheduler.delays.back(), 16384);
  scheduler.result = SN::SN_InsufficientMemory;
  EXPECT_EQ(Node(73)->Play(params), SN::SN_InsufficientMemory);
  // The delayed play coming back clears its mark and plays.
  params.flags |= CSnPlayParams::kFlagDelayed;
  EXPECT_EQ(Node(71)->Play(params), SN::SN_Success);
  ASSERT_EQ(Node(71)->plays.size(), 1u);
  EXPECT_EQ(Node(71)->plays[0].flags & CSnPlayParams::kFlagDelayed, 0);
  // A play that continues an instance takes the delay into its frame offset.
  CSnPlayParams continuing;
  continuing.originContext = reinterpret_cast<SN::CSnPlaybackInstance*>(&scheduler);
  continuing.frameOffset = 100;
  EXPECT_EQ(Node(73)->Play(continuing), SN::SN_Success);
  ASSERT_EQ(Node(73)->plays.size(), 1u);
  EXPECT_EQ(Node(73)->plays[0].frameOffset, 100 + 16384);
  EXPECT_EQ(scheduler.delays.size(), 3u);
}

TEST(SoundNodeRounding, SamplesAndNotesRoundHalfAwayFromZeroAndSaturate) {
  EXPECT_EQ(SN::RoundToInt(1.5f), 2);
  EXPECT_EQ(SN::RoundToInt(-1.5f), -2);
  EXPECT_EQ(SN::RoundToInt(-1.49f), -1);
  EXPECT_EQ(SN::RoundToInt(NAN), 0);
  EXPECT_EQ(SN::RoundToInt(1e20f), INT32_MAX);
  EXPECT_EQ(SN::RoundToInt(-1e20f), INT32_MIN);
  EXPECT_EQ(SN::RoundToInt(INFINITY), INT32_MAX);
}

}  // namespace
