// Events and their actions, written by the bank builder, loaded by the bank manager and posted through
// the sound API: plays with their fade and probability, delays in samples, the scopes of stop, pause
// and resume with their exceptions, run-time values, game syncs, nested events and their cycles.
#include <chrono>
#include <thread>

#include "Base/MathUtil.h"
#include "SoundEngine/Actions/ActionClasses.h"
#include "SoundEngine/Actions/ContinuePlaybackAction.h"
#include "SoundEngine/Actions/ContinuousPlaylist.h"
#include "SoundEngine/Actions/Event.h"
#include "SoundEngine/Actions/EventScheduler.h"
#include "SoundEngine/Callbacks/CallbackTypes.h"
#include "SoundEngine/GameSyncs/SwitchMgr.h"
#include "SoundEngine/PendingAction.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundBanks/NodeTestKinds.h"
#include "tools/SoundBank/ActionWriter.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace NodeTest;
using SN::SnActionParams;
using Tools::BankAction;

constexpr uint32_t kObject = 7;

BankAction MakeAction(uint32_t id, uint16_t type, uint32_t target) {
  BankAction action;
  action.id = id;
  action.type = type;
  action.target = target;
  return action;
}

class EventActionTest : public NodeFixture {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(SN::SoundEngine::RegisterGameObj(kObject), SN::SN_Success);
    SN::SoundEngine::RenderAudio();
  }
  // Loads the nodes with the actions and, per event, the ids of its actions.
  SN::SNRESULT Load(const std::vector<Object>& nodes, const std::vector<BankAction>& actions,
                    const std::vector<std::pair<uint32_t, std::vector<uint32_t>>>& events,
                    const Tools::BankSettings* settings = nullptr) {
    std::vector<Tools::BankObject> objects;
    // Nodes come first: the payloads are read in order and actions only name their targets.
    std::vector<Tools::BankObject> after;
    for (const BankAction& action : actions) after.push_back({3, Tools::ActionPayload(action)});
    for (const auto& [id, ids] : events) after.push_back({4, Tools::EventPayload(id, ids)});
    Tools::BankDescription bank;
    bank.bankId = 2000 + uint32_t(loaded_.size());
    for (const Object& node : nodes)
      bank.objects.push_back({node.type, Tools::NodePayload(node.id, {}, node.params, false)});
    bank.objects.insert(bank.objects.end(), after.begin(), after.end());
    if (settings) {
      bank.settings = *settings;
      bank.order.push_back({Tools::BankChunkKind::Settings, 0});
    }
    bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
    images_.push_back(Tools::WriteBank(bank));
    uint32_t bankId = 0;
    const SN::SNRESULT result = SN::g_pBankManager->LoadBankImageWait(
        images_.back().data(), uint32_t(images_.back().size()), true, -1, &bankId);
    if (result == SN::SN_Success) loaded_.push_back(bankId);
    return result;
  }
  uint32_t Post(uint32_t eventId, uint32_t object = kObject) {
    const uint32_t playingId = SN::SoundEngine::PostEvent(eventId, object);
    SN::SoundEngine::RenderAudio();
    return playingId;
  }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) SN::SoundEngine::RenderAudio();
  }
  SN::CSnRegisteredObj* Obj() { return SN::g_pRegistryMgr->Find(kObject); }
  Object Leaf(uint32_t id, uint32_t parent = 0) {
    Object leaf{kLeafType, id, {}};
    leaf.params.parentId = parent;
    return leaf;
  }
};

TEST_F(EventActionTest, APlayReachesItsNodeWithObjectPlayingIdAndFade) {
  BankAction play = MakeAction(10, 0x0403, 100);
  play.properties = {Tools::BankNodeProperty::Int(15, 250)};
  play.fadeCurve = 4;
  ASSERT_EQ(Load({Leaf(100)}, {play}, {{1, {10}}}), SN::SN_Success);
  const uint32_t playingId = Post(1);
  TestNode* node = Node(100);
  ASSERT_EQ(node->plays.size(), 1u);
  EXPECT_EQ(node->plays[0].gameObject, Obj());
  EXPECT_EQ(node->plays[0].playingId, playingId);
  EXPECT_EQ(node->plays[0].transition.durationMs, 250);
  EXPECT_EQ(uint32_t(node->plays[0].transition.shape), 4u);
}

