#include "products/huecraft_settings.h"

#include "core/install_error.h"
#include "fileops/file_helpers.h"
#include "platform/posix_file_manager.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace kb {
namespace {

using nlohmann::json;

const std::string unreadable =
    "Die vorhandenen Huecraft-Einstellungen sind unlesbar. Sie wurden nicht verändert. "
    "Bitte die JSON-Datei zuerst reparieren.";

const ManagedSettings managed{"/h/Runtime-1.2.0b2", "/h/Runtime-1.2.0b2/runtime/huecraft-engine", "/h/LUT"};

std::string refusal(const std::string& text)
{
    try {
        parseSettings(text);
    } catch (const InstallError& error) {
        return error.message();
    }
    return "accepted";
}

// What the installer writes for the given settings text.
std::string merged(const std::string& text)
{
    json settings = parseSettings(text);
    mergeSettings(settings, managed);
    return jsonData(settings);
}

TEST(HuecraftSettings, NewSettingsHoldTheThreePathsAndTheEightDefaults)
{
    EXPECT_EQ(merged("{}"),
              "{\n"
              "  \"ai_backend\": \"api\",\n"
              "  \"ai_provider\": \"vireo\",\n"
              "  \"engine_dir\": \"/h/Runtime-1.2.0b2\",\n"
              "  \"lut_dir\": \"/h/LUT\",\n"
              "  \"method\": \"banded\",\n"
              "  \"mode\": \"color\",\n"
              "  \"node_index\": 1,\n"
              "  \"python\": \"/h/Runtime-1.2.0b2/runtime/huecraft-engine\",\n"
              "  \"strength\": 0.65,\n"
              "  \"use_ai\": true,\n"
              "  \"use_vision\": true\n"
              "}");
    json settings = json::parse(merged("{}"));
    EXPECT_TRUE(settings["node_index"].is_number_integer());
    EXPECT_TRUE(settings["strength"].is_number_float());
}

TEST(HuecraftSettings, ManagedPathsAreRewrittenDefaultsOnlyFilledInAndOtherKeysKept)
{
    json settings = json::parse(merged(R"({"engine_dir": "/old", "python": null, "lut_dir": 7,
        "use_ai": false, "strength": 0.3, "node_index": null, "mode": ["x"], "method": {"k": 1},
        "theme": "dunkel", "recent": [1, "zwei", {"drei": 3.5}]})"));
    EXPECT_EQ(settings, json::parse(R"({"engine_dir": "/h/Runtime-1.2.0b2",
        "python": "/h/Runtime-1.2.0b2/runtime/huecraft-engine", "lut_dir": "/h/LUT",
        "use_ai": false, "strength": 0.3, "node_index": null, "mode": ["x"], "method": {"k": 1},
        "ai_backend": "api", "ai_provider": "vireo", "use_vision": true,
        "theme": "dunkel", "recent": [1, "zwei", {"drei": 3.5}]})"));
}

TEST(HuecraftSettings, EveryValueSurvivesTheRoundTripUnchanged)
{
    const std::string text = R"({"big": 9007199254740993, "negative": -4611686018427387904,
        "largest": 18446744073709551615, "smallest": -9223372036854775808, "zero": 0,
        "tenth": 0.1, "third": 0.3333333333333333, "tiny": 5e-324, "huge": 1.7976931348623157e308,
        "whole": 2.0, "minusZero": -0.0,
        "path": "/Volumes/Grading/LUTs", "escapedSlash": "a\/b", "umlauts": "Grün – Überblick ß €",
        "emoji": "\ud83c\udfa8", "control": "tab\tnewline\n\u0001 quote\" backslash\\",
        "nested": {"list": [[1, [2, [3]]], {"deep": {"deeper": null}}], "empty": {}, "none": []}})";
    const std::string out = merged(text);
    json back = json::parse(out);
    json original = json::parse(text);
    for (const auto& [key, value] : original.items()) {
        EXPECT_EQ(back.at(key), value) << key;
        EXPECT_EQ(back.at(key).type(), value.type()) << key;
    }
    EXPECT_TRUE(back["largest"].is_number_unsigned());
    EXPECT_EQ(back["largest"].get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_EQ(back["big"].get<std::int64_t>(), 9007199254740993);
    EXPECT_TRUE(std::signbit(back["minusZero"].get<double>()));
    EXPECT_NE(out.find("\"big\": 9007199254740993,"), std::string::npos);
    EXPECT_NE(out.find("\"negative\": -4611686018427387904,"), std::string::npos);
    EXPECT_NE(out.find("\"largest\": 18446744073709551615,"), std::string::npos);
    EXPECT_NE(out.find("\"whole\": 2.0,"), std::string::npos);
    EXPECT_NE(out.find("\"path\": \"/Volumes/Grading/LUTs\","), std::string::npos);
    EXPECT_NE(out.find("\"escapedSlash\": \"a/b\","), std::string::npos);
    EXPECT_NE(out.find("\"umlauts\": \"Grün – Überblick ß €\","), std::string::npos);
    EXPECT_NE(out.find("\"emoji\": \"🎨\","), std::string::npos);
    EXPECT_EQ(out.find('\\' + std::string("/")), std::string::npos);
}

