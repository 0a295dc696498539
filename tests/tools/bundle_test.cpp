// kestrelbay-bundle as a vendor runs it: what it writes, what it refuses,
// and the demo products it made for this build.

#include "core/product.h"
#include "payload/manifest.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <functional>

namespace kb::test {
namespace {

std::string listing(const fs::path& archive)
{
    return run("/usr/bin/bsdtar", {"-tvf", archive.native()}).out;
}

TEST(Bundle, WritesTheThreeResourcesIntoACopyOfTheInstaller)
{
    TempDir dir;
    const fs::path payload = dir / "Payload";
    writeFile(payload / "Runtime/b.txt", "bee\n", 0755);
    writeFile(payload / "a.txt", "", 0600);
    writeFile(payload / "Runtime/._b.txt", "finder"), writeFile(payload / ".DS_Store/x", "kept"), makeLink("x", payload / "._l");
    makeLink("Runtime/b.txt", payload / "link");
    makeLink("missing", payload / "Runtime/dangling");
    writeFile(dir / "message.txt", "Grüße\r\n\n");
    const fs::path bundle = makeProduct(payload, dir / "out/P.app", "huecraft", "N", "1.0", "", {"--compression", "store"});
    const fs::path resources = resourcesOf(bundle);
    EXPECT_EQ(picture(programOf(bundle).parent_path()), picture(programOf(emptyBundle()).parent_path()));
    const std::string zip = readText(resources / "payload.zip");
    EXPECT_EQ(readText(resources / "product.json"),
              encodeProduct({"huecraft", "N", "1.0", "Payload", sha256Hex(zip), ""}));
    EXPECT_EQ(readText(resources / "payload-manifest.json"),
              encodeManifest({{{".DS_Store/x", {sha256Hex("kept"), 4}}, {"Runtime/b.txt", {sha256Hex("bee\n"), 4}},
                               {"a.txt", {sha256Hex(""), 0}}},
                              {{"link", "Runtime/b.txt"}, {"Runtime/dangling", "missing"}}}));
    const std::string entries = listing(resources / "payload.zip");
    for (const char* line : {"drwxr-xr-x  0 0      0           0 Jan  1  2020 Payload/\n",
                             "drwxr-xr-x  0 0      0           0 Jan  1  2020 Payload/Runtime/\n",
                             "lrwxrwxrwx  0 0      0           0 Jan  1  2020 Payload/Runtime/dangling -> missing\n",
                             "-rwxr-xr-x  0 0      0           4 Jan  1  2020 Payload/Runtime/b.txt\n",
                             "-rw-------  0 0      0           0 Jan  1  2020 Payload/a.txt\n"})
        EXPECT_NE(entries.find(line), std::string::npos) << line << entries;
    EXPECT_EQ(entries.find("._b.txt"), std::string::npos);
    EXPECT_EQ(entries.find("._l"), std::string::npos);
    EXPECT_NE(entries.find("Payload/.DS_Store/x\n"), std::string::npos);  // a folder named like Finder's file is kept
    EXPECT_NE(zip.find("bee\n"), std::string::npos);  // stored, not compressed
    // The same tree gives the same bytes.
    EXPECT_EQ(makeProduct(payload, dir / "out/P.app", "huecraft", "N", "1.0", "", {"--compression", "store"}), dir / "out/P.app");
    EXPECT_EQ(readText(resources / "payload.zip"), zip);
    // Info.plist names the product, with an identifier made from its id or given; the installer's other keys stay.
    auto keys = [](const fs::path& app) { return nlohmann::json::parse(run("/usr/bin/python3", {"-c", "import json, "
        "plistlib, sys; print(json.dumps(plistlib.load(open(sys.argv[1], 'rb'))))", app / "Contents/Info.plist"}).out); };
    nlohmann::json info = keys(emptyBundle());
    info.update({{"CFBundleName", "N"}, {"CFBundleDisplayName", "N"}, {"CFBundleIdentifier", "de.kestrelbay.installer.huecraft"}});
    EXPECT_EQ(keys(bundle), info);
    EXPECT_EQ(run(bundleTool(), {"--payload", payload, "--id", "geoweave", "--name", "Grüße & <Co>", "--version", "1",
                                 "--message-file", dir / "message.txt", "--output", dir / "out/P.app"}).status, 0);
    info.update({{"CFBundleName", "Grüße & <Co>"}, {"CFBundleDisplayName", "Grüße & <Co>"}, {"CFBundleIdentifier", "de.kestrelbay.installer.geoweave"}});
    EXPECT_EQ(keys(bundle), info);
    makeProduct(payload, dir / "out/P.app", "geoweave", "Grüße & <Co>", "1", "Grüße", {"--bundle-id", "com.Example-1.geo"});
    info["CFBundleIdentifier"] = "com.Example-1.geo";
    EXPECT_EQ(keys(bundle), info);
    EXPECT_EQ(decodeProduct(readText(resources / "product.json")).message, "Grüße");
    const auto verified = run(programOf(bundle), {"--verify-payload"});
    EXPECT_EQ(verified.status, 0) << verified.err;
}

TEST(Bundle, RefusesWhatTheInstallerWouldRejectAndWritesNothing)
{
    struct Case { std::function<void(const fs::path&)> setup; std::vector<std::string> arguments; std::string reason; };
    const Case cases[] = {
        {[](const fs::path& p) { makeLink("../../outside", p / "Runtime/esc"); }, {}, "link \"Runtime/esc\" -> \"../../outside\" leaves the payload root"},
        {[](const fs::path& p) { makeLink("/etc", p / "etc"); }, {}, "link \"etc\" -> \"/etc\" is absolute and leaves the payload root"},
        {[](const fs::path& p) { makeLink("..", p / "Runtime/up"); }, {}, "link \"Runtime/up\" -> \"..\" leads to the payload root itself"},
        {[](const fs::path& p) { makeLink("b", p / "a"), makeLink("a", p / "b"); }, {}, "link \"a\" -> \"b\" runs into a loop of links"},
        {[](const fs::path& p) { makeLink("Runtime", p / "r"), makeLink("r/../../x", p / "via"); }, {}, "link \"via\" -> \"r/../../x\" leaves the payload root"},
        {[](const fs::path& p) { ::mkfifo((p / "fifo").c_str(), 0644); }, {}, "\"fifo\" is a special file (FIFO, socket or device); a payload holds only folders, regular files and links"},
        {[](const fs::path& p) { writeFile(p / "bad\xff", ""); }, {}, "a payload name is not valid UTF-8: \"bad\xff\""},
        {[](const fs::path& p) { writeFile(p / "Runtime/lib/x.py", ""), makeLink("../lib/x.py", p / "Runtime/resolve/Huecraft_Vireo.py"); },
         {"--id", "huecraft"}, "link \"Runtime/resolve/Huecraft_Vireo.py\" -> \"../lib/x.py\" is an item the installer puts in place on its own"},
        {[](const fs::path& p) { fs::create_directories(p / "Shared"), makeLink("../../Shared", p / "Geoweave.ofx.bundle/Contents/lib"); },
         {}, "link \"Geoweave.ofx.bundle/Contents/lib\" -> \"../../Shared\" leaves \"Geoweave.ofx.bundle\", which the installer puts in place on its own"},
        {[](const fs::path&) {}, {"--compression", "zip"}, "--compression is deflate or store, not \"zip\""},
        {[](const fs::path&) {}, {"--version", "2"}, "--version given twice"},
        {[](const fs::path&) {}, {"--id", "Huecraft"}, "--id must name a product the installer carries (huecraft, geoweave), not \"Huecraft\""},
        {[](const fs::path&) {}, {"--bogus", "y"}, "unknown argument \"--bogus\""},
        {[](const fs::path&) {}, {"--message-file", "/dev/null"}, "give exactly one of --message and --message-file"},
        {[](const fs::path&) {}, {"--installer", "/tmp"}, "\"/tmp\" is not an installer bundle"},
        {[](const fs::path&) {}, {"--bundle-id", "com.example/x"}, "--bundle-id must be letters, digits and \"-\" in parts joined by single dots, not \"com.example/x\""},
        {[](const fs::path&) {}, {"--bundle-id", "de..x"}, "--bundle-id must be letters, digits and \"-\" in parts joined by single dots, not \"de..x\""},
        {[](const fs::path&) {}, {"--name", "../x"}, "--name must be one folder name (not empty, \".\" or \"..\", without \"/\"), not \"../x\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TempDir dir;
        writeFile(dir / "Payload/Runtime/file.txt", "content\n");
        c.setup(dir / "Payload");
        std::vector<std::string> arguments{"--payload", dir / "Payload", "--version", "1", "--message", "m", "--output",
                                           dir / "out/P.app"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        for (const std::string option : {"--name", "--id"})  // each case changes at most one of them
            if (c.arguments.empty() || c.arguments[0] != option) arguments.insert(arguments.end(), {option, "geoweave"});
        const auto refused = run(bundleTool(), arguments);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')), "kestrelbay-bundle: " + c.reason);
        EXPECT_EQ(refused.out, "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
    TempDir dir;
    writeFile(dir / "out/P.app/keep.txt", "mine");
    const auto kept = run(bundleTool(), {"--payload", sourceDir() / "demo/geoweave/Geoweave-Payload", "--id", "geoweave", "--name",
                                        "N", "--version", "1", "--message", "m", "--output", dir / "out/P.app"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(readText(dir / "out/P.app/keep.txt"), "mine");
    EXPECT_EQ(run(bundleTool(), {"--help"}).status, 0);
}

TEST(Bundle, TheDemoProductsVerifyAndCarryTheirPayloads)
{
    for (const auto& [app, id, root] : {std::tuple{"Huecraft.app", "huecraft", "Huecraft-Payload"},
                                        std::tuple{"Geoweave.app", "geoweave", "Geoweave-Payload"}}) {
        TempDir dir;
        const fs::path bundle = buildDir() / "demo" / app;
        const Product product = decodeProduct(readText(resourcesOf(bundle) / "product.json"));
        EXPECT_EQ(product.id, id);
        EXPECT_EQ(product.payloadRoot, root);
        EXPECT_EQ(product.message, readText(sourceDir() / "demo" / id / "message.txt").substr(0, product.message.size()));
        EXPECT_EQ(run(programOf(bundle), {"--verify-payload"}).status, 0);
        ASSERT_EQ(run(emptyBundle() / "Contents/Helpers/ditto",
                      {"--norsrc", "-x", "-k", resourcesOf(bundle) / "payload.zip", dir / "x"}).status, 0);
        EXPECT_EQ(picture(dir / "x" / root), picture(sourceDir() / "demo" / id / root));
    }
}

}  // namespace
}  // namespace kb::test
