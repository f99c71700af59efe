// Game objects and game parameters through their managers: registration, positions and rays, sends,
// obstruction, the built-in parameters, values by scope, ramps, offsets, resets and subscriptions.
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "tests/SoundEngine/GameSyncFakes.h"

namespace {

using namespace SN;

class SoundGameObjectTest : public SoundTest::GameSyncFixture {
 protected:
  static SnSoundPosition At(float x, float y = 0.0f) { return SnSoundPosition{{x, y, 0}, {0, 0, 1}}; }
};

TEST_F(SoundGameObjectTest, ObjectsRegisterMoveAndKeepTheirSettings) {
  Start();
  CSnRegistryMgr& registry = *g_pRegistryMgr;
  ASSERT_NE(registry.Find(0), nullptr);
  EXPECT_EQ(registry.Find(0)->ListenerMask(), 0xFF);
  CSnRegisteredObj* object = registry.RegisterGameObj(5, 1);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(registry.RegisterGameObj(5, 3), object);
  EXPECT_EQ(object->ListenerMask(), 3);

  EXPECT_EQ(registry.SetPosition(6, At(1)), SN_Failure);
  EXPECT_EQ(registry.SetPosition(5, At(2)), SN_Success);
  EXPECT_EQ(object->Positions().count, 1);
  EXPECT_EQ(object->Positions().multiPositionType, 0);

  EXPECT_EQ(registry.SetActiveListeners(5, 4), SN_Success);
  ASSERT_EQ(listeners_.masks.size(), 1u);
  EXPECT_EQ(listeners_.masks[0], std::make_pair(3u, 4u));

  SnAuxSendValue five[5] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}};
  SnAuxSendValue four[4] = {{1, 0.5f}, {2, 0.0f}, {0, 1.0f}, {4, 0.25f}};
  ASSERT_EQ(registry.SetGameObjectAuxSendValues(5, four, 4), SN_Success);
  EXPECT_EQ(registry.SetGameObjectAuxSendValues(5, five, 5), SN_Failure);
  EXPECT_EQ(object->AuxSend(0).auxBusId, 1u);
  EXPECT_EQ(object->AuxSend(1).auxBusId, 4u);
  EXPECT_EQ(object->AuxSend(2).auxBusId, 0u);
  EXPECT_EQ(object->AuxSend(3).auxBusId, 0u);

  // Out-of-range obstruction is held to 0..1 instead of wrapping.
  EXPECT_EQ(registry.SetObjectObstructionAndOcclusion(5, 8, 0.5f, 0.5f), SN_Failure);
  EXPECT_EQ(registry.SetObjectObstructionAndOcclusion(5, 1, 1.5f, -0.5f), SN_Success);
  EXPECT_EQ(object->Obstruction(1), 255);
  EXPECT_EQ(object->Occlusion(1), 0);
  EXPECT_EQ(registry.SetObjectObstructionAndOcclusion(5, 1, 0.5f, 0.25f), SN_Success);
  EXPECT_EQ(object->Obstruction(1), 127);
  EXPECT_EQ(object->Occlusion(1), 63);

  EXPECT_EQ(registry.SetGameObjectOutputBusVolume(5, 0.5f), SN_Success);
  EXPECT_EQ(object->OutputBusVolume(), 0.5f);

  registry.RegisterGameObj(7, 1);
  registry.UnregisterAllGameObj();
  EXPECT_EQ(registry.RegisteredCount(), 1u);
  EXPECT_NE(registry.Find(0), nullptr);
}

