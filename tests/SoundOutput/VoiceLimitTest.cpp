// Voice limiting through rendered frames: deferred instance commands in order past the 64 pooled
// nodes and the retiring of an instance whose context went, the node and engine-wide limiters of
// the frame's pass, the admission of a new instance, the recount of an instance back from virtual,
// the active-limiter lists, and the instances Term retires.
#include "OutputTestSupport.h"

#include <iterator>
#include <utility>

#include "SoundEngine/Lower/Voices/PlaybackInstance.h"
#include "SoundEngine/Lower/Voices/PlaybackLimiter.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "tests/Support/LogCapture.h"

namespace {

using namespace SN;
using OutputTest::OutputFixture;

// What the test instances were told, in order, as text.
std::vector<std::string>& Told() {
  static std::vector<std::string> heard;
  return heard;
}

class TestInstance final : public CSnPlaybackInstance {
 public:
  TestInstance(const char* name, float priority, uint32_t sequence, uint8_t behaviour = SnVirtual_Kill)
      : m_name(name) {
    m_priority = priority;
    m_sequenceNumber = sequence;
    m_virtualBehaviour = behaviour;
  }
  void StopNow() override { Told().push_back(m_name + " stop " + std::to_string(m_stopReason)); }
  void OnInstanceCommand(uint32_t kind, uint32_t parameter, float time) override {
    Told().push_back(m_name + " kind " + std::to_string(kind) + " " + std::to_string(parameter) + " " +
                      std::to_string(int(time)));
  }
  void Term(uint32_t flags) override { Told().push_back(m_name + " term " + std::to_string(flags)); }
  void Destroy() override {
    Told().push_back(m_name + " destroyed");
    delete this;
  }

 private:
  std::string m_name;
};

class VoiceLimitTest : public OutputFixture {
 protected:
  void SetUp() override {
    OutputFixture::SetUp();
    Told().clear();
    InitWithMemorySink();
  }
  void TearDown() override {
    VoiceManager::SetGlobalMaximum(VoiceManager::kDefaultMaxVoices);
    OutputFixture::TearDown();
    Told().clear();
  }
  TestInstance* Launch(const char* name, float priority, uint32_t sequence, uint8_t behaviour = SnVirtual_Kill) {
    auto* instance = new TestInstance(name, priority, sequence, behaviour);
    Platform::ReentrantGuard guard(GlobalAudioLock());
    VoiceManager::AddActiveInstance(instance);
    return instance;
  }
  static void Queue(CSnPlaybackInstance* instance, uint32_t kind, uint32_t parameter, float time) {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    ASSERT_EQ(VoiceManager::QueueInstanceCommand(instance, kind, parameter, time), SN_Success);
  }
  static std::vector<std::string> TakeHeard() {
    std::vector<std::string> heard;
    heard.swap(Told());
    return heard;
  }
};

TEST_F(VoiceLimitTest, CommandsRunInOrderAtTheEndOfThePassPastTheSixtyFourPooledNodes) {
  TestInstance* a = Launch("a", 50, 1);
  TestInstance* b = Launch("b", 50, 2);
  for (uint32_t i = 0; i < 100; ++i) Queue(i % 2 ? b : a, SnInstanceCommand_FadeBegun, i, float(i * 10));
  EXPECT_EQ(VoiceManager::QueuedInstanceCommandCount(), 100u);
  EXPECT_TRUE(Told().empty());
  Render();
  const std::vector<std::string> heard = TakeHeard();
  ASSERT_EQ(heard.size(), 100u);
  EXPECT_EQ(heard[0], "a kind 3 0 0");
  EXPECT_EQ(heard[65], "b kind 3 65 650");
  EXPECT_EQ(heard[99], "b kind 3 99 990");
  EXPECT_EQ(VoiceManager::QueuedInstanceCommandCount(), 0u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
}

TEST_F(VoiceLimitTest, AnInstanceWhoseContextWentIsRetiredAndHearsNothingAfter) {
  TestInstance* a = Launch("a", 50, 1);
  Launch("b", 50, 2);
  TestInstance* c = Launch("c", 50, 3);
  Queue(c, SnInstanceCommand_ContextDetached, 7, 0.0f);
  Queue(c, SnInstanceCommand_FadeBegun, 8, 0.0f);
  Queue(a, SnInstanceCommand_FadeBegun, 9, 0.0f);
  Render();
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"c kind 4 7 0", "c term 0", "c destroyed", "a kind 3 9 0"}));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  // The last one went: a new one goes after the one now last.
  Launch("d", 50, 4);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 3u);
  SoundEngine::Term();
  // Term retires the rest in list order.
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"a stop 0", "a term 0", "a destroyed", "b stop 0", "b term 0",
                                                    "b destroyed", "d stop 0", "d term 0", "d destroyed"}));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

