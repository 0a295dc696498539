#include "tools/bundle/descriptors.h"

#include <nlohmann/json.hpp>

namespace kb::bundle {

std::string manifestJson(const std::vector<PayloadItem>& items, const std::map<std::string, FileFacts>& files)
{
    nlohmann::json manifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
    for (const auto& [relative, facts] : files) {
        manifest["files"][relative] = {{"sha256", facts.sha256}, {"size", facts.size}};
    }
    for (const PayloadItem& item : items) {
        if (item.kind == PayloadItem::Kind::link) manifest["symlinks"][item.relative] = item.linkTarget;
    }
    return manifest.dump(2) + "\n";
}

std::string productJson(const BundleOptions& options, const std::string& payloadRoot, const std::string& payloadSha256)
{
    nlohmann::ordered_json product;
    product["id"] = options.id;
    product["name"] = options.name;
    product["version"] = options.version;
    product["payloadRoot"] = payloadRoot;
    product["payloadSHA256"] = payloadSha256;
    product["message"] = options.message;
    return product.dump(2) + "\n";
}

}  // namespace kb::bundle
