#include "platform/system_error.h"

#include <string>

namespace kb {

void throwSystemError(int error, std::string_view action, const std::filesystem::path& path)
{
    // what() then reads: cannot open "/some/file": No such file or directory
    std::string what = "cannot ";
    what += action;
    what += " \"";
    what += path.native();
    what += '"';
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace kb
