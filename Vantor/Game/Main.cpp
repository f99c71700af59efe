// The game's entry: the crash handler first, then the program's whole life. No arguments are read.
#include "Platform/CrashDump.h"
#include "Vantor/Program.h"

int main() {
  Platform::InstallCrashHandler();
  Vantor::Program program;
  return program.Run();
}
