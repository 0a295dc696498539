#include "app/unicode_lowercase.h"

#include <utf8proc.h>

#include <array>

namespace kb {

std::string unicodeLowercase(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codepoint = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codepoint);
        if (used <= 0) {
            result.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(remaining));
            break;
        }
        std::array<utf8proc_uint8_t, 4> encoded{};
        utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_tolower(codepoint), encoded.data());
        result.append(reinterpret_cast<const char*>(encoded.data()), static_cast<std::size_t>(length));
        bytes += used;
        remaining -= used;
    }
    return result;
}

}  // namespace kb
