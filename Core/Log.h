// Trace-log lines of the core: every line of this area is tagged with the module "[Core]".
#pragma once

#include "Base/TraceLog.h"

// CORE_LOG(Error, "Invalid object count in %s", path)
#define CORE_LOG(level, ...) ORV_TRACE(Core, level, __VA_ARGS__)
