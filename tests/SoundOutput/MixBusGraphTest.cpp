// The bus graph on the real lower engine with the memory sink: buses made on demand up the tree, the
// master bus adopting, commands reaching every device, volume ramps, child buses and pans, idle
// removal, voices routed and ordered, sends merged, and the dynamic-range window.
#include "BusGraphFakes.h"

#include <cmath>

#include "SoundEngine/Lower/Mixing/FastDecibels.h"

namespace BusTest {
namespace {

using Lines = std::vector<std::string>;

class MixBusGraphTest : public BusFixture {};

TEST_F(MixBusGraphTest, BusesAreMadeUpTheTreeAndTheMasterBusAdoptsTheFirstTopBus) {
  FakeBusNode& top = Node(1);
  FakeBusNode& child = Node(2, &top);
  FakeVoice& voice = Voice(&child);
  Play({&voice});
  Render();
  EXPECT_EQ(NodeEvents(), (Lines{"made 1", "made 2"}));
  CSnMixBus* topBus = Bus(1);
  CSnMixBus* childBus = Bus(2);
  ASSERT_TRUE(topBus && childBus);
  EXPECT_EQ(childBus->m_pParent, topBus);
  // No master bus yet: the top bus mixes straight into the device.
  EXPECT_EQ(topBus->m_pParent, nullptr);
  EXPECT_EQ(LowerEngine::MixBusCount(), 2u);

  // A bus mixed into the main output makes the master bus, which takes the top bus in.
  FakeBusNode& secondary = Node(3);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnMixBus* aliasBus = LowerEngine::GetOrCreateMixBus(&secondary, SnOutput_SecondaryAlias, 0, false);
  ASSERT_NE(aliasBus, nullptr);
  CSnMixBus* master = LowerEngine::MixBusAt(0);
  EXPECT_EQ(master->BusId(), kMasterBusId);
  EXPECT_EQ(aliasBus->m_pParent, master);
  EXPECT_EQ(topBus->m_pParent, master);
  EXPECT_EQ(LowerEngine::GetOrCreateMasterBus(), master);
}

TEST_F(MixBusGraphTest, ABusCommandReachesTheBusOnEveryDevice) {
  SnOutputSettings settings{};
  settings.customSinkFactory = &OutputTest::MemorySink::Make;
  FakeBusNode& node = Node(7);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  ASSERT_EQ(LowerEngine::AddOutputDeviceIfAbsent(settings, SnOutput_Secondary, 1, 255), SN_Success);
  CSnMixBus* onMain = LowerEngine::CreateMixBus(&node, SnOutput_Main, 0, nullptr, false);
  CSnMixBus* onSecondary = LowerEngine::CreateMixBus(&node, SnOutput_Secondary, 1, nullptr, false);
  ASSERT_TRUE(onMain && onSecondary);
  LowerEngine::SetBusVolume(7, -6.0f);
  LowerEngine::AddBusVolumeDelta(7, -3.0f);
  EXPECT_FLOAT_EQ(onMain->VolumeDb(), -9.0f);
  EXPECT_FLOAT_EQ(onSecondary->VolumeDb(), -9.0f);
  LowerEngine::SetBusParam(7, 5, 0.0f, 2.0f);
  EXPECT_FLOAT_EQ(onSecondary->VolumeDb(), -7.0f);
  // An unknown id changes nothing; parameter 64 is not one the bus listens to.
  LowerEngine::SetBusVolume(8, -40.0f);
  LowerEngine::SetBusParam(7, 64, 1.0f, 1.0f);
  EXPECT_FLOAT_EQ(onMain->VolumeDb(), -7.0f);
  EXPECT_FALSE(onMain->Is3DPositioned());
}

TEST_F(MixBusGraphTest, AVolumeDropRampsAcrossOneFrameAndANewBusDoesNotRamp) {
  FakeBusNode& node = Node(1);
  FakeVoice& voice = Voice(&node);
  Play({&voice});
  Render();
  // First frame at full volume from its first sample.
  std::vector<float> left = LastOutput(0), right = LastOutput(1);
  ASSERT_EQ(left.size(), N);
  for (uint32_t t = 0; t < N; ++t) {
    EXPECT_NEAR(left[t], FakeVoice::Sample(0, t) * kUnity, 1e-6);
    EXPECT_NEAR(right[t], FakeVoice::Sample(1, t) * kUnity, 1e-6);
  }
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    LowerEngine::SetBusVolume(1, -96.0f);
  }
  Render();
  const double target = std::pow(10.0, -96.0 / 20.0);
  left = LastOutput(0);
  for (uint32_t t = 0; t < N; ++t) {
    const double gain = kUnity + double(t) * (target - kUnity) / N;
    EXPECT_NEAR(left[t], FakeVoice::Sample(0, N + t) * gain, 1e-5) << t;
  }
  Render();
  left = LastOutput(0);
  // The fast conversion is within 0.23 percent of the exact gain.
  for (uint32_t t = 0; t < N; ++t)
    EXPECT_NEAR(left[t], FakeVoice::Sample(0, 2 * N + t) * target, 0.0023 * FakeVoice::Sample(0, 2 * N + t) * target);
}

TEST_F(MixBusGraphTest, TheDeviceHearsADoublePrecisionModelOfTheGraph) {
  // Three levels: top 1 at -3 dB; 2 (-6 dB) and 3 (0 dB) under it; 4 (-12 dB) under 2.
  FakeBusNode& top = Node(1);
  top.volumeDb = -3.0f;
  FakeBusNode& mid = Node(2, &top);
  mid.volumeDb = -6.0f;
  FakeBusNode& side = Node(3, &top);
  FakeBusNode& deep = Node(4, &mid);
  deep.volumeDb = -12.0f;
  FakeVoice& a = Voice(&deep);
  a.gain = 0.9f;
  FakeVoice& b = Voice(&side);
  b.gain = 0.4f;
  FakeVoice& c = Voice(&mid);
  c.gain = 0.7f;
  Play({&a, &b, &c});
  Render();
  Render();
  // Each voice's path multiplies the gains of the buses it crosses; every bus is at rest.
  auto db = [](double v) { return std::pow(10.0, v / 20.0); };
  const double pathA = 0.9 * db(-12.0) * db(-6.0) * db(-3.0);
  const double pathB = 0.4 * db(0.0) * db(-3.0);
  const double pathC = 0.7 * db(-6.0) * db(-3.0);
  for (uint32_t ch = 0; ch < 2; ++ch) {
    const std::vector<float> out = LastOutput(ch);
    for (uint32_t t = 0; t < N; ++t) {
      const double x = FakeVoice::Sample(ch, N + t);
      const double model = x * (pathA + pathB + pathC);
      // Three fast conversions at most on a path, each within 0.23 percent.
      EXPECT_NEAR(out[t], model, 0.007 * std::fabs(model) + 1e-6) << ch << " " << t;
    }
  }
}

TEST_F(MixBusGraphTest, AChildBusMixesChannelToChannelOrThroughItsPanMatrix) {
  FakeBusNode& top = Node(1);
  FakeBusNode& plain = Node(2, &top);
  FakeBusNode& panned = Node(3, &top);
  panned.positioning = SnBusPositioning{true, -100.0f, 0.0f, 0.0f, false};
  FakeVoice& a = Voice(&plain);
  a.gain = 0.5f;
  FakeVoice& b = Voice(&panned);
  Play({&a, &b});
  Render();
  // a goes through unchanged at half gain (two buses at rest); b's whole image sits on the left.
  const double half = 0.5 * kUnity * kUnity;
  std::vector<float> left = LastOutput(0), right = LastOutput(1);
  for (uint32_t t = 0; t < N; t += 17) {
    EXPECT_NEAR(right[t], half * FakeVoice::Sample(1, t), 1e-6) << t;
    EXPECT_GT(left[t], half * FakeVoice::Sample(0, t) + 0.1) << t;
  }
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    LowerEngine::SetBusParam(3, 20, 100.0f, 0.0f);
  }
  Render();
  // The new pan is taken on this frame and ramps across it: all left at its start, all right at its end.
  left = LastOutput(0);
  right = LastOutput(1);
  EXPECT_NEAR(right[0], half * FakeVoice::Sample(1, N), 1e-6);
  EXPECT_NEAR(left[N - 1], half * FakeVoice::Sample(0, 2 * N - 1), 0.02);
  Render();
  left = LastOutput(0);
  for (uint32_t t = 0; t < N; t += 17) EXPECT_NEAR(left[t], half * FakeVoice::Sample(0, 2 * N + t), 1e-6) << t;
}

