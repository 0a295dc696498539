// Swapping two items with the real file manager, on real files.

#include "platform/posix_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class PosixExchange : public ::testing::Test {
protected:
    PosixFileManager files;
    TempDir dir;
};

TEST_F(PosixExchange, AFolderAndAFileTradePlacesWithEverythingInThem)
{
    writeFile(dir / "tree/inner/a.txt", "a", 0600);
    makeLink("inner/a.txt", dir / "tree/link");
    fs::permissions(dir / "tree", fs::perms(0750));
    writeFile(dir / "file", "plain", 0640);
    const TreeSnapshot tree = snapshot(dir / "tree");

    files.exchangeItems(dir / "tree", dir / "file");

    EXPECT_EQ(readText(dir / "tree"), "plain");
    EXPECT_EQ(modeOf(dir / "tree"), 0640u);
    EXPECT_EQ(snapshot(dir / "file"), tree);
    EXPECT_EQ(modeOf(dir / "file"), 0750u);
}

TEST_F(PosixExchange, ALinkIsSwappedItselfNotWhatItPointsAt)
{
    writeFile(dir / "target", "target");
    makeLink("target", dir / "link");
    writeFile(dir / "other", "other");

    files.exchangeItems(dir / "other", dir / "link");

    EXPECT_EQ(fs::read_symlink(dir / "other"), "target");
    EXPECT_EQ(readText(dir / "link"), "other");
    EXPECT_FALSE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(readText(dir / "target"), "target");
}

TEST_F(PosixExchange, AMissingItemIsReportedAndTheOtherStaysWhereItWas)
{
    writeFile(dir / "present", "here");
    try {
        files.exchangeItems(dir / "present", dir / "missing");
        ADD_FAILURE() << "exchanged with nothing";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(std::string(error.what()),
                  "cannot exchange \"" + (dir / "present").native() + "\": No such file or directory");
    }
    EXPECT_EQ(readText(dir / "present"), "here");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "missing")));
}

// A file manager that does not override the swap says it cannot do it.
class WithoutExchange final : public FileManager {
public:
    void createDirectory(const Path&) override {}
    void setPermissions(const Path&, unsigned) override {}
    void copyItem(const Path&, const Path&) override {}
    void moveItem(const Path&, const Path&) override {}
    void removeItem(const Path&) override {}
    FileAttributes attributes(const Path&) override { return {}; }
    std::string destinationOfSymbolicLink(const Path&) override { return {}; }
    bool isWritable(const Path&) override { return false; }
    std::vector<DirectoryEntry> contentsOfDirectory(const Path&) override { return {}; }
    std::unique_ptr<InputFile> openForReading(const Path&) override { return nullptr; }
    void writeAtomically(const Path&, std::string_view) override {}
    Path homeDirectory() override { return {}; }
    Path temporaryDirectory() override { return {}; }
};

TEST(FileManagerExchange, IsNotSupportedUnlessAFileManagerProvidesIt)
{
    WithoutExchange files;
    try {
        files.exchangeItems("/a", "/b");
        ADD_FAILURE() << "exchanged";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::operation_not_supported);
        EXPECT_EQ(std::string(error.what()), "cannot exchange \"/a\" and \"/b\": Operation not supported");
    }
}

}  // namespace
}  // namespace kb::test
