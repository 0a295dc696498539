// Hostile archives through the real installer: `--verify-payload` runs the
// ditto stand-in, which refuses them, and the installer reports the failed
// system step, removes its temporary folder and leaves everything else alone.

#include "tests/helpers/ditto_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string dittoFailed =
    "Installation abgebrochen: Ein Systemschritt ist fehlgeschlagen (ditto, Code 1). Die Installation wird "
    "zurückgesetzt.\n";

class DittoThroughInstaller : public ::testing::Test {
protected:
    // Puts the sandbox's archive into a copy of the installer, with a
    // descriptor whose digest matches it, and runs --verify-payload with the
    // sandbox's unpack folder as the temporary folder.
    ProgramRun verify()
    {
        const fs::path program = copyBundle(bundle / "Product.app");
        const fs::path resources = bundleResources(bundle / "Product.app");
        fs::copy_file(sandbox.archive(), resources / "payload.zip");
        const nlohmann::json product = {{"id", "huecraft"},
                                         {"name", "Probe"},
                                         {"version", "1.0"},
                                         {"payloadRoot", "P"},
                                         {"payloadSHA256", sha256Hex(readText(sandbox.archive()))},
                                         {"message", "Prüfung"}};
        writeFile(resources / "product.json", product.dump());
        writeFile(resources / "payload-manifest.json", R"({"files": {}, "symlinks": {}})");
        RunOptions options;
        options.environment = {{"TMPDIR", sandbox.destination().native()}};
        return runProgram(program, {"--verify-payload"}, options);
    }

    void expectDittoFailure(const std::vector<nlohmann::json>& members)
    {
        makeZip(sandbox.archive(), members);

        ProgramRun run = verify();

        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, dittoFailed);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(fs::is_empty(sandbox.destination())) << "a kestrelbay-installer-* folder was left";
        EXPECT_EQ(sandbox.changesOutside(), std::vector<std::string>{});
        EXPECT_EQ(readText(sandbox.outside() / "victim.txt"), "original\n");
    }

    TempDir bundle;
    Sandbox sandbox;
};

TEST_F(DittoThroughInstaller, DotDotMember)
{
    expectDittoFailure({folder("P/"), member("P/../../x", "evil")});
}

TEST_F(DittoThroughInstaller, MemberThroughALinkToOutside)
{
    expectDittoFailure({folder("P/"), link("P/escape", sandbox.outside().native()),
                        member("P/escape/victim.txt", "overwritten")});
}

TEST_F(DittoThroughInstaller, MemberThroughTwoLinks)
{
    expectDittoFailure({folder("P/"), link("P/one", "two"), link("P/two", sandbox.outside().native()),
                        member("P/one/planted.txt", "evil")});
}

TEST_F(DittoThroughInstaller, DeviceMember)
{
    expectDittoFailure({folder("P/"), member("P/null", "", 0020666)});
}

TEST_F(DittoThroughInstaller, DuplicateMember)
{
    expectDittoFailure({folder("P/"), member("P/a", "first"), member("P/a", "second")});
}

TEST_F(DittoThroughInstaller, ArchiveThatIsNoZip)
{
    writeFile(sandbox.archive(), "not a zip at all\n");

    ProgramRun run = verify();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, dittoFailed);
    EXPECT_TRUE(fs::is_empty(sandbox.destination()));
    EXPECT_EQ(sandbox.changesOutside(), std::vector<std::string>{});
}

TEST_F(DittoThroughInstaller, AnArchiveDittoAcceptsReachesTheTreeCheck)
{
    // The manifest verify() writes is empty, so the unpacked file is unlisted.
    makeZip(sandbox.archive(), {folder("P/"), member("P/a.txt", "hello")});

    ProgramRun run = verify();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Installation abgebrochen: Die Paketprüfung ist fehlgeschlagen: a.txt\n");
    EXPECT_TRUE(fs::is_empty(sandbox.destination()));
}

}  // namespace
}  // namespace kb::test