TEST_F(SoundGameObjectTest, PositioningPublishesTheNearestRay) {
  Start();
  for (uint32_t slot = SnBuiltIn_Distance; slot <= SnBuiltIn_Occlusion; ++slot)
    ASSERT_EQ(g_pRTPCMgr->AddBuiltInParamBinding(slot, 100 + slot), SN_Success);
  CSnRegistryMgr& registry = *g_pRegistryMgr;
  CSnRegisteredObj* object = registry.RegisterGameObj(9, 0x5);  // listeners 0 and 2
  const SnSoundPosition three[3] = {At(0, 30), At(21, 0), At(40, 4)};
  ASSERT_EQ(registry.SetMultiplePositions(9, three, 3, 1), SN_Success);
  registry.SetObjectObstructionAndOcclusion(9, 2, 1.0f, 0.5f);
  EXPECT_EQ(object->CountEmitterListenerRays(0xFF), 6u);

  object->AddRef();  // a voice holds it, so the frame updates it
  // The frame's positioning runs after its messages: one message moves the object.
  SetMessageHandler(SnMsg_SetPosition, [](CSnAudioMgr&, const SnMsgHeader& header) {
    const auto& message = reinterpret_cast<const SnMsgSetPosition&>(header);
    g_pRegistryMgr->SetPosition(message.gameObject, message.position);
  });
  auto* move = g_pAudioMgr->Reserve<SnMsgSetPosition>(SnMsg_SetPosition);
  move->gameObject = 10;  // not registered: changes nothing
  g_pAudioMgr->FinishMessage();
  Frames(1);
  SetMessageHandler(SnMsg_SetPosition, nullptr);
  EXPECT_EQ(object->Rays().Count(), 6u);
  EXPECT_FALSE(object->IsDirty());
  const SnRTPCKey key = SnRTPCKey::ForObject(object);
  float value = 0;
  ASSERT_TRUE(g_pRTPCMgr->GetValue(101, key, value));
  EXPECT_FLOAT_EQ(value, 1.0f);  // (21, 0) from listener 2 at x = 20
  g_pRTPCMgr->GetValue(102, key, value);
  EXPECT_NEAR(value, 0.5f * 57.29578f, 1e-3);
  g_pRTPCMgr->GetValue(104, key, value);
  EXPECT_NEAR(value, 2.0f * 57.29578f, 1e-3);
  g_pRTPCMgr->GetValue(105, key, value);
  EXPECT_FLOAT_EQ(value, 100.0f);
  g_pRTPCMgr->GetValue(106, key, value);
  EXPECT_NEAR(value, 127.0f / 255.0f * 100.0f, 1e-4);
  EXPECT_TRUE(g_pRTPCMgr->HasExactValue(101, key));

  // Unregistered while held: still updated each frame, gone at the last release.
  registry.UnregisterGameObj(9);
  EXPECT_EQ(registry.UnregisteredReferencedCount(), 1u);
  registry.FlagObjectsForListeners(0x4);
  EXPECT_TRUE(object->IsDirty());
  const int raysBefore = listeners_.rays;
  g_pAudioMgr->Reserve<SnMsgSetPosition>(SnMsg_SetPosition)->gameObject = 10;
  g_pAudioMgr->FinishMessage();
  Frames(1);
  EXPECT_EQ(listeners_.rays, raysBefore + 6);
  object->Release();
  EXPECT_EQ(registry.UnregisteredReferencedCount(), 0u);
  EXPECT_FALSE(g_pRTPCMgr->HasExactValue(101, key));
}

class SoundParameterTest : public SoundTest::GameSyncFixture {
 protected:
  void SetUp() override {
    GameSyncFixture::SetUp();
    Start();
    o_ = g_pRegistryMgr->RegisterGameObj(1, 1);
    other_ = g_pRegistryMgr->RegisterGameObj(2, 1);
    for (uint32_t playingId : {7u, 8u}) {
      SnPlayingIdParams posted;
      posted.playingId = playingId;
      g_pPlayingIDCallbackMgr->AddPlayingID(posted, nullptr, nullptr, 0, 1);
    }
  }
  float Value(uint32_t id, const SnRTPCKey& key) {
    float value = -1;
    g_pRTPCMgr->GetValue(id, key, value);
    return value;
  }
  SnRTPCKey Key(CSnRegisteredObj* object, uint32_t playingId = 0) {
    return SnRTPCKey::ForObjectAndPlayingId(object, playingId);
  }
  CSnRegisteredObj* o_ = nullptr;
  CSnRegisteredObj* other_ = nullptr;
};