TEST_F(EventActionTest, ProbabilityZeroNeverPlaysFiftyPlaysAboutHalfAndNoneAlwaysPlays) {
  BankAction never = MakeAction(10, 0x0403, 100), half = MakeAction(11, 0x0403, 101), always = MakeAction(12, 0x0403, 102);
  never.properties = {Tools::BankNodeProperty::Float(16, 0.0f)};
  half.properties = {Tools::BankNodeProperty::Float(16, 50.0f)};
  ASSERT_EQ(Load({Leaf(100), Leaf(101), Leaf(102)}, {never, half, always}, {{1, {10, 11, 12}}}), SN::SN_Success);
  Base::SeedRand15(12345);
  constexpr int kPosts = 400;
  for (int i = 0; i < kPosts; ++i) SN::SoundEngine::PostEvent(1, kObject);
  SN::SoundEngine::RenderAudio();
  EXPECT_EQ(Node(100)->plays.size(), 0u);
  EXPECT_EQ(Node(102)->plays.size(), size_t(kPosts));
  // Binomial(400, 0.5): mean 200, deviation 10; five deviations either way.
  EXPECT_GE(Node(101)->plays.size(), 150u);
  EXPECT_LE(Node(101)->plays.size(), 250u);
}

TEST_F(EventActionTest, TheDrawPassesTheProbabilityInPercentNotOneMore) {
  // At 1 percent, a draw "at most" the probability would pass 2 draws in 100.
  Base::SeedRand15(777);
  int passed = 0;
  constexpr int kDraws = 20000;
  for (int i = 0; i < kDraws; ++i) passed += SN::CSnActionPlay::DrawPasses(1.0f) ? 1 : 0;
  // Binomial(20000, 0.01): mean 200, deviation 14.
  EXPECT_GE(passed, 130);
  EXPECT_LE(passed, 270);
  EXPECT_TRUE(SN::CSnActionPlay::DrawPasses(100.0f));
}

TEST_F(EventActionTest, A100MsDelayIs4800SamplesAndAMissingTargetIsNotFound) {
  BankAction late = MakeAction(10, 0x0403, 100);
  late.properties = {Tools::BankNodeProperty::Int(14, 100)};
  BankAction missing = MakeAction(11, 0x0403, 999);
  ASSERT_EQ(Load({Leaf(100)}, {late, missing}, {{1, {10}}, {2, {11}}}), SN::SN_Success);
  SN::CSnIndexedObject* found = SN::g_pObjectIndex->List(SN::SnIndex_Actions).FindAndAddRef(10);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(static_cast<SN::CSnEventAction*>(found)->DelaySamples(), 4800u);
  found->Release();

  Post(1);
  TestNode* node = Node(100);
  // 4800 = 4 frames of 1024 and 704 samples. A pass runs what is due in its frame and, once the
  // frame is rendered, what is due in the next: the post's pass reaches frame 1, each render one more.
  Frames(2);
  EXPECT_TRUE(node->plays.empty());
  Frames(1);
  ASSERT_EQ(node->plays.size(), 1u);
  EXPECT_EQ(node->plays[0].frameOffset, 704);

  found = SN::g_pObjectIndex->List(SN::SnIndex_Actions).FindAndAddRef(11);
  SN::CSnPendingActionItem record(static_cast<SN::CSnEventAction*>(found), 0);
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    EXPECT_EQ(record.action->Execute(record), SN::SN_IdNotFound);
  }
  found->Release();
  EXPECT_TRUE(Logged("node 999 is not loaded"));
}

