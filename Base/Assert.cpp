// The failure path of ORV_ASSERT: says which invariant broke and where, then stops the process.
#include "Base/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace Base {

void AssertFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s(%d) : assertion failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace Base
