// Content names to paths.
#include "Core/ContentPath.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace Core {

bool IsReadableFile(const std::string& path) {
  if (path.empty()) return false;
  std::error_code error;
  // A status that cannot be read counts as no file.
  return std::filesystem::is_regular_file(path, error) && access(path.c_str(), R_OK) == 0;
}

std::string MakeContentPath(std::string_view name, std::string_view folder, std::string_view extension) {
  std::string path = ToContentPath(name);
  std::error_code error;
  if (!path.empty() && std::filesystem::is_regular_file(path, error)) return path;
  std::string built;
  built.reserve(folder.size() + path.size() + extension.size());
  built.append(folder).append(path).append(extension);
  return built;
}

}  // namespace Core
