// The geoweave recipe outside test mode with the bundle's real launchctl
// stand-in, whose launchd domain lives below the (temporary) home.

#include "tests/products/geoweave_fixture.h"

#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

class GeoweaveWithStandIn : public GeoweaveInstall {
protected:
    PosixLauncher processes;
    ScopedLauncher realLauncher{processes};
    ScopedResource builtResources{builtBundle() / "Contents/Resources"};
    ScopedEnvironment userHome{"HOME", home.native()};
    const fs::path standIn = builtBundle() / "Contents/Helpers/launchctl";
    const fs::path domainState = home / ".local/state/kestrelbay-launchd" / ("gui-" + std::to_string(::getuid()) + ".json");

    ProgramRun launchctlRun(const std::vector<std::string>& arguments)
    {
        return runProgram(standIn, arguments, {.workingDirectory = {}, .environment = {{"HOME", home.native()}}});
    }

    std::string launchdValue()
    {
        ProgramRun run = launchctlRun({"getenv", "OFX_PLUGIN_PATH"});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    nlohmann::json loadedAgents() { return nlohmann::json::parse(readText(domainState)).at("loaded"); }
};

TEST_F(GeoweaveWithStandIn, ACleanInstallationLoadsTheAgentAndSetsTheVariable)
{
    ASSERT_TRUE(fs::exists(standIn));
    EXPECT_EQ(launchdValue(), "");

    install(false);

    EXPECT_EQ(launchdValue(), ofx.native() + "\n");
    EXPECT_EQ(loadedAgents(), (nlohmann::json{{"de.geoweave.ofxpath", agentFile.native()}}));
    // Loaded means loaded: a second bootstrap of the same label is refused.
    ProgramRun again = launchctlRun({"bootstrap", domain, agentFile.native()});
    EXPECT_EQ(again.status, 5);
    EXPECT_EQ(again.err, "Bootstrap failed: 5: Input/output error\n");
}

TEST_F(GeoweaveWithStandIn, ASecondInstallationReplacesTheLoadedAgentAndKeepsTheLiveFolders)
{
    install(false);
    ASSERT_EQ(launchctlRun({"setenv", "OFX_PLUGIN_PATH", "/Volumes/Fx/OFX:" + ofx.native()}).status, 0);

    install(false);

    EXPECT_EQ(launchdValue(), "/Volumes/Fx/OFX:" + ofx.native() + "\n");
    EXPECT_EQ(agent().programArguments.at(3), "/Volumes/Fx/OFX:" + ofx.native());
    EXPECT_EQ(loadedAgents(), (nlohmann::json{{"de.geoweave.ofxpath", agentFile.native()}}));
}

TEST_F(GeoweaveWithStandIn, AFailedRunLeavesAnUntouchedDomainAsItWas)
{
    FaultInjectingFileManager faults(real);
    ScopedFileManager faultScope(faults);
    faults.failWhen(
        [](const Operation& operation) {
            return operation.name == "writeAtomically" && operation.path.filename() == "INSTALLATION.json";
        },
        EIO);

    std::string error = failure(false);

    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
    EXPECT_EQ(launchdValue(), "");
    EXPECT_EQ(loadedAgents(), nlohmann::json::object());
    EXPECT_FALSE(fs::exists(agentFile));
    EXPECT_FALSE(fs::exists(plugin));
}

TEST_F(GeoweaveWithStandIn, AFailedRunPutsTheEarlierAgentAndValueBack)
{
    install(false);
    ASSERT_EQ(launchctlRun({"setenv", "OFX_PLUGIN_PATH", "/live:" + ofx.native()}).status, 0);
    const std::string earlierAgent = readText(agentFile);
    ownSearchPath.set("/from/the/installers/environment");
    FaultInjectingFileManager faults(real);
    ScopedFileManager faultScope(faults);
    faults.failWhen(
        [](const Operation& operation) {
            return operation.name == "writeAtomically" && operation.path.filename() == "INSTALLATION.json";
        },
        EIO);

    EXPECT_NE(failure(false), "installed");

    EXPECT_EQ(readText(agentFile), earlierAgent);
    EXPECT_EQ(loadedAgents(), (nlohmann::json{{"de.geoweave.ofxpath", agentFile.native()}}));
    // The earlier agent ran at load, then the earlier value was set.
    EXPECT_EQ(launchdValue(), "/live:" + ofx.native() + "\n");
}

}  // namespace
}  // namespace kb::test
