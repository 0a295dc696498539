#pragma once
// The bundle's resource folder, set once by the entry point.

#include <filesystem>
#include <optional>

namespace kb {

// Contents/Resources of the bundle that holds the running program.
extern std::filesystem::path resource;

// The resource folder of the bundle around `executable` (the program's own
// real path): <bundle>/Contents/MacOS/<program> gives <bundle>/Contents/Resources,
// when that folder exists.
std::optional<std::filesystem::path> resourceFolderOf(const std::filesystem::path& executable);

// The real path of the running program.
std::filesystem::path runningExecutable();

}  // namespace kb
