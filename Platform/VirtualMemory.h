// Committed, read-write pages straight from the system, for pools that want their own mapping.
#pragma once

#include <cstddef>

namespace Platform {

// Null when the system refuses. The pages read as zero.
void* VirtualAllocate(size_t bytes);
// Gives back a mapping from VirtualAllocate; `bytes` must be the size it was asked for.
bool VirtualRelease(void* address, size_t bytes);

}  // namespace Platform
