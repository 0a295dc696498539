// The shared file helpers on real files, through the real file manager.

#include "fileops/file_helpers.h"
#include "platform/posix_file_manager.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <ctime>
#include <regex>
#include <set>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class FileHelpers : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager useReal{real};
    TempDir dir;
};

TEST_F(FileHelpers, ExistsDoesNotFollowAFinalLink)
{
    writeFile(dir / "file", "");
    fs::create_directories(dir / "folder");
    makeLink("missing-target", dir / "dangling");
    makeLink("dangling", dir / "link-to-dangling");
    EXPECT_TRUE(kb::exists(dir / "file"));
    EXPECT_TRUE(kb::exists(dir / "folder"));
    EXPECT_TRUE(kb::exists(dir / "dangling"));
    EXPECT_TRUE(kb::exists(dir / "link-to-dangling"));
    EXPECT_FALSE(kb::exists(dir / "missing-target"));
    EXPECT_FALSE(kb::exists(dir / "no-parent" / "item"));
    EXPECT_FALSE(kb::exists(dir / "file" / "below-a-file"));
    EXPECT_FALSE(kb::exists(dir / "dangling" / "below"));
}

TEST_F(FileHelpers, ExistsIsFalseInsideAFolderThatCannotBeSearched)
{
    writeFile(dir / "closed" / "inside", "");
    makeLink("nowhere", dir / "open" / "dangling");
    ::chmod((dir / "closed").c_str(), 0700);
    ::chmod(dir.path().c_str(), 0711);
    giveToNobody(dir / "open", dir.path());

    const fs::path probe = testProgram("fm_probe");
    EXPECT_EQ(runUnprivileged(probe, {"exists", (dir / "closed" / "inside").native()}).out, "false\n");
    EXPECT_EQ(runUnprivileged(probe, {"exists", (dir / "closed").native()}).out, "true\n");
    EXPECT_EQ(runUnprivileged(probe, {"exists", (dir / "open" / "dangling").native()}).out, "true\n");
    EXPECT_EQ(runUnprivileged(probe, {"exists", (dir / "open" / "missing").native()}).out, "false\n");
}

TEST_F(FileHelpers, MakeDirCreatesParentsAndMakesTheFolderItselfPrivate)
{
    const mode_t previous = ::umask(022);
    makeDir(dir / "a" / "b" / "c", true);
    ::umask(previous);
    EXPECT_EQ(modeOf(dir / "a" / "b" / "c"), 0700u);
    EXPECT_EQ(modeOf(dir / "a" / "b"), 0755u);
    EXPECT_EQ(modeOf(dir / "a"), 0755u);

    fs::create_directories(dir / "existing" / "content");
    writeFile(dir / "existing" / "file", "bleibt");
    ::chmod((dir / "existing").c_str(), 0755);
    makeDir(dir / "existing", true);
    EXPECT_EQ(modeOf(dir / "existing"), 0700u);
    EXPECT_EQ(readText(dir / "existing" / "file"), "bleibt");

    ::chmod((dir / "existing").c_str(), 0751);
    makeDir(dir / "existing", false);
    EXPECT_EQ(modeOf(dir / "existing"), 0751u);
}

TEST_F(FileHelpers, MakeDirThrowsWhenAFileIsInTheWay)
{
    writeFile(dir / "file", "daten", 0644);
    try {
        makeDir(dir / "file", true);
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::not_a_directory);
        EXPECT_STREQ(error.what(), ("cannot create folder \"" + (dir / "file").native() + "\": Not a directory").c_str());
    }
    EXPECT_THROW(makeDir(dir / "file" / "below", true), std::system_error);
    EXPECT_EQ(readText(dir / "file"), "daten");
    EXPECT_EQ(modeOf(dir / "file"), 0644u);
}

