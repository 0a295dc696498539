#include "platform/system_error.h"

namespace kb {

namespace {

std::string describe(std::string_view action, const std::filesystem::path& path)
{
    std::string what = "cannot ";
    what += action;
    what += " \"";
    what += path.native();
    what += '"';
    return what;
}

}  // namespace

SystemError::SystemError(int error, std::string_view action, std::filesystem::path path)
    : std::system_error(error, std::generic_category(), describe(action, path)), action_(action), path_(std::move(path))
{
}

void throwSystemError(int error, std::string_view action, const std::filesystem::path& path)
{
    throw SystemError(error, action, path);
}

}  // namespace kb
