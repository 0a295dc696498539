#pragma once
// Platform errors: the errno and what was being done to which path.

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kb {

// A failed operation of the system: its errno, what was being done and the
// path it was done to, each kept apart so that a report can name them in the
// user's language. what() reads: cannot open "/some/file": No such file or directory
class SystemError : public std::system_error {
public:
    SystemError(int error, std::string_view action, std::filesystem::path path);
    const std::string& action() const noexcept { return action_; }
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::string action_;
    std::filesystem::path path_;
};

[[noreturn]] void throwSystemError(int error, std::string_view action, const std::filesystem::path& path);

// Throws with the current errno.
[[noreturn]] inline void throwErrno(std::string_view action, const std::filesystem::path& path)
{
    throwSystemError(errno, action, path);
}

}  // namespace kb
