// The geoweave recipe outside test mode: the launchctl commands it runs,
// their order, and how a failure puts launchd back.

#include "tests/products/geoweave_fixture.h"

#include "tests/support/fault_injecting_file_manager.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

TEST_F(GeoweaveInstall, ACleanInstallationRunsGetenvBootoutBootstrapSetenvInThisOrder)
{
    nlohmann::json result = install(false);

    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(ofx.native())}));
    for (const fs::path& executable : recorder.executables) EXPECT_EQ(executable, launchctl);
    EXPECT_EQ(result.at("testHome"), false);
    EXPECT_EQ(result.at("existingSearchPathsPreserved"), true);
    EXPECT_EQ(agent().programArguments,
              (std::vector<std::string>{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", ofx.native()}));
    EXPECT_EQ(modeOf(agentFile), 0644u);
    EXPECT_TRUE(fs::exists(plugin / "Contents/Info.plist"));
    EXPECT_TRUE(fs::exists(backupFolders().front() / "INSTALLATION.json"));
}

TEST_F(GeoweaveInstall, TheSearchPathKeepsLaunchdsThenTheEnvironmentsThenTheEarlierAgentsFolders)
{
    answer("getenv", 0, "  /Volumes/Fx/OFX:/opt/ofx \n");
    ownSearchPath.set("/opt/ofx:/env/one::/Volumes/Fx/OFX");
    earlierInstallation("/agent/one:/env/one:~/OFX");

    install(false);

    const std::string value = "/Volumes/Fx/OFX:/opt/ofx:/env/one:/agent/one:~/OFX:" + ofx.native();
    EXPECT_EQ(agent().programArguments.at(3), value);
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(value)}));
}

TEST_F(GeoweaveInstall, TheOfxFolderAlreadyOnTheSearchPathKeepsItsPosition)
{
    answer("getenv", 0, "/a:" + ofx.native() + ":/b\n");
    install(false);
    const std::string value = "/a:" + ofx.native() + ":/b";
    EXPECT_EQ(agent().programArguments.at(3), value);
    EXPECT_EQ(recorder.commands.back(), setenv(value));
}

TEST_F(GeoweaveInstall, GetenvPrintingBlanksAndLineBreaksOnlyCountsAsNoValue)
{
    answer("getenv", 0, " \n\t\r\n");
    // Fails after the load, so the restore shows which value was kept.
    answer("setenv", 1);
    EXPECT_EQ(failure(false),
              "Ein Systemschritt ist fehlgeschlagen (launchctl, Code 1). Die Installation wird zurückgesetzt.");
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(ofx.native()),
                                                       bootout(), unsetenv()}));
}

TEST_F(GeoweaveInstall, AFailingGetenvContributesNoneOfWhatItPrinted)
{
    answer("getenv", 1, "Could not get environment variable.\n");
    install(false);
    EXPECT_EQ(agent().programArguments.at(3), ofx.native());
    EXPECT_EQ(recorder.commands.back(), setenv(ofx.native()));
}

TEST_F(GeoweaveInstall, AGetenvThatCannotBeStartedStopsTheRunBeforeAnythingChanges)
{
    recorder.unstartable = {"getenv"};
    TreeSnapshot before = snapshot(home);
    EXPECT_EQ(failure(false), "posix_spawn " + launchctl.native() + ": No such file or directory");
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv()}));
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
}

TEST_F(GeoweaveInstall, AFailingBootoutDoesNotStopTheLoad)
{
    answer("bootout", 3, "Boot-out failed: 3: No such process\n");
    install(false);
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(ofx.native())}));
    EXPECT_TRUE(fs::exists(agentFile));
}

TEST_F(GeoweaveInstall, AFailedBootstrapWithoutEarlierAgentOrValueUnloadsAndUnsets)
{
    answer("bootstrap", 5, "Bootstrap failed: 5: Input/output error\n");
    TreeSnapshot before = snapshot(home);

    EXPECT_EQ(failure(false), systemStepFailed5);

    EXPECT_EQ(recorder.commands,
              (std::vector<Command>{getenv(), bootout(), bootstrap(), bootout(), unsetenv()}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(agentFile)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(plugin)));
    EXPECT_EQ(changesOutsideBackups(before), (std::vector<std::string>{"added Library/LaunchAgents", "added OFX"}));
    EXPECT_FALSE(fs::exists(backupFolders().front() / "INSTALLATION.json"));
}

