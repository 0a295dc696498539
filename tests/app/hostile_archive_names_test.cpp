// Member names no payload should carry, and archives with more members than
// a plain ZIP end record can count, through the real installer.

#include "tests/app/hostile_fixture.h"

#include <algorithm>
#include <cstdio>

namespace kb::test {
namespace {

class HostileArchiveNames : public HostileRun {
protected:
    void expectUnpackRefused(const std::vector<nlohmann::json>& members, const std::string& reason)
    {
        writeMembers(members);
        expectRefused(verify(), dittoFailed);
        EXPECT_EQ(dittoReason(), "ditto: " + reason + "\n");
    }

    static nlohmann::json rawName(const std::string& hex, const std::string& data, bool utf8Flag = true)
    {
        return {{"nameHex", hex}, {"data", data}, {"mode", 0100644}, {"utf8Flag", utf8Flag}};
    }
};

TEST_F(HostileArchiveNames, MoreMembersThanTheClassicEndRecordCounts)
{
    // 66,000 members need the ZIP64 end record; every one is unpacked and checked.
    constexpr int count = 66000;
    ProgramRun python = runProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, zipfile\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    for i in range(int(sys.argv[2])):\n"
         "        z.writestr('P/d%02d/f%05d' % (i % 100, i), 'f%05d' % i)\n",
         archive().native(), std::to_string(count)});
    ASSERT_EQ(python.status, 0) << python.err;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%05d", i);
        char key[24];
        std::snprintf(key, sizeof key, "d%02d/%s", i % 100, name);
        manifest["files"][key] = fileEntryFor(name);
    }
    expectVerified(verify());

    manifest["files"].erase("d99/f65999");
    expectRefused(verify(), checkFailed + "d99/f65999");
}

TEST_F(HostileArchiveNames, ComponentLongerThanTheFileSystemAllows)
{
    const std::string name = "P/" + std::string(256, 'n');
    expectUnpackRefused({member(name, "x")}, "member \"" + name + "\": File name too long");
}

TEST_F(HostileArchiveNames, PathLongerThanThePlatformsPathLimitFailsTheCheckNotSilently)
{
    // Every component fits, so the unpacker (which walks folder by folder)
    // creates it; the check cannot read its attributes and ends with the
    // platform's error instead of passing the file over unverified.
    std::string deep = "P";
    for (int i = 0; i < 20; ++i) deep += "/" + std::string(240, static_cast<char>('a' + i));
    writeMembers({member(deep + "/unlisted.txt", "unverified")});

    ProgramRun run = verify();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string head = "Installation abgebrochen: cannot read attributes of \"" + tmp().native() +
                             "/kestrelbay-installer-";
    EXPECT_TRUE(run.err.starts_with(head)) << run.err;
    EXPECT_TRUE(run.err.ends_with("\": File name too long\n")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    expectNothingLeft();
}

TEST_F(HostileArchiveNames, LinkTargetLongerThanThePlatformAllows)
{
    expectUnpackRefused({folder("P/"), link("P/l", std::string(5000, 't'))}, "member \"P/l\": File name too long");
}

TEST_F(HostileArchiveNames, NameWithANulByteEndsAtIt)
{
    // "P/a<NUL>.txt": the archive library reads the name up to the NUL.
    writeMembers({rawName("502f61002e747874", "cut")});
    manifest["files"]["a"] = fileEntryFor("cut");
    expectVerified(verify());
}

TEST_F(HostileArchiveNames, NameWithALineFeedIsKeptAndReportedAsItIs)
{
    writeMembers({member("P/a\nb", "x")});
    expectRefused(verify(), checkFailed + "a\nb");

    manifest["files"]["a\nb"] = fileEntryFor("x");
    expectVerified(verify());
}

TEST_F(HostileArchiveNames, NameThatIsNotUtf8)
{
    expectUnpackRefused({rawName("502fff61", "x")}, "refusing a member whose name is not valid UTF-8");
    expectUnpackRefused({rawName("502fff61", "x", false)}, "refusing a member whose name is not valid UTF-8");
}

TEST_F(HostileArchiveNames, Utf8NameWithoutTheUtf8FlagIsReadAsUtf8)
{
    writeMembers({rawName("502fc3a9", "e", false)});
    manifest["files"]["\xC3\xA9"] = fileEntryFor("e");
    expectVerified(verify());
}

TEST_F(HostileArchiveNames, ComposedAndDecomposedSpellingsOfOneName)
{
    expectUnpackRefused({member("P/Caf\xC3\xA9", "1"), member("P/Cafe\xCC\x81", "2")},
                        "refusing member \"P/Caf\xC3\xA9\": \"P/Caf\xC3\xA9\" appears twice in the archive");
}

TEST_F(HostileArchiveNames, EmptyName)
{
    expectUnpackRefused({member("", "x")}, "refusing a member without a name");
}

TEST_F(HostileArchiveNames, NameThatIsOnlySlashes)
{
    expectUnpackRefused({folder("//", 040755)}, "refusing member \"//\": absolute path");
}

TEST_F(HostileArchiveNames, FileNamingTheUnpackFolderItself)
{
    expectUnpackRefused({member(".", "x")}, "refusing member \".\": it names the destination folder");
}

}  // namespace
}  // namespace kb::test
