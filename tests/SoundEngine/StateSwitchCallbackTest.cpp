// States, triggers, prepared game syncs, switches, playing-id callbacks and play positions through
// their managers, with the engine running synchronously.
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Clock.h"
#include "SoundEngine/Callbacks/BusCallbackMgr.h"
#include "SoundEngine/Callbacks/PlayPositionStore.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/GameSyncHooks.h"
#include "SoundEngine/PoolObject.h"
#include "tests/SoundEngine/GameSyncFakes.h"
#include "tests/Support/WaitFor.h"

namespace {

using namespace SN;

class SoundStateTest : public SoundTest::GameSyncFixture {};

std::vector<std::pair<uint32_t, uint32_t>>& HookCalls() {
  static std::vector<std::pair<uint32_t, uint32_t>> calls;
  return calls;
}

TEST_F(SoundStateTest, StateChangesMoveUserPropertiesAndAskTheHook) {
  Start();
  CSnStateMgr& states = *g_pStateMgr;
  ASSERT_EQ(states.AddStateGroup(1), SN_Success);
  EXPECT_EQ(states.SetDefaultTransitionTime(2, 100), SN_StateGroupNotFound);
  states.SetDefaultTransitionTime(1, 105);      // 5 frames
  states.AddStateTransition(1, 10, 20, 42, true);  // 2 frames both ways
  SoundTest::FakeStateNode node;
  node.sets[10].count = 6;
  for (uint8_t i = 0; i < 6; ++i) node.sets[10].entries[i] = {i, float(i + 1)};
  SoundTest::FakeStateUser user(&node);
  ASSERT_EQ(states.RegisterStateUser(1, &user), SN_Success);
  SoundTest::FakeMusicContext music;
  states.AddStateSubscriber(&music, 1);
  HookCalls().clear();
  SoundEngine::SetStateChangeHook([](uint32_t group, uint32_t state) {
    HookCalls().push_back({group, state});
    return state == 99;  // takes 99 over
  });

  states.SetState(1, 10, false, false);  // from 0: the default time
  EXPECT_EQ(g_pTransitionMgr->StateCount(), 6u);
  EXPECT_EQ(node.activity, std::vector<uint32_t>(6, 3u));
  Frames(5);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_NEAR(user.applied[i], float(i + 1), 0.05f) << i;  // decibel ones pass through gain
  EXPECT_EQ(g_pTransitionMgr->StateCount(), 0u);

  states.SetState(1, 20, false, false);  // the pair's time back to the empty set
  Frames(1);
  EXPECT_NEAR(user.applied[2], 1.5f, 1e-4);  // linear, halfway
  Frames(1);
  EXPECT_EQ(user.applied[2], 0.0f);
  EXPECT_EQ(states.GetCurrentState(1), 20u);

  states.SetState(1, 20, false, false);  // unchanged: nothing
  states.SetState(1, 99, false, false);  // the hook takes it
  EXPECT_EQ(states.GetCurrentState(1), 20u);
  states.SetState(1, 99, false, true);  // its later re-application
  EXPECT_EQ(states.GetCurrentState(1), 99u);
  EXPECT_EQ(HookCalls().size(), 4u);  // asked before the unchanged state is noticed
  EXPECT_EQ(music.states, (std::vector<uint32_t>{10, 20, 99}));

  // A follower that leaves during its notification is removed after the pass.
  SoundTest::FakeMusicContext second;
  states.AddStateSubscriber(&second, 1);
  music.onState = [&] { states.RemoveStateSubscriber(&music); };
  states.SetState(1, 10, true, false);
  EXPECT_EQ(second.states.back(), 10u);
  states.SetState(1, 20, true, false);
  EXPECT_EQ(music.states.back(), 10u);
  EXPECT_EQ(second.states.back(), 20u);
  SoundEngine::SetStateChangeHook(nullptr);
  states.UnregisterStateUser(1, &user);
  states.RemoveStateSubscriber(&second);
  SN::SoundEngine::Term();  // the user goes with this scope
}

TEST_F(SoundStateTest, TriggersAndPreparedGameSyncs) {
  Start();
  CSnStateMgr& states = *g_pStateMgr;
  CSnRegisteredObj* g = g_pRegistryMgr->RegisterGameObj(3, 1);
  SoundTest::FakeMusicContext any, onG;
  states.AddTriggerSubscriber(&any, nullptr);
  states.AddTriggerSubscriber(&onG, g);
  states.Trigger(5, nullptr);
  states.Trigger(6, g);
  EXPECT_EQ(any.triggers, (std::vector<uint32_t>{5}));
  EXPECT_EQ(onG.triggers, (std::vector<uint32_t>{5, 6}));
  states.RemoveTriggerSubscriber(&any);
  states.RemoveTriggerSubscriber(&onG);

  struct Listener : ISnPreparedGameSyncListener {
    SNRESULT PrepareGameSyncValue(uint32_t value, bool prepare) override {
      calls.push_back({value, prepare});
      return value == 13 && prepare ? SN_InsufficientMemory : SN_Success;
    }
    std::vector<std::pair<uint32_t, bool>> calls;
  } first, second;
  states.AddPreparedListener(SnGameSyncGroup_Switch, 4, &first);
  states.AddPreparedListener(SnGameSyncGroup_Switch, 4, &second);
  EXPECT_EQ(states.PrepareGameSyncValue(SnGameSyncGroup_Switch, 4, 12, false), SN_Success);
  EXPECT_TRUE(first.calls.empty());
  EXPECT_EQ(states.PrepareGameSyncValue(SnGameSyncGroup_Switch, 4, 12, true), SN_Success);
  EXPECT_TRUE(states.IsGameSyncValuePrepared(SnGameSyncGroup_Switch, 4, 12));
  // The first listener refuses 13: nothing is kept and nobody was told twice.
  EXPECT_EQ(states.PrepareGameSyncValue(SnGameSyncGroup_Switch, 4, 13, true), SN_InsufficientMemory);
  EXPECT_FALSE(states.IsGameSyncValuePrepared(SnGameSyncGroup_Switch, 4, 13));
  EXPECT_TRUE(second.calls.size() == 1);
  uint32_t values[4];
  EXPECT_EQ(states.CopyPreparedValues(SnGameSyncGroup_Switch, 4, values, 4), 1u);
  EXPECT_FALSE(states.IsGameSyncValuePrepared(SnGameSyncGroup_State, 4, 12));
}

TEST_F(SoundStateTest, SwitchesPerObjectAndFollowingAParameter) {
  Start();
  CSnSwitchMgr& switches = *g_pSwitchMgr;
  CSnRegisteredObj* a = g_pRegistryMgr->RegisterGameObj(1, 1);
  CSnRegisteredObj* b = g_pRegistryMgr->RegisterGameObj(2, 1);
  SoundTest::FakeSwitchSubscriber container, mover;
  ASSERT_EQ(switches.SubscribeSwitch(&container, 1), SN_Success);
  switches.SubscribeSwitch(&mover, 1);
  switches.SubscribeSwitch(&mover, 2);  // moved
  ASSERT_TRUE(switches.GetOrCreateSwitchGroup(1)->SetSwitch(11, a));
  EXPECT_EQ(container.switches, (std::vector<uint32_t>{11}));
  EXPECT_TRUE(mover.switches.empty());
  EXPECT_EQ(switches.GetCurrentSwitch(1, SnRTPCKey::ForObject(a)), 11u);
  EXPECT_EQ(switches.GetCurrentSwitch(1, SnRTPCKey::ForObject(b)), 0u);
  EXPECT_EQ(switches.GetCurrentSwitch(9, SnRTPCKey::ForObject(a)), 0u);

  const SnSwitchGraphPoint points[3] = {{0, 100, SnCurve_Constant}, {50, 200, SnCurve_Constant}, {100, 300, SnCurve_Constant}};
  ASSERT_EQ(switches.SetGroupRTPCCurve(2, 50, 0, points, 3), SN_Success);
  const SnRTPCKey keyA = SnRTPCKey::ForObject(a);
  auto at = [&](float value) {
    g_pRTPCMgr->SetRTPCImmediate(50, value, keyA);
    return switches.GetCurrentSwitch(2, keyA);
  };
  EXPECT_EQ(at(-10), 100u);
  EXPECT_EQ(at(49.9f), 100u);
  EXPECT_EQ(at(50), 200u);
  EXPECT_EQ(at(100), 300u);
  EXPECT_EQ(mover.switches, (std::vector<uint32_t>{200, 300}));
  switches.GetOrCreateSwitchGroup(2)->SetSwitch(999, a);  // stored, nobody told
  EXPECT_EQ(mover.switches.size(), 2u);
  EXPECT_EQ(switches.GetCurrentSwitch(2, keyA), 300u);

  // Unsubscribing during the pass: not told again, removed at its end.
  mover.onChange = [&] {
    switches.UnsubscribeSwitches(&mover);
    switches.SubscribeSwitch(&container, 2);
  };
  at(0);
  EXPECT_EQ(mover.switches.size(), 3u);
  at(60);
  EXPECT_EQ(mover.switches.size(), 3u);
  EXPECT_EQ(container.switches.back(), 200u);

  g_pRegistryMgr->UnregisterGameObj(1);
  EXPECT_EQ(switches.GetCurrentSwitch(1, SnRTPCKey::ForObject(a)), 0u);
  switches.UnsubscribeSwitches(&container);
}

struct CallbackLog {
  static CallbackLog& Get() {
    static CallbackLog log;
    return log;
  }
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // type, playing id
  Platform::Event entered{Platform::Event::Reset::Manual};
  Platform::Event release{Platform::Event::Reset::Manual};
  bool block = false;
  bool cancelInside = false;
};

void RecordCallback(uint32_t type, SnCallbackInfo* info) {
  CallbackLog& log = CallbackLog::Get();
  log.calls.push_back({type, static_cast<SnEventCallbackInfo*>(info)->playingId});
  if (log.cancelInside) g_pPlayingIDCallbackMgr->CancelEventCallbackCookie(info->cookie);  // returns: its own
  if (log.block) {
    log.entered.Set();
    OrvTest::WaitUntilSet(log.release, "log.release to be set");
  }
}

class SoundCallbackTest : public SoundTest::GameSyncFixture {
 protected:
  void SetUp() override {
    GameSyncFixture::SetUp();
    CallbackLog::Get().calls.clear();
    CallbackLog::Get().block = CallbackLog::Get().cancelInside = false;
    CallbackLog::Get().entered.Clear();
    CallbackLog::Get().release.Clear();
    Start();
  }
  void Post(uint32_t playingId, uint32_t flags) {
    SnPlayingIdParams params;
    params.gameObjectId = 0;
    params.playingId = playingId;
    ASSERT_EQ(g_pPlayingIDCallbackMgr->AddPlayingID(params, RecordCallback, this, flags, 1000 + playingId), SN_Success);
  }
};

TEST_F(SoundCallbackTest, APlayingIdEndsAfterItsLastActionAndPlayback) {
  CSnPlayingIDCallbackMgr& callbacks = *g_pPlayingIDCallbackMgr;
  EXPECT_EQ(g_pPlayingIdPendingCounts, &callbacks);
  Post(5, SnCallback_EndOfEvent | SnCallback_Marker);
  std::vector<uint32_t> ran;
  auto* action = PoolNew<SoundTest::FakeAction>(g_DefaultPoolId, 1u, uint16_t(SnAction_Play), 3u * 1024u, &ran);
  g_pObjectIndex->List(SnIndex_Actions).Insert(action);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    g_pAudioMgr->ScheduleAction(PoolNew<CSnPendingActionItem>(g_DefaultPoolId, action, 5u));
  }
  action->Release();  // the pending record holds it now
  callbacks.ReleasePendingActionRef(5);  // the posting itself is done
  uint32_t flags = 0;
  callbacks.AddPlaybackRef(5, &flags);
  EXPECT_EQ(flags, uint32_t(SnCallback_EndOfEvent | SnCallback_Marker));
  callbacks.NotifyMarker(5, 1, 480, "cue");
  Frames(4);
  EXPECT_EQ(ran.size(), 1u);
  EXPECT_EQ(callbacks.Count(), 1u);  // the playback still holds it
  callbacks.ReleasePlaybackRef(5);
  EXPECT_EQ(callbacks.Count(), 0u);
  EXPECT_EQ(CallbackLog::Get().calls,
            (std::vector<std::pair<uint32_t, uint32_t>>{{SnCallback_Marker, 5}, {SnCallback_EndOfEvent, 5}}));
  EXPECT_EQ(callbacks.GetGameObjectFromPlayingID(5), kInvalidGameObjectId);

