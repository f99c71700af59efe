// Sound emitters as levels and archetypes make them: ids in construction order that copies keep,
// the game object registered while any emitter holding its id is initialised, named events posted on
// it, and the mute switches shared through the sound system.
#include "SoundTestTree.h"

#include "Audio/SoundEmitter.h"
#include "SoundEngine/GameSyncs/RegistryMgr.h"

namespace {

using Audio::SoundEmitter;
using AudioTest::ScratchTree;
using AudioTest::SoundSystemFixture;

bool Registered(uint32_t id) { return SN::g_pRegistryMgr && SN::g_pRegistryMgr->Find(id) != nullptr; }

TEST(SoundEmitter, IdsFollowConstructionCopiesKeepTheirSourcesAndAllArePlaceholders) {
  SoundEmitter first;
  SoundEmitter second;
  const SoundEmitter copy(first);
  EXPECT_EQ(second.GetGameObjectId(), first.GetGameObjectId() + 1);
  EXPECT_EQ(copy.GetGameObjectId(), first.GetGameObjectId());
  SoundEmitter third;
  EXPECT_EQ(third.GetGameObjectId(), second.GetGameObjectId() + 1) << "a copy draws no id";
  for (const SoundEmitter* emitter : std::vector<const SoundEmitter*>{&first, &second, &copy, &third}) EXPECT_EQ(emitter->GetName(), "Placeholder");
}

TEST(SoundEmitter, OneInitialisedWithTheSoundEngineDownSaysItFailedToRegister) {
  OrvTest::LogCapture log;
  SoundEmitter emitter;
  emitter.Initialize();
  EXPECT_EQ(AudioTest::GameSoundLines(log.Take()), "[ Error ][Audio] Sound Object ID: " + std::to_string(emitter.GetGameObjectId()) +
                            " \"Placeholder\" failed to register.\n");
  emitter.Uninitialize();
  EXPECT_EQ(AudioTest::GameSoundLines(log.Take()), "");
}

TEST_F(SoundSystemFixture, AnUnknownEventIsLoggedAndTheEmitterPlaysOn) {
  ScratchTree tree(true);
  Start();
  SoundEmitter emitter;
  emitter.Initialize();
  TakeLines();
  emitter.PostEvent("Play_Nothing");
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Event \"Play_Nothing\" post failure.\n");
  emitter.PostEvent("Play_Tune");
  emitter.PostEvent("Play_Beep");
  emitter.PostEvent("Stop_Tune");
  EXPECT_EQ(TakeLines(), "");
  emitter.Uninitialize();
}

TEST_F(SoundSystemFixture, TheMuteSwitchesAreTheSystemsWhicheverEmitterSetsThem) {
  ScratchTree tree(true);
  Start();
  SoundEmitter left, right;
  left.Initialize();
  right.Initialize();
  left.SetBGMMuted(true);
  EXPECT_TRUE(right.GetBGMMuted());
  EXPECT_TRUE(system_.GetBGMMuted());
  EXPECT_FALSE(right.GetAudioMuted());
  right.SetAudioMuted(true);
  EXPECT_TRUE(left.GetAudioMuted());
  left.SetAudioMuted(false);
  left.SetBGMMuted(false);
  EXPECT_FALSE(right.GetAudioMuted() || right.GetBGMMuted());
  EXPECT_EQ(TakeLines(), "");
  left.Uninitialize();
  right.Uninitialize();
}

// Two instances of one archetype carry the archetype's id: the game object stays registered until
// the second lets go.
TEST_F(SoundSystemFixture, InstancesOfOneArchetypeShareTheirGameObjectUntilTheLastLetsGo) {
  ScratchTree tree(true);
  Start();
  SoundEmitter archetype;
  SoundEmitter first(archetype), second(archetype);
  first.Initialize();
  second.Initialize();
  const uint32_t id = archetype.GetGameObjectId();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return Registered(id); }));

  // A later registration, applied in order after whatever the first instance's end sent.
  first.Uninitialize();
  SoundEmitter marker;
  marker.Initialize();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return Registered(marker.GetGameObjectId()); }));
  {
    Platform::ReentrantGuard guard(SN::GlobalAudioLock());
    EXPECT_TRUE(Registered(id)) << "the second instance is still heard";
  }
  second.PostEvent("Play_Beep");

  second.Uninitialize();
  marker.Uninitialize();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return !Registered(id) && !Registered(marker.GetGameObjectId()); }));
  EXPECT_EQ(TakeLines(), "");
}

}  // namespace

// An instance initialised while the sound engine is down holds nothing: the next instance of the
// archetype registers the game object, and the first one's end does not take it away.
TEST_F(SoundSystemFixture, AnInstanceWhoseRegistrationFailedLeavesTheNextToRegister) {
  ScratchTree tree(true);
  SoundEmitter archetype;
  SoundEmitter early(archetype), late(archetype);
  const uint32_t id = archetype.GetGameObjectId();
  early.Initialize();
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Object ID: " + std::to_string(id) + " \"Placeholder\" failed to register.\n");

  Start();
  late.Initialize();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return Registered(id); }));
  early.Uninitialize();
  SoundEmitter marker;
  marker.Initialize();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return Registered(marker.GetGameObjectId()); }));
  {
    Platform::ReentrantGuard guard(SN::GlobalAudioLock());
    EXPECT_TRUE(Registered(id)) << "the instance that registered it still holds it";
  }
  late.Uninitialize();
  marker.Uninitialize();
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return !Registered(id) && !Registered(marker.GetGameObjectId()); }));
  EXPECT_EQ(TakeLines(), "");
}
