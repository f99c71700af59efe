// Fuzz target of the sound log's escaping: any bytes a script or level could give as a name come out
// as one line of printable ASCII and well-formed UTF-8, no longer than the cut allows.
#include <cstdlib>
#include <string>
#include <string_view>

#include "Audio/LogText.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string safe = Audio::LogSafe(std::string_view(reinterpret_cast<const char*>(data), size));
  // Each byte shown costs at most four (\xHH), and the count of a cut name adds a few dozen.
  if (safe.size() > 4 * Audio::kLoggedNameBytes + 48) std::abort();
  for (const char c : safe)
    if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F) std::abort();
  return 0;
}
