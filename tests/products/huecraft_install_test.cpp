#include "tests/products/huecraft_fixture.h"

#include "fileops/file_helpers.h"

namespace kb::test {
namespace {

using nlohmann::json;

// The settings file the installer writes into an empty home, byte for byte.
std::string freshSettings(const fs::path& runtime, const fs::path& lut)
{
    return "{\n"
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
           "}";
}

json settingsOnDisk(const fs::path& file)
{
    return json::parse(readText(file));
}

TEST_F(HuecraftInstall, AFirstInstallationPutsEveryItemInPlaceAndWritesNewSettings)
{
    const json result = install();

    ASSERT_EQ(backupFolders().size(), 1u);
    const fs::path backup = backupFolders()[0];
    EXPECT_EQ(result, json({{"product", "Huecraft"},
                            {"version", "1.2.0b2"},
                            {"testHome", true},
                            {"backupDirectory", backup.string()},
                            {"languageFiles", json::array({(colorScripts / "huecraft_ui_language.py").string(),
                                                           (colorScripts / "huecraft_ui_catalog.json").string()})},
                            {"runtime", runtime.string()},
                            {"script", (colorScripts / "Huecraft_Vireo.py").string()},
                            {"lutDirectory", defaultLut.string()},
                            {"lutFolderRegistrationMayBeRequired", true}}));

    EXPECT_EQ(snapshot(runtime), snapshot(payload / "Runtime"));
    for (const char* name : {"Huecraft_Vireo.py", "huecraft_ui_language.py", "huecraft_ui_catalog.json"}) {
        EXPECT_EQ(readText(colorScripts / name), readText(payload / "Runtime/resolve" / name)) << name;
        EXPECT_EQ(modeOf(colorScripts / name), 0644u) << name;
    }
    EXPECT_EQ(readText(settingsFile), freshSettings(runtime, defaultLut));
    EXPECT_EQ(modeOf(settingsFile), 0600u);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(defaultLut)));
    EXPECT_TRUE(fs::is_empty(defaultLut));

    // Nothing was there to back up; the record is the last thing written.
    EXPECT_EQ(snapshot(backup).size(), 1u);
    EXPECT_EQ(json::parse(readText(backup / "INSTALLATION.json")), result);
    for (const auto& [path, state] : snapshot(home)) {
        EXPECT_EQ(path.find(".kestrelbay-install-"), std::string::npos) << path;
    }
}

TEST_F(HuecraftInstall, AnOlderInstallationIsBackedUpUnderItsLabelsAndTheUsersSettingsAreKept)
{
    installOlderVersion();
    writeFile(appSupport / "Huecraft/Runtime-1.1.0/engine", "old engine\n", 0755);
    const std::string oldSettings = R"({"use_ai": false, "strength": 0.3, "theme": "dunkel",
        "engine_dir": "/Applications/Huecraft", "python": "/usr/bin/python3", "history": [1, 2.5, "drei"]})";
    writeSettings(oldSettings, 0644);
    const TreeSnapshot oldRuntime = snapshot(runtime);
    const TreeSnapshot otherRuntime = snapshot(appSupport / "Huecraft/Runtime-1.1.0");

    const json result = install();
    const fs::path backup = result.at("backupDirectory").get<std::string>();

    EXPECT_EQ(snapshot(backup / "Runtime-1.2.0b2"), oldRuntime);
    EXPECT_EQ(readText(backup / "Huecraft_Vireo.py"), "print('Huecraft Vireo 1.1')\n");
    EXPECT_EQ(modeOf(backup / "Huecraft_Vireo.py"), 0640u);
    EXPECT_EQ(readText(backup / "huecraft_ui_language.py"), "LANGUAGE = 'en'\n");
    EXPECT_EQ(readText(backup / "huecraft_ui_catalog.json"), "{}\n");
    EXPECT_EQ(readText(backup / "huecraft-config.json"), oldSettings);
    EXPECT_EQ(modeOf(backup / "huecraft-config.json"), 0600u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(backup)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Huecraft_Vireo.py", "INSTALLATION.json", "Runtime-1.2.0b2",
                                               "huecraft-config.json", "huecraft_ui_catalog.json",
                                               "huecraft_ui_language.py"}));

    EXPECT_EQ(snapshot(runtime), snapshot(payload / "Runtime"));
    EXPECT_EQ(readText(colorScripts / "Huecraft_Vireo.py"), "print('Huecraft Vireo 1.2.0b2')\n");
    EXPECT_EQ(snapshot(appSupport / "Huecraft/Runtime-1.1.0"), otherRuntime);
    json expected = json::parse(R"({"use_ai": false, "strength": 0.3, "theme": "dunkel",
        "history": [1, 2.5, "drei"], "ai_backend": "api", "ai_provider": "vireo", "use_vision": true,
        "node_index": 1, "method": "banded", "mode": "color"})");
    expected["engine_dir"] = runtime.string();
    expected["python"] = (runtime / "runtime/huecraft-engine").string();
    expected["lut_dir"] = defaultLut.string();
    EXPECT_EQ(settingsOnDisk(settingsFile), expected);
    EXPECT_EQ(modeOf(settingsFile), 0600u);
}

