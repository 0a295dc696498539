// Payload roots that lead out of the unpack folder (by their name in the
// descriptor, or through a link the archive holds) are never walked and
// never returned; roots that stay inside are checked as usual.

#include "tests/app/hostile_fixture.h"

namespace kb::test {
namespace {

class HostilePayloadRoot : public HostileRun {
protected:
    HostilePayloadRoot()
    {
        // A tree outside the unpack folder that a manifest could describe.
        writeFile(outside() / "tree/sub/s.txt", "secret\n");
        writeFile(outside() / "tree/t.txt", "top\n");
        outsideManifest["files"]["sub/s.txt"] = fileEntryFor("secret\n");
        outsideManifest["files"]["t.txt"] = fileEntryFor("top\n");
    }

    std::string outsideTree() const { return (outside() / "tree").native(); }

    // Runs with `root` as the descriptor's payloadRoot and the manifest of
    // the outside tree: a verifier that walked it would report success.
    void expectNotWalked(const std::string& root)
    {
        descriptor["payloadRoot"] = root;
        manifest = outsideManifest;
        expectRefused(verify(), contentMissing);
    }

    nlohmann::json outsideManifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
};

TEST_F(HostilePayloadRoot, DotDotIsNotWalked)
{
    writeMembers({folder("P/")});
    descriptor["payloadRoot"] = "..";
    expectRefused(verify(), contentMissing);
}

TEST_F(HostilePayloadRoot, DotDotPathToAnOutsideTreeIsNotWalked)
{
    // The unpack folder lies in one/two/tmp of the sandbox.
    writeMembers({folder("P/")});
    expectNotWalked("../../../../outside/tree");
}

TEST_F(HostilePayloadRoot, TheFileSystemRootIsNotWalked)
{
    writeMembers({folder("P/")});
    descriptor["payloadRoot"] = "/";
    expectRefused(verify(), contentMissing);
}

TEST_F(HostilePayloadRoot, AnAbsolutePathToAnOutsideTreeIsNotWalked)
{
    writeMembers({folder("P/")});
    expectNotWalked(outsideTree());
}

TEST_F(HostilePayloadRoot, ARootThatIsALinkToOutsideIsNotWalked)
{
    writeMembers({link("P", outsideTree())});
    expectNotWalked("P");
}

TEST_F(HostilePayloadRoot, ARootLinkFollowedThroughATrailingSlashIsNotWalked)
{
    writeMembers({link("P", outsideTree())});
    expectNotWalked("P/");
}

TEST_F(HostilePayloadRoot, ARootLinkFollowedThroughATrailingDotIsNotWalked)
{
    writeMembers({link("P", outsideTree())});
    expectNotWalked("P/.");
}

TEST_F(HostilePayloadRoot, ARelativeRootLinkClimbingOutIsNotWalked)
{
    writeMembers({link("P", "../../../../outside/tree")});
    expectNotWalked("P/");
}

TEST_F(HostilePayloadRoot, ARootBelowALinkToOutsideIsNotWalked)
{
    writeMembers({link("L", outside().native())});
    expectNotWalked("L/tree");
}

TEST_F(HostilePayloadRoot, ARootLinkToAFolderInsideTheArchiveIsCheckedThroughTheSlash)
{
    writeMembers({folder("Q/"), member("Q/a.txt", "A"), link("P", "Q")});
    manifest["files"]["a.txt"] = fileEntryFor("A");
    descriptor["payloadRoot"] = "P/";
    expectVerified(verify());

    descriptor["payloadRoot"] = "P";  // the link itself is never entered
    expectRefused(verify(), contentMissing);
}

TEST_F(HostilePayloadRoot, ARootThatIsAFile)
{
    writeMembers({member("P", "a file")});
    expectRefused(verify(), contentMissing);
}

TEST_F(HostilePayloadRoot, AnEmptyRootMakesTheWholeArchiveThePayload)
{
    writeMembers({folder("P/"), member("P/a.txt", "A")});
    descriptor["payloadRoot"] = "";
    manifest["files"]["P/a.txt"] = fileEntryFor("A");
    expectVerified(verify());
}

TEST_F(HostilePayloadRoot, ARootOfTwoComponentsInsideTheArchive)
{
    writeMembers({member("a/b/x.txt", "X"), member("a/beside.txt", "not examined")});
    descriptor["payloadRoot"] = "a/b";
    manifest["files"]["x.txt"] = fileEntryFor("X");
    expectVerified(verify());
}

TEST_F(HostilePayloadRoot, MembersOutsideTheRootAreUnpackedButNeverExamined)
{
    writeMembers({member("P/a.txt", "A"), member("Other/run.sh", "#!/bin/sh\n", 0104755), member("loose.txt", "x"),
                  link("Other/out", outside().native())});
    manifest["files"]["a.txt"] = fileEntryFor("A");
    expectVerified(verify());
}

TEST_F(HostilePayloadRoot, ARootWithANulIsNotWalked)
{
    // Cut short at the NUL, every path below the root would name the root
    // again: files would pass as the folder and folders be entered forever.
    writeMembers({member("P/a.txt", "A"), member("P/sub/b.txt", "B")});
    descriptor["payloadRoot"] = std::string("P\0/../../../../outside/tree", 27);
    expectRefused(verify(), contentMissing);
}

}  // namespace
}  // namespace kb::test
