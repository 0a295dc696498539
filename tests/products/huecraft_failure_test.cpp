#include "tests/products/huecraft_fixture.h"

#include "tests/support/fault_injecting_file_manager.h"

#include <cerrno>

namespace kb::test {
namespace {

using nlohmann::json;

class HuecraftFailure : public HuecraftInstall {
protected:
    FaultInjectingFileManager faulty{real};
    ScopedFileManager faultyScope{faulty};

    void failCopyOf(const fs::path& source)
    {
        faulty.failWhen([source](const Operation& op) { return op.name == "copyItem" && op.path == source; }, EIO);
    }
};

TEST_F(HuecraftFailure, ALutFolderBelowAReadOnlyFolderStopsTheRunBeforeAnythingIsInstalled)
{
    const fs::path readOnly = dir / "media/readonly";
    fs::create_directories(readOnly);
    writeSettings(json({{"lut_dir", (readOnly / "LUTs/2024").string()}}).dump(), 0640);
    faulty.failWhen([readOnly](const Operation& op) { return op.name == "isWritable" && op.path == readOnly; },
                    EACCES);
    const TreeSnapshot before = homeWithoutBackups();

    EXPECT_EQ(failure(), lutNotWritable);
    EXPECT_TRUE(faulty.injected());
    EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(readOnly / "LUTs"));
    EXPECT_TRUE(fs::is_empty(temp));
    ASSERT_EQ(backupFolders().size(), 1u);
    EXPECT_TRUE(fs::is_empty(backupFolders()[0]));
}

TEST_F(HuecraftFailure, TheDefaultLutFolderIsCheckedTheSameWay)
{
    // The frame has created Application Support/Huecraft for its backups by
    // then: that is the nearest existing folder of the default LUT folder.
    const fs::path huecraft = appSupport / "Huecraft";
    faulty.failWhen([huecraft](const Operation& op) { return op.name == "isWritable" && op.path == huecraft; },
                    EACCES);
    EXPECT_EQ(failure(), lutNotWritable);
    EXPECT_TRUE(faulty.injected());
    EXPECT_FALSE(fs::exists(defaultLut));
    EXPECT_FALSE(fs::exists(runtime));
    EXPECT_FALSE(fs::exists(settingsFile));
}

TEST_F(HuecraftFailure, ALutFolderThatIsAFileFailsAtItsCreationWithNothingReplaced)
{
    const fs::path lutFile = dir / "media/LUTs";
    writeFile(lutFile, "not a folder\n");
    installOlderVersion();
    const std::string text = json({{"lut_dir", lutFile.string()}}).dump();
    writeSettings(text);
    const TreeSnapshot before = homeWithoutBackups();

    EXPECT_EQ(failure(), "cannot create folder \"" + lutFile.string() + "\": Not a directory");
    EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{});
    EXPECT_EQ(readText(lutFile), "not a folder\n");
    EXPECT_EQ(readText(settingsFile), text);
    // The merged settings were already written to the scratch folder.
    EXPECT_EQ(modeOf(temp / "new-config.json"), 0600u);
    EXPECT_TRUE(fs::is_empty(backupFolders()[0]));
}

TEST_F(HuecraftFailure, AFailedSettingsReplacementRestoresEverythingAlreadyReplaced)
{
    installOlderVersion();
    const std::string oldSettings = R"({"theme": "dunkel"})";
    writeSettings(oldSettings, 0644);
    const TreeSnapshot before = homeWithoutBackups();
    failCopyOf(temp / "new-config.json");

    EXPECT_EQ(failure(), "cannot (injected) copyItem \"" + (temp / "new-config.json").string() +
                             "\": Input/output error");
    EXPECT_TRUE(faulty.injected());
    // Everything is back as it was; only the LUT folder stays.
    EXPECT_EQ(differences(before, homeWithoutBackups()),
              std::vector<std::string>{"added Library/Application Support/Huecraft/LUT"});
    EXPECT_EQ(readText(settingsFile), oldSettings);

    const fs::path backup = backupFolders().at(0);
    EXPECT_TRUE(fs::exists(backup / "Runtime-1.2.0b2/obsolete.py"));
    EXPECT_EQ(readText(backup / "Huecraft_Vireo.py"), "print('Huecraft Vireo 1.1')\n");
    EXPECT_FALSE(fs::exists(backup / "huecraft-config.json"));
    EXPECT_FALSE(fs::exists(backup / "INSTALLATION.json"));
}

TEST_F(HuecraftFailure, AFailureAfterTheSettingsWereRecordedRestoresThemWithTheirMode)
{
    installOlderVersion();
    const std::string oldSettings = R"({"strength": 0.25})";
    writeSettings(oldSettings, 0644);
    const TreeSnapshot before = homeWithoutBackups();
    const fs::path settings = settingsFile;
    faulty.failWhen([settings](const Operation& op) { return op.name == "exchangeItems" && op.other == settings; },
                    EIO);

    const std::string error = failure();
    const std::string start = "cannot (injected) exchangeItems \"" + home.string() + "/.kestrelbay-install-";
    EXPECT_EQ(error.substr(0, start.size()), start);
    EXPECT_TRUE(error.ends_with("\": Input/output error")) << error;
    EXPECT_TRUE(faulty.injected());
    EXPECT_EQ(differences(before, homeWithoutBackups()),
              std::vector<std::string>{"added Library/Application Support/Huecraft/LUT"});
    EXPECT_EQ(readText(settingsFile), oldSettings);
    EXPECT_EQ(modeOf(settingsFile), 0644u);
    EXPECT_EQ(readText(backupFolders().at(0) / "huecraft-config.json"), oldSettings);
}

TEST_F(HuecraftFailure, AFailedFirstInstallationLeavesOnlyTheCreatedFolders)
{
    failCopyOf(payload / "Runtime/resolve/huecraft_ui_catalog.json");

    EXPECT_EQ(failure(), "cannot (injected) copyItem \"" +
                             (payload / "Runtime/resolve/huecraft_ui_catalog.json").string() +
                             "\": Input/output error");
    EXPECT_EQ(differences(TreeSnapshot{}, homeWithoutBackups()),
              (std::vector<std::string>{"added Library/Application Support/Blackmagic Design",
                                        "added Library/Application Support/Blackmagic Design/DaVinci Resolve",
                                        "added Library/Application Support/Blackmagic Design/DaVinci Resolve/Fusion",
                                        "added Library/Application Support/Blackmagic Design/DaVinci Resolve/Fusion/"
                                        "Scripts",
                                        "added Library/Application Support/Blackmagic Design/DaVinci Resolve/Fusion/"
                                        "Scripts/Color",
                                        "added Library/Application Support/Huecraft/LUT"}));
    EXPECT_TRUE(fs::is_empty(colorScripts));
    EXPECT_FALSE(fs::exists(settingsFile));
}

}  // namespace
}  // namespace kb::test