  // Without a callback only the tracking bits stay.
  SnPlayingIdParams params;
  params.playingId = 6;
  callbacks.AddPlayingID(params, nullptr, nullptr, SnCallback_EndOfEvent | SnCallback_EnableGetSourcePlayPosition, 1);
  callbacks.AddPlaybackRef(6, &flags);
  EXPECT_EQ(flags, uint32_t(SnCallback_EnableGetSourcePlayPosition));
}

// Whether thread `tid` of this process is asleep in the kernel, as a thread blocked on a lock or a
// condition is ('S' after the name in its stat line). Without /proc it counts as asleep, so that
// no caller waits for ever on it.
bool ThreadSleeps(uint64_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t name = line.rfind(')');
  return name == std::string::npos || name + 2 >= line.size() || line[name + 2] == 'S';
}

// A game thread cancelling: whether it returned, and whether it sleeps (then it waits on something).
struct CancellingThread {
  template <typename Cancel>
  explicit CancellingThread(Cancel cancel)
      : thread([this, cancel] {
          id = Platform::CurrentThreadId();
          cancel();
          returned = true;
        }) {}
  bool ReturnedOrSleeps() const { return returned.load() || (id.load() && ThreadSleeps(id.load())); }
  std::atomic<uint64_t> id{0};
  std::atomic<bool> returned{false};
  OrvTest::WaitedThread thread;
};