TEST_F(SoundParameterTest, ValuesResolveByBestMatchWithoutBacktracking) {
  CSnRTPCMgr& rtpc = *g_pRTPCMgr;
  EXPECT_EQ(rtpc.GetDefaultValue(kReservedParameterId), 64.0f);
  rtpc.SetDefaultValue(10, 3.0f);
  EXPECT_EQ(Value(10, Key(o_, 7)), 3.0f);
  rtpc.SetRTPCImmediate(10, 1.0f, SnRTPCKey{});
  rtpc.SetRTPCImmediate(10, 2.0f, Key(o_));
  EXPECT_EQ(Value(10, Key(o_, 7)), 2.0f);
  EXPECT_EQ(Value(10, Key(other_, 7)), 1.0f);

  // (any object, P) and a global value; O has a value for another playing id only.
  rtpc.SetRTPCImmediate(11, 1.0f, SnRTPCKey{});
  rtpc.SetRTPCImmediate(11, 5.0f, Key(nullptr, 7));
  rtpc.SetRTPCImmediate(11, 9.0f, Key(o_, 8));
  EXPECT_EQ(Value(11, Key(o_, 7)), 1.0f);  // O's branch holds nothing for P: the global value
  EXPECT_EQ(Value(11, Key(other_, 7)), 5.0f);
  rtpc.SetRTPCImmediate(11, 4.0f, Key(o_));
  EXPECT_EQ(Value(11, Key(o_, 7)), 4.0f);  // O's own value

  // Reset restores the inherited value and deletes the entry.
  rtpc.ResetRTPCInternal(11, o_, 0, TransParamsBase{});
  EXPECT_FALSE(rtpc.HasExactValue(11, Key(o_)));
  EXPECT_EQ(Value(11, Key(o_, 7)), 1.0f);
}

TEST_F(SoundParameterTest, RampsAndOffsetsRunThroughTransitions) {
  CSnRTPCMgr& rtpc = *g_pRTPCMgr;
  rtpc.SetRampingSettings(20, 1, 10.0f, 10.0f);
  rtpc.SetRTPCImmediate(20, 0.0f, SnRTPCKey{});
  TransParamsBase params;
  params.durationMs = 100;
  ASSERT_EQ(rtpc.SetRTPCInternal(20, 5.0f, SnRTPCKey{}, params, SnValueMeaning_Absolute), SN_Success);
  EXPECT_EQ(rtpc.RunningTransitionCount(20), 1u);
  // 500 ms at 21 ms frames.
  Frames(23);
  EXPECT_LT(Value(20, SnRTPCKey{}), 5.0f);
  // An offset adds to the running target, not to the value reached so far.
  rtpc.SetRTPCInternal(20, 1.0f, SnRTPCKey{}, params, SnValueMeaning_Offset);
  Frames(60);
  EXPECT_EQ(Value(20, SnRTPCKey{}), 6.0f);
  EXPECT_EQ(rtpc.RunningTransitionCount(20), 0u);

  // Time ramping approaches exponentially and ends on the target.
  rtpc.SetRampingSettings(21, 2, 0.1f, 0.1f);
  rtpc.SetRTPCInternal(21, 1.0f, Key(o_), TransParamsBase{}, SnValueMeaning_Absolute);
  Frames(2);
  const float early = Value(21, Key(o_));
  EXPECT_GT(early, 0.0f);
  EXPECT_LT(early, 1.0f);
  Frames(10);
  EXPECT_EQ(Value(21, Key(o_)), 1.0f);

  // A reset with a transition removes the key's entry at its end.
  params.durationMs = 42;
  rtpc.ResetRTPCInternal(21, Key(o_), params);
  EXPECT_TRUE(rtpc.HasExactValue(21, Key(o_)));
  Frames(20);
  EXPECT_FALSE(rtpc.HasExactValue(21, Key(o_)));
}

