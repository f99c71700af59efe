// The interactive music engine's entry points: its settings, bringing it into the sound engine and
// taking it out again.
#pragma once

#include "MemoryMgr/SnResult.h"

namespace SN {

struct SnMusicSettings {
  float streamingLookAheadRatio = 1.0f;
};

namespace MusicEngine {

void GetDefaultInitSettings(SnMusicSettings& settings);
// SN_Failure while the music renderer and loader are not part of the program: nothing is installed
// into the sound engine, so banks must carry no music objects.
SNRESULT Init(SnMusicSettings* settings);
// Nothing to undo.
void Term();

}  // namespace MusicEngine
}  // namespace SN
