// Hostile archives: whatever a member claims, the ditto stand-in fails with
// a message and nothing outside the unpack folder appears or changes.

#include "tests/helpers/ditto_fixture.h"

#include <sys/stat.h>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class DittoHostile : public ::testing::Test {
protected:
    // Unpacks `members` into the sandbox and expects the refusal `reason`.
    void expectRefused(const std::vector<nlohmann::json>& members, const std::string& reason)
    {
        makeZip(sandbox.archive(), members);
        expectRefusedArchive(reason);
    }

    void expectRefusedArchive(const std::string& reason)
    {
        ProgramRun run = unpack(sandbox.archive(), sandbox.destination());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "ditto: " + reason + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(sandbox.changesOutside(), std::vector<std::string>{});
        EXPECT_EQ(readText(sandbox.outside() / "victim.txt"), "original\n");
    }

    std::string outside() const { return sandbox.outside().native(); }

    Sandbox sandbox;
};

TEST_F(DittoHostile, DotDotAtTheStart)
{
    expectRefused({member("../../../x", "evil")}, "refusing member \"../../../x\": \"..\" in its path");
}

TEST_F(DittoHostile, DotDotInTheMiddle)
{
    expectRefused({member("a/../../x", "evil")}, "refusing member \"a/../../x\": \"..\" in its path");
}

TEST_F(DittoHostile, DotDotAfterHarmlessMembers)
{
    expectRefused({member("fine.txt", "ok"), member("a/b/../../../../../x", "evil")},
                  "refusing member \"a/b/../../../../../x\": \"..\" in its path");
}

TEST_F(DittoHostile, AbsoluteName)
{
    const std::string name = outside() + "/planted.txt";
    expectRefused({member(name, "evil")}, "refusing member \"" + name + "\": absolute path");
}

TEST_F(DittoHostile, AbsoluteNameUnderTmp)
{
    expectRefused({member("/tmp/x", "evil")}, "refusing member \"/tmp/x\": absolute path");
}

TEST_F(DittoHostile, MemberThroughALinkToOutside)
{
    expectRefused({link("escape", outside()), member("escape/planted.txt", "evil")},
                  "refusing member \"escape/planted.txt\": \"escape\" on its path is a link or a file, not a folder");
}

TEST_F(DittoHostile, MemberThroughARelativeLinkThatClimbsOut)
{
    expectRefused({folder("a/"), link("a/up", "../../../../outside"), member("a/up/planted.txt", "evil")},
                  "refusing member \"a/up/planted.txt\": \"up\" on its path is a link or a file, not a folder");
}

TEST_F(DittoHostile, MemberThroughALinkFarBelowTheFoldersKeptOpen)
{
    std::string deep = "p";
    for (int i = 0; i < 80; ++i) deep += "/d";
    expectRefused({member(deep + "/file", "x"), link(deep + "/escape", outside()),
                   member(deep + "/escape/planted.txt", "evil")},
                  "refusing member \"" + deep + "/escape/planted.txt\": \"escape\" on its path is a link or a file, "
                  "not a folder");
}

TEST_F(DittoHostile, MemberThroughTwoLinksInARow)
{
    expectRefused({link("first", "second"), link("second", outside()), member("first/planted.txt", "evil")},
                  "refusing member \"first/planted.txt\": \"first\" on its path is a link or a file, not a folder");
}

TEST_F(DittoHostile, FolderMemberThroughALink)
{
    expectRefused({link("escape", outside()), folder("escape/new/")},
                  "refusing member \"escape/new\": \"escape\" on its path is a link or a file, not a folder");
}

TEST_F(DittoHostile, LinkThenFileOfTheSameName)
{
    expectRefused({link("victim", outside() + "/victim.txt"), member("victim", "overwritten")},
                  "refusing member \"victim\": \"victim\" appears twice in the archive");
    EXPECT_EQ(fs::read_symlink(sandbox.destination() / "victim").native(), outside() + "/victim.txt");
}

TEST_F(DittoHostile, LinkThenFileOfTheSameNameSpelledDifferently)
{
    expectRefused({link("victim", outside() + "/victim.txt"), member("./victim", "overwritten")},
                  "refusing member \"./victim\": \"victim\" appears twice in the archive");
}

TEST_F(DittoHostile, LinkThenFolderOfTheSameName)
{
    expectRefused({link("dir", outside()), folder("dir/")},
                  "refusing member \"dir/\": \"dir\" appears twice in the archive");
}

TEST_F(DittoHostile, DuplicateFileKeepsTheFirst)
{
    expectRefused({member("twice.txt", "first"), member("twice.txt", "second")},
                  "refusing member \"twice.txt\": \"twice.txt\" appears twice in the archive");
    EXPECT_EQ(readText(sandbox.destination() / "twice.txt"), "first");
}

TEST_F(DittoHostile, FileThenFolderOfTheSameName)
{
    expectRefused({member("thing", "file"), folder("thing/")},
                  "refusing member \"thing/\": \"thing\" appears twice in the archive");
}

TEST_F(DittoHostile, FileUsedAsAFolder)
{
    expectRefused({member("plain", "file"), member("plain/inner", "x")},
                  "refusing member \"plain/inner\": \"plain\" on its path is a link or a file, not a folder");
}

TEST_F(DittoHostile, CharacterDevice)
{
    expectRefused({member("tty", "", 0020666)}, "refusing member \"tty\": it is a character device");
    EXPECT_FALSE(fs::exists(fs::symlink_status(sandbox.destination() / "tty")));
}