TEST_F(SoundCallbackTest, CancelWaitsForACallbackRunningElsewhereButNotForItself) {
  CSnPlayingIDCallbackMgr& callbacks = *g_pPlayingIDCallbackMgr;
  Post(7, SnCallback_Marker);
  CallbackLog::Get().block = true;
  OrvTest::WaitedThread audio([&] { callbacks.NotifyMarker(7, 1, 0, nullptr); });
  OrvTest::WaitUntilSet(CallbackLog::Get().entered, "CallbackLog.entered to be set");
  CancellingThread game([&] { callbacks.CancelEventCallback(7); });
  // The callback stays held until the cancel has taken the entry's callback away (its flags show
  // it) and then either returned or gone to sleep: it has nothing left to sleep on but the callback.
  OrvTest::WaitUntil(
      [&] {
        uint32_t flags = SnCallback_Marker;
        callbacks.AddPlaybackRef(7, &flags);
        callbacks.ReleasePlaybackRef(7);  // the posting's own reference keeps the entry
        return !(flags & SnCallback_Marker);
      },
      "the cancel to take the marker callback away");
  OrvTest::WaitUntil([&] { return game.ReturnedOrSleeps(); }, "the cancelling thread to return or sleep");
  EXPECT_FALSE(game.returned.load()) << "the cancel returned while the callback still ran";
  CallbackLog::Get().release.Set();
  audio.Join("the marker callback to return");
  game.thread.Join("the cancel to return");
  EXPECT_TRUE(game.returned.load());
  callbacks.NotifyMarker(7, 2, 0, nullptr);
  EXPECT_EQ(CallbackLog::Get().calls.size(), 1u);

  // Cancelling from inside a callback on this thread does not wait for itself.
  CallbackLog::Get().block = false;
  CallbackLog::Get().cancelInside = true;
  Post(8, SnCallback_Marker);
  callbacks.NotifyMarker(8, 1, 0, nullptr);
  EXPECT_EQ(CallbackLog::Get().calls.size(), 2u);
}

