// Test helper: the threads of this process that are still running, by name, from /proc.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace OrvTest {

// The names of this process's threads other than the caller's that are not on their way out.
// A thread just joined may stay listed while the kernel finishes it; by then it carries the
// kernel's exiting flag, so a count taken right after a join is already exact.
inline std::vector<std::string> OtherLiveThreads() {
  constexpr unsigned long kExiting = 0x4;  // PF_EXITING in the task's flags
  const std::string self = std::to_string(syscall(SYS_gettid));
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const std::string tid = entry.path().filename().string();
    if (tid == self) continue;
    std::ifstream statFile(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) continue;  // gone between the listing and the read
    // After the name: state, parent, group, session, terminal, terminal group, then the flags.
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string skipped;
    for (int i = 0; i < 6; ++i) fields >> skipped;
    unsigned long flags = 0;
    if (!(fields >> flags) || (flags & kExiting)) continue;
    std::ifstream commFile(entry.path() / "comm");
    std::string name;
    std::getline(commFile, name);
    names.push_back(name);
  }
  return names;
}

}  // namespace OrvTest
