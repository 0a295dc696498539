#pragma once
// The product descriptor, product.json in the bundle's resource folder.

#include <string>
#include <string_view>

namespace kb {

struct Product {
    std::string id;             // chooses the recipe: "huecraft" or "geoweave"
    std::string name;           // shown in dialog titles, names the backup folder
    std::string version;
    std::string payloadRoot;    // the top folder inside payload.zip
    std::string payloadSHA256;  // expected digest of payload.zip, lower-case hex
    std::string message;        // opens the confirmation dialog's text

    bool operator==(const Product&) const = default;
};

// The descriptor text the bundle tool writes: the six members in field
// order, indent 2, a line feed at the end. Texts that are not UTF-8 are
// refused with the JSON library's own error.
std::string encodeProduct(const Product& product);

// Decodes a descriptor. The members are read in field order; the first one
// that is missing, null or not a string stops decoding with the JSON
// library's own error. Other members are ignored; values are not trimmed.
Product decodeProduct(std::string_view json);

}  // namespace kb
