#pragma once
// Property lists read through libplist, for the installer, the launchctl
// stand-in and the vendor tool alike: given to libplist only within the
// limits of property_list_limits.h, and read with the two calls that every
// libplist version the build accepts spells alike (plist_from_memory gained
// an argument in 2.3).

#include <plist/plist.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kb {

struct PropertyListFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PropertyList = std::unique_ptr<std::remove_pointer_t<plist_t>, PropertyListFree>;

// The dictionary at the root of `bytes`, a binary list when they begin with
// "bplist00" and XML otherwise; null when they exceed the limits, cannot be
// read, or hold anything else at their root.
PropertyList readDictionary(std::string_view bytes);

// The text of a string value; nothing for a missing value or one of another type.
std::optional<std::string> stringValue(plist_t node);

// `root` written as an XML property list; nothing where libplist cannot.
std::optional<std::string> xmlText(plist_t root);

}  // namespace kb