// Sources whose last release, run by a playing id's end inside its table's lock, holds that thread
// there until the test lets it go.
struct HeldSources final : CSnRefCountedObject {
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override {
    if (--refs == 0) {
      entered.Set();
      OrvTest::WaitUntilSet(release, "release to be set");
    }
    return refs;
  }
  std::atomic<uint32_t> refs{0};
  Platform::Event entered{Platform::Event::Reset::Manual};
  Platform::Event release{Platform::Event::Reset::Manual};
};

// A cancel queued behind the thread that ends a playing id: that thread counts the end-of-event
// callback as running before it lets the table's lock go, so the cancel, taking the lock next,
// waits for the callback it can no longer stop.
TEST_F(SoundCallbackTest, ACancelBehindAnEndingPlayingIdWaitsForItsCallback) {
  CSnPlayingIDCallbackMgr& callbacks = *g_pPlayingIDCallbackMgr;
  HeldSources sources;
  SnPlayingIdParams params;
  params.playingId = 12;
  params.externalSources = &sources;
  ASSERT_EQ(callbacks.AddPlayingID(params, RecordCallback, this, SnCallback_EndOfEvent, 1012), SN_Success);
  CallbackLog::Get().block = true;
  OrvTest::WaitedThread audio([&] { callbacks.ReleasePendingActionRef(12); });  // the posting's: the end
  OrvTest::WaitUntilSet(sources.entered, "sources.entered to be set");
  CancellingThread game([&] { callbacks.CancelEventCallback(12); });
  // The cancel sleeps on the table's lock, which the ending thread holds.
  OrvTest::WaitUntil([&] { return game.ReturnedOrSleeps(); }, "the cancelling thread to return or sleep");
  EXPECT_FALSE(game.returned.load());
  sources.release.Set();
  OrvTest::WaitUntilSet(CallbackLog::Get().entered, "CallbackLog.entered to be set");
  OrvTest::WaitUntil([&] { return game.ReturnedOrSleeps(); }, "the cancelling thread to return or sleep");
  EXPECT_FALSE(game.returned.load()) << "the cancel returned while the end-of-event callback still ran";
  CallbackLog::Get().release.Set();
  audio.Join("the playing id's end to return");
  game.thread.Join("the cancel to return");
  EXPECT_EQ(CallbackLog::Get().calls, (std::vector<std::pair<uint32_t, uint32_t>>{{SnCallback_EndOfEvent, 12}}));
}

