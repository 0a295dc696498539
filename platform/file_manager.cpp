#include "platform/file_manager.h"

#include <array>

namespace kb {

std::string readFile(const Path& path)
{
    std::unique_ptr<InputFile> file = fm->openForReading(path);
    std::string content;
    std::array<std::byte, 65536> buffer{};
    for (;;) {
        std::size_t got = file->read(buffer);
        if (got == 0) return content;
        content.append(reinterpret_cast<const char*>(buffer.data()), got);
    }
}

}  // namespace kb