TEST_F(MixBusGraphTest, IdleBusesGoLastToFirstAndAParentAfterItsChildren) {
  FakeBusNode& top = Node(1);
  FakeBusNode& child = Node(2, &top);
  FakeVoice& voice = Voice(&child);
  voice.finishAfterFrame = true;
  Play({&voice});
  Render();
  // The voice ended with its frame; its buses had input and stay for the frame.
  EXPECT_TRUE(voice.destroyed);
  EXPECT_EQ(LowerEngine::MixBusCount(), 2u);
  NodeEvents().clear();
  Render();
  EXPECT_EQ(NodeEvents(), (Lines{"gone 2", "gone 1"}));
  EXPECT_EQ(LowerEngine::MixBusCount(), 0u);
  EXPECT_EQ(top.refs, 0);
  EXPECT_EQ(child.refs, 0);
}

TEST_F(MixBusGraphTest, ABusKeptForAFrameOutlivesItsIdleness) {
  FakeBusNode& node = Node(1);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnMixBus* bus = LowerEngine::CreateMixBus(&node, SnOutput_Main, 0, nullptr, false);
  ASSERT_NE(bus, nullptr);
  bus->KeepThisFrame();
  LowerEngine::RemoveIdleMixBuses();
  EXPECT_EQ(LowerEngine::MixBusCount(), 1u);
  LowerEngine::RemoveIdleMixBuses();
  EXPECT_EQ(LowerEngine::MixBusCount(), 0u);
}

