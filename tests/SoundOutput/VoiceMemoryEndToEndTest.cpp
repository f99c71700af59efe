// Many looping 3D voices through rendered frames: the Init bank's voice count caps the voices that
// mix, the rest go virtual; and when the lower engine's pool has no room for one more voice, the new
// one is refused with one log line, while the voices already playing sound on sample for sample.
// A game object registered while the default pool is near full is refused or plays.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "SoundEndToEndSupport.h"
#include "SoundEngine/Lower/LowerEngine.h"
#include "SoundEngine/SoundEngineApi.h"

namespace {

using namespace EndToEnd;

constexpr uint32_t kFiller = 8;

// A 375 Hz tone looped over exactly one frame (1024 samples, eight periods), so that a steady voice
// of it writes the same frame again and again; and a silent one for the voices that fill memory.
const char* const kBank =
    "platform Linux\n"
    "tone Steady 48000 1 22 375\n"
    "loop Steady 0 1023\n"
    "tone Quiet 48000 1 22 0\n"
    "loop Quiet 0 1023\n"
    "sound Steady3D Steady Effects loop 0 3d Spot3D\n"
    "sound Quiet3D Quiet Effects loop 0 3d Spot3D\n"
    "action Play_Steady3D_Act 0x0403 Steady3D\n"
    "event Play_Steady3D Play_Steady3D_Act\n"
    "action Play_Quiet3D_Act 0x0403 Quiet3D\n"
    "event Play_Quiet3D Play_Quiet3D_Act\n";

class VoiceMemoryEndToEndTest : public SoundEndToEndTest {
 protected:
  void BeforeInit() override {
    if (lowerPoolBytes_) platform_.lowerEnginePoolBytes = lowerPoolBytes_;
  }
  void SetUp() override {
    SoundEndToEndTest::SetUp();
    LoadOwnBank(kBank);
    ASSERT_EQ(SoundEngine::RegisterGameObj(kFiller), SN_Success);
    const SnSoundPosition ahead{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
    ASSERT_EQ(SoundEngine::SetPosition(kObject, ahead), SN_Success);
    ASSERT_EQ(SoundEngine::SetPosition(kFiller, ahead), SN_Success);
  }
  void TearDown() override {
    SoundEngine::ApplyMaxNumVoicesLimit(256, 0);
    SoundEndToEndTest::TearDown();
  }
  // Every block the default pool still has, for the caller to give back.
  static std::vector<void*> FillDefaultPool() {
    std::vector<void*> held;
    for (size_t size = 65536; size >= 8; size /= 2)
      while (void* block = MemoryMgr::Malloc(g_DefaultPoolId, size)) held.push_back(block);
    return held;
  }
  // Every sample from frame `first` on against the steady voice alone, 10 m straight ahead: its
  // media (looped on the frame) through the placed voice's gains, Spot3D's -4 dB at 10 m by the
  // engine's fast power of ten (worked by hand in SoundEndToEndTest), and the centre's split to the
  // front pair; within 1 LSB.
  void ExpectTheSteadyVoiceAlone(const std::array<std::vector<double>, 2>& planes, size_t first) const {
    const std::vector<double> steady = OwnMedia("Steady");
    ASSERT_GE(steady.size(), size_t(kFrame));
    const double m = 1.0 + 2815360.0 / 8388608.0;
    const double curve = 0.5 * ((0.32518977 * m + 0.020805772) * m + 0.65304345);
    const double gain = kVoiceUnity * kFastUnity * curve * kCentreToPair * 32768.0;
    for (int c = 0; c < 2; ++c) {
      ASSERT_GE(planes[c].size(), (first + 2) * kFrame);
      for (size_t t = first * kFrame; t < planes[c].size(); ++t)
        ASSERT_NEAR(planes[c][t], steady[t % kFrame] * gain, 1.0) << "channel " << c << " sample " << t;
    }
  }

  uint32_t lowerPoolBytes_ = 0;
};

// The Init bank says 64 voices: past them, the silent voices of the same priority posted later go
// virtual, and the first voice mixes on unchanged.
TEST_F(VoiceMemoryEndToEndTest, TheInitBanksVoiceCountCapsTheVoicesThatMix) {
  ASSERT_EQ(SoundEngine::MaxNumVoicesLimit(), 64);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady3D", kObject), 0u);
  Frames(4);
  for (int i = 0; i < 200; ++i) ASSERT_NE(SoundEngine::PostEvent("Play_Quiet3D", kFiller), 0u);
  Frames(6);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 201u);
  EXPECT_EQ(VoiceManager::ActiveInstanceCount() - VoiceManager::ExcludedInstanceCount(), 64u);
  ExpectTheSteadyVoiceAlone(Capture(), 3);
}

class VoiceMemoryExhaustedTest : public VoiceMemoryEndToEndTest {
 protected:
  // A small lower-engine pool: a few hundred voices fill it.
  VoiceMemoryExhaustedTest() { lowerPoolBytes_ = 1u << 20; }
};

// Every voice may mix, and they are far more than the lower engine's pool holds: once it is full,
// each new voice is refused, one line tells it, and the first voice sounds on unchanged.
TEST_F(VoiceMemoryExhaustedTest, PastThePoolNewVoicesAreRefusedAndTheOldOnesSoundOn) {
  ASSERT_EQ(SoundEngine::SetMaxNumVoicesLimit(60000), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Steady3D", kObject), 0u);
  Frames(4);
  log_.Take();
  uint32_t posted = 0;
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < 200; ++i, ++posted) SoundEngine::PostEvent("Play_Quiet3D", kFiller);
    Frames(1);
  }
  const uint32_t playing = VoiceManager::ActiveInstanceCount();
  EXPECT_LT(playing, posted + 1) << "the pool never ran out";
  EXPECT_GT(playing, 1u);
  // One line for the whole shortage, and nothing more while the voices that have their memory play.
  const std::string told = log_.Take();
  EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told.substr(0, 2000);
  EXPECT_NE(told.find("the lower engine's memory is full"), std::string::npos) << told;
  Frames(4);
  EXPECT_EQ(log_.Take(), "");
  EXPECT_EQ(VoiceManager::ActiveInstanceCount(), playing);
  ExpectTheSteadyVoiceAlone(Capture(), 3);
}

