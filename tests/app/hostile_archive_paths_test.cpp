// Archive members whose names aim outside the unpack folder, that write
// through links, or that collide with an earlier member: through the real
// installer, each ends in one line naming the failed unpack step (or is
// accepted where nothing can escape), and nothing in the sandbox changes.

#include "tests/app/hostile_fixture.h"

namespace kb::test {
namespace {

class HostileArchivePaths : public HostileRun {
protected:
    // The installer's one line, and the stand-in's own reason behind it.
    void expectUnpackRefused(const std::vector<nlohmann::json>& members, const std::string& reason)
    {
        writeMembers(members);
        expectRefused(verify(), dittoFailed);
        EXPECT_EQ(dittoReason(), "ditto: " + reason + "\n");
    }

    std::string outsidePath() const { return outside().native(); }
};

TEST_F(HostileArchivePaths, DotDotAtTheStart)
{
    expectUnpackRefused({folder("P/"), member("../x", "evil")}, "refusing member \"../x\": \"..\" in its path");
}

TEST_F(HostileArchivePaths, DotDotAfterAFolder)
{
    expectUnpackRefused({member("a/../../x", "evil")}, "refusing member \"a/../../x\": \"..\" in its path");
}

TEST_F(HostileArchivePaths, AbsoluteNameIntoTheSandbox)
{
    const std::string name = outsidePath() + "/planted.txt";
    expectUnpackRefused({folder("P/"), member(name, "evil")}, "refusing member \"" + name + "\": absolute path");
}

TEST_F(HostileArchivePaths, BackslashesAreSeparatorsSoBackslashDotDotClimbsAndIsRefused)
{
    // The archive library reads "\" as "/" in every member name, whatever
    // system the archive says it was made on.
    expectUnpackRefused({folder("P/"), member("..\\x", "evil")}, "refusing member \"../x\": \"..\" in its path");
}

TEST_F(HostileArchivePaths, BackslashDotDotFromAnMsDosArchiveIsRefused)
{
    nlohmann::json dos = member("P\\..\\..\\x", "evil");
    dos["system"] = 0;
    expectUnpackRefused({folder("P/"), dos}, "refusing member \"P/../../x\": \"..\" in its path");
}

TEST_F(HostileArchivePaths, BackslashNamesStayInsideAsFolders)
{
    // "P\a.txt" is P/a.txt; "C:\x" is a folder named "C:" beside the payload
    // root, unpacked but never examined.
    writeMembers({folder("P/"), member("P\\a.txt", "A"), member("C:\\x", "drive")});
    manifest["files"]["a.txt"] = fileEntryFor("A");
    expectVerified(verify());
}

TEST_F(HostileArchivePaths, FileThroughARelativeLinkThatClimbsOut)
{
    expectUnpackRefused({folder("P/"), link("P/up", "../../../../outside"), member("P/up/planted.txt", "evil")},
                        "refusing member \"P/up/planted.txt\": \"up\" on its path is a link or a file, not a folder");
}

TEST_F(HostileArchivePaths, LinkReplacingAFolderMemberCreatedEarlier)
{
    expectUnpackRefused({folder("P/"), folder("P/d/"), link("P/d", outsidePath()), member("P/d/planted.txt", "x")},
                        "refusing member \"P/d\": \"P/d\" appears twice in the archive");
}

TEST_F(HostileArchivePaths, LinkReplacingAFolderAnEarlierMemberImplied)
{
    expectUnpackRefused({member("P/d/first.txt", "x"), link("P/d", outsidePath()), member("P/d/planted.txt", "x")},
                        "refusing member \"P/d\": something already exists at its path");
}

TEST_F(HostileArchivePaths, FileUsedAsAFolder)
{
    expectUnpackRefused({member("P/a", "file"), member("P/a/b", "x")},
                        "refusing member \"P/a/b\": \"a\" on its path is a link or a file, not a folder");
}

TEST_F(HostileArchivePaths, FolderThenFileOfTheSameName)
{
    expectUnpackRefused({folder("P/"), folder("P/a/"), member("P/a", "file")},
                        "refusing member \"P/a\": \"P/a\" appears twice in the archive");
}

TEST_F(HostileArchivePaths, NameAndDotSlashName)
{
    expectUnpackRefused({member("P/x", "first"), member("P/./x", "second")},
                        "refusing member \"P/./x\": \"P/x\" appears twice in the archive");
}

TEST_F(HostileArchivePaths, NameAndDoubledSlashName)
{
    expectUnpackRefused({member("P/a/b", "first"), member("P//a//b", "second")},
                        "refusing member \"P//a//b\": \"P/a/b\" appears twice in the archive");
}

TEST_F(HostileArchivePaths, NamesDifferingOnlyInCaseAreTwoFiles)
{
    writeMembers({member("P/Readme", "upper"), member("P/readme", "lower")});
    manifest["files"]["Readme"] = fileEntryFor("upper");
    manifest["files"]["readme"] = fileEntryFor("lower");
    expectVerified(verify());
}

}  // namespace
}  // namespace kb::test
