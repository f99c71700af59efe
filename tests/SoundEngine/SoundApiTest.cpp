// The game-facing API: the name hash, the shared math, refusals on the caller's thread, and each
// queued change showing on the game-sync managers after one render, also from several threads.
#include <cmath>
#include <limits>
#include <numbers>
#include <set>
#include <string>
#include <thread>

#include "Base/MathUtil.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/SnMath.h"
#include "tests/SoundEngine/SoundApiFakes.h"

using namespace SN;
using namespace SN::SoundEngine;

namespace {

class SoundApiTest : public SoundTest::ApiFixture {};

TEST(SoundNameHashTest, VectorsCutsAndWideTwins) {
  EXPECT_EQ(GetIDFromString("abc"), 0x439C2F4Bu);
  EXPECT_EQ(GetIDFromString("ABC"), 0x439C2F4Bu);
  EXPECT_EQ(GetIDFromString("none"), 0x2CA33BDBu);
  EXPECT_EQ(GetIDFromString(""), 0x811C9DC5u);
  EXPECT_EQ(GetIDFromString(static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(GetIDFromString(static_cast<const char16_t*>(nullptr)), 0u);
  EXPECT_EQ(GetIDFromString(u"AbC"), 0x439C2F4Bu);

  // Narrow names count up to 259 characters.
  std::string long300(300, 'x');
  for (size_t i = 0; i < long300.size(); ++i) long300[i] = char('a' + i % 26);
  EXPECT_EQ(GetIDFromString(long300.c_str()), GetIDFromString(long300.substr(0, 259).c_str()));
  EXPECT_NE(GetIDFromString(long300.substr(0, 259).c_str()), GetIDFromString(long300.substr(0, 258).c_str()));

  // Wide names count up to 258: equal to the narrow twin up to there, one short at 259.
  auto wide = [](const std::string& s) { return std::u16string(s.begin(), s.end()); };
  for (size_t length : {1u, 32u, 258u})
    EXPECT_EQ(GetIDFromString(wide(long300.substr(0, length)).c_str()), GetIDFromString(long300.substr(0, length).c_str()));
  EXPECT_NE(GetIDFromString(wide(long300.substr(0, 259)).c_str()), GetIDFromString(long300.substr(0, 259).c_str()));
  EXPECT_EQ(GetIDFromString(wide(long300).c_str()), GetIDFromString(long300.substr(0, 258).c_str()));
}

TEST(SoundMathTest, AnglesBeyondOneTurnComeBackInsideIt) {
  constexpr float pi = std::numbers::pi_v<float>;
  EXPECT_NEAR(DegreesToRadians(90.0f), pi / 2, 1e-6f);
  EXPECT_NEAR(DegreesToRadians(370.0f), DegreesToRadians(10.0f), 1e-5f);
  EXPECT_NEAR(DegreesToRadians(-725.0f), DegreesToRadians(-5.0f), 1e-5f);
  EXPECT_NEAR(RadiansToDegrees(pi), 180.0f, 1e-4f);
  EXPECT_NEAR(RadiansToDegrees(2 * pi + 0.5f), RadiansToDegrees(0.5f), 1e-3f);

  const float a[3] = {1, 2, 3}, b[3] = {4, 6, 3};
  EXPECT_FLOAT_EQ(Distance(a, b), 5.0f);
  EXPECT_FLOAT_EQ(InterpolateClamped(0, 10, 2, 20, -1), 10.0f);
  EXPECT_FLOAT_EQ(InterpolateClamped(0, 10, 2, 20, 1), 15.0f);
  EXPECT_FLOAT_EQ(InterpolateClamped(0, 10, 2, 20, 3), 20.0f);
  float zero[3] = {0, 0, 0}, nan[3] = {NAN, 1, 0}, v[3] = {3, 0, 4};
  Normalize(zero);
  Normalize(nan);
  Normalize(v);
  EXPECT_EQ(zero[0], 0.0f);
  EXPECT_TRUE(std::isnan(nan[0]));
  EXPECT_FLOAT_EQ(nan[1], 1.0f);
  EXPECT_FLOAT_EQ(v[0], 0.6f);
  EXPECT_FLOAT_EQ(v[2], 0.8f);
}

TEST_F(SoundApiTest, BeforeInitAndAfterTermNothingIsQueued) {
  const SnSoundPosition position{};
  auto refusedEverywhere = [&] {
    EXPECT_EQ(RegisterGameObj(5), SN_Failure);
    EXPECT_EQ(SetPosition(5, position), SN_Failure);
    EXPECT_EQ(SetRTPCValue(1u, 1.0f), SN_Failure);
    EXPECT_EQ(SetState(1u, 2u), SN_Failure);
    EXPECT_EQ(PostEvent(1u, 5), 0u);
    EXPECT_EQ(PlaySourcePlugin(1, 2, 5), 0u);
    EXPECT_EQ(AddOutputCaptureMarker("m"), SN_Failure);
  };
  refusedEverywhere();
  Start();
  Term();
  refusedEverywhere();
}

TEST_F(SoundApiTest, GameObjectsTheirPositionsListenersSendsAndObstruction) {
  Start();
  EXPECT_EQ(RegisterGameObj(0), SN_InvalidParameter);
  EXPECT_EQ(RegisterGameObj(0xFFFFFFFFu), SN_InvalidParameter);
  EXPECT_EQ(RegisterGameObj(7, 256), SN_InvalidParameter);
  EXPECT_EQ(UnregisterGameObj(0), SN_Failure);
  EXPECT_EQ(SetPosition(0, SnSoundPosition{}), SN_Failure);
  EXPECT_EQ(SetActiveListeners(7, 256), SN_InvalidParameter);
  EXPECT_EQ(SetAttenuationScalingFactor(7, 0.0f), SN_InvalidParameter);
  EXPECT_EQ(SetMultiplePositions(7, nullptr, 2, 0), SN_InvalidParameter);
  EXPECT_EQ(SetMultiplePositions(7, nullptr, 0, 3), SN_InvalidParameter);
  const uint64_t refusedOnly = g_pAudioMgr->ProcessedMessageCount();
  Frames(1);
  EXPECT_EQ(g_pAudioMgr->ProcessedMessageCount(), refusedOnly);

  ASSERT_EQ(RegisterGameObj(7, "seven", 0x3), SN_Success);
  ASSERT_EQ(RegisterGameObj(8), SN_Success);
  const SnSoundPosition one{{1, 2, 3}, {0, 0, 1}};
  const SnSoundPosition two[2] = {{{4, 0, 0}, {0, 0, 1}}, {{5, 0, 0}, {0, 0, 1}}};
  const SnAuxSendValue sends[2] = {{100, 0.5f}, {200, 0.25f}};
  EXPECT_EQ(SetPosition(7, one), SN_Success);
  EXPECT_EQ(SetMultiplePositions(8, two, 2, 1), SN_Success);
  EXPECT_EQ(SetActiveListeners(8, 0x5), SN_Success);
  EXPECT_EQ(SetGameObjectAuxSendValues(7, sends, 5), SN_InvalidParameter);
  EXPECT_EQ(SetGameObjectAuxSendValues(7, sends, 2), SN_Success);
  EXPECT_EQ(SetGameObjectOutputBusVolume(7, 0.5f), SN_Success);
  EXPECT_EQ(SetObjectObstructionAndOcclusion(7, 1, 1.0f, 0.0f), SN_Success);
  EXPECT_EQ(SetAttenuationScalingFactor(7, 2.0f), SN_Success);
  // For an object nobody registered: dropped on the audio thread without a word.
  EXPECT_EQ(SetPosition(99, one), SN_Success);
  EXPECT_EQ(SetGameObjectOutputBusVolume(99, 0.5f), SN_Success);
  Frames(1);

  CSnRegisteredObj* seven = g_pRegistryMgr->Find(7);
  CSnRegisteredObj* eight = g_pRegistryMgr->Find(8);
  ASSERT_TRUE(seven && eight);
  EXPECT_EQ(g_pRegistryMgr->Find(99), nullptr);
  EXPECT_EQ(seven->ListenerMask(), 0x3);
  ASSERT_EQ(seven->Positions().count, 1);
  EXPECT_EQ(seven->Positions().positions[0].position[2], 3.0f);
  ASSERT_EQ(eight->Positions().count, 2);
  EXPECT_EQ(eight->Positions().multiPositionType & 7, 1);
  EXPECT_EQ(eight->Positions().positions[1].position[0], 5.0f);
  EXPECT_EQ(eight->ListenerMask(), 0x5);
  EXPECT_EQ(seven->AuxSend(1).auxBusId, 200u);
  EXPECT_EQ(seven->OutputBusVolume(), 0.5f);
  EXPECT_GT(seven->Obstruction(1), 0);
  EXPECT_EQ(seven->AttenuationScaling(), 2.0f);

  EXPECT_EQ(UnregisterGameObj(7), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pRegistryMgr->Find(7), nullptr);
  EXPECT_NE(g_pRegistryMgr->Find(8), nullptr);
  EXPECT_EQ(UnregisterAllGameObj(), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pRegistryMgr->Find(8), nullptr);
}

TEST_F(SoundApiTest, MultiplePositionsBeyondTheQueueAreRefused) {
  settings_.useAudioThread = 0;
  settings_.commandQueueBytes = 8192;
  ASSERT_EQ(Init(&settings_, nullptr), SN_Success);
  std::vector<SnSoundPosition> many(3000);
  EXPECT_EQ(SetMultiplePositions(1, many.data(), 2730, 0), SN_InvalidParameter);
  EXPECT_EQ(SetMultiplePositions(1, many.data(), 400, 0), SN_InvalidParameter);  // over the ring
  EXPECT_EQ(SetMultiplePositions(1, many.data(), 100, 0), SN_InvalidParameter);  // over a quarter of it
  EXPECT_EQ(SetMultiplePositions(1, many.data(), 50, 0), SN_Success);
}

TEST_F(SoundApiTest, ParametersStatesSwitchesAndTriggers) {
  Start();
  ASSERT_EQ(RegisterGameObj(3), SN_Success);
  EXPECT_EQ(SetRTPCValue(static_cast<const char*>(nullptr), 1.0f), SN_IdNotFound);
  EXPECT_EQ(SetState("", static_cast<const char*>(nullptr)), SN_IdNotFound);
  EXPECT_EQ(SetRTPCValueByPlayingID(10u, 1.0f, 12345), SN_InvalidParameter);

  // A value that is not a number is refused where it enters and leaves the stored one alone.
  EXPECT_EQ(SetRTPCValue("Speed", std::numeric_limits<float>::quiet_NaN()), SN_InvalidParameter);
  EXPECT_EQ(SetRTPCValue("Speed", std::numeric_limits<float>::infinity(), 3, 1000), SN_InvalidParameter);
  EXPECT_EQ(SetRTPCValue("Speed", 4.0f), SN_Success);
  EXPECT_EQ(SetRTPCValue(u"Speed", std::numeric_limits<float>::quiet_NaN(), 3), SN_InvalidParameter);
  EXPECT_EQ(SetRTPCValue(u"Speed", 6.0f, 3), SN_Success);
  EXPECT_EQ(SetRTPCValue(20u, 100.0f, 3, 1000), SN_Success);  // a one-second ramp from 0
  EXPECT_EQ(SetRTPCValue(21u, 1.0f, 99), SN_Success);         // unregistered: dropped
  Frames(1);
  const uint32_t speed = GetIDFromString("speed");
  float value = 0;
  ASSERT_TRUE(g_pRTPCMgr->GetValue(speed, SnRTPCKey{}, value));
  EXPECT_EQ(value, 4.0f);
  CSnRegisteredObj* three = g_pRegistryMgr->Find(3);
  ASSERT_TRUE(g_pRTPCMgr->GetValue(speed, SnRTPCKey::ForObject(three), value));
  EXPECT_EQ(value, 6.0f);
  ASSERT_TRUE(g_pRTPCMgr->GetValue(20, SnRTPCKey::ForObject(three), value));
  EXPECT_GT(value, 0.0f);
  EXPECT_LT(value, 100.0f);
  Frames(60);
  ASSERT_TRUE(g_pRTPCMgr->GetValue(20, SnRTPCKey::ForObject(three), value));
  EXPECT_EQ(value, 100.0f);
  EXPECT_EQ(ResetRTPCValue(20u, 3, 1000), SN_Success);  // back to the default over a second
  Frames(1);
  ASSERT_TRUE(g_pRTPCMgr->GetValue(20, SnRTPCKey::ForObject(three), value));
  EXPECT_GT(value, 0.0f);
  EXPECT_LT(value, 100.0f);

  CSnIndexedObject* event = AddIndexed(400, SnIndex_Events);
  events_.holdPlayingIds = true;
  const uint32_t playing = PostEvent(400u, 3);
  EXPECT_EQ(SetRTPCValueByPlayingID("Pitch", 0.5f, playing), SN_Success);
  Frames(1);
  ASSERT_TRUE(g_pRTPCMgr->GetValue(GetIDFromString("pitch"), SnRTPCKey::ForObjectAndPlayingId(three, playing), value));
  EXPECT_EQ(value, 0.5f);
  // Once the playing id ends, the values it owned go with it.
  g_pPlayingIDCallbackMgr->ReleasePendingActionRef(playing);
  EXPECT_FALSE(g_pRTPCMgr->HasExactValue(GetIDFromString("pitch"), SnRTPCKey::ForObjectAndPlayingId(three, playing)));
  event->Release();

  EXPECT_EQ(ResetRTPCValue(u"Speed", 3), SN_Success);
  EXPECT_EQ(ResetRTPCValue(speed), SN_Success);
  Frames(1);
  EXPECT_FALSE(g_pRTPCMgr->HasExactValue(speed, SnRTPCKey::ForObject(three)));

  ASSERT_EQ(g_pStateMgr->AddStateGroup(50), SN_Success);
  EXPECT_EQ(SetState(50u, 7u), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(50), 7u);
  EXPECT_EQ(SetState(50u, GetIDFromString("none")), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(50), 0u);
  EXPECT_EQ(QueueStateChange(50, 9, true, true), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pStateMgr->GetCurrentState(50), 9u);

  EXPECT_EQ(SetSwitch("Surface", "Gravel", 3), SN_Success);
  EXPECT_EQ(SetSwitch(60u, 61u, 99), SN_Success);
  Frames(1);
  EXPECT_EQ(g_pSwitchMgr->GetCurrentSwitch(GetIDFromString("surface"), SnRTPCKey::ForObject(three)),
            GetIDFromString("gravel"));

  SoundTest::FakeMusicContext music, global;
  ASSERT_EQ(g_pStateMgr->AddTriggerSubscriber(&music, three), SN_Success);
  ASSERT_EQ(g_pStateMgr->AddTriggerSubscriber(&global, nullptr), SN_Success);
  EXPECT_EQ(PostTrigger("Hit", 3), SN_Success);
  EXPECT_EQ(PostTrigger(70u, 0xFFFFFFFFu), SN_Success);
  EXPECT_EQ(PostTrigger(71u, 99), SN_Success);
  Frames(1);
  EXPECT_EQ(music.triggers, (std::vector<uint32_t>{GetIDFromString("hit"), 70u}));
  EXPECT_EQ(global.triggers, std::vector<uint32_t>{70u});
  g_pStateMgr->RemoveTriggerSubscriber(&music);
  g_pStateMgr->RemoveTriggerSubscriber(&global);
}

TEST_F(SoundApiTest, VoiceLimitAndThresholdKeepTheirPrecedence) {
  Start();
  EXPECT_EQ(SetMaxNumVoicesLimit(0), SN_InvalidParameter);
  EXPECT_EQ(ApplyMaxNumVoicesLimit(40, 2), SN_Success);  // a bank first: replaced by the API
  EXPECT_EQ(SetMaxNumVoicesLimit(64), SN_Success);
  EXPECT_EQ(ApplyMaxNumVoicesLimit(10, 2), SN_Success);  // a bank after the API: ignored
  EXPECT_EQ(MaxNumVoicesLimit(), 64);
  EXPECT_EQ(limitLower_.limits, (std::vector<uint16_t>{40, 64}));

  EXPECT_FLOAT_EQ(VolumeThresholdLinear(), 1.0f / 65536.0f);
  EXPECT_EQ(SetVolumeThreshold(-96.4f), SN_InvalidParameter);
  EXPECT_EQ(SetVolumeThreshold(0.1f), SN_InvalidParameter);
  EXPECT_EQ(ApplyVolumeThreshold(-20.0f, 2), SN_Success);
  EXPECT_EQ(VolumeThresholdDB(), -20.0f);
  for (float db : {-96.3f, -40.0f, 0.0f}) {
    EXPECT_EQ(SetVolumeThreshold(db), SN_Success);
    const float exact = std::pow(10.0f, db / 20.0f);
    EXPECT_GE(VolumeThresholdLinear(), exact);
    EXPECT_NEAR(VolumeThresholdLinear(), exact, exact * 0.01f) << db;
  }
  EXPECT_EQ(ApplyVolumeThreshold(-10.0f, 2), SN_Success);
  EXPECT_EQ(VolumeThresholdDB(), 0.0f);

  // Init starts both levels over.
  Term();
  Start();
  EXPECT_EQ(ApplyMaxNumVoicesLimit(12, 2), SN_Success);
  EXPECT_EQ(MaxNumVoicesLimit(), 12);
  EXPECT_FLOAT_EQ(VolumeThresholdLinear(), 1.0f / 65536.0f);
}

TEST_F(SoundApiTest, SeveralGameThreadsAtOnce) {
  Start();
  SN::CSnIndexedObject* event = AddIndexed(500, SnIndex_Events);
  constexpr int kThreads = 4, kPerThread = 200;
  std::vector<std::vector<uint32_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      const uint32_t object = 1000 + uint32_t(t);
      EXPECT_EQ(RegisterGameObj(object), SN_Success);
      for (int i = 0; i < kPerThread; ++i) {
        EXPECT_EQ(SetRTPCValue(uint32_t(t + 1), float(i), object), SN_Success);
        EXPECT_EQ(SetSwitch(9u, uint32_t(i), object), SN_Success);
        ids[t].push_back(PostEvent(500u, object));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Frames(1);
  std::set<uint32_t> unique;
  for (const auto& list : ids) unique.insert(list.begin(), list.end());
  EXPECT_EQ(unique.size(), size_t(kThreads * kPerThread));
  EXPECT_EQ(unique.count(0u), 0u);
  for (int t = 0; t < kThreads; ++t) {
    CSnRegisteredObj* object = g_pRegistryMgr->Find(1000 + uint32_t(t));
    ASSERT_NE(object, nullptr);
    float value = 0;
    ASSERT_TRUE(g_pRTPCMgr->GetValue(uint32_t(t + 1), SnRTPCKey::ForObject(object), value));
    EXPECT_EQ(value, float(kPerThread - 1));  // each thread's messages keep their order
    EXPECT_EQ(g_pSwitchMgr->GetCurrentSwitch(9, SnRTPCKey::ForObject(object)), uint32_t(kPerThread - 1));
  }
  EXPECT_EQ(events_.log.lines.size(), size_t(kThreads * kPerThread));
  EXPECT_EQ(event->RefCount(), 2u);  // every post's reference given back
  EXPECT_EQ(g_pPlayingIDCallbackMgr->Count(), 0u);  // every playing id ended with its actions
  event->Release();
}

// End-of-event callbacks that post twice again while the game keeps the ring full. A post made in
// the pass (here the one the game's own post runs on the full ring) never drains the ring: those
// that find it full wait aside, said once, and come in their order; none runs inside another's
// callback. Past their bound a post is refused, said once; every reference comes back.
struct Reposts {
  int depth = 0, deepest = 0;
  uint32_t left = 0;      // posts the callbacks may still make
  uint32_t next = 1000;   // the extra argument of the next one made: its place in the order
  uint32_t refused = 0;
};
Reposts* g_reposts = nullptr;

void Repost(uint32_t, SnCallbackInfo*) {
  Reposts& r = *g_reposts;
  r.deepest = std::max(r.deepest, ++r.depth);
  // A callback inside another's means the post drained the ring: the old road, down to the end of the
  // stack; it posts no more, so that the test can say so.
  for (int i = 0; i < 2 && r.left && r.depth == 1; ++i, --r.left) {
    if (PostEvent(400u, 3, SnCallback_EndOfEvent, &Repost, nullptr, 0, nullptr, r.next))
      ++r.next;
    else
      ++r.refused;
  }
  --r.depth;
}

// The lines of `log` that say `part` first, not the counts of its repeats.
size_t FirstSaid(const std::string& log, const std::string& part) {
  size_t count = 0;
  for (size_t at = 0, end; at < log.size(); at = end + 1) {
    end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    if (line.find(part) != std::string::npos && line.find(" times more)") == std::string::npos) ++count;
  }
  return count;
}

TEST_F(SoundApiTest, CallbacksPostingIntoAFullRingWaitAsideInTheirOrder) {
  InitSynchronous(2048);
  ASSERT_EQ(RegisterGameObj(3), SN_Success);
  SN::CSnIndexedObject* event = AddIndexed(400, SnIndex_Events);
  Reposts reposts;
  reposts.left = 3000;
  g_reposts = &reposts;
  const uint32_t ringPosts = 2048 / MessageSize<SnMsgPostEvent>();
  for (uint32_t i = 0; i < 4 * ringPosts; ++i)
    ASSERT_NE(PostEvent(400u, 3, SnCallback_EndOfEvent, &Repost, nullptr, 0, nullptr, i), 0u);
  for (int frame = 0; frame < 1000 && g_pPlayingIDCallbackMgr->Count(); ++frame) Frames(1);
  g_reposts = nullptr;
  EXPECT_EQ(reposts.deepest, 1) << "a post in a callback drained the ring and ran callbacks inside its own";
  EXPECT_EQ(reposts.left, 0u);
  EXPECT_GT(reposts.refused, 0u) << "the bursts never reached the bound of what waits aside";
  EXPECT_EQ(g_pPlayingIDCallbackMgr->Count(), 0u);
  // The game's posts and the callbacks' each in their order, every one made handled once.
  std::vector<uint32_t> game, callbacks;
  for (const std::string& line : events_.log.lines) {
    const uint32_t argument = uint32_t(std::stoul(line.substr(line.rfind(' ') + 1)));
    (argument < 1000 ? game : callbacks).push_back(argument);
  }
  ASSERT_EQ(game.size(), 4 * ringPosts);
  for (uint32_t i = 0; i < game.size(); ++i) EXPECT_EQ(game[i], i);
  ASSERT_EQ(callbacks.size(), reposts.next - 1000);
  for (uint32_t i = 0; i < callbacks.size(); ++i) ASSERT_EQ(callbacks[i], 1000 + i);
  const std::string log = log_.Take();
  EXPECT_EQ(FirstSaid(log, "waits aside for the next frame's room"), 1u) << log;
  EXPECT_EQ(FirstSaid(log, "is refused: the audio thread's messages waiting"), 1u) << log;
  EXPECT_EQ(event->RefCount(), 2u);  // every post's reference given back, the refused ones' too
  event->Release();
}

}  // namespace
