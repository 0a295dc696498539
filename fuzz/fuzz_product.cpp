// decodeProduct on arbitrary bytes. The only errors it may raise are the JSON
// library's own; anything else escapes and ends the run as a crash. A
// descriptor it accepts holds the six members exactly as the document does;
// one it refuses is refused for the first member, in field order, that is
// missing, null or not a string.

#include "core/product.h"
#include "fuzz/fuzz_check.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using nlohmann::json;

const std::array<const char*, 6> members = {"id", "name", "version", "payloadRoot", "payloadSHA256", "message"};

// The error decoding must stop with, for a document that is not a descriptor.
void checkRefusal(const json& document, const json::exception& error)
{
    const std::string text = error.what();
    if (!document.is_object()) {
        KB_FUZZ_CHECK(error.id == 304);
        return;
    }
    for (const char* member : members) {
        const auto found = document.find(member);
        if (found == document.end()) {
            KB_FUZZ_CHECK(error.id == 403);
            KB_FUZZ_CHECK(text.find(std::string("key '") + member + "' not found") != std::string::npos);
            return;
        }
        if (!found->is_string()) {
            KB_FUZZ_CHECK(error.id == 302);
            KB_FUZZ_CHECK(text.find(std::string("(/") + member + ") type must be string") != std::string::npos);
            return;
        }
    }
    KB_FUZZ_FAIL("a descriptor with six strings was refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kb::Product product;
    try {
        product = kb::decodeProduct(text);
    } catch (const json::exception& error) {
        // Not JSON at all, or a number too large for the library: no
        // document to judge the refusal by.
        if (!json::accept(text)) return 0;
        checkRefusal(json::parse(text), error);
        return 0;
    }
    const json document = json::parse(text);
    for (const char* member : members) KB_FUZZ_CHECK(document.at(member).is_string());
    KB_FUZZ_CHECK(document.at("id") == product.id);
    KB_FUZZ_CHECK(document.at("name") == product.name);
    KB_FUZZ_CHECK(document.at("version") == product.version);
    KB_FUZZ_CHECK(document.at("payloadRoot") == product.payloadRoot);
    KB_FUZZ_CHECK(document.at("payloadSHA256") == product.payloadSHA256);
    KB_FUZZ_CHECK(document.at("message") == product.message);
    return 0;
}