// The default pool held full but for a block of a few bytes while a game object is registered and
// the pass that takes the call runs: the call is refused with 52 and nothing is registered, or it
// answers 1 and an event posted on the object once the pool is free plays.
TEST_F(VoiceMemoryEndToEndTest, ARegistrationWithoutMemoryIsRefusedOrItsObjectPlays) {
  uint32_t refused = 0, registered = 0;
  for (uint32_t slack = 0; slack <= 256; slack += 8) {
    SCOPED_TRACE("slack " + std::to_string(slack));
    const uint32_t object = 100 + slack;
    void* room = slack ? MemoryMgr::Malloc(g_DefaultPoolId, slack) : nullptr;
    const std::vector<void*> held = FillDefaultPool();
    MemoryMgr::Free(g_DefaultPoolId, room);
    const SNRESULT result = SoundEngine::RegisterGameObj(object);
    Frames(1);
    for (void* block : held) MemoryMgr::Free(g_DefaultPoolId, block);
    if (result == SN_InsufficientMemory) {
      ++refused;
      EXPECT_EQ(g_pRegistryMgr->Find(object), nullptr);
      continue;
    }
    ASSERT_EQ(result, SN_Success);
    ++registered;
    ASSERT_NE(SoundEngine::PostEvent("Play_Beep", object), 0u);
    Frames(2);
    EXPECT_EQ(VoiceManager::ActiveInstanceCount(), 1u);
    ASSERT_EQ(SoundEngine::StopAll(), SN_Success);
    ASSERT_EQ(SoundEngine::UnregisterGameObj(object), SN_Success);
    Frames(2);
  }
  EXPECT_GT(refused, 0u);
  EXPECT_GT(registered, 0u);
}

// With the default pool full, a registration of an object registered already takes no memory: it
// answers 1 and its listener mask is set. One whose unregistration is still on its way is refused
// with 52, and nothing is registered.
TEST_F(VoiceMemoryEndToEndTest, ARegistrationOfARegisteredObjectTakesNoMemory) {
  constexpr uint32_t kRegistered = 321;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x1), SN_Success);
  Frames(1);
  const std::vector<void*> held = FillDefaultPool();
  EXPECT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x5), SN_Success);
  Frames(1);
  const CSnRegisteredObj* object = g_pRegistryMgr->Find(kRegistered);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->ListenerMask(), 0x5u);
  EXPECT_EQ(SoundEngine::UnregisterGameObj(kRegistered), SN_Success);
  EXPECT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x1), SN_InsufficientMemory);
  Frames(1);
  EXPECT_EQ(g_pRegistryMgr->Find(kRegistered), nullptr);
  for (void* block : held) MemoryMgr::Free(g_DefaultPoolId, block);
}

