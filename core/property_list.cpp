#include "core/property_list.h"

#include "core/property_list_limits.h"

#include <cstdint>

namespace kb {

PropertyList readDictionary(std::string_view bytes)
{
    if (!withinPropertyListLimits(bytes)) return nullptr;
    plist_t parsed = nullptr;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (bytes.starts_with("bplist00")) {
        plist_from_bin(bytes.data(), size, &parsed);
    } else {
        plist_from_xml(bytes.data(), size, &parsed);
    }
    PropertyList root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return nullptr;
    return root;
}

std::optional<std::string> stringValue(plist_t node)
{
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::string> xmlText(plist_t root)
{
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (xml == nullptr) return std::nullopt;
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

}  // namespace kb