// While one thread ends a playing id and holds its part of the table, a game thread registers, ends
// and asks after playing ids in every other part without waiting; one that falls in the held part
// waits until the end is done. Then threads add and end thousands of playing ids at once, growing
// every part, while one cancels a cookie: each end-of-event callback is called once, none of the
// cancelled cookie's once the cancel has returned, and nothing is left.
TEST_F(SoundCallbackTest, PlayingIdsInOtherPartsOfTheTableGoOnWhileOneEnds) {
  CSnPlayingIDCallbackMgr& callbacks = *g_pPlayingIDCallbackMgr;
  constexpr uint32_t kParts = CSnPlayingIDCallbackMgr::kStripes;
  HeldSources sources;
  SnPlayingIdParams params;
  params.playingId = 3 * kParts;
  params.externalSources = &sources;
  ASSERT_EQ(callbacks.AddPlayingID(params, nullptr, nullptr, 0, 1), SN_Success);
  OrvTest::WaitedThread ending([&] { callbacks.ReleasePendingActionRef(3 * kParts); });
  OrvTest::WaitUntilSet(sources.entered, "sources.entered to be set");
  Platform::Event others{Platform::Event::Reset::Manual};
  OrvTest::WaitedThread game([&] {
    for (uint32_t id = 3 * kParts + 1; id < 4 * kParts; ++id) {
      SnPlayingIdParams other;
      other.playingId = id;
      if (callbacks.AddPlayingID(other, nullptr, nullptr, 0, 1) != SN_Success || !callbacks.IsPlayingIdActive(id)) return;
      callbacks.ReleasePendingActionRef(id);
    }
    others.Set();
  });
  const bool othersWent =
      OrvTest::WaitUntilSet(others, "the registrations of other playing ids (one waited for another playing id)");
  if (!othersWent) sources.release.Set();
  game.Join("the registrations of other playing ids to return");
  SnPlayingIdParams same;
  same.playingId = 5 * kParts;
  CancellingThread held([&] { callbacks.AddPlayingID(same, nullptr, nullptr, 0, 1); });
  OrvTest::WaitUntil([&] { return held.ReturnedOrSleeps(); }, "the registering thread to return or sleep");
  EXPECT_EQ(held.returned.load(), !othersWent) << "a playing id of the held part went in while it was held";
  sources.release.Set();
  ending.Join("the playing id's end to return");
  held.thread.Join("the registration in the held part to return");
  callbacks.ReleasePendingActionRef(5 * kParts);
  EXPECT_EQ(callbacks.Count(), 0u);

  // Four threads, 3,000 playing ids each, half with the cookie cancelled midway.
  struct Ends {
    std::atomic<uint32_t> calls[4 * 3000] = {};
    std::atomic<bool> cancelled{false};
    std::atomic<uint32_t> late{0};
  };
  static Ends* ends = nullptr;
  auto ownEnds = std::make_unique<Ends>();
  ends = ownEnds.get();
  static int kept = 0, dropped = 0;
  const SnCallbackFunc count = [](uint32_t, SnCallbackInfo* info) {
    const uint32_t id = static_cast<SnEventCallbackInfo*>(info)->playingId;
    ends->calls[id - 1].fetch_add(1);
    if (info->cookie == &dropped && ends->cancelled) ++ends->late;
  };
  std::vector<OrvTest::WaitedThread> threads;
  Platform::Event added{Platform::Event::Reset::Manual};
  std::atomic<uint32_t> ready{0};
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (uint32_t i = 0; i < 3000; ++i) {
        SnPlayingIdParams one;
        one.playingId = 1 + t + 4 * i;
        callbacks.AddPlayingID(one, count, i % 2 ? &dropped : &kept, SnCallback_EndOfEvent, 1);
      }
      if (++ready == 4) added.Set();
      OrvTest::WaitUntilSet(added, "added to be set");
      for (uint32_t i = 0; i < 3000; ++i) {
        callbacks.AddPlaybackRef(1 + t + 4 * i, nullptr);
        callbacks.ReleasePendingActionRef(1 + t + 4 * i);
        callbacks.ReleasePlaybackRef(1 + t + 4 * i);
      }
    });
  OrvTest::WaitedThread cancel([&] {
    OrvTest::WaitUntilSet(added, "added to be set");
    callbacks.CancelEventCallbackCookie(&dropped);
    ends->cancelled = true;
  });
  for (OrvTest::WaitedThread& thread : threads) thread.Join("a thread's playing ids to end");
  cancel.Join("the cookie's cancel to return");
  EXPECT_EQ(callbacks.Count(), 0u);
  EXPECT_EQ(ends->late, 0u);
  uint32_t keptCalls = 0, droppedCalls = 0;
  for (uint32_t id = 1; id <= 4 * 3000; ++id) {
    const uint32_t calls = ends->calls[id - 1];
    EXPECT_LE(calls, 1u) << "playing id " << id;
    ((id - 1) / 4 % 2 ? droppedCalls : keptCalls) += calls;
  }
  EXPECT_EQ(keptCalls, 2u * 3000u);
  EXPECT_LE(droppedCalls, 2u * 3000u);
  ends = nullptr;
}

