#include "platform/posix/file_tree.h"

#include "platform/interruption.h"
#include "platform/posix/system_calls.h"
#include "platform/system_error.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace kb::file_tree {

Path Place::path() const
{
    Path path = base_;
    if (below_) {
        for (const std::string& folder : *below_) path /= folder;
    }
    if (!name_.empty()) path /= std::string(name_);
    return path;
}

void fail(int error, std::string_view action, const Place& place)
{
    throwSystemError(error, action, place.path());
}

void failWithErrno(std::string_view action, const Place& place)
{
    fail(errno, action, place);
}

FileType typeOfMode(mode_t mode)
{
    if (S_ISREG(mode)) return FileType::regular;
    if (S_ISDIR(mode)) return FileType::directory;
    if (S_ISLNK(mode)) return FileType::symlink;
    return FileType::other;
}

UniqueFd openFolder(int at, const char* name, const Place& place)
{
    UniqueFd fd(::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) failWithErrno("open folder", place);
    return fd;
}

std::vector<RawEntry> listEntries(int folder, const Place& place)
{
    int copy = ::dup(folder);
    if (copy < 0) failWithErrno("read folder", place);
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        int error = errno;
        ::close(copy);
        fail(error, "read folder", place);
    }
    ::rewinddir(dir);
    std::vector<RawEntry> entries;
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) break;
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({std::string(name), entry->d_type});
    }
    int error = errno;
    ::closedir(dir);
    if (error != 0) fail(error, "read folder", place);
    std::sort(entries.begin(), entries.end(), [](const RawEntry& a, const RawEntry& b) { return a.name < b.name; });
    return entries;
}

UniqueFd openRegularFile(int at, const char* name, int flags, const Place& place)
{
    // O_NONBLOCK has no effect on reading a regular file.
    UniqueFd fd(::openat(at, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags));
    if (!fd) failWithErrno("open", place);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) failWithErrno("read attributes of", place);
    if (S_ISDIR(st.st_mode)) fail(EISDIR, "read", place);
    if (!S_ISREG(st.st_mode)) fail(EOPNOTSUPP, "read special file", place);
    return fd;
}

namespace {

// How many folders of a walk stay open at most, on each side of a copy.
constexpr std::size_t openFoldersKept = 32;

// The folders from a walk's top down to where it stands. Only the deepest
// openFoldersKept stay open; one whose descriptor was given up is opened
// again from its child's ".." on the way back up, and must then be the folder
// it was (the same device and inode), or the tree was moved meanwhile.
class FolderChain {
public:
    FolderChain(UniqueFd top, const Place& place) { push(std::move(top), place); }

    int deepest() const { return levels_.back().fd.get(); }

    void push(UniqueFd folder, const Place& place)
    {
        struct stat st {};
        if (::fstat(folder.get(), &st) != 0) failWithErrno("read attributes of", place);
        levels_.push_back({std::move(folder), st.st_dev, st.st_ino});
        if (levels_.size() > openFoldersKept) levels_[levels_.size() - 1 - openFoldersKept].fd.reset();
    }

