// Playback instances of nodes loaded from written banks: admission by PlayLeafNode, fades stepped by
// the transition manager against a worked model of the curves, pause counts, zero-fade stops, gain
// factors and driven parameters, and the end of a play while the lower engine has no source.
#include <gtest/gtest.h>

#include <cmath>

#include "Base/TraceRepeats.h"
#include "SoundEngine/GameSyncs/Transition.h"
#include "SoundEngine/Hierarchy/NodeLimiter.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"
#include "SoundEngine/Lower/Pipeline/VoiceCommands.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Callbacks/PlayingIDCallbackMgr.h"
#include "SoundEngine/ExternalSources.h"
#include "SoundEngine/SoundEngine.h"
#include "tests/SoundBanks/NodeTestKinds.h"

using namespace NodeTest;
using SN::CSnPlaybackInstance;

namespace {

constexpr float kTolerance = 0.005f;  // the curves' fast sine and cosine

Tools::BankNodeParams Sound(float volume, uint8_t behaviour = SN::SnVirtual_Kill) {
  Tools::BankNodeParams params;
  params.properties.push_back(Tools::BankNodeProperty::Float(SN::SnProp_Volume, volume));
  params.advancedFlags = 0x10;  // overrides the voice behaviour
  params.behaviour = behaviour;
  return params;
}

SN::TransParamsBase Fade(int32_t ms, SN::SnCurveInterpolation shape) {
  SN::TransParamsBase fade;
  fade.durationMs = ms;
  fade.shape = shape;
  return fade;
}

}  // namespace

class PlaybackInstanceTest : public NodeFixture {
 protected:
  // The real lower engine (on the silent device) runs the voice command queue and the instance pass.
  void AdjustSettings(SN::SnInitSettings& settings) override {
    SN::LowerEngine::Install(nullptr);
    settings.memoryThresholdRatio = 0.5f;
  }
  void SetUp() override {
    NodeFixture::SetUp();
    Tools::BankNodeParams higher = Sound(-6.0f);
    higher.priorityFlags = 1;  // overrides the priority
    higher.properties.push_back(Tools::BankNodeProperty::Float(SN::SnProp_Priority, 51.0f));
    ASSERT_EQ(LoadBank({{kLeafType, 70, Sound(-6.0f)}, {kLeafType, 71, Sound(-200.0f)},
                        {kLeafType, 72, Sound(-200.0f, SN::SnVirtual_BecomeVirtual)}, {kLeafType, 73, higher}}),
              SN::SN_Success);
    source_.SetMediaSource(0x10000, 5, 0xFFFFFFFFu, 64, 0);
  }
  void TearDown() override {
    EndMade();
    NodeFixture::TearDown();
  }
  // An instance of node 70 outside the voice manager's lists, ended by the fixture.
  CSnPlaybackInstance* Make(uint32_t playingId = 7) {
    CSnPlaybackInstance::Args args;
    args.node = Node(70);
    args.source = &source_;
    args.gameObject = GameObject(3);
    args.playingId = playingId;
    CSnPlaybackInstance* instance = SN::PoolNew<CSnPlaybackInstance>(SN::g_DefaultPoolId, args);
    made_.push_back(instance);
    return instance;
  }
  // One transition step at the next frame.
  void Step() { SN::g_pTransitionMgr->ProcessFrame(++frame_); }
  // The voice side of one audio pass: the begins run (and, with no source, end their plays), then
  // the deferred instance commands retire them.
  void RunVoicePass() {
    SN::LowerEngine::BeginQueuedVoices();
    SN::VoiceManager::ProcessQueuedInstanceCommands();
  }
  SN::SNRESULT PlayNode(uint32_t id, uint32_t playingId = 9) {
    SN::CSnPlayParams params;
    params.gameObject = GameObject(3);
    params.playingId = playingId;
    return SN::VoiceManager::PlayLeafNode(Node(id), &source_, params);
  }

  // Ends every instance made, as the fixture does.
  void EndMade() {
    Platform::ReentrantGuard audio(SN::GlobalAudioLock());
    for (CSnPlaybackInstance* instance : made_) {
      SN::LowerEngine::RemoveQueuedVoiceCommands(instance);
      instance->Term(0);
      instance->Destroy();
    }
    made_.clear();
  }