TEST_F(FileHelpers, WriteTempReplacesTheFileGivesItTheModeAndReturnsTheLocation)
{
    writeFile(dir / "new-config.json", "alter, längerer Inhalt", 0644);
    EXPECT_EQ(writeTemp("{}\n", dir / "new-config.json"), dir / "new-config.json");
    EXPECT_EQ(readText(dir / "new-config.json"), "{}\n");
    EXPECT_EQ(modeOf(dir / "new-config.json"), 0600u);

    EXPECT_EQ(writeTemp("<plist/>", dir / "new-agent.plist", 0644), dir / "new-agent.plist");
    EXPECT_EQ(readText(dir / "new-agent.plist"), "<plist/>");
    EXPECT_EQ(modeOf(dir / "new-agent.plist"), 0644u);

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"new-agent.plist", "new-config.json"}));
}

TEST_F(FileHelpers, WriteTempIntoAMissingFolderThrowsAndCreatesNothing)
{
    EXPECT_THROW(writeTemp("x", dir / "missing" / "file"), std::system_error);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(FileHelpers, WriteTempWhoseModeCannotBeSetThrowsAndKeepsTheWrittenFile)
{
    FaultInjectingFileManager faulty(real);
    ScopedFileManager useFaulty(faulty);
    faulty.failWhen([](const Operation& operation) { return operation.name == "setPermissions"; }, EPERM);
    try {
        writeTemp("neu", dir / "file", 0644);
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::operation_not_permitted);
    }
    EXPECT_EQ(readText(dir / "file"), "neu");
}

TEST_F(FileHelpers, JsonDataSortsKeysAndKeepsSlashesAndUmlauts)
{
    nlohmann::json value = {{"b", 1}, {"a", "Library/Application Support/Grüße"}, {"flag", true},
                            {"list", {"x/y", "z"}}, {"B", nullptr}};
    EXPECT_EQ(jsonData(value),
              "{\n"
              "  \"B\": null,\n"
              "  \"a\": \"Library/Application Support/Grüße\",\n"
              "  \"b\": 1,\n"
              "  \"flag\": true,\n"
              "  \"list\": [\n"
              "    \"x/y\",\n"
              "    \"z\"\n"
              "  ]\n"
              "}");
    EXPECT_EQ(jsonData(nlohmann::json::object()), "{}");
    EXPECT_EQ(jsonData({{"nested", {{"z", 1}, {"y", {{"d", "\"quoted\"\n"}}}}}}),
              "{\n  \"nested\": {\n    \"y\": {\n      \"d\": \"\\\"quoted\\\"\\n\"\n    },\n    \"z\": 1\n  }\n}");
}

std::string jsonDataError(const std::string& text)
{
    try {
        jsonData({{"path", text}});
    } catch (const nlohmann::json::type_error& error) {
        EXPECT_EQ(error.id, 316);
        return error.what();
    }
    return "written";
}

TEST_F(FileHelpers, JsonDataOfInvalidUtf8ThrowsTheLibraryError)
{
    EXPECT_EQ(jsonDataError("a\xff/b"), "[json.exception.type_error.316] invalid UTF-8 byte at index 1: 0xFF");
    EXPECT_EQ(jsonDataError("caf\xe9"), "[json.exception.type_error.316] incomplete UTF-8 string; last byte: 0xE9");
    EXPECT_EQ(jsonDataError("caf\xc3\xa9"), "written");
}

TEST_F(FileHelpers, ExpandTakesOnlyTildeAndTildeSlashRelativeToTheHome)
{
    const fs::path home = "/Users/test home";
    EXPECT_EQ(expand("~", home), "/Users/test home");
    EXPECT_EQ(expand("~/", home), "/Users/test home");
    EXPECT_EQ(expand("~/LUTs", home), "/Users/test home/LUTs");
    EXPECT_EQ(expand("~/Library/OFX/Plugins", home), "/Users/test home/Library/OFX/Plugins");
    EXPECT_EQ(expand("~other/LUTs", home), "~other/LUTs");
    EXPECT_EQ(expand("~other", home), "~other");
    EXPECT_EQ(expand("LUTs/~/x", home), "LUTs/~/x");
    EXPECT_EQ(expand("relative/path", home), "relative/path");
    EXPECT_EQ(expand("/absolute/~", home), "/absolute/~");
    EXPECT_EQ(expand("", home), "");
    EXPECT_EQ(expand(" ~/x", home), " ~/x");
}

