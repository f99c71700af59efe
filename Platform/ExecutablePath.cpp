// The running executable's folder, from the link the kernel keeps for every process.
#include "Platform/ExecutablePath.h"

#include <filesystem>
#include <system_error>

namespace Platform {

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || self.empty()) return {};
  return self.parent_path().string();
}

}  // namespace Platform