  SN::CSnSourceDesc source_;
  std::vector<CSnPlaybackInstance*> made_;
  uint32_t frame_ = 1000;
};

TEST_F(PlaybackInstanceTest, FadesFollowTheirCurvesAndAFallingOneIsMirrored) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::g_pTransitionMgr->ProcessFrame(frame_);
  CSnPlaybackInstance* instance = Make();
  // 42 ms at 21 ms frames: two steps; curve 1 rises as sin(t pi/2).
  ASSERT_EQ(instance->Play(Fade(42, SN::SnCurve_Sine), false, false), SN::SN_Success);
  EXPECT_EQ(instance->PlayStopFactor(), 0.0f);
  Step();
  EXPECT_NEAR(instance->PlayStopFactor(), std::sin(M_PI / 4), kTolerance);
  Step();
  EXPECT_EQ(instance->PlayStopFactor(), 1.0f);
  EXPECT_EQ(instance->PlayStopTransition(), nullptr);
  // Going down, curve 1 becomes curve 7: cos(t pi/2) from 1, not 1 - sin(t pi/2).
  instance->MarkSourcePlaying();
  instance->Stop(Fade(42, SN::SnCurve_Sine), true);
  EXPECT_TRUE(instance->IsStopping());
  Step();
  EXPECT_NEAR(instance->PlayStopFactor(), std::cos(M_PI / 4), kTolerance);
  instance->RecomputeGain();
  EXPECT_NEAR(instance->LinearGain(), std::cos(M_PI / 4), kTolerance);
  EXPECT_FALSE(instance->IsStoppedNow());
  Step();
  EXPECT_EQ(instance->PlayStopFactor(), 0.0f);
  EXPECT_TRUE(instance->IsStoppedNow());
}

TEST_F(PlaybackInstanceTest, PausesCountAndAResumeTurnsAPauseFadeAround) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::g_pTransitionMgr->ProcessFrame(frame_);
  CSnPlaybackInstance* instance = Make();
  ASSERT_EQ(instance->Play(Fade(0, SN::SnCurve_Linear), false, false), SN::SN_Success);
  instance->MarkSourcePlaying();
  const uint32_t queued = SN::LowerEngine::QueuedVoiceCommandCount();
  for (int i = 0; i < 3; ++i) instance->Pause(Fade(0, SN::SnCurve_Linear));
  EXPECT_TRUE(instance->IsPaused());
  EXPECT_EQ(instance->PauseResumeFactor(), 0.0f);
  EXPECT_EQ(SN::LowerEngine::QueuedVoiceCommandCount(), queued + 1);  // one pause reaches the voice
  instance->Resume(Fade(0, SN::SnCurve_Linear), false);
  instance->Resume(Fade(0, SN::SnCurve_Linear), false);
  EXPECT_TRUE(instance->IsPaused());
  instance->Resume(Fade(0, SN::SnCurve_Linear), false);
  EXPECT_FALSE(instance->IsPaused());
  EXPECT_EQ(instance->PauseResumeFactor(), 1.0f);
  // Force resumes at once whatever the count.
  instance->Pause(Fade(0, SN::SnCurve_Linear));
  instance->Pause(Fade(0, SN::SnCurve_Linear));
  instance->Resume(Fade(0, SN::SnCurve_Linear), true);
  EXPECT_FALSE(instance->IsPaused());
  EXPECT_EQ(instance->PauseCount(), 0u);
  // A pause fading out half-way turns toward 1 from 0.5 on the same transition.
  instance->Pause(Fade(42, SN::SnCurve_Linear));
  SN::CSnTransition* fade = instance->PauseResumeTransition();
  ASSERT_NE(fade, nullptr);
  Step();
  EXPECT_NEAR(instance->PauseResumeFactor(), 0.5f, 1e-6f);
  instance->Resume(Fade(42, SN::SnCurve_Linear), false);
  EXPECT_EQ(instance->PauseResumeTransition(), fade);
  Step();
  EXPECT_NEAR(instance->PauseResumeFactor(), 0.75f, 1e-6f);
  Step();
  EXPECT_EQ(instance->PauseResumeFactor(), 1.0f);
  EXPECT_FALSE(instance->IsPaused());
}

