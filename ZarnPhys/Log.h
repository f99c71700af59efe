// Trace-log lines of the physics library: every line of this area is tagged with the module "[Physics]".
#pragma once

#include "Base/TraceLog.h"

// PHYS_LOG(Warning, "Adding Duplicate Collider")
#define PHYS_LOG(level, ...) ORV_TRACE(Physics, level, __VA_ARGS__)
