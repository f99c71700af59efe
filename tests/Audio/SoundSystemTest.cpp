// The sound system in the game's start and end: the parts come up in order over a scratch working
// folder holding the game's banks, each failed part logs its line and the rest still runs, a bank
// that did not load is tried again, and the window's minimise and restore pause and resume.
#include "SoundTestTree.h"

#include "Audio/Bank.h"
#include "Audio/FilePackageLowLevelIO.h"
#include "Base/ResourceCollection.h"
#include "SoundEngine/Actions/DelayedPlay.h"
#include "SoundEngine/Actions/EventReceiver.h"
#include "SoundEngine/Banks/BankReceivers.h"
#include "SoundEngine/DynamicSequence/SequenceReceiver.h"
#include "SoundEngine/Hierarchy/BusDefaults.h"
#include "SoundEngine/Hierarchy/BusMixCommands.h"
#include "SoundEngine/Hierarchy/NodePreparation.h"
#include "SoundEngine/Hierarchy/NodeReceiver.h"
#include "SoundEngine/Lower/Mixing/MixBusNode.h"
#include "SoundEngine/Lower/OutputServices.h"
#include "SoundEngine/Lower/Pipeline/VoiceInsertEffect.h"
#include "SoundEngine/Lower/Pipeline/VoiceSource.h"
#include "SoundEngine/Lower/Voices/DynamicSequencePlayback.h"
#include "SoundEngine/Lower/Voices/InstancePositioning.h"
#include "SoundEngine/Lower/Voices/VoiceManager.h"
#include "SoundEngine/Modulators/ModulatorInstance.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineBankApi.h"
#include "StreamMgr/ISnStreamMgr.h"
#include "tools/SoundBank/BankText.h"
#include "tools/SoundBank/BankWriter.h"

