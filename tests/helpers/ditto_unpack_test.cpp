// The ditto stand-in on archives it must unpack: files, folders, links kept
// as links, modes and names exactly as stored.

#include "tests/helpers/ditto_fixture.h"

#include <sys/stat.h>

#include <cstdint>
#include <set>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

std::string linkText(const fs::path& path)
{
    return fs::read_symlink(path).native();
}

TEST(DittoUnpack, RestoresFilesFoldersAndLinksAsStored)
{
    TempDir temp;
    makeZip(temp / "a.zip", {folder("P/"), member("P/readme.txt", "hello\n"),
                             member("P/bin/tool", "#!/bin/sh\necho hi\n", 0100755),
                             member("P/private.key", "secret", 0100600), link("P/bin/alias", "tool"),
                             link("P/abs", "/etc/hosts"), link("P/up", "../../somewhere/else"),
                             folder("P/empty/"), folder("P/locked/", 040500), folder("P/shared/", 040750)});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readText(temp / "out/P/readme.txt"), "hello\n");
    EXPECT_EQ(readText(temp / "out/P/bin/tool"), "#!/bin/sh\necho hi\n");
    EXPECT_EQ(modeOf(temp / "out/P/readme.txt"), 0644u);
    EXPECT_EQ(modeOf(temp / "out/P/bin/tool"), 0755u);
    EXPECT_EQ(modeOf(temp / "out/P/private.key"), 0600u);
    ASSERT_TRUE(fs::is_symlink(temp / "out/P/bin/alias"));
    EXPECT_EQ(linkText(temp / "out/P/bin/alias"), "tool");
    // Link texts are kept whatever they point at; judging them is the verifier's job.
    EXPECT_EQ(linkText(temp / "out/P/abs"), "/etc/hosts");
    EXPECT_EQ(linkText(temp / "out/P/up"), "../../somewhere/else");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(temp / "out/P/empty")));
    EXPECT_TRUE(fs::is_empty(temp / "out/P/empty"));
    // Folders stay usable by their owner.
    EXPECT_EQ(modeOf(temp / "out/P/locked"), 0700u);
    EXPECT_EQ(modeOf(temp / "out/P/shared"), 0750u);
    EXPECT_EQ(modeOf(temp / "out/P/bin"), 0755u);  // implied by its members
}

TEST(DittoUnpack, StripsSetIdAndStickyBits)
{
    TempDir temp;
    makeZip(temp / "a.zip", {member("setuid", "x", 0104755), member("setgid", "y", 0102755),
                             folder("sticky/", 041777), folder("groupdir/", 042775)});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(modeOf(temp / "out/setuid"), 0755u);
    EXPECT_EQ(modeOf(temp / "out/setgid"), 0755u);
    EXPECT_EQ(modeOf(temp / "out/sticky"), 0777u);
    EXPECT_EQ(modeOf(temp / "out/groupdir"), 0775u);
}

TEST(DittoUnpack, KeepsNonAsciiNamesByteForByteUnderTheCLocale)
{
    TempDir temp;
    const std::string folderName = "Grüße";
    const std::string fileName = "Ünïcødé – 東京.txt";
    const std::string linkName = "Verknüpfung";
    makeZip(temp / "a.zip", {member(folderName + "/" + fileName, "ä\n"), link(folderName + "/" + linkName, fileName)});

    ProgramRun run = unpack(temp / "a.zip", temp / "out", withCLocale());

    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp / "out" / folderName)) {
        names.insert(entry.path().filename().native());
    }
    EXPECT_EQ(names, (std::set<std::string>{fileName, linkName}));
    EXPECT_EQ(readText(temp / "out" / folderName / fileName), "ä\n");
    EXPECT_EQ(linkText(temp / "out" / folderName / linkName), fileName);
}

TEST(DittoUnpack, CreatesAMissingDestinationAndImpliedFolders)
{
    TempDir temp;
    makeZip(temp / "a.zip", {member("deep/er/file.txt", "x")});

    ProgramRun run = unpack(temp / "a.zip", temp / "new/dest");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readText(temp / "new/dest/deep/er/file.txt"), "x");
    EXPECT_EQ(modeOf(temp / "new/dest/deep"), 0755u);
    EXPECT_EQ(modeOf(temp / "new/dest/deep/er"), 0755u);
}

