// Trace-log lines of the base library: every line of this area is tagged with the module "[Base]".
#pragma once

#include "Base/TraceLog.h"

// BASE_LOG(Warning, "Invalid handle %u", value)
#define BASE_LOG(level, ...) ORV_TRACE(Base, level, __VA_ARGS__)
