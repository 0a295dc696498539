#include "payload/paths.h"
#include "core/unicode.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace kb {
namespace {

using test::makeLink;
using test::TempDir;
using test::writeFile;

// The temporary folder may itself lie behind a link (/tmp -> /private/tmp).
std::string real(const std::filesystem::path& path)
{
    return std::filesystem::canonical(path).native();
}

TEST(SafeRelative, RefusesEmptyAbsoluteAndClimbingPaths)
{
    EXPECT_FALSE(safeRelative(""));
    EXPECT_FALSE(safeRelative("/a"));
    EXPECT_FALSE(safeRelative("/"));
    EXPECT_FALSE(safeRelative(".."));
    EXPECT_FALSE(safeRelative("a/.."));
    EXPECT_FALSE(safeRelative("a/../b"));
    EXPECT_FALSE(safeRelative("../a"));
    EXPECT_FALSE(safeRelative("a//../b"));
    EXPECT_FALSE(safeRelative("a/../"));
}

TEST(SafeRelative, AcceptsEverythingElse)
{
    EXPECT_TRUE(safeRelative("a"));
    EXPECT_TRUE(safeRelative("a/b"));
    EXPECT_TRUE(safeRelative("./a"));
    EXPECT_TRUE(safeRelative("."));
    EXPECT_TRUE(safeRelative("a//b"));
    EXPECT_TRUE(safeRelative("a/"));
    EXPECT_TRUE(safeRelative("a/..b"));
    EXPECT_TRUE(safeRelative("a..b"));
    EXPECT_TRUE(safeRelative("..."));
    EXPECT_TRUE(safeRelative("..a/b.."));
}

TEST(StandardizedPath, FoldsOnTheTextAlone)
{
    EXPECT_EQ(standardizedPath("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(standardizedPath("/a/b/../c"), "/a/c");
    EXPECT_EQ(standardizedPath("/a/b/../../.."), "/");
    EXPECT_EQ(standardizedPath("/../x"), "/x");
    EXPECT_EQ(standardizedPath("/"), "/");
    EXPECT_EQ(standardizedPath("//"), "/");
    EXPECT_EQ(standardizedPath("a/./b/.."), "a");
    EXPECT_EQ(standardizedPath("../a/../../b"), "../../b");
    EXPECT_EQ(standardizedPath("/a/..b/c.."), "/a/..b/c..");
}

TEST(CanonicalPath, ResolvesLinksAndDots)
{
    TempDir temp;
    writeFile(temp / "real/folder/file", "x");
    makeLink("real/folder", temp / "linked");
    EXPECT_EQ(canonicalPath(temp / "linked/file"), real(temp / "real/folder/file"));
    EXPECT_EQ(canonicalPath(temp / "real/./folder//../folder/file"), real(temp / "real/folder/file"));
    EXPECT_EQ(canonicalPath(temp / "linked"), real(temp / "real/folder"));
    EXPECT_EQ(resolvedPath(temp / "linked"), real(temp / "real/folder"));
}

TEST(CanonicalPath, MissingPathGivesItsStandardizedForm)
{
    TempDir temp;
    const std::string base = real(temp.path());
    EXPECT_EQ(canonicalPath(base + "/no/such/./thing/../other/"), base + "/no/such/other");
    EXPECT_EQ(resolvedPath(base + "/no/such"), std::nullopt);
}

TEST(CanonicalPath, DanglingLinkGivesTheStandardizedPathOfTheLinkItself)
{
    TempDir temp;
    const std::string base = real(temp.path());
    makeLink("/no/such/target", temp / "dangling");
    EXPECT_EQ(canonicalPath(base + "/./dangling"), base + "/dangling");
    EXPECT_EQ(resolvedPath(base + "/dangling"), std::nullopt);
}

TEST(CanonicalPath, LinkLoopFallsBackToo)
{
    TempDir temp;
    const std::string base = real(temp.path());
    makeLink("b", temp / "a");
    makeLink("a", temp / "b");
    EXPECT_EQ(canonicalPath(base + "/a"), base + "/a");
}

TEST(CanonicalPath, RelativePathsComeBackAbsolute)
{
    TempDir temp;
    const std::string base = real(temp.path());
    writeFile(temp / "here", "x");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(base);
    const std::string resolved = canonicalPath("here");
    const std::string missing = canonicalPath("missing/../gone");
    std::filesystem::current_path(before);
    EXPECT_EQ(resolved, base + "/here");
    EXPECT_EQ(missing, base + "/gone");
}

TEST(Nfc, ComposesAndLeavesAsciiAndInvalidTextAlone)
{
    EXPECT_EQ(nfc("Cafe\xCC\x81"), "Caf\xC3\xA9");  // e + combining acute -> é
    EXPECT_EQ(nfc("Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(nfc("plain/ascii"), "plain/ascii");
    EXPECT_EQ(nfc(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(nfc("\xE2\x84\xAB"), "\xC3\x85");  // ANGSTROM SIGN -> Å
    EXPECT_EQ(nfc("bad\xFF"), "bad\xFF");
    EXPECT_EQ(nfc(std::string("\xC3\xA9\0x\xCC\x81", 6)), std::string("\xC3\xA9\0x\xCC\x81", 6));
}

}  // namespace
}  // namespace kb
