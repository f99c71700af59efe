// Loading a bank resource through the sound engine's bank API.
#include "Audio/Bank.h"

#include <filesystem>
#include <string>

#include "Audio/FilePackageLowLevelIO.h"
#include "Audio/Log.h"
#include "Audio/LogText.h"
#include "Audio/SoundSystem.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/Banks/SoundBankManager.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineBankApi.h"

namespace Audio {

namespace {

namespace fs = std::filesystem;

// The bank folder, made absolute as the game may run from anywhere.
fs::path BankFolder() {
  std::error_code error;
  return fs::absolute(LowLevelIO().BankFolder(), error).lexically_normal();
}

// What keeps every bank from loading, in the player's terms (the engine down, the folder missing), or
// nothing.
std::string WhyNoBankLoads() {
  if (!SN::SoundEngine::IsInitialized()) return "the sound engine is not running";
  std::error_code error;
  if (!fs::is_directory(BankFolder(), error)) return "the folder " + LogSafe(BankFolder().string()) + " does not exist";
  return {};
}

// Why the bank `name` did not load: what keeps every bank out, else whether its file is missing from the
// folder or unreadable there.
std::string WhyNotLoaded(const char* name, SN::SNRESULT result) {
  if (std::string why = WhyNoBankLoads(); !why.empty()) return why;
  std::error_code error;
  const std::string shown = LogSafe(BankFolder().string()), file = LogSafe(name);
  if (!fs::exists(BankFolder() / name, error)) return file + " is not in " + shown;
  // A file cut short or of another format stops the bank reader; anything else is the engine's.
  const bool damaged = result == SN::SN_ShortRead || result == SN::SN_InvalidFile;
  return file + " in " + shown + (damaged ? " is damaged or no bank" : " could not be loaded") + " (result " +
         std::to_string(int(result)) + ")";
}

void LogNotLoaded(const char* name, const std::string& why) {
  AUDIO_LOG(Error, "Could not load bank \"%s\" from sound project: %s.", LogSafe(name).c_str(), why.c_str());
}

}  // namespace

Bank::Bank(const char* name) {
  uint32_t bankId = 0;
  const char* shown = name ? name : "";
  // Every bank's buses and settings come from the initialisation bank. When that file alone is at fault
  // it is the one named, and the bank asked for is not blamed for what it lacks; what keeps every bank
  // out is said once, for the bank asked for.
  const SN::SNRESULT init = SN::SoundEngine::LoadBank(kInitBank, -1, bankId);
  if (init != SN::SN_Success && init != SN::SN_BankAlreadyLoaded && WhyNoBankLoads().empty()) {
    LogNotLoaded(kInitBank, WhyNotLoaded(kInitBank, init));
    LogNotLoaded(shown, std::string("it needs ") + kInitBank + ", which did not load");
    return;
  }
  const SN::SNRESULT result = name ? SN::SoundEngine::LoadBank(name, -1, bankId) : SN::SN_InvalidParameter;
  if (result == SN::SN_Success) {
    m_loaded = 1;
    return;
  }
  LogNotLoaded(shown, WhyNotLoaded(shown, result));
}

}  // namespace Audio
