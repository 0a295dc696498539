// Kills a real --test-home installation over an earlier one with SIGKILL
// right after its 1st, 2nd, ... last file operation, and proves after each
// kill that every installed location holds the whole old item or the whole
// new one, that the killed run's backup folder holds every old item it had
// already replaced, and that the next run completes the installation.

#include "app/installer_main.h"
#include "platform/launcher.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "tests/products/crashing_file_manager.h"
#include "tests/products/installed_items.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

struct ProductCase {
    std::string bundle;       // below <build>/demo
    std::string productName;  // names the backup folders
    std::vector<InstalledItem> locations;
    void (*earlierInstallation)(const fs::path& home);
};

struct ChildRun {
    bool killed = false;
    int exitStatus = -1;
    std::size_t calls = 0;
    std::string error;  // what a failed run reported
};

// Runs the installer as its entry point would, in a child process whose
// file operations go through a CrashingFileManager.
ChildRun runInstallerInChild(const fs::path& resources, const fs::path& home, const fs::path& tmp,
                             const fs::path& logs, std::size_t killAfter)
{
    std::array<int, 2> pipeFds{};
    if (::pipe(pipeFds.data()) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) {
        ::close(pipeFds[0]);
        const int out = ::open((logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open((logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(100);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        int status = 0;
        std::size_t calls = 0;
        try {
            PosixFileManager real;
            CrashingFileManager crashing(real, killAfter);
            PosixLauncher processes;
            fm = &crashing;
            launcher = &processes;
            resource = resources;
            try {
                runInstaller({"--test-home", home.native()});
            } catch (const std::exception& error) {
                std::fputs(error.what(), stderr);
                status = 1;
            }
            calls = crashing.calls();
        } catch (...) {
            status = 101;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        if (::write(pipeFds[1], &calls, sizeof calls) != static_cast<ssize_t>(sizeof calls)) status = 102;
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    ChildRun run;
    if (::read(pipeFds[0], &run.calls, sizeof run.calls) != static_cast<ssize_t>(sizeof run.calls)) run.calls = 0;
    ::close(pipeFds[0]);
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (run.exitStatus != 0) run.error = readText(logs / "err");
    return run;
}

class CrashConsistency : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root;
    fs::path home;
    fs::path tmp;
    fs::path logs;
    fs::path resources;

    void start(const ProductCase& product)
    {
        root = fs::canonical(dir.path());
        home = root / "home";
        tmp = root / "tmp";
        logs = root / "logs";
        fs::create_directories(logs);
        const fs::path bundle = root / product.bundle;
        fs::copy(builtBinaryDir() / "demo" / product.bundle, bundle,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        resources = bundleResources(bundle);
        ASSERT_TRUE(fs::exists(resources / "payload.zip")) << resources;
    }

    // A marked test home holding the earlier installation, and an empty
    // temporary folder.
    void prepareHome(const ProductCase& product)
    {
        forceRemove(home);
        forceRemove(tmp);
        fs::create_directories(home);
        fs::create_directories(tmp);
        writeFile(home / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
        product.earlierInstallation(home);
    }

    ChildRun run(std::size_t killAfter) { return runInstallerInChild(resources, home, tmp, logs, killAfter); }

    fs::path backupsOf(const ProductCase& product) const
    {
        return home / applicationSupport / product.productName / "Installer-Backups";
    }

    std::vector<fs::path> backupFolders(const ProductCase& product) const
    {
        return sortedEntries(backupsOf(product));
    }

    // The home apart from the backup folders and scratch items.
    TreeSnapshot installedHome(const ProductCase& product) const
    {
        const std::string backups = backupsOf(product).lexically_relative(home).native();
        TreeSnapshot tree = snapshot(home);
        std::erase_if(tree, [&](const auto& entry) {
            const std::string& path = entry.first;
            return path == backups || path.starts_with(backups + "/") || inScratchItem(path);
        });
        return tree;
    }

    std::vector<std::string> scratchItems() const { return scratchItemsBelow(home); }

    void crashAfterEveryOperation(const ProductCase& product)
    {
        start(product);
        if (HasFatalFailure()) return;

        prepareHome(product);
        std::vector<TreeSnapshot> oldItems;
        for (const InstalledItem& location : product.locations) {
            oldItems.push_back(itemSnapshot(home / location.relative));
        }
        const ChildRun reference = run(0);
        ASSERT_EQ(reference.exitStatus, 0) << reference.error;
        ASSERT_EQ(scratchItems(), std::vector<std::string>{});
        const std::size_t total = reference.calls;
        ASSERT_GT(total, 20u);
        std::vector<TreeSnapshot> newItems;
        for (std::size_t i = 0; i < product.locations.size(); ++i) {
            newItems.push_back(itemSnapshot(home / product.locations[i].relative));
            ASSERT_FALSE(oldItems[i].empty()) << product.locations[i].relative;
            ASSERT_FALSE(newItems[i].empty()) << product.locations[i].relative;
            ASSERT_NE(oldItems[i], newItems[i]) << product.locations[i].relative;
        }
        const TreeSnapshot installed = installedHome(product);

        std::size_t killsLeavingScratch = 0;
        std::size_t killsWithNewItems = 0;
        for (std::size_t n = 1; n <= total; ++n) {
            SCOPED_TRACE(product.bundle + " killed after file operation " + std::to_string(n) + " of "
                         + std::to_string(total));
            prepareHome(product);
            const ChildRun killed = run(n);
            ASSERT_TRUE(killed.killed) << "exit status " << killed.exitStatus << ": " << killed.error;

            const std::vector<fs::path> killedBackups = backupFolders(product);
            ASSERT_LE(killedBackups.size(), 1u);
            bool anyNew = false;
            for (std::size_t i = 0; i < product.locations.size(); ++i) {
                const InstalledItem& location = product.locations[i];
                const TreeSnapshot now = itemSnapshot(home / location.relative);
                if (now == oldItems[i]) continue;
                EXPECT_EQ(now, newItems[i]) << location.relative << " is neither the old item nor the new one";
                if (now != newItems[i]) continue;
                anyNew = true;
                // Replaced: the old item must be safe in the killed run's backup folder.
                ASSERT_EQ(killedBackups.size(), 1u);
                EXPECT_EQ(itemSnapshot(killedBackups[0] / location.label), expectedBackup(oldItems[i], location))
                    << "backup " << location.label;
            }
            if (anyNew) ++killsWithNewItems;
            if (!scratchItems().empty()) ++killsLeavingScratch;

            const ChildRun next = run(0);
            ASSERT_EQ(next.exitStatus, 0) << next.error;
            EXPECT_EQ(differences(installed, installedHome(product)), std::vector<std::string>{});
            for (std::size_t i = 0; i < product.locations.size(); ++i) {
                EXPECT_EQ(itemSnapshot(home / product.locations[i].relative), newItems[i]);
            }
        }
        std::cout << "[ crash points ] " << product.bundle << ": killed after each of " << total
                  << " file operations; " << killsWithNewItems << " kills left new items in place, "
                  << killsLeavingScratch << " left scratch items beside a destination\n";
    }
};

TEST_F(CrashConsistency, HuecraftNeverLosesAnItemWhereverTheRunIsKilled)
{
    crashAfterEveryOperation({"Huecraft.app", "Huecraft Vireo", huecraftItems(), writeEarlierHuecraft});
}

TEST_F(CrashConsistency, GeoweaveNeverLosesAnItemWhereverTheRunIsKilled)
{
    crashAfterEveryOperation({"Geoweave.app", "Geoweave", geoweaveItems(), writeEarlierGeoweave});
}

}  // namespace
}  // namespace kb::test
