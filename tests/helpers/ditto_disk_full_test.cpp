// The ditto stand-in on a file system that cannot hold the archive's
// content: a 1 MiB tmpfs mounted in a private mount namespace.

#include "tests/helpers/ditto_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

// Unpacks into a fresh 1 MiB tmpfs mounted at `mountPoint` for this run only.
ProgramRun unpackOntoSmallDisk(const fs::path& archive, const fs::path& mountPoint)
{
    return runProgram("/usr/bin/unshare",
                      {"--mount", "/bin/sh", "-c",
                       "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 99; exec \"$2\" --norsrc -x -k \"$3\" \"$1\"",
                       "sh", mountPoint.native(), dittoProgram().native(), archive.native()});
}

class DittoDiskFull : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(temp / "probe");
        ProgramRun probe = runProgram("/usr/bin/unshare", {"--mount", "/bin/sh", "-c",
                                                           "mount -t tmpfs -o size=1m tmpfs \"$1\"", "sh",
                                                           (temp / "probe").native()});
        if (probe.status != 0) GTEST_SKIP() << "cannot mount a tmpfs here: " << probe.err;
        fs::create_directories(temp / "disk");
    }

    TempDir temp;
};

TEST_F(DittoDiskFull, AMemberDeclaringMoreThanTheFreeSpaceIsRefusedBeforeWriting)
{
    makeZip(temp / "a.zip", {{{"name", "big"}, {"zeros", 4 << 20}, {"mode", 0100644}}});

    ProgramRun run = unpackOntoSmallDisk(temp / "a.zip", temp / "disk");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ditto: member \"big\" needs 4194304 bytes, only 1048576 are free\n");
    EXPECT_TRUE(fs::is_empty(temp / "disk"));
}

TEST_F(DittoDiskFull, AMemberThatUnderstatesItsSizeEndsWithTheWriteError)
{
    nlohmann::json lying = {{"name", "big"}, {"zeros", 4 << 20}, {"mode", 0100644}, {"declaredSize", 10}};
    makeZip(temp / "a.zip", {lying});

    ProgramRun run = unpackOntoSmallDisk(temp / "a.zip", temp / "disk");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ditto: member \"big\": No space left on device\n");
}

}  // namespace
}  // namespace kb::test
