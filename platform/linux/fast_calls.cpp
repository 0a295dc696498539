// The Linux versions of the calls in platform/posix/system_calls.h that have
// a portable fall-back: renameat2, copy_file_range, getrandom and pipe2.

#include "platform/posix/system_calls.h"

#include "platform/interruption.h"
#include "platform/system_error.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>  // renameat2
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>

namespace kb::system_calls {

void renameWithoutReplacing(const Item& from, const Item& to)
{
    if (::renameat2(from.folder, from.name, to.folder, to.name, RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) throwErrno("move", from.path);
    renameAfterCheck(from, to);  // a file system without RENAME_NOREPLACE
}

void exchange(const Item& a, const Item& b)
{
    if (::renameat2(a.folder, a.name, b.folder, b.name, RENAME_EXCHANGE) == 0) return;
    // A kernel or file system without the swap (EINVAL for two siblings)
    // says so in the one way callers can recognise.
    if (errno == EINVAL || errno == ENOSYS) throwSystemError(EOPNOTSUPP, "exchange", a.path);
    throwErrno("exchange", a.path);
}

int openBeneath(int root, const char* relative)
{
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, root, relative, &how, sizeof how));
}

void copyBytes(int in, int out, const Path& from, const Path& to, const std::function<void(std::uint64_t)>& done)
{
    // copy_file_range keeps the bytes inside the kernel; sendfile is the
    // fall-back for file systems that refuse it. Pieces of 8 MiB let a noted
    // signal end a long copy soon.
    constexpr std::size_t piece = std::size_t{8} << 20;
    bool tryRange = true;
    for (;;) {
        checkInterruption();
        ssize_t copied = -1;
        if (tryRange) {
            copied = ::copy_file_range(in, nullptr, out, nullptr, piece, 0);
            if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                tryRange = false;
                continue;
            }
        } else {
            copied = ::sendfile(out, in, nullptr, piece);
        }
        if (copied < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            // Tell a failing read from a failing write by the side that refuses.
            if (error == EIO || error == EBADF) throwSystemError(error, "read", from);
            throwSystemError(error, "write", to);
        }
        if (copied == 0) return;
        if (done) done(static_cast<std::uint64_t>(copied));
    }
}

void randomBytes(std::span<std::uint8_t> bytes)
{
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "cannot read random bytes");
        }
        filled += static_cast<std::size_t>(got);
    }
}

std::array<UniqueFd, 2> closeOnExecPipe(const Path& program)
{
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) throwErrno("create a pipe for", program);
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

}  // namespace kb::system_calls
