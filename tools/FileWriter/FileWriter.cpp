#include "tools/FileWriter/FileWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

constexpr char kAside[] = ".writing.";

// The digits from `at` on as a number (held past any pid once it grows past one), `at` left past them;
// false for none.
bool Digits(const char*& at, unsigned long long& number) {
  const char* begun = at;
  number = 0;
  for (; *at >= '0' && *at <= '9'; ++at) number = number > 0xFFFFFFFFull ? number : number * 10 + unsigned(*at - '0');
  return at != begun;
}

// Removes the files aside of `path` ("<file>.writing.<pid>[.<n>]") whose writer is gone: a tool killed
// while writing leaves one. Those of a live process (this one's other threads too) are left to it.
void RemoveStaleAsides(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + kAside;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* at = entry->d_name + prefix.size();
    unsigned long long pid = 0, count = 0;
    if (!Digits(at, pid) || (*at == '.' && !Digits(++at, count)) || *at != '\0') continue;
    if (pid == 0 || pid > 0x7FFFFFFF || kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    std::remove((folder + entry->d_name).c_str());
  }
  closedir(dir);
}

}  // namespace

bool WriteFileWhole(const std::string& path, const void* data, size_t size) {
  RemoveStaleAsides(path);
  if (SameBytes(path, data, size)) return utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
  // Beside the file (the same file system, so the rename is one step), named for this process and this
  // write, so that two builds or two threads writing the same file never share one.
  static std::atomic<uint64_t> writes{0};
  const std::string aside = path + kAside + std::to_string(getpid()) + "." + std::to_string(++writes);
  FILE* file = std::fopen(aside.c_str(), "wb");
  if (!file) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(aside.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(aside.c_str());
  return ok;
}

}  // namespace Tools
