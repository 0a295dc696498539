#include "fileops/file_helpers.h"

#include "platform/random_uuid.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace kb {

std::string timestamp()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local {};
    ::localtime_r(&now.tv_sec, &local);
    std::array<char, 32> text{};
    std::size_t length = std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%S", &local);
    std::snprintf(text.data() + length, text.size() - length, "-%03ld", now.tv_nsec / 1000000);
    return std::string(text.data()) + "-" + randomUUID().substr(0, 6);
}

}  // namespace kb
