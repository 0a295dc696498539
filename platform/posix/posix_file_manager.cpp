#include "platform/posix/posix_file_manager.h"

#include "platform/posix/file_tree.h"
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

using namespace file_tree;

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
    file_tree::copy(AT_FDCWD, from.c_str(), from, AT_FDCWD, to.c_str(), to);
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
    file_tree::remove(AT_FDCWD, path.c_str(), path);
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
        if (system_calls::syncToDisk(out.get()) != 0) throwErrno("write", path);
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
    // A TMPDIR that names no folder is passed over, as other tools pass it
    // over, rather than made.
    struct stat st {};
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode))
        return tmp;
    return system_calls::temporaryFolder();
}

std::unique_ptr<FileManager> makeSystemFileManager()
{
    return std::make_unique<PosixFileManager>();
}

}  // namespace kb
