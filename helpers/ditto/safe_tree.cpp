#include "helpers/ditto/safe_tree.h"

#include "helpers/ditto/member_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kb::ditto {
namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t implicitFolderMode = 0755;

std::string quoted(const std::vector<std::string>& components)
{
    return "\"" + joinedPath(components) + "\"";
}

[[noreturn]] void failSystem(int error, const std::vector<std::string>& components)
{
    throw std::system_error(error, std::generic_category(), "member " + quoted(components));
}

[[noreturn]] void refuseExisting(const std::vector<std::string>& components)
{
    throw std::runtime_error("refusing member " + quoted(components) + ": something already exists at its path");
}

// Opens the folder `name` inside `parent`, creating it when it is missing.
// A link or a file in its place is refused, never followed.
UniqueFd openOrCreateFolder(int parent, const std::string& name, const std::vector<std::string>& member)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd folder(::openat(parent, name.c_str(), folderFlags));
        if (folder) return folder;
        if (errno == ELOOP || errno == ENOTDIR) {
            throw std::runtime_error("refusing member " + quoted(member) + ": \"" + name +
                                     "\" on its path is a link or a file, not a folder");
        }
        if (errno != ENOENT) failSystem(errno, member);
        if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) failSystem(errno, member);
        UniqueFd created(::openat(parent, name.c_str(), folderFlags));
        if (created) {
            if (::fchmod(created.get(), implicitFolderMode) != 0) failSystem(errno, member);
            return created;
        }
    }
    failSystem(errno, member);
}

// The folder that holds the member's last component.
UniqueFd openParent(int root, const std::vector<std::string>& components)
{
    UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current) failSystem(errno, components);
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        current = openOrCreateFolder(current.get(), components[i], components);
    }
    return current;
}

}  // namespace

UniqueFd openDestination(const std::filesystem::path& destination)
{
    std::filesystem::create_directories(destination);
    UniqueFd folder(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw std::system_error(errno, std::generic_category(), destination.native());
    return folder;
}

void makeFolder(int root, const std::vector<std::string>& components, mode_t mode)
{
    if (components.empty()) return;  // the destination itself keeps its mode
    UniqueFd parent = openParent(root, components);
    const std::string& name = components.back();
    if (::mkdirat(parent.get(), name.c_str(), 0700) != 0 && errno != EEXIST) failSystem(errno, components);
    UniqueFd folder(::openat(parent.get(), name.c_str(), folderFlags));
    if (!folder) {
        if (errno == ELOOP || errno == ENOTDIR) refuseExisting(components);
        failSystem(errno, components);
    }
    if (::fchmod(folder.get(), mode) != 0) failSystem(errno, components);
}

UniqueFd createFile(int root, const std::vector<std::string>& components)
{
    UniqueFd parent = openParent(root, components);
    UniqueFd file(::openat(parent.get(), components.back().c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) {
        if (errno == EEXIST) refuseExisting(components);
        failSystem(errno, components);
    }
    return file;
}

void makeLink(int root, const std::vector<std::string>& components, const std::string& target)
{
    UniqueFd parent = openParent(root, components);
    if (::symlinkat(target.c_str(), parent.get(), components.back().c_str()) != 0) {
        if (errno == EEXIST) refuseExisting(components);
        failSystem(errno, components);
    }
}

}  // namespace kb::ditto
