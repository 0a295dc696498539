#pragma once
// The product descriptor, product.json in the bundle's resource folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kb {

struct Product {
    std::string id;             // chooses the recipe (products/registry.cpp)
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

// Whether `name` can name the product's folder for backups: exactly one
// path component (not empty, not "." or "..", without "/" or NUL).
bool validProductName(std::string_view name);

// Decodes a descriptor. The members are read in field order; the first one
// that is missing, null or not a string stops decoding with the JSON
// library's own error. A name that validProductName refuses then fails with
// InstallError. Other members are ignored; values are not trimmed.
Product decodeProduct(std::string_view json);

// The most bytes a descriptor file may hold: it is a few short texts and
// one dialog message.
inline constexpr std::uint64_t maxProductBytes = std::uint64_t{1} << 20;

// Reads the descriptor file through `fm` and decodes it; read errors (EFBIG
// past maxProductBytes) are the file manager's.
Product readProduct(const std::filesystem::path& path);

}  // namespace kb