TEST_F(PlaybackInstanceTest, ZeroFadeStopsEndTheVoiceBeforeAfterLaunchAndWhilePaused) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::g_pTransitionMgr->ProcessFrame(frame_);
  CSnPlaybackInstance* before = Make();
  ASSERT_EQ(before->Play(Fade(0, SN::SnCurve_Linear), false, false), SN::SN_Success);
  before->Stop(Fade(0, SN::SnCurve_Linear), false);
  EXPECT_TRUE(before->IsStoppedNow());
  // After launch, with no fade running: an API stop (not an action) ends a looping voice too.
  CSnPlaybackInstance* after = Make();
  ASSERT_EQ(after->Play(Fade(0, SN::SnCurve_Linear), false, false), SN::SN_Success);
  after->MarkSourcePlaying();
  after->Stop(Fade(0, SN::SnCurve_Linear), false);
  EXPECT_TRUE(after->IsStoppedNow());
  CSnPlaybackInstance* fromAction = Make();
  ASSERT_EQ(fromAction->Play(Fade(0, SN::SnCurve_Linear), false, false), SN::SN_Success);
  fromAction->MarkSourcePlaying();
  fromAction->Stop(Fade(0, SN::SnCurve_Linear), true);
  EXPECT_TRUE(fromAction->IsStoppedNow());
  EXPECT_EQ(fromAction->LinearGain(), 0.0f);
  // A paused voice is silent already: even a stop with a fade ends it at once.
  CSnPlaybackInstance* paused = Make();
  ASSERT_EQ(paused->Play(Fade(0, SN::SnCurve_Linear), true, false), SN::SN_Success);
  paused->Stop(Fade(500, SN::SnCurve_Linear), true);
  EXPECT_TRUE(paused->IsStoppedNow());
  EXPECT_EQ(paused->PlayStopTransition(), nullptr);
}

TEST_F(PlaybackInstanceTest, GainFactorsParametersAndKeyFilters) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  CSnPlaybackInstance* instance = Make();
  instance->ComputeParameters();
  EXPECT_FLOAT_EQ(instance->Volume(), -6.0f);
  EXPECT_FALSE(instance->IsInaudible());
  EXPECT_TRUE(instance->SetGainFactorEntry(0.5f, 1, false));
  EXPECT_TRUE(instance->SetGainFactorEntry(0.25f, 2, false));
  EXPECT_FLOAT_EQ(instance->LinearGain(), 0.125f);
  EXPECT_TRUE(instance->SetGainFactorEntry(1.0f, 1, false));  // exactly 1 removes it
  EXPECT_EQ(instance->GainFactorCount(), 1u);
  EXPECT_FLOAT_EQ(instance->LinearGain(), 0.25f);
  instance->ParamChanged(0, -10.0f, -4.0f);
  EXPECT_FLOAT_EQ(instance->Volume(), -10.0f);
  instance->ParamChanged(20, 30.0f, 30.0f);
  instance->ParamChanged(21, -40.0f, -40.0f);
  instance->ParamChanged(11, 75.0f, 75.0f);
  instance->ParamChanged(64, 1.0f, 1.0f);
  EXPECT_EQ(instance->PanLeftRight(), 30.0f);
  EXPECT_EQ(instance->PanFrontRear(), -40.0f);
  EXPECT_EQ(instance->PanCentre(), 75.0f);
  EXPECT_TRUE(instance->PannerEnabled());
  // A filter on another playing id passes the instance by; a matching one drives it.
  SN::SnInstanceParamFilter filter;
  filter.parameterId = 0;
  filter.value = -90.0f;
  filter.key.playingId = 8;
  instance->ApplyIfKeyMatches(filter);
  EXPECT_FLOAT_EQ(instance->Volume(), -10.0f);
  filter.key.playingId = 7;
  instance->ApplyIfKeyMatches(filter);
  EXPECT_FLOAT_EQ(instance->Volume(), -100.0f);
  EXPECT_TRUE(instance->IsInaudible());
  // A priority that is not a number is not stored.
  instance->ParamChanged(8, NAN, NAN);
  EXPECT_EQ(instance->Priority(), 50.0f);
  EXPECT_TRUE(Logged("Priority of playing id 7: the value is not a number"));
  // Ids the real hook records go when the instance ends.
  EXPECT_EQ(SN::LowerEngine::InstalledInstanceValueOwnerHook(), &SN::LowerEngine::RecordInstanceValueOwner);
  EXPECT_TRUE(SN::LowerEngine::RegisterInstanceValueOwner(instance, 12, false));
}

