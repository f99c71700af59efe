// Buses read from banks: the master and secondary master, children and their refusals, channel
// configurations, the effective properties along the chain, ducking with its floor and recovery,
// background music, and the node messages that reach buses and sounds.
#include "SoundEngine/GameSyncs/RTPCMgr.h"
#include "SoundEngine/Hierarchy/PropertyTable.h"
#include "SoundEngine/SoundEngine.h"
#include "tests/SoundBanks/HierarchyTestSupport.h"

namespace {

using namespace HierarchyTest;
using SN::CSnBusNode;

Tools::BankBusParams Child(uint32_t parent) {
  Tools::BankBusParams params;
  params.parentId = parent;
  return params;
}

Tools::BankNodeParams RoutedTo(uint32_t bus) {
  Tools::BankNodeParams params;
  params.outputBusId = bus;
  return params;
}

struct BackgroundCalls {
  std::vector<bool> muted;
};
void OnBackgroundMusic(bool muted, void* cookie) { static_cast<BackgroundCalls*>(cookie)->muted.push_back(muted); }

class BusNodeTest : public HierarchyFixture {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override {
    settings.backgroundMusicCallback = &OnBackgroundMusic;
    settings.backgroundMusicCookie = &background_;
  }
  void TearDown() override {
    for (auto& [node, record] : counted_) node->UncountInstance(record);
    counted_.clear();
    HierarchyFixture::TearDown();
  }
  // A voice of the sound begins (counted up its road) or ends.
  void Begin(SN::CSnPropertyNode* node) {
    counted_.push_back({node, SN::SnCountRecord{}});
    node->CountInstance(counted_.back().second);
  }
  void End(SN::CSnPropertyNode* node) {
    for (size_t i = counted_.size(); i-- > 0;) {
      if (counted_[i].first != node) continue;
      node->UncountInstance(counted_[i].second);
      counted_.erase(counted_.begin() + long(i));
      return;
    }
  }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) SN::SoundEngine::RenderAudio();
  }
  static CSnBusNode* Held(CSnBusNode* bus) {
    if (bus) bus->Release();  // the bank holds one
    return bus;
  }

  std::vector<std::pair<SN::CSnPropertyNode*, SN::SnCountRecord>> counted_;
  BackgroundCalls background_;
};

TEST_F(BusNodeTest, TheFirstTwoParentlessBusesAreTheMasterAndTheSecondary) {
  // A child bus after the master must not cost the bank its master, nor a second parentless bus.
  ASSERT_EQ(Load({BusObject(1), BusObject(4, Child(1)), BusObject(2), BusObject(3), BusObject(5, Child(4))}),
            SN::SN_Success);
  EXPECT_EQ(Held(CSnBusNode::MasterBus()), Bus(1));
  EXPECT_EQ(Held(CSnBusNode::SecondaryMasterBus()), Bus(2));
  EXPECT_TRUE(Bus(1)->StateByte() & CSnBusNode::kPrimaryMaster);
  EXPECT_FALSE(Bus(2)->StateByte() & CSnBusNode::kPrimaryMaster);
  EXPECT_EQ(Bus(5)->Parent(), Bus(4));
  EXPECT_EQ(Bus(1)->ChildBusCount(), 1u);

  // The next bank's master replaces both.
  ASSERT_EQ(Load({BusObject(10), BusObject(11, Child(10))}), SN::SN_Success);
  EXPECT_EQ(Held(CSnBusNode::MasterBus()), Bus(10));
  EXPECT_EQ(Held(CSnBusNode::SecondaryMasterBus()), nullptr);
  // A bank of child buses only keeps them.
  ASSERT_EQ(Load({BusObject(12, Child(10))}), SN::SN_Success);
  EXPECT_EQ(Held(CSnBusNode::MasterBus()), Bus(10));

  // A missing parent bus fails the bank.
  EXPECT_EQ(Load({BusObject(13, Child(99))}), SN::SN_Failure);
  EXPECT_TRUE(Logged("parent bus 99 is not loaded"));
}

