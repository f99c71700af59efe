// Virtual memory over mmap and munmap.
#include "Platform/VirtualMemory.h"

#include <sys/mman.h>

namespace Platform {

void* VirtualAllocate(size_t bytes) {
  if (bytes == 0) return nullptr;
  void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return address == MAP_FAILED ? nullptr : address;
}

bool VirtualRelease(void* address, size_t bytes) {
  if (!address) return false;
  return munmap(address, bytes) == 0;
}

}  // namespace Platform
