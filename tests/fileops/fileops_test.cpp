// The command runner with real programs, the file helpers and the
// transaction on a real disk.

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "fileops/run_folder.h"
#include "fileops/transaction.h"
#include "platform/forwarding_file_manager.h"
#include "platform/launcher.h"
#include "platform/scoped_service.h"
#include "platform/system_error.h"
#include "tests/support/kit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <regex>

namespace kb::test {
namespace {

struct Fileops : testing::Test {
    std::unique_ptr<FileManager> disk = makeSystemFileManager();
    std::unique_ptr<Launcher> processes = makeSystemLauncher();
    ScopedService<FileManager> useDisk{fm, *disk};
    ScopedService<Launcher> useProcesses{launcher, *processes};
    TempDir dir;
    fs::path home = dir / "home", backups = dir / "home/Backups/T";
};

TEST_F(Fileops, ProcessRunsToolsWithoutAShellAndCollectsBothStreams)
{
    std::string numbers;
    for (int i = 1; i <= 100000; ++i) numbers += std::to_string(i) + "\n";
    struct Case { std::vector<std::string> script; int status; std::string output; };
    const Case cases[] = {
        {{"-c", "echo eins; echo zwei >&2; printf 'fünf\\n\\n'"}, 0, "eins\nzwei\nfünf\n\n"},
        {{"-c", "seq 1 100000 >&2; seq 1 100000"}, 0, numbers + numbers},
        {{"-c", "printf '\\377'; exit 3"}, 3, ""},             // not UTF-8: no output
        {{"-c", "kill -TERM $$"}, 128 + SIGTERM, ""},          // a signal never counts as success
        {{"-c", "printf %s \"$1|$KB_PROBE|$(pwd)\"", "x", "a b;*"}, 0, "a b;*|probe|" + fs::current_path().native()},
        {{"-c", "(sleep 1; echo später) & echo sofort"}, 0, "sofort\nspäter\n"},
        {{"-c", "readlink /proc/self/fd/0; timeout 5 cat; echo $?"}, 0, "/dev/null\n0\n"},  // not the installer's input
        {{"-c", "ls /proc/self/fd"}, 0, "0\n1\n2\n3\n"},  // its three and the one ls reads: none of the installer's
    };
    ScopedEnv probe("KB_PROBE", "probe");
    int input[2], saved = ::dup(STDIN_FILENO);  // the installer's input: a pipe that stays open, as a terminal does
    ASSERT_TRUE(::pipe2(input, O_CLOEXEC) == 0 && ::dup2(input[0], STDIN_FILENO) == STDIN_FILENO);
    const int leaky = ::open("/dev/null", O_RDONLY);  // as a library may open one, without close-on-exec
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.at(1));
        const ProcessResult result = process("/bin/sh", c.script, false);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.output == c.output) << result.output.substr(0, 200);
    }
    for (int fd : {input[0], input[1], leaky}) ::close(fd);
    ::dup2(saved, STDIN_FILENO), ::close(saved);
    try {
        process("/bin/sh", {"-c", "echo nein; exit 4"});
        ADD_FAILURE() << "a required tool that fails must throw";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), messages::systemStepFailed("sh", 4));
    }
    ScopedEnv path("PATH", (dir / "bin").native());
    writeFile(dir / "bin/sh", "#!/bin/sh\necho wrong\n", 0755);
    for (bool required : {true, false}) {
        EXPECT_THROW(process("sh", {}, required), std::system_error);  // never looked up along PATH
        EXPECT_THROW(process(dir / "bin", {}, required), std::system_error);
    }
}

