// Test helpers of the game's sound: a scratch working folder holding the game's banks as the bank
// tool writes them from content/banks, a sound system initialised in it on the engine's hooks, and a
// wait for the audio thread to have applied what was posted.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Audio/SoundSystem.h"
#include "Core/Engine.h"
#include "MemoryMgr/MemoryMgr.h"
#include "Platform/Clock.h"
#include "Platform/Threading.h"
#include "SoundEngine/AudioMgr.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineApi.h"
#include "tests/SoundBanks/BankTestSupport.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/WaitFor.h"

namespace AudioTest {

// Works in a scratch folder for its lifetime; with `withBanks` it holds Sound/Banks/ with the game's
// two banks.
class ScratchTree {
 public:
  explicit ScratchTree(bool withBanks) : previous_(std::filesystem::current_path()) {
    const std::vector<uint8_t> init = BankTest::ContentBank("Init"), general = BankTest::ContentBank("GeneralBank");
    char pattern[] = "/tmp/orv-gamesound-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::current_path(root_);
    if (withBanks) AddBanks(init, general);
    init_ = init;
    general_ = general;
  }
  ~ScratchTree() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }
  void AddBanks() { AddBanks(init_, general_); }
  std::string GeneralBankBytes() const { return std::string(general_.begin(), general_.end()); }

 private:
  static void AddBanks(const std::vector<uint8_t>& init, const std::vector<uint8_t>& general) {
    std::filesystem::create_directories("Sound/Banks");
    EXPECT_TRUE(Tools::WriteBytesFile("Sound/Banks/Init.bnk", init));
    EXPECT_TRUE(Tools::WriteBytesFile("Sound/Banks/GeneralBank.bnk", general));
  }

  std::filesystem::path previous_;
  std::string root_;
  std::vector<uint8_t> init_, general_;
};

// Keeps rendering until `done` holds under the global audio lock, where the audio thread applies
// what was posted; false, and a failure naming `what`, the frame and the clock, once the wait's limit
// has passed.
template <typename Done>
bool AudioThreadReaches(Done done, const char* what = "the audio thread to apply what was posted") {
  return OrvTest::WaitUntil(
      [&] {
        SN::SoundEngine::RenderAudio();
        Platform::ReentrantGuard guard(SN::GlobalAudioLock());
        return done();
      },
      [&] {
        return std::string(what) + " (CurrentFrame() " +
               std::to_string(SN::g_pAudioMgr ? SN::g_pAudioMgr->CurrentFrame() : 0) + ", clock at " +
               std::to_string(Platform::TicksNow()) + " ticks)";
      });
}

// The lines of the captured log that the game's sound integration writes (the sound engine writes
// its own under the same module).
inline std::string GameSoundLines(const std::string& log) {
  std::string kept;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    const std::string line = log.substr(at, end - at);
    for (const char* start : {"[ Error ][Audio] Could not ", "[ Error ][Audio] Sound ", "[ Error ][Audio] The sound engine ",
                              "[Warning][Base] Invalid file"})
      if (line.rfind(start, 0) == 0) kept += line;
    at = end;
  }
  return kept;
}

// Memory hooks that refuse every allocation, so that the sound engine's memory manager cannot start
// (and nothing that needs it can); the hooks found are put back.
class RefusedMemory {
 public:
  RefusedMemory() : previous_(SN::GetMemoryHooks()) {
    SN::SnMemoryHooks hooks;
    hooks.alloc = [](size_t) -> void* { return nullptr; };
    hooks.free = [](void*) {};
    SN::SetMemoryHooks(hooks);
  }
  ~RefusedMemory() { SN::SetMemoryHooks(previous_); }

 private:
  SN::SnMemoryHooks previous_;
};

// A sound system on the engine's hook table, shut down and taken off the hooks when the test ends.
class SoundSystemFixture : public ::testing::Test {
 protected:
  void Start() {
    system_.Initialize(&engine_);
    started_ = true;
  }
  void Stop() {
    if (!started_) return;
    system_.Shutdown(&engine_);
    for (const char* hook : {"FrameStep", "GameSpaceDeleted", "GameWindowMinimize", "GameWindowRestore"})
      engine_.GetHooks().RemoveSystemListener(hook, &system_);
    started_ = false;
  }
  void TearDown() override { Stop(); }
  std::string TakeLines() { return GameSoundLines(log_.Take()); }

  OrvTest::LogCapture log_;
  Core::Engine& engine_ = Core::Engine::GetInstance();
  Audio::SoundSystem system_;
  bool started_ = false;
};

}  // namespace AudioTest
