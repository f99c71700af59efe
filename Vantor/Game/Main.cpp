// The game's entry: the log level first, then the crash handler and the stop signals' handlers, then
// the program's whole life. No arguments are read; ORV_LOG_LEVEL chooses how much is logged (Info and
// above by default).
#include <cstdlib>

#include "Platform/CrashDump.h"
#include "Platform/ProgramStop.h"
#include "Platform/Shutdown.h"
#include "Vantor/LogLevel.h"
#include "Vantor/Program.h"

namespace {

// Chosen before the registrations at load run, so that their Verbose lines are held back too.
struct LogLevelFirst {
  LogLevelFirst() { Vantor::ChooseLogLevel(std::getenv(Vantor::kLogLevelVariable)); }
};
LogLevelFirst g_logLevelFirst __attribute__((init_priority(101)));

}  // namespace

int main() {
  Platform::InstallCrashHandler();
  Platform::InstallStopSignalHandlers();
  int result = 0;
  {
    Vantor::Program program;
    result = program.Run();
  }
  Platform::Shutdown();
  // Ended by Ctrl+C or a termination signal, in order: the process ends as the signal ends it.
  Platform::EndAsStopSignalAsks();
  return result;
}
