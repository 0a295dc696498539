#include "platform/file_manager.h"

#include "platform/system_error.h"

#include <array>

namespace kb {

std::string readFile(const Path& path, std::uint64_t limit)
{
    std::unique_ptr<InputFile> file = fm->openForReading(path);
    std::string content;
    std::array<std::byte, 65536> buffer{};
    for (;;) {
        std::size_t got = file->read(buffer);
        if (got == 0) return content;
        if (got > limit - content.size()) throwSystemError(EFBIG, "read", path);
        content.append(reinterpret_cast<const char*>(buffer.data()), got);
    }
}

}  // namespace kb
