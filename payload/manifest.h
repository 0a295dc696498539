#pragma once
// The payload manifest, payload-manifest.json beside payload.zip in the
// bundle's resource folder: every regular file of the payload with its digest
// and size, every symbolic link with its target text.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kb {

// The expectation for one regular file.
struct FileEntry {
    std::string sha256;      // as written in the manifest; compared, never examined
    std::uint64_t size = 0;  // bytes

    bool operator==(const FileEntry&) const = default;
};

struct PayloadManifest {
    // Keys: paths relative to the payload root, exactly as written.
    std::map<std::string, FileEntry> files;
    std::map<std::string, std::string> symlinks;  // value: the link's target text

    bool operator==(const PayloadManifest&) const = default;
};

// Decoding with nlohmann-json. Every failure is one of the library's own
// exceptions (parse_error, type_error, out_of_range), naming the member path
// it is about. "files" is read before "symlinks", "sha256" before "size".
// Members with other names are ignored.
void from_json(const nlohmann::json& json, FileEntry& entry);
void from_json(const nlohmann::json& json, PayloadManifest& manifest);

// The manifest text the bundle tool writes: pretty-printed with an indent of
// 2, keys sorted, a line feed at the end. Texts that are not UTF-8 are
// refused with the JSON library's own error.
std::string encodeManifest(const PayloadManifest& manifest);

// Parses and decodes a whole manifest text.
PayloadManifest decodeManifest(std::string_view text);

// The first way decodeManifest tries: straight from the parser's events,
// without building a document. Gives nothing for any text that the document
// decoding must judge (every error, and a few harmless oddities such as a
// member name given twice); what it gives, the document decoding gives too.
std::optional<PayloadManifest> decodeManifestStreaming(std::string_view text);

// Reads the manifest file through `fm` and decodes it; the file's text is held
// until decoding ends, beside the result (and, when the streaming decoding
// gives up, beside the parsed document). Read errors are the file manager's
// (EFBIG for a manifest of more than 32 MiB).
PayloadManifest readManifest(const std::filesystem::path& path);

}  // namespace kb
