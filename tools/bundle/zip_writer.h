#pragma once
// Writing payload.zip.

#include "payload/manifest.h"
#include "tools/bundle/options.h"
#include "tools/bundle/payload_tree.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kb::bundle {

// Writes `items` (from scanPayload of `root`) to a new ZIP archive at
// `archive`, each below one top folder named `rootName`: folders as folder
// members, files with their permission bits, links as links holding their
// target text. Every member gets the same time stamp and owner, so the same
// tree always gives the same bytes. Each file is read once, through `fm`,
// and its digest and size are returned, keyed by its relative path.
std::map<std::string, FileEntry> writePayloadZip(const std::filesystem::path& root, const std::string& rootName,
                                                 const std::vector<PayloadItem>& items,
                                                 const std::filesystem::path& archive, Compression compression);

}  // namespace kb::bundle
