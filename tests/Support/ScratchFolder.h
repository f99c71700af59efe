// Test helper: the scratch folder of a test process, "orv_test_<pid>_XXXXXX" under the temporary
// directory, and the removal of the folders of runs that ended without removing theirs (a binary
// killed at CTest's time-out, or by hand, runs no exit handler).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace OrvTest {

namespace ScratchDetail {

constexpr const char* kPrefix = "orv_test_";

// The folder's owner holds a lock on it for as long as it (or a child forked from it) lives: the lock
// goes with the last process holding it, however it ended.
inline int LockFolder(const std::string& folder, bool wait) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The pid in a folder's name, or 0 for a name of another pattern.
inline pid_t OwnerOf(const std::string& name) {
  const std::string prefix = kPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
  return pid > 0 && *end == '_' ? pid_t(pid) : 0;
}

inline bool Runs(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace ScratchDetail

// Removes the scratch folders under `temp` whose owner no longer runs: nobody holds its lock and no
// process has its pid (a folder whose owner is between making it and locking it is left).
inline void RemoveFoldersOfEndedRuns(const std::filesystem::path& temp) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(temp, error)) {
    const pid_t owner = ScratchDetail::OwnerOf(entry.path().filename().string());
    if (owner == 0 || owner == getpid() || ScratchDetail::Runs(owner)) continue;
    const int lock = ScratchDetail::LockFolder(entry.path().string(), false);
    if (lock < 0) continue;
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
    close(lock);
  }
}

// Makes this process's folder under the temporary directory and locks it; empty when it cannot.
inline std::string MakeScratchFolder() {
  std::error_code error;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) return {};
  RemoveFoldersOfEndedRuns(temp);
  std::string folder = (temp / (ScratchDetail::kPrefix + std::to_string(getpid()) + "_XXXXXX")).string();
  if (!mkdtemp(folder.data())) return {};
  // Kept open to the end: the lock is the sign that the folder's run goes on.
  if (ScratchDetail::LockFolder(folder, true) < 0) {
    std::filesystem::remove(folder, error);
    return {};
  }
  return folder;
}

}  // namespace OrvTest
