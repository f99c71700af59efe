// Trace-log lines of the sound engine (all its libraries): every line is tagged "[Audio]".
#pragma once

#include "Base/TraceLog.h"

// SOUND_LOG(Error, "invalid memory pool id %d", id)
#define SOUND_LOG(level, ...) ORV_TRACE(Audio, level, __VA_ARGS__)