TEST_F(VoiceLimitTest, EveryRetiredInstanceLosesItsLaterCommandsAndTheOthersKeepTheirs) {
  TestInstance* a = Launch("a", 50, 1);
  TestInstance* b = Launch("b", 50, 2);
  TestInstance* c = Launch("c", 50, 3);
  constexpr uint32_t kFade = SnInstanceCommand_FadeBegun, kGone = SnInstanceCommand_ContextDetached;
  const std::pair<TestInstance*, uint32_t> queued[] = {{a, kFade}, {b, kGone}, {a, kGone}, {b, kFade},
                                                       {c, kFade}, {a, kFade}, {c, kFade}};
  for (uint32_t i = 0; i < std::size(queued); ++i) Queue(queued[i].first, queued[i].second, i + 1, 0.0f);
  Render();
  // Each is let go when it goes; its memory only once the walk has passed its later commands.
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"a kind 3 1 0", "b kind 4 2 0", "b term 0", "a kind 4 3 0",
                                                    "a term 0", "b destroyed", "c kind 3 5 0", "a destroyed",
                                                    "c kind 3 7 0"}));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
  {
    OrvTest::LogCapture log;
    Platform::ReentrantGuard guard(GlobalAudioLock());
    EXPECT_EQ(VoiceManager::QueueInstanceCommand(nullptr, SnInstanceCommand_FadeBegun, 0, 0.0f), SN_InvalidParameter);
    EXPECT_NE(log.Take().find("for no instance"), std::string::npos);
  }
  EXPECT_EQ(VoiceManager::QueuedInstanceCommandCount(), 0u);
}

// Instance commands past the pooled ones take their items from the default pool once: the next burst
// of the same size takes nothing more.
TEST_F(VoiceLimitTest, ABurstOfInstanceCommandsTakesItsItemsFromThePoolOnlyOnce) {
  TestInstance* a = Launch("a", 50, 1);
  auto used = [] {
    MemoryMgr::PoolMemInfo info;
    EXPECT_EQ(MemoryMgr::GetPoolMemoryUsed(g_DefaultPoolId, info), SN_Success);
    return info.usedBytes;
  };
  constexpr uint32_t kBurst = 500;
  for (uint32_t i = 0; i < kBurst; ++i) Queue(a, SnInstanceCommand_FadeBegun, i, 0.0f);
  Render();
  EXPECT_EQ(TakeHeard().size(), kBurst);
  const uint32_t afterFirst = used();
  for (uint32_t i = 0; i < kBurst; ++i) Queue(a, SnInstanceCommand_FadeBegun, i, 0.0f);
  EXPECT_EQ(used(), afterFirst);
  Render();
  EXPECT_EQ(TakeHeard().size(), kBurst);
  EXPECT_EQ(VoiceManager::QueuedInstanceCommandCount(), 0u);
}