TEST_F(BusNodeTest, ChildrenJoinInIdOrderAndTheRefusalsHaveTheirCodes) {
  ASSERT_EQ(Load({BusObject(1), BusObject(2, Child(1)), SoundObject(30, MemorySource(7, 4), RoutedTo(1)),
                  SoundObject(20, MemorySource(7, 4), RoutedTo(1))}),
            SN::SN_Success);
  CSnBusNode* master = Bus(1);
  EXPECT_EQ(master->ChildCount(), 2u);
  EXPECT_EQ(Sound(20)->OutputBus(), master);
  EXPECT_EQ(master->AddChild(master), SN::SN_CannotAddItself);
  EXPECT_EQ(master->AddChild(Bus(2)), SN::SN_AlreadyListed);
  EXPECT_EQ(Bus(2)->AddChild(Sound(20)), SN::SN_ChildAlreadyHasAParent);
  EXPECT_EQ(master->AddChildById(0), SN::SN_InvalidPoolId);
  EXPECT_EQ(master->AddChildById(77), SN::SN_IdNotFound);
  // A child that goes leaves its bus.
  SN::g_pBankManager->UnloadBankWait(loaded_.back(), nullptr);
  loaded_.pop_back();
}

TEST_F(BusNodeTest, AStandardChannelConfigurationKeepsItsKnownSpeakers) {
  Tools::BankBusParams standard;
  standard.channelConfig = (0xFFFFFu << 12) | (1u << 8) | 2u;
  Tools::BankBusParams other;
  other.channelConfig = (0x3u << 12) | (2u << 8) | 7u;
  ASSERT_EQ(Load({BusObject(1, standard), BusObject(2, other)}), SN::SN_Success);
  EXPECT_EQ(Bus(1)->ChannelConfig(), (0x3FF3Fu << 12) | (1u << 8) | 16u);
  EXPECT_EQ(Bus(2)->ChannelConfig(), other.channelConfig);
}

TEST_F(BusNodeTest, EffectivePropertiesSumUpToTheFirstBusThatMixesItself) {
  auto volume = [](float dB) { return Tools::BankNodeProperty::Float(5, dB); };
  Tools::BankBusParams master;
  master.properties = {volume(-3.0f), Tools::BankNodeProperty::Float(SN::SnProp_Volume, -1.0f)};
  Tools::BankBusParams plain = Child(1);
  plain.properties = {volume(-2.0f), Tools::BankNodeProperty::Float(SN::SnProp_Pitch, 100.0f)};
  Tools::BankBusParams mixing = Child(2);
  mixing.properties = {volume(-1.0f), Tools::BankNodeProperty::Float(SN::SnProp_Volume, -4.0f)};
  mixing.effects = {{1, 555, 0, 0}};
  Tools::BankBusParams twelve = Child(2);
  twelve.properties = {volume(-0.5f)};
  ASSERT_EQ(Load({BusObject(1, master), BusObject(2, plain), BusObject(3, mixing),
                  BusObject(4, twelve, Tools::kBankOwnMixBusType)}),
            SN::SN_Success);
  EXPECT_TRUE(Bus(1)->HasOwnMixStage());  // no parent
  EXPECT_FALSE(Bus(2)->HasOwnMixStage());
  EXPECT_TRUE(Bus(3)->HasOwnMixStage());  // an effect
  EXPECT_TRUE(Bus(4)->HasOwnMixStage());  // category 12
  EXPECT_EQ(Bus(4)->NodeCategory(), 12u);
  EXPECT_EQ(Bus(3)->GetEffectiveProperty(5, false), -1.0f);
  EXPECT_EQ(Bus(3)->GetEffectiveProperty(5, true), -6.0f);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(5, false), -5.0f);
  EXPECT_EQ(Bus(4)->GetEffectiveProperty(5, false), -0.5f);

  // Run-time values of a bus are the bus's for every object, and count in both sums.
  SN::CSnRegisteredObj* object = GameObject(9);
  ASSERT_EQ(Bus(2)->SetRuntimeValue(object, 5, -10.0f, SN::TransParamsBase{}), SN::SN_Success);
  ASSERT_EQ(Bus(2)->SetRuntimeValue(nullptr, SN::SnProp_Volume, -2.0f, SN::TransParamsBase{}), SN::SN_Success);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(5, false), -15.0f);
  EXPECT_EQ(Bus(3)->GetEffectiveProperty(5, true), -16.0f);

  // The voices routed to bus 3 add the volumes, pitches and run-time values of every bus above.
  SN::SnSoundParams params;
  Bus(3)->GetSoundParams(params, SN::SnParamGroup_Volume | SN::SnParamGroup_Pitch, SN::SnRTPCKey{}, nullptr, false,
                         false);
  EXPECT_EQ(params.volume, -4.0f - 2.0f - 1.0f);
  EXPECT_EQ(params.pitch, 100.0f);
}

