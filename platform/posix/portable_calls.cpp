// Portable versions of the renaming and copying calls in
// platform/posix/system_calls.h, for systems without Linux's rename flags and
// in-kernel copy; chosen with KB_PORTABLE. Random bytes and pipes are in
// entropy_and_pipes.cpp, which macOS uses too.

#include "platform/posix/system_calls.h"

#include "platform/interruption.h"
#include "platform/system_error.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <vector>

namespace kb::system_calls {

void renameWithoutReplacing(const Item& from, const Item& to)
{
    // A window the one-step call of other systems does not have.
    renameAfterCheck(from, to);
}

void exchange(const Item& a, const Item&)
{
    throwSystemError(EOPNOTSUPP, "exchange", a.path);
}

int openBeneath(int, const char*)
{
    errno = ENOSYS;
    return -1;
}

void copyBytes(int in, int out, const Path& from, const Path& to, const std::function<void(std::uint64_t)>& copied)
{
    std::vector<std::byte> buffer(std::size_t{1} << 20);
    for (;;) {
        checkInterruption();
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
        if (copied) copied(static_cast<std::uint64_t>(got));
    }
}

}  // namespace kb::system_calls
