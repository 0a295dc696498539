#include "tools/bundle/info_plist.h"

#include "core/property_list_limits.h"
#include "platform/file_manager.h"
#include "tools/bundle/text_file.h"

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace kb::bundle {

namespace {

bool identifierCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

}  // namespace

bool validBundleIdentifier(std::string_view identifier)
{
    bool partEmpty = true;
    for (char c : identifier) {
        if (c == '.' && partEmpty) return false;
        if (c != '.' && !identifierCharacter(c)) return false;
        partEmpty = c == '.';
    }
    return !partEmpty;
}

std::string defaultBundleIdentifier(std::string_view productId)
{
    std::string identifier = "de.kestrelbay.installer";
    if (!productId.empty()) identifier += '.';
    for (char c : productId) identifier += identifierCharacter(c) ? c : '-';
    return identifier;
}

void nameBundle(const std::filesystem::path& file, const std::string& name, const std::string& identifier)
{
    // libplist is given only what stays within its safe limits; either form
    // is read (plist_from_xml and plist_from_bin are called alike by every
    // libplist version the build accepts).
    const std::string bytes = readFile(file, maxPropertyListBytes);
    plist_t parsed = nullptr;
    if (withinPropertyListLimits(bytes)) {
        const auto size = static_cast<std::uint32_t>(bytes.size());
        if (plist_is_binary(bytes.data(), size)) {
            plist_from_bin(bytes.data(), size, &parsed);
        } else {
            plist_from_xml(bytes.data(), size, &parsed);
        }
    }
    std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree> root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        throw std::runtime_error("\"" + file.native() + "\" is not a property list holding a dictionary");
    }
    for (const char* key : {"CFBundleName", "CFBundleDisplayName"}) {
        plist_dict_set_item(root.get(), key, plist_new_string(name.c_str()));
    }
    plist_dict_set_item(root.get(), "CFBundleIdentifier", plist_new_string(identifier.c_str()));

    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (xml == nullptr) throw std::runtime_error("cannot write \"" + file.native() + "\" as XML");
    const std::string text(xml, length);
    plist_to_xml_free(xml);
    writeText(file, text);
}

}  // namespace kb::bundle
