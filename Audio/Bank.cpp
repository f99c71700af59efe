// Loading a bank resource through the sound engine's bank API.
#include "Audio/Bank.h"

#include "Audio/Log.h"
#include "SoundEngine/SoundEngineBankApi.h"

namespace Audio {

Bank::Bank(const char* name) {
  uint32_t bankId = 0;
  SN::SoundEngine::LoadBank("Init.bnk", -1, bankId);  // already loaded after the first bank: ignored
  if (name && SN::SoundEngine::LoadBank(name, -1, bankId) == SN::SN_Success)
    m_loaded = 1;
  else
    AUDIO_LOG(Error, "Could not load bank \"%s\" from sound project.", name ? name : "");
}

}  // namespace Audio
