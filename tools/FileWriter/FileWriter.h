// The one way the content tools write a file. The build writes generated content into the source tree,
// which every build configuration shares, while another configuration's tests may be reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Tools {

// Leaves `path` as it is when it already holds exactly `bytes` (only its time is brought up to date,
// so that the build sees the output as made); otherwise writes the bytes to a file beside it and
// renames that over it, so that a reader opens either the old file or the new one, each whole. The file
// beside it, "<file>.writing.<pid>.<n>", is this write's alone: of two threads or builds writing one
// file, the last whole write wins and none fails. False (and no file beside it left) when the bytes
// cannot be written. Files beside `path` left by a writer killed on the way are removed.
bool WriteFileWhole(const std::string& path, const void* data, size_t size);
inline bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteFileWhole(path, bytes.data(), bytes.size());
}

}  // namespace Tools