TEST_F(GeoweaveInstall, AFailedBootstrapWithEarlierAgentAndValueLoadsTheRestoredAgentAndSetsTheValue)
{
    earlierInstallation("/old/OFX:" + ofx.native());
    answer("getenv", 0, "/old/OFX:" + ofx.native() + "\n");
    answer("bootstrap", 5);
    const std::string earlierAgent = readText(agentFile);
    TreeSnapshot before = snapshot(home);

    EXPECT_EQ(failure(false), systemStepFailed5);

    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), bootout(), bootstrap(),
                                                       setenv("/old/OFX:" + ofx.native())}));
    EXPECT_EQ(readText(agentFile), earlierAgent);
    EXPECT_EQ(modeOf(agentFile), 0600u);
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 1.0</plist>\n");
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
}

TEST_F(GeoweaveInstall, AFailedSetenvRestoresToo)
{
    answer("getenv", 0, "/prev\n");
    answer("setenv", 2);
    EXPECT_EQ(failure(false),
              "Ein Systemschritt ist fehlgeschlagen (launchctl, Code 2). Die Installation wird zurückgesetzt.");
    const std::string value = "/prev:" + ofx.native();
    // The restore's own setenv fails as well; that is not reported.
    EXPECT_EQ(recorder.commands,
              (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(value), bootout(), setenv("/prev")}));
    EXPECT_FALSE(fs::exists(plugin));
}

TEST_F(GeoweaveInstall, ABootoutThatCannotBeStartedFailsTheRunAndStillRestores)
{
    recorder.unstartable = {"bootout"};
    EXPECT_EQ(failure(false), "posix_spawn " + launchctl.native() + ": No such file or directory");
    // The restore goes on past its own failed bootout.
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootout(), unsetenv()}));
    EXPECT_FALSE(fs::exists(plugin));
    EXPECT_FALSE(fs::exists(agentFile));
}

TEST_F(GeoweaveInstall, ARestoreWhoseCommandsCannotStartStillReportsTheLoadError)
{
    answer("bootstrap", 5);
    earlierInstallation("/x");
    recorder.unstartable = {"unsetenv", "setenv"};
    EXPECT_EQ(failure(false), systemStepFailed5);
    EXPECT_EQ(recorder.commands,
              (std::vector<Command>{getenv(), bootout(), bootstrap(), bootout(), bootstrap(), unsetenv()}));
}

TEST_F(GeoweaveInstall, AFailedInstallRecordAfterACompleteLoadRestoresLaunchd)
{
    FaultInjectingFileManager faults(real);
    ScopedFileManager faultScope(faults);
    faults.failWhen(
        [](const Operation& operation) {
            return operation.name == "writeAtomically" && operation.path.filename() == "INSTALLATION.json";
        },
        ENOSPC);
    answer("getenv", 0, "/prev/OFX\n");

    std::string error = failure(false);

    EXPECT_TRUE(faults.injected());
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    const std::string value = "/prev/OFX:" + ofx.native();
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(value), bootout(),
                                                       setenv("/prev/OFX")}));
    EXPECT_FALSE(fs::exists(plugin));
    EXPECT_FALSE(fs::exists(agentFile));
}

TEST_F(GeoweaveInstall, AFailureBeforeLaunchdIsTouchedRunsNoRestore)
{
    FaultInjectingFileManager faults(real);
    ScopedFileManager faultScope(faults);
    // The agent file cannot be put in place: the plug-in is rolled back,
    // and launchd has seen nothing but the getenv.
    faults.failWhen(
        [this](const Operation& operation) {
            return operation.name == "moveItem" && operation.other == agentFile;
        },
        EIO);
    std::string error = failure(false);
    EXPECT_TRUE(faults.injected());
    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv()}));
    EXPECT_FALSE(fs::exists(plugin));
}

TEST_F(GeoweaveInstall, AFailureInTestModeNeverTouchesLaunchd)
{
    FaultInjectingFileManager faults(real);
    ScopedFileManager faultScope(faults);
    faults.failWhen(
        [](const Operation& operation) {
            return operation.name == "writeAtomically" && operation.path.filename() == "INSTALLATION.json";
        },
        ENOSPC);
    std::string error = failure(true);
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_TRUE(recorder.commands.empty());
    EXPECT_FALSE(fs::exists(agentFile));
}

}  // namespace
}  // namespace kb::test