namespace {

using AudioTest::ScratchTree;
using AudioTest::SoundSystemFixture;

Base::Resources<Audio::Bank>& Banks() { return Base::Resources<Audio::Bank>::Instance(); }

// The music engine comes up with the sound engine; without it, it says so.
constexpr const char* kMusicLine = "[ Error ][Audio] Could not create Sound Music Engine.\n";
// The lines of a bank that did not load, saying why: by default the bank folder is missing, and the
// line names the folder it was looked for in.
std::string BankLines(std::string reason = {}) {
  if (reason.empty())
    reason = "the folder " + (std::filesystem::current_path() / "Sound/Banks/").string() + " does not exist";
  return "[ Error ][Audio] Could not load bank \"GeneralBank.bnk\" from sound project: " + reason +
         ".\n"
         "[Warning][Base] Invalid file \"GeneralBank.bnk\" loaded.\n";
}

void CallWindowHook(Core::Engine& engine, const char* hook) { engine.GetHooks().Call(hook); }

// Every slot through which a lower room of the sound engine reaches a higher one, by name.
std::vector<std::pair<const char*, const void*>> ServiceSlots() {
  return {{"SequenceReceiver", SN::SequenceReceiver()},
          {"BusMixCommands", SN::BusMixCommands()},
          {"NodeReceiver", SN::NodeReceiver()},
          {"BusDefaults", SN::BusDefaults()},
          {"NodePreparation", SN::NodePreparation()},
          {"BankRecordReceiver", SN::BankRecordReceiver()},
          {"StreamCachePinMgr", SN::StreamCachePinMgr()},
          {"VoiceSourceFactory", SN::VoiceSourceFactory()},
          {"VoiceEffectProvider", SN::VoiceEffectProvider()},
          {"AttenuationDirectory", SN::AttenuationDirectory()},
          {"DynamicSequencePlayback", SN::DynamicSequencePlayback()},
          {"OutputServices", SN::OutputServices()},
          {"BusNodeDirectory", SN::BusNodeDirectory()},
          {"EventReceiver", SN::EventReceiver()},
          {"DelayedPlayScheduler", SN::DelayedPlayScheduler()},
          {"ModulatorDrivenTargets", SN::ModulatorDrivenTargets()}};
}

TEST_F(SoundSystemFixture, EveryPartComesUpWithTheGeneralBankAndGoesDownAtShutdown) {
  ScratchTree tree(true);
  Start();
  // Only the music engine, which this program does not have yet, is missing.
  EXPECT_EQ(TakeLines(), "");
  EXPECT_TRUE(SN::MemoryMgr::IsInitialized());
  ASSERT_NE(SN::ISnStreamMgr::m_pStreamMgr, nullptr);
  EXPECT_NE(Audio::LowLevelIO().DeviceId(), SN::kInvalidDeviceId);
  EXPECT_EQ(SN::StreamMgr::GetFileLocationResolver(),
            static_cast<SN::StreamMgr::ISnFileLocationResolver*>(&Audio::LowLevelIO()));
  EXPECT_TRUE(SN::SoundEngine::IsInitialized());
  Audio::Bank* general = Banks().GetResourceByName("GeneralBank.bnk");
  ASSERT_NE(general, nullptr);
  EXPECT_TRUE(general->IsLoaded());
  EXPECT_EQ(Banks().GetResourceByName("GeneralBank.bnk"), general) << "a loaded name is not loaded again";

  // The frame step renders; every event the system posts is in the bank.
  std::vector<Core::GameSpace*> spaces;
  engine_.GetHooks().Call("FrameStep", 0.016f, &spaces);
  CallWindowHook(engine_, "GameWindowMinimize");
  CallWindowHook(engine_, "GameWindowRestore");
  for (bool muted : {true, false}) {
    system_.SetAudioMuted(muted);
    system_.SetBGMMuted(muted);
  }
  EXPECT_EQ(TakeLines(), "");

  Stop();
  EXPECT_EQ(TakeLines(), "");
  EXPECT_FALSE(SN::SoundEngine::IsInitialized());
  EXPECT_EQ(SN::ISnStreamMgr::m_pStreamMgr, nullptr);
  EXPECT_EQ(Audio::LowLevelIO().DeviceId(), SN::kInvalidDeviceId);
  EXPECT_EQ(SN::StreamMgr::GetFileLocationResolver(), nullptr);
  EXPECT_FALSE(SN::MemoryMgr::IsInitialized());
  EXPECT_EQ(SN::GetMemoryHooks().alloc, nullptr) << "the program's hooks leave with the system";
  EXPECT_EQ(Banks().GetResourceID("GeneralBank.bnk"), -1);

  // A second start in the same process loads the bank again.
  Start();
  EXPECT_EQ(TakeLines(), "");
  EXPECT_NE(Banks().GetResourceID("GeneralBank.bnk"), -1);
}

// Brought up as the game does, the engine fills every service slot with its own part and empties
// them at shutdown. The leaf player alone is a hook by design, for tests and tools that take the
// leaves' plays in place of the voice manager: the engine leaves it empty.
TEST_F(SoundSystemFixture, TheEngineFillsEveryServiceSlotItselfAndEmptiesThemAtShutdown) {
  ScratchTree tree(true);
  for (const auto& [name, installed] : ServiceSlots()) ASSERT_EQ(installed, nullptr) << name;
  Start();
  for (const auto& [name, installed] : ServiceSlots()) EXPECT_NE(installed, nullptr) << name;
  EXPECT_EQ(SN::LeafPlayer(), nullptr);
  Stop();
  for (const auto& [name, installed] : ServiceSlots()) EXPECT_EQ(installed, nullptr) << name;
  EXPECT_EQ(TakeLines(), "");
}

TEST_F(SoundSystemFixture, EachFailedPartLogsItsLineAndTheRestStillRuns) {
  ScratchTree tree(true);
  AudioTest::RefusedMemory refused;
  Start();
  EXPECT_EQ(TakeLines(), std::string("[ Error ][Audio] Could not create Sound Memory Manager.\n"
                                     "[ Error ][Audio] Could not create Sound Streaming Manager.\n"
                                     "[ Error ][Audio] Could not create Sound Low Level I/O system.\n"
                                     "[ Error ][Audio] Could not create Sound Sound Engine.\n") +
                             kMusicLine + BankLines("the sound engine is not running"));
  // Frames and the window's hooks run on a sound engine that is not there.
  std::vector<Core::GameSpace*> spaces;
  engine_.GetHooks().Call("FrameStep", 0.016f, &spaces);
  CallWindowHook(engine_, "GameWindowMinimize");
  CallWindowHook(engine_, "GameWindowRestore");
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Event \"Pause_All\" post failure.\n"
                         "[ Error ][Audio] Sound Event \"Resume_All\" post failure.\n");
  Stop();
  EXPECT_EQ(TakeLines(), "");
}

