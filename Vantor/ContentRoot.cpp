// The game's root: the working directory when it holds the content, else the nearest folder above the
// executable that does (a build puts the executable in build/<configuration>/bin below the root).
#include "Vantor/ContentRoot.h"

#include <filesystem>
#include <system_error>

#include "Base/Log.h"
#include "Core/ContentPath.h"
#include "Platform/ExecutablePath.h"
#include "Vantor/Program.h"

namespace Vantor {

namespace fs = std::filesystem;

namespace {

bool HoldsContent(const fs::path& folder) { return Core::IsReadableFile((folder / ContentMarker()).string()); }

}  // namespace

std::string ContentMarker() {
  return std::string(Core::kLevelFolder) + Program::kFirstLevel + std::string(Core::kLevelExtension);
}

bool EnterContentRoot() {
  std::error_code error;
  const fs::path current = fs::current_path(error);
  if (HoldsContent(current.empty() ? fs::path(".") : current)) return true;
  const std::string executable = Platform::ExecutableFolder();
  for (fs::path folder = executable; !folder.empty(); folder = folder.parent_path()) {
    if (HoldsContent(folder)) {
      fs::current_path(folder, error);
      if (!error) {
        BASE_LOG(Info, "The game's content is in %s: running there", folder.c_str());
        return true;
      }
    }
    if (folder == folder.root_path()) break;
  }
  // Run where the content is, but without the first level: the file is what is missing, not the place.
  if (fs::is_directory(current / "content", error)) {
    BASE_LOG(Error, "The game's first level (%s) is missing from the content in %s: the game cannot start without it.",
             ContentMarker().c_str(), current.c_str());
    return false;
  }
  BASE_LOG(Error,
           "The game's content (%s) is neither in the working directory (%s) nor above the game's executable "
           "(%s): run the game from the repository root, the folder that holds content/.",
           ContentMarker().c_str(), current.c_str(), executable.empty() ? "unknown" : executable.c_str());
  return false;
}

}  // namespace Vantor
