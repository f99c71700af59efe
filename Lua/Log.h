// Trace-log lines of the Lua environment: every line of this area is tagged with the module "[Lua]".
#pragma once

#include "Base/TraceLog.h"
#include "Base/TraceRepeats.h"

// LUA_LOG(Warning, "Couldn't find lua script: %s", name)
#define LUA_LOG(level, ...) ORV_TRACE(Lua, level, __VA_ARGS__)

// A script error that comes again on every frame or call: said once, its count at the game's end.
#define LUA_LOG_EACH(level, ...) \
  ::Base::TraceRepeats::OfGameFrames().PrintEach(::Base::TraceLevel_##level, ::Base::TraceModule_Lua, __VA_ARGS__)