// A second start while the engine runs says so and changes nothing: the frame step stays hooked once,
// and one shutdown still takes every part down.
TEST_F(SoundSystemFixture, ASecondInitializeWhileTheEngineRunsSaysItAlreadyRuns) {
  ScratchTree tree(true);
  Start();
  ASSERT_EQ(TakeLines(), "");
  const size_t frameListeners = engine_.GetHooks().Find("FrameStep")->ListenerCount();
  system_.Initialize(&engine_);
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] The sound engine already runs: a second Initialize is ignored.\n");
  EXPECT_EQ(engine_.GetHooks().Find("FrameStep")->ListenerCount(), frameListeners);
  Stop();
  EXPECT_EQ(TakeLines(), "");
  EXPECT_FALSE(SN::SoundEngine::IsInitialized());
  EXPECT_EQ(SN::ISnStreamMgr::m_pStreamMgr, nullptr);
  EXPECT_FALSE(SN::MemoryMgr::IsInitialized());
}

// On the game's threads: a looping tone placed 10 m away, attenuated by a two-point curve of its own
// bank, plays on the audio thread while the bank thread unloads that bank. The voice ends before the
// attenuation goes: the pass that stops it reads nothing freed (the sanitisers watch, the pools are
// poisoned), and no voice is left after it.
TEST_F(SoundSystemFixture, ABankUnloadedUnderItsLooping3DVoiceStopsItBeforeItsAttenuationGoes) {
  ScratchTree tree(true);
  Start();
  Tools::BankDescription bank;
  std::string error;
  ASSERT_TRUE(Tools::ParseBankText("tone Tick 48000 1 100 440\r\nloop Tick 0 4799\r\n"
                                   "attenuation Near\r\nattuse Near 0 0\r\nattcurve Near 0 0\r\n"
                                   "attpoint Near 0 0 0 4\r\nattpoint Near 0 100 -40 4\r\n"
                                   "sound Tick3D Tick Effects loop 0 3d Near\r\n"
                                   "action Play_Tick3D_Act 0x0403 Tick3D bank NearBank\r\n"
                                   "event Play_Tick3D Play_Tick3D_Act\r\n",
                                   "NearBank", bank, error))
      << error;
  const std::vector<uint8_t> image = Tools::WriteBank(bank);
  uint32_t bankId = 0;
  ASSERT_EQ(SN::SoundEngine::LoadBank(image.data(), uint32_t(image.size()), bankId), SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(9), SN::SN_Success);
  ASSERT_EQ(SN::SoundEngine::SetPosition(9, SN::SnSoundPosition{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}}),
            SN::SN_Success);
  ASSERT_NE(SN::SoundEngine::PostEvent("Play_Tick3D", 9), 0u);
  EXPECT_TRUE(AudioTest::AudioThreadReaches([] { return SN::VoiceManager::ActiveInstanceCount() == 1; }));
  ASSERT_EQ(SN::SoundEngine::UnloadBank(bankId, image.data()), SN::SN_Success);
  EXPECT_TRUE(AudioTest::AudioThreadReaches([] { return SN::VoiceManager::ActiveInstanceCount() == 0; }));
  EXPECT_EQ(SN::SoundEngine::UnregisterGameObj(9), SN::SN_Success);
}

TEST_F(SoundSystemFixture, WithoutTheBankFolderEveryPartComesUpAndALaterRequestLoadsTheBank) {
  ScratchTree tree(false);
  Start();
  EXPECT_EQ(TakeLines(), BankLines());
  EXPECT_TRUE(SN::SoundEngine::IsInitialized());
  EXPECT_NE(Audio::LowLevelIO().DeviceId(), SN::kInvalidDeviceId);
  EXPECT_EQ(Banks().GetResourceID("GeneralBank.bnk"), -1) << "a bank that did not load is dropped";

  // The initialisation bank is asked for again before the bank, now that both are there.
  tree.AddBanks();
  Audio::Bank* general = Banks().GetResourceByName("GeneralBank.bnk");
  ASSERT_NE(general, nullptr);
  EXPECT_TRUE(general->IsLoaded());
  EXPECT_EQ(TakeLines(), "");
  EXPECT_NE(SN::SoundEngine::PostEvent("Mute_BGM_Bus", Audio::SoundSystem::kGlobalGameObject), 0u)
      << "the general bank's events need Init's buses";
}