TEST_F(SoundParameterTest, OnlyActiveSubscriptionsHearAndLeavingDuringThePassIsSafe) {
  CSnRTPCMgr& rtpc = *g_pRTPCMgr;
  const SnRTPCGraphPoint curve[3] = {{0, 0, SnCurve_Linear}, {10, 100, SnCurve_Linear}, {20, 100, SnCurve_Linear}};
  SoundTest::FakeNode first, second, idle;
  ASSERT_EQ(rtpc.AddCurveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&first), 30, 0, 1, 3, 1, 0, curve, 3,
                                      SnRTPCKey{}, SnSubscription_Node, true),
            SN_Success);
  rtpc.AddCurveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&second), 30, 0, 1, 3, 1, 0, curve, 3, SnRTPCKey{},
                            SnSubscription_Node, true);
  rtpc.AddCurveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 30, 0, 1, 3, 1, 0, curve, 3, SnRTPCKey{},
                            SnSubscription_Node, false);
  EXPECT_EQ(rtpc.AddCurveSubscription(&idle, 30, 0, 1, 4, 1, 0, nullptr, 0, SnRTPCKey{}, SnSubscription_Node, true),
            SN_InvalidParameter);
  EXPECT_EQ(rtpc.ActiveSubscriptionCount(30), 2u);
  first.updates.clear();
  second.updates.clear();

  // Each leaves while being told; the other is still told once, and nothing is touched after it left.
  first.onUpdate = [&] {
    rtpc.RemoveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&second), 3);
    rtpc.RemoveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&first), 3);
  };
  second.onUpdate = first.onUpdate;
  rtpc.SetRTPCImmediate(30, 5.0f, Key(o_));
  EXPECT_EQ(first.updates.size() + second.updates.size(), 1u);
  EXPECT_TRUE(idle.updates.empty());
  EXPECT_EQ(rtpc.ActiveSubscriptionCount(30), 0u);

  rtpc.ActivateSubscriptions(static_cast<ISnNodeRTPCSubscriber*>(&idle), uint64_t(1) << 3);
  rtpc.SetRTPCImmediate(30, 8.0f, Key(o_));
  ASSERT_EQ(idle.updates.size(), 1u);
  EXPECT_FLOAT_EQ(idle.updates[0].value, 80.0f);
  EXPECT_FLOAT_EQ(idle.updates[0].delta, 30.0f);
  EXPECT_FLOAT_EQ(rtpc.EvaluateSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 3, Key(o_)), 80.0f);
  EXPECT_FLOAT_EQ(rtpc.EvaluateSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 3, Key(other_)), 0.0f);

  // A gain property reading a parameter without a record contributes nothing; a modulator reads 0.
  rtpc.AddCurveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 999, 2, 2, 5, 7, 0, curve, 3, SnRTPCKey{},
                            SnSubscription_Node, true);
  EXPECT_EQ(g_pModulatorRegistry->CountAttached(0), 0u);
  EXPECT_FLOAT_EQ(rtpc.EvaluateSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 5, Key(o_)), 0.0f);
  EXPECT_TRUE(rtpc.RemoveSubscriptionCurve(static_cast<ISnNodeRTPCSubscriber*>(&idle), 5, 7));
  rtpc.RemoveSubscription(static_cast<ISnNodeRTPCSubscriber*>(&idle), 3);
}

TEST_F(SoundParameterTest, ValuesOfAnObjectOrPlayingIdGoWithIt) {
  CSnRTPCMgr& rtpc = *g_pRTPCMgr;
  SnPlayingIdParams posted;
  posted.gameObjectId = 1;
  posted.playingId = 77;
  ASSERT_EQ(g_pPlayingIDCallbackMgr->AddPlayingID(posted, nullptr, nullptr, 0, 5), SN_Success);
  rtpc.SetRTPCImmediate(40, 3.0f, Key(o_, 77));
  rtpc.SetRTPCImmediate(40, 2.0f, Key(o_));
  EXPECT_EQ(rtpc.SetRTPCImmediate(40, 1.0f, Key(o_, 78)), SN_Failure);  // no such playing id
  g_pPlayingIDCallbackMgr->ReleasePendingActionRef(77);
  EXPECT_FALSE(rtpc.HasExactValue(40, Key(o_, 77)));
  EXPECT_TRUE(rtpc.HasExactValue(40, Key(o_)));
  g_pRegistryMgr->UnregisterGameObj(1);
  EXPECT_EQ(Value(40, Key(nullptr)), 0.0f);
  EXPECT_TRUE(rtpc.HasExactValue(40, SnRTPCKey{}) == false);
}

}  // namespace
