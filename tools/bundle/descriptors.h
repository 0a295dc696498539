#pragma once
// The two JSON files that describe a payload to the installer.

#include "tools/bundle/options.h"
#include "tools/bundle/payload_tree.h"
#include "tools/bundle/zip_writer.h"

#include <map>
#include <string>
#include <vector>

namespace kb::bundle {

// payload-manifest.json: every file with "sha256" and "size" under "files",
// every link with its target text under "symlinks", keyed by path below the
// payload root. Pretty-printed with sorted keys.
std::string manifestJson(const std::vector<PayloadItem>& items, const std::map<std::string, FileFacts>& files);

// product.json: "id", "name", "version", "payloadRoot", "payloadSHA256" and
// "message", in this order.
std::string productJson(const BundleOptions& options, const std::string& payloadRoot, const std::string& payloadSha256);

}  // namespace kb::bundle
