#include "platform/posix/posix_file_manager.h"

#include "platform/posix/system_calls.h"
#include "platform/random_uuid.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace kb {

namespace {

FileType typeOfMode(mode_t mode)
{
    if (S_ISREG(mode)) return FileType::regular;
    if (S_ISDIR(mode)) return FileType::directory;
    if (S_ISLNK(mode)) return FileType::symlink;
    return FileType::other;
}

// Opens a folder without following a final link.
UniqueFd openDirectory(int at, const char* name, const Path& shown)
{
    UniqueFd fd(::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) throwErrno("open folder", shown);
    return fd;
}

struct RawEntry {
    std::string name;
    unsigned char type;
};

// Lists an open folder; the descriptor stays open and usable.
std::vector<RawEntry> listEntries(int dirFd, const Path& shown)
{
    int copy = ::dup(dirFd);
    if (copy < 0) throwErrno("read folder", shown);
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        int error = errno;
        ::close(copy);
        throwSystemError(error, "read folder", shown);
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
    if (error != 0) throwSystemError(error, "read folder", shown);
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry& a, const RawEntry& b) { return a.name < b.name; });
    return entries;
}

// Opens a file to read its bytes, following a final link unless `flags` holds
// O_NOFOLLOW. The open never waits (a FIFO without a writer would block it
// for ever) and the descriptor must then be a regular file: a FIFO, a device
// such as /dev/zero or a socket could block a read or never end it.
UniqueFd openRegularFile(int at, const char* name, int flags, const Path& shown)
{
    // O_NONBLOCK has no effect on reading a regular file.
    UniqueFd fd(::openat(at, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags));
    if (!fd) throwErrno("open", shown);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwErrno("read attributes of", shown);
    if (S_ISDIR(st.st_mode)) throwSystemError(EISDIR, "read", shown);
    if (!S_ISREG(st.st_mode)) throwSystemError(EOPNOTSUPP, "read special file", shown);
    return fd;
}

void keepTimes(int fd, const struct stat& st, const Path& to)
{
    std::array<timespec, 2> times = system_calls::accessAndModificationTimes(st);
    if (::futimens(fd, times.data()) != 0) throwErrno("set times of", to);
}

