#include "payload/manifest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kb {
namespace {

const std::string digest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// The library's message for a text that does not decode, or "decoded".
std::string decodingError(const std::string& text)
{
    try {
        decodeManifest(text);
    } catch (const nlohmann::json::exception& error) {
        return error.what();
    }
    return "decoded";
}

std::string withSize(const std::string& size)
{
    return R"({"files":{"a.txt":{"sha256":"x","size":)" + size + R"(}},"symlinks":{}})";
}

TEST(Manifest, DecodesFilesAndLinksAsWritten)
{
    PayloadManifest manifest = decodeManifest(R"({
      "files": {
        "Contents/Info.plist": {"sha256": ")" + digest + R"(", "size": 0},
        "big": {"sha256": "  NOT A DIGEST ", "size": 18446744073709551615}
      },
      "symlinks": {"Contents/Current": "../A", "abs": "/etc"}
    })");
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files.at("Contents/Info.plist"), (FileEntry{digest, 0}));
    // The digest's content is not examined while decoding.
    EXPECT_EQ(manifest.files.at("big"), (FileEntry{"  NOT A DIGEST ", 18446744073709551615ull}));
    EXPECT_EQ(manifest.symlinks, (std::map<std::string, std::string>{{"Contents/Current", "../A"}, {"abs", "/etc"}}));
}

TEST(Manifest, EmptyManifestIsValid)
{
    EXPECT_EQ(decodeManifest(R"({"files":{},"symlinks":{}})"), PayloadManifest{});
}

TEST(Manifest, UnknownMembersAreIgnoredAtEveryLevel)
{
    PayloadManifest manifest = decodeManifest(R"({"version":2,"files":{"a":{"sha256":"d","size":3,"mode":"0644",
      "SHA256":null}},"symlinks":{},"extra":[1,{}]})");
    EXPECT_EQ(manifest.files.at("a"), (FileEntry{"d", 3}));
    EXPECT_TRUE(manifest.symlinks.empty());
}

