// Trace-log lines of the base library: every line of this area is tagged with the module "[Base]".
#pragma once

#include "Base/TraceLog.h"
#include "Base/TraceRepeats.h"

// BASE_LOG(Warning, "Invalid handle %u", value)
#define BASE_LOG(level, ...) ORV_TRACE(Base, level, __VA_ARGS__)

// A line that a failure repeats on every frame or lookup: said once, its count at the game's end.
#define BASE_LOG_EACH(level, ...) \
  ::Base::TraceRepeats::OfGameFrames().PrintEach(::Base::TraceLevel_##level, ::Base::TraceModule_Base, __VA_ARGS__)
