// An earlier launch agent that is there but cannot be read stops the run
// before anything changes; going on would drop the folders it puts on the
// search path while the result says they were kept.

#include "tests/products/geoweave_fixture.h"
#include "tests/support/fault_injecting_file_manager.h"

#include <cerrno>
#include <string>
#include <vector>

namespace kb::test {
namespace {

class UnreadableAgent : public GeoweaveInstall {
protected:
    FaultInjectingFileManager faulty{real};
    ScopedFileManager faultyScope{faulty};

    void failReading(const std::string& operation, int error)
    {
        const fs::path file = agentFile;
        faulty.failWhen([file, operation](const Operation& op) { return op.name == operation && op.path == file; },
                        error);
    }
};

TEST_F(UnreadableAgent, AnAgentThatCannotBeOpenedStopsATestRunUnchanged)
{
    earlierInstallation("/x:/y");
    const TreeSnapshot before = snapshot(home);
    failReading("openForReading", EACCES);

    EXPECT_EQ(failure(true), "cannot (injected) openForReading \"" + agentFile.native() + "\": Permission denied");
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 1.0</plist>\n");
    EXPECT_TRUE(recorder.commands.empty());
}

TEST_F(UnreadableAgent, AnAgentWhoseReadFailsStopsARunBeforeLaunchdChanges)
{
    earlierInstallation("/x:/y");
    answer("getenv", 0, "/x:/y:" + ofx.native() + "\n");
    const TreeSnapshot before = snapshot(home);
    failReading("read", EIO);

    EXPECT_EQ(failure(false), "cannot (injected) read \"" + agentFile.native() + "\": Input/output error");
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
    EXPECT_EQ(recorder.commands, std::vector<Command>{getenv()});
}

TEST_F(UnreadableAgent, NoAgentFileStillContributesNothing)
{
    install(true);
    EXPECT_EQ(agent().programArguments.at(3), ofx.native());
}

}  // namespace
}  // namespace kb::test
