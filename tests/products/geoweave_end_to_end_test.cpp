// The demo Geoweave installer run as a user would, with --test-home on a
// marked folder, from a copy of the bundle whose launchctl only records
// that it was called.

#include "tests/products/geoweave_fixture.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

using nlohmann::json;

class GeoweaveEndToEnd : public ::testing::Test {
protected:
    TempDir root;
    const fs::path bundle = root / "Geoweave.app";
    const fs::path commandLog = root / "launchctl.log";
    const fs::path payloadBundle = sourceDir() / "demo/geoweave/Geoweave-Payload/Geoweave.ofx.bundle";
    const fs::path home = root / "home";
    const fs::path tmp = root / "tmp";
    fs::path ofx;
    fs::path plugin;
    fs::path agentFile;

    void SetUp() override
    {
        const fs::path built = builtBinaryDir() / "demo/Geoweave.app";
        ASSERT_TRUE(fs::exists(bundleResources(built) / "payload.zip")) << built;
        fs::copy(built, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::remove(bundle / "Contents/Helpers/launchctl");
        writeFile(bundle / "Contents/Helpers/launchctl",
                  "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + commandLog.native() + "'\n", 0755);
        fs::create_directories(home);
        fs::create_directories(tmp);
        writeFile(home / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
        ofx = fs::canonical(home) / "OFX";
        plugin = ofx / "Geoweave.ofx.bundle";
        agentFile = fs::canonical(home) / "Library/LaunchAgents/de.geoweave.ofxpath.plist";
    }

    json install() const
    {
        RunOptions options;
        options.environment["TMPDIR"] = tmp.native();
        options.environment["OFX_PLUGIN_PATH"] = "/from/the/environment";
        const ProgramRun run = runProgram(bundleProgram(bundle), {"--test-home", home.native()}, options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return json::parse(run.out);
    }

    std::vector<fs::path> backupFolders() const
    {
        return sortedEntries(fs::canonical(home) / "Library/Application Support/Geoweave/Installer-Backups");
    }
};

TEST_F(GeoweaveEndToEnd, TheRecordingStandInRecordsWhenCalled)
{
    // Proves the log below would show a call.
    ProgramRun run = runProgram(bundle / "Contents/Helpers/launchctl", {"getenv", "OFX_PLUGIN_PATH"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readText(commandLog), "getenv OFX_PLUGIN_PATH\n");
}

TEST_F(GeoweaveEndToEnd, AFirstInstallationRunsNoLaunchctlAndSetsTheOfxFolderAlone)
{
    const json result = install();

    EXPECT_FALSE(fs::exists(commandLog));
    ASSERT_EQ(backupFolders().size(), 1u);
    EXPECT_EQ(result, json({{"product", "Geoweave"},
                            {"version", "2.4.1"},
                            {"testHome", true},
                            {"backupDirectory", backupFolders().front().native()},
                            {"plugin", plugin.native()},
                            {"launchAgent", agentFile.native()},
                            {"existingSearchPathsPreserved", true}}));
    EXPECT_EQ(readText(agentFile), launchAgentPropertyList("de.geoweave.ofxpath", ofx.native()));
    EXPECT_EQ(modeOf(agentFile), 0644u);
    EXPECT_EQ(readAgentContent(readText(agentFile)).programArguments,
              (std::vector<std::string>{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", ofx.native()}));
    EXPECT_EQ(snapshot(plugin), snapshot(payloadBundle));
    EXPECT_EQ(json::parse(readText(backupFolders().front() / "INSTALLATION.json")), result);
}

TEST_F(GeoweaveEndToEnd, ASecondInstallationBacksUpBundleAndAgentAndKeepsTheEarlierSearchPath)
{
    install();
    // The user's own edit of the search path, with the OFX folder in the middle.
    const std::string earlierValue = "/Volumes/Fx/OFX:" + ofx.native() + ":/opt/ofx";
    const std::string earlierAgent = launchAgentPropertyList("de.geoweave.ofxpath", earlierValue);
    writeFile(agentFile, earlierAgent, 0644);
    writeFile(plugin / "Contents/Resources/presets/user.json", "{}\n");
    const TreeSnapshot earlierBundle = snapshot(plugin);

    install();

    EXPECT_FALSE(fs::exists(commandLog));
    ASSERT_EQ(backupFolders().size(), 2u);
    const fs::path backup = backupFolders().back();
    EXPECT_EQ(readText(backup / "de.geoweave.ofxpath.plist"), earlierAgent);
    EXPECT_EQ(snapshot(backup / "Geoweave.ofx.bundle"), earlierBundle);
    EXPECT_EQ(snapshot(plugin), snapshot(payloadBundle));
    EXPECT_EQ(readText(agentFile), launchAgentPropertyList("de.geoweave.ofxpath", earlierValue));
    EXPECT_EQ(modeOf(agentFile), 0644u);
}

}  // namespace
}  // namespace kb::test