TEST_F(HuecraftInstall, AHomeRelativeLutFolderIsCreatedInTheHomeAndWrittenBackAbsolute)
{
    writeSettings(R"({"lut_dir": "~/Grading/Meine LUTs"})");
    const json result = install();
    const fs::path lut = home / "Grading/Meine LUTs";
    EXPECT_EQ(result.at("lutDirectory"), lut.string());
    EXPECT_TRUE(fs::is_directory(lut));
    EXPECT_EQ(settingsOnDisk(settingsFile).at("lut_dir"), lut.string());
    EXPECT_FALSE(fs::exists(defaultLut));

    writeSettings(R"({"lut_dir": "~"})");
    EXPECT_EQ(install().at("lutDirectory"), home.string());
    EXPECT_EQ(settingsOnDisk(settingsFile).at("lut_dir"), home.string());
}

TEST_F(HuecraftInstall, AnExistingAbsoluteLutFolderIsUsedAndKeepsItsContent)
{
    writeFile(dir / "media/LUTs/film.cube", "LUT_3D_SIZE 2\n", 0600);
    writeSettings(json({{"lut_dir", (dir / "media/LUTs").string()}}).dump());
    EXPECT_EQ(install().at("lutDirectory"), (dir / "media/LUTs").string());
    EXPECT_EQ(readText(dir / "media/LUTs/film.cube"), "LUT_3D_SIZE 2\n");
    EXPECT_EQ(modeOf(dir / "media/LUTs/film.cube"), 0600u);
    EXPECT_EQ(settingsOnDisk(settingsFile).at("lut_dir"), (dir / "media/LUTs").string());
}

TEST_F(HuecraftInstall, ARelativeLutFolderStopsTheRunAndLeavesTheSettingsByteForByte)
{
    for (const std::string lut : {"LUTs", "./Grading/LUTs", "~someone/LUTs", "~LUTs", " /LUTs"}) {
        const std::string text = "{\"lut_dir\":\"" + lut + "\",  \"theme\" : \"dunkel\"}\n";
        writeSettings(text, 0640);
        const TreeSnapshot before = homeWithoutBackups();
        EXPECT_EQ(failure(), lutNotAbsolute) << lut;
        EXPECT_EQ(readText(settingsFile), text);
        EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{}) << lut;
        EXPECT_FALSE(fs::exists(temp / "new-config.json"));
    }
    for (const fs::path& backup : backupFolders()) EXPECT_TRUE(fs::is_empty(backup));
}

TEST_F(HuecraftInstall, ALutFolderWithANulByteIsRefusedInsteadOfCutShort)
{
    // The system would stop reading the path at the NUL and create the
    // folder before it, while the settings named another one.
    const std::string text = json({{"lut_dir", (home / "LUT").string() + std::string(1, '\0') + "x"}}).dump();
    writeSettings(text);
    EXPECT_EQ(failure(), lutNotAbsolute);
    EXPECT_FALSE(fs::exists(home / "LUT"));
    EXPECT_EQ(readText(settingsFile), text);
}

TEST_F(HuecraftInstall, AnEmptyOrNonTextLutFolderFallsBackToTheDefault)
{
    for (const std::string value : {"\"\"", "42", "null", "true", "[\"/LUTs\"]", "{\"path\": \"/LUTs\"}"}) {
        writeSettings("{\"lut_dir\": " + value + ", \"strength\": 0.8}");
        const json result = install();
        EXPECT_EQ(result.at("lutDirectory"), defaultLut.string()) << value;
        const json settings = settingsOnDisk(settingsFile);
        EXPECT_EQ(settings.at("lut_dir"), defaultLut.string()) << value;
        EXPECT_EQ(settings.at("strength"), 0.8) << value;
    }
    EXPECT_TRUE(fs::is_directory(defaultLut));
}

TEST_F(HuecraftInstall, UnreadableSettingsStopTheRunBeforeAnythingChanges)
{
    const std::vector<std::string> unreadable = {"", "[{\"lut_dir\": \"/LUTs\"}]", "{\"theme\": \"dunkel\",",
                                                 "{\"theme\": \"\xe4\"}", "{\"n\": 18446744073709551616}"};
    for (const std::string& text : unreadable) {
        writeSettings(text, 0640);
        const TreeSnapshot before = homeWithoutBackups();
        EXPECT_EQ(failure(), unreadableSettings) << text;
        EXPECT_EQ(readText(settingsFile), text);
        EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{}) << text;
    }
    fs::remove(settingsFile);
    fs::create_directory(settingsFile);
    writeFile(settingsFile / "inside.json", "{}");
    const TreeSnapshot before = homeWithoutBackups();
    EXPECT_EQ(failure(), unreadableSettings);
    EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(runtime));
    EXPECT_FALSE(fs::exists(defaultLut));
}

TEST_F(HuecraftInstall, ASettingsLinkIsReadThroughBackedUpAsALinkAndReplacedByAFile)
{
    const fs::path target = dir / "dotfiles/huecraft.json";
    const std::string targetText = R"({"theme": "dunkel", "lut_dir": "~/LUTs"})";
    writeFile(target, targetText, 0640);
    makeLink("../dotfiles/huecraft.json", settingsFile);

    const json result = install();
    const fs::path backup = result.at("backupDirectory").get<std::string>();

    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(settingsFile)));
    EXPECT_EQ(modeOf(settingsFile), 0600u);
    const json settings = settingsOnDisk(settingsFile);
    EXPECT_EQ(settings.at("theme"), "dunkel");
    EXPECT_EQ(settings.at("lut_dir"), (home / "LUTs").string());
    EXPECT_TRUE(fs::is_symlink(backup / "huecraft-config.json"));
    EXPECT_EQ(fs::read_symlink(backup / "huecraft-config.json"), "../dotfiles/huecraft.json");
    EXPECT_EQ(readText(target), targetText);
    EXPECT_EQ(modeOf(target), 0640u);
}

}  // namespace
}  // namespace kb::test
