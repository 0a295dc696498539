#include "core/product.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "platform/file_manager.h"

#include <nlohmann/json.hpp>

namespace kb {

std::string encodeProduct(const Product& product)
{
    nlohmann::ordered_json json;
    json["id"] = product.id;
    json["name"] = product.name;
    json["version"] = product.version;
    json["payloadRoot"] = product.payloadRoot;
    json["payloadSHA256"] = product.payloadSHA256;
    json["message"] = product.message;
    return json.dump(2) + "\n";
}

Product decodeProduct(std::string_view text)
{
    const nlohmann::json json = nlohmann::json::parse(text);
    auto member = [&json](const char* key) { return json.at(key).get<std::string>(); };
    Product product;
    product.id = member("id");
    product.name = member("name");
    product.version = member("version");
    product.payloadRoot = member("payloadRoot");
    product.payloadSHA256 = member("payloadSHA256");
    product.message = member("message");
    if (!validProductName(product.name)) throw InstallError(messages::invalidProductName);
    return product;
}

bool validProductName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == name.npos
           && name.find('\0') == name.npos;
}

Product readProduct(const std::filesystem::path& path)
{
    return decodeProduct(readFile(path, maxProductBytes));
}

}  // namespace kb
