#include "platform/resource.h"

#include <sys/stat.h>

namespace kb {

std::optional<std::filesystem::path> resourceFolderOf(const std::filesystem::path& executable)
{
    std::filesystem::path macOS = executable.parent_path();
    std::filesystem::path contents = macOS.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents") return std::nullopt;
    std::filesystem::path folder = contents / "Resources";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return folder;
}

}  // namespace kb