TEST_F(Fileops, HelpersKeepLinksAndModesAndTheJsonStyle)
{
    makeLink("missing", home / "dangling");
    EXPECT_TRUE(kb::exists(home / "dangling"));
    EXPECT_FALSE(kb::exists(home / "none"));
    makeDir(home / "a/b", true);
    EXPECT_EQ(modeOf(home / "a/b"), 0700u);
    EXPECT_EQ(modeOf(home / "a"), 0755u);
    EXPECT_EQ(writeTemp("{}", home / "t.json", 0644), home / "t.json");
    EXPECT_EQ(modeOf(home / "t.json"), 0644u);
    EXPECT_THROW(writeTemp("x", home / "missing/t"), std::system_error);
    EXPECT_EQ(jsonData({{"z/", "ä"}, {"a", {1, true}}}), "{\n  \"a\": [\n    1,\n    true\n  ],\n  \"z/\": \"ä\"\n}");
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"~", "/h"}, {"~/", "/h"}, {"~/x", "/h/x"}, {"~//V/x", "/h/V/x"}, {"~x", "~x"}, {"/~/x", "/~/x"}, {"", ""}})
        EXPECT_EQ(expand(in, "/h"), out) << in;
    EXPECT_TRUE(writableAncestor(home / "new/deeper"));
    EXPECT_TRUE(writableAncestor("/"));
    struct NotWritable : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        std::vector<Path> asked;
        bool isWritable(const Path& path) override { return asked.push_back(path), false; }
    } refusing(*disk);
    ScopedService<FileManager> useRefusing(fm, refusing);
    EXPECT_FALSE(writableAncestor(home / "new/deeper"));
    EXPECT_EQ(refusing.asked, std::vector<Path>{home});

    char now[16];
    const std::time_t t = std::time(nullptr);
    std::strftime(now, sizeof now, "%Y%m%d-%H%M", std::localtime(&t));
    const std::string first = timestamp(), second = timestamp();
    EXPECT_TRUE(std::regex_match(first, std::regex(std::string(now) + R"(\d\d-\d{3}-[0-9A-F]{6})"))) << first;
    EXPECT_NE(first.substr(20), second.substr(20));
}

// Each replacement: what is at the destination before, what comes in, the
// mode asked for, and the destination's and the backup's state afterwards.
TEST_F(Fileops, TransactionBacksUpReplacesAndRollsBack)
{
    writeFile(dir / "src/file", "neu", 0640);
    writeFile(dir / "src/tree/sub/f", "f", 0600);
    makeLink("sub/f", dir / "src/tree/link");
    writeFile(home / "old.txt", "alt", 0644);
    writeFile(home / "old/tree/x", "x", 0444);
    makeLink("/etc/hostname", home / "link");
    makeLink("nowhere", home / "dangling");
    const Tree before = picture(home);

    Transaction transaction(backups);
    EXPECT_FALSE(fs::exists(backups));  // made with the first change
    transaction.replace(dir / "src/file", home / "new/deep/file", "file");
    EXPECT_EQ(modeOf(backups), 0700u);
    transaction.replace(dir / "src/file", home / "old.txt", "old.txt", 0600);
    transaction.replace(dir / "src/tree", home / "old/tree", "tree", 0750);
    transaction.replace(dir / "src/file", home / "link", "link", 0600);
    transaction.replace(dir / "src/file", home / "dangling", "dangling");
    EXPECT_THROW(transaction.replace(dir / "src/file", home / "old.txt", "old.txt"), std::system_error);
    EXPECT_THROW(transaction.replace(dir / "src/none", home / "none", "none"), std::system_error);

    const Tree after = picture(home);
    EXPECT_EQ(after.at("new/deep/file"), "f 640 " + sha256Hex("neu"));
    EXPECT_EQ(after.at("old.txt"), "f 600 " + sha256Hex("neu"));
    EXPECT_EQ(after.at("old/tree"), "d 750");
    EXPECT_EQ(after.at("old/tree/sub/f"), "f 600 " + sha256Hex("f"));
    EXPECT_EQ(after.at("old/tree/link"), "l sub/f");
    EXPECT_EQ(after.at("link"), "f 600 " + sha256Hex("neu"));
    EXPECT_EQ(after.at("Backups/T/old.txt"), "f 600 " + sha256Hex("alt"));  // made private for the backup
    EXPECT_EQ(after.at("Backups/T/tree/x"), before.at("old/tree/x"));
    EXPECT_EQ(after.at("Backups/T/link"), "l /etc/hostname");
    EXPECT_EQ(after.at("Backups/T/dangling"), "l nowhere");
    EXPECT_EQ(transaction.changes().size(), 5u);
    EXPECT_FALSE(transaction.changes().front().backup);
    for (const auto& [path, state] : after) EXPECT_EQ(path.find(".kestrelbay-install-"), std::string::npos) << path;

    EXPECT_TRUE(transaction.rollback().empty());
    Tree restored = picture(home);
    EXPECT_EQ(restored.erase("new"), 1u);
    EXPECT_EQ(restored.erase("new/deep"), 1u);
    for (auto it = restored.begin(); it != restored.end();) it = it->first.starts_with("Backups") ? restored.erase(it) : ++it;
    EXPECT_EQ(restored, before);
}