// Instances leave the list from its middle, head and tail in one pass; the rest keep their order
// and a new one goes after the last of them.
TEST_F(VoiceLimitTest, RetiredInstancesLeaveTheListFromAnywhere) {
  TestInstance* a = Launch("a", 50, 1);
  TestInstance* b = Launch("b", 50, 2);
  TestInstance* c = Launch("c", 50, 3);
  TestInstance* d = Launch("d", 50, 4);
  TestInstance* e = Launch("e", 50, 5);
  Queue(c, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Queue(a, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Queue(e, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Render();
  auto listed = [] {
    std::vector<CSnPlaybackInstance*> instances;
    for (CSnPlaybackInstance* i = VoiceManager::FirstActiveInstance(); i; i = i->m_pNextActive) instances.push_back(i);
    return instances;
  };
  EXPECT_EQ(listed(), (std::vector<CSnPlaybackInstance*>{b, d}));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 2u);
  TestInstance* f = Launch("f", 50, 6);
  EXPECT_EQ(listed(), (std::vector<CSnPlaybackInstance*>{b, d, f}));
  Queue(b, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Queue(f, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Render();
  EXPECT_EQ(listed(), (std::vector<CSnPlaybackInstance*>{d}));
  TakeHeard();
  Launch("g", 50, 7);
  SoundEngine::Term();
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"d stop 0", "d term 0", "d destroyed", "g stop 0", "g term 0",
                                                    "g destroyed"}));
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
}

TEST_F(VoiceLimitTest, TheFramePassStopsWhatANodeLimiterHoldsPastItsMaximum) {
  CSnPlaybackLimiter kills(2, true, false);
  CSnPlaybackLimiter virtuals(1, true, true);
  TestInstance* high = Launch("high", 80, 1);
  TestInstance* older = Launch("older", 40, 2);
  TestInstance* newer = Launch("newer", 40, 3);
  TestInstance* low = Launch("low", 10, 4);
  TestInstance* v1 = Launch("v1", 60, 5, SnVirtual_BecomeVirtual);
  TestInstance* v2 = Launch("v2", 30, 6, SnVirtual_BecomeVirtual);
  for (TestInstance* i : {low, newer, high, older}) ASSERT_TRUE(kills.Add(i));
  ASSERT_TRUE(virtuals.Add(v2));
  ASSERT_TRUE(virtuals.Add(v1));
  EXPECT_EQ(kills.At(0), high);
  EXPECT_EQ(kills.At(1), older);  // older first among equals
  EXPECT_EQ(kills.At(2), newer);
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    VoiceManager::LinkActiveLimiterKind1(&kills);
    VoiceManager::LinkActiveLimiterKind2(&virtuals);
  }
  Render();
  // Past the first two: killed with the node reason; v2 is made virtual for this frame.
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"newer stop 1", "low stop 1"}));
  EXPECT_TRUE(newer->m_stopping);
  EXPECT_FALSE(v1->m_limitedThisFrame);
  EXPECT_TRUE(v2->m_limitedThisFrame);
  v2->m_excluded = true;  // it went virtual
  Render();
  // Last frame's limiting is remembered, and a virtual instance limited last frame still counts.
  EXPECT_TRUE(v2->m_limitedLastFrame);
  EXPECT_TRUE(v2->m_limitedThisFrame);
  EXPECT_TRUE(Told().empty());
  Platform::ReentrantGuard guard(GlobalAudioLock());
  VoiceManager::UnlinkActiveLimiterKind1(&kills);
  VoiceManager::UnlinkActiveLimiterKind2(&virtuals);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind1(), nullptr);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind2(), nullptr);
}

