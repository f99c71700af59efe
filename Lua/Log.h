// Trace-log lines of the Lua environment: every line of this area is tagged with the module "[Lua]".
#pragma once

#include "Base/TraceLog.h"

// LUA_LOG(Warning, "Couldn't find lua script: %s", name)
#define LUA_LOG(level, ...) ORV_TRACE(Lua, level, __VA_ARGS__)
