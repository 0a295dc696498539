// Portable versions of the calls in platform/posix/system_calls.h, for
// systems without Linux's rename flags, in-kernel copy, random-bytes call and
// one-step close-on-exec pipe (macOS among them); chosen with KB_PORTABLE.

#include "platform/posix/system_calls.h"

#include "platform/system_error.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <vector>

namespace kb::system_calls {

void renameWithoutReplacing(const Path& from, const Path& to)
{
    // Check, then rename: a name that appears in between is replaced, a
    // window the one-step call of other systems does not have.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) throwSystemError(EEXIST, "move", from);
    if (::rename(from.c_str(), to.c_str()) != 0) throwErrno("move", from);
}

void exchange(const Path& a, const Path&)
{
    throwSystemError(EOPNOTSUPP, "exchange", a);
}

void copyBytes(int in, int out, const Path& from, const Path& to)
{
    std::vector<std::byte> buffer(std::size_t{1} << 20);
    for (;;) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            throwErrno("read", from);
        }
        if (got == 0) return;
        for (ssize_t done = 0; done < got;) {
            ssize_t written = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (written < 0) {
                if (errno == EINTR) continue;
                throwErrno("write", to);
            }
            done += written;
        }
    }
}

void randomBytes(std::span<std::uint8_t> bytes)
{
    // getentropy gives at most 256 bytes a call.
    for (std::size_t filled = 0; filled < bytes.size();) {
        std::size_t piece = std::min<std::size_t>(bytes.size() - filled, 256);
        if (::getentropy(bytes.data() + filled, piece) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot read random bytes");
        filled += piece;
    }
}

std::array<UniqueFd, 2> closeOnExecPipe(const Path& program)
{
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0) throwErrno("create a pipe for", program);
    std::array<UniqueFd, 2> pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    for (const UniqueFd& end : pipe) {
        if (::fcntl(end.get(), F_SETFD, FD_CLOEXEC) != 0) throwErrno("create a pipe for", program);
    }
    return pipe;
}

}  // namespace kb::system_calls
