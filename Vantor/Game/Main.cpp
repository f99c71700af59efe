// The game's entry: the crash handler first, then the program's whole life. No arguments are read.
#include "Platform/CrashDump.h"
#include "Platform/Shutdown.h"
#include "Vantor/Program.h"

int main() {
  Platform::InstallCrashHandler();
  int result = 0;
  {
    Vantor::Program program;
    result = program.Run();
  }
  Platform::Shutdown();
  return result;
}