TEST_F(EventActionTest, StopScopesReachTheTargetEveryRootOrEveryNodeButTheSpared) {
  Object parent{kParentType, 50, {}};
  BankAction stopTarget = MakeAction(10, 0x0103, 60), stopAllObjects = MakeAction(11, 0x0102, 60);
  stopTarget.properties = {Tools::BankNodeProperty::Int(15, 30)};
  BankAction stopAll = MakeAction(12, 0x0104, 0);
  BankAction stopExcept = MakeAction(13, 0x0108, 0);
  stopExcept.exceptions = {{61, 0}};
  ASSERT_EQ(Load({parent, Leaf(60, 50), Leaf(61, 50), Leaf(70)}, {stopTarget, stopAllObjects, stopAll, stopExcept},
                 {{1, {10}}, {2, {11}}, {3, {12}}, {4, {13}}}),
            SN::SN_Success);
  Post(1);
  ASSERT_EQ(Node(60)->actions.size(), 1u);
  EXPECT_EQ(Node(60)->actions[0].kind, SnActionParams::Stop);
  EXPECT_EQ(Node(60)->actions[0].gameObject, Obj());
  EXPECT_EQ(Node(60)->actions[0].transitionMs, 30);
  Post(2);
  ASSERT_EQ(Node(60)->actions.size(), 2u);
  EXPECT_EQ(Node(60)->actions[1].gameObject, nullptr);

  // Everything: the roots of the hierarchy take the record for all below them.
  Post(3);
  EXPECT_EQ(Node(50)->actions.size(), 1u);
  EXPECT_EQ(Node(70)->actions.size(), 1u);
  EXPECT_EQ(Node(60)->actions.size(), 2u);
  // All but 61: its parent cannot take the record, its sibling and the other root do.
  Post(4);
  EXPECT_EQ(Node(50)->actions.size(), 1u);
  EXPECT_EQ(Node(61)->actions.size(), 0u);
  EXPECT_EQ(Node(60)->actions.size(), 3u);
  EXPECT_EQ(Node(70)->actions.size(), 2u);
}

TEST_F(EventActionTest, PauseAndResumeOfATargetCarryItsPendingPlays) {
  Object parent{kParentType, 50, {}};
  BankAction late = MakeAction(10, 0x0403, 60);
  late.properties = {Tools::BankNodeProperty::Int(14, 100)};
  BankAction pause = MakeAction(11, 0x0202, 50), resume = MakeAction(12, 0x0302, 50), stopPending = MakeAction(13, 0x1C02, 50);
  ASSERT_EQ(Load({parent, Leaf(60, 50)}, {late, pause, resume, stopPending}, {{1, {10}}, {2, {11}}, {3, {12}}, {4, {13}}}),
            SN::SN_Success);
  Post(1);
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 1u);
  Post(2);
  EXPECT_EQ(Node(50)->actions.back().kind, SnActionParams::Pause);
  EXPECT_EQ(SN::g_pAudioMgr->PausedPendingCount(), 1u);
  Frames(10);
  EXPECT_TRUE(Node(60)->plays.empty());
  Post(3);
  EXPECT_EQ(Node(50)->actions.back().kind, SnActionParams::Resume);
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 1u);
  // Due at frame 4, paused at frame 1 and resumed at frame 12: due at 15. The resume's pass reaches
  // frame 13.
  Frames(1);
  EXPECT_TRUE(Node(60)->plays.empty());
  Frames(1);
  EXPECT_EQ(Node(60)->plays.size(), 1u);

  Post(1);
  Post(4);
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 0u);
  Frames(6);
  EXPECT_EQ(Node(60)->plays.size(), 1u);
}

TEST_F(EventActionTest, SetAndResetValuesLandInTheObjectsRunTimeValues) {
  BankAction volume = MakeAction(10, 0x0A03, 100), pitch = MakeAction(11, 0x0803, 100);
  volume.value = -6.0f;
  pitch.value = 100.0f;
  pitch.meaning = 2;
  BankAction resetVolume = MakeAction(12, 0x0B03, 100), resetAll = MakeAction(13, 0x0B04, 0);
  ASSERT_EQ(Load({Leaf(100), Leaf(101)}, {volume, pitch, resetVolume, resetAll},
                 {{1, {10}}, {2, {11, 11}}, {3, {12}}, {4, {13}}}),
            SN::SN_Success);
  Post(1);
  TestNode* node = Node(100);
  const SN::CSnPropTransitionSet* values = node->FindValueSet(Obj());
  ASSERT_NE(values, nullptr);
  EXPECT_FLOAT_EQ(values->ValueOr(0, 99.0f), -6.0f);
  // An offset adds to what the object has; listed twice, the action runs once.
  Post(2);
  Post(2);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(2, 0.0f), 200.0f);
  Post(3);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(0, 99.0f), 0.0f);
  Post(1);
  Post(4);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(0, 99.0f), 0.0f);
}