TEST(Manifest, KeysAreTakenAsWrittenEvenWhenNeverMatchable)
{
    PayloadManifest manifest =
        decodeManifest(R"({"files":{"./a":{"sha256":"d","size":1},"b//c":{"sha256":"d","size":1}},"symlinks":{}})");
    EXPECT_EQ(manifest.files.count("./a"), 1u);
    EXPECT_EQ(manifest.files.count("b//c"), 1u);
}

TEST(Manifest, AbsentOrNullTopLevelMembersAreRejected)
{
    EXPECT_EQ(decodingError(R"({"symlinks":{}})"), "[json.exception.out_of_range.403] key 'files' not found");
    EXPECT_EQ(decodingError(R"({"files":{}})"), "[json.exception.out_of_range.403] key 'symlinks' not found");
    EXPECT_EQ(decodingError(R"({"files":null,"symlinks":{}})"),
              "[json.exception.type_error.302] (/files) type must be object, but is null");
    EXPECT_EQ(decodingError(R"({"files":{},"symlinks":null})"),
              "[json.exception.type_error.302] (/symlinks) type must be object, but is null");
    // "files" is read first.
    EXPECT_EQ(decodingError("{}"), "[json.exception.out_of_range.403] key 'files' not found");
}

TEST(Manifest, WrongShapesAreRejected)
{
    EXPECT_EQ(decodingError("[]"), "[json.exception.type_error.304] cannot use at() with array");
    EXPECT_EQ(decodingError(R"({"files":[],"symlinks":{}})"),
              "[json.exception.type_error.302] (/files) type must be object, but is array");
    EXPECT_EQ(decodingError(R"({"files":{"a":"d"},"symlinks":{}})"),
              "[json.exception.type_error.304] (/files/a) cannot use at() with string");
    EXPECT_EQ(decodingError(R"({"files":{},"symlinks":{"l":1}})"),
              "[json.exception.type_error.302] (/symlinks/l) type must be string, but is number");
    EXPECT_EQ(decodingError(R"({"files":{},"symlinks":{"l":null}})"),
              "[json.exception.type_error.302] (/symlinks/l) type must be string, but is null");
    EXPECT_EQ(decodingError(R"({"files":{},"symlinks":["l"]})"),
              "[json.exception.type_error.302] (/symlinks) type must be object, but is array");
}

TEST(Manifest, FileObjectMembersAreRequired)
{
    EXPECT_EQ(decodingError(R"({"files":{"a/b":{"size":1}},"symlinks":{}})"),
              "[json.exception.out_of_range.403] (/files/a~1b) key 'sha256' not found");
    EXPECT_EQ(decodingError(R"({"files":{"a":{"sha256":"d"}},"symlinks":{}})"),
              "[json.exception.out_of_range.403] (/files/a) key 'size' not found");
    EXPECT_EQ(decodingError(R"({"files":{"a":{"sha256":null,"size":1}},"symlinks":{}})"),
              "[json.exception.type_error.302] (/files/a/sha256) type must be string, but is null");
    EXPECT_EQ(decodingError(R"({"files":{"a":{"sha256":5,"size":1}},"symlinks":{}})"),
              "[json.exception.type_error.302] (/files/a/sha256) type must be string, but is number");
    // "sha256" is read before "size".
    EXPECT_EQ(decodingError(R"({"files":{"a":{}},"symlinks":{}})"),
              "[json.exception.out_of_range.403] (/files/a) key 'sha256' not found");
}

TEST(Manifest, UpperCaseDigestKeyMeansTheDigestIsMissing)
{
    EXPECT_EQ(decodingError(R"({"files":{"a":{"SHA256":")" + digest + R"(","size":0}},"symlinks":{}})"),
              "[json.exception.out_of_range.403] (/files/a) key 'sha256' not found");
}

TEST(Manifest, SizeZeroAndTheLargestSizeAreAccepted)
{
    EXPECT_EQ(decodeManifest(withSize("0")).files.at("a.txt").size, 0u);
    EXPECT_EQ(decodeManifest(withSize("18446744073709551615")).files.at("a.txt").size, 18446744073709551615ull);
    // Whole numbers written with a fraction or an exponent are still whole.
    EXPECT_EQ(decodeManifest(withSize("12.0")).files.at("a.txt").size, 12u);
    EXPECT_EQ(decodeManifest(withSize("1e3")).files.at("a.txt").size, 1000u);
    EXPECT_EQ(decodeManifest(withSize("-0")).files.at("a.txt").size, 0u);
}

TEST(Manifest, SizeThatIsNotANumberIsRejected)
{
    EXPECT_EQ(decodingError(withSize(R"("12")")),
              "[json.exception.type_error.302] (/files/a.txt/size) type must be number, but is string");
    EXPECT_EQ(decodingError(withSize("null")),
              "[json.exception.type_error.302] (/files/a.txt/size) type must be number, but is null");
    EXPECT_EQ(decodingError(withSize("true")),
              "[json.exception.type_error.302] (/files/a.txt/size) type must be number, but is boolean");
    EXPECT_EQ(decodingError(withSize("[1]")),
              "[json.exception.type_error.302] (/files/a.txt/size) type must be number, but is array");
}

TEST(Manifest, NegativeFractionalAndTooLargeSizesAreRejected)
{
    const std::string range = "size must be a whole number from 0 to 18446744073709551615, but is ";
    EXPECT_EQ(decodingError(withSize("-1")), "[json.exception.out_of_range.406] (/files/a.txt/size) " + range + "-1");
    EXPECT_EQ(decodingError(withSize("-9223372036854775808")),
              "[json.exception.out_of_range.406] (/files/a.txt/size) " + range + "-9223372036854775808");
    EXPECT_EQ(decodingError(withSize("1.5")), "[json.exception.type_error.302] (/files/a.txt/size) " + range + "1.5");
    EXPECT_EQ(decodingError(withSize("-2.5")), "[json.exception.type_error.302] (/files/a.txt/size) " + range + "-2.5");
    EXPECT_EQ(decodingError(withSize("-3.0")), "[json.exception.out_of_range.406] (/files/a.txt/size) " + range + "-3.0");
    // One beyond UINT64_MAX: the parser stores it as a floating-point number.
    EXPECT_EQ(decodingError(withSize("18446744073709551616")),
              "[json.exception.out_of_range.406] (/files/a.txt/size) " + range + "1.8446744073709552e+19");
    EXPECT_EQ(decodingError(withSize("1e400")).rfind("[json.exception.", 0), 0u);
    EXPECT_NE(decodingError(withSize("99999999999999999999999")).find("out_of_range.406"), std::string::npos);
}

TEST(Manifest, TextThatIsNotJsonIsAParseError)
{
    EXPECT_NE(decodingError(R"({"files":{)").find("[json.exception.parse_error.101]"), std::string::npos);
    EXPECT_NE(decodingError("").find("[json.exception.parse_error.101]"), std::string::npos);
}

// The outcome of the reference decoding: the document, then from_json.
std::string documentOutcome(const std::string& text, PayloadManifest& result)
{
    try {
        result = nlohmann::json::parse(text).get<PayloadManifest>();
    } catch (const nlohmann::json::exception& error) {
        return error.what();
    }
    return "decoded";
}

std::string decodeOutcome(const std::string& text, PayloadManifest& result)
{
    try {
        result = decodeManifest(text);
    } catch (const nlohmann::json::exception& error) {
        return error.what();
    }
    return "decoded";
}

// Random manifest-like texts, built as text so that duplicate names, wrong
// types and stray members all occur.
class TextMaker {
public:
    explicit TextMaker(unsigned seed) : random_(seed) {}

    std::string manifest()
    {
        if (chance(3)) return anyValue(2);
        std::vector<std::string> members;
        if (!chance(12)) members.push_back(R"("files":)" + (chance(10) ? anyValue(2) : files()));
        if (!chance(12)) members.push_back(R"("symlinks":)" + (chance(10) ? anyValue(2) : symlinks()));
        for (int i = pick(3); i > 0; --i) members.push_back(name() + ":" + anyValue(3));
        if (chance(25)) members.push_back(R"("files":)" + files());
        if (chance(25)) members.push_back(R"("symlinks":)" + symlinks());
        return object(members) + (chance(40) ? " x" : "");
    }

private:
    std::string files()
    {
        std::vector<std::string> members;
        for (int i = pick(5); i > 0; --i) members.push_back(path() + ":" + (chance(12) ? anyValue(2) : file()));
        return object(members);
    }

    std::string file()
    {
        std::vector<std::string> members;
        if (!chance(10)) members.push_back(R"("sha256":)" + (chance(8) ? anyValue(1) : R"("d")"));
        if (!chance(10)) members.push_back(R"("size":)" + size());
        if (chance(4)) members.push_back(name() + ":" + anyValue(2));
        if (chance(15)) members.push_back(R"("sha256":"e")");
        if (chance(15)) members.push_back(R"("size":7)");
        if (chance(15)) members.push_back(R"("SHA256":"f")");
        return object(members);
    }

    std::string symlinks()
    {
        std::vector<std::string> members;
        for (int i = pick(4); i > 0; --i) members.push_back(path() + ":" + (chance(8) ? anyValue(1) : R"("../t")"));
        return object(members);
    }

    std::string size()
    {
        static const std::vector<std::string> sizes = {"0", "1", "-0", "-1", "1.5", "12.0", "-0.0", "-3.0", "1e3",
            "1E-2", "18446744073709551615", "18446744073709551616", "1e400", "9223372036854775807",
            "-9223372036854775808", "99999999999999999999", "true", "null", "\"12\"", "[1]", "{}"};
        return sizes[random_() % sizes.size()];
    }

    std::string path()
    {
        static const std::vector<std::string> paths = {R"("a")", R"("b/c")", R"("a")", R"("\u00e9")",
            R"("e\u0301")", R"("./a")", R"("")", R"("a~b")"};
        return paths[random_() % paths.size()];
    }

    std::string name()
    {
        static const std::vector<std::string> names = {R"("x")", R"("files ")", R"("Files")", R"("size")",
            R"("sha256")", R"("symlinks")"};
        return names[random_() % names.size()];
    }

    std::string anyValue(int depth)
    {
        switch (pick(depth > 0 ? 9 : 6)) {
        case 0: return "null";
        case 1: return "true";
        case 2: return "-4.5";
        case 3: return "17";
        case 4: return R"("s")";
        case 5: return size();
        case 6: return "[" + anyValue(depth - 1) + "," + anyValue(depth - 1) + "]";
        case 7: return object({name() + ":" + anyValue(depth - 1)});
        default: return "{}";
        }
    }

    std::string object(const std::vector<std::string>& members)
    {
        std::string text = "{";
        for (std::size_t i = 0; i < members.size(); ++i) text += (i ? "," : "") + members[i];
        text += chance(60) ? "," : "";  // now and then a trailing comma: a parse error
        return text + "}";
    }

    bool chance(int oneIn) { return random_() % static_cast<unsigned>(oneIn) == 0; }
    int pick(int below) { return static_cast<int>(random_() % static_cast<unsigned>(below)); }

    std::mt19937 random_;
};

TEST(Manifest, StreamingDecodingAgreesWithTheDocumentDecoding)
{
    TextMaker maker(20261206);
    std::size_t decoded = 0;
    std::size_t streamed = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string text = maker.manifest();
        PayloadManifest expected;
        PayloadManifest actual;
        const std::string reference = documentOutcome(text, expected);
        ASSERT_EQ(decodeOutcome(text, actual), reference) << text;
        std::optional<PayloadManifest> fast = decodeManifestStreaming(text);
        if (reference == "decoded") {
            ASSERT_EQ(actual, expected) << text;
            ++decoded;
            if (fast) ++streamed;
        }
        if (fast) {
            ASSERT_EQ(*fast, expected) << text;
        }
    }
    // Both outcomes are well represented, and most texts that decode take
    // the streaming way.
    RecordProperty("decoded", static_cast<int>(decoded));
    RecordProperty("streamed", static_cast<int>(streamed));
    EXPECT_GT(decoded, 2000u);
    EXPECT_LT(decoded, 27000u);
    EXPECT_GT(streamed, decoded / 2);
}

TEST(Manifest, PlainManifestsTakeTheStreamingWay)
{
    const std::string text = R"({"files":{"a":{"sha256":"d","size":1,"mode":[1,{"x":null}]},"b/c":{"size":2.0,"sha256":"e"}},
      "comment":{"files":[]},"symlinks":{"l":"a"}})";
    const std::optional<PayloadManifest> manifest = decodeManifestStreaming(text);
    ASSERT_TRUE(manifest);
    EXPECT_EQ(*manifest, nlohmann::json::parse(text).get<PayloadManifest>());
    EXPECT_EQ(manifest->files.at("b/c"), (FileEntry{"e", 2}));
    // A member given twice is left to the document decoding (the later wins there).
    EXPECT_FALSE(decodeManifestStreaming(R"({"files":{"a":{"sha256":"d","size":1,"size":2}},"symlinks":{}})"));
    EXPECT_EQ(decodeManifest(R"({"files":{"a":{"sha256":"d","size":1,"size":2}},"symlinks":{}})").files.at("a").size, 2u);
}

}  // namespace
}  // namespace kb
