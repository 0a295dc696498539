// Fails every file-manager call of a realistic run in turn, once and from
// that call on, and proves that replace-then-rollback always leaves the home
// as it was (or says which destination it could not restore), never leaves a
// scratch item behind when removals still work, and never loses a backup.

#include "fileops/transaction.h"

#include "platform/posix_file_manager.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

namespace kb {
namespace {

namespace fs = std::filesystem;
using test::makeLink;
using test::TreeSnapshot;
using test::writeFile;

struct Replacement {
    fs::path source;
    fs::path destination;
    std::string label;
    std::optional<unsigned> mode;
};

// A home with a file, a folder tree holding a relative link, a dangling
// link and a world-readable settings file, and the new items for them.
struct Fixture {
    test::TempDir dir;
    fs::path home = dir / "home";
    fs::path sources = dir / "sources";
    fs::path backupRoot = home / "Library/Application Support/Kestrel/Installer-Backups/run";
    std::vector<Replacement> replacements;
    // Folders that replace() creates for destinations whose parents are missing.
    std::set<std::string> createdFolders{"New", "New/Deeper", "Missing", "Missing/Parents"};

    Fixture()
    {
        writeFile(home / "Documents/keep.txt", "untouched");
        writeFile(home / "Existing/settings.txt", "old settings", 0640);
        writeFile(home / "Runtime/lib/a.py", "print('old')");
        writeFile(home / "Runtime/lib/deep/b.bin", std::string("\0\1\2old", 6), 0600);
        makeLink("lib/a.py", home / "Runtime/current");
        fs::permissions(home / "Runtime/lib", fs::perms(0750));
        makeLink("../Nowhere/Plugin.bundle", home / "OFX/Plugin.bundle");
        writeFile(home / ".private.json", R"({"old": true})", 0644);

        writeFile(sources / "fresh.txt", "fresh");
        writeFile(sources / "settings.txt", "new settings", 0600);
        writeFile(sources / "Runtime/bin/run", "#!/bin/sh\n", 0755);
        writeFile(sources / "Runtime/lib/a.py", "print('new')");
        makeLink("bin/run", sources / "Runtime/start");
        writeFile(sources / "Plugin.bundle/Contents/Info.plist", "<plist/>");
        writeFile(sources / "private.json", R"({"new": true})", 0644);

        replacements = {
            {sources / "fresh.txt", home / "New/Deeper/fresh.txt", "fresh.txt", std::nullopt},
            {sources / "settings.txt", home / "Existing/settings.txt", "settings.txt", 0644u},
            {sources / "Runtime", home / "Runtime", "Runtime", 0755u},
            {sources / "Plugin.bundle", home / "OFX/Plugin.bundle", "Plugin.bundle", std::nullopt},
            {sources / "private.json", home / ".private.json", ".private.json", 0600u},
            {sources / "Plugin.bundle", home / "Missing/Parents/Plugin.bundle", "Second.bundle", 0700u},
        };
    }

    std::string relative(const fs::path& path) const { return path.lexically_relative(home).native(); }
};

struct Outcome {
    bool failed = false;
    int error = 0;
    std::vector<std::string> unrestored;
    std::vector<Transaction::Change> changes;
};

// What the install frame does: one transaction, the replacements in order,
// and on the first error a single rollback.
Outcome runSequence(const Fixture& fixture)
{
    Outcome outcome;
    std::optional<Transaction> transaction;
    try {
        transaction.emplace(fixture.backupRoot);
        for (const Replacement& r : fixture.replacements) {
            transaction->replace(r.source, r.destination, r.label, r.mode);
        }
    } catch (const std::system_error& error) {
        outcome.failed = true;
        outcome.error = error.code().value();
        if (transaction) outcome.unrestored = transaction->rollback();
    }
    if (transaction) outcome.changes = transaction->changes();
    return outcome;
}

bool within(const std::string& path, const std::string& item)
{
    return path == item || path.starts_with(item + "/");
}

bool isScratch(const std::string& path)
{
    return path.starts_with(".kestrelbay-install-") || path.find("/.kestrelbay-install-") != std::string::npos;
}

// The entries of one item (the item itself and everything below it), keyed
// relative to the item.
TreeSnapshot itemSnapshot(const TreeSnapshot& tree, const std::string& item)
{
    TreeSnapshot entries;
    for (const auto& [path, state] : tree) {
        if (within(path, item)) entries["." + path.substr(item.size())] = state;
    }
    return entries;
}

std::vector<std::string> scratchItemsBelow(const fs::path& root)
{
    std::vector<std::string> found;
    for (const auto& [path, state] : test::snapshot(root)) {
        if (isScratch(path)) found.push_back(path);
    }
    return found;
}

std::string describe(const test::FaultInjectingFileManager& fm, std::size_t call, bool persistent, int error)
{
    const test::Operation& op = fm.log().at(call - 1);
    return "call " + std::to_string(call) + " " + op.name + " " + op.path.native() + (persistent ? " (persistent" : " (once")
           + ", errno " + std::to_string(error) + ")";
}

class TransactionFaults : public ::testing::Test {
protected:
    PosixFileManager real;