TEST_F(EventActionTest, StatesSwitchesParametersAndStateUse) {
  BankAction state = MakeAction(10, 0x1202, 0), sw = MakeAction(11, 0x1903, 0), parameter = MakeAction(12, 0x1303, 77);
  state.groupId = 5;
  state.valueId = 6;
  sw.groupId = 8;
  sw.valueId = 9;
  parameter.value = 40.0f;
  BankAction stateOff = MakeAction(13, 0x1102, 100);
  Tools::BankSettings settings;
  settings.stateGroups = {{5, 0, {}}};
  ASSERT_EQ(Load({Leaf(100)}, {state, sw, parameter, stateOff}, {{1, {10, 11, 12, 13}}}, &settings), SN::SN_Success);
  Post(1);
  EXPECT_EQ(SN::g_pStateMgr->GetCurrentState(5), 6u);
  EXPECT_EQ(SN::g_pSwitchMgr->GetCurrentSwitch(8, SN::SnRTPCKey::ForObject(Obj())), 9u);
  float value = 0.0f;
  EXPECT_TRUE(SN::g_pRTPCMgr->GetValue(77, SN::SnRTPCKey::ForObject(Obj()), value));
  EXPECT_FLOAT_EQ(value, 40.0f);
  EXPECT_FALSE(Node(100)->FlagsB() & SN::CSnHierarchyNode::kStateValuesApply);
}

TEST_F(EventActionTest, NestedEventsAreFollowedOncePerChainAndDelayedRepostsStay) {
  // 1 plays 100 and event 2; 2 plays 101 and event 1 again at once: the cycle is cut, once logged.
  BankAction play100 = MakeAction(10, 0x0403, 100), to2 = MakeAction(11, 0x2103, 2);
  BankAction play101 = MakeAction(12, 0x0403, 101), to1 = MakeAction(13, 0x2103, 1);
  // 3 plays 102 and itself again a frame later.
  BankAction play102 = MakeAction(14, 0x0403, 102), again = MakeAction(15, 0x2103, 3);
  again.properties = {Tools::BankNodeProperty::Int(14, 30)};
  ASSERT_EQ(Load({Leaf(100), Leaf(101), Leaf(102)}, {play100, to2, play101, to1, play102, again},
                 {{1, {10, 11}}, {2, {12, 13}}, {3, {14, 15}}}),
            SN::SN_Success);
  Post(1);
  EXPECT_EQ(Node(100)->plays.size(), 1u);
  EXPECT_EQ(Node(101)->plays.size(), 1u);
  EXPECT_TRUE(Logged("Event 1 plays itself again"));

  // Due one frame later each time: the post's pass plays twice (frames 0 and 1), each render once.
  Post(3);
  Frames(3);
  EXPECT_EQ(Node(102)->plays.size(), 5u);
  SN::SoundEngine::StopAll();
  SN::SoundEngine::RenderAudio();
}

TEST_F(EventActionTest, ActingOnAnEventReachesThePlayTargetsOfItsNestedEvents) {
  BankAction to2 = MakeAction(10, 0x2103, 2), play = MakeAction(11, 0x0403, 100), back = MakeAction(12, 0x2103, 1);
  ASSERT_EQ(Load({Leaf(100)}, {to2, play, back}, {{1, {10}}, {2, {11, 12}}}), SN::SN_Success);
  const uint32_t playingId = Post(1);
  ASSERT_EQ(SN::SoundEngine::ExecuteActionOnEvent(1u, SN::SnActionOnEvent_Pause, kObject, 40, SN::SnCurve_Linear, playingId),
            SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::SeekOnEvent(1u, kObject, 0.25f), SN::SN_Success);
  SN::SoundEngine::RenderAudio();
  TestNode* node = Node(100);
  ASSERT_EQ(node->actions.size(), 2u);
  EXPECT_EQ(node->actions[0].kind, SnActionParams::Pause);
  EXPECT_EQ(node->actions[0].playingId, playingId);
  EXPECT_EQ(node->actions[0].transitionMs, 40);
  EXPECT_EQ(node->actions[1].kind, SnActionParams::Seek);
  EXPECT_FLOAT_EQ(node->actions[1].seek.fraction, 0.25f);
  EXPECT_EQ(node->actions[1].seekFlags, 1);
}

