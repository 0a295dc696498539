// The real installer program, copied into temporary bundles and run as a
// user would: the command line, the descriptor and the test folder.

#include "core/product.h"
#include "platform/posix_file_manager.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string usageError =
    "Installation abgebrochen: Unterstützt: --verify-payload oder --test-home <markierter Testordner>.\n";
const std::string testHomeError =
    "Installation abgebrochen: Der Test benötigt einen getrennten, ausdrücklich markierten Testordner.\n";
const std::string marker = ".KESTREL-BAY-INSTALLER-TEST-HOME";

const std::string validProduct = R"({"id": "huecraft", "name": "Huecraft", "version": "1.2.0",
  "payloadRoot": "Payload", "payloadSHA256": "0000000000000000000000000000000000000000000000000000000000000000",
  "message": "Hallo."})";

// The error the real file manager gives when opening `path`, as the program reports it.
std::string openErrorLine(const fs::path& path)
{
    try {
        PosixFileManager().openForReading(path);
    } catch (const std::system_error& error) {
        return "Installation abgebrochen: " + std::string(error.what()) + "\n";
    }
    return "opened " + path.native();
}

// The JSON library's error for a descriptor, as the program reports it.
std::string descriptorErrorLine(const std::string& text)
{
    try {
        decodeProduct(text);
    } catch (const nlohmann::json::exception& error) {
        return "Installation abgebrochen: " + std::string(error.what()) + "\n";
    }
    return "decoded";
}

std::vector<std::string> temporaryLeftovers(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().native().starts_with("kestrelbay-installer-"))
            names.push_back(entry.path().filename());
    }
    return names;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        bundle = root / "Installer.app";
        program = copyBundle(bundle);
        resources = fs::canonical(bundleResources(bundle));
        home = root / "home";
        tmp = root / "tmp";
        fs::create_directories(home);
        fs::create_directories(tmp);
        writeFile(resources / "product.json", validProduct);
    }

    ProgramRun run(const std::vector<std::string>& arguments, const fs::path& workingDirectory = {}) const
    {
        return runAt(program, arguments, workingDirectory);
    }

    ProgramRun runAt(const fs::path& executable, const std::vector<std::string>& arguments,
                     const fs::path& workingDirectory = {}) const
    {
        RunOptions options;
        options.workingDirectory = workingDirectory;
        options.environment["HOME"] = home.native();
        options.environment["TMPDIR"] = tmp.native();
        options.environment["DISPLAY"] = std::nullopt;
        options.environment["WAYLAND_DISPLAY"] = std::nullopt;
        return runProgram(executable, arguments, options);
    }

    // The report of a run that got past the command line and the test folder
    // checks: the payload archive is missing from the bundle.
    std::string missingPayloadLine() const { return openErrorLine(resources / "payload.zip"); }

    void expectUsageRefusal(const std::vector<std::string>& arguments) const
    {
        ProgramRun result = run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, usageError);
        EXPECT_EQ(result.out, "");
    }

    void expectTestHomeRefusal(const std::string& folder, const fs::path& workingDirectory = {}) const
    {
        ProgramRun result = run({"--test-home", folder}, workingDirectory);
        EXPECT_EQ(result.status, 1) << folder;
        EXPECT_EQ(result.err, testHomeError) << folder;
        EXPECT_EQ(result.out, "") << folder;
    }

    // Accepted: the run goes on to the payload, which is missing here.
    void expectTestHomeAccepted(const std::string& folder, const fs::path& workingDirectory = {}) const
    {
        ProgramRun result = run({"--test-home", folder}, workingDirectory);
        EXPECT_EQ(result.status, 1) << folder;
        EXPECT_EQ(result.err, missingPayloadLine()) << folder;
        EXPECT_EQ(result.out, "") << folder;
        EXPECT_EQ(temporaryLeftovers(tmp), std::vector<std::string>{}) << folder;
    }

    TempDir root;
    fs::path bundle;
    fs::path program;
    fs::path resources;
    fs::path home;
    fs::path tmp;
};

TEST_F(CommandLine, RefusesEveryOtherFormWithTheUsageMessage)
{
    fs::create_directories(root / "marked");
    writeFile(root / "marked" / marker, "");
    const std::string marked = (root / "marked").native();

    expectUsageRefusal({"--verify-payload", "--test-home", marked});
    expectUsageRefusal({"--test-home"});
    expectUsageRefusal({"--test-home", marked, marked});
    expectUsageRefusal({"--verify-payload", "--verify-payload"});
    expectUsageRefusal({"--TEST-HOME", marked});
    expectUsageRefusal({"--Verify-Payload"});
    expectUsageRefusal({"--verify-payload=1"});
    expectUsageRefusal({"--test-home=" + marked});
    expectUsageRefusal({"-h"});
    expectUsageRefusal({""});
    expectUsageRefusal({marked, "--test-home"});
}