// Every post of the system shows in the log while the sound engine is down, which makes the log the
// record of what the window and the mute switches posted.
TEST_F(SoundSystemFixture, MinimisingPausesAndAResumeOwedByAMutedRestoreComesWithTheUnmute) {
  ScratchTree tree(false);
  AudioTest::RefusedMemory refused;
  Start();
  TakeLines();
  auto posted = [&](const std::vector<std::string>& events) {
    std::string lines;
    for (const std::string& event : events) lines += "[ Error ][Audio] Sound Event \"" + event + "\" post failure.\n";
    EXPECT_EQ(TakeLines(), lines);
  };

  CallWindowHook(engine_, "GameWindowMinimize");
  posted({"Pause_All"});
  system_.SetAudioMuted(true);
  system_.SetAudioMuted(true);
  posted({"Mute_Master_Audio_Bus", "Mute_Master_Audio_Bus"});
  EXPECT_TRUE(system_.GetAudioMuted());
  CallWindowHook(engine_, "GameWindowRestore");
  posted({});
  CallWindowHook(engine_, "GameWindowMinimize");
  CallWindowHook(engine_, "GameWindowRestore");
  posted({"Pause_All"});
  // One resume for what the muted restores left paused, after the unmute; none owed after that.
  system_.SetAudioMuted(false);
  posted({"UnMute_Master_Audio_Bus", "Resume_All"});
  system_.SetAudioMuted(false);
  posted({"UnMute_Master_Audio_Bus"});
  EXPECT_FALSE(system_.GetAudioMuted());
  CallWindowHook(engine_, "GameWindowMinimize");
  CallWindowHook(engine_, "GameWindowRestore");
  posted({"Pause_All", "Resume_All"});

  // The music mute neither pauses nor owes anything.
  system_.SetBGMMuted(true);
  system_.SetBGMMuted(true);
  system_.SetBGMMuted(false);
  posted({"Mute_BGM_Bus", "Mute_BGM_Bus", "UnMute_BGM_Bus"});
  EXPECT_FALSE(system_.GetBGMMuted());
}

// Game object 3 is never registered: the system's events still run their actions, on every object
// or on a bus.
TEST_F(SoundSystemFixture, TheGlobalEventsRunTheirActionsWithNoGameObjectThree) {
  ScratchTree tree(true);
  Start();
  TakeLines();
  uint32_t before = 0;
  AudioTest::AudioThreadReaches([&] { return before = SN::g_pAudioMgr->ExecutedActionCount(), true; });
  for (const char* event : {"Pause_All", "Resume_All", "Mute_Master_Audio_Bus", "UnMute_Master_Audio_Bus",
                            "Mute_BGM_Bus", "UnMute_BGM_Bus"})
    system_.PostNamedEvent(event, Audio::SoundSystem::kGlobalGameObject);
  EXPECT_EQ(TakeLines(), "");
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return SN::g_pAudioMgr->ExecutedActionCount() >= before + 6; }));
  system_.PostNamedEvent("No_Such_Event", Audio::SoundSystem::kGlobalGameObject);
  EXPECT_EQ(TakeLines(), "[ Error ][Audio] Sound Event \"No_Such_Event\" post failure.\n");
}

// Shutting down while the tune plays ends its playback with the sound engine.
TEST_F(SoundSystemFixture, ShutdownEndsWhatIsStillPlaying) {
  ScratchTree tree(true);
  Start();
  ASSERT_EQ(SN::SoundEngine::RegisterGameObj(42, "Player"), SN::SN_Success);
  uint32_t before = 0;
  AudioTest::AudioThreadReaches([&] { return before = SN::g_pAudioMgr->ExecutedActionCount(), true; });
  system_.PostNamedEvent("Play_Tune", 42);
  EXPECT_TRUE(AudioTest::AudioThreadReaches([&] { return SN::g_pAudioMgr->ExecutedActionCount() > before; }));
  Stop();
  EXPECT_FALSE(SN::SoundEngine::IsInitialized());
  EXPECT_EQ(TakeLines(), "");
}

}  // namespace