TEST_F(BusNodeTest, DucksAddUpToTheTargetsFloorAndEndWithoutRecoveryAtOnce) {
  Tools::BankBusParams music = Child(1);
  music.maxDuckVolume = -12.0f;
  Tools::BankBusParams first = Child(1), second = Child(1);
  first.ducks = {{2, -6.0f, 0, 0, 4, 0}, {3, -6.0f, 0, 0, 4, 0}};
  second.ducks = {{2, -10.0f, 0, 0, 4, 0}, {3, -10.0f, 0, 0, 4, 0}};
  ASSERT_EQ(Load({BusObject(1), BusObject(2, music), BusObject(3, Child(1)), BusObject(4, first),
                  BusObject(5, second), SoundObject(40, MemorySource(7, 4), RoutedTo(4)),
                  SoundObject(50, MemorySource(7, 4), RoutedTo(5))}),
            SN::SN_Success);
  EXPECT_EQ(Bus(4)->DuckTargetCount(), 2u);
  Begin(Sound(40));
  EXPECT_EQ(Bus(4)->DuckingState(), CSnBusNode::Duck_Ducking);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -6.0f);
  Begin(Sound(40));  // a second voice changes nothing
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -6.0f);
  Begin(Sound(50));
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -12.0f);  // -16 floored
  EXPECT_EQ(Bus(3)->GetDuckedValue(0), -16.0f);
  EXPECT_TRUE(Bus(3)->IsDucked());
  SN::SnSoundParams params;
  Bus(3)->GetSoundParams(params, SN::SnParamGroup_Volume, SN::SnRTPCKey{}, nullptr, false, false);
  EXPECT_EQ(params.volume, -16.0f);
  // The mixing graph heard each change of bus 2, with its difference.
  ASSERT_FALSE(mix_.params.empty());
  EXPECT_EQ(mix_.params.back().busId, 3u);
  EXPECT_EQ(mix_.params.back().value, -16.0f);
  EXPECT_EQ(mix_.params.back().delta, -10.0f);

  End(Sound(50));
  EXPECT_EQ(Bus(3)->GetDuckedValue(0), -6.0f);
  End(Sound(40));
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -6.0f);  // one voice still plays
  End(Sound(40));
  EXPECT_EQ(Bus(4)->DuckingState(), CSnBusNode::Duck_Idle);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 0.0f);
  EXPECT_FALSE(Bus(3)->IsDucked());
}

// A bank's bus levels far past the levels (the builder's text refuses them; the writer does not) are
// held as they load, each with one logged error: the bus's volumes, its floor and its ducks.
TEST_F(BusNodeTest, BusVolumesAndDuckLevelsFarPastTheLevelsAreHeldAsTheyLoad) {
  Tools::BankBusParams target = Child(1);
  target.maxDuckVolume = -3e38f;
  target.properties = {Tools::BankNodeProperty::Float(5, 3e38f), Tools::BankNodeProperty::Float(0, -3e38f)};
  Tools::BankBusParams ducker = Child(1);
  ducker.ducks = {{2, 3e38f, 0, 0, 4, 0}, {3, -3e38f, 0, 0, 4, 0}};
  ASSERT_EQ(Load({BusObject(1), BusObject(2, target), BusObject(3, Child(1)), BusObject(4, ducker),
                  SoundObject(40, MemorySource(7, 4), RoutedTo(4))}),
            SN::SN_Success);
  const std::string logged = log_.Take();
  for (const char* line : {"Bus 2: property 5 of 3e+38 is outside -4096 to 24; 24 is used",
                           "Bus 2: property 0 of -3e+38 is outside -4096 to 24; -4096 is used",
                           "Bus 2: max duck volume of -3e+38 dB is outside -4096 to 24 dB; -4096 is used",
                           "Bus 4: duck volume of 3e+38 dB is outside -4096 to 24 dB; 24 is used",
                           "Bus 4: duck volume of -3e+38 dB is outside -4096 to 24 dB; -4096 is used"})
    EXPECT_NE(logged.find(line), std::string::npos) << line << "\n" << logged;
  EXPECT_EQ(Bus(2)->MaxDuckVolume(), -4096.0f);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(5, false), 24.0f);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(0, false), -4096.0f);
  Begin(Sound(40));
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 24.0f);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(0, false), 24.0f - 4096.0f);
  EXPECT_EQ(Bus(3)->GetDuckedValue(0), CSnBusNode::kDefaultMaxDuckVolume);
  End(Sound(40));
}

