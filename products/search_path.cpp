#include "products/search_path.h"

#include <algorithm>

#include <utf8proc.h>

namespace kb {

void addEntries(SearchPath& list, std::string_view text)
{
    while (true) {
        std::size_t colon = text.find(':');
        std::string_view piece = text.substr(0, colon);
        if (!piece.empty() && list.included.emplace(piece).second) list.entries.emplace_back(piece);
        if (colon == std::string_view::npos) return;
        text.remove_prefix(colon + 1);
    }
}

std::string joinSearchPath(const SearchPath& list)
{
    std::string joined;
    for (const std::string& entry : list.entries) {
        if (!joined.empty()) joined += ':';
        joined += entry;
    }
    return joined;
}

namespace {

bool isWhitespaceOrNewline(utf8proc_int32_t codepoint)
{
    if ((codepoint >= 0x09 && codepoint <= 0x0D) || codepoint == 0x85) return true;
    utf8proc_category_t category = utf8proc_category(codepoint);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

}  // namespace

std::string trimWhitespace(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t position = 0;
    std::size_t first = text.size();  // start of the first character that stays
    std::size_t end = 0;              // end of the last character that stays
    while (position < text.size()) {
        utf8proc_int32_t codepoint = -1;
        utf8proc_ssize_t used = utf8proc_iterate(bytes + position, static_cast<utf8proc_ssize_t>(text.size() - position),
                                                 &codepoint);
        // A byte that starts no valid character is kept as it is.
        std::size_t length = used > 0 ? static_cast<std::size_t>(used) : 1;
        if (used <= 0 || !isWhitespaceOrNewline(codepoint)) {
            first = std::min(first, position);
            end = position + length;
        }
        position += length;
    }
    if (first >= end) return {};
    return std::string(text.substr(first, end - first));
}

}  // namespace kb
