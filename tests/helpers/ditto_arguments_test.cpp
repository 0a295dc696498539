// The ditto stand-in accepts one argument list only, and reports a bad
// archive or destination cleanly.

#include "tests/helpers/ditto_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string usageLine = "ditto: usage: ditto --norsrc -x -k <archive> <folder>\n";

class DittoArguments : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(DittoArguments, AnyOtherArgumentListIsRefused)
{
    TempDir temp;
    makeZip(temp / "a.zip", {member("f", "x")});
    std::vector<std::string> arguments;
    for (std::string argument : GetParam()) {
        if (argument == "ARCHIVE") argument = (temp / "a.zip").native();
        if (argument == "DEST") argument = (temp / "out").native();
        arguments.push_back(argument);
    }

    ProgramRun run = runProgram(dittoProgram(), arguments);

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, usageLine);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(temp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    WrongLists, DittoArguments,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--norsrc"},
                      std::vector<std::string>{"-x", "-k", "ARCHIVE", "DEST"},
                      std::vector<std::string>{"--norsrc", "-x", "-k", "ARCHIVE"},
                      std::vector<std::string>{"--norsrc", "-k", "-x", "ARCHIVE", "DEST"},
                      std::vector<std::string>{"--rsrc", "-x", "-k", "ARCHIVE", "DEST"},
                      std::vector<std::string>{"--norsrc", "-c", "-k", "ARCHIVE", "DEST"},
                      std::vector<std::string>{"--norsrc", "-x", "-k", "ARCHIVE", "DEST", "extra"},
                      std::vector<std::string>{"--norsrc", "-x", "-k", "--", "ARCHIVE", "DEST"}));

TEST(DittoArchive, AMissingArchiveIsReported)
{
    TempDir temp;
    ProgramRun run = unpack(temp / "missing.zip", temp / "out");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ditto: " + (temp / "missing.zip").native() + ": No such file or directory\n");
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(DittoArchive, AFileThatIsNoZipIsRefused)
{
    TempDir temp;
    writeFile(temp / "a.zip", "just some text, not an archive\n");

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ditto: " + (temp / "a.zip").native() + ": Unrecognized archive format\n");
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(DittoArchive, AnEmptyFileIsRefused)
{
    TempDir temp;
    writeFile(temp / "a.zip", "");

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("ditto: " + (temp / "a.zip").native() + ": ", 0), 0u) << run.err;
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(DittoArchive, ADestinationThatIsAFileIsReported)
{
    TempDir temp;
    makeZip(temp / "a.zip", {member("f", "x")});
    writeFile(temp / "out", "I am a file\n");

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("ditto: ", 0), 0u);
    EXPECT_NE(run.err.find("out"), std::string::npos) << run.err;
    EXPECT_EQ(readText(temp / "out"), "I am a file\n");
}

}  // namespace
}  // namespace kb::test
