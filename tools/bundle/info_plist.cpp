#include "tools/bundle/info_plist.h"

#include "core/property_list.h"
#include "core/property_list_limits.h"
#include "platform/file_manager.h"
#include "tools/bundle/text_file.h"

#include <stdexcept>

namespace kb::bundle {

namespace {

bool identifierCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

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
    // Either form is read, within the limits libplist is safe in.
    const PropertyList root = readDictionary(readFile(file, maxPropertyListBytes));
    if (!root) throw std::runtime_error("\"" + file.native() + "\" is not a property list holding a dictionary");
    for (const char* key : {"CFBundleName", "CFBundleDisplayName"}) {
        plist_dict_set_item(root.get(), key, plist_new_string(name.c_str()));
    }
    plist_dict_set_item(root.get(), "CFBundleIdentifier", plist_new_string(identifier.c_str()));

    const std::optional<std::string> text = xmlText(root.get());
    if (!text) throw std::runtime_error("cannot write \"" + file.native() + "\" as XML");
    writeText(file, *text);
}

}  // namespace kb::bundle
