// Text from outside (event and bank names from scripts and levels, platform reasons) made fit for one
// line of the game's sound log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Audio {

// Longest part of a name the log shows, in bytes of the name; the rest is counted, not shown.
constexpr size_t kLoggedNameBytes = 200;

// `text` as one log line can carry it: control characters, backslashes, double quotes and bytes that
// are not UTF-8 written as escapes (\n, \t, \\, \", \xHH), so that no name can end the line or forge
// another one; a text longer than kLoggedNameBytes cut at a whole character there and followed by
// "... (N bytes)". The result is no format: pass it through "%s".
std::string LogSafe(std::string_view text);

}  // namespace Audio
