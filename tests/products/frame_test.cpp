// The install frame with recipes defined here: backup folder, dispatch,
// install record, and the failure rule (rollback, launchd restore, the
// triggering error or the leftovers message).

#include "core/install_error.h"
#include "fileops/file_helpers.h"
#include "platform/launcher.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "products/run_context.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <system_error>

namespace kb {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::snapshot;
using test::writeFile;

const std::string leftovers =
    "Installation abgebrochen. Einige Dateien konnten nicht automatisch wiederhergestellt werden. "
    "Die Sicherung liegt hier: ";

Product product(std::string id, std::string name = "Huecraft Vireo")
{
    return Product{std::move(id), std::move(name), "1.2.0", "Payload", std::string(64, 'a'), "Hallo"};
}

// A recipe's own error type, to see that the frame passes it on as it is.
struct RecipeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Answers in place of launchctl and remembers each command line.
class RecordingLauncher final : public Launcher {
public:
    std::vector<std::vector<std::string>> commands;
    fs::path executable;
    bool refuseToStart = false;

    LaunchResult run(const fs::path& program, const std::vector<std::string>& arguments) override
    {
        executable = program;
        commands.push_back(arguments);
        if (refuseToStart) throw std::system_error(ENOENT, std::generic_category(), "cannot start launchctl");
        return {1, "not loaded\n"};
    }
};

class FrameTest : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager useReal{real};
    test::TempDir dir;
    fs::path home = dir / "home";
    fs::path payload = dir / "temp/Payload";
    fs::path temp = dir / "temp";
    fs::path backups = home / "Library/Application Support/Huecraft Vireo/Installer-Backups";
    int recipeRuns = 0;

    void SetUp() override
    {
        writeFile(home / "Documents/notes.txt", "keep me");
        writeFile(home / ".huecraft.json", R"({"lut_dir": "~/LUTs"})", 0644);
        writeFile(payload / "Huecraft_Vireo.py", "print('new')");
        writeFile(payload / "Runtime/lib.py", "lib");
    }

    // A recipe that records that it ran and replaces two items.
    Recipe twoReplacements(std::function<void(RunContext&)> then = {})
    {
        return [this, then](RunContext& ctx) {
            ++recipeRuns;
            ctx.transaction.replace(ctx.payload / "Huecraft_Vireo.py", ctx.home / "Scripts/Huecraft_Vireo.py",
                                    "Huecraft_Vireo.py");
            ctx.transaction.replace(ctx.payload / "Huecraft_Vireo.py", ctx.home / ".huecraft.json", ".huecraft.json",
                                    0600u);
            if (then) then(ctx);
            ctx.result["script"] = (ctx.home / "Scripts/Huecraft_Vireo.py").native();
        };
    }

    fs::path onlyBackupFolder()
    {
        const std::vector<fs::path> folders = test::sortedEntries(backups);
        EXPECT_EQ(folders.size(), 1u);
        return folders.empty() ? fs::path() : folders.front();
    }

    // Every difference must be the backup folder or one of its parents.
    std::vector<std::string> changesOutsideBackups(const test::TreeSnapshot& before)
    {
        std::vector<std::string> outside;
        for (const std::string& line : test::differences(before, snapshot(home))) {
            const std::string path = line.substr(line.find(' ') + 1);
            const std::string backupPrefix = "Library/Application Support/Huecraft Vireo/Installer-Backups/";
            if (backupPrefix.starts_with(path + "/") || path.starts_with(backupPrefix)) continue;
            outside.push_back(line);
        }
        return outside;
    }
};