TEST_F(BusNodeTest, ARecoveryLastsItsTimeAfterTheLastSilenceEvenWhenDuckingBeganAgain) {
  Tools::BankBusParams shortRecovery = Child(1);
  shortRecovery.recoveryMs = 10;  // under a frame: none
  shortRecovery.ducks = {{2, -6.0f, 0, 0, 4, 0}};
  Tools::BankBusParams recovering = shortRecovery;
  recovering.recoveryMs = 100;
  ASSERT_EQ(Load({BusObject(1), BusObject(2, Child(1)), BusObject(3, shortRecovery), BusObject(4, recovering),
                  SoundObject(30, MemorySource(7, 4), RoutedTo(3)), SoundObject(40, MemorySource(7, 4), RoutedTo(4))}),
            SN::SN_Success);
  EXPECT_EQ(Bus(3)->RecoverySamples(), 0u);
  EXPECT_EQ(Bus(4)->RecoverySamples(), 4800u);  // 100 ms at 48 kHz
  Begin(Sound(30));
  End(Sound(30));
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 0.0f);

  // 4800 samples: due four frames on, 704 samples into that frame.
  Begin(Sound(40));
  End(Sound(40));
  EXPECT_EQ(Bus(4)->DuckingState(), CSnBusNode::Duck_Recovering);
  Frames(3);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -6.0f);
  Frames(1);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 0.0f);
  EXPECT_EQ(Bus(4)->DuckingState(), CSnBusNode::Duck_Idle);

  // Ducking again two frames into a recovery: the earlier recovery must not end the later one.
  Begin(Sound(40));
  End(Sound(40));
  Frames(2);
  Begin(Sound(40));
  End(Sound(40));
  Frames(3);  // the first recovery's frame
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), -6.0f);
  EXPECT_EQ(Bus(4)->DuckingState(), CSnBusNode::Duck_Recovering);
  Frames(1);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 0.0f);
  EXPECT_EQ(SN::g_pAudioMgr->DuePendingCount(), 0u);
}

TEST_F(BusNodeTest, AFadingDuckHoldsWhereItIsWhileItsRecoveryWaits) {
  Tools::BankBusParams fading = Child(1);
  fading.recoveryMs = 100;
  fading.ducks = {{2, -8.0f, 1000, 0, 4, 0}};
  ASSERT_EQ(Load({BusObject(1), BusObject(2, Child(1)), BusObject(3, fading),
                  SoundObject(30, MemorySource(7, 4), RoutedTo(3))}),
            SN::SN_Success);
  Begin(Sound(30));
  Frames(10);
  const float halfway = Bus(2)->GetDuckedValue(0);
  EXPECT_LT(halfway, 0.0f);
  EXPECT_GT(halfway, -8.0f);
  End(Sound(30));
  Frames(2);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), halfway);
  Frames(2);
  EXPECT_EQ(Bus(2)->GetDuckedValue(0), 0.0f);  // a fade-in of 0: at once
}

