// Fails every file operation of a whole installation of each product in
// turn, once and from that operation on, over an earlier installation and
// into an empty home, and proves that a failed run leaves the home and
// launchd as they were, or names its backup folder when it could not put
// something back; that it never leaves a scratch item behind while removals
// still work, never loses an old item, and reports the error the install
// frame's rule names.

#include "core/install_error.h"
#include "core/product.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "products/install.h"
#include "tests/products/installed_items.h"
#include "tests/products/launchd_model.h"
#include "tests/support/fault_injecting_file_manager.h"
#include "tests/support/run_program.h"
#include "tests/support/scoped_environment.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string leftoversMessage =
    "Installation abgebrochen. Einige Dateien konnten nicht automatisch wiederhergestellt werden. "
    "Die Sicherung liegt hier: ";
const std::string unreadableSettings =
    "Die vorhandenen Huecraft-Einstellungen sind unlesbar. Sie wurden nicht verändert. "
    "Bitte die JSON-Datei zuerst reparieren.";
const std::string lutNotWritable =
    "Der vorhandene LUT-Ordner ist nicht schreibbar. Bitte die Ordnerrechte prüfen oder einen eigenen "
    "LUT-Ordner in Huecraft einrichten. Bestehende Einstellungen bleiben erhalten.";

struct Scenario {
    std::string description;
    Product product;
    std::string payload;  // below the source tree
    bool testing = true;
    bool earlier = true;  // over an earlier installation, or into an empty home
};

Scenario huecraft(bool earlier)
{
    return {std::string("huecraft, test mode, ") + (earlier ? "over an earlier installation" : "into an empty home"),
            {"huecraft", "Huecraft Vireo", "1.2.0b2", "Huecraft-Payload", "", ""},
            "demo/huecraft/Huecraft-Payload",
            true,
            earlier};
}

Scenario geoweave(bool testing, bool earlier)
{
    return {std::string("geoweave, ") + (testing ? "test mode, " : "launchd, ")
                + (earlier ? "over an earlier installation" : "into an empty home"),
            {"geoweave", "Geoweave", "2.4.1", "Geoweave-Payload", "", ""},
            "demo/geoweave/Geoweave-Payload",
            testing,
            earlier};
}

bool within(const std::string& path, const std::string& item)
{
    return path == item || path.starts_with(item + "/");
}

struct Outcome {
    bool failed = false;
    bool leftovers = false;
    std::string what;
};

