// decodeProduct on arbitrary bytes. The only errors it may raise are the JSON
// library's own; anything else escapes and ends the run as a crash. A
// descriptor it accepts holds the six members exactly as the document does.

#include "app/product.h"
#include "fuzz/fuzz_check.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kb::Product product;
    try {
        product = kb::decodeProduct(text);
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    const nlohmann::json document = nlohmann::json::parse(text);
    KB_FUZZ_CHECK(document.at("id") == product.id);
    KB_FUZZ_CHECK(document.at("name") == product.name);
    KB_FUZZ_CHECK(document.at("version") == product.version);
    KB_FUZZ_CHECK(document.at("payloadRoot") == product.payloadRoot);
    KB_FUZZ_CHECK(document.at("payloadSHA256") == product.payloadSHA256);
    KB_FUZZ_CHECK(document.at("message") == product.message);
    return 0;
}
