// The music engine's entry points: it joins the sound engine's frame and bank loading at Init.
#pragma once

#include "MemoryMgr/SnResult.h"

namespace SN {

struct SnMusicSettings {
  // How much earlier than their clips streamed music sources are asked for (1.0: as authored).
  float streamingLookAheadRatio = 1.0f;
};

namespace MusicEngine {

void GetDefaultInitSettings(SnMusicSettings& settings);
// Null: the defaults. Installs the music object loader and the state-change hook, and joins the
// sound engine's frame once however often it is called; SN_Failure when the sound engine is not
// initialised or the renderer cannot be made.
SNRESULT Init(SnMusicSettings* settings);
// Nothing to do: the music engine ends with the sound engine's last frame.
void Term();

}  // namespace MusicEngine
}  // namespace SN
