#pragma once
// Where the system tools the installer runs are found.

#include <filesystem>
#include <string_view>

namespace kb {

// On macOS the platform's own tools (/usr/bin/ditto, /bin/launchctl). On
// Linux, which has neither, the stand-ins the bundle carries in
// Contents/Helpers, under the same names.
std::filesystem::path systemTool(std::string_view name);

}  // namespace kb
