// `Installer --verify-payload` from end to end: a copy of the built bundle
// with its real ditto stand-in, run as a user would, with TMPDIR pointed at a
// folder of the test's own.

#include "tests/payload/payload_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kb {
namespace {

using namespace kb::test;
using std::filesystem::path;

class VerifyPayloadProgram : public ::testing::Test {
protected:
    VerifyPayloadProgram()
    {
        builtDitto();  // the bundle must carry it
        program = copyBundle(bundle);
        std::filesystem::create_directories(tmp);
        writeFile(root / "Huecraft_Vireo.py", "print('Huecraft')\n");
        writeFile(root / "Huecraft/Runtime-1.2.0b2/lib/core.py", "core = True\n");
        writeFile(root / "i18n/de.json", "{}");
        std::filesystem::create_directories(root / "LUTs");
        makeLink("Runtime-1.2.0b2", root / "Huecraft/Runtime");
    }

    // Puts product.json, payload.zip and payload-manifest.json into the
    // bundle; the descriptor's digest is the archive's unless given.
    void prepare(const std::optional<std::string>& digest = std::nullopt,
                 const std::optional<nlohmann::json>& manifest = std::nullopt)
    {
        zipTree(source, resources / "payload.zip");
        writeFile(resources / "payload-manifest.json", manifest.value_or(manifestOf(root)).dump(2));
        descriptor["payloadSHA256"] = digest.value_or(sha256Hex(readText(resources / "payload.zip")));
        writeFile(resources / "product.json", descriptor.dump(2));
    }

    ProgramRun run(const std::vector<std::string>& arguments = {"--verify-payload"})
    {
        RunOptions options;
        options.environment["TMPDIR"] = tmp.native();
        ProgramRun result = runProgram(program, arguments, options);
        return result;
    }

    // Every failure: one line on standard error, nothing on standard output,
    // exit status 1, and no temporary folder left behind.
    void expectFailure(const ProgramRun& result, const std::string& description)
    {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Installation abgebrochen: " + description + "\n");
        EXPECT_EQ(entriesStartingWith(tmp, "kestrelbay-installer-"), std::vector<std::string>{});
    }

    TempDir temp;
    const path bundle = temp / "Huecraft Installer.app";
    const path resources = bundleResources(bundle);
    const path tmp = temp / "tmp";
    const path source = temp / "source";
    const path root = source / "Payload";
    path program;
    nlohmann::json descriptor = {{"id", "huecraft"},
                                 {"name", "Huecraft Vireo/Ä"},
                                 {"version", "1.2.0b2"},
                                 {"payloadRoot", "Payload"},
                                 {"message", "Farbwerkzeug für Resolve."},
                                 {"unusedMember", 1}};
};

TEST_F(VerifyPayloadProgram, PrintsExactlyTheFourMembersSortedAndLeavesNoTemporaryFolder)
{
    prepare();
    const std::string digest = descriptor["payloadSHA256"];
    const ProgramRun result = run();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "{\n"
                          "  \"payloadSHA256\": \"" + digest + "\",\n"
                          "  \"product\": \"Huecraft Vireo/Ä\",\n"
                          "  \"verified\": true,\n"
                          "  \"version\": \"1.2.0b2\"\n"
                          "}\n");
    EXPECT_EQ(entriesStartingWith(tmp, "kestrelbay-installer-"), std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(VerifyPayloadProgram, ADamagedArchiveIsReported)
{
    prepare(std::string(64, 'a'));
    expectFailure(run(), "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.");
}

TEST_F(VerifyPayloadProgram, AnUnlistedFileIsReportedWithItsPath)
{
    const nlohmann::json manifest = manifestOf(root);
    writeFile(root / "Huecraft/extra.txt", "extra");
    prepare(std::nullopt, manifest);
    expectFailure(run(), "Die Paketprüfung ist fehlgeschlagen: Huecraft/extra.txt");
}

TEST_F(VerifyPayloadProgram, AMissingEntryIsReportedAfterTheWalk)
{
    nlohmann::json manifest = manifestOf(root);
    manifest["files"]["LUTs/Film.cube"] = fileEntry("LUT");
    prepare(std::nullopt, manifest);
    expectFailure(run(), "Das Paket ist unvollständig.");
}

TEST_F(VerifyPayloadProgram, ALinkLeadingOutsideIsReported)
{
    makeLink("../../../../etc", root / "Huecraft/escape");
    prepare();
    expectFailure(run(), "Ungültige Dateiverknüpfung im Paket.");
}

TEST_F(VerifyPayloadProgram, AMissingPayloadRootIsReported)
{
    descriptor["payloadRoot"] = "Elsewhere";
    prepare();
    expectFailure(run(), "Paketinhalt fehlt.");
}

TEST_F(VerifyPayloadProgram, AnArchiveTheToolRefusesIsReported)
{
    prepare();
    writeFile(resources / "payload.zip", "not a zip archive");
    descriptor["payloadSHA256"] = sha256Hex("not a zip archive");
    writeFile(resources / "product.json", descriptor.dump());
    expectFailure(run(), "Ein Systemschritt ist fehlgeschlagen (ditto, Code 1). Die Installation wird zurückgesetzt.");
}

TEST_F(VerifyPayloadProgram, PlatformAndDecodingErrorsAreReportedByTheirOwnDescription)
{
    prepare();
    std::filesystem::remove(resources / "payload-manifest.json");
    expectFailure(run(), "cannot open \"" + (resources / "payload-manifest.json").native() +
                             "\": No such file or directory");

    writeFile(resources / "payload-manifest.json", R"({"files":{"a":{"sha256":"x","size":-1}},"symlinks":{}})");
    expectFailure(run(), "[json.exception.out_of_range.406] (/files/a/size) size must be a whole number from 0 to "
                         "18446744073709551615, but is -1");

    std::filesystem::remove(resources / "payload.zip");
    expectFailure(run(), "cannot open \"" + (resources / "payload.zip").native() + "\": No such file or directory");
}

}  // namespace
}  // namespace kb