TEST_F(PlaybackInstanceTest, PlaysAreAdmittedByLimitsAudibilityAndEndWithoutASource) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::VoiceManager::SetGlobalMaximum(4);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(PlayNode(70, 20 + i), SN::SN_Success);
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 4u);
  EXPECT_EQ(SN::VoiceManager::GlobalLimiter().Count(), 4u);
  // A fifth of equal priority loses the tie, and a killing behaviour may not play it virtual.
  EXPECT_EQ(PlayNode(70, 30), SN::SN_NothingChanged);
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 4u);
  SN::VoiceManager::SetGlobalMaximum(SN::VoiceManager::kDefaultMaxVoices);
  // Inaudible: refused when killed, played virtual when the node lets it.
  EXPECT_EQ(PlayNode(71, 31), SN::SN_NothingChanged);
  EXPECT_EQ(PlayNode(72, 32), SN::SN_Success);
  EXPECT_EQ(SN::VoiceManager::ExcludedInstanceCount(), 1u);
  EXPECT_EQ(Node(70)->Activity()->playing, 4);
  // No source yet: every play ends in the pass, leaving nothing counted.
  RunVoicePass();
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(SN::VoiceManager::ExcludedInstanceCount(), 0u);
  EXPECT_EQ(SN::VoiceManager::GlobalLimiter().Count(), 0u);
  EXPECT_EQ(Node(70)->Activity(), nullptr);
  EXPECT_TRUE(Logged("Playing id 20: no source could be made for the voice"));
}

TEST_F(PlaybackInstanceTest, OverTheMemoryThresholdOnlyAHigherPriorityPlaysAndTheLowestGoes) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  ASSERT_EQ(PlayNode(70, 50), SN::SN_Success);
  SN::CSnPlaybackInstance* lowest = nullptr;
  ASSERT_EQ(SN::VoiceManager::GlobalLimiter().Count(), 1u);
  lowest = SN::VoiceManager::GlobalLimiter().At(0);
  // Fill the default pool past half its reserve.
  SN::MemoryMgr::PoolMemInfo info;
  ASSERT_EQ(SN::MemoryMgr::GetPoolMemoryUsed(SN::g_DefaultPoolId, info), SN::SN_Success);
  ASSERT_LT(double(info.usedBytes) / double(info.totalBytes), 0.5);
  void* filler = SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, info.totalBytes / 2 + 1024);
  ASSERT_NE(filler, nullptr);
  EXPECT_EQ(PlayNode(70, 51), SN::SN_NothingChanged);  // equal priority: refused
  EXPECT_FALSE(lowest->m_stopping);
  EXPECT_EQ(PlayNode(73, 52), SN::SN_Success);  // one point higher: the lowest is killed for room
  EXPECT_TRUE(lowest->m_stopping);
  EXPECT_EQ(lowest->m_stopReason, 3);
  // Killed, it counts for no limit again: it has left the engine-wide limiter before it ends, so that
  // the plays after it do not walk past it.
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 2u);
  ASSERT_EQ(SN::VoiceManager::GlobalLimiter().Count(), 1u);
  EXPECT_NE(SN::VoiceManager::GlobalLimiter().At(0), lowest);
  SN::MemoryMgr::Free(SN::g_DefaultPoolId, filler);
  RunVoicePass();
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
}

