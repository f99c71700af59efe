// The audio thread's side of the command queue: one handler per message type.
#pragma once

namespace SN::SoundEngine {

// Installs the handler of every message type the API writes, where no other handler is installed.
void InstallMessageHandlers();

}  // namespace SN::SoundEngine
