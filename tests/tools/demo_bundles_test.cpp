// The demo installers the build makes: what their payloads hold, and that
// the installer verifies them.

#include "tests/support/tree_snapshot.h"
#include "tests/tools/bundle_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

struct Demo {
    std::string app;
    std::string id;
    std::string name;
    std::string version;
    std::string payloadRoot;
    std::string source;  // folder below demo/
};

void PrintTo(const Demo& demo, std::ostream* out)
{
    *out << demo.app;
}

const Demo huecraft{"Huecraft.app", "huecraft", "Huecraft Vireo", "1.2.0b2", "Huecraft-Payload", "huecraft"};
const Demo geoweave{"Geoweave.app", "geoweave", "Geoweave", "2.4.1", "Geoweave-Payload", "geoweave"};

fs::path demoResources(const Demo& demo)
{
    return bundleResources(builtBinaryDir() / "demo" / demo.app);
}

class DemoBundle : public ::testing::TestWithParam<Demo> {};

TEST_P(DemoBundle, TheDescriptorDescribesTheProduct)
{
    const Demo& demo = GetParam();
    const nlohmann::json product = readJson(demoResources(demo) / "product.json");

    EXPECT_EQ(product["id"], demo.id);
    EXPECT_EQ(product["name"], demo.name);
    EXPECT_EQ(product["version"], demo.version);
    EXPECT_EQ(product["payloadRoot"], demo.payloadRoot);
    EXPECT_EQ(product["payloadSHA256"], sha256Hex(readText(demoResources(demo) / "payload.zip")));
    std::string message = readText(sourceDir() / "demo" / demo.source / "message.txt");
    message.pop_back();  // the file's final line feed
    EXPECT_EQ(product["message"], message);
}

TEST_P(DemoBundle, TheInstallerVerifiesIt)
{
    const Demo& demo = GetParam();
    TempDir temp;
    RunOptions options;
    options.environment = {{"TMPDIR", temp.path().native()}};

    ProgramRun run = runProgram(bundleProgram(builtBinaryDir() / "demo" / demo.app), {"--verify-payload"}, options);

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(nlohmann::json::parse(run.out),
              (nlohmann::json{{"verified", true},
                              {"product", demo.name},
                              {"version", demo.version},
                              {"payloadSHA256", readJson(demoResources(demo) / "product.json")["payloadSHA256"]}}));
    EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST_P(DemoBundle, TheArchiveUnpacksToTheCommittedPayload)
{
    const Demo& demo = GetParam();
    TempDir temp;
    ProgramRun unpack = runProgram(builtBundle() / "Contents/Helpers/ditto",
                                   {"--norsrc", "-x", "-k", (demoResources(demo) / "payload.zip").native(),
                                    temp.path().native()});
    ASSERT_EQ(unpack.status, 0) << unpack.err;

    EXPECT_EQ(snapshot(temp / demo.payloadRoot), snapshot(sourceDir() / "demo" / demo.source / demo.payloadRoot));
}

INSTANTIATE_TEST_SUITE_P(Demos, DemoBundle, ::testing::Values(huecraft, geoweave),
                         [](const ::testing::TestParamInfo<Demo>& param) { return param.param.id; });

TEST(DemoPayloads, HuecraftCarriesWhatItsRecipeInstalls)
{
    const nlohmann::json manifest = readJson(demoResources(huecraft) / "payload-manifest.json");

    for (const char* path : {"Runtime/runtime/huecraft-engine", "Runtime/resolve/Huecraft_Vireo.py",
                             "Runtime/resolve/huecraft_ui_language.py", "Runtime/resolve/huecraft_ui_catalog.json"}) {
        EXPECT_TRUE(manifest["files"].contains(path)) << path;
    }
    EXPECT_EQ(manifest["symlinks"]["Runtime/runtime/python3"], "huecraft-engine");
    EXPECT_EQ(modeOf(sourceDir() / "demo/huecraft/Huecraft-Payload/Runtime/runtime/huecraft-engine"), 0755u);
}

TEST(DemoPayloads, GeoweaveCarriesItsPlugInBundle)
{
    const nlohmann::json manifest = readJson(demoResources(geoweave) / "payload-manifest.json");

    for (const char* path : {"Geoweave.ofx.bundle/Contents/Info.plist",
                             "Geoweave.ofx.bundle/Contents/Linux-x86-64/Geoweave.ofx"}) {
        EXPECT_TRUE(manifest["files"].contains(path)) << path;
    }
    EXPECT_EQ(manifest["symlinks"]["Geoweave.ofx.bundle/Contents/Linux-x86-64/libgeoweave-core.so"],
              "libgeoweave-core.so.2");
}

}  // namespace
}  // namespace kb::test
