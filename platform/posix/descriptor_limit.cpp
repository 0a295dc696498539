#include "platform/descriptor_limit.h"

#include <sys/resource.h>

#include <climits>

namespace kb {

void raiseDescriptorLimit() noexcept
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    rlim_t wanted = limit.rlim_max;
#ifdef __APPLE__
    if (wanted > OPEN_MAX) wanted = OPEN_MAX;
#endif
    if (limit.rlim_cur >= wanted) return;
    limit.rlim_cur = wanted;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace kb