    std::size_t countCalls(TreeSnapshot& after)
    {
        Fixture fixture;
        test::FaultInjectingFileManager counting(real);
        Outcome outcome;
        {
            ScopedFileManager use(counting);
            outcome = runSequence(fixture);
        }
        EXPECT_FALSE(outcome.failed);
        EXPECT_TRUE(scratchItemsBelow(fixture.dir.path()).empty());
        after = test::snapshot(fixture.home);
        return counting.calls();
    }

    void checkOneFault(std::size_t call, bool persistent, const TreeSnapshot& successful)
    {
        static constexpr std::array<int, 5> errors{ENOSPC, EIO, EROFS, EACCES, EXDEV};
        const int error = errors[call % errors.size()];

        Fixture fixture;
        const TreeSnapshot before = test::snapshot(fixture.home);
        test::FaultInjectingFileManager faulty(real);
        faulty.failCall(call, error, persistent);
        Outcome outcome;
        {
            ScopedFileManager use(faulty);
            outcome = runSequence(fixture);
        }
        SCOPED_TRACE(describe(faulty, call, persistent, error));
        ASSERT_TRUE(faulty.injected());
        const TreeSnapshot after = test::snapshot(fixture.home);
        const std::string backupRoot = fixture.relative(fixture.backupRoot);

        if (!outcome.failed) {
            // Only a failed clean-up may go unnoticed; the run is then complete.
            EXPECT_TRUE(test::differences(successful, after).empty());
            EXPECT_TRUE(scratchItemsBelow(fixture.dir.path()).empty());
            return;
        }
        // The transaction passes the file manager's error on unchanged.
        EXPECT_EQ(outcome.error, error);

        std::set<std::string> reported(outcome.unrestored.begin(), outcome.unrestored.end());
        EXPECT_EQ(reported.size(), outcome.unrestored.size()) << "a destination reported twice";
        std::set<std::string> recorded;
        for (const auto& change : outcome.changes) recorded.insert(change.destination.native());
        for (const std::string& path : reported) EXPECT_TRUE(recorded.contains(path)) << path;

        auto explained = [&](const std::string& path, const test::EntryState& state) {
            if (within(path, backupRoot) || within(backupRoot, path)) return true;
            if (fixture.createdFolders.contains(path) && state.type == 'd') return true;
            for (const std::string& destination : reported) {
                if (within(path, fixture.relative(destination))) return true;
            }
            // A disk that keeps refusing also refuses to remove the scratch item.
            return persistent && isScratch(path);
        };
        for (const auto& [path, state] : before) {
            auto now = after.find(path);
            if (now == after.end()) {
                EXPECT_TRUE(explained(path, state)) << "removed " << path;
            } else if (!(now->second == state)) {
                EXPECT_TRUE(explained(path, now->second)) << "changed " << path;
            }
        }
        for (const auto& [path, state] : after) {
            if (!before.contains(path)) {
                EXPECT_TRUE(explained(path, state)) << "added " << path;
            }
        }
        if (!persistent) {
            EXPECT_EQ(scratchItemsBelow(fixture.dir.path()), std::vector<std::string>{});
        }

        // Every recorded backup holds the whole old item, whatever rollback did.
        for (const auto& change : outcome.changes) {
            if (!change.backup) continue;
            const std::string label = change.backup->filename().native();
            TreeSnapshot expected = itemSnapshot(before, fixture.relative(change.destination));
            if (label == ".private.json") expected["."].mode = 0600;
            EXPECT_EQ(itemSnapshot(after, backupRoot + "/" + label), expected) << "backup " << label;
        }
    }
};

TEST_F(TransactionFaults, EveryFailingCallIsUndoneOrReportedAndNoBackupIsLost)
{
    TreeSnapshot successful;
    const std::size_t calls = countCalls(successful);
    ASSERT_GT(calls, 40u);
    std::cout << "[ fault points ] " << calls << " file-manager calls, each failed once and persistently\n";
    for (bool persistent : {false, true}) {
        for (std::size_t call = 1; call <= calls; ++call) checkOneFault(call, persistent, successful);
    }
}

}  // namespace
}  // namespace kb
