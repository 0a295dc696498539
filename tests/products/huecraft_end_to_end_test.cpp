// The demo Huecraft installer run as a user would, with --test-home on a
// marked folder and its own temporary folder.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class HuecraftEndToEnd : public ::testing::Test {
protected:
    TempDir root;
    const fs::path bundle = builtBinaryDir() / "demo/Huecraft.app";
    const fs::path payloadRuntime = sourceDir() / "demo/huecraft/Huecraft-Payload/Runtime";
    const fs::path home = root / "home";
    const fs::path tmp = root / "tmp";
    fs::path appSupport;
    fs::path settingsFile;

    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(bundleResources(bundle) / "payload.zip")) << bundle;
        fs::create_directories(home);
        fs::create_directories(tmp);
        writeFile(home / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
        appSupport = fs::canonical(home) / "Library/Application Support";
        settingsFile = fs::canonical(home) / ".huecraft_vireo.json";
    }

    ProgramRun installer() const
    {
        RunOptions options;
        options.environment["TMPDIR"] = tmp.native();
        return runProgram(bundleProgram(bundle), {"--test-home", home.native()}, options);
    }

    // A successful run's printed record.
    json install() const
    {
        const ProgramRun run = installer();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return json::parse(run.out);
    }

    std::vector<fs::path> backupFolders() const
    {
        return sortedEntries(appSupport / "Huecraft Vireo/Installer-Backups");
    }
};

TEST_F(HuecraftEndToEnd, AFirstInstallationIntoAnEmptyTestFolder)
{
    const json result = install();

    const fs::path runtime = appSupport / "Huecraft/Runtime-1.2.0b2";
    const fs::path colorScripts = appSupport / "Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color";
    const fs::path lut = appSupport / "Huecraft/LUT";
    ASSERT_EQ(backupFolders().size(), 1u);
    EXPECT_EQ(result, json({{"product", "Huecraft Vireo"},
                            {"version", "1.2.0b2"},
                            {"testHome", true},
                            {"backupDirectory", backupFolders()[0].string()},
                            {"languageFiles", json::array({(colorScripts / "huecraft_ui_language.py").string(),
                                                           (colorScripts / "huecraft_ui_catalog.json").string()})},
                            {"runtime", runtime.string()},
                            {"script", (colorScripts / "Huecraft_Vireo.py").string()},
                            {"lutDirectory", lut.string()},
                            {"lutFolderRegistrationMayBeRequired", true}}));
    std::vector<std::string> paths{result["backupDirectory"], result["runtime"], result["script"],
                                   result["lutDirectory"]};
    for (const json& file : result["languageFiles"]) paths.push_back(file);
    for (const std::string& path : paths) {
        EXPECT_TRUE(path.starts_with(fs::canonical(home).native() + "/")) << path;
        EXPECT_TRUE(fs::exists(path)) << path;
    }

    EXPECT_EQ(snapshot(runtime), snapshot(payloadRuntime));
    EXPECT_EQ(readText(colorScripts / "Huecraft_Vireo.py"), readText(payloadRuntime / "resolve/Huecraft_Vireo.py"));
    EXPECT_EQ(readText(settingsFile),
              "{\n"
              "  \"ai_backend\": \"api\",\n"
              "  \"ai_provider\": \"vireo\",\n"
              "  \"engine_dir\": \"" + runtime.string() + "\",\n"
              "  \"lut_dir\": \"" + lut.string() + "\",\n"
              "  \"method\": \"banded\",\n"
              "  \"mode\": \"color\",\n"
              "  \"node_index\": 1,\n"
              "  \"python\": \"" + (runtime / "runtime/huecraft-engine").string() + "\",\n"
              "  \"strength\": 0.65,\n"
              "  \"use_ai\": true,\n"
              "  \"use_vision\": true\n"
              "}");
    EXPECT_EQ(modeOf(settingsFile), 0600u);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(lut)));
    EXPECT_EQ(json::parse(readText(backupFolders()[0] / "INSTALLATION.json")), result);
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(HuecraftEndToEnd, ASecondInstallationBacksUpTheFirstAndKeepsTheUsersSettings)
{
    const json first = install();
    const fs::path runtime = first["runtime"].get<std::string>();
    const fs::path colorScripts = fs::path(first["script"].get<std::string>()).parent_path();
    // The user changes two defaults and adds keys of their own.
    json settings = json::parse(readText(settingsFile));
    settings["strength"] = 0.3;
    settings["use_ai"] = false;
    settings["theme"] = "dunkel";
    settings["recent"] = {{{"clip", "Straße/01.mov"}, {"frames", 9007199254740993}}};
    const std::string edited = settings.dump(4);
    writeFile(settingsFile, edited, 0600);
    writeFile(runtime / "cache/user.bin", "cached\n");
    const TreeSnapshot firstRuntime = snapshot(runtime);
    const TreeSnapshot firstBackup = snapshot(first["backupDirectory"].get<std::string>());

    const json second = install();

    ASSERT_EQ(backupFolders().size(), 2u);
    const fs::path backup = second["backupDirectory"].get<std::string>();
    EXPECT_NE(backup, fs::path(first["backupDirectory"].get<std::string>()));
    EXPECT_EQ(snapshot(first["backupDirectory"].get<std::string>()), firstBackup);
    EXPECT_EQ(snapshot(backup / "Runtime-1.2.0b2"), firstRuntime);
    for (const char* name : {"Huecraft_Vireo.py", "huecraft_ui_language.py", "huecraft_ui_catalog.json"}) {
        EXPECT_EQ(readText(backup / name), readText(payloadRuntime / "resolve" / name)) << name;
    }
    EXPECT_EQ(readText(backup / "huecraft-config.json"), edited);
    EXPECT_EQ(modeOf(backup / "huecraft-config.json"), 0600u);
    EXPECT_EQ(json::parse(readText(backup / "INSTALLATION.json")), second);

    EXPECT_EQ(snapshot(runtime), snapshot(payloadRuntime));
    EXPECT_EQ(json::parse(readText(settingsFile)), settings);
    EXPECT_EQ(modeOf(settingsFile), 0600u);
    EXPECT_EQ(second["lutDirectory"], first["lutDirectory"]);
}