TEST_F(FrameTest, AnUnknownIdFailsAfterTheBackupFolderExistsAndChangesNothingElse)
{
    for (const std::string id : {"Huecraft", ""}) {
        SCOPED_TRACE("id \"" + id + "\"");
        test::TempDir fresh;
        const fs::path otherHome = fresh / "home";
        writeFile(otherHome / "Documents/notes.txt", "keep me");
        const test::TreeSnapshot before = snapshot(otherHome);
        RecipeBook book{{"huecraft", twoReplacements()}};
        try {
            runInstallation(book, product(id), payload, temp, otherHome, true);
            FAIL() << "installed";
        } catch (const InstallError& error) {
            EXPECT_EQ(error.message(), "Unbekanntes Produkt.");
            EXPECT_STREQ(error.what(), "Unbekanntes Produkt.");
        }
        EXPECT_EQ(recipeRuns, 0);
        const fs::path installerBackups = otherHome / "Library/Application Support/Huecraft Vireo/Installer-Backups";
        const std::vector<fs::path> folders = test::sortedEntries(installerBackups);
        ASSERT_EQ(folders.size(), 1u);
        EXPECT_TRUE(fs::is_empty(folders[0]));
        EXPECT_EQ(test::modeOf(folders[0]), 0700u);
        const std::string stamp = folders[0].filename().native();
        EXPECT_EQ(test::differences(before, snapshot(otherHome)),
                  (std::vector<std::string>{"added Library", "added Library/Application Support",
                                            "added Library/Application Support/Huecraft Vireo",
                                            "added Library/Application Support/Huecraft Vireo/Installer-Backups",
                                            "added Library/Application Support/Huecraft Vireo/Installer-Backups/"
                                                + stamp}));
    }
}

TEST_F(FrameTest, ASuccessfulRunWritesTheRecordLastAndReturnsIt)
{
    RecipeBook book{{"huecraft", twoReplacements()}};
    const nlohmann::json result = runInstallation(book, product("huecraft"), payload, temp, home, true);
    EXPECT_EQ(recipeRuns, 1);

    const fs::path backupFolder = onlyBackupFolder();
    EXPECT_TRUE(std::regex_match(backupFolder.filename().native(),
                                 std::regex("[0-9]{8}-[0-9]{6}-[0-9]{3}-[0-9A-F]{6}")))
        << backupFolder;
    const nlohmann::json expected = {
        {"product", "Huecraft Vireo"},
        {"version", "1.2.0"},
        {"testHome", true},
        {"backupDirectory", backupFolder.native()},
        {"script", (home / "Scripts/Huecraft_Vireo.py").native()},
    };
    EXPECT_EQ(result, expected);
    EXPECT_TRUE(result["testHome"].is_boolean());

    const std::string written = readText(backupFolder / "INSTALLATION.json");
    EXPECT_EQ(nlohmann::json::parse(written), result);
    EXPECT_EQ(written, jsonData(result));
    EXPECT_EQ(written.find("\\/"), std::string::npos);
    EXPECT_NE(written.find("\"script\": \"" + (home / "Scripts/Huecraft_Vireo.py").native() + "\""), std::string::npos);
    // Keys in sorted order.
    EXPECT_LT(written.find("\"backupDirectory\""), written.find("\"product\""));
    EXPECT_LT(written.find("\"product\""), written.find("\"script\""));
    EXPECT_LT(written.find("\"script\""), written.find("\"testHome\""));
    EXPECT_LT(written.find("\"testHome\""), written.find("\"version\""));

    EXPECT_EQ(readText(home / ".huecraft.json"), "print('new')");
    EXPECT_EQ(readText(backupFolder / ".huecraft.json"), R"({"lut_dir": "~/LUTs"})");
    EXPECT_EQ(test::modeOf(backupFolder / ".huecraft.json"), 0600u);
}

TEST_F(FrameTest, OutsideTestModeTheRecordSaysFalseAsABool)
{
    RecipeBook book{{"huecraft", [](RunContext&) {}}};
    const nlohmann::json result = runInstallation(book, product("huecraft"), payload, temp, home, false);
    ASSERT_TRUE(result["testHome"].is_boolean());
    EXPECT_FALSE(result["testHome"].get<bool>());
    const std::string written = readText(onlyBackupFolder() / "INSTALLATION.json");
    EXPECT_NE(written.find("\"testHome\": false"), std::string::npos) << written;
}

