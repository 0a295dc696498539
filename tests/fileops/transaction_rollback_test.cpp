// Rollback and replace failures that permission bits cannot produce for
// root, made through the fault-injecting file manager.

#include "fileops/transaction.h"

#include "platform/posix_file_manager.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>
#include <system_error>

namespace kb {
namespace {

namespace fs = std::filesystem;
using test::Operation;
using test::readText;
using test::writeFile;

bool present(const fs::path& path)
{
    return fs::symlink_status(path).type() != fs::file_type::not_found;
}

class TransactionRollback : public ::testing::Test {
protected:
    PosixFileManager real;
    test::FaultInjectingFileManager faulty{real};
    ScopedFileManager use{faulty};
    test::TempDir dir;
    fs::path home = dir / "home";
    fs::path backups = dir / "backups";
    fs::path source = dir / "new.txt";

    void SetUp() override
    {
        writeFile(source, "new");
        writeFile(home / "one", "1");
        writeFile(home / "two", "2");
        writeFile(home / "three", "3");
    }

    void failWhen(const std::string& name, const fs::path& path, int error)
    {
        faulty.failWhen([=](const Operation& op) { return op.name == name && op.path == path; }, error);
    }

    // Expects `action` to fail with exactly the injected error.
    // The hidden scratch items beside the destinations.
    std::vector<std::string> scratchItems() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(home)) {
            const std::string name = entry.path().filename().native();
            if (name.starts_with(".kestrelbay-install-")) found.push_back(name);
        }
        return found;
    }

    template <typename Action>
    void expectInjected(Action action, int error)
    {
        try {
            action();
            ADD_FAILURE() << "no error";
        } catch (const std::system_error& thrown) {
            EXPECT_EQ(thrown.code().value(), error);
            EXPECT_NE(std::string(thrown.what()).find("(injected)"), std::string::npos) << thrown.what();
        }
    }
};

TEST_F(TransactionRollback, AMiddleItemThatCannotBeRemovedIsTheOnlyOneReported)
{
    Transaction transaction(backups);
    for (const char* name : {"one", "two", "three"}) transaction.replace(source, home / name, name);
    failWhen("removeItem", home / "two", EACCES);

    EXPECT_EQ(transaction.rollback(), std::vector<std::string>{(home / "two").native()});
    EXPECT_EQ(readText(home / "one"), "1");
    EXPECT_EQ(readText(home / "two"), "new");  // left as it was; its backup is not copied back
    EXPECT_EQ(readText(home / "three"), "3");
    EXPECT_EQ(readText(backups / "two"), "2");
}

TEST_F(TransactionRollback, ACopyBackThatFailsIsReportedAndTheWalkGoesOn)
{
    Transaction transaction(backups);
    for (const char* name : {"one", "two", "three"}) transaction.replace(source, home / name, name);
    faulty.failWhen([&](const Operation& op) { return op.name == "copyItem" && op.path == backups / "three"; }, EIO);

    EXPECT_EQ(transaction.rollback(), std::vector<std::string>{(home / "three").native()});
    EXPECT_FALSE(present(home / "three"));
    EXPECT_EQ(readText(backups / "three"), "3");
    EXPECT_EQ(readText(home / "two"), "2");
    EXPECT_EQ(readText(home / "one"), "1");
}

TEST_F(TransactionRollback, EveryFailureIsReportedOnceNewestFirst)
{
    Transaction transaction(backups);
    for (const char* name : {"one", "two", "three"}) transaction.replace(source, home / name, name);
    faulty.failWhen([](const Operation& op) { return op.name == "removeItem" || op.name == "copyItem"; }, EROFS);

    EXPECT_EQ(transaction.rollback(), (std::vector<std::string>{(home / "three").native(), (home / "two").native(),
                                                                (home / "one").native()}));
    EXPECT_EQ(transaction.changes().size(), 3u);
}

TEST_F(TransactionRollback, ARestoredItemThatCannotGetItsOldModeBackIsReported)
{
    Transaction transaction(backups);
    transaction.replace(source, home / "two", "two", 0600u);
    failWhen("setPermissions", home / "two", EROFS);

    EXPECT_EQ(transaction.rollback(), std::vector<std::string>{(home / "two").native()});
    EXPECT_EQ(readText(home / "two"), "2");
    EXPECT_EQ(test::modeOf(home / "two"), 0600u);
}

TEST_F(TransactionRollback, AnInstalledItemThatCannotBeLookedAtIsReportedNotTakenForGone)
{
    Transaction transaction(backups);
    transaction.replace(source, home / "fresh", "fresh");
    failWhen("attributes", home / "fresh", EIO);

    EXPECT_EQ(transaction.rollback(), std::vector<std::string>{(home / "fresh").native()});
    EXPECT_EQ(readText(home / "fresh"), "new");
}

