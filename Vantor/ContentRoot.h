// Finding the content tree: every content path is relative to the working directory, so the game
// starts in the folder that holds content/, wherever it was started from.
#pragma once

#include <string>

namespace Vantor {

// The file whose presence marks a folder as the game's root: its first level.
std::string ContentMarker();

// Makes the working directory the folder that holds the content: the current one when it does, else
// the nearest folder at or above the executable's folder that does. When none does, logs one error line
// that says where to run the game, and returns false.
bool EnterContentRoot();

}  // namespace Vantor
