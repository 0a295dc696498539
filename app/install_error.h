#pragma once
// The one error type the installer composes itself: a finished German
// message for the user, which is also its whole description.

#include <exception>
#include <string>

namespace kb {

class InstallError : public std::exception {
public:
    explicit InstallError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace kb