TEST_F(HuecraftEndToEnd, ARefusedRunReportsOneLineAndLeavesTheSettingsAlone)
{
    const std::string text = "{\"lut_dir\": \"Grading/LUTs\"}\n";
    writeFile(settingsFile, text, 0644);
    const ProgramRun run = installer();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Installation abgebrochen: Der vorhandene LUT-Ordner ist kein absoluter Pfad. "
                       "Einstellungen wurden nicht verändert.\n");
    EXPECT_EQ(readText(settingsFile), text);
    EXPECT_EQ(modeOf(settingsFile), 0644u);
    EXPECT_FALSE(fs::exists(appSupport / "Huecraft"));
    EXPECT_TRUE(fs::is_empty(backupFolders().at(0)));
}

TEST_F(HuecraftEndToEnd, AnUnprivilegedUserCannotUseALutFolderBelowAFolderOfRoot)
{
    const fs::path media = root / "media";
    fs::create_directories(media);
    fs::permissions(media, fs::perms(0755));
    const std::string text = json({{"lut_dir", (media / "LUTs").string()}, {"theme", "dunkel"}}).dump();
    writeFile(settingsFile, text, 0600);
    giveToNobody(home, root.path());
    giveToNobody(tmp, root.path());

    RunOptions options;
    options.environment["TMPDIR"] = tmp.native();
    const ProgramRun run = runUnprivileged(bundleProgram(bundle), {"--test-home", home.native()}, options);

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Installation abgebrochen: Der vorhandene LUT-Ordner ist nicht schreibbar. Bitte die "
                       "Ordnerrechte prüfen oder einen eigenen LUT-Ordner in Huecraft einrichten. Bestehende "
                       "Einstellungen bleiben erhalten.\n");
    EXPECT_EQ(readText(settingsFile), text);
    EXPECT_TRUE(fs::is_empty(media));
    EXPECT_FALSE(fs::exists(appSupport / "Huecraft"));
    EXPECT_FALSE(fs::exists(appSupport / "Blackmagic Design"));
}

}  // namespace
}  // namespace kb::test