class InstallFaults : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager useReal{real};
    LaunchdModel launchd;
    ScopedLauncher useLaunchd{launchd};
    ScopedEnvironment ownSearchPath{"OFX_PLUGIN_PATH", std::nullopt};
    TempDir dir;
    fs::path root = fs::canonical(dir.path());
    fs::path home = root / "home";
    fs::path temp = root / "temp";
    fs::path payload = root / "payload";
    fs::path savedResource = resource;

    void SetUp() override { resource = root / "Installer.app/Contents/Resources"; }
    void TearDown() override { resource = savedResource; }

    std::vector<InstalledItem> items(const Scenario& scenario) const
    {
        return scenario.product.id == "huecraft" ? huecraftItems() : geoweaveItems();
    }

    std::string backupsOf(const Scenario& scenario) const
    {
        return applicationSupport + scenario.product.name + "/Installer-Backups";
    }

    void prepare(const Scenario& scenario)
    {
        forceRemove(home);
        forceRemove(temp);
        fs::create_directories(home);
        fs::create_directories(temp);
        launchd.state = {};
        launchd.commands.clear();
        if (!scenario.earlier) return;
        if (scenario.product.id == "huecraft") {
            writeEarlierHuecraft(home);
        } else {
            writeEarlierGeoweave(home);
            if (!scenario.testing) launchd.state = {"/x:/y:" + (home / "OFX").native(), readText(home / geoweaveAgent)};
        }
    }

    Outcome run(const Scenario& scenario)
    {
        Outcome outcome;
        try {
            install(scenario.product, payload, temp, home, scenario.testing);
        } catch (const InstallError& error) {
            outcome.failed = true;
            outcome.what = error.message();
            outcome.leftovers = outcome.what.starts_with(leftoversMessage);
        } catch (const std::exception& error) {
            outcome.failed = true;
            outcome.what = error.what();
        }
        return outcome;
    }

    TreeSnapshot withoutBackups(const Scenario& scenario) const
    {
        TreeSnapshot tree = snapshot(home);
        std::erase_if(tree, [&](const auto& entry) { return within(entry.first, backupsOf(scenario)); });
        return tree;
    }

    std::vector<std::string> scratchItems() const { return scratchItemsBelow(home); }

    std::vector<fs::path> backupFolders(const Scenario& scenario) const
    {
        return sortedEntries(home / backupsOf(scenario));
    }

    // Whether a difference to the home before the run is one a failed run may leave.
    bool allowed(const Scenario& scenario, const std::string& path, const EntryState* now, bool persistent,
                 bool leftovers) const
    {
        const std::string backups = backupsOf(scenario);
        if (within(path, backups) || within(backups, path)) return true;
        // Folders created for the LUTs and for destinations whose parents were missing.
        if (now != nullptr && now->type == 'd') {
            if (path == huecraftLut && scenario.product.id == "huecraft") return true;
            for (const InstalledItem& item : items(scenario)) {
                if (item.relative.starts_with(path + "/")) return true;
            }
        }
        // A disk that keeps refusing may refuse to remove a scratch item too.
        if (persistent && inScratchItem(path)) return true;
        if (leftovers) {
            for (const InstalledItem& item : items(scenario)) {
                if (within(path, item.relative)) return true;
            }
        }
        return false;
    }

    void checkOneFault(const Scenario& scenario, std::size_t call, bool persistent, const TreeSnapshot& installed,
                       const LaunchdState& installedState, const std::vector<Operation>& cleanLog)
    {
        static constexpr std::array<int, 5> errors{ENOSPC, EIO, EROFS, EACCES, EXDEV};
        const int error = errors[call % errors.size()];
        const Operation& op = cleanLog.at(call - 1);
        SCOPED_TRACE(scenario.description + ": call " + std::to_string(call) + " " + op.name + " " + op.path.native()
                     + (persistent ? " failing from then on" : " failing once") + ", errno "
                     + std::to_string(error));

        prepare(scenario);
        const TreeSnapshot before = snapshot(home);
        const LaunchdState stateBefore = launchd.state;
        const std::vector<InstalledItem> installedItems = items(scenario);
        std::vector<TreeSnapshot> oldItems;
        for (const InstalledItem& item : installedItems) oldItems.push_back(itemSnapshot(home / item.relative));

        FaultInjectingFileManager faulty(real);
        faulty.failCall(call, error, persistent);
        Outcome outcome;
        {
            ScopedFileManager useFaulty(faulty);
            outcome = run(scenario);
        }
        ASSERT_TRUE(faulty.injected());

        if (!outcome.failed) {
            // Only a call whose failure changes nothing may go unnoticed:
            // the installation is then the same as a clean one.
            EXPECT_EQ(differences(installed, withoutBackups(scenario)), std::vector<std::string>{});
            EXPECT_EQ(launchd.state, installedState);
            return;
        }

        // The error the frame's rule names.
        const std::vector<fs::path> folders = backupFolders(scenario);
        if (outcome.leftovers) {
            ASSERT_EQ(folders.size(), 1u);
            EXPECT_EQ(outcome.what, leftoversMessage + folders[0].native());
            EXPECT_TRUE(persistent) << "a single failure left something unrestored";
        } else if (outcome.what == lutNotWritable) {
            EXPECT_EQ(op.name, "isWritable");
        } else if (outcome.what == unreadableSettings) {
            EXPECT_EQ(op.path, home / huecraftSettings);
            EXPECT_TRUE(op.name == "attributes" || op.name == "openForReading" || op.name == "read") << op.name;
        } else {
            EXPECT_NE(outcome.what.find("(injected)"), std::string::npos) << outcome.what;
            const std::string expectedEnd = std::string(": ") + std::generic_category().message(error);
            EXPECT_TRUE(outcome.what.ends_with(expectedEnd)) << outcome.what;
        }

        const TreeSnapshot after = snapshot(home);
        for (const auto& [path, state] : before) {
            auto now = after.find(path);
            if (now == after.end()) {
                EXPECT_TRUE(allowed(scenario, path, nullptr, persistent, outcome.leftovers)) << "removed " << path;
            } else if (!(now->second == state)) {
                EXPECT_TRUE(allowed(scenario, path, &now->second, persistent, outcome.leftovers)) << "changed " << path;
            }
        }
        for (const auto& [path, state] : after) {
            if (!before.contains(path)) {
                EXPECT_TRUE(allowed(scenario, path, &state, persistent, outcome.leftovers)) << "added " << path;
            }
        }
        if (!persistent) {
            EXPECT_EQ(scratchItems(), std::vector<std::string>{});
        }

        // Whatever is not back in its place is whole in the backup folder.
        for (std::size_t i = 0; i < oldItems.size(); ++i) {
            const InstalledItem& item = installedItems[i];
            if (oldItems[i].empty() || itemSnapshot(home / item.relative) == oldItems[i]) continue;
            ASSERT_EQ(folders.size(), 1u);
            EXPECT_EQ(itemSnapshot(folders[0] / item.label), expectedBackup(oldItems[i], item)) << item.label;
        }

        // launchd: as before, or, once it was changed and the agent file
        // could not be put back, running what that file says with the
        // earlier search path.
        bool launchdChanged = false;
        for (const auto& command : launchd.commands) launchdChanged = launchdChanged || command.at(0) != "getenv";
        if (!outcome.leftovers || !launchdChanged) {
            EXPECT_EQ(launchd.state, stateBefore);
        } else {
            EXPECT_EQ(launchd.state.searchPath, stateBefore.searchPath);
            std::optional<std::string> agentNow;
            if (fs::exists(fs::symlink_status(home / geoweaveAgent))) agentNow = readText(home / geoweaveAgent);
            EXPECT_EQ(launchd.state.loadedAgent, agentNow);
        }
    }

    void failEveryCall(const Scenario& scenario)
    {
        fs::copy(sourceDir() / scenario.payload, payload,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);

        prepare(scenario);
        FaultInjectingFileManager counting(real);
        {
            ScopedFileManager useCounting(counting);
            const Outcome clean = run(scenario);
            ASSERT_FALSE(clean.failed) << clean.what;
        }
        const std::size_t calls = counting.calls();
        ASSERT_GT(calls, 10u);
        ASSERT_EQ(scratchItems(), std::vector<std::string>{});
        const TreeSnapshot installed = withoutBackups(scenario);
        const LaunchdState installedState = launchd.state;
        if (!scenario.testing) {
            ASSERT_TRUE(installedState.loadedAgent.has_value());
        }

        for (bool persistent : {false, true}) {
            for (std::size_t call = 1; call <= calls; ++call) {
                checkOneFault(scenario, call, persistent, installed, installedState, counting.log());
                if (HasFatalFailure()) return;
            }
        }
        std::cout << "[ fault points ] " << scenario.description << ": " << calls
                  << " file-manager calls, each failed once and persistently\n";
    }
};

TEST_F(InstallFaults, HuecraftOverAnEarlierInstallation)
{
    failEveryCall(huecraft(true));
}

TEST_F(InstallFaults, HuecraftIntoAnEmptyHome)
{
    failEveryCall(huecraft(false));
}

TEST_F(InstallFaults, GeoweaveInTestModeOverAnEarlierInstallation)
{
    failEveryCall(geoweave(true, true));
}

TEST_F(InstallFaults, GeoweaveInTestModeIntoAnEmptyHome)
{
    failEveryCall(geoweave(true, false));
}

TEST_F(InstallFaults, GeoweaveWithLaunchdOverAnEarlierInstallation)
{
    failEveryCall(geoweave(false, true));
}

TEST_F(InstallFaults, GeoweaveWithLaunchdIntoAnEmptyHome)
{
    failEveryCall(geoweave(false, false));
}

}  // namespace
}  // namespace kb::test
