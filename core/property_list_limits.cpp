#include "core/property_list_limits.h"

#include <initializer_list>
#include <vector>

namespace kb {

namespace {

constexpr std::size_t none = std::string_view::npos;

// XML: every element is a level. What is skipped is skipped as libplist's
// reader skips it, so that nothing it reads as a tag is hidden from the count:
// where it honours double quotes (inside tags, processing instructions and
// declarations) they are honoured here, and where it stops at a broken
// construct, counting stops too, as nothing after it is ever parsed.
Limits xmlLimits(std::string_view xml)
{
    // Where the first of `ends` begins at or after `from`; with `quoted`, a
    // text in double quotes is passed over whole.
    const auto find = [xml](std::size_t from, std::initializer_list<std::string_view> ends, bool quoted) {
        for (std::size_t at = from; at < xml.size(); ++at) {
            for (std::string_view end : ends) {
                if (xml.substr(at, end.size()) == end) return at;
            }
            if (quoted && xml[at] == '"' && (at = xml.find('"', at + 1)) == none) return none;
        }
        return none;
    };
    std::size_t depth = 0;
    for (std::size_t at = xml.find('<'); at != none; at = xml.find('<', at)) {
        const std::string_view rest = xml.substr(at);
        std::size_t end = none;
        if (rest.starts_with("<?")) {
            end = find(at + 1, {"?>"}, true);
        } else if (rest.starts_with("<!--")) {
            end = find(at + 4, {"-->"}, false);
        } else if (rest.starts_with("<![CDATA[")) {
            end = find(at + 9, {"]]>"}, false);
        } else if (rest.starts_with("<!")) {
            // A declaration, perhaps with an internal subset in brackets.
            end = find(at + 2, {"[", ">"}, true);
            if (end != none && xml[end] == '[') end = find(end, {"]>"}, true);
        } else {
            // A tag: its name runs to white space or a bracket, its attributes
            // (quotes honoured) to the '>'.
            end = xml.find_first_of(" \t\r\n<>", at + 1);
            if (end != none && xml[end] != '>') end = find(end, {"<", ">"}, true);
            if (end == none || xml[end] != '>') return Limits::within;
            if (rest[1] == '/') {
                if (depth > 0) --depth;
            } else if (xml[end - 1] != '/' && ++depth > maxPropertyListDepth) {
                return Limits::beyond;
            }
        }
        if (end == none) return Limits::within;
        at = end + 1;
    }
    return Limits::within;
}

// The big-endian number in `size` bytes at `at`; of more than eight bytes,
// the last eight count, as libplist reads them.
std::uint64_t bigEndian(std::string_view bytes, std::uint64_t at, std::uint64_t size)
{
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// A binary list: the trailer's sizes, then the objects from the root through
// their references, depth first on a list of its own. Arrays, sets and
// dictionaries refer to others; every other object ends its branch. Strings
// met on the way are looked at for a NUL, which libplist cuts them short at.
Limits binaryLimits(std::string_view bytes, bool& nulInText)
{
    constexpr std::uint64_t trailerSize = 32;
    if (bytes.size() < 8 + trailerSize) return Limits::damaged;  // "bplist00" and the trailer
    const std::uint64_t trailer = bytes.size() - trailerSize;
    const std::uint64_t offsetSize = static_cast<unsigned char>(bytes[trailer + 6]);
    const std::uint64_t referenceSize = static_cast<unsigned char>(bytes[trailer + 7]);
    const std::uint64_t objects = bigEndian(bytes, trailer + 8, 8);
    const std::uint64_t root = bigEndian(bytes, trailer + 16, 8);
    const std::uint64_t offsetTable = bigEndian(bytes, trailer + 24, 8);
    if (offsetSize == 0 || referenceSize == 0 || root >= objects || offsetTable > trailer
        || objects > (trailer - offsetTable) / offsetSize) {
        return Limits::damaged;
    }

    struct Pending {
        std::uint64_t object;
        std::size_t depth;
    };
    std::vector<Pending> pending{{root, 1}};
    std::size_t values = 1;
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        if (next.depth > maxPropertyListDepth) return Limits::beyond;
        std::uint64_t at = bigEndian(bytes, offsetTable + next.object * offsetSize, offsetSize);
        if (at >= offsetTable) return Limits::damaged;
        const unsigned marker = static_cast<unsigned char>(bytes[at++]);
        const unsigned type = marker >> 4;
        const bool text = type == 0x5 || type == 0x6;  // ASCII or UTF-16
        if (!text && type != 0xA && type != 0xC && type != 0xD) continue;
        std::uint64_t count = marker & 0x0F;
        if (count == 0x0F) {
            // The count follows as an integer object.
            if (at >= offsetTable || static_cast<unsigned char>(bytes[at]) >> 4 != 0x1) return Limits::damaged;
            const std::uint64_t size = std::uint64_t{1} << (bytes[at++] & 0x0F);
            if (size > offsetTable - at) return Limits::damaged;
            count = bigEndian(bytes, at, size);
            at += size;
        }
        if (text) {
            const std::uint64_t unit = type == 0x5 ? 1 : 2;
            if (count > (offsetTable - at) / unit) return Limits::damaged;
            for (std::uint64_t i = 0; i < count; ++i) nulInText = nulInText || bigEndian(bytes, at + i * unit, unit) == 0;
            continue;
        }
        const std::uint64_t room = (offsetTable - at) / referenceSize;
        if (count > room || (type == 0xD && count > room - count)) return Limits::damaged;
        const std::uint64_t references = type == 0xD ? 2 * count : count;  // a dictionary's keys, then its values
        if (references > maxPropertyListValues - values) return Limits::beyond;
        values += references;
        for (std::uint64_t i = 0; i < references; ++i) {
            const std::uint64_t object = bigEndian(bytes, at + i * referenceSize, referenceSize);
            if (object >= objects) return Limits::damaged;
            pending.push_back({object, next.depth + 1});
        }
    }
    return Limits::within;
}

}  // namespace

Limits propertyListLimits(std::string_view bytes)
{
    if (bytes.size() > maxPropertyListBytes) return Limits::beyond;
    bool nulInText = false;
    return bytes.starts_with("bplist00") ? binaryLimits(bytes, nulInText) : xmlLimits(bytes);
}

bool withinPropertyListLimits(std::string_view bytes)
{
    return propertyListLimits(bytes) == Limits::within;
}

bool textHoldsNul(std::string_view bytes)
{
    bool nulInText = false;
    return bytes.starts_with("bplist00") && binaryLimits(bytes, nulInText) == Limits::within && nulInText;
}

}  // namespace kb
