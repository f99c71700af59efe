// Loading a bank resource through the sound engine's bank API.
#include "Audio/Bank.h"

#include <filesystem>
#include <string>

#include "Audio/FilePackageLowLevelIO.h"
#include "Audio/Log.h"
#include "Audio/LogText.h"
#include "Audio/SoundSystem.h"
#include "SoundEngine/Banks/BankFormat.h"
#include "SoundEngine/SoundEngine.h"
#include "SoundEngine/SoundEngineBankApi.h"

namespace Audio {

namespace {

// Why the bank `name` did not load, in the player's terms: the folder it was looked for in (made
// absolute, as the game may run from anywhere) and whether the file is missing there or unreadable.
std::string WhyNotLoaded(const char* name, SN::SNRESULT result) {
  namespace fs = std::filesystem;
  if (!SN::SoundEngine::IsInitialized()) return "the sound engine is not running";
  std::error_code error;
  const fs::path folder = fs::absolute(LowLevelIO().BankFolder(), error).lexically_normal();
  const std::string shown = LogSafe(folder.string());
  if (!fs::is_directory(folder, error)) return "the folder " + shown + " does not exist";
  const std::string file = LogSafe(name);
  if (!fs::exists(folder / name, error)) return file + " is not in " + shown;
  // A file cut short or of another format stops the bank reader; anything else is the engine's.
  const bool damaged = result == SN::SN_ShortRead || result == SN::SN_InvalidFile;
  return file + " in " + shown + (damaged ? " is damaged or no bank" : " could not be loaded") + " (result " +
         std::to_string(int(result)) + ")";
}

}  // namespace

Bank::Bank(const char* name) {
  uint32_t bankId = 0;
  SN::SoundEngine::LoadBank("Init.bnk", -1, bankId);  // already loaded after the first bank: ignored
  const SN::SNRESULT result = name ? SN::SoundEngine::LoadBank(name, -1, bankId) : SN::SN_InvalidParameter;
  if (result == SN::SN_Success) {
    m_loaded = 1;
    return;
  }
  AUDIO_LOG(Error, "Could not load bank \"%s\" from sound project: %s.", LogSafe(name ? name : "").c_str(),
            WhyNotLoaded(name ? name : "", result).c_str());
}

}  // namespace Audio
