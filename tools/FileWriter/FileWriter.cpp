#include "tools/FileWriter/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace Tools {
namespace {

bool SameBytes(const std::string& path, const void* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::vector<uint8_t> found(size + 1);
  const size_t read = std::fread(found.data(), 1, found.size(), file);
  std::fclose(file);
  return read == size && (size == 0 || std::memcmp(found.data(), data, size) == 0);
}

}  // namespace

bool WriteFileWhole(const std::string& path, const void* data, size_t size) {
  if (SameBytes(path, data, size)) return utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
  // Beside the file (the same file system, so the rename is one step), named for this process so
  // that two builds writing the same file do not share it.
  const std::string aside = path + ".writing." + std::to_string(getpid());
  FILE* file = std::fopen(aside.c_str(), "wb");
  if (!file) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(aside.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(aside.c_str());
  return ok;
}

}  // namespace Tools
