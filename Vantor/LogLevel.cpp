// Choosing the game's log level from the environment.
#include "Vantor/LogLevel.h"

#include <strings.h>

#include <cstring>

#include "Base/Log.h"

namespace Vantor {

bool ParseLogLevel(const char* text, Base::TraceLevel* level) {
  if (!text) return false;
  static constexpr const char* kNames[Base::kTraceLevelCount] = {"error", "warning", "debug", "info", "verbose"};
  for (int i = 0; i < Base::kTraceLevelCount; ++i) {
    const char digit[2] = {char('0' + i), '\0'};
    if (strcasecmp(text, kNames[i]) == 0 || strcmp(text, digit) == 0) {
      *level = Base::TraceLevel(i);
      return true;
    }
  }
  return false;
}

void ChooseLogLevel(const char* value) {
  Base::TraceLog& log = Base::TraceLog::GetInstance();
  Base::TraceLevel level = Base::TraceLevel_Info;
  const bool named = value && *value && ParseLogLevel(value, &level);
  log.SetLevel(level);
  if (value && *value && !named)
    BASE_LOG(Warning,
             "%s=\"%s\" names no log level (error, warning, debug, info or verbose); the game logs Info and above",
             kLogLevelVariable, value);
}

}  // namespace Vantor
