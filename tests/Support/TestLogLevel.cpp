// Every test binary with the engine's trace log logs as the game does, Info and above (a test that
// reads the log asks for more: LogCapture). Set before the registrations at load run, so that their
// Verbose lines are held back too.
#include "Base/TraceLog.h"

namespace {

struct GameLogLevelFirst {
  GameLogLevelFirst() { Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Info); }
};
GameLogLevelFirst g_gameLogLevelFirst __attribute__((init_priority(101)));

}  // namespace
