#pragma once
// The product's own name and bundle identifier in its Info.plist, so that
// macOS tells the products apart rather than taking them all for one
// "Installer".

#include <filesystem>
#include <string>
#include <string_view>

namespace kb::bundle {

// Whether `identifier` is a bundle identifier: parts of ASCII letters,
// digits and "-", joined by single dots, none of them empty.
bool validBundleIdentifier(std::string_view identifier);

// The identifier of a product whose vendor chose none:
// de.kestrelbay.installer.<product id>, with every character of the id
// that an identifier cannot hold written as "-".
std::string defaultBundleIdentifier(std::string_view productId);

// Sets CFBundleName and CFBundleDisplayName to `name` and
// CFBundleIdentifier to `identifier` in the property list `file` (XML or
// binary), keeps every other key, and writes it back as XML.
void nameBundle(const std::filesystem::path& file, const std::string& name, const std::string& identifier);

}  // namespace kb::bundle
