#pragma once
// Platform errors: the errno and what was being done to which path.

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace kb {

[[noreturn]] void throwSystemError(int error, std::string_view action, const std::filesystem::path& path);

// Throws with the current errno.
[[noreturn]] inline void throwErrno(std::string_view action, const std::filesystem::path& path)
{
    throwSystemError(errno, action, path);
}

}  // namespace kb
