// Archives whose data lies or cannot be read: sizes and checksums that do
// not match, a compression bomb, cut-off and foreign files, encryption and
// compression methods the unpacker does not know. Through the real
// installer; a refusal always removes whatever was unpacked so far.

#include "tests/app/hostile_fixture.h"

namespace kb::test {
namespace {

class HostileArchiveData : public HostileRun {
protected:
    void expectUnpackRefused(const std::vector<nlohmann::json>& members, const std::string& reason)
    {
        writeMembers(members);
        expectRefused(verify(), dittoFailed);
        EXPECT_EQ(dittoReason(), "ditto: " + reason + "\n");
    }

    static nlohmann::json lying(const std::string& key, std::uint64_t value, const std::string& method = "deflated")
    {
        nlohmann::json entry = member("P/a", "hello");
        entry[key] = value;
        entry["method"] = method;
        return entry;
    }
};

TEST_F(HostileArchiveData, DeclaredSizeLargerThanTheData)
{
    expectUnpackRefused({lying("declaredSize", 300)},
                        "member \"P/a\": ZIP uncompressed data is wrong size (read 5, expected 300)");
}

TEST_F(HostileArchiveData, DeclaredSizeSmallerThanTheData)
{
    expectUnpackRefused({lying("declaredSize", 3, "stored")},
                        "member \"P/a\": ZIP uncompressed data is wrong size (read 5, expected 3)");
}

TEST_F(HostileArchiveData, DeclaredSizeZero)
{
    expectUnpackRefused({lying("declaredSize", 0)},
                        "member \"P/a\": ZIP uncompressed data is wrong size (read 5, expected 0)");
}

TEST_F(HostileArchiveData, CompressedSizeBeyondTheEndOfTheArchive)
{
    nlohmann::json entry = lying("storedSize", 1 << 30, "stored");
    entry["declaredSize"] = 1 << 30;
    expectUnpackRefused({entry}, "member \"P/a\": Truncated ZIP file data");
}

TEST_F(HostileArchiveData, WrongChecksum)
{
    expectUnpackRefused({lying("crc", 1)}, "member \"P/a\": ZIP bad CRC: 0x3610a686 should be 0x1");
}

TEST_F(HostileArchiveData, LocalHeaderNameClimbingOutWhileTheDirectoryNameIsHarmless)
{
    nlohmann::json entry = member("P/a", "evil");
    entry["localName"] = "../../x";
    expectUnpackRefused({entry}, "refusing member \"../../x\": \"..\" in its path");
}

TEST_F(HostileArchiveData, LocalHeaderNameDifferingFromTheDirectoryNameIsWhatIsUnpacked)
{
    nlohmann::json entry = member("P/a", "hidden");
    entry["localName"] = "P/b";
    writeMembers({entry});
    manifest["files"]["a"] = fileEntryFor("hidden");
    expectRefused(verify(), checkFailed + "b");
}

TEST_F(HostileArchiveData, CompressionBombEndsCleanlyAndItsPartialUnpackIsRemoved)
{
    // 4 GiB of zeros in about 4 MiB; the unpacker stops after at most
    // 64 times the archive's size plus 256 MiB.
    std::vector<nlohmann::json> members{folder("P/")};
    for (char name = 'a'; name < 'i'; ++name) {
        members.push_back({{"name", std::string("P/") + name}, {"zeros", 512 << 20}, {"mode", 0100644}});
    }
    writeMembers(members);
    ASSERT_LT(std::filesystem::file_size(archive()), 8u << 20);

    expectRefused(verify(), dittoFailed);
}

TEST_F(HostileArchiveData, TruncatedArchive)
{
    writeDescribed({{"members", {folder("P/"), member("P/a.txt", "some content")}}, {"truncate", 40}});
    expectRefused(verify(), dittoFailed);
    EXPECT_EQ(dittoReason(), "ditto: " + archive().native() + ": Unrecognized archive format\n");
}

TEST_F(HostileArchiveData, EmptyFile)
{
    writeFile(archive(), "");
    expectRefused(verify(), dittoFailed);
    EXPECT_EQ(dittoReason(), "ditto: " + archive().native() + ": Unrecognized archive format\n");
}

TEST_F(HostileArchiveData, ArchiveWithoutMembersHasNoPayloadRoot)
{
    writeMembers({});
    expectRefused(verify(), contentMissing);
}

TEST_F(HostileArchiveData, EncryptedMemberMadeByInfoZip)
{
    TempDir source;
    writeFile(source / "P/a.txt", "secret\n");
    ProgramRun zip = runProgram("/usr/bin/zip", {"-q", "-r", "-P", "password", archive().native(), "P"},
                                inFolder(source.path()));
    ASSERT_EQ(zip.status, 0) << zip.err;
    manifest["files"]["a.txt"] = fileEntryFor("secret\n");
    expectRefused(verify(), dittoFailed);
    EXPECT_EQ(dittoReason(), "ditto: member \"P/a.txt\": Passphrase required for this entry\n");
}

TEST_F(HostileArchiveData, UnsupportedCompressionMethods)
{
    nlohmann::json shrunk = member("P/a", "hello");
    shrunk["methodCode"] = 1;
    expectUnpackRefused({shrunk}, "member \"P/a\": Unsupported ZIP compression method (1: shrinking)");
    nlohmann::json aes = member("P/a", "hello");
    aes["methodCode"] = 99;
    expectUnpackRefused({aes}, "member \"P/a\": Unsupported ZIP compression method (99: aes)");
}

TEST_F(HostileArchiveData, Bzip2AndLzmaMembersWrittenByPythonAreUnpacked)
{
    ProgramRun python = runProgram(
        "/usr/bin/python3",
        {"-c",
         "import sys, zipfile\n"
         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    z.writestr('P/b.txt', 'bzip2\\n', compress_type=zipfile.ZIP_BZIP2)\n"
         "    z.writestr('P/l.txt', 'lzma\\n', compress_type=zipfile.ZIP_LZMA)\n",
         archive().native()});
    ASSERT_EQ(python.status, 0) << python.err;
    manifest["files"]["b.txt"] = fileEntryFor("bzip2\n");
    manifest["files"]["l.txt"] = fileEntryFor("lzma\n");
    expectVerified(verify());
}

TEST_F(HostileArchiveData, BytesBeforeAndAfterTheArchiveAreSkipped)
{
    writeMembers({folder("P/"), member("P/a.txt", "A")});
    writeFile(archive(), std::string(1000, '#') + readText(archive()) + std::string(1000, '#'));
    manifest["files"]["a.txt"] = fileEntryFor("A");
    expectVerified(verify());
}

}  // namespace
}  // namespace kb::test