TEST_F(BusNodeTest, BackgroundMusicFallsSilentOnceAndComesBackAtTheBusGain) {
  Tools::BankBusParams music = Child(1);
  music.voiceFlags = 0x08;
  ASSERT_EQ(Load({BusObject(1), BusObject(2, music), SoundObject(20, MemorySource(7, 4), RoutedTo(2)),
                  SoundObject(10, MemorySource(7, 4), RoutedTo(1))}),
            SN::SN_Success);
  EXPECT_EQ(CSnBusNode::BackgroundMusicBusCount(), 1u);
  FakeInstance song(nullptr, 1), effect(nullptr, 2);
  Sound(20)->AttachInstance(&song);
  Sound(10)->AttachInstance(&effect);
  Begin(Sound(20));
  Begin(Sound(10));

  EXPECT_EQ(SN::SoundEngine::MuteBackgroundMusic(true), SN::SN_Success);
  EXPECT_EQ(SN::SoundEngine::MuteBackgroundMusic(true), SN::SN_Success);
  Frames(1);
  EXPECT_EQ(song.gain, 0.0f);
  EXPECT_EQ(effect.gain, 1.0f);
  EXPECT_EQ(background_.muted, std::vector<bool>{true});
  // While muted, a gain aimed at the bus reaches its children as 0.
  ASSERT_EQ(Bus(2)->SetRuntimeValue(nullptr, SN::SnProp_GainFactor, 0.5f, SN::TransParamsBase{}), SN::SN_Success);
  EXPECT_EQ(song.gain, 0.0f);

  EXPECT_EQ(SN::SoundEngine::MuteBackgroundMusic(false), SN::SN_Success);
  Frames(1);
  EXPECT_EQ(song.gain, 0.5f);  // the bus's own gain, not 1
  EXPECT_EQ(background_.muted, (std::vector<bool>{true, false}));

  // Muting a bus drives its gain and its children's; unmuting gives them back.
  ASSERT_EQ(Bus(1)->Mute(GameObject(3), SN::TransParamsBase{}), SN::SN_Success);
  EXPECT_EQ(effect.gain, 0.0f);
  ASSERT_EQ(Bus(1)->Unmute(nullptr, SN::TransParamsBase{}), SN::SN_Success);
  EXPECT_EQ(effect.gain, 1.0f);
  End(Sound(20));
  End(Sound(10));
  Sound(20)->DetachInstance(&song);
  Sound(10)->DetachInstance(&effect);
}

TEST_F(BusNodeTest, StopPauseAndResumeWalkTheActiveChildrenLastFirst) {
  ASSERT_EQ(Load({BusObject(1), BusObject(2, Child(1)), SoundObject(20, MemorySource(7, 4), RoutedTo(2)),
                  SoundObject(10, MemorySource(7, 4), RoutedTo(1))}),
            SN::SN_Success);
  std::vector<uint32_t> order;
  FakeInstance first(nullptr, 1), second(nullptr, 2);
  first.order = second.order = &order;
  Sound(10)->AttachInstance(&first);
  Sound(20)->AttachInstance(&second);
  Begin(Sound(10));
  Begin(Sound(20));
  SN::SnActionParams pause;
  pause.kind = SN::SnActionParams::Pause;
  CSnBusNode::ExecuteOnMasterBuses(pause);
  EXPECT_EQ(order, (std::vector<uint32_t>{2, 1}));  // bus 2 became active after sound 10
  SN::SnActionParams stop;
  Bus(2)->ExecuteAction(stop);
  EXPECT_EQ(second.kinds, (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(first.kinds, std::vector<uint32_t>{1});
  End(Sound(10));
  End(Sound(20));
  Sound(10)->DetachInstance(&first);
  Sound(20)->DetachInstance(&second);
}

TEST_F(BusNodeTest, EffectsMixersAndSourcePluginsThroughTheirMessages) {
  Tools::BankBusParams withMixer;
  withMixer.mixerId = 700;
  withMixer.effects = {{0, 500, 0, 0}};
  withMixer.bypassBits = 0x01;
  ASSERT_EQ(Load({BusObject(1, withMixer)}), SN::SN_Success);
  CSnBusNode* bus = Bus(1);
  ASSERT_NE(bus->Mixer(), nullptr);
  EXPECT_EQ(bus->Mixer()->pluginId, 700u);
  EXPECT_TRUE(bus->IsEffectBypassed(0));
  EXPECT_FALSE(bus->IsEffectBypassed(1));
  mix_.effects.clear();

  EXPECT_EQ(SN::SoundEngine::SetBusEffect(1u, 2, 600), SN::SN_Success);
  EXPECT_EQ(SN::SoundEngine::SetMixer(1u, 701), SN::SN_Success);
  Frames(1);
  EXPECT_EQ(bus->FxSlots()->slots[2].effectId, 600u);
  EXPECT_EQ(bus->Mixer()->pluginId, 701u);
  EXPECT_EQ(mix_.effects, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}, {1, 4}}));
  // The game's mixer outranks the bank's.
  EXPECT_EQ(bus->SetMixerPlugin(702, false, 0), SN::SN_Success);
  EXPECT_EQ(bus->Mixer()->pluginId, 701u);
  EXPECT_EQ(bus->SetMixerPlugin(0, false, 1), SN::SN_Success);
  EXPECT_EQ(bus->Mixer(), nullptr);

  // A source plug-in plays through a sound made once around it.
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(5), SN::SN_Success);
  const uint32_t first = SN::SoundEngine::PlaySourcePlugin(0x64, 0x3, 5);
  const uint32_t again = SN::SoundEngine::PlaySourcePlugin(0x64, 0x3, 5);
  Frames(1);
  ASSERT_EQ(player_.plays.size(), 2u);
  const uint32_t nodeId = 0x80000000u | (0x64u << 16) | (0x3u << 4) | 2u;
  EXPECT_EQ(player_.plays[0].node->ID(), nodeId);
  EXPECT_EQ(player_.plays[1].node, player_.plays[0].node);
  EXPECT_EQ(player_.plays[0].playingId, first);
  EXPECT_EQ(player_.plays[1].playingId, again);
  EXPECT_EQ(player_.plays[0].sourceId, nodeId & 0x7FFFFFFFu);
  FakeInstance playing(nullptr, first);
  Sound(nodeId)->AttachInstance(&playing);
  EXPECT_EQ(SN::SoundEngine::StopSourcePlugin(0x64, 0x3, first), SN::SN_Success);
  Frames(1);
  EXPECT_EQ(playing.kinds, std::vector<uint32_t>{0});
  Sound(nodeId)->DetachInstance(&playing);
}

