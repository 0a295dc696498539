#pragma once
// The real launcher on POSIX systems: posix_spawn with one pipe for both
// output streams.

#include "platform/launcher.h"

namespace kb {

class PosixLauncher final : public Launcher {
public:
    LaunchResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments) override;
};

}  // namespace kb