void copyAt(int fromDir, const char* fromName, const Path& from, int toDir, const char* toName, const Path& to)
{
    struct stat st {};
    if (::fstatat(fromDir, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("read attributes of", from);

    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        for (;;) {
            ssize_t length = ::readlinkat(fromDir, fromName, target.data(), target.size());
            if (length < 0) throwErrno("read link", from);
            if (static_cast<std::size_t>(length) < target.size()) {
                target.resize(static_cast<std::size_t>(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (::symlinkat(target.c_str(), toDir, toName) != 0) throwErrno("create link", to);
        std::array<timespec, 2> times = system_calls::accessAndModificationTimes(st);
        ::utimensat(toDir, toName, times.data(), AT_SYMLINK_NOFOLLOW);  // cosmetic only
        return;
    }

    if (S_ISREG(st.st_mode)) {
        // Opened as a regular file still: it may have been replaced since it was looked at.
        UniqueFd in = openRegularFile(fromDir, fromName, O_NOFOLLOW, from);
        UniqueFd out(::openat(toDir, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out) throwErrno("create", to);
        system_calls::copyBytes(in.get(), out.get(), from, to);
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) throwErrno("set permissions of", to);
        keepTimes(out.get(), st, to);
        return;
    }

    if (S_ISDIR(st.st_mode)) {
        UniqueFd source = openDirectory(fromDir, fromName, from);
        // Private while it fills, so nobody sees a half-copied folder with
        // its final permissions, and a read-only original can still be copied.
        if (::mkdirat(toDir, toName, 0700) != 0) throwErrno("create folder", to);
        UniqueFd target = openDirectory(toDir, toName, to);
        for (const RawEntry& entry : listEntries(source.get(), from)) {
            copyAt(source.get(), entry.name.c_str(), from / entry.name, target.get(), entry.name.c_str(),
                   to / entry.name);
        }
        if (::fchmod(target.get(), st.st_mode & 07777) != 0) throwErrno("set permissions of", to);
        keepTimes(target.get(), st, to);
        return;
    }

    if (S_ISFIFO(st.st_mode)) {
        if (::mkfifoat(toDir, toName, st.st_mode & 07777) != 0) throwErrno("create", to);
        return;
    }

    // Sockets and device files cannot be copied faithfully; refusing them
    // keeps a backup from silently missing an item.
    throwSystemError(EOPNOTSUPP, "copy special file", from);
}

// `listed` is the type a folder listing gave for the entry (DT_UNKNOWN when
// there was none): files and links, by far the most entries, are unlinked
// without looking up their attributes first.
void removeAt(int dirFd, const char* name, const Path& shown, unsigned char listed = DT_UNKNOWN)
{
    if (listed != DT_UNKNOWN && listed != DT_DIR) {
        if (::unlinkat(dirFd, name, 0) == 0) return;
        if (errno != EISDIR) throwErrno("remove", shown);
        // It became a folder since the listing: remove it as one.
    }
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("read attributes of", shown);
    if (S_ISDIR(st.st_mode)) {
        // A read-only folder of our own (a copied read-only tree, an unpacked
        // payload) is opened up first; otherwise its contents could not be
        // removed by anyone but root. Failure shows when removing its entries.
        if (st.st_uid == ::geteuid() && (st.st_mode & 0700) != 0700)
            ::fchmodat(dirFd, name, (st.st_mode & 07777) | 0700, 0);
        UniqueFd folder = openDirectory(dirFd, name, shown);
        for (const RawEntry& entry : listEntries(folder.get(), shown)) {
            removeAt(folder.get(), entry.name.c_str(), shown / entry.name, entry.type);
        }
        if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) throwErrno("remove", shown);
        return;
    }
    if (::unlinkat(dirFd, name, 0) != 0) throwErrno("remove", shown);
}

class PosixInputFile final : public InputFile {
public:
    PosixInputFile(UniqueFd fd, Path path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::size_t read(std::span<std::byte> buffer) override
    {
        for (;;) {
            ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throwErrno("read", path_);
        }
    }

private:
    UniqueFd fd_;
    Path path_;
};

}  // namespace

void PosixFileManager::createDirectory(const Path& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throwSystemError(error.value(), "create folder", path);
}

void PosixFileManager::setPermissions(const Path& path, unsigned mode)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throwErrno("set permissions of", path);
    if (S_ISLNK(st.st_mode)) throwSystemError(EOPNOTSUPP, "set permissions through the link", path);
    if (::fchmodat(AT_FDCWD, path.c_str(), static_cast<mode_t>(mode), 0) != 0) throwErrno("set permissions of", path);
}

void PosixFileManager::copyItem(const Path& from, const Path& to)
{
    copyAt(AT_FDCWD, from.c_str(), from, AT_FDCWD, to.c_str(), to);
}

void PosixFileManager::moveItem(const Path& from, const Path& to)
{
    system_calls::renameWithoutReplacing(from, to);
}

void PosixFileManager::exchangeItems(const Path& a, const Path& b)
{
    system_calls::exchange(a, b);
}

void PosixFileManager::removeItem(const Path& path)
{
    removeAt(AT_FDCWD, path.c_str(), path);
}

FileAttributes PosixFileManager::attributes(const Path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throwErrno("read attributes of", path);
    return {typeOfMode(st.st_mode), static_cast<std::uint64_t>(st.st_size), static_cast<unsigned>(st.st_mode & 07777),
            st.st_uid == ::geteuid()};
}

std::string PosixFileManager::destinationOfSymbolicLink(const Path& path)
{
    std::string target(256, '\0');
    for (;;) {
        ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) throwErrno("read link", path);
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

bool PosixFileManager::isWritable(const Path& path)
{
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::vector<DirectoryEntry> PosixFileManager::contentsOfDirectory(const Path& path)
{
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throwErrno("open folder", path);
    std::vector<DirectoryEntry> result;
    for (RawEntry& entry : listEntries(folder.get(), path)) {
        FileType type = FileType::other;
        switch (entry.type) {
        case DT_REG: type = FileType::regular; break;
        case DT_DIR: type = FileType::directory; break;
        case DT_LNK: type = FileType::symlink; break;
        case DT_UNKNOWN: {
            struct stat st {};
            if (::fstatat(folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) type = typeOfMode(st.st_mode);
            break;
        }
        default: break;
        }
        result.push_back({std::move(entry.name), type});
    }
    return result;
}

std::unique_ptr<InputFile> PosixFileManager::openForReading(const Path& path)
{
    return std::make_unique<PosixInputFile>(openRegularFile(AT_FDCWD, path.c_str(), 0, path), path);
}

void PosixFileManager::writeAtomically(const Path& path, std::string_view data)
{
    Path scratch = path;
    scratch.replace_filename("." + path.filename().native() + "." + randomUUID());
    UniqueFd out(::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out) throwErrno("create", scratch);
    try {
        std::string_view rest = data;
        while (!rest.empty()) {
            ssize_t written = ::write(out.get(), rest.data(), rest.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                throwErrno("write", path);
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        if (::fsync(out.get()) != 0) throwErrno("write", path);
        int fd = out.release();
        if (::close(fd) != 0) throwErrno("write", path);
        if (::rename(scratch.c_str(), path.c_str()) != 0) throwErrno("replace", path);
    } catch (...) {
        ::unlink(scratch.c_str());
        throw;
    }
}

namespace {

class PosixFileLock final : public FileLock {
public:
    explicit PosixFileLock(UniqueFd fd) : fd_(std::move(fd)) {}

private:
    UniqueFd fd_;  // closing it lets the lock go
};

}  // namespace

std::unique_ptr<FileLock> PosixFileManager::lockExclusively(const Path& path)
{
    // Read-only, so that a folder can be locked and nothing needs a write; never
    // waiting, so that a FIFO in its place cannot stop the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) throwErrno("open", path);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return nullptr;
        if (errno != EINTR) throwErrno("lock", path);
    }
    return std::make_unique<PosixFileLock>(std::move(fd));
}

Path PosixFileManager::homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    passwd entry {};
    passwd* found = nullptr;
    std::array<char, 16384> buffer{};
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    throwSystemError(ENOENT, "find the home folder of user", std::to_string(::getuid()));
}

Path PosixFileManager::temporaryDirectory()
{
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/') return tmp;
    return system_calls::temporaryFolder();
}

std::unique_ptr<FileManager> makeSystemFileManager()
{
    return std::make_unique<PosixFileManager>();
}

}  // namespace kb