TEST_F(VoiceLimitTest, ActiveLimitersArePushedAtTheHeadAndUnlinkedFromAnywhere) {
  CSnPlaybackLimiter first(1, true, false), second(1, true, false), third(1, true, false);
  Platform::ReentrantGuard guard(GlobalAudioLock());
  VoiceManager::LinkActiveLimiterKind1(&first);
  VoiceManager::LinkActiveLimiterKind1(&second);
  VoiceManager::LinkActiveLimiterKind1(&third);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind1(), &third);
  VoiceManager::UnlinkActiveLimiterKind1(&second);
  EXPECT_EQ(third.m_pNextActive, &first);
  VoiceManager::UnlinkActiveLimiterKind1(&third);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind1(), &first);
  VoiceManager::UnlinkActiveLimiterKind1(&first);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind1(), nullptr);
  EXPECT_EQ(VoiceManager::FirstActiveLimiterKind2(), nullptr);
}

TEST_F(VoiceLimitTest, ANewRunOfTheEngineStartsWithTheDefaultVoiceMaximum) {
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(2), SN_Success);
  Render();
  SoundEngine::Term();
  InitWithMemorySink();
  EXPECT_EQ(VoiceManager::GlobalLimiter().Maximum(), VoiceManager::kDefaultMaxVoices);
}

TEST_F(VoiceLimitTest, TheEngineWideLimiterFollowsTheVoiceMaximumAndStopsWithItsOwnReason) {
  EXPECT_EQ(VoiceManager::GlobalLimiter().Maximum(), 256u);
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(2), SN_Success);
  Render();
  EXPECT_EQ(VoiceManager::GlobalLimiter().Maximum(), 2u);
  CSnPlaybackLimiter& global = VoiceManager::GlobalLimiter();
  TestInstance* a = Launch("a", 70, 1);
  TestInstance* b = Launch("b", 20, 2);
  TestInstance* c = Launch("c", 50, 3, SnVirtual_ContinueToPlay);
  for (TestInstance* i : {a, b, c}) ASSERT_TRUE(global.Add(i));
  Render();
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"b stop 2"}));
  for (TestInstance* i : {a, b, c}) global.Remove(i);
  EXPECT_EQ(global.Count(), 0u);
}

TEST_F(VoiceLimitTest, ANewInstanceIsAdmittedMadeVirtualOrRefusedAsTheLimiterDecides) {
  CSnPlaybackLimiter limiter(2, true, false);
  TestInstance* a = Launch("a", 60, 1);
  TestInstance* b = Launch("b", 40, 2);
  ASSERT_TRUE(limiter.Add(a));
  CSnPlaybackInstance* givesWay = nullptr;
  // Room for one more.
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 10, nullptr, true, false, &givesWay, 1), SN_Success);
  EXPECT_EQ(givesWay, nullptr);
  ASSERT_TRUE(limiter.Add(b));
  // Full, every instance above the new one: refused, or virtual with the behaviour in force.
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 30, nullptr, true, false, &givesWay, 1), SN_Failure);
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 30, nullptr, true, true, &givesWay, 1), SN_PlayAsVirtual);
  // Equal to the lowest: the new one loses the tie when told to, else the lowest gives way.
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 40, nullptr, true, false, &givesWay, 1), SN_Failure);
  EXPECT_TRUE(Told().empty());
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 41, nullptr, true, false, &givesWay, 3), SN_Success);
  EXPECT_EQ(givesWay, b);
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"b stop 3"}));
  // A stopping instance is no longer eligible: b's place is free.
  givesWay = nullptr;
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 1, nullptr, true, false, &givesWay, 1), SN_Success);
  EXPECT_EQ(givesWay, nullptr);
  // One that continues to play is never chosen, yet lets the new one play beside it within the maximum.
  TestInstance* keeps = Launch("keeps", 5, 3, SnVirtual_ContinueToPlay);
  ASSERT_TRUE(limiter.Add(keeps));
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 50, nullptr, true, true, &givesWay, 1), SN_Success);
  EXPECT_EQ(givesWay, nullptr);
  // With the behaviour in force a candidate that would become virtual is named but left playing.
  TestInstance* virtualOne = Launch("virtual", 45, 4, SnVirtual_BecomeVirtual);
  ASSERT_TRUE(limiter.Add(virtualOne));
  EXPECT_EQ(limiter.EnforceForNewInstance(1, 50, nullptr, true, true, &givesWay, 1), SN_Success);
  EXPECT_EQ(givesWay, virtualOne);
  EXPECT_FALSE(virtualOne->m_stopping);
  // Another game object's instances are not eligible.
  auto* other = reinterpret_cast<CSnRegisteredObj*>(uintptr_t(0x40));
  EXPECT_EQ(limiter.EnforceForNewInstance(1, 99, other, true, false, &givesWay, 1), SN_Success);
  EXPECT_TRUE(Told().empty());
}