TEST_F(FrameTest, TheRecipeGetsTheWholeRunContext)
{
    bool looked = false;
    RecipeBook book{{"geoweave", [&](RunContext& ctx) {
                         looked = true;
                         EXPECT_EQ(ctx.product.id, "geoweave");
                         EXPECT_EQ(ctx.home, home);
                         EXPECT_EQ(ctx.payload, payload);
                         EXPECT_EQ(ctx.temp, temp);
                         EXPECT_TRUE(ctx.testing);
                         EXPECT_EQ(ctx.applicationSupport, home / "Library/Application Support");
                         EXPECT_EQ(ctx.backupFolder.parent_path(),
                                   home / "Library/Application Support/Geoweave/Installer-Backups");
                         EXPECT_EQ(ctx.transaction.backupRoot(), ctx.backupFolder);
                         EXPECT_TRUE(fs::is_directory(ctx.backupFolder));
                         EXPECT_EQ(ctx.result.size(), 4u);
                         EXPECT_EQ(ctx.result["backupDirectory"], ctx.backupFolder.native());
                         EXPECT_EQ(ctx.launchdDomain, "gui/" + std::to_string(::getuid()));
                         EXPECT_EQ(ctx.launchAgentFile, home / "Library/LaunchAgents/de.geoweave.ofxpath.plist");
                         EXPECT_EQ(ctx.launchAgentLabel, "de.geoweave.ofxpath");
                         EXPECT_FALSE(ctx.launchdChanged);
                         EXPECT_EQ(ctx.previousLaunchdValue, "");
                     }}};
    runInstallation(book, product("geoweave", "Geoweave"), payload, temp, home, true);
    EXPECT_TRUE(looked);
}

TEST_F(FrameTest, TwoRunsLeaveTwoBackupFoldersSideBySide)
{
    RecipeBook book{{"huecraft", twoReplacements()}};
    const nlohmann::json first = runInstallation(book, product("huecraft"), payload, temp, home, true);
    const fs::path firstFolder = first["backupDirectory"].get<std::string>();
    const test::TreeSnapshot firstBackups = snapshot(firstFolder);
    const nlohmann::json second = runInstallation(book, product("huecraft"), payload, temp, home, true);
    const fs::path secondFolder = second["backupDirectory"].get<std::string>();

    EXPECT_NE(firstFolder, secondFolder);
    EXPECT_EQ(firstFolder.parent_path(), backups);
    EXPECT_EQ(secondFolder.parent_path(), backups);
    EXPECT_EQ(snapshot(firstFolder), firstBackups);
    // The second run backed up what the first installed.
    EXPECT_EQ(readText(secondFolder / ".huecraft.json"), "print('new')");
    EXPECT_EQ(nlohmann::json::parse(readText(secondFolder / "INSTALLATION.json")), second);
}

TEST_F(FrameTest, ABackupFolderThatCannotBeCreatedIsReportedUnchangedAndNoRecipeRuns)
{
    writeFile(home / "Library/Application Support", "a file in the way");
    const test::TreeSnapshot before = snapshot(home);
    RecipeBook book{{"huecraft", twoReplacements()}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOTDIR);
        EXPECT_NE(std::string(error.what()).find("Installer-Backups"), std::string::npos) << error.what();
    }
    EXPECT_EQ(recipeRuns, 0);
    EXPECT_TRUE(test::differences(before, snapshot(home)).empty());
}

TEST_F(FrameTest, AnInjectedFolderErrorIsReportedUnchangedAndNoRecipeRuns)
{
    test::FaultInjectingFileManager faulty(real);
    faulty.failWhen([](const test::Operation& op) { return op.name == "createDirectory"; }, EROFS);
    ScopedFileManager useFaulty(faulty);
    RecipeBook book{{"huecraft", twoReplacements()}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EROFS);
        EXPECT_EQ(std::string(error.what()).rfind("cannot (injected) createDirectory \"" + backups.native() + "/", 0),
                  0u)
            << error.what();
    }
    EXPECT_EQ(recipeRuns, 0);
    EXPECT_FALSE(fs::exists(home / "Library"));
}

TEST_F(FrameTest, ARecipeErrorAfterTwoReplacementsIsRethrownAsItIsAndBothAreRestored)
{
    const test::TreeSnapshot before = snapshot(home);
    RecipeBook book{{"huecraft", twoReplacements([](RunContext&) { throw RecipeFailure("LUT-Ordner fehlt"); })}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const RecipeFailure& error) {
        EXPECT_STREQ(error.what(), "LUT-Ordner fehlt");
    }
    EXPECT_EQ(recipeRuns, 1);
    EXPECT_EQ(changesOutsideBackups(before), (std::vector<std::string>{"added Scripts"}));  // created parent stays
    EXPECT_TRUE(fs::is_empty(home / "Scripts"));
    EXPECT_EQ(test::modeOf(home / ".huecraft.json"), 0644u);
    const fs::path backupFolder = onlyBackupFolder();
    EXPECT_FALSE(fs::exists(backupFolder / "INSTALLATION.json"));
    EXPECT_EQ(readText(backupFolder / ".huecraft.json"), R"({"lut_dir": "~/LUTs"})");  // backups stay
}