TEST_F(EventActionTest, PayloadsThatRunShortOrNameNoClassFailTheLoad) {
  BankAction seek = MakeAction(10, 0x1E02, 100);
  std::vector<uint8_t> cut = Tools::ActionPayload(seek);
  cut.resize(cut.size() - 3);
  Tools::BankDescription bank;
  bank.bankId = 3000;
  bank.objects = {{3, cut}};
  bank.order.push_back({Tools::BankChunkKind::Hierarchy, 0});
  images_.push_back(Tools::WriteBank(bank));
  uint32_t id = 0;
  EXPECT_NE(SN::g_pBankManager->LoadBankImageWait(images_.back().data(), uint32_t(images_.back().size()), true, -1, &id),
            SN::SN_Success);
  EXPECT_TRUE(Logged("Action 10 of type 0x1E02: its parameters run past the end"));
  EXPECT_NE(Load({}, {MakeAction(11, 0x4003, 0)}, {}), SN::SN_Success);
  EXPECT_TRUE(Logged("which no action class serves"));
  EXPECT_EQ(SN::g_pObjectIndex->List(SN::SnIndex_Actions).Count(), 0u);
}

}  // namespace

namespace {

// An iteration state that counts its copies and where they go.
struct CountedState : SN::ISnContinuationState {
  explicit CountedState(int* live) : live(live) { ++*live; }
  ~CountedState() override { --*live; }
  SN::ISnContinuationState* Clone(SN::CSnHierarchyNode*) const override { return new CountedState(live); }
  void Destroy() override { delete this; }
  int* live;
};

class ContinuePlaybackTest : public EventActionTest {};

TEST_F(ContinuePlaybackTest, AnInitialDelayRidesOnAContinueActionAndPlaysOnItsSample) {
  Object leaf = Leaf(100);
  leaf.params.properties = {Tools::BankNodeProperty::Float(59, 0.1f)};
  BankAction play = MakeAction(10, 0x0403, 100);
  play.properties = {Tools::BankNodeProperty::Int(15, 20)};
  ASSERT_EQ(Load({leaf}, {play}, {{1, {10}}}), SN::SN_Success);
  const uint32_t before = SN::CSnContinuePlaybackAction::ContinuousPlayCount();
  const uint32_t playingId = Post(1);
  TestNode* node = Node(100);
  EXPECT_TRUE(node->plays.empty());
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 1u);
  // 0.1 s is 4800 samples: 4 frames and 704, less the frame of look-ahead of continued plays, so it
  // runs in frame 3 at 1728 samples.
  Frames(1);
  EXPECT_TRUE(node->plays.empty());
  Frames(1);
  ASSERT_EQ(node->plays.size(), 1u);
  EXPECT_EQ(node->plays[0].frameOffset, 1024 + 704);
  EXPECT_EQ(node->plays[0].playingId, playingId);
  EXPECT_EQ(node->plays[0].gameObject, Obj());
  EXPECT_EQ(node->plays[0].transition.durationMs, 20);
  EXPECT_NE(node->plays[0].continuousPlaylist, nullptr);
  EXPECT_EQ(SN::CSnContinuePlaybackAction::ContinuousPlayCount(), before + 1);
  EXPECT_EQ(SN::g_pObjectIndex->List(SN::SnIndex_Actions).Count(), 1u);  // the engine's action is gone
}

TEST_F(ContinuePlaybackTest, PlaylistItemsHoldTheirNodesAndCloneTheirStates) {
  ASSERT_EQ(Load({Leaf(100), Leaf(101), Leaf(102)}, {}, {}), SN::SN_Success);
  TestNode* a = Node(100);
  TestNode* b = Node(101);
  const uint32_t refs = a->RefCount();
  int live = 0;
  SN::CSnContinuousPlaylist* list = SN::CSnContinuousPlaylist::Create();
  ASSERT_NE(list, nullptr);
  SN::CSnContinuousPlaylistItem item;
  item.Init();
  item.node = a;
  item.state = new CountedState(&live);
  item.loopCount = 3;
  item.flags = 0xFF;
  ASSERT_EQ(list->Push(item), SN::SN_Success);
  item.node = b;
  ASSERT_EQ(list->Push(item), SN::SN_Success);
  EXPECT_EQ(live, 3);
  EXPECT_EQ(a->RefCount(), refs + 1);
  EXPECT_EQ(list->At(0).loopCount, 3);
  EXPECT_EQ(list->At(0).flags, 3);  // two bits
  item.node = nullptr;  // the test's own item holds no reference
  item.state->Destroy();
  item.state = nullptr;

  // A continue action shares the list; a break of a node under the chain drops its level and those
  // below, and the level left chooses the next item: none from a level that is no container.
  SN::CSnContinuePlaybackAction* action = SN::CSnContinuePlaybackAction::Create(SN::SnAction_ContinuePlayback, 0, list);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(list->RefCount(), 2u);
  int owner = 0;
  action->SetOwnerRef(&owner);
  SN::CSnIndexedObject* effect = SN::CSnEvent::CreateEvent(55);
  action->SetVoiceInfoOwner(effect);
  EXPECT_EQ(effect->RefCount(), 2u);
  EXPECT_FALSE(action->AdvancePastNode(Node(102), nullptr));  // outside the chain: nothing changes
  EXPECT_EQ(list->Count(), 2u);
  EXPECT_TRUE(action->AdvancePastNode(b, nullptr));
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_EQ(list->RefCount(), 1u);  // the action let go of what it had nothing left of
  EXPECT_EQ(live, 0);
  EXPECT_EQ(a->RefCount(), refs);
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    SN::g_pAudioMgr->ClearContinuationOwnerRefs(&owner);  // not pending: its reference stays
  }
  EXPECT_EQ(action->OwnerRef(), &owner);
  action->Release();
  EXPECT_EQ(effect->RefCount(), 1u);
  effect->Release();
  list->Release();
}