TEST_F(PlaybackInstanceTest, AnInstanceThatALimiterHasNoRoomForIsLeftInNone) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::CSnNodeLimiter roomy(nullptr, 0, false, false, SN::CSnNodeLimiter::Kind_Node);
  SN::CSnNodeLimiter empty(nullptr, 0, false, false, SN::CSnNodeLimiter::Kind_Bus);
  SN::CSnPlaybackLimiter& global = SN::VoiceManager::GlobalLimiter();
  ASSERT_EQ(global.Count(), 0u);
  // Room for more in `roomy`; the engine-wide limiter filled to the end of its first block.
  Make(80)->Init(&roomy, nullptr);
  while (global.Count() % SN::SnPriorityArray<CSnPlaybackInstance>::kGrowth) Make(81)->Init(nullptr, nullptr);
  CSnPlaybackInstance* refusedByEmpty = Make(82);
  CSnPlaybackInstance* refusedByGlobal = Make(83);
  // Nothing more fits in the pool the limiters grow in.
  std::vector<void*> filler;
  for (size_t size = size_t(1) << 24; size >= 16; size /= 4)
    while (void* block = SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, size)) filler.push_back(block);
  const uint32_t full = global.Count();
  EXPECT_EQ(refusedByEmpty->Init(&roomy, &empty), SN::SN_InsufficientMemory);
  EXPECT_EQ(refusedByGlobal->Init(&roomy, nullptr), SN::SN_InsufficientMemory);
  for (void* block : filler) SN::MemoryMgr::Free(SN::g_DefaultPoolId, block);
  // Only the first play is in `roomy`, no refused one stays in the engine-wide limiter, and ending
  // them all empties every limiter before they go.
  // (No early return: the limiters must outlive the plays in them.)
  EXPECT_EQ(roomy.Limiter().Count(), 1u);
  for (uint32_t i = 0; i < roomy.Limiter().Count(); ++i) EXPECT_NE(roomy.Limiter().At(i), refusedByEmpty);
  EXPECT_EQ(empty.Limiter().Count(), 0u);
  EXPECT_EQ(global.Count(), full);
  EndMade();
  EXPECT_EQ(roomy.Limiter().Count(), 0u);
  EXPECT_EQ(global.Count(), 0u);
}

// A playing sound adopted by a parent that has no memory for its records: the voice is counted
// nowhere on its new roads, so its end gives nothing back there.
TEST_F(PlaybackInstanceTest, AVoiceThatCouldNotBeCountedOnItsNewRoadsGivesNothingBack) {
  ASSERT_EQ(LoadBank({{kParentType, 60, {}}}), SN::SN_Success);
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  ASSERT_EQ(PlayNode(70), SN::SN_Success);
  std::vector<void*> filler;
  for (size_t size = size_t(1) << 24; size >= 8; size /= 4)
    while (void* block = SN::MemoryMgr::Malloc(SN::g_DefaultPoolId, size)) filler.push_back(block);
  Node(70)->SetParent(Node(60));
  for (void* block : filler) SN::MemoryMgr::Free(SN::g_DefaultPoolId, block);
  EXPECT_EQ(Node(60)->Activity(), nullptr);
  RunVoicePass();
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(Node(70)->Activity(), nullptr);
  EXPECT_FALSE(Logged("never counted"));
  Node(70)->SetParent(nullptr);
}

TEST_F(PlaybackInstanceTest, APlayWithoutASourceEndsItsPlayingId) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::SnPlayingIdParams id;
  id.playingId = 60;
  ASSERT_EQ(SN::g_pPlayingIDCallbackMgr->AddPlayingID(id, nullptr, nullptr, 0, 1), SN::SN_Success);
  ASSERT_EQ(PlayNode(70, 60), SN::SN_Success);
  SN::g_pPlayingIDCallbackMgr->ReleasePendingActionRef(60);  // the event's action is done
  EXPECT_TRUE(SN::g_pPlayingIDCallbackMgr->IsPlayingIdActive(60));
  RunVoicePass();
  EXPECT_FALSE(SN::g_pPlayingIDCallbackMgr->IsPlayingIdActive(60));
}

