// Restore and uninstall as their user meets them: the real installer of products made by the bundle tool, run in a
// test folder, then refused on every backup folder it must not put back (the rows of cases.json).

#include "core/messages.h"
#include "products/launch_agent.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kb::test {
namespace {

using nlohmann::json;
using Texts = std::vector<std::string>;

std::string line(std::string_view failure) { return std::string(messages::failurePrefix).append(failure) + "\n"; }

// Each demo product: its name, its payload folder, the file its version 2.0 changes, a folder it installs, the user's
// own data in the test folder before anything is installed, and what differs from that once it is uninstalled.
struct Demo {
    std::string name, payload, changedFile, folder;
    std::map<std::string, std::string> usersData;
    std::vector<std::string> differsAfterUninstall;
};
const std::map<std::string, Demo> demos{
    {"huecraft", {"Huecraft Vireo", "Huecraft-Payload", "Runtime/resolve/Huecraft_Vireo.py",
                  "Library/Application Support/Huecraft/Runtime-1.2.0b2",
                  {{".huecraft_vireo.json", "{\"mine\": 1}"}, {"Library/Application Support/Huecraft/LUT/mine.cube", "LUT"},
                   {"Library/Application Support/Huecraft/Runtime-1.1.0/old", "1.1"}},
                  {".huecraft_vireo.json"}}},
    {"geoweave", {"Geoweave", "Geoweave-Payload", "Geoweave.ofx.bundle/Contents/Resources/presets/hexagon.json", "OFX/Geoweave.ofx.bundle",
                  {{"Library/LaunchAgents/de.geoweave.ofxpath.plist",
                    launchAgentPropertyList("de.geoweave.ofxpath", "/Volumes/Other/OFX")}},
                  {}}},
};

// The test folder without its backups and the folders made for items: what a run leaves of the user's.
Tree itemsIn(const fs::path& home)
{
    Tree tree = picture(home);
    std::erase_if(tree, [](const auto& entry) { return entry.first.find("/Installer-Backups") != std::string::npos; });
    return tree;
}

// Install 1.0, install 2.0, restore (1.0 again, byte for byte), restore again (2.0), uninstall (the user's own data
// left); then the refusals, each a row of cases.json that changes nothing.
TEST(Maintenance, InstallTwiceRestoreTwiceUninstallThenRefusePerProduct)
{
    const json rows = json::parse(readText(sourceDir() / "tests/app/cases.json"))["maintenance"]["refusals"];
    for (const auto& [id, demo] : demos) {
        SCOPED_TRACE(id);
        TempDir dir;
        const fs::path root = fs::canonical(dir.path()), test = root / "home/test", tmp = root / "tmp";
        const fs::path backups = test / "Library/Application Support" / demo.name / "Installer-Backups";
        fs::copy(sourceDir() / "demo" / id / demo.payload, root / "v2", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        writeFile(root / "v2" / demo.changedFile, readText(root / "v2" / demo.changedFile) + "\n");
        const std::map<std::string, fs::path> bundles{
            {"1.0", makeProduct(sourceDir() / "demo" / id / demo.payload, root / "v1.app", id, demo.name, "1.0")},
            {"2.0", makeProduct(root / "v2", root / "v2.app", id, demo.name, "2.0")}};
        writeFile(test / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
        writeFile(root / "fresh/.KESTREL-BAY-INSTALLER-TEST-HOME", "");
        for (const auto& [path, content] : demo.usersData) writeFile(test / path, content);
        fs::create_directories(tmp);
        const Tree before = picture(test);
        const RunOptions options{root, {{"HOME", (root / "home").native()}, {"TMPDIR", tmp.native()}}};
        auto installer = [&](const std::string& version, Texts arguments) {
            if (std::ranges::find(arguments, "--test-home") == arguments.end()) arguments.push_back("--test-home"), arguments.push_back(test);
            const test::Run ran = run(programOf(bundles.at(version)), arguments, options);
            EXPECT_EQ(std::tie(ran.status, ran.err), std::tuple(0, std::string())) << ran.err;
            EXPECT_TRUE(fs::is_empty(tmp));
            return ran.status == 0 ? json::parse(ran.out) : json::object();
        };

        const json first = installer("1.0", {});
        const Tree one = itemsIn(test);
        const json second = installer("2.0", {});
        const Tree two = itemsIn(test);
        ASSERT_NE(one, two);
        const json restored = installer("2.0", {"--restore"});
        EXPECT_EQ(restored["restoredFrom"], second["backupDirectory"]);
        EXPECT_EQ(itemsIn(test), one);
        const json again = installer("1.0", {"--test-home", test, "--restore"});
        EXPECT_EQ(again["restoredFrom"], restored["backupDirectory"]);
        EXPECT_EQ(again["removed"], json::array());
        EXPECT_EQ(itemsIn(test), two);
        // What differs from the test folder before the first run, but for folders made for items.
        auto differs = [&] {
            Texts paths;
            const Tree now = itemsIn(test);
            for (const auto& [path, state] : now)
                if (before.contains(path) ? before.at(path) != state : !state.starts_with("d ")) paths.push_back(path);
            for (const auto& [path, state] : before)
                if (!now.contains(path)) paths.push_back(path);
            return paths;
        };
        const json removed = installer("2.0", {"--uninstall"});
        EXPECT_EQ(differs(), demo.differsAfterUninstall);
        // An uninstall can be put back too, and the first run's backup puts back the folder as it was before it.
        EXPECT_EQ(installer("2.0", {"--restore", removed["backupDirectory"]})["restoredFrom"], removed["backupDirectory"]);
        EXPECT_EQ(itemsIn(test), two);
        installer("2.0", {"--restore", first["backupDirectory"], "--test-home", test});
        EXPECT_EQ(differs(), Texts{});

        // Backup folders this run must not put back, planted beside the real ones.
        const fs::path real = second["backupDirectory"].get<std::string>(), plants = backups;
        auto plant = [&](const fs::path& where, const std::function<void(json&)>& edit = {}) {
            fs::create_directories(where);
            fs::copy(real, where, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            json record = json::parse(readText(where / "BACKUP.json"));
            if (edit) edit(record);
            writeFile(where / "BACKUP.json", record.dump());
        };
        plant(root / "outside");
        plant(test / "Library/Application Support/Elsewhere/Installer-Backups/x");
        makeLink(root / "outside", plants / "zz-leads-out");
        plant(plants / "zz-other-product", [](json& record) { record["product"] = "Geoweave Vireo"; });
        plant(plants / "zz-moved", [](json& record) { record["items"].begin().value()["place"] = "Library/x"; });
        plant(plants / "zz-foreign", [&](json& record) { record["items"]["Fremd"] = record["items"].begin().value(); });
        plant(plants / "zz-changed");
        for (const auto& entry : fs::recursive_directory_iterator(plants / "zz-changed")) {
            if (entry.is_regular_file() && entry.path().parent_path() != plants / "zz-changed") {
                writeFile(entry.path(), readText(entry.path()) + "!");
                break;
            }
        }
        // A folder the user changed to hold a link leading out of it is backed up as it is, but never put back.
        makeLink("../../..", test / demo.folder / "up");
        const fs::path linkOut = installer("2.0", {})["backupDirectory"].get<std::string>();
        const Tree home = picture(root / "home");
        ::pid_t resolve = 0;
        for (const json& row : rows) {
            SCOPED_TRACE(row.dump());
            auto expand = [&](std::string text) {
                for (const auto& [from, to] : {std::pair{"@B", plants.native()}, {"@L", linkOut.native()}, {"@", root.native()}})
                    for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, std::strlen(from), to);
                return text;
            };
            Texts arguments;
            for (const std::string argument : row["args"]) arguments.push_back(expand(argument));
            if (row.value("resolve", false)) {
                fs::copy_file("/bin/sleep", root / "DaVinci Resolve", fs::copy_options::overwrite_existing);
                if ((resolve = ::fork()) == 0) ::execl((root / "DaVinci Resolve").c_str(), "DaVinci Resolve", "30", nullptr), ::_exit(127);
                const fs::path name = "/proc/" + std::to_string(resolve) + "/comm";
                while (readText(name) != "DaVinci Resolve\n") ::usleep(10000);
            }
            const std::string err = row["err"], named = expand(row.value("names", ""));
            const std::map<std::string, std::string> texts{
                {"notThisProductsBackup", messages::notThisProductsBackup(named, demo.name)},
                {"backupNotUsable", messages::backupNotUsable(named)},
                {"nothingToRestore", messages::nothingToRestore(demo.name)},
                {"resolveRunningNothingChanged", std::string(messages::resolveRunningNothingChanged)}};
            const test::Run ran = run(programOf(bundles.at("2.0")), arguments, options);
            if (resolve) ::kill(resolve, SIGKILL), ::waitpid(resolve, nullptr, 0), resolve = 0;
            EXPECT_EQ(std::tuple(ran.status, ran.out, ran.err), std::tuple(1, std::string(), line(texts.at(err))));
            EXPECT_EQ(picture(root / "home"), home);
            EXPECT_TRUE(fs::is_empty(tmp));
        }
    }
}

}  // namespace
}  // namespace kb::test