TEST_F(ContinuePlaybackTest, AContinueActionJoinsAndLeavesItsFades) {
  ASSERT_EQ(Load({Leaf(100)}, {}, {}), SN::SN_Success);
  SN::CSnContinuePlaybackAction* action =
      SN::CSnContinuePlaybackAction::Create(SN::SnAction_ContinuePlayback, 0, nullptr);
  ASSERT_NE(action, nullptr);
  SN::CSnTransition stop, pause;
  SN::SnTransitionParams params;
  params.kind = SN::SnTransitionKind_StopFadeOut;
  params.timeMs = 100;
  ASSERT_EQ(stop.Init(params, 0), SN::SN_Success);
  params.kind = SN::SnTransitionKind_ResumeFadeIn;
  ASSERT_EQ(pause.Init(params, 0), SN::SN_Success);
  EXPECT_EQ(action->SetPlayStopTransition(&stop), SN::SN_Success);
  EXPECT_EQ(action->SetPauseTransition(&pause), SN::SN_Success);
  EXPECT_EQ(stop.TargetCount(), 1u);
  action->ClearPauseTransition();  // not a fade-out: stays
  EXPECT_EQ(pause.TargetCount(), 1u);
  action->Release();
  EXPECT_EQ(stop.TargetCount(), 0u);
  EXPECT_EQ(pause.TargetCount(), 0u);
}

}  // namespace

namespace {

class EventMessageTest : public EventActionTest {};

TEST_F(EventMessageTest, StopAllStopsEveryRootAndTheObjectsPendingActions) {
  BankAction late = MakeAction(10, 0x0403, 100);
  late.properties = {Tools::BankNodeProperty::Int(14, 200)};
  ASSERT_EQ(Load({Leaf(100), Leaf(101)}, {late}, {{1, {10}}}), SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(8), SN::SN_Success);
  Post(1);
  Post(1, 8);
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 2u);
  ASSERT_EQ(SN::SoundEngine::StopAll(kObject), SN::SN_Success);
  SN::SoundEngine::RenderAudio();
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 1u);
  for (uint32_t id : {100u, 101u}) {
    ASSERT_EQ(Node(id)->actions.size(), 1u);
    EXPECT_EQ(Node(id)->actions[0].kind, SnActionParams::Stop);
    EXPECT_EQ(Node(id)->actions[0].gameObject, Obj());
  }
  ASSERT_EQ(SN::SoundEngine::StopAll(), SN::SN_Success);
  SN::SoundEngine::RenderAudio();
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 0u);
  EXPECT_EQ(Node(100)->actions.back().gameObject, nullptr);
}

TEST_F(EventMessageTest, AnUnregisteredObjectRunsOnlyTheActionsNotScopedToAnObject) {
  BankAction play = MakeAction(10, 0x0403, 100), state = MakeAction(11, 0x1202, 0);
  state.groupId = 5;
  state.valueId = 6;
  Tools::BankSettings settings;
  settings.stateGroups = {{5, 0, {}}};
  ASSERT_EQ(Load({Leaf(100)}, {play, state}, {{1, {10, 11}}}, &settings), SN::SN_Success);
  Post(1, 999);
  EXPECT_TRUE(Node(100)->plays.empty());
  EXPECT_EQ(SN::g_pStateMgr->GetCurrentState(5), 6u);
}

