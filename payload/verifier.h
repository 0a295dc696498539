#pragma once

#include "app/product.h"

#include <filesystem>

namespace kb {

// Proves the bundle's payload intact and complete before anything is
// installed: the archive's digest, then every unpacked file and link against
// the manifest. Unpacks into `unpackFolder` (created private) and returns the
// payload root inside it.
std::filesystem::path verifyPayload(const Product& product, const std::filesystem::path& unpackFolder);

}  // namespace kb
