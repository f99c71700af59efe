// Where the running program's own file lives, so that it can find what ships beside it.
#pragma once

#include <string>

namespace Platform {

// The absolute folder of the running executable, symbolic links resolved; empty when the system
// does not say.
std::string ExecutableFolder();

}  // namespace Platform