TEST_F(SoundCallbackTest, PositionsExtrapolateUnderAReplacedClock) {
  Platform::SetTickSource(&SoundTest::ManualClock::Now);
  CSnPlayPositionStore& store = *g_pPlayPositionStore;
  uint32_t ms = 99;
  store.AddSourceEntry(9, 42);
  EXPECT_EQ(store.GetSourcePlayPosition(9, ms, true), SN_Failure);
  EXPECT_EQ(ms, 0u);
  store.RefreshRenderTimestamp();
  store.UpdatePosition(9, {48000, 1.0f, 96000, 48000}, 42);
  store.UpdatePosition(9, {0, 1.0f, 96000, 48000}, 41);  // another voice's report: ignored
  ASSERT_EQ(store.GetSourcePlayPosition(9, ms, false), SN_Success);
  EXPECT_EQ(ms, 1000u);
  SoundTest::ManualClock::AdvanceMs(250);
  store.GetSourcePlayPosition(9, ms, true);
  EXPECT_EQ(ms, 1250u);
  SoundTest::ManualClock::AdvanceMs(5000);
  store.GetSourcePlayPosition(9, ms, true);
  EXPECT_EQ(ms, 2000u);  // never past the duration
  store.SetRate(9, 0.0f);
  uint32_t again = 0;
  store.GetSourcePlayPosition(9, ms, true);
  SoundTest::ManualClock::AdvanceMs(100);
  store.GetSourcePlayPosition(9, again, true);
  EXPECT_EQ(ms, again);

  int32_t value = 0;
  uint32_t status = 0;
  store.UpdateBuffering(9, 50, 1, 3);
  store.UpdateBuffering(9, 20, 0, 3);
  ASSERT_EQ(store.GetSourceStreamBuffering(9, value, status), SN_Success);
  EXPECT_EQ(value, 20);
  EXPECT_EQ(status, 1u);
  store.UpdateBuffering(9, 70, 0, 4);
  store.GetSourceStreamBuffering(9, value, status);
  EXPECT_EQ(status, 0u);
  store.RemovePlayingId(9);
  EXPECT_EQ(store.GetSourcePlayPosition(9, ms, true), SN_Failure);

  EXPECT_EQ(CSnBusCallbackMgr::Get().RegisterBusVolumeCallback(3, [](void*) {}), SN_Success);
  EXPECT_TRUE(CSnBusCallbackMgr::Get().HasVolumeCallback(3));
  CSnBusCallbackMgr::Get().RegisterBusVolumeCallback(3, nullptr);
  EXPECT_FALSE(CSnBusCallbackMgr::Get().DoVolumeCallback(3, nullptr));
}

}  // namespace
