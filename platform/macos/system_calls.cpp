// The macOS versions of the calls in platform/posix/system_calls.h, and the
// running program's own path.

#include "platform/posix/system_calls.h"

#include "platform/interruption.h"
#include "platform/resource.h"
#include "platform/system_error.h"

#include <copyfile.h>
#include <fcntl.h>
#include <limits.h>
#include <mach-o/dyld.h>
#include <stdio.h>  // renameatx_np
#include <sys/stat.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kb {

namespace system_calls {

void renameWithoutReplacing(const Path& from, const Path& to)
{
    if (::renameatx_np(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCL) == 0) return;
    if (errno != ENOTSUP && errno != EINVAL) throwErrno("move", from);
    renameAfterCheck(from, to);  // a file system without RENAME_EXCL
}

void exchange(const Path& a, const Path& b)
{
    if (::renameatx_np(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_SWAP) == 0) return;
    // A file system without the swap answers ENOTSUP, which on macOS is not
    // the EOPNOTSUPP callers recognise.
    if (errno == ENOTSUP || errno == EINVAL) throwSystemError(EOPNOTSUPP, "exchange", a);
    throwErrno("exchange", a);
}

void copyBytes(int in, int out, const Path& from, const Path& to)
{
    // Both descriptors are freshly opened at their starts. fcopyfile says
    // only that it failed, not on which side; a failing disk is taken as the
    // reading side, anything else as the writing one. It copies a file in one
    // call, so a noted signal ends the run after it.
    checkInterruption();
    if (::fcopyfile(in, out, nullptr, COPYFILE_DATA) == 0) return;
    int error = errno;
    if (error == EIO || error == EBADF) throwSystemError(error, "read", from);
    throwSystemError(error, "write", to);
}

void copyMetadata(int in, int out, const struct stat& st)
{
    // A user's own file (one that goes into the backup, and back from it)
    // keeps its extended attributes, its ACL and the flags a user sets. Flags
    // that would keep the copy from being changed or removed are not copied.
    ::fcopyfile(in, out, nullptr, COPYFILE_XATTR | COPYFILE_ACL);
    ::fchflags(out, st.st_flags & (UF_NODUMP | UF_HIDDEN));
}

int syncToDisk(int fd)
{
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
    return ::fsync(fd);  // a file system that cannot: as far as fsync goes
}

int makeFifo(int folder, const char* name, mode_t mode, const Path& path)
{
    // mkfifoat came with macOS 13; before it, the FIFO is made by its path.
    if (__builtin_available(macOS 13.0, *)) return ::mkfifoat(folder, name, mode);
    return ::mkfifo(path.c_str(), mode);
}

std::array<timespec, 2> accessAndModificationTimes(const struct stat& st)
{
    return {st.st_atimespec, st.st_mtimespec};
}

Path temporaryFolder()
{
    // The user's own folder below /var/folders, which nobody else can enter
    // (launchd sets TMPDIR to it for programs started from the Finder).
    std::string folder(PATH_MAX, '\0');
    std::size_t length = ::confstr(_CS_DARWIN_USER_TEMP_DIR, folder.data(), folder.size());
    if (length == 0 || length > folder.size()) return "/tmp";
    folder.resize(length - 1);  // without the terminating NUL
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace system_calls

std::filesystem::path runningExecutable()
{
    // The path the program was started by, which may pass through links;
    // the bundle is found from the real one.
    std::uint32_t size = 0;
    ::_NSGetExecutablePath(nullptr, &size);
    std::string started(size, '\0');
    if (::_NSGetExecutablePath(started.data(), &size) != 0) return {};
    char* real = ::realpath(started.c_str(), nullptr);
    if (!real) return {};
    std::filesystem::path path = real;
    std::free(real);
    return path;
}

}  // namespace kb
