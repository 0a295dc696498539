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
    // Either form is read, within the limits the readers are safe in.
    std::optional<PropertyList> list = PropertyList::read(readFile(file, maxPropertyListBytes));
    if (!list) throw std::runtime_error("\"" + file.native() + "\" is not a property list holding a dictionary");
    list->setText("CFBundleName", name);
    list->setText("CFBundleDisplayName", name);
    list->setText("CFBundleIdentifier", identifier);
    writeText(file, list->xml());
}

}  // namespace kb::bundle
