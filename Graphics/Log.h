// Trace-log lines of the renderer and its device: every line is tagged with the module "[Graphics]".
#pragma once

#include "Base/TraceLog.h"

// GFX_LOG(Warning, "Layer %d is out of range", layer)
#define GFX_LOG(level, ...) ORV_TRACE(Graphics, level, __VA_ARGS__)
