// Random bytes and close-on-exec pipes as every POSIX system gives them:
// the portable build and macOS, which have neither getrandom nor pipe2.

#include "platform/posix/system_calls.h"

#include "platform/system_error.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace kb::system_calls {

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
    // The installer starts its programs from one thread, so no other thread
    // can start one between the two calls.
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0) throwErrno("create a pipe for", program);
    std::array<UniqueFd, 2> pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    for (const UniqueFd& end : pipe) {
        if (::fcntl(end.get(), F_SETFD, FD_CLOEXEC) != 0) throwErrno("create a pipe for", program);
    }
    return pipe;
}

}  // namespace kb::system_calls
