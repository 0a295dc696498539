// kestrelbay-bundle on real payload trees: what it writes into the copied
// installer, byte for byte, and that the installer accepts the result.

#include "tests/support/tree_snapshot.h"
#include "tests/tools/bundle_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

// A small payload root "Payload" with nested folders, modes, internal links,
// an empty folder and names the installer ignores.
fs::path makePayload(const TempDir& temp)
{
    const fs::path root = temp / "src/Payload";
    writeFile(root / "Runtime/runtime/engine", "#!/bin/sh\necho engine\n", 0755);
    writeFile(root / "Runtime/resolve/Script.py", "print('hi')\n");
    writeFile(root / "Runtime/lib/ü.txt", "umlaut\n", 0600);
    makeLink("engine", root / "Runtime/runtime/python3");
    makeLink("../resolve/Script.py", root / "Runtime/lib/script-link");
    fs::create_directories(root / "Runtime/empty");
    writeFile(root / ".DS_Store", "finder");
    writeFile(root / "Runtime/._engine", "apple double");
    writeFile(root / "Runtime/lib/.DS_Store", "finder");
    writeFile(root / "._Hidden/inside.txt", "left out with its folder");
    return root;
}

class BundleTool : public ::testing::Test {
protected:
    ProgramRun bundle(std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = bundleArguments(payload, output);
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runProgram(bundleTool(), arguments);
    }

    fs::path resources() const { return output / "Contents/Resources"; }

    TempDir temp;
    fs::path payload = makePayload(temp);
    fs::path output = temp / "out/Huecraft.app";
};

TEST_F(BundleTool, WritesTheThreeResourcesIntoACopyOfTheInstaller)
{
    ProgramRun run = bundle();

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readText(output / "Contents/MacOS/Installer"), readText(bundleProgram(builtBundle())));
    EXPECT_EQ(readText(output / "Contents/Helpers/ditto"), readText(builtBundle() / "Contents/Helpers/ditto"));
    EXPECT_EQ(modeOf(output / "Contents/MacOS/Installer"), modeOf(bundleProgram(builtBundle())));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(resources())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"payload-manifest.json", "payload.zip", "product.json"}));
}

TEST_F(BundleTool, TheManifestListsExactlyTheFilesAndLinks)
{
    ASSERT_EQ(bundle().status, 0);

    const nlohmann::json expected = {
        {"files",
         {{"Runtime/lib/ü.txt", {{"sha256", sha256Hex("umlaut\n")}, {"size", 7}}},
          {"Runtime/resolve/Script.py", {{"sha256", sha256Hex("print('hi')\n")}, {"size", 12}}},
          {"Runtime/runtime/engine", {{"sha256", sha256Hex("#!/bin/sh\necho engine\n")}, {"size", 22}}}}},
        {"symlinks", {{"Runtime/lib/script-link", "../resolve/Script.py"}, {"Runtime/runtime/python3", "engine"}}}};
    EXPECT_EQ(readJson(resources() / "payload-manifest.json"), expected);
    EXPECT_EQ(readText(resources() / "payload-manifest.json"), expected.dump(2) + "\n");
}

TEST_F(BundleTool, TheDescriptorNamesThePayloadAndItsDigest)
{
    ASSERT_EQ(bundle().status, 0);

    const std::string text = readText(resources() / "product.json");
    const nlohmann::ordered_json product = nlohmann::ordered_json::parse(text);
    std::vector<std::string> keys;
    for (const auto& item : product.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "name", "version", "payloadRoot", "payloadSHA256", "message"}));
    EXPECT_EQ(product["id"], "huecraft");
    EXPECT_EQ(product["name"], "Huecraft Vireo");
    EXPECT_EQ(product["version"], "1.2.0b2");
    EXPECT_EQ(product["payloadRoot"], "Payload");
    EXPECT_EQ(product["payloadSHA256"], sha256Hex(readText(resources() / "payload.zip")));
    EXPECT_EQ(product["message"], "Grüße aus dem Test.");
}