TEST_F(CommandLine, AMissingDescriptorWinsOverBadArguments)
{
    fs::remove(resources / "product.json");
    const std::string expected = openErrorLine(resources / "product.json");
    ASSERT_EQ(expected, "Installation abgebrochen: cannot open \"" + (resources / "product.json").native()
                            + "\": No such file or directory\n");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-h"}, {"--test-home"}, {"--verify-payload", "--verify-payload"}, {"--verify-payload"}}) {
        ProgramRun result = run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, expected);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(CommandLine, ABrokenDescriptorWinsOverBadArguments)
{
    for (const std::string& text : {std::string("{\"id\": \"huecraft\", "), std::string("{\"id\": 7}"),
                                    std::string("[]"), std::string("")}) {
        writeFile(resources / "product.json", text);
        const std::string expected = descriptorErrorLine(text);
        ASSERT_TRUE(expected.starts_with("Installation abgebrochen: [json.exception.")) << expected;
        ProgramRun result = run({"--TEST-HOME", "x"});
        EXPECT_EQ(result.status, 1) << text;
        EXPECT_EQ(result.err, expected) << text;
        EXPECT_EQ(result.out, "") << text;
    }
}

TEST_F(CommandLine, AFolderTheDescriptorCannotBeReadFromIsReportedAsSuch)
{
    fs::remove(resources / "product.json");
    fs::create_directories(resources / "product.json");
    ProgramRun result = run({"--verify-payload"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Installation abgebrochen: cannot read \"" + (resources / "product.json").native()
                              + "\": Is a directory\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(CommandLine, TheRealHomeIsRefusedEvenWhenMarked)
{
    writeFile(home / marker, "");
    expectTestHomeRefusal(home.native());
    expectTestHomeRefusal(home.native() + "/");
    expectTestHomeRefusal(home.native() + "/./sub/..");
    expectTestHomeRefusal(".", home);
}

TEST_F(CommandLine, ALinkToTheRealHomeIsRefused)
{
    writeFile(home / marker, "");
    makeLink(home.native(), root / "link-to-home");
    expectTestHomeRefusal((root / "link-to-home").native());
    makeLink("../home", root / "links" / "relative-link");
    expectTestHomeRefusal((root / "links" / "relative-link").native());
}

TEST_F(CommandLine, TheRealHomeReachedThroughALinkedHomeVariableIsRefused)
{
    // $HOME itself names a link; the marked folder behind it is still the home.
    writeFile(home / marker, "");
    makeLink(home.native(), root / "home-link");
    RunOptions options;
    options.environment["HOME"] = (root / "home-link").native();
    options.environment["TMPDIR"] = tmp.native();
    options.environment["DISPLAY"] = std::nullopt;
    ProgramRun result = runProgram(program, {"--test-home", home.native()}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, testHomeError);
    EXPECT_EQ(result.out, "");
}

TEST_F(CommandLine, FoldersWithoutTheMarkerAreRefused)
{
    fs::create_directories(root / "plain");
    expectTestHomeRefusal((root / "plain").native());
    expectTestHomeRefusal((root / "missing").native());
    // The marker must lie directly in the folder, with exactly this name.
    writeFile(root / "deeper" / "sub" / marker, "");
    expectTestHomeRefusal((root / "deeper").native());
    writeFile(root / "lower" / ".kestrel-bay-installer-test-home", "");
    expectTestHomeRefusal((root / "lower").native());
    writeFile(root / "afile", "");
    expectTestHomeRefusal((root / "afile").native());
}

TEST_F(CommandLine, AMarkedSubfolderOfTheHomeIsAccepted)
{
    writeFile(home / "test-home" / marker, "ja");
    expectTestHomeAccepted((home / "test-home").native());
}

TEST_F(CommandLine, AMarkerOfAnyKindCounts)
{
    fs::create_directories(root / "folder-marker" / marker);
    expectTestHomeAccepted((root / "folder-marker").native());
    makeLink((root / "nowhere").native(), root / "dangling-marker" / marker);
    expectTestHomeAccepted((root / "dangling-marker").native());
}

TEST_F(CommandLine, ARelativeTestFolderIsTakenFromTheWorkingDirectory)
{
    writeFile(root / "a" / "box" / marker, "");
    fs::create_directories(root / "b" / "box");
    expectTestHomeAccepted("box", root / "a");
    expectTestHomeAccepted("./box/", root / "a");
    expectTestHomeAccepted("../a/box", root / "b");
    expectTestHomeRefusal("box", root / "b");
    expectTestHomeRefusal("../b/box", root / "a");
}

TEST_F(CommandLine, TheProgramOutsideItsBundleStopsWithOneLine)
{
    const fs::path loose = root / "loose" / "Installer";
    fs::create_directories(loose.parent_path());
    fs::copy_file(program, loose);
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"--verify-payload"}, {"-h"}}) {
        ProgramRun result = runAt(loose, arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Installation abgebrochen: Der Ressourcenordner des Installers fehlt (erwartet unter "
                              "Contents/Resources im Programmpaket von \"" + fs::canonical(loose).native() + "\").\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(CommandLine, ABundleWithoutResourcesFolderStopsWithOneLine)
{
    fs::remove_all(resources);
    ProgramRun result = run({"--verify-payload"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Installation abgebrochen: Der Ressourcenordner des Installers fehlt (erwartet unter "
                          "Contents/Resources im Programmpaket von \"" + fs::canonical(program).native() + "\").\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(CommandLine, ACopiedBundleUsesItsOwnResourcesWhereverItIsStartedFrom)
{
    // A decoy beside the working directory must not be taken for the resources.
    const fs::path decoy = root / "decoy";
    writeFile(decoy / "Contents" / "Resources" / "product.json", "{ broken");
    writeFile(decoy / "Resources" / "product.json", "{ broken");
    writeFile(decoy / "product.json", "{ broken");

    const fs::path moved = root / "elsewhere" / "deeper" / "Other Name.app";
    const fs::path movedProgram = copyBundle(moved);
    const fs::path movedResources = fs::canonical(bundleResources(moved));
    writeFile(movedResources / "product.json", validProduct);
    const std::string expected = openErrorLine(movedResources / "payload.zip");

    ProgramRun direct = runAt(movedProgram, {"--verify-payload"}, decoy);
    EXPECT_EQ(direct.status, 1);
    EXPECT_EQ(direct.err, expected);
    EXPECT_EQ(direct.out, "");

    makeLink(movedProgram.native(), root / "bin" / "kestrel-installer");
    ProgramRun throughLink = runAt(root / "bin" / "kestrel-installer", {"--verify-payload"}, decoy / "Contents");
    EXPECT_EQ(throughLink.status, 1);
    EXPECT_EQ(throughLink.err, expected);
    EXPECT_EQ(throughLink.out, "");

    // The original bundle is untouched by all this and still reads its own.
    ProgramRun original = run({"--verify-payload"}, decoy);
    EXPECT_EQ(original.err, missingPayloadLine());
    EXPECT_NE(original.err, expected);
}

// The demo installer's bundle copied into the test folder.
class DemoCommandLine : public CommandLine {
protected:
    void SetUp() override
    {
        CommandLine::SetUp();
        const fs::path demo = builtBinaryDir() / "demo" / "Huecraft.app";
        ASSERT_TRUE(fs::exists(demo / "Contents/Resources/payload.zip")) << demo;
        fs::remove_all(bundle);
        fs::copy(demo, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        product = nlohmann::json::parse(readText(resources / "product.json"));
    }
    nlohmann::json product;
};

TEST_F(DemoCommandLine, VerifyPayloadPrintsTheFourMembersSortedAndInstallsNothing)
{
    const TreeSnapshot homeBefore = snapshot(home);
    ProgramRun result = run({"--verify-payload"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "{\n"
                          "  \"payloadSHA256\": \"" + product["payloadSHA256"].get<std::string>() + "\",\n"
                          "  \"product\": \"Huecraft Vireo\",\n"
                          "  \"verified\": true,\n"
                          "  \"version\": \"1.2.0b2\"\n"
                          "}\n");
    EXPECT_EQ(differences(homeBefore, snapshot(home)), std::vector<std::string>{});
    EXPECT_EQ(temporaryLeftovers(tmp), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(DemoCommandLine, AFailureAfterUnpackingLeavesNoTemporaryFolderAndNoChange)
{
    nlohmann::json manifest = nlohmann::json::parse(readText(resources / "payload-manifest.json"));
    const std::string first = manifest["files"].begin().key();
    manifest["files"][first]["sha256"] = std::string(64, 'f');
    writeFile(resources / "payload-manifest.json", manifest.dump());
    writeFile(root / "marked" / marker, "");
    const TreeSnapshot markedBefore = snapshot(root / "marked");

    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--verify-payload"}, {"--test-home", (root / "marked").native()}}) {
        ProgramRun result = run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Installation abgebrochen: Die Paketprüfung ist fehlgeschlagen: " + first + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(fs::is_empty(tmp));
    }
    EXPECT_EQ(differences(markedBefore, snapshot(root / "marked")), std::vector<std::string>{});
}

}  // namespace
}  // namespace kb::test
