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
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kb {

namespace system_calls {

void renameWithoutReplacing(const Item& from, const Item& to)
{
    if (::renameatx_np(from.folder, from.name, to.folder, to.name, RENAME_EXCL) == 0) return;
    if (errno != ENOTSUP && errno != EINVAL) throwErrno("move", from.path);
    renameAfterCheck(from, to);  // a file system without RENAME_EXCL
}

void exchange(const Item& a, const Item& b)
{
    if (::renameatx_np(a.folder, a.name, b.folder, b.name, RENAME_SWAP) == 0) return;
    // A file system without the swap answers ENOTSUP, which on macOS is not
    // the EOPNOTSUPP callers recognise.
    if (errno == ENOTSUP || errno == EINVAL) throwSystemError(EOPNOTSUPP, "exchange", a.path);
    throwErrno("exchange", a.path);
}

int openBeneath(int, const char*)
{
    // No such call on macOS: every path is walked folder by folder.
    errno = ENOSYS;
    return -1;
}

void copyBytes(int in, int out, const Path& from, const Path& to, const std::function<void(std::uint64_t)>& copied)
{
    // Both descriptors are freshly opened at their starts. fcopyfile says
    // only that it failed, not on which side; a failing disk is taken as the
    // reading side, anything else as the writing one. It copies a file in one
    // call, so a noted signal ends the run after it, and its bytes are told
    // once it is done.
    checkInterruption();
    if (::fcopyfile(in, out, nullptr, COPYFILE_DATA) == 0) {
        struct stat st {};
        if (copied && ::fstat(in, &st) == 0) copied(static_cast<std::uint64_t>(st.st_size));
        return;
    }
    int error = errno;
    if (error == EIO || error == EBADF) throwSystemError(error, "read", from);
    throwSystemError(error, "write", to);
}

void copyMetadata(int in, int out, const struct stat& st, bool installed)
{
    // A user's own file (one that goes into the backup, and back from it)
    // keeps its extended attributes, its ACL and the flags a user sets. The
    // attributes and the ACL are copied in calls of their own, as fcopyfile
    // passes the rest of one request over when a part of it fails. Flags that
    // would keep the copy from being changed or removed are not copied.
    ::fcopyfile(in, out, nullptr, COPYFILE_XATTR);
    ::fcopyfile(in, out, nullptr, COPYFILE_ACL);
    ::fchflags(out, st.st_flags & (UF_NODUMP | UF_HIDDEN));
    // fcopyfile carries a download's quarantine mark over whatever it is asked
    // to copy. An item installed from the payload was proved by its digest,
    // and the product around it passed Gatekeeper: marked, a plug-in would be
    // sent through Gatekeeper again by the host that loads it.
    if (installed) ::fremovexattr(out, "com.apple.quarantine", 0);
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