TEST_F(TransactionRollback, AFailedSwapWithTheOldItemIsRecordedAndRolledBack)
{
    Transaction transaction(backups);
    faulty.failWhen([&](const Operation& op) { return op.name == "exchangeItems" && op.other == home / "two"; },
                    ENOSPC);
    expectInjected([&] { transaction.replace(source, home / "two", "two"); }, ENOSPC);
    ASSERT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(transaction.changes()[0].backup, backups / "two");
    EXPECT_EQ(readText(home / "two"), "2");  // the old item never left its place
    EXPECT_EQ(scratchItems(), std::vector<std::string>{});

    faulty.clearFaults();
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(home / "two"), "2");
}

TEST_F(TransactionRollback, AFailedRemovalOfTheSwappedOutOldItemIsRecordedAndRolledBack)
{
    Transaction transaction(backups);
    std::size_t removals = 0;
    faulty.failWhen(
        [&](const Operation& op) {
            // Only the first removal of the scratch name, right after the swap.
            return op.name == "removeItem" && op.path.filename().native().starts_with(".kestrelbay-install-")
                   && ++removals == 1;
        },
        EIO);
    expectInjected([&] { transaction.replace(source, home / "two", "two"); }, EIO);
    ASSERT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(readText(home / "two"), "new");
    EXPECT_EQ(removals, 2u);  // the clean-up tried again, and removed the old item
    EXPECT_EQ(scratchItems(), std::vector<std::string>{});

    faulty.clearFaults();
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(home / "two"), "2");
}

TEST_F(TransactionRollback, AFailedMoveOntoAFreePlaceLeavesItFreeRecordedAndNoScratchItem)
{
    Transaction transaction(backups);
    faulty.failWhen([](const Operation& op) { return op.name == "moveItem"; }, EXDEV);
    expectInjected([&] { transaction.replace(source, home / "fresh", "fresh"); }, EXDEV);
    EXPECT_FALSE(present(home / "fresh"));
    ASSERT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(transaction.changes()[0].backup, std::nullopt);
    EXPECT_EQ(scratchItems(), std::vector<std::string>{});

    faulty.clearFaults();
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_FALSE(present(home / "fresh"));
}

TEST_F(TransactionRollback, AFileSystemThatCannotSwapGetsTheOldItemRemovedAndTheNewOneRenamed)
{
    Transaction transaction(backups);
    faulty.failWhen([](const Operation& op) { return op.name == "exchangeItems"; }, EOPNOTSUPP);
    transaction.replace(source, home / "two", "two");
    EXPECT_EQ(readText(home / "two"), "new");
    EXPECT_EQ(readText(backups / "two"), "2");
    EXPECT_EQ(scratchItems(), std::vector<std::string>{});
    std::vector<std::string> steps;
    for (const Operation& op : faulty.log()) {
        if (op.name == "exchangeItems" || op.name == "removeItem" || op.name == "moveItem") {
            steps.push_back(op.name + " " + op.path.filename().native().substr(0, 20));
        }
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"exchangeItems .kestrelbay-install-", "removeItem two",
                                               "moveItem .kestrelbay-install-", "removeItem .kestrelbay-install-"}));
}

TEST_F(TransactionRollback, AFailureToCreateTheContainingFolderChangesNothingElse)
{
    Transaction transaction(backups);
    const test::TreeSnapshot before = test::snapshot(dir.path());
    faulty.failWhen([](const Operation& op) { return op.name == "createDirectory"; }, EROFS);
    const std::size_t callsBefore = faulty.calls();
    expectInjected([&] { transaction.replace(source, home / "a/b/c", "c"); }, EROFS);
    EXPECT_EQ(faulty.calls(), callsBefore + 1);  // nothing after the failed step
    EXPECT_TRUE(test::differences(before, test::snapshot(dir.path())).empty());
    EXPECT_TRUE(transaction.changes().empty());
}

TEST_F(TransactionRollback, AFailedBackupPermissionLeavesTheDestinationAndRecordsNothing)
{
    Transaction transaction(backups);
    failWhen("setPermissions", backups / "two", EACCES);
    expectInjected([&] { transaction.replace(source, home / "two", "two", 0600u); }, EACCES);
    EXPECT_EQ(readText(home / "two"), "2");
    EXPECT_EQ(test::modeOf(home / "two"), 0644u);
    EXPECT_TRUE(transaction.changes().empty());
    EXPECT_EQ(readText(backups / "two"), "2");  // the unrecorded copy stays
}

TEST_F(TransactionRollback, AFailedScratchRemovalAfterSuccessIsIgnored)
{
    Transaction transaction(backups);
    faulty.failWhen(
        [](const Operation& op) {
            return op.name == "removeItem" && op.path.filename().native().starts_with(".kestrelbay-install-");
        },
        EIO);
    transaction.replace(source, home / "fresh", "fresh");
    EXPECT_EQ(readText(home / "fresh"), "new");
    EXPECT_EQ(transaction.changes().size(), 1u);
    EXPECT_EQ(faulty.log().back().name, "removeItem");  // the clean-up was attempted
}

}  // namespace
}  // namespace kb