TEST_F(EventMessageTest, StoppingAnEventRemovesItsPendingPlaysAndStopsItsTargets) {
  BankAction late = MakeAction(10, 0x0403, 100);
  late.properties = {Tools::BankNodeProperty::Int(14, 200)};
  ASSERT_EQ(Load({Leaf(100)}, {late}, {{1, {10}}}), SN::SN_Success);
  const uint32_t first = Post(1);
  Post(1);
  ASSERT_EQ(SN::SoundEngine::ExecuteActionOnEvent(1u, SN::SnActionOnEvent_Stop, kObject, 0, SN::SnCurve_Linear, first),
            SN::SN_Success);
  SN::SoundEngine::RenderAudio();
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 1u);
  ASSERT_EQ(Node(100)->actions.size(), 1u);
  EXPECT_EQ(Node(100)->actions[0].kind, SnActionParams::Stop);
  EXPECT_EQ(Node(100)->actions[0].playingId, first);
}

}  // namespace

namespace {

// The audio thread runs the actions while the test thread posts and looks on under the audio lock. The
// thread passes on its own every millisecond, so delayed actions come due without further posts.
class EventActionThreadTest : public EventActionTest {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override {
    settings.useAudioThread = 1;
    lower_.waitMs = 1;
  }
  size_t Plays(uint32_t node) {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    return Node(node)->plays.size();
  }
  // Waits until the node has played `count` times; false (and a failure) when it does not in time.
  bool WaitUntilPlayed(uint32_t node, size_t count) {
    return OrvTest::WaitUntil([&] { return Plays(node) >= count; }, [&] {
      return "node " + std::to_string(node) + " to play " + std::to_string(count) + " times (" +
             std::to_string(Plays(node)) + ")";
    });
  }
};

TEST_F(EventActionThreadTest, PostsFromTheGameThreadPlayAtOnceAndAfterTheirDelays) {
  Object delayed = Leaf(101);
  delayed.params.properties = {Tools::BankNodeProperty::Float(59, 0.05f)};
  BankAction now = MakeAction(10, 0x0403, 100), later = MakeAction(11, 0x0403, 101), nested = MakeAction(12, 0x2103, 2);
  later.properties = {Tools::BankNodeProperty::Int(14, 30)};
  BankAction again = MakeAction(13, 0x0403, 100);
  ASSERT_EQ(Load({Leaf(100), delayed}, {now, later, nested, again}, {{1, {10, 11, 12}}, {2, {13}}}), SN::SN_Success);
  for (int i = 0; i < 20; ++i) SN::SoundEngine::PostEvent(1, kObject);
  SN::SoundEngine::RenderAudio();
  EXPECT_TRUE(WaitUntilPlayed(100, 40));
  EXPECT_TRUE(WaitUntilPlayed(101, 20));
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 0u);
}

}  // namespace