TEST_F(FrameTest, AnInstallErrorOfTheRecipeKeepsItsMessage)
{
    RecipeBook book{{"huecraft", twoReplacements([](RunContext&) {
                         throw InstallError("Ein Systemschritt ist fehlgeschlagen (launchctl, Code 5). "
                                            "Die Installation wird zurückgesetzt.");
                     })}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(),
                  "Ein Systemschritt ist fehlgeschlagen (launchctl, Code 5). Die Installation wird zurückgesetzt.");
    }
}

TEST_F(FrameTest, AFailingRecordWriteRollsBackAndPassesItsErrorOn)
{
    const test::TreeSnapshot before = snapshot(home);
    test::FaultInjectingFileManager faulty(real);
    faulty.failWhen([](const test::Operation& op) { return op.name == "writeAtomically"; }, ENOSPC);
    ScopedFileManager useFaulty(faulty);
    RecipeBook book{{"huecraft", twoReplacements()}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOSPC);
        EXPECT_EQ(std::string(error.what()).rfind("cannot (injected) writeAtomically \"", 0), 0u) << error.what();
        EXPECT_NE(std::string(error.what()).find("/INSTALLATION.json\""), std::string::npos) << error.what();
    }
    EXPECT_EQ(recipeRuns, 1);
    EXPECT_EQ(changesOutsideBackups(before), (std::vector<std::string>{"added Scripts"}));
    EXPECT_FALSE(fs::exists(onlyBackupFolder() / "INSTALLATION.json"));
}

TEST_F(FrameTest, ARecordThatCannotBeSerialisedRollsBackAndPassesTheJsonErrorOn)
{
    const test::TreeSnapshot before = snapshot(home);
    RecipeBook book{{"huecraft", twoReplacements([](RunContext& ctx) { ctx.result["broken"] = "\xff\xfe"; })}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const nlohmann::json::type_error& error) {
        EXPECT_EQ(error.id, 316);
    }
    EXPECT_EQ(changesOutsideBackups(before), (std::vector<std::string>{"added Scripts"}));
}

TEST_F(FrameTest, WhatRollbackCannotRestoreTurnsTheErrorIntoTheLeftoversMessage)
{
    writeFile(home / "one", "1");
    writeFile(home / "two", "2");
    writeFile(home / "three", "3");
    test::FaultInjectingFileManager faulty(real);
    ScopedFileManager useFaulty(faulty);
    RecipeBook book{{"huecraft", [&](RunContext& ctx) {
                         for (const char* name : {"one", "two", "three"}) {
                             ctx.transaction.replace(ctx.payload / "Huecraft_Vireo.py", ctx.home / name, name);
                         }
                         // From here on the middle item cannot be removed.
                         faulty.failWhen(
                             [&](const test::Operation& op) {
                                 return op.name == "removeItem" && op.path == ctx.home / "two";
                             },
                             EACCES);
                         throw RecipeFailure("not reported");
                     }}};
    try {
        runInstallation(book, product("huecraft"), payload, temp, home, true);
        FAIL() << "installed";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), leftovers + onlyBackupFolder().native());
    }
    EXPECT_EQ(readText(home / "one"), "1");
    EXPECT_EQ(readText(home / "two"), "print('new')");
    EXPECT_EQ(readText(home / "three"), "3");
    EXPECT_EQ(readText(onlyBackupFolder() / "two"), "2");
}

class LaunchdRestoreTest : public FrameTest {
protected:
    RecordingLauncher recorder;
    ScopedLauncher useRecorder{recorder};
    fs::path savedResource = resource;
    fs::path agentFile = home / "Library/LaunchAgents/de.geoweave.ofxpath.plist";
    std::string domain = "gui/" + std::to_string(::getuid());

    void SetUp() override
    {
        FrameTest::SetUp();
        resource = dir / "Installer.app/Contents/Resources";
        writeFile(temp / "new-agent.plist", "<plist>new</plist>", 0644);
    }
    void TearDown() override { resource = savedResource; }

    // The plug-in recipe's shape: agent file replaced, then launchd changed,
    // then the failure.
    void runFailingPluginRecipe(std::string previousValue)
    {
        RecipeBook book{{"geoweave", [&](RunContext& ctx) {
                             ctx.previousLaunchdValue = previousValue;
                             ctx.transaction.replace(ctx.temp / "new-agent.plist", ctx.launchAgentFile,
                                                     "de.geoweave.ofxpath.plist", 0644u);
                             ctx.launchdChanged = true;
                             throw RecipeFailure("bootstrap failed");
                         }}};
        try {
            runInstallation(book, product("geoweave", "Geoweave"), payload, temp, home, false);
            FAIL() << "installed";
        } catch (const RecipeFailure& error) {
            EXPECT_STREQ(error.what(), "bootstrap failed");
        }
    }
};

