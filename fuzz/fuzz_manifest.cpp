// decodeManifest on arbitrary bytes: only the JSON library's errors may come
// out of it. Whenever the streaming decoder gives a manifest, decoding the
// whole document must give an equal one, and decodeManifest must agree with
// the document decoding in result or in the kind of error.

#include "fuzz/fuzz_check.h"
#include "payload/manifest.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace {

using nlohmann::json;

// The document decoding alone, or nothing when it rejects the text.
std::optional<kb::PayloadManifest> decodeDocument(std::string_view text, int& errorId)
{
    try {
        return json::parse(text).get<kb::PayloadManifest>();
    } catch (const json::exception& error) {
        errorId = error.id;
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::optional<kb::PayloadManifest> streamed = kb::decodeManifestStreaming(text);
    int documentError = 0;
    const std::optional<kb::PayloadManifest> document = decodeDocument(text, documentError);
    if (streamed) {
        KB_FUZZ_CHECK(document.has_value());
        KB_FUZZ_CHECK(*streamed == *document);
    }

    try {
        const kb::PayloadManifest decoded = kb::decodeManifest(text);
        KB_FUZZ_CHECK(document.has_value());
        KB_FUZZ_CHECK(decoded == *document);
    } catch (const json::exception& error) {
        KB_FUZZ_CHECK(!document.has_value());
        KB_FUZZ_CHECK(error.id == documentError);
    }
    return 0;
}
