// Shared by the readers' fuzz targets: the entry points libFuzzer calls, a scratch file that the
// readers open by path as they open content, and a trace log kept quiet while inputs stream through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace OrvFuzz {

// Writes the bytes to this process's scratch file with the given extension and returns its path.
// The readers take paths, as they do for content, so every input goes through a real file.
std::string WriteScratch(const uint8_t* data, size_t size, const char* extension);

// Sends the trace log to nowhere at level Error: a bad input's message would otherwise be printed
// for each of millions of runs. Returns 0 for LLVMFuzzerInitialize.
int QuietLog();

}  // namespace OrvFuzz
