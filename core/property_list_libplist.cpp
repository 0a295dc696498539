// Property lists read and written by libplist, on Linux. Debian's libplist
// reads XML only in UTF-8, which the caller has made it already.

#include "core/property_list.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace kb {

struct PropertyList::Node {
    explicit Node(plist_t node) : root(node) {}
    ~Node() { plist_free(root); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    plist_t root;
};

namespace {

std::optional<std::string> stringOf(plist_t node)
{
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

PropertyList::PropertyList() : node_(std::make_unique<Node>(plist_new_dict())) {}
PropertyList::PropertyList(std::unique_ptr<Node> node) : node_(std::move(node)) {}
PropertyList::~PropertyList() = default;
PropertyList::PropertyList(PropertyList&&) noexcept = default;
PropertyList& PropertyList::operator=(PropertyList&&) noexcept = default;

std::optional<PropertyList> PropertyList::parse(std::string_view text, std::string_view)
{
    // The two readers every libplist version spells alike (plist_from_memory
    // gained an argument in 2.3).
    plist_t parsed = nullptr;
    const auto size = static_cast<std::uint32_t>(text.size());
    if (text.starts_with("bplist00")) {
        plist_from_bin(text.data(), size, &parsed);
    } else {
        plist_from_xml(text.data(), size, &parsed);
    }
    auto node = std::make_unique<Node>(parsed);
    if (parsed == nullptr || plist_get_node_type(parsed) != PLIST_DICT) return std::nullopt;
    return PropertyList(std::move(node));
}

bool PropertyList::has(std::string_view key) const
{
    return plist_dict_get_item(node_->root, std::string(key).c_str()) != nullptr;
}

std::optional<std::string> PropertyList::text(std::string_view key) const
{
    return stringOf(plist_dict_get_item(node_->root, std::string(key).c_str()));
}

std::optional<std::vector<std::string>> PropertyList::texts(std::string_view key) const
{
    plist_t array = plist_dict_get_item(node_->root, std::string(key).c_str());
    if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> values;
    for (std::uint32_t i = 0; i < plist_array_get_size(array); ++i) {
        std::optional<std::string> value = stringOf(plist_array_get_item(array, i));
        if (!value) return std::nullopt;
        values.push_back(std::move(*value));
    }
    return values;
}

std::optional<bool> PropertyList::flag(std::string_view key) const
{
    plist_t value = plist_dict_get_item(node_->root, std::string(key).c_str());
    if (value == nullptr || plist_get_node_type(value) != PLIST_BOOLEAN) return std::nullopt;
    std::uint8_t set = 0;
    plist_get_bool_val(value, &set);
    return set != 0;
}

void PropertyList::setText(std::string_view key, const std::string& value)
{
    plist_dict_set_item(node_->root, std::string(key).c_str(), plist_new_string(value.c_str()));
}

void PropertyList::setTexts(std::string_view key, const std::vector<std::string>& values)
{
    plist_t array = plist_new_array();
    for (const std::string& value : values) plist_array_append_item(array, plist_new_string(value.c_str()));
    plist_dict_set_item(node_->root, std::string(key).c_str(), array);
}

void PropertyList::setFlag(std::string_view key, bool value)
{
    plist_dict_set_item(node_->root, std::string(key).c_str(), plist_new_bool(value ? 1 : 0));
}

std::string PropertyList::xml() const
{
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node_->root, &xml, &length);
    if (xml == nullptr) throw std::runtime_error("libplist could not write the property list as XML");
    std::string text(xml, length);
    // Released as libplist asks: with plist_to_xml_free before 2.3, with
    // plist_mem_free since, when plist_to_xml_free went.
#ifdef KB_LIBPLIST_MEM_FREE
    plist_mem_free(xml);
#else
    plist_to_xml_free(xml);
#endif
    return text;
}

}  // namespace kb
