// Trace-log lines of the sound integration: every line of this area is tagged with the module "[Audio]".
#pragma once

#include "Base/TraceLog.h"

// AUDIO_LOG(Error, "Sound Event \"%s\" post failure.", name)
#define AUDIO_LOG(level, ...) ORV_TRACE(Audio, level, __VA_ARGS__)
