// The music engine's settings and its installation into the sound engine.
#include "MusicEngine/MusicEngine.h"

namespace SN::MusicEngine {

void GetDefaultInitSettings(SnMusicSettings& settings) { settings.streamingLookAheadRatio = 1.0f; }

// The loader of the music object types and the state-change hook come with the music renderer;
// installing either without it would hand the sound engine objects nothing can play.
SNRESULT Init(SnMusicSettings*) { return SN_Failure; }

void Term() {}

}  // namespace SN::MusicEngine
