#include "core/install_error.h"
#include "core/product.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kb {
namespace {

const char* complete = R"({"id":"huecraft","name":"Huecraft","version":"1.2","payloadRoot":"Payload",
  "payloadSHA256":"ab","message":"Hallo"})";

std::string decodingError(const std::string& text)
{
    try {
        decodeProduct(text);
    } catch (const nlohmann::json::exception& error) {
        return error.what();
    }
    return "decoded";
}

TEST(Product, DecodesAllSixMembersAsTheyAreAndIgnoresOthers)
{
    nlohmann::json json = nlohmann::json::parse(complete);
    json["extra"] = {1, 2};
    json["id"] = " Huecraft ";
    json["version"] = "";
    Product product = decodeProduct(json.dump());
    EXPECT_EQ(product.id, " Huecraft ");
    EXPECT_EQ(product.name, "Huecraft");
    EXPECT_EQ(product.version, "");
    EXPECT_EQ(product.payloadRoot, "Payload");
    EXPECT_EQ(product.payloadSHA256, "ab");
    EXPECT_EQ(product.message, "Hallo");
}

TEST(Product, TheFirstBadMemberInFieldOrderDecidesTheLibraryError)
{
    EXPECT_EQ(decodingError("{}"), "[json.exception.out_of_range.403] key 'id' not found");
    nlohmann::json json = nlohmann::json::parse(complete);
    json["version"] = 3;
    json.erase("message");
    EXPECT_EQ(decodingError(json.dump()), "[json.exception.type_error.302] (/version) type must be string, but is number");
    json["version"] = nullptr;
    EXPECT_EQ(decodingError(json.dump()), "[json.exception.type_error.302] (/version) type must be string, but is null");
    json["version"] = "1";
    EXPECT_EQ(decodingError(json.dump()), "[json.exception.out_of_range.403] key 'message' not found");
    EXPECT_EQ(decodingError("[1]"), "[json.exception.type_error.304] cannot use at() with array");
    EXPECT_NE(decodingError("{\"id\":").find("parse_error"), std::string::npos);
}

TEST(InstallError, DescriptionIsExactlyTheMessage)
{
    InstallError error("Paketinhalt fehlt.");
    EXPECT_STREQ(error.what(), "Paketinhalt fehlt.");
    EXPECT_EQ(error.message(), "Paketinhalt fehlt.");
}

}  // namespace
}  // namespace kb