TEST_F(VoiceLimitTest, WithNoneBelowTheNewOneOnlyAPlayThatContinuesWithinTheMaximumLetsItPlay) {
  CSnPlaybackLimiter limiter(2, true, true);
  TestInstance* high = Launch("high", 60, 1);
  TestInstance* tied = Launch("tied", 50, 2, SnVirtual_ContinueToPlay);
  ASSERT_TRUE(limiter.Add(high));
  ASSERT_TRUE(limiter.Add(tied));
  CSnPlaybackInstance* givesWay = nullptr;
  // Full, nobody below 50: the tied play that continues lets a new 50 play beside it.
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 50, nullptr, true, true, &givesWay, 1), SN_Success);
  // Below every play the new one is not let in by it.
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 40, nullptr, true, true, &givesWay, 1), SN_PlayAsVirtual);
  // Past the maximum it lets nothing in either.
  TestInstance* middle = Launch("middle", 55, 3);
  ASSERT_TRUE(limiter.Add(middle));
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 50, nullptr, true, true, &givesWay, 1), SN_PlayAsVirtual);
  EXPECT_EQ(limiter.EnforceForNewInstance(2, 50, nullptr, true, false, &givesWay, 1), SN_Failure);
  EXPECT_EQ(givesWay, nullptr);
  EXPECT_TRUE(Told().empty());
  for (TestInstance* i : {high, tied, middle}) limiter.Remove(i);
}

TEST_F(VoiceLimitTest, AnInstanceBackFromVirtualIsCountedAndMayMakeTheLowestGiveWay) {
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(2), SN_Success);
  Render();
  CSnPlaybackLimiter& global = VoiceManager::GlobalLimiter();
  TestInstance* a = Launch("a", 70, 1);
  TestInstance* b = Launch("b", 20, 2);
  TestInstance* c = Launch("c", 50, 3);
  for (TestInstance* i : {a, b, c}) ASSERT_TRUE(global.Add(i));
  Platform::ReentrantGuard guard(GlobalAudioLock());
  VoiceManager::ExcludeInstance();
  VoiceManager::ExcludeInstance();
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 2u);
  VoiceManager::RecountInstance(true);  // 3 - 1 = 2: within the maximum
  EXPECT_TRUE(Told().empty());
  VoiceManager::RecountInstance(false);  // 3 - 0 = 3, but not asked to enforce
  EXPECT_TRUE(Told().empty());
  VoiceManager::ExcludeInstance();
  VoiceManager::RecountInstance(true);
  EXPECT_EQ(TakeHeard(), (std::vector<std::string>{"b stop 2"}));
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 0u);
  for (TestInstance* i : {a, b, c}) global.Remove(i);
}

TEST_F(VoiceLimitTest, AVirtualInstanceThatIsRetiredTakesItsExclusionWithIt) {
  TestInstance* a = Launch("a", 50, 1);
  a->m_excluded = true;
  {
    Platform::ReentrantGuard guard(GlobalAudioLock());
    VoiceManager::ExcludeInstance();
  }
  Queue(a, SnInstanceCommand_ContextDetached, 0, 0.0f);
  Render();
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 0u);
  EXPECT_EQ(VoiceManager::ExcludedInstanceCount(), 0u);
}

}  // namespace
