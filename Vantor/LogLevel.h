// The game's log level: Info and above unless the environment asks for more (or less).
#pragma once

#include "Base/TraceLog.h"

namespace Vantor {

// The environment variable that names the level: "error", "warning", "debug", "info" or "verbose"
// in any case, or the level's number 0 to 4.
inline constexpr const char* kLogLevelVariable = "ORV_LOG_LEVEL";

// The level `text` names; false when it names none.
bool ParseLogLevel(const char* text, Base::TraceLevel* level);

// Sets the trace log's level from the variable's `value`: Info when it is null or empty, and Info with
// a warning when it names no level. Safe before the registrations at load: it needs no other static.
void ChooseLogLevel(const char* value);

}  // namespace Vantor
