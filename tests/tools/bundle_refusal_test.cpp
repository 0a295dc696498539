// kestrelbay-bundle refuses payloads the installer would reject and wrong
// command lines, and then writes nothing.

#include "tests/support/tree_snapshot.h"
#include "tests/tools/bundle_fixture.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class BundleRefusal : public ::testing::Test {
protected:
    BundleRefusal() { writeFile(payload / "Runtime/file.txt", "content\n"); }

    // Runs the tool and expects exit status 1, exactly `reason` and no output.
    void expectRefused(const std::string& reason, const std::vector<std::string>& arguments)
    {
        ProgramRun run = runProgram(bundleTool(), arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), "kestrelbay-bundle: " + reason + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(fs::symlink_status(output)));
        EXPECT_EQ(fs::exists(output.parent_path()) ? std::distance(fs::directory_iterator(output.parent_path()),
                                                                   fs::directory_iterator{})
                                                   : 0,
                  0);
    }

    void expectPayloadRefused(const std::string& reason)
    {
        expectRefused(reason, bundleArguments(payload, output));
    }

    TempDir temp;
    fs::path payload = temp / "Payload";
    fs::path output = temp / "out/Product.app";
};

TEST_F(BundleRefusal, ALinkThatClimbsOutOfThePayloadRoot)
{
    makeLink("../../outside", payload / "Runtime/escape");
    expectPayloadRefused("link \"Runtime/escape\" -> \"../../outside\" leaves the payload root");
}

TEST_F(BundleRefusal, AnAbsoluteLink)
{
    makeLink("/etc", payload / "Runtime/etc");
    expectPayloadRefused("link \"Runtime/etc\" -> \"/etc\" is absolute and leaves the payload root");
}

TEST_F(BundleRefusal, AnAbsoluteLinkIntoThePayloadItself)
{
    // Absolute texts name this machine's folders, never the unpacked payload.
    makeLink((payload / "Runtime/file.txt").native(), payload / "Runtime/self");
    expectPayloadRefused("link \"Runtime/self\" -> \"" + (payload / "Runtime/file.txt").native() +
                         "\" is absolute and leaves the payload root");
}

TEST_F(BundleRefusal, ALinkToThePayloadRoot)
{
    makeLink(".", payload / "root");
    expectPayloadRefused("link \"root\" -> \".\" leads to the payload root itself");
}

TEST_F(BundleRefusal, ALinkThatLeavesThroughAnotherLink)
{
    makeLink("..", payload / "Runtime/parent");
    makeLink("parent/../outside", payload / "Runtime/through");
    // "Runtime/parent" itself resolves to the root and is refused first.
    expectPayloadRefused("link \"Runtime/parent\" -> \"..\" leads to the payload root itself");
}

TEST_F(BundleRefusal, ALinkThatLeavesThroughALinkedFolder)
{
    fs::create_directories(payload / "Runtime/deep/er");
    makeLink("deep/er", payload / "Runtime/short");
    makeLink("short/../../../../x", payload / "Runtime/sneaky");
    expectPayloadRefused("link \"Runtime/sneaky\" -> \"short/../../../../x\" leaves the payload root");
}

TEST_F(BundleRefusal, ALinkThroughALinkedFolderIsJudgedWhereItReallyLeads)
{
    // Runtime/short/../../../x is Runtime/deep/er/../../../x, which is x
    // directly below the root: inside, though its text has three "..".
    fs::create_directories(payload / "Runtime/deep/er");
    makeLink("deep/er", payload / "Runtime/short");
    makeLink("short/../../../x", payload / "Runtime/inside");

    ProgramRun run = runProgram(bundleTool(), bundleArguments(payload, output));

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readJson(output / "Contents/Resources/payload-manifest.json")["symlinks"]["Runtime/inside"],
              "short/../../../x");
}

TEST_F(BundleRefusal, ALoopOfLinks)
{
    makeLink("b", payload / "Runtime/a");
    makeLink("a", payload / "Runtime/b");
    expectPayloadRefused("link \"Runtime/a\" -> \"b\" runs into a loop of links");
}

TEST_F(BundleRefusal, AFifo)
{
    fs::create_directories(payload / "Runtime");
    ASSERT_EQ(::mkfifo((payload / "Runtime/pipe").c_str(), 0644), 0);
    expectPayloadRefused(
        "\"Runtime/pipe\" is a special file (FIFO, socket or device); a payload holds only folders, regular files "
        "and links");
}

TEST_F(BundleRefusal, ASocket)
{
    const fs::path socketPath = payload / "s";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.native().size(), sizeof address.sun_path);
    std::copy(socketPath.native().begin(), socketPath.native().end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    expectPayloadRefused(
        "\"s\" is a special file (FIFO, socket or device); a payload holds only folders, regular files and links");
}

TEST_F(BundleRefusal, ANameThatIsNotUtf8)
{
    writeFile(payload / std::string("bad\xff.txt"), "x");
    expectPayloadRefused("a payload name is not valid UTF-8: \"bad\xff.txt\"");
}

TEST_F(BundleRefusal, APayloadThatIsAFile)
{
    writeFile(temp / "plain.txt", "x");
    expectRefused("the payload \"" + (temp / "plain.txt").native() + "\" is not a folder",
                  bundleArguments(temp / "plain.txt", output));
}

TEST_F(BundleRefusal, AMissingOption)
{
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.erase(arguments.begin() + 6, arguments.begin() + 8);  // --version and its value
    expectRefused("--version is missing", arguments);
}

TEST_F(BundleRefusal, AnUnknownOption)
{
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.insert(arguments.end(), {"--colour", "blue"});
    expectRefused("unknown argument \"--colour\"", arguments);
}

TEST_F(BundleRefusal, AnOptionGivenTwice)
{
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.insert(arguments.end(), {"--id", "geoweave"});
    expectRefused("--id given twice", arguments);
}

TEST_F(BundleRefusal, BothMessageForms)
{
    writeFile(temp / "message.txt", "x");
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.insert(arguments.end(), {"--message-file", (temp / "message.txt").native()});
    expectRefused("give exactly one of --message and --message-file", arguments);
}

TEST_F(BundleRefusal, AnUnknownCompression)
{
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.insert(arguments.end(), {"--compression", "bzip2"});
    expectRefused("--compression is deflate or store, not \"bzip2\"", arguments);
}

TEST_F(BundleRefusal, AnInstallerThatIsNotABundle)
{
    std::vector<std::string> arguments = bundleArguments(payload, output);
    arguments.insert(arguments.end(), {"--installer", temp.path().native()});
    expectRefused("\"" + temp.path().native() + "\" is not an installer bundle", arguments);
}

TEST_F(BundleRefusal, AnOutputThatHoldsSomethingElseIsLeftAlone)
{
    writeFile(output / "notes.txt", "precious\n");
    const TreeSnapshot before = snapshot(output);

    ProgramRun run = runProgram(bundleTool(), bundleArguments(payload, output));

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kestrelbay-bundle: \"" + output.native() +
                           "\" exists and is not an installer bundle; not replacing it\n");
    EXPECT_EQ(snapshot(output), before);
}

TEST_F(BundleRefusal, HelpPrintsTheUsage)
{
    ProgramRun run = runProgram(bundleTool(), {"--help"});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: kestrelbay-bundle --payload <payload root folder>", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace kb::test