// A file system that cannot swap two items: the old one is removed, then the
// new one renamed into place. A removal that fails is reported, not hidden.
// A swap that fails otherwise (a mount point) leaves the item alone.
TEST_F(Fileops, TransactionWithoutExchangeAndRollbackThatCannotRestore)
{
    struct Refusing : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        bool failRemoval = false;
        int exchangeError = EBUSY;
        void exchangeItems(const Path& a, const Path&) override { throw std::system_error(exchangeError, std::generic_category(), a); }
        void removeItem(const Path& path) override
        {
            if (failRemoval) throw std::system_error(EBUSY, std::generic_category(), path);
            ForwardingFileManager::removeItem(path);
        }
    } refusing(*disk);
    ScopedService<FileManager> useRefusing(fm, refusing);
    writeFile(dir / "new", "neu");
    writeFile(home / "a", "alt a");
    writeFile(home / "b", "alt b", 0600);
    Transaction transaction(backups);
    EXPECT_THROW(transaction.replace(dir / "new", home / "a", "mounted"), std::system_error);
    EXPECT_TRUE(transaction.changes().empty());
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(home / "a"), "alt a");
    refusing.exchangeError = EOPNOTSUPP;
    transaction.replace(dir / "new", home / "a", "a");
    transaction.replace(dir / "new", home / "b", "b");
    EXPECT_EQ(readText(home / "b"), "neu");
    refusing.failRemoval = true;
    EXPECT_EQ(transaction.rollback(), (std::vector<std::string>{home / "b", home / "a"}));
    EXPECT_EQ(readText(backups / "a"), "alt a");
    EXPECT_EQ(readText(backups / "b"), "alt b");
    refusing.failRemoval = false;
    EXPECT_TRUE(transaction.rollback().empty());
    EXPECT_EQ(readText(home / "a"), "alt a");
    EXPECT_EQ(modeOf(home / "b"), 0600u);
}

// A temporary folder on a file system without locks: a run there goes on unlocked, and a sweep leaves alone what it
// cannot lock.
TEST_F(Fileops, RunFoldersWhereNothingCanBeLockedGoOnAndAreNeverSwept)
{
    struct NoLocks : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        std::unique_ptr<FileLock> lockExclusively(const Path& path) override { throw SystemError(ENOLCK, "lock", path); }
    } noLocks(*disk);
    ScopedService<FileManager> useNoLocks(fm, noLocks);
    fs::create_directories(dir / "tmp");
    auto earlier = std::make_unique<RunFolder>(dir / "tmp");
    const fs::path folder = earlier->path();
    EXPECT_TRUE(earlier->lock() == nullptr && fs::exists(folder / ".kestrelbay-run-record"));
    RunFolder next(dir / "tmp");
    next.sweepAbandonedRuns();
    EXPECT_TRUE(fs::exists(folder));
    earlier.reset();
    EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
}  // namespace kb::test
