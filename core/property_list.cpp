#include "core/property_list.h"

#include "core/property_list_limits.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>

namespace kb {

namespace {

// `bytes` (without their byte-order mark) in UTF-16 of the given order
// converted to UTF-8; nothing for anything that is not UTF-16.
std::optional<std::string> fromUtf16(std::string_view bytes, const char* encoding)
{
    const iconv_t converter = ::iconv_open("UTF-8", encoding);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string converted(bytes.size() * 2 + 4, '\0');  // three bytes at most for each two
    char* in = const_cast<char*>(bytes.data());
    char* out = converted.data();
    std::size_t inLeft = bytes.size(), outLeft = converted.size();
    const std::size_t result = ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    converted.resize(converted.size() - outLeft);
    return converted;
}

// A list's text in UTF-8, as launchd would read it: without a UTF-8
// byte-order mark, UTF-16 with one converted; a binary list as it is.
// Nothing for UTF-16 that does not convert.
std::optional<std::string> inUtf8(std::string_view bytes)
{
    if (bytes.starts_with("bplist")) return std::string(bytes);
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return fromUtf16(bytes.substr(2), "UTF-16LE");
    if (bytes.starts_with("\xFE\xFF")) return fromUtf16(bytes.substr(2), "UTF-16BE");
    return std::string(bytes);
}

bool allowedInXml(std::uint64_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

int digitOf(char c, bool hex)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether the XML text holds a character reference ("&#65;", "&#x41;") to a
// character XML does not allow. Comments, CDATA sections and processing
// instructions hold none, and are passed over.
bool referencesForbiddenCharacter(std::string_view xml)
{
    for (std::size_t at = xml.find_first_of("<&"); at != std::string_view::npos; at = xml.find_first_of("<&", at)) {
        const std::string_view rest = xml.substr(at);
        std::string_view end;
        for (const auto& [open, close] : {std::pair<std::string_view, std::string_view>{"<!--", "-->"},
                                          {"<![CDATA[", "]]>"}, {"<?", "?>"}}) {
            if (rest.starts_with(open)) end = close;
        }
        if (!end.empty()) {
            at = xml.find(end, at + 2);
            if (at == std::string_view::npos) return false;
            at += end.size();
            continue;
        }
        if (rest.starts_with("&#")) {
            const bool hex = rest.size() > 2 && rest[2] == 'x';
            std::size_t i = hex ? 3 : 2;
            std::uint64_t value = 0;
            for (int digit; i < rest.size() && (digit = digitOf(rest[i], hex)) >= 0; ++i)
                value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit), 0x110000);
            if (i > (hex ? 3u : 2u) && i < rest.size() && rest[i] == ';' && !allowedInXml(value)) return true;
        }
        ++at;
    }
    return false;
}

}  // namespace

std::optional<PropertyList> PropertyList::read(std::string_view bytes)
{
    const std::optional<std::string> text = inUtf8(bytes);
    if (!text || !withinPropertyListLimits(*text)) return std::nullopt;
    return parse(*text, bytes);
}

bool beyondReadingLimits(std::string_view bytes)
{
    const std::optional<std::string> text = inUtf8(bytes);
    return text && propertyListLimits(*text) == Limits::beyond;
}

bool holdsTextXmlForbids(std::string_view bytes)
{
    if (bytes.starts_with("bplist")) return textHoldsNul(bytes);
    const std::optional<std::string> text = inUtf8(bytes);
    return !text || referencesForbiddenCharacter(*text);
}

}  // namespace kb