TEST_F(BundleTool, TheArchiveHoldsTheTreeInOrderWithLinksAsLinksAndIgnoredNamesLeftOut)
{
    ASSERT_EQ(bundle().status, 0);

    const std::vector<ZipMember> expected = {
        {"Payload/", 040755, 0, false},
        {"Payload/Runtime/", 040755, 0, false},
        {"Payload/Runtime/empty/", 040755, 0, false},
        {"Payload/Runtime/lib/", 040755, 0, false},
        {"Payload/Runtime/lib/script-link", 0120777, 0, false},
        {"Payload/Runtime/lib/ü.txt", 0100600, 8, true},
        {"Payload/Runtime/resolve/", 040755, 0, false},
        {"Payload/Runtime/resolve/Script.py", 0100644, 8, false},
        {"Payload/Runtime/runtime/", 040755, 0, false},
        {"Payload/Runtime/runtime/engine", 0100755, 8, false},
        {"Payload/Runtime/runtime/python3", 0120777, 0, false},
    };
    EXPECT_EQ(zipMembers(resources() / "payload.zip"), expected);
}

TEST_F(BundleTool, StoredArchivesCompressNothing)
{
    ASSERT_EQ(bundle({"--compression", "store"}).status, 0);

    for (const ZipMember& member : zipMembers(resources() / "payload.zip")) {
        EXPECT_EQ(member.method, 0u) << member.name;
    }
}

TEST_F(BundleTool, UnpackingTheArchiveGivesBackThePayloadWithoutIgnoredNames)
{
    ASSERT_EQ(bundle().status, 0);
    ProgramRun unpack = runProgram(builtBundle() / "Contents/Helpers/ditto",
                                   {"--norsrc", "-x", "-k", (resources() / "payload.zip").native(),
                                    (temp / "unpacked").native()});
    ASSERT_EQ(unpack.status, 0) << unpack.err;

    fs::remove(payload / ".DS_Store");
    fs::remove(payload / "Runtime/._engine");
    fs::remove(payload / "Runtime/lib/.DS_Store");
    fs::remove_all(payload / "._Hidden");
    EXPECT_EQ(snapshot(temp / "unpacked/Payload"), snapshot(payload));
}

TEST_F(BundleTool, TheSameTreeGivesTheSameBytes)
{
    ASSERT_EQ(bundle().status, 0);
    const std::string first = readText(resources() / "payload.zip");
    // Newer times on the files change nothing.
    fs::last_write_time(payload / "Runtime/resolve/Script.py", fs::file_time_type::clock::now());

    ASSERT_EQ(bundle().status, 0);

    EXPECT_EQ(sha256Hex(readText(resources() / "payload.zip")), sha256Hex(first));
}

TEST_F(BundleTool, TheMessageCanComeFromAFile)
{
    writeFile(temp / "message.txt", "Zeile eins – mit Umlauten: äöü.\nZeile zwei.\n\n");
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.erase(arguments.begin() + 8, arguments.begin() + 10);  // --message and its text
    arguments.insert(arguments.end(), {"--message-file", (temp / "message.txt").native()});

    ProgramRun run = runProgram(bundleTool(), arguments);

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readJson(resources() / "product.json")["message"], "Zeile eins – mit Umlauten: äöü.\nZeile zwei.");
}

TEST_F(BundleTool, AnEarlierBundleIsReplaced)
{
    ASSERT_EQ(bundle().status, 0);
    writeFile(payload / "Runtime/new.txt", "new\n");
    writeFile(resources() / "stray.txt", "from the earlier bundle");

    ASSERT_EQ(bundle().status, 0);

    EXPECT_TRUE(readJson(resources() / "payload-manifest.json")["files"].contains("Runtime/new.txt"));
    EXPECT_FALSE(fs::exists(resources() / "stray.txt"));
    std::vector<std::string> siblings;
    for (const auto& entry : fs::directory_iterator(output.parent_path())) siblings.push_back(entry.path().filename());
    EXPECT_EQ(siblings, std::vector<std::string>{"Huecraft.app"});
}

TEST_F(BundleTool, TheInstallerVerifiesTheBundle)
{
    ASSERT_EQ(bundle().status, 0);
    fs::create_directories(temp / "tmp");
    RunOptions options;
    options.environment = {{"TMPDIR", (temp / "tmp").native()}};

    ProgramRun run = runProgram(bundleProgram(output), {"--verify-payload"}, options);

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(nlohmann::json::parse(run.out),
              (nlohmann::json{{"verified", true},
                              {"product", "Huecraft Vireo"},
                              {"version", "1.2.0b2"},
                              {"payloadSHA256", sha256Hex(readText(resources() / "payload.zip"))}}));
    EXPECT_TRUE(fs::is_empty(temp / "tmp"));
}

}  // namespace
}  // namespace kb::test