TEST_F(PlaybackInstanceTest, ExternalSourcesAreResolvedFromThePlayOrRefused) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::CSnSourceDesc external;
  external.SetMediaSource(0x80001, 44, 0xFFFFFFFFu, 0, 0);
  SN::CSnPlayParams params;
  params.gameObject = GameObject(3);
  params.playingId = 40;
  EXPECT_EQ(SN::VoiceManager::PlayLeafNode(Node(70), &external, params), SN::SN_Failure);
  EXPECT_TRUE(Logged("External source 44 is not in the posted event's list"));
  static uint8_t bytes[16] = {};
  const SN::SnExternalSourceInfo entry{44, 1, nullptr, bytes, sizeof bytes, 0};
  SN::CSnExternalSourceList* list = SN::CSnExternalSourceList::Copy(&entry, 1);
  ASSERT_NE(list, nullptr);
  params.externalSources = list;
  EXPECT_EQ(SN::VoiceManager::PlayLeafNode(Node(70), &external, params), SN::SN_Success);
  list->Release();
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 1u);
  RunVoicePass();
  EXPECT_EQ(SN::VoiceManager::ActiveInstanceCount(), 0u);
}

// A flood of plays that finds no memory for its instances says so once and counts the rest, naming
// the other sounds refused, when a frame passes without it. Before, each refusal wrote its own line
// (91,887 in one run of a flood).
TEST_F(PlaybackInstanceTest, PlaysRefusedForWantOfMemoryAreFoldedWithTheSoundsTheyName) {
  struct NoRoom final : SN::ISnPlaybackInstanceCreator {
    CSnPlaybackInstance* CreatePlaybackInstance(SN::CSnPropertyNode*, const SN::CSnSourceDesc*,
                                                const SN::CSnPlayParams&, const SN::SnPriorityRecord&, bool) override {
      return nullptr;
    }
  } noRoom;
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  for (uint32_t node : {70u, 70u, 73u, 70u}) {
    SN::CSnPlayParams params;
    params.gameObject = GameObject(3);
    params.playingId = 9;
    params.instanceCreator = &noRoom;
    EXPECT_EQ(SN::VoiceManager::PlayLeafNode(Node(node), &source_, params), SN::SN_Failure);
  }
  Base::TraceRepeats& repeats = Base::TraceRepeats::GetInstance();
  repeats.EndFrame();
  repeats.EndFrame();
  repeats.WriteClosed();
  Logged("");
  const std::string line = "PlayLeafNode: no memory for the playback instance of sound 70\n";
  EXPECT_EQ(logged_.find(line), logged_.rfind(line)) << logged_;
  EXPECT_TRUE(Logged("PlayLeafNode: no memory for the playback instance of sound 70 (and 3 more like it, also for id 73)\n"))
      << logged_;
}

// With room for one transition only, a new fade takes the place of the one furthest along, which
// completes at once: a stop still stops.
class PlaybackInstanceOneTransitionTest : public PlaybackInstanceTest {
 protected:
  void AdjustSettings(SN::SnInitSettings& settings) override {
    PlaybackInstanceTest::AdjustSettings(settings);
    settings.maxTransitions = 1;
  }
};

TEST_F(PlaybackInstanceOneTransitionTest, AFadeWithoutRoomCompletesTheOneItReplaces) {
  Platform::ReentrantGuard audio(SN::GlobalAudioLock());
  SN::g_pTransitionMgr->ProcessFrame(frame_);
  CSnPlaybackInstance* first = Make();
  CSnPlaybackInstance* second = Make();
  for (CSnPlaybackInstance* instance : {first, second}) {
    ASSERT_EQ(instance->Play(Fade(0, SN::SnCurve_Linear), false, false), SN::SN_Success);
    instance->MarkSourcePlaying();
  }
  first->Stop(Fade(210, SN::SnCurve_Linear), true);
  ASSERT_NE(first->PlayStopTransition(), nullptr);
  EXPECT_FALSE(first->IsStoppedNow());
  second->Stop(Fade(210, SN::SnCurve_Linear), true);
  EXPECT_EQ(first->PlayStopTransition(), nullptr);
  EXPECT_EQ(first->PlayStopFactor(), 0.0f);
  EXPECT_TRUE(first->IsStoppedNow());
  ASSERT_NE(second->PlayStopTransition(), nullptr);
  EXPECT_EQ(SN::g_pTransitionMgr->OrdinaryCount(), 1u);
  Step();
  EXPECT_NEAR(second->PlayStopFactor(), 0.9f, 1e-6f);  // 210 ms: ten frames
}