TEST_F(LaunchdRestoreTest, WithoutAnEarlierAgentOrValueTheServiceIsBootedOutAndTheVariableUnset)
{
    runFailingPluginRecipe("");
    EXPECT_FALSE(fs::exists(fs::symlink_status(agentFile)));
    EXPECT_EQ(recorder.executable, dir / "Installer.app/Contents/Helpers/launchctl");
    EXPECT_EQ(recorder.commands, (std::vector<std::vector<std::string>>{
                                     {"bootout", domain + "/de.geoweave.ofxpath"},
                                     {"unsetenv", "OFX_PLUGIN_PATH"},
                                 }));
}

TEST_F(LaunchdRestoreTest, TheRestoredAgentIsLoadedAgainAndTheEarlierValueSet)
{
    writeFile(agentFile, "<plist>old</plist>", 0644);
    runFailingPluginRecipe("/Library/OFX/Plugins:/Users/me/OFX");
    EXPECT_EQ(readText(agentFile), "<plist>old</plist>");
    EXPECT_EQ(recorder.commands, (std::vector<std::vector<std::string>>{
                                     {"bootout", domain + "/de.geoweave.ofxpath"},
                                     {"bootstrap", domain, agentFile.native()},
                                     {"setenv", "OFX_PLUGIN_PATH", "/Library/OFX/Plugins:/Users/me/OFX"},
                                 }));
}

TEST_F(LaunchdRestoreTest, ALauncherThatCannotStartStillGetsEveryRestoreStepAndTheRecipeErrorStands)
{
    writeFile(agentFile, "<plist>old</plist>", 0644);
    recorder.refuseToStart = true;
    runFailingPluginRecipe("/opt/ofx");
    EXPECT_EQ(recorder.commands.size(), 3u);
}

TEST_F(LaunchdRestoreTest, WithoutTheFlagLaunchdIsLeftAlone)
{
    RecipeBook book{{"geoweave", twoReplacements([](RunContext&) { throw RecipeFailure("early"); })}};
    EXPECT_THROW(runInstallation(book, product("geoweave", "Geoweave"), payload, temp, home, false), RecipeFailure);
    EXPECT_TRUE(recorder.commands.empty());
}

TEST_F(LaunchdRestoreTest, AFailedRecordWriteAfterACompleteLoadRestoresLaunchdToo)
{
    test::FaultInjectingFileManager faulty(real);
    faulty.failWhen([](const test::Operation& op) { return op.name == "writeAtomically"; }, EIO);
    ScopedFileManager useFaulty(faulty);
    RecipeBook book{{"geoweave", [](RunContext& ctx) {
                         ctx.transaction.replace(ctx.temp / "new-agent.plist", ctx.launchAgentFile,
                                                 "de.geoweave.ofxpath.plist", 0644u);
                         ctx.launchdChanged = true;
                     }}};
    EXPECT_THROW(runInstallation(book, product("geoweave", "Geoweave"), payload, temp, home, false),
                 std::system_error);
    EXPECT_EQ(recorder.commands, (std::vector<std::vector<std::string>>{
                                     {"bootout", domain + "/de.geoweave.ofxpath"},
                                     {"unsetenv", "OFX_PLUGIN_PATH"},
                                 }));
}

TEST_F(FrameTest, ANameThatIsEmptyOrStartsWithASlashKeepsTheBackupsBelowTheHome)
{
    RecipeBook book{{"huecraft", [](RunContext&) {}}};
    for (const std::string name : {"", "/Huecraft"}) {
        SCOPED_TRACE("name \"" + name + "\"");
        const nlohmann::json result = runInstallation(book, product("huecraft", name), payload, temp, home, true);
        const std::string folder = result["backupDirectory"];
        EXPECT_TRUE(folder.starts_with(home.native() + "/Library/Application Support/" + name + "/Installer-Backups/"))
            << folder;
        EXPECT_TRUE(fs::exists(fs::path(folder) / "INSTALLATION.json"));
    }
}

}  // namespace
}  // namespace kb
