#include "helpers/ditto/safe_tree.h"

#include "helpers/ditto/member_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kb::ditto {
namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t implicitFolderMode = 0755;
// How many folders of a path stay open; a deeper path never runs the
// process out of descriptors.
constexpr std::size_t chainLimit = 64;

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

}  // namespace

UniqueFd openDestination(const std::filesystem::path& destination)
{
    std::filesystem::create_directories(destination);
    UniqueFd folder(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw std::system_error(errno, std::generic_category(), destination.native());
    return folder;
}

int SafeTree::parentOf(const std::vector<std::string>& components)
{
    const std::size_t depth = components.size() - 1;
    const std::size_t cached = std::min(depth, chainLimit);
    std::size_t kept = 0;
    while (kept < chain_.size() && kept < cached && chain_[kept].name == components[kept]) ++kept;
    while (chain_.size() > kept) chain_.pop_back();
    for (std::size_t i = kept; i < cached; ++i) {
        const int parent = i == 0 ? root_.get() : chain_[i - 1].fd.get();
        UniqueFd folder = openOrCreateFolder(parent, components[i], components);
        chain_.push_back({components[i], std::move(folder)});
    }
    int current = cached == 0 ? root_.get() : chain_[cached - 1].fd.get();
    // Deeper folders one after the other, only the last one kept open.
    for (std::size_t i = cached; i < depth; ++i) {
        UniqueFd next = openOrCreateFolder(current, components[i], components);
        deep_ = std::move(next);
        current = deep_.get();
    }
    return current;
}

void SafeTree::makeFolder(const std::vector<std::string>& components, mode_t mode)
{
    if (components.empty()) return;  // the destination itself keeps its mode
    const int parent = parentOf(components);
    const std::string& name = components.back();
    if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) failSystem(errno, components);
    UniqueFd folder(::openat(parent, name.c_str(), folderFlags));
    if (!folder) {
        if (errno == ELOOP || errno == ENOTDIR) refuseExisting(components);
        failSystem(errno, components);
    }
    if (::fchmod(folder.get(), mode) != 0) failSystem(errno, components);
    // Its own members come next.
    if (chain_.size() < chainLimit && chain_.size() == components.size() - 1) chain_.push_back({name, std::move(folder)});
}

UniqueFd SafeTree::createFile(const std::vector<std::string>& components)
{
    UniqueFd file(::openat(parentOf(components), components.back().c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) {
        if (errno == EEXIST) refuseExisting(components);
        failSystem(errno, components);
    }
    return file;
}

void SafeTree::makeLink(const std::vector<std::string>& components, const std::string& target)
{
    if (::symlinkat(target.c_str(), parentOf(components), components.back().c_str()) != 0) {
        if (errno == EEXIST) refuseExisting(components);
        failSystem(errno, components);
    }
}

}  // namespace kb::ditto
