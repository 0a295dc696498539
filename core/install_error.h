#pragma once
// The one error type the installer composes itself: a finished German
// message for the user, which is also its whole description.

#include <exception>
#include <string>
#include <string_view>

namespace kb {

class InstallError : public std::exception {
public:
    explicit InstallError(std::string_view message) : message_(message) {}
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace kb
