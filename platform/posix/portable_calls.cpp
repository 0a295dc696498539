// Portable versions of the renaming and copying calls in
// platform/posix/system_calls.h, for systems without Linux's rename flags and
// in-kernel copy; chosen with KB_PORTABLE. Random bytes and pipes are in
// entropy_and_pipes.cpp, which macOS uses too.

#include "platform/posix/system_calls.h"

#include "platform/interruption.h"
#include "platform/system_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

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
    // As large as the file, up to a megabyte, and not cleared first: a tree
    // of many small files would otherwise pay for a cleared megabyte each.
    struct stat st {};
    const std::size_t most = std::size_t{1} << 20;
    const std::size_t size =
        ::fstat(in, &st) == 0 && st.st_size >= 0 && static_cast<std::uint64_t>(st.st_size) < most
            ? static_cast<std::size_t>(st.st_size) + 1  // one more, to see the end in the same read
            : most;
    const std::unique_ptr<std::byte[]> buffer(new std::byte[size]);
    for (;;) {
        checkInterruption();
        ssize_t got = ::read(in, buffer.get(), size);
        if (got < 0) {
            if (errno == EINTR) continue;
            throwErrno("read", from);
        }
        if (got == 0) return;
        for (ssize_t done = 0; done < got;) {
            ssize_t written = ::write(out, buffer.get() + done, static_cast<std::size_t>(got - done));
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