// Folders stay open from one member to the next; members that jump between
// folders, return to an earlier one, or lie deeper than the folders kept
// open all land where their names say.
TEST(DittoUnpack, MembersJumpingBetweenFoldersAndVeryDeepOnesLandWhereTheirNamesSay)
{
    TempDir temp;
    std::string deep = "P";
    for (int i = 0; i < 70; ++i) deep += "/d" + std::to_string(i);
    const std::string halfway = deep.substr(0, deep.find("/d40/"));
    makeZip(temp / "a.zip", {member("P/a/one", "1"), member("P/b/two", "2"), member("P/a/three", "3"),
                             member(deep + "/bottom", "bottom"), member(halfway + "/middle", "middle"),
                             folder(deep + "/below/", 040700), member(deep + "/below/last", "last"),
                             member("P/a/x/y/four", "4"), link("P/a/x/alias", "y/four"),
                             member("P/a/five", "5"), member("top", "top")});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readText(temp / "out/P/a/one"), "1");
    EXPECT_EQ(readText(temp / "out/P/b/two"), "2");
    EXPECT_EQ(readText(temp / "out/P/a/three"), "3");
    EXPECT_EQ(readText(temp / "out" / (deep + "/bottom")), "bottom");
    EXPECT_EQ(readText(temp / "out" / (halfway + "/middle")), "middle");
    EXPECT_EQ(modeOf(temp / "out" / (deep + "/below")), 0700u);
    EXPECT_EQ(readText(temp / "out" / (deep + "/below/last")), "last");
    EXPECT_EQ(readText(temp / "out/P/a/x/y/four"), "4");
    EXPECT_EQ(linkText(temp / "out/P/a/x/alias"), "y/four");
    EXPECT_EQ(readText(temp / "out/P/a/five"), "5");
    EXPECT_EQ(readText(temp / "out/top"), "top");
    EXPECT_EQ(modeOf(temp / "out" / (deep.substr(0, deep.find("/d1/")))), 0755u);
}

TEST(DittoUnpack, AnEmptyArchiveGivesAnEmptyFolder)
{
    TempDir temp;
    makeZip(temp / "a.zip", std::vector<nlohmann::json>{});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_empty(temp / "out"));
}

TEST(DittoUnpack, LargeFilesStoredAndDeflatedArriveWhole)
{
    TempDir temp;
    std::string big;
    for (std::uint64_t i = 0; big.size() < (3u << 20) + 17; ++i) big += std::to_string(i * 7919) + ",";
    nlohmann::json stored = member("stored.bin", big);
    stored["method"] = "stored";
    makeZip(temp / "a.zip", {stored, member("deflated.bin", big)});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sha256Hex(readText(temp / "out/stored.bin")), sha256Hex(big));
    EXPECT_EQ(sha256Hex(readText(temp / "out/deflated.bin")), sha256Hex(big));
}

TEST(DittoUnpack, ATreeZippedByInfoZipComesBackIdentical)
{
    TempDir temp;
    const fs::path tree = temp / "src/Tree";
    writeFile(tree / "Contents/Info.plist", "<plist/>\n");
    writeFile(tree / "Contents/MacOS/run", "#!/bin/sh\n", 0755);
    writeFile(tree / "Contents/Resources/ü.txt", "umlaut\n", 0600);
    makeLink("../MacOS/run", tree / "Contents/Resources/run-link");
    makeLink("Contents", tree / "Top");
    fs::create_directories(tree / "Contents/Empty");
    ProgramRun zip = runProgram("/usr/bin/zip", {"-q", "-r", "-y", (temp / "tree.zip").native(), "Tree"},
                                inFolder(temp / "src"));
    ASSERT_EQ(zip.status, 0) << zip.err;

    ProgramRun run = unpack(temp / "tree.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(snapshot(temp / "out/Tree"), snapshot(tree));
}

TEST(DittoUnpack, AFifoMemberArrivesAsARegularFileNeverAsAFifo)
{
    // The archive library reads a FIFO-typed member as a regular file (Info-ZIP
    // stores data read from a pipe that way), so no FIFO is ever created.
    TempDir temp;
    makeZip(temp / "a.zip", {member("pipe", "piped data", 0010644)});

    ProgramRun run = unpack(temp / "a.zip", temp / "out");

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(temp / "out/pipe")));
    EXPECT_EQ(readText(temp / "out/pipe"), "piped data");
    EXPECT_EQ(modeOf(temp / "out/pipe"), 0644u);
}

}  // namespace
}  // namespace kb::test
