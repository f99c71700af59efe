// Trace-log lines of the renderer and its device: every line is tagged with the module "[Graphics]".
#pragma once

#include "Base/TraceLog.h"
#include "Base/TraceRepeats.h"

// GFX_LOG(Warning, "Layer %d is out of range", layer)
#define GFX_LOG(level, ...) ORV_TRACE(Graphics, level, __VA_ARGS__)

// A line that a failure repeats on every frame or lookup (a missing file): said once, its count at the
// game's end.
#define GFX_LOG_EACH(level, ...) \
  ::Base::TraceRepeats::OfGameFrames().PrintEach(::Base::TraceLevel_##level, ::Base::TraceModule_Graphics, __VA_ARGS__)