TEST(HuecraftSettings, MergingTwiceWritesTheSameFileAsMergingOnce)
{
    const std::string once = merged(R"({"strength": 1e2, "node_index": 3, "x": [0.1, -7, "ä/ö"],
        "lut_dir": "~/LUT", "use_vision": null})");
    EXPECT_EQ(merged(once), once);
    EXPECT_EQ(merged(merged("{}")), merged("{}"));
}

TEST(HuecraftSettings, ADuplicateKeyKeepsItsLastValueAsTheScriptReadsIt)
{
    json settings = json::parse(merged(R"({"theme": "hell", "use_ai": true, "theme": "dunkel", "use_ai": false})"));
    EXPECT_EQ(settings["theme"], "dunkel");
    EXPECT_EQ(settings["use_ai"], false);
}

TEST(HuecraftSettings, TextThatIsNotOneJsonObjectIsUnreadable)
{
    for (const std::string text : {"", "   \n", "[]", "[{\"a\": 1}]", "\"text\"", "42", "null", "{", "{\"a\": 1,}",
                                   "{\"a\": 1} {}", "{\"a\": 1} x", "{'a': 1}", "{\"a\": 1 /* note */}",
                                   "{\"a\": NaN}", "{\"a\": \"\xff\xfe\"}", "{\"a\": \"\xc3\"}",
                                   "{\"a\": \"\\ud800\"}"}) {
        EXPECT_EQ(refusal(text), unreadable) << text;
    }
}

TEST(HuecraftSettings, NumbersThatCannotBeWrittenBackUnchangedAreRefused)
{
    // Beyond 64 bits the parser would hand back a rounded double, and a
    // double beyond its range has no value at all.
    EXPECT_EQ(refusal(R"({"a": 18446744073709551616})"), unreadable);
    EXPECT_EQ(refusal(R"({"a": -9223372036854775809})"), unreadable);
    EXPECT_EQ(refusal(R"({"a": [123456789012345678901234567890]})"), unreadable);
    EXPECT_EQ(refusal(R"({"a": 1e400})"), unreadable);
    EXPECT_EQ(refusal(R"({"a": 18446744073709551615, "b": -9223372036854775808, "c": 1e308})"), "accepted");
}

std::string nested(std::size_t depth)
{
    // An object holding `depth - 1` nested arrays: `depth` levels in all.
    return "{\"a\": " + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

TEST(HuecraftSettings, NestingDeeperThanTheWriterCanHandleIsRefusedNotCrashing)
{
    EXPECT_EQ(refusal(nested(512)), "accepted");
    EXPECT_EQ(refusal(nested(513)), unreadable);
    EXPECT_EQ(refusal(nested(200000)), unreadable);
    EXPECT_EQ(json::parse(merged(nested(512)))["a"], json::parse(nested(512))["a"]);
}

TEST(HuecraftSettings, ALargeFileIsKeptKeyForKey)
{
    json big = json::object();
    for (int i = 0; i < 20000; ++i) big["key-" + std::to_string(i)] = {i, std::string(100, 'x') + "/ü", i * 0.5};
    json settings = json::parse(merged(big.dump()));
    EXPECT_EQ(settings.size(), 20000u + 11u);
    for (const auto& [key, value] : big.items()) ASSERT_EQ(settings.at(key), value) << key;
}

class HuecraftSettingsFile : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager scope{real};
    test::TempDir dir;

    std::string readRefusal(const std::filesystem::path& file)
    {
        try {
            readSettings(file);
        } catch (const InstallError& error) {
            return error.message();
        }
        return "read";
    }
};

TEST_F(HuecraftSettingsFile, AMissingFileGivesAnEmptyObject)
{
    EXPECT_EQ(readSettings(dir / ".huecraft_vireo.json"), json::object());
}

TEST_F(HuecraftSettingsFile, ALinkIsReadThroughAndAnythingUnreadableIsRefused)
{
    test::writeFile(dir / "real.json", R"({"theme": "dunkel"})", 0600);
    test::makeLink("real.json", dir / "link.json");
    EXPECT_EQ(readSettings(dir / "link.json"), json::parse(R"({"theme": "dunkel"})"));

    std::filesystem::create_directory(dir / "folder.json");
    EXPECT_EQ(readRefusal(dir / "folder.json"), unreadable);
    test::makeLink("missing.json", dir / "dangling.json");
    EXPECT_EQ(readRefusal(dir / "dangling.json"), unreadable);
    test::writeFile(dir / "array.json", "[]");
    EXPECT_EQ(readRefusal(dir / "array.json"), unreadable);
}

}  // namespace
}  // namespace kb