TEST_F(MixBusGraphTest, VoicesAreRoutedByTheKindOfTheirBusAndOrderedByPriority) {
  SnOutputSettings settings{};
  settings.customSinkFactory = &OutputTest::MemorySink::Make;
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_EQ(LowerEngine::AddOutputDeviceIfAbsent(settings, SnOutput_Secondary, 1, 0x2), SN_Success);
  }
  FakeBusNode& main = Node(1);
  FakeBusNode& deviceBus = Node(2);
  deviceBus.mainOutput = false;
  FakeVoice& low = Voice(&main, 10);
  FakeVoice& highOld = Voice(&main, 50);
  FakeVoice& highNew = Voice(&deviceBus, 50);
  highNew.listenerMask = 0x3;
  FakeVoice& unheard = Voice(&deviceBus, 70);
  unheard.listenerMask = 0x1;  // the secondary device hears listener 1 only
  Play({&highOld, &low});
  Render();
  Play({&highNew, &unheard});
  Render();
  // Lowest first; a newer voice goes before older ones of its priority.
  std::vector<ISnVoicePipeline*> order;
  for (ISnVoicePipeline* p = LowerEngine::FirstActivePipeline(); p; p = p->m_pNextInList) order.push_back(p);
  EXPECT_EQ(order, (std::vector<ISnVoicePipeline*>{&low, &highNew, &highOld, &unheard}));
  // A main-output bus plays on the main device only; a device-specific one on the others.
  ASSERT_EQ(low.connections.size(), 1u);
  EXPECT_EQ(low.connections[0].bus->DeviceType(), uint32_t(SnOutput_Main));
  ASSERT_EQ(highNew.connections.size(), 1u);
  EXPECT_EQ(highNew.connections[0].bus->DeviceType(), uint32_t(SnOutput_Secondary));
  EXPECT_TRUE(unheard.connections.empty());

  // The device hears listener 1 as well now: the unheard voice is routed to it.
  Platform::ReentrantGuard guard(GlobalAudioLock());
  LowerEngine::FindOutputDevice(SnOutput_Secondary, 1)->m_listenerMask = 0x3;
  LowerEngine::UpdateDeviceRouting(SnOutput_Secondary, 1, 0x3);
  EXPECT_EQ(unheard.connections.size(), 1u);
  LowerEngine::UpdateDeviceRouting(SnOutput_Secondary, 1, 0);
  EXPECT_TRUE(unheard.connections.empty());
  EXPECT_TRUE(highNew.connections.empty());
}

TEST_F(MixBusGraphTest, ABusItsNodeRefusesIsNotMadeAndItsVoiceNotConnected) {
  FakeBusNode& node = Node(1);
  node.refuse = true;
  FakeVoice& voice = Voice(&node);
  Play({&voice});
  Render();
  EXPECT_EQ(LowerEngine::MixBusCount(), 0u);
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_TRUE(voice.destroyed);
  EXPECT_EQ(node.refs, 0);
  // The node heard of the bus it refused, and of no other.
  EXPECT_EQ(NodeEvents(), Lines{"made 1"});
  EXPECT_NE(log_.Take().find("Bus 1 could not be made for output (32, 0)"), std::string::npos);
}

TEST_F(MixBusGraphTest, AVoiceWhoseEffectsFailIsNotConnected) {
  FakeBusNode& node = Node(1);
  FakeVoice& voice = Voice(&node);
  voice.refuseEffects = true;
  Play({&voice});
  Render();
  EXPECT_EQ(LowerEngine::ActivePipelineCount(), 0u);
  EXPECT_TRUE(voice.destroyed);
}

