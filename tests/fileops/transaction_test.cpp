#include "fileops/transaction.h"

#include "platform/posix_file_manager.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kb {
namespace {

namespace fs = std::filesystem;
using test::modeOf;
using test::readText;
using test::snapshot;
using test::writeFile;

bool present(const fs::path& path)
{
    return fs::symlink_status(path).type() != fs::file_type::not_found;
}

std::vector<std::string> scratchItems(const fs::path& root)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().native().starts_with(".kestrelbay-install-")) found.push_back(entry.path());
    }
    return found;
}

class TransactionTest : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager useReal{real};
    test::TempDir dir;
    fs::path home = dir / "home";
    fs::path source = dir / "source";
    fs::path backups = home / "Library/Application Support/P/Installer-Backups/T";

    void SetUp() override { fs::create_directories(home); }
};

TEST_F(TransactionTest, ConstructionCreatesThePrivateBackupFolderWithItsParents)
{
    Transaction transaction(backups);
    EXPECT_EQ(modeOf(backups), 0700u);
    EXPECT_EQ(modeOf(backups.parent_path()), 0755u);
    EXPECT_EQ(transaction.backupRoot(), backups);
    EXPECT_TRUE(transaction.changes().empty());
}

TEST_F(TransactionTest, ConstructionFailsWithTheFolderErrorWhenAFileIsInTheWay)
{
    writeFile(home / "Library/Application Support", "in the way");
    try {
        Transaction transaction(backups);
        FAIL() << "constructed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOTDIR);
    }
}

TEST_F(TransactionTest, NewItemWithMissingParentsIsRecordedWithoutBackupAndRollbackRemovesIt)
{
    writeFile(source, "new", 0600);
    Transaction transaction(backups);
    const fs::path destination = home / "a/b/c/item.txt";
    transaction.replace(source, destination, "item.txt", 0640u);

    EXPECT_EQ(readText(destination), "new");
    EXPECT_EQ(modeOf(destination), 0640u);
    EXPECT_EQ(readText(source), "new");  // the source is copied, not moved
    ASSERT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(transaction.changes()[0].destination, destination);
    EXPECT_FALSE(transaction.changes()[0].backup.has_value());
    EXPECT_TRUE(fs::is_empty(backups));
    EXPECT_TRUE(scratchItems(home).empty());

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_FALSE(present(destination));
    EXPECT_TRUE(fs::is_directory(home / "a/b/c"));  // created parents stay
    EXPECT_TRUE(fs::is_empty(home / "a/b/c"));
    EXPECT_EQ(transaction.changes().size(), 1u);  // rollback never shortens the record
}

TEST_F(TransactionTest, ExistingFileIsBackedUpUnderItsLabelAndRestoredByRollback)
{
    writeFile(source, "new");
    const fs::path destination = home / "settings.json";
    writeFile(destination, "old", 0640);
    Transaction transaction(backups);
    transaction.replace(source, destination, "settings-backup.json");

    EXPECT_EQ(readText(destination), "new");
    EXPECT_EQ(modeOf(destination), 0644u);  // without a mode the copy keeps the source's
    ASSERT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(transaction.changes()[0].backup, backups / "settings-backup.json");
    EXPECT_EQ(readText(backups / "settings-backup.json"), "old");
    EXPECT_EQ(modeOf(backups / "settings-backup.json"), 0640u);

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(destination), "old");
    EXPECT_EQ(modeOf(destination), 0640u);
    EXPECT_EQ(readText(backups / "settings-backup.json"), "old");  // copied back, not moved
}

TEST_F(TransactionTest, ModePrivateAppliesToTheBackupTooAndRollbackGivesBackTheOldMode)
{
    writeFile(source, "new", 0644);
    const fs::path destination = home / ".settings.json";
    writeFile(destination, "old", 0644);
    Transaction transaction(backups);
    transaction.replace(source, destination, ".settings.json", 0600u);

    EXPECT_EQ(modeOf(destination), 0600u);
    EXPECT_EQ(modeOf(backups / ".settings.json"), 0600u);
    EXPECT_EQ(readText(backups / ".settings.json"), "old");

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(destination), "old");
    EXPECT_EQ(modeOf(destination), 0644u);
    EXPECT_EQ(modeOf(backups / ".settings.json"), 0600u);
}

TEST_F(TransactionTest, ModeOtherThanPrivateLeavesTheBackupAsTheCopyMadeIt)
{
    writeFile(source, "new", 0600);
    const fs::path destination = home / "agent.plist";
    writeFile(destination, "old", 0664);
    Transaction transaction(backups);
    transaction.replace(source, destination, "agent.plist", 0644u);

    EXPECT_EQ(modeOf(destination), 0644u);
    EXPECT_EQ(modeOf(backups / "agent.plist"), 0664u);
}