namespace {

struct TriggerLog : SN::ISnGameSyncSubscriber {
  void TriggerReceived(uint32_t triggerId) override { triggers.push_back(triggerId); }
  void StateChanged(uint32_t, const SN::SnRTPCKey&, const void*) override {}
  std::vector<uint32_t> triggers;
};

class NodeActionTest : public EventActionTest {};

TEST_F(NodeActionTest, MuteUnmuteBypassNodeCommandsAndTriggers) {
  BankAction mute = MakeAction(10, 0x0603, 100), unmute = MakeAction(11, 0x0703, 100), unmuteAll = MakeAction(12, 0x0704, 0);
  BankAction bypass = MakeAction(13, 0x1A02, 100), unbypass = MakeAction(14, 0x1B04, 0);
  bypass.bypass = 1;
  bypass.bypassMask = 0x05;
  BankAction command = MakeAction(15, 0x1F03, 100), badCommand = MakeAction(16, 0x1F04, 100);
  BankAction trigger = MakeAction(17, 0x1D03, 321);
  ASSERT_EQ(Load({Leaf(100)}, {mute, unmute, unmuteAll, bypass, unbypass, command, badCommand, trigger},
                 {{1, {10}}, {2, {11}}, {3, {12}}, {4, {13}}, {5, {14}}, {6, {15, 16}}, {7, {17}}}),
            SN::SN_Success);
  TestNode* node = Node(100);
  const uint8_t gainFactor = 10;
  Post(1);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(gainFactor, 1.0f), 0.0f);
  Post(2);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(gainFactor, 0.0f), 1.0f);
  Post(1);
  Post(3);
  EXPECT_FLOAT_EQ(node->FindValueSet(Obj())->ValueOr(gainFactor, 0.0f), 1.0f);

  Post(4);
  ASSERT_NE(node->FxSlots(), nullptr);
  EXPECT_EQ(node->FxSlots()->bypass, 0x05);
  Post(5);
  EXPECT_EQ(node->FxSlots()->bypass, 0);

  // A node command reaches its target with the object and playing id; another scope is refused.
  const uint32_t playingId = Post(6);
  ASSERT_EQ(node->actions.size(), 1u);
  EXPECT_EQ(uint32_t(node->actions[0].kind), SN::CSnActionNodeCommand::kNodeCommandKind);
  EXPECT_EQ(node->actions[0].playingId, playingId);
  EXPECT_EQ(node->actions[0].gameObject, Obj());
  EXPECT_TRUE(Logged("a node command of type 0x1F04 has no target"));

  TriggerLog log;
  {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    ASSERT_EQ(SN::g_pStateMgr->AddTriggerSubscriber(&log, Obj()), SN::SN_Success);
  }
  Post(7);
  EXPECT_EQ(log.triggers, std::vector<uint32_t>{321});
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::g_pStateMgr->RemoveTriggerSubscriber(&log);
}

}  // namespace

namespace {

struct EndLog {
  static std::vector<uint32_t>& Ended() {
    static std::vector<uint32_t> ended;
    return ended;
  }
  static void Callback(uint32_t type, SN::SnCallbackInfo* info) {
    if (type == SN::SnCallback_EndOfEvent) Ended().push_back(static_cast<SN::SnEventCallbackInfo*>(info)->playingId);
  }
};

class SeekAndEndTest : public EventActionTest {
 protected:
  void TearDown() override {
    EndLog::Ended().clear();
    EventActionTest::TearDown();
  }
};

TEST_F(SeekAndEndTest, SeekActionsCarryTheirModeAndFlagToTheTargetOrTheRoots) {
  Object parent{kParentType, 50, {}};
  BankAction byFraction = MakeAction(10, 0x1E03, 60), byTime = MakeAction(11, 0x1E04, 0);
  byFraction.seekMode = 1;
  byFraction.seekFlag = 1;
  byFraction.value = 0.5f;
  byTime.value = 1500.0f;
  ASSERT_EQ(Load({parent, Leaf(60, 50)}, {byFraction, byTime}, {{1, {10}}, {2, {11}}}), SN::SN_Success);
  Post(1);
  ASSERT_EQ(Node(60)->actions.size(), 1u);
  EXPECT_EQ(Node(60)->actions[0].kind, SnActionParams::Seek);
  EXPECT_FLOAT_EQ(Node(60)->actions[0].seek.fraction, 0.5f);
  EXPECT_EQ(Node(60)->actions[0].seekFlags, 3);
  EXPECT_EQ(Node(60)->actions[0].gameObject, Obj());
  Post(2);
  ASSERT_EQ(Node(50)->actions.size(), 1u);
  EXPECT_EQ(Node(50)->actions[0].seek.ms, 1500);
  EXPECT_EQ(Node(50)->actions[0].seekFlags, 0);
  EXPECT_EQ(Node(50)->actions[0].gameObject, nullptr);
}

TEST_F(SeekAndEndTest, APlayWhoseTargetIsMissingStillEndsItsPlayingId) {
  ASSERT_EQ(Load({}, {MakeAction(10, 0x0403, 999)}, {{1, {10}}}), SN::SN_Success);
  const uint32_t playingId = SN::SoundEngine::PostEvent(1, kObject, SN::SnCallback_EndOfEvent, &EndLog::Callback);
  ASSERT_NE(playingId, 0u);
  SN::SoundEngine::RenderAudio();
  EXPECT_TRUE(Logged("node 999 is not loaded"));
  EXPECT_EQ(EndLog::Ended(), std::vector<uint32_t>{playingId});
}

}  // namespace
