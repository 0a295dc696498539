// The Linux versions of the calls in platform/posix/system_calls.h that no
// portable code can answer, and the running program's own path.

#include "platform/posix/system_calls.h"

#include "platform/resource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace kb {

namespace system_calls {

std::array<timespec, 2> accessAndModificationTimes(const struct stat& st)
{
    return {st.st_atim, st.st_mtim};
}

void copyMetadata(int, int, const struct stat&, bool)
{
    // The installer's own items carry nothing beside their bytes and modes here.
}

int syncToDisk(int fd)
{
    return ::fsync(fd);
}

int makeFifo(int folder, const char* name, mode_t mode, const Path&)
{
    return ::mkfifoat(folder, name, mode);
}

Path temporaryFolder()
{
    return "/tmp";
}

}  // namespace system_calls

std::filesystem::path runningExecutable()
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return path;
}

}  // namespace kb