TEST_F(FileHelpers, WritableAncestorJudgesTheNearestExistingItem)
{
    fs::create_directories(dir / "open");
    fs::create_directories(dir / "locked");
    writeFile(dir / "open-file", "");
    ::chmod((dir / "locked").c_str(), 0555);
    ::chmod((dir / "open").c_str(), 0755);
    giveToNobody(dir / "open", dir.path());
    giveToNobody(dir / "locked", dir.path());
    giveToNobody(dir / "open-file", dir.path());

    const fs::path probe = testProgram("fm_probe");
    auto asNobody = [&](const fs::path& path) { return runUnprivileged(probe, {"writable-ancestor", path.native()}).out; };
    EXPECT_EQ(asNobody(dir / "open" / "a" / "b" / "c"), "true\n");
    EXPECT_EQ(asNobody(dir / "open"), "true\n");
    EXPECT_EQ(asNobody(dir / "open-file"), "true\n");
    EXPECT_EQ(asNobody(dir / "locked" / "a" / "b" / "c"), "false\n");
    EXPECT_EQ(asNobody(dir / "locked"), "false\n");
    EXPECT_EQ(asNobody(dir.path() / "missing"), "false\n");  // the test folder belongs to root
    EXPECT_EQ(asNobody("/"), "false\n");
    EXPECT_EQ(asNobody("/no-such-top-folder/x"), "false\n");
}

TEST_F(FileHelpers, WritableAncestorAsksAboutTheNearestExistingAncestorOnly)
{
    fs::create_directories(dir / "base");
    FaultInjectingFileManager faulty(real);
    ScopedFileManager useFaulty(faulty);
    faulty.failWhen([&](const Operation& operation) {
        return operation.name == "isWritable" && operation.path == dir / "base";
    }, EACCES);

    EXPECT_FALSE(writableAncestor(dir / "base" / "x" / "y"));
    std::vector<std::string> asked;
    for (const Operation& operation : faulty.log()) asked.push_back(operation.name + " " + operation.path.native());
    const std::string base = (dir / "base").native();
    EXPECT_EQ(asked, (std::vector<std::string>{"attributes " + base + "/x/y", "attributes " + base + "/x",
                                               "attributes " + base, "isWritable " + base}));
    EXPECT_TRUE(writableAncestor(dir / "other" / "x"));
}

TEST_F(FileHelpers, WritableAncestorOfTheRootTestsTheRoot)
{
    FaultInjectingFileManager faulty(real);
    ScopedFileManager useFaulty(faulty);
    EXPECT_TRUE(writableAncestor("/"));
    ASSERT_FALSE(fs::exists("/no-such-top-folder"));
    EXPECT_TRUE(writableAncestor("/no-such-top-folder/x"));
    std::vector<std::string> asked;
    for (const Operation& operation : faulty.log()) asked.push_back(operation.name + " " + operation.path.native());
    EXPECT_EQ(asked, (std::vector<std::string>{"attributes /", "isWritable /", "attributes /no-such-top-folder/x",
                                               "attributes /no-such-top-folder", "attributes /", "isWritable /"}));
}

std::string localNow()
{
    // The same clock timestamp() reads: time() runs a little behind it and
    // can still show the previous second.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local {};
    ::localtime_r(&now.tv_sec, &local);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%S", &local);
    return text.data();
}

TEST_F(FileHelpers, TimestampIsTheLocalTimeWithMillisecondsAndARandomTail)
{
    const std::string before = localNow();
    const std::string first = timestamp();
    const std::string second = timestamp();
    const std::string after = localNow();

    const std::regex form(R"(\d{8}-\d{6}-\d{3}-[0-9A-F]{6})");
    for (const std::string& value : {first, second}) {
        EXPECT_EQ(value.size(), 26u) << value;
        EXPECT_TRUE(std::regex_match(value, form)) << value;
        EXPECT_GE(value.substr(0, 15), before) << value;
        EXPECT_LE(value.substr(0, 15), after) << value;
    }
    EXPECT_NE(first, second);
    std::set<std::string> tails;
    for (int i = 0; i < 50; ++i) tails.insert(timestamp().substr(20));
    EXPECT_GT(tails.size(), 45u);
}

}  // namespace
}  // namespace kb::test