TEST_F(DittoHostile, BlockDevice)
{
    expectRefused({member("disk", "", 0060660)}, "refusing member \"disk\": it is a block device");
    EXPECT_FALSE(fs::exists(fs::symlink_status(sandbox.destination() / "disk")));
}

TEST_F(DittoHostile, Socket)
{
    expectRefused({member("sock", "", 0140755)}, "refusing member \"sock\": it is a socket");
    EXPECT_FALSE(fs::exists(fs::symlink_status(sandbox.destination() / "sock")));
}

TEST_F(DittoHostile, LinkWithoutTarget)
{
    expectRefused({link("empty-link", "")}, "refusing member \"empty-link\": a link without a target");
}

TEST_F(DittoHostile, MemberNamingTheDestinationItself)
{
    expectRefused({member(".", "x")}, "refusing member \".\": it names the destination folder");
}

TEST_F(DittoHostile, StoredMemberDeclaringFewerBytesThanItHolds)
{
    nlohmann::json lying = member("a", "hello");
    lying["method"] = "stored";
    lying["declaredSize"] = 3;
    expectRefused({lying}, "member \"a\": ZIP uncompressed data is wrong size (read 5, expected 3)");
}

TEST_F(DittoHostile, DeflatedMemberDeclaringMoreBytesThanItHolds)
{
    nlohmann::json lying = member("a", "hello");
    lying["declaredSize"] = 300;
    expectRefused({lying}, "member \"a\": ZIP uncompressed data is wrong size (read 5, expected 300)");
}

TEST_F(DittoHostile, MemberClaimingMoreDataThanTheArchiveHolds)
{
    nlohmann::json lying = member("a", "hello");
    lying["method"] = "stored";
    lying["storedSize"] = 1 << 30;
    lying["declaredSize"] = 1 << 30;
    expectRefused({lying}, "member \"a\": Truncated ZIP file data");
}

TEST_F(DittoHostile, TruncatedArchive)
{
    makeZipFrom(sandbox.archive(), {{"members", {member("a.txt", "some content"), member("b.txt", "more")}},
                                    {"truncate", 40}});
    expectRefusedArchive(sandbox.archive().native() + ": Unrecognized archive format");
}

TEST_F(DittoHostile, ArchiveCutInsideItsEndRecord)
{
    writeFile(sandbox.archive(), std::string("PK\x05\x06", 4) + "garbage");
    expectRefusedArchive(sandbox.archive().native() + ": Unrecognized archive format");
}

TEST_F(DittoHostile, NotAZipArchive)
{
    ProgramRun tar = runProgram("/usr/bin/bsdtar", {"-cf", sandbox.archive().native(), "-C",
                                                    sandbox.outside().native(), "victim.txt"});
    ASSERT_EQ(tar.status, 0) << tar.err;
    expectRefusedArchive(sandbox.archive().native() + ": Unrecognized archive format");
}

TEST_F(DittoHostile, HardLinkedSourceArrivesAsAnIndependentFile)
{
    // ZIP has no hard links: Info-ZIP stores a hard-linked file's bytes, and
    // what is unpacked shares nothing with the file it was linked to.
    TempDir temp;
    writeFile(temp / "src/data.txt", "shared\n");
    fs::create_hard_link(temp / "src/data.txt", temp / "src/hard.txt");
    ProgramRun zip = runProgram("/usr/bin/zip", {"-q", "-r", "-y", sandbox.archive().native(), "."},
                                inFolder(temp / "src"));
    ASSERT_EQ(zip.status, 0) << zip.err;

    ProgramRun run = unpack(sandbox.archive(), sandbox.destination());

    ASSERT_EQ(run.status, 0) << run.err;
    struct stat info {};
    ASSERT_EQ(::stat((sandbox.destination() / "hard.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_nlink, 1u);
    writeFile(sandbox.destination() / "hard.txt", "changed\n");
    EXPECT_EQ(readText(temp / "src/data.txt"), "shared\n");
    EXPECT_EQ(readText(sandbox.destination() / "data.txt"), "shared\n");
    EXPECT_EQ(sandbox.changesOutside(), std::vector<std::string>{});
}

TEST(DittoBomb, ACompressionBombStopsAfterABoundedAmountOfData)
{
    // Eight members of 512 MiB of zeros each: 4 GiB from about 4 MiB. The
    // limit (64 times the archive plus 256 MiB) is reached in the second.
    Sandbox sandbox;
    std::vector<nlohmann::json> members;
    for (char name = 'a'; name < 'i'; ++name) {
        members.push_back({{"name", std::string(1, name)}, {"zeros", 512 << 20}, {"mode", 0100644}});
    }
    makeZip(sandbox.archive(), members);
    const std::uintmax_t archiveSize = fs::file_size(sandbox.archive());
    ASSERT_LT(archiveSize, 8u << 20);
    const std::uintmax_t limit = archiveSize * 64 + (256u << 20);

    ProgramRun run = unpack(sandbox.archive(), sandbox.destination());

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ditto: refusing member \"b\": the archive unpacks to more than " + std::to_string(limit) +
                           " bytes, far more than its size allows\n");
    std::uintmax_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(sandbox.destination())) {
        if (entry.is_regular_file()) written += entry.file_size();
    }
    EXPECT_LE(written, limit);
    EXPECT_EQ(sandbox.changesOutside(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kb::test