TEST_F(MixBusGraphTest, SendsMergeNodeAndGameLevelsAndANinthIsDropped) {
  FakeBusNode& dry = Node(1);
  for (uint32_t id = 10; id < 20; ++id) Node(id);
  FakeVoice& voice = Voice(&dry);
  // Node-defined sends: 10 (shared with the game's), 16, 17, 18.
  voice.sends.count = 4;
  voice.sends.sends[0] = SnAuxSend{0.8f, 0.0f, 10, 0};
  voice.sends.sends[1] = SnAuxSend{0.6f, 0.0f, 16, 0};
  voice.sends.sends[2] = SnAuxSend{0.5f, 0.0f, 17, 0};
  voice.sends.sends[3] = SnAuxSend{0.4f, 0.0f, 18, 0};
  voice.gameSends = {{10, 0.3f, 0}, {11, 0.3f, 0}, {12, 0.3f, 0}, {13, 0.3f, 0}, {14, 0.3f, 0}, {15, 0.3f, 0}, {0, 0, 0}};
  Play({&voice});
  Render();
  const SnAuxSendTable& table = voice.sends;
  ASSERT_EQ(table.count, 8);
  EXPECT_EQ(table.sends[0].busId, 10u);
  EXPECT_FLOAT_EQ(table.sends[0].levelA, 0.3f);
  EXPECT_FLOAT_EQ(table.sends[0].levelB, 0.8f);
  EXPECT_EQ(table.sends[6].busId, 16u);
  EXPECT_FLOAT_EQ(table.sends[6].levelA, 0.0f);
  EXPECT_FLOAT_EQ(table.sends[6].levelB, 0.6f);
  EXPECT_EQ(table.sends[7].busId, 17u);
  EXPECT_NE(log_.Take().find("Auxiliary send to bus 18 dropped"), std::string::npos);
  // The dry path and one connection per send, each bus made once.
  EXPECT_EQ(voice.connections.size(), 9u);
  EXPECT_NE(Bus(17), nullptr);
  EXPECT_EQ(Bus(18), nullptr);
}

TEST_F(MixBusGraphTest, TheWindowCompressesAboveItsThresholdAndFollowsAtOnceWithoutRelease) {
  FakeBusNode& node = Node(1);
  node.window = true;
  Platform::ReentrantGuard guard(GlobalAudioLock());
  CSnMixBus* bus = LowerEngine::CreateMixBus(&node, SnOutput_Main, 0, nullptr, false);
  ASSERT_NE(bus, nullptr);
  EXPECT_FLOAT_EQ(bus->m_window.releaseCoefficient, 0.0f);
  // Below the threshold the target is the threshold.
  bus->ReportVoicePeak(50.0f);
  EXPECT_FLOAT_EQ(LowerEngine::UpdateBusWindow(*bus), 96.0f);
  // 20 dB above it at ratio 16: 18.75 dB above.
  bus->ReportVoicePeak(116.0f);
  EXPECT_FLOAT_EQ(LowerEngine::UpdateBusWindow(*bus), 114.75f);
  EXPECT_FLOAT_EQ(node.windowTop, 114.75f);
  // Without release the window falls back at once, and the peak was reset.
  EXPECT_FLOAT_EQ(LowerEngine::UpdateBusWindow(*bus), 96.0f);

  // In the linear domain with a release of 1 s the window decays by the coefficient per frame.
  node.windowDbDomain = false;
  node.release = 1.0f;
  FakeBusNode& slow = Node(2);
  slow.window = true;
  slow.windowDbDomain = false;
  slow.release = 1.0f;
  slow.threshold = 0.0f;
  CSnMixBus* decaying = LowerEngine::CreateMixBus(&slow, SnOutput_Main, 0, nullptr, false);
  ASSERT_NE(decaying, nullptr);
  const double c = std::exp(-double(N) / 48000.0);
  EXPECT_NEAR(decaying->m_window.releaseCoefficient, c, 1e-6);
  decaying->ReportVoicePeak(20.0f);  // target 18.75 dB
  EXPECT_NEAR(LowerEngine::UpdateBusWindow(*decaying), 18.75, 0.02);
  const double held = (1.0 - c) * 1.0 + c * std::pow(10.0, 18.75 / 20.0);
  EXPECT_NEAR(LowerEngine::UpdateBusWindow(*decaying), 20.0 * std::log10(held), 0.02);

  // A ratio below 1 from a bank does not compress at all rather than dividing by zero.
  FakeBusNode& broken = Node(3);
  broken.window = true;
  broken.ratio = 0.0f;
  CSnMixBus* flat = LowerEngine::CreateMixBus(&broken, SnOutput_Main, 0, nullptr, false);
  ASSERT_NE(flat, nullptr);
  flat->ReportVoicePeak(116.0f);
  EXPECT_FLOAT_EQ(LowerEngine::UpdateBusWindow(*flat), 96.0f);

  // A window still falling half a decibel or more above its target keeps its idle bus for the frame.
  LowerEngine::RemoveIdleMixBuses();
  ASSERT_EQ(LowerEngine::MixBusCount(), 1u);
  EXPECT_EQ(LowerEngine::MixBusAt(0), decaying);
}

}  // namespace
}  // namespace BusTest
