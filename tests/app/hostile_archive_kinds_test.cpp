// Archive members of kinds a payload has no use for (devices, sockets,
// FIFOs, set-id files, hard links, members without any type) through the real
// installer.

#include "tests/app/hostile_fixture.h"

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class HostileArchiveKinds : public HostileRun {};

TEST_F(HostileArchiveKinds, BlockDevice)
{
    writeMembers({folder("P/"), member("P/disk", "", 0060660)});
    expectRefused(verify(), dittoFailed);
    EXPECT_EQ(dittoReason(), "ditto: refusing member \"P/disk\": it is a block device\n");
}

TEST_F(HostileArchiveKinds, Socket)
{
    writeMembers({folder("P/"), member("P/sock", "", 0140755)});
    expectRefused(verify(), dittoFailed);
    EXPECT_EQ(dittoReason(), "ditto: refusing member \"P/sock\": it is a socket\n");
}

TEST_F(HostileArchiveKinds, FifoMemberIsCheckedAsTheRegularFileItArrivesAs)
{
    writeMembers({folder("P/"), member("P/pipe", "piped", 0010644)});
    expectRefused(verify(), checkFailed + "pipe");

    manifest["files"]["pipe"] = fileEntryFor("piped");
    expectVerified(verify());
}

TEST_F(HostileArchiveKinds, SetIdMembersVerifyWithTheirBitsStripped)
{
    writeMembers({folder("P/"), member("P/setuid", "u", 0104755), member("P/setgid", "g", 0102755),
                  folder("P/sticky/", 041777)});
    manifest["files"]["setuid"] = fileEntryFor("u");
    manifest["files"]["setgid"] = fileEntryFor("g");
    expectVerified(verify());
}

TEST_F(HostileArchiveKinds, MemberWithoutAnyTypeIsARegularFile)
{
    writeMembers({folder("P/"), member("P/plain", "typeless", 0)});
    manifest["files"]["plain"] = fileEntryFor("typeless");
    expectVerified(verify());
}

TEST_F(HostileArchiveKinds, HardLinkedFilesZippedByInfoZipAreTwoCheckedFiles)
{
    TempDir source;
    writeFile(source / "P/data.txt", "shared\n");
    fs::create_hard_link(source / "P/data.txt", source / "P/hard.txt");
    ProgramRun zip = runProgram("/usr/bin/zip", {"-q", "-r", "-y", archive().native(), "P"}, inFolder(source.path()));
    ASSERT_EQ(zip.status, 0) << zip.err;
    manifest["files"]["data.txt"] = fileEntryFor("shared\n");
    expectRefused(verify(), checkFailed + "hard.txt");

    manifest["files"]["hard.txt"] = fileEntryFor("shared\n");
    expectVerified(verify());
}

}  // namespace
}  // namespace kb::test
