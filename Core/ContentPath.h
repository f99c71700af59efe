// Content names to paths: the folders and extensions of the content tree, and the one conversion of
// names that files and scripts write with '\' into the '/' paths the engine opens.
#pragma once

#include <string>
#include <string_view>

#include "Platform/ContentPath.h"

namespace Core {

// Paths are relative to the working directory.
inline constexpr std::string_view kDataFolder = "content/data/";
inline constexpr std::string_view kArchetypeFolder = "content/data/archetypes/";
inline constexpr std::string_view kArchetypeExtension = ".arche";
inline constexpr std::string_view kArchetypePrefix = "ach_";  // names of objects made from archetypes
inline constexpr std::string_view kLevelFolder = "content/data/levels/";
inline constexpr std::string_view kLevelExtension = ".level";
inline constexpr std::string_view kSpaceFolder = "content/data/spaces/";
inline constexpr std::string_view kSpaceExtension = ".space";

// The name with every '\' turned into '/' (the conversion lives below the sound libraries).
using Platform::ToContentPath;

// The converted name itself when it names an existing regular file, else folder + name + extension.
// Folders do not count: a folder that happens to share a content name must not hide the content file.
std::string MakeContentPath(std::string_view name, std::string_view folder, std::string_view extension);

// A regular file this process can open for reading.
bool IsReadableFile(const std::string& path);

}  // namespace Core
