#include "fuzz/sandbox_tree.h"

#include "fuzz/fuzz_check.h"
#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kb::fuzz {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct stat statAt(int folder, const std::string& name)
{
    struct stat info {};
    KB_FUZZ_CHECK(::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0);
    return info;
}

}  // namespace

std::vector<std::string> entryNames(int folder)
{
    const int copy = ::openat(folder, ".", folderFlags);
    KB_FUZZ_CHECK(copy >= 0);
    DIR* dir = ::fdopendir(copy);
    KB_FUZZ_CHECK(dir != nullptr);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

void walkTree(int folder, const std::function<void(const struct stat&)>& visit)
{
    // The folder is read completely before descending, so each level holds
    // one descriptor.
    for (const std::string& name : entryNames(folder)) {
        const struct stat info = statAt(folder, name);
        visit(info);
        if (S_ISDIR(info.st_mode)) {
            UniqueFd child(::openat(folder, name.c_str(), folderFlags));
            KB_FUZZ_CHECK(static_cast<bool>(child));
            walkTree(child.get(), visit);
        }
    }
}

void removeTree(int parent, const std::string& name)
{
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        KB_FUZZ_CHECK(errno == ENOENT);
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        UniqueFd child(::openat(parent, name.c_str(), folderFlags));
        KB_FUZZ_CHECK(static_cast<bool>(child));
        for (const std::string& entry : entryNames(child.get())) removeTree(child.get(), entry);
    }
    KB_FUZZ_CHECK(::unlinkat(parent, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) == 0);
}

}  // namespace kb::fuzz