TEST_F(TransactionTest, PrivateModeNeverReachesTheTargetOfABackedUpLink)
{
    const fs::path usersOwn = home / "Dotfiles/settings.json";
    writeFile(usersOwn, "mine", 0644);
    const fs::path destination = home / ".settings.json";
    test::makeLink("Dotfiles/settings.json", destination);
    writeFile(source, "new", 0644);

    Transaction transaction(backups);
    transaction.replace(source, destination, ".settings.json", 0600u);

    EXPECT_TRUE(fs::is_symlink(backups / ".settings.json"));
    EXPECT_EQ(fs::read_symlink(backups / ".settings.json"), "Dotfiles/settings.json");
    EXPECT_EQ(modeOf(usersOwn), 0644u);
    EXPECT_EQ(readText(usersOwn), "mine");
    EXPECT_FALSE(fs::is_symlink(destination));
    EXPECT_EQ(modeOf(destination), 0600u);

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_TRUE(fs::is_symlink(destination));
    EXPECT_EQ(fs::read_symlink(destination), "Dotfiles/settings.json");
    EXPECT_EQ(modeOf(usersOwn), 0644u);
}

TEST_F(TransactionTest, DanglingLinkCountsAsPresentIsBackedUpAsALinkAndRecreated)
{
    const fs::path destination = home / "OFX/Plugin.ofx.bundle";
    test::makeLink("/nonexistent/elsewhere", destination);
    fs::create_directories(source / "Contents");
    writeFile(source / "Contents/Info.plist", "info");

    Transaction transaction(backups);
    transaction.replace(source, destination, "Plugin.ofx.bundle");
    EXPECT_TRUE(fs::is_symlink(backups / "Plugin.ofx.bundle"));
    EXPECT_EQ(fs::read_symlink(backups / "Plugin.ofx.bundle"), "/nonexistent/elsewhere");
    EXPECT_EQ(readText(destination / "Contents/Info.plist"), "info");

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_TRUE(fs::is_symlink(destination));
    EXPECT_EQ(fs::read_symlink(destination), "/nonexistent/elsewhere");
}

TEST_F(TransactionTest, FolderSourceIsCopiedWholeWithLinksAsLinksAndTheModeOnlyOnTop)
{
    fs::create_directories(source / "lib/inner");
    writeFile(source / "lib/inner/code.py", "print()", 0644);
    writeFile(source / "run.sh", "#!/bin/sh", 0755);
    test::makeLink("lib/inner/code.py", source / "current");
    fs::permissions(source / "lib", fs::perms(0750));
    const fs::path destination = home / "Runtime";
    const test::TreeSnapshot before = snapshot(source);

    Transaction transaction(backups);
    transaction.replace(source, destination, "Runtime", 0700u);
    EXPECT_EQ(snapshot(destination), before);
    EXPECT_EQ(modeOf(destination), 0700u);
    EXPECT_EQ(modeOf(destination / "lib"), 0750u);
    EXPECT_TRUE(fs::is_symlink(destination / "current"));
}

TEST_F(TransactionTest, ExistingFolderTreeIsBackedUpWholeAndRestoredWhole)
{
    const fs::path destination = home / "Runtime";
    fs::create_directories(destination / "old/nested");
    writeFile(destination / "old/nested/a.txt", "a", 0600);
    test::makeLink("../a.txt", destination / "old/nested/up");
    writeFile(source, "a file replaces a folder");
    const test::TreeSnapshot before = snapshot(destination);

    Transaction transaction(backups);
    transaction.replace(source, destination, "Runtime");
    EXPECT_EQ(readText(destination), "a file replaces a folder");
    EXPECT_EQ(snapshot(backups / "Runtime"), before);

    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(snapshot(destination), before);
}

TEST_F(TransactionTest, SecondReplacementWithTheSameLabelFailsAtTheBackupCopyAndLeavesItsDestination)
{
    writeFile(source, "new");
    writeFile(home / "one/item", "first");
    writeFile(home / "two/item", "second", 0640);
    Transaction transaction(backups);
    transaction.replace(source, home / "one/item", "item");

    try {
        transaction.replace(source, home / "two/item", "item");
        FAIL() << "replaced over an existing backup";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EEXIST);
    }
    EXPECT_EQ(readText(home / "two/item"), "second");
    EXPECT_EQ(modeOf(home / "two/item"), 0640u);
    EXPECT_EQ(readText(backups / "item"), "first");  // never overwritten
    EXPECT_EQ(transaction.changes().size(), 1u);
    EXPECT_TRUE(scratchItems(home).empty());
}

TEST_F(TransactionTest, MissingSourceFailsWithTheCopyErrorAndChangesNothing)
{
    writeFile(home / "item", "old");
    Transaction transaction(backups);
    const test::TreeSnapshot before = snapshot(home);
    try {
        transaction.replace(dir / "missing", home / "item", "item");
        FAIL() << "replaced from a missing source";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
    EXPECT_EQ(snapshot(home), before);
    EXPECT_TRUE(transaction.changes().empty());
}

TEST_F(TransactionTest, RollbackWithoutChangesReturnsNothingAndTouchesNothing)
{
    writeFile(home / "item", "old");
    Transaction transaction(backups);
    test::FaultInjectingFileManager counting(real);
    ScopedFileManager useCounting(counting);
    const test::TreeSnapshot before = snapshot(dir.path());
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(counting.calls(), 0u);
    EXPECT_EQ(snapshot(dir.path()), before);
}

}  // namespace
}  // namespace kb