    // Leaves the deepest folder for its parent, at `parent`.
    void pop(const Place& parent)
    {
        Level& above = levels_[levels_.size() - 2];
        if (!above.fd) {
            UniqueFd up(::openat(deepest(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat st {};
            if (!up || ::fstat(up.get(), &st) != 0) failWithErrno("open folder", parent);
            if (st.st_dev != above.device || st.st_ino != above.inode) fail(ESTALE, "open folder", parent);
            above.fd = std::move(up);
        }
        levels_.pop_back();
    }

private:
    struct Level {
        UniqueFd fd;
        dev_t device;
        ino_t inode;
    };
    std::vector<Level> levels_;
};

// A folder the walk is in: its entries, those still to visit, its attributes.
struct Visit {
    std::vector<RawEntry> entries;
    std::size_t next = 0;
    struct stat st {};
};

void keepTimes(int fd, const struct stat& st, const Place& to)
{
    std::array<timespec, 2> times = system_calls::accessAndModificationTimes(st);
    if (::futimens(fd, times.data()) != 0) failWithErrno("set times of", to);
}

// A folder's own attributes once everything in it is copied.
void finishFolder(int from, int to, const struct stat& st, const Place& place, const CopyOptions& options)
{
    system_calls::copyMetadata(from, to, st, options.installed);
    if (::fchmod(to, st.st_mode & 07777) != 0) failWithErrno("set permissions of", place);
    keepTimes(to, st, place);
}

// Copies what is not a folder: a link, a file, a FIFO.
void copyItem(int fromDir, const char* fromName, const Place& from, int toDir, const char* toName, const Place& to,
              const struct stat& st, const CopyOptions& options)
{
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        for (;;) {
            ssize_t length = ::readlinkat(fromDir, fromName, target.data(), target.size());
            if (length < 0) failWithErrno("read link", from);
            if (static_cast<std::size_t>(length) < target.size()) {
                target.resize(static_cast<std::size_t>(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (::symlinkat(target.c_str(), toDir, toName) != 0) failWithErrno("create link", to);
        std::array<timespec, 2> times = system_calls::accessAndModificationTimes(st);
        ::utimensat(toDir, toName, times.data(), AT_SYMLINK_NOFOLLOW);  // cosmetic only
        return;
    }
    if (S_ISREG(st.st_mode)) {
        // Opened as a regular file still: it may have been replaced since it was looked at.
        UniqueFd in = openRegularFile(fromDir, fromName, O_NOFOLLOW, from);
        UniqueFd out(::openat(toDir, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out) failWithErrno("create", to);
        system_calls::copyBytes(in.get(), out.get(), from.path(), to.path(), options.copied);
        system_calls::copyMetadata(in.get(), out.get(), st, options.installed);
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) failWithErrno("set permissions of", to);
        keepTimes(out.get(), st, to);
        return;
    }
    if (S_ISFIFO(st.st_mode)) {
        if (system_calls::makeFifo(toDir, toName, st.st_mode & 07777, to.path()) != 0) failWithErrno("create", to);
        return;
    }
    // Sockets and device files cannot be copied faithfully; refusing them
    // keeps a backup from silently missing an item.
    fail(EOPNOTSUPP, "copy special file", from);
}

// Removes what is not a folder, and says so; a folder is opened up for its
// owner and left to the caller. `listed` is the type a listing gave (or
// DT_UNKNOWN): files and links, by far the most entries, are unlinked without
// looking up their attributes first.
bool removedUnlessFolder(int folder, const char* name, unsigned char listed, const Place& place)
{
    if (listed != DT_UNKNOWN && listed != DT_DIR) {
        if (::unlinkat(folder, name, 0) == 0) return true;
        // It became a folder since the listing: Linux answers EISDIR, macOS EPERM.
        if (errno != EISDIR && errno != EPERM) failWithErrno("remove", place);
    }
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) failWithErrno("read attributes of", place);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(folder, name, 0) != 0) failWithErrno("remove", place);
        return true;
    }
    // A read-only folder of our own (a copied read-only tree, an unpacked
    // payload) is opened up first; otherwise its contents could not be
    // removed by anyone but root. Failure shows when removing its entries.
    if (st.st_uid == ::geteuid() && (st.st_mode & 0700) != 0700)
        ::fchmodat(folder, name, (st.st_mode & 07777) | 0700, 0);
    return false;
}

}  // namespace

void copy(int fromDir, const char* fromName, const Path& from, int toDir, const char* toName, const Path& to,
          const CopyOptions& options)
{
    struct stat st {};
    if (::fstatat(fromDir, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0) failWithErrno("read attributes of", from);
    if (!S_ISDIR(st.st_mode)) return copyItem(fromDir, fromName, from, toDir, toName, to, st, options);

    UniqueFd top = openFolder(fromDir, fromName, from);
    // Private while it fills, so nobody sees a half-copied folder with its
    // final permissions, and a read-only original can still be copied.
    if (::mkdirat(toDir, toName, 0700) != 0) failWithErrno("create folder", to);
    UniqueFd topCopy = openFolder(toDir, toName, to);
    std::vector<std::string> names;  // the folders below the top the walk stands in
    std::vector<Visit> visits;
    visits.push_back({listEntries(top.get(), from), 0, st});
    FolderChain sources(std::move(top), from);
    FolderChain targets(std::move(topCopy), to);
    for (;;) {
        checkInterruption();
        Visit& visit = visits.back();
        if (visit.next == visit.entries.size()) {
            finishFolder(sources.deepest(), targets.deepest(), visit.st, Place(to, names, ""), options);
            visits.pop_back();
            if (visits.empty()) return;
            names.pop_back();
            sources.pop(Place(from, names, ""));
            targets.pop(Place(to, names, ""));
            continue;
        }
        const std::string name = std::move(visit.entries[visit.next++].name);
        const Place source(from, names, name), target(to, names, name);
        struct stat entry {};
        if (::fstatat(sources.deepest(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
            failWithErrno("read attributes of", source);
        if (!S_ISDIR(entry.st_mode)) {
            copyItem(sources.deepest(), name.c_str(), source, targets.deepest(), name.c_str(), target, entry, options);
            continue;
        }
        UniqueFd innerSource = openFolder(sources.deepest(), name.c_str(), source);
        if (::mkdirat(targets.deepest(), name.c_str(), 0700) != 0) failWithErrno("create folder", target);
        UniqueFd innerTarget = openFolder(targets.deepest(), name.c_str(), target);
        std::vector<RawEntry> entries = listEntries(innerSource.get(), source);
        names.push_back(name);
        sources.push(std::move(innerSource), Place(from, names, ""));
        targets.push(std::move(innerTarget), Place(to, names, ""));
        visits.push_back({std::move(entries), 0, entry});
    }
}

void remove(int folder, const char* name, const Path& path)
{
    if (removedUnlessFolder(folder, name, DT_UNKNOWN, path)) return;
    UniqueFd top = openFolder(folder, name, path);
    std::vector<std::string> names;  // the folders below the top the walk stands in
    std::vector<Visit> visits;
    visits.push_back({listEntries(top.get(), path)});
    FolderChain chain(std::move(top), path);
    for (;;) {
        checkInterruption();
        Visit& visit = visits.back();
        if (visit.next < visit.entries.size()) {
            RawEntry entry = std::move(visit.entries[visit.next++]);
            const Place place(path, names, entry.name);
            if (removedUnlessFolder(chain.deepest(), entry.name.c_str(), entry.type, place)) continue;
            UniqueFd inner = openFolder(chain.deepest(), entry.name.c_str(), place);
            std::vector<RawEntry> entries = listEntries(inner.get(), place);
            names.push_back(std::move(entry.name));
            chain.push(std::move(inner), Place(path, names, ""));
            visits.push_back({std::move(entries)});
            continue;
        }
        visits.pop_back();
        if (visits.empty()) break;
        const std::string done = std::move(names.back());
        names.pop_back();
        chain.pop(Place(path, names, ""));
        if (::unlinkat(chain.deepest(), done.c_str(), AT_REMOVEDIR) != 0) failWithErrno("remove", Place(path, names, done));
    }
    if (::unlinkat(folder, name, AT_REMOVEDIR) != 0) failWithErrno("remove", path);
}

}  // namespace kb::file_tree