TEST_F(BusNodeTest, TheMixingGraphHearsOfBypassCurvesAndTheBusVolume) {
  Tools::BankBusParams effects = Child(1);
  effects.effects = {{1, 500, 0, 0}};
  effects.bypassBits = 0x10;
  effects.properties = {Tools::BankNodeProperty::Float(5, -4.0f)};
  effects.curves = {{7, 0, 0, 25, 1, 0, {{0.0f, 0.0f, 4}, {1.0f, 1.0f, 4}}}};  // bypasses slot 1 above 0
  Tools::BankBusParams ducker = Child(1);
  ducker.ducks = {{2, -6.0f, 0, 0, 4, 5}};
  ASSERT_EQ(SN::g_pRTPCMgr->SetRTPCImmediate(7, 1.0f, SN::SnRTPCKey{}), SN::SN_Success);
  ASSERT_EQ(Load({BusObject(1), BusObject(2, effects), BusObject(3, ducker),
                  SoundObject(30, MemorySource(7, 4), RoutedTo(3))}),
            SN::SN_Success);
  EXPECT_TRUE(Bus(2)->IsEffectBypassed(1));
  EXPECT_TRUE(Bus(2)->AreAllEffectsBypassed());
  using Bypass = std::array<uint32_t, 3>;
  EXPECT_EQ(mix_.bypass, (std::vector<Bypass>{{2, 0x10, 0x1F}, {2, 0x02, 0x02}}));
  // Ducking the bus volume of a bus that mixes itself pushes its new volume.
  Begin(Sound(30));
  ASSERT_FALSE(mix_.volumes.empty());
  EXPECT_EQ(mix_.volumes.back(), (std::pair<uint32_t, float>{2, -10.0f}));
  EXPECT_TRUE(Bus(2)->StateByte() & CSnBusNode::kVolumePushed);
  End(Sound(30));
  EXPECT_EQ(mix_.volumes.back(), (std::pair<uint32_t, float>{2, -4.0f}));
}

TEST_F(BusNodeTest, APayloadEndingAnywhereEarlyFailsTheBank) {
  Tools::BankBusParams full = Child(1);
  full.properties = {Tools::BankNodeProperty::Float(5, -3.0f)};
  full.ducks = {{1, -6.0f, 10, 10, 4, 5}};
  full.effects = {{0, 500, 0, 0}};
  full.mixerId = 9;
  full.curves = {{7, 0, 0, 5, 1, 0, {{0.0f, 0.0f, 4}, {1.0f, -6.0f, 4}}}};
  full.stateGroups = {{11, 0, {}}};
  ASSERT_EQ(Load({BusObject(1)}), SN::SN_Success);
  const Tools::BankObject whole = BusObject(2, full);
  ExpectEveryCutFails(whole, [this] { return Bus(2) == nullptr; });
  ASSERT_EQ(Load({whole}), SN::SN_Success);
  EXPECT_EQ(Bus(2)->GetEffectiveProperty(5, false), -3.0f - 0.0f);
}

}  // namespace
