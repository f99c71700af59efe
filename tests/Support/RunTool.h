// Runs a content tool as its authors run it, through the shell: what it printed on either stream and
// its exit code.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace OrvTest {

// -1 when the command could not be started or did not exit by itself.
inline int RunTool(const std::string& command, std::string& printed) {
  printed.clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) printed.append(buffer, got);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace OrvTest
