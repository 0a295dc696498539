// The colour script's settings file through parseSettings and mergeSettings,
// the way the recipe uses them. For every text that parses as settings:
//  - the three managed keys hold the installer's values,
//  - every other key keeps its value, and a default is added only where
//    its key is absent,
//  - merging twice writes the same file as merging once,
//  - the written file reads back as the same settings, and a second
//    installation over it writes it unchanged.
// parseSettings may refuse a text only with its one message.

#include "core/install_error.h"
#include "fileops/file_helpers.h"
#include "fuzz/fuzz_check.h"
#include "products/huecraft_settings.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace {

using nlohmann::json;

const std::string unreadable =
    "Die vorhandenen Huecraft-Einstellungen sind unlesbar. Sie wurden nicht verändert. "
    "Bitte die JSON-Datei zuerst reparieren.";

const std::filesystem::path home = "/home/fuzz";
const std::filesystem::path applicationSupport = home / "Library" / "Application Support";
const std::filesystem::path runtime = applicationSupport / "Huecraft" / "Runtime-1.2.0b2";

const std::pair<const char*, json> defaults[] = {
    {"use_ai", true},
    {"ai_backend", "api"},
    {"ai_provider", "vireo"},
    {"use_vision", true},
    {"node_index", 1},
    {"strength", 0.65},
    {"method", "banded"},
    {"mode", "color"},
};

std::optional<json> parse(std::string_view text)
{
    try {
        return kb::parseSettings(text);
    } catch (const kb::InstallError& error) {
        KB_FUZZ_CHECK(error.message() == unreadable);
        return std::nullopt;
    }
}

// The LUT folder as the recipe chooses it; nothing when the recipe would
// stop before merging (a configured folder that is not absolute).
std::optional<std::string> lutFolder(const json& settings)
{
    const auto configured = settings.find("lut_dir");
    if (configured != settings.end() && configured->is_string() && !configured->get<std::string>().empty()) {
        const std::string expanded = kb::expand(configured->get<std::string>(), home);
        if (!expanded.starts_with('/') || expanded.find('\0') != std::string::npos) return std::nullopt;
        return expanded;
    }
    return (applicationSupport / "Huecraft" / "LUT").string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<json> original = parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!original) return 0;
    KB_FUZZ_CHECK(original->is_object());
    const std::optional<std::string> lut = lutFolder(*original);
    if (!lut) return 0;
    const kb::ManagedSettings managed{runtime.string(), (runtime / "runtime" / "huecraft-engine").string(), *lut};

    json merged = *original;
    kb::mergeSettings(merged, managed);
    const std::string file = kb::jsonData(merged);

    KB_FUZZ_CHECK(merged.at("engine_dir") == managed.engineDir);
    KB_FUZZ_CHECK(merged.at("python") == managed.python);
    KB_FUZZ_CHECK(merged.at("lut_dir") == managed.lutDir);

    std::set<std::string> expectedKeys = {"engine_dir", "python", "lut_dir"};
    for (const auto& [key, value] : defaults) {
        expectedKeys.insert(key);
        const json& expected = original->contains(key) ? original->at(key) : value;
        KB_FUZZ_CHECK(merged.at(key).dump() == expected.dump());
    }
    for (const auto& [key, value] : original->items()) {
        expectedKeys.insert(key);
        if (key == "engine_dir" || key == "python" || key == "lut_dir") continue;
        KB_FUZZ_CHECK(merged.at(key) == value);
        KB_FUZZ_CHECK(merged.at(key).type() == value.type());
    }
    KB_FUZZ_CHECK(merged.size() == expectedKeys.size());

    json twice = merged;
    kb::mergeSettings(twice, managed);
    KB_FUZZ_CHECK(kb::jsonData(twice) == file);

    // The next installation reads what this one wrote.
    std::optional<json> reread = parse(file);
    KB_FUZZ_CHECK(reread.has_value());
    KB_FUZZ_CHECK(*reread == merged);
    kb::mergeSettings(*reread, managed);
    KB_FUZZ_CHECK(kb::jsonData(*reread) == file);
    return 0;
}
