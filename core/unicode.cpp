#include "core/unicode.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <new>

namespace kb {

bool validUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codepoint = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codepoint);
        if (used <= 0) return false;
        bytes += used;
        remaining -= used;
    }
    return true;
}

bool fitsXmlText(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &c);
        if (used <= 0) return false;
        const bool allowed = c == 0x09 || c == 0x0A || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
                             || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed) return false;
        bytes += used;
        remaining -= used;
    }
    return true;
}

std::string nfc(std::string_view text)
{
    // Plain ASCII is already in NFC: the common case costs one scan.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);

    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                     &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length == UTF8PROC_ERROR_NOMEM) throw std::bad_alloc();
    if (length < 0) return std::string(text);  // not valid UTF-8: compared as it is
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(mapped, &std::free);
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

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