// With the default pool full, a registration takes no memory when its object is registered by the
// time its message is handled: its first registration still queued, or another object's
// unregistration queued before it. It answers 1 and its message sets the listener mask. An object
// never registered, or one whose own unregistration is queued before it, would need memory: 52, and
// nothing is registered.
TEST_F(VoiceMemoryEndToEndTest, ARegistrationTakesNoMemoryForAnObjectRegisteredWhenItsMessageIsHandled) {
  constexpr uint32_t kRegistered = 331, kQueued = 332, kLeaving = 333, kNever = 334;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x1), SN_Success);
  ASSERT_EQ(SoundEngine::RegisterGameObj(kLeaving, 0x1), SN_Success);
  Frames(1);
  ASSERT_EQ(SoundEngine::RegisterGameObj(kQueued, 0x1), SN_Success);
  ASSERT_EQ(SoundEngine::UnregisterGameObj(kLeaving), SN_Success);
  const std::vector<void*> held = FillDefaultPool();
  EXPECT_EQ(SoundEngine::RegisterGameObj(kQueued, 0x6), SN_Success) << "its first registration still queued";
  EXPECT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x6), SN_Success) << "another object's unregistration queued";
  EXPECT_EQ(SoundEngine::RegisterGameObj(kLeaving, 0x1), SN_InsufficientMemory);
  EXPECT_EQ(SoundEngine::RegisterGameObj(kNever, 0x1), SN_InsufficientMemory);
  Frames(1);
  for (void* block : held) MemoryMgr::Free(g_DefaultPoolId, block);
  for (const uint32_t id : {kQueued, kRegistered}) {
    const CSnRegisteredObj* object = g_pRegistryMgr->Find(id);
    ASSERT_NE(object, nullptr) << id;
    EXPECT_EQ(object->ListenerMask(), 0x6u) << id;
    EXPECT_EQ(SoundEngine::UnregisterGameObj(id), SN_Success);
  }
  EXPECT_EQ(g_pRegistryMgr->Find(kLeaving), nullptr);
  EXPECT_EQ(g_pRegistryMgr->Find(kNever), nullptr);
  EXPECT_NE(log_.Take().find("RegisterGameObj: no memory to register game object"), std::string::npos);
  Frames(1);
}

// A registration whose post finds the ring full drains it itself, and a message handled there (a
// pass's callback, say) unregisters the object first; a voice still holds the object, so its memory
// stays taken. With the default pool full the registration then needs memory: refused with 52,
// nothing registered; a registration answered 1 is made.
uint32_t g_unregisteredInDrain = 0;
SNRESULT g_unregistrationInDrain = SN_Success;
SnMessageHandler g_setPositionBeforeDrain = nullptr;

TEST_F(VoiceMemoryEndToEndTest, AnUnregistrationPostedWhileARegistrationDrainsTheRingComesFirst) {
  constexpr uint32_t kRegistered = 341;
  ASSERT_EQ(SoundEngine::RegisterGameObj(kRegistered, 0x1), SN_Success);
  ASSERT_NE(SoundEngine::PostEvent("Play_Quiet3D", kRegistered), 0u);
  Frames(2);
  g_unregisteredInDrain = kRegistered;
  g_setPositionBeforeDrain = SetMessageHandler(SnMsg_SetPosition, [](CSnAudioMgr& manager, const SnMsgHeader& header) {
    if (const uint32_t object = std::exchange(g_unregisteredInDrain, 0))
      g_unregistrationInDrain = SoundEngine::UnregisterGameObj(object);
    g_setPositionBeforeDrain(manager, header);
  });
  const SnSoundPosition ahead{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}};
  ASSERT_EQ(SoundEngine::SetPosition(kFiller, ahead), SN_Success);
  const std::vector<void*> held = FillDefaultPool();
  SNRESULT last = SN_Success;
  for (uint32_t posts = 0; g_unregisteredInDrain && posts < g_pAudioMgr->RingBytes(); ++posts)
    last = SoundEngine::RegisterGameObj(kRegistered, 0x2);
  SetMessageHandler(SnMsg_SetPosition, g_setPositionBeforeDrain);
  const bool drained = g_unregisteredInDrain == 0;
  g_unregisteredInDrain = 0;
  Frames(1);
  for (void* block : held) MemoryMgr::Free(g_DefaultPoolId, block);
  ASSERT_TRUE(drained) << "no registration found the ring full";
  EXPECT_EQ(g_unregistrationInDrain, SN_Success);
  EXPECT_EQ(last, SN_InsufficientMemory);
  EXPECT_EQ(g_pRegistryMgr->Find(kRegistered) != nullptr, last == SN_Success) << "answered " << last;
  EXPECT_EQ(SoundEngine::StopAll(), SN_Success);
  Frames(2);
  log_.Take();
}

}  // namespace
