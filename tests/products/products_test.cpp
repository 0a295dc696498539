// Both recipes inside the install frame, on a real disk, with the launchctl
// stand-in keeping launchd's state below the home.

#include "core/failure_text.h"
#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "platform/forwarding_file_manager.h"
#include "platform/launcher.h"
#include "platform/resource.h"
#include "platform/scoped_service.h"
#include "products/huecraft_settings.h"
#include "products/install.h"
#include "products/launch_agent.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace kb::test {
namespace {

// Forwards to the real launcher, notes every command, and fails the verb named.
struct RecordingLauncher : Launcher {
    Launcher& real;
    std::vector<std::string> commands;
    std::string failing;  // once, or every time with `always`
    bool always = false;
    int failStatus = 0;  // with none, the failing verb cannot be started at all
    explicit RecordingLauncher(Launcher& target) : real(target) {}
    LaunchResult run(const fs::path& program, const std::vector<std::string>& arguments, const FileLock*) override
    {
        commands.push_back(arguments.front());
        if (arguments.front() != failing) return real.run(program, arguments);
        if (!always) failing.clear();
        if (failStatus == 0) throw std::system_error(ENOEXEC, std::generic_category(), "launchctl");
        return {failStatus, "failed\n"};
    }
};

// What a run changed: every entry of `before` must be as it was; new entries
// may only be folders (parents made for items that were then taken back)
// and, after a disk that refused every change, scratch copies.
std::vector<std::string> changed(const Tree& before, const Tree& now, bool scratchLeft = false)
{
    std::vector<std::string> lines;
    for (const auto& [path, state] : before)
        if (!now.contains(path) || now.at(path) != state) lines.push_back(path);
    for (const auto& [path, state] : now) {
        const bool scratch = scratchLeft && path.find(".kestrelbay-install-") != std::string::npos;
        if (!before.contains(path) && !state.starts_with("d ") && !scratch) lines.push_back(path);
    }
    return lines;
}

struct Products : testing::Test {
    std::unique_ptr<FileManager> disk = makeSystemFileManager();
    std::unique_ptr<Launcher> processes = makeSystemLauncher();
    RecordingLauncher launchd{*processes};
    ScopedService<FileManager> useDisk{fm, *disk};
    ScopedService<Launcher> useLaunchd{launcher, launchd};
    TempDir dir;
    fs::path home = dir / "home", temp = dir / "tmp", support = home / "Library/Application Support";
    fs::path agentFile = home / "Library/LaunchAgents/de.geoweave.ofxpath.plist", ofx = home / "OFX";
    ScopedEnv homeVariable{"HOME", home.native()}, ownPath{"OFX_PLUGIN_PATH", std::nullopt};
    fs::path previousResource = std::exchange(resource, resourcesOf(emptyBundle()));

    void SetUp() override { fs::create_directories(support), fs::create_directories(temp); }
    void TearDown() override { resource = previousResource; }

    // Each demo product's name and payload folder.
    static std::pair<std::string, std::string> demo(const std::string& id)
    {
        return std::map<std::string, std::pair<std::string, std::string>>{
            {"huecraft", {"Huecraft Vireo", "Huecraft-Payload"}}, {"geoweave", {"Geoweave", "Geoweave-Payload"}}}.at(id);
    }
    static Product product(const std::string& id) { return {id, demo(id).first, "1.0", "", "", ""}; }
    static fs::path payload(const std::string& id) { return sourceDir() / "demo" / id / demo(id).second; }
    nlohmann::json install(const std::string& id, bool testing = true)
    {
        RunFolder run(temp);
        Progress silent;
        return kb::install(*makeRecipe(id), product(id), payload(id), run, home, testing, silent);
    }
    // Puts back the most recent backup that holds a copy.
    nlohmann::json restore(const std::string& id, bool testing)
    {
        RunFolder run(temp);
        Progress silent;
        return kb::restore(*makeRecipe(id), product(id), run, home, testing, std::nullopt, silent);
    }
    std::string failure(const std::string& id, bool testing = true)
    {
        try {
            install(id, testing);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no failure";
    }
    std::string launchctl(const std::vector<std::string>& arguments)
    {
        return run(emptyBundle() / "Contents/Helpers/launchctl", arguments, {.env = {{"HOME", home.native()}}}).out;
    }
    // The home without the backup folders a run leaves even when it fails,
    // and with launchd's state as what it means rather than its file.
    Tree homeNow()
    {
        Tree tree = picture(home);
        std::erase_if(tree, [](const auto& entry) {
            return entry.first.find("/Installer-Backups") != std::string::npos || entry.first.starts_with(".local");
        });
        const fs::path state = home / ".local/state/kestrelbay-launchd" / ("gui-" + std::to_string(::getuid()) + ".json");
        const nlohmann::json launchdState = fs::exists(state) ? nlohmann::json::parse(readText(state)) : nlohmann::json::object();
        for (const char* part : {"environment", "loaded"}) tree[part] = launchdState.value(part, nlohmann::json::object()).dump();
        tree.erase("Library/Application Support/Huecraft Vireo"), tree.erase("Library/Application Support/Geoweave");
        return tree;
    }
};

TEST_F(Products, HuecraftInstallsEveryItemAndKeepsTheUsersSettings)
{
    const fs::path scripts = support / "Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color";
    const fs::path runtime = support / "Huecraft/Runtime-1.2.0b2", settings = home / ".huecraft_vireo.json";
    nlohmann::json expected = {{"product", "Huecraft Vireo"}, {"version", "1.0"}, {"testHome", true},
        {"languageFiles", {scripts / "huecraft_ui_language.py", scripts / "huecraft_ui_catalog.json"}},
        {"runtime", runtime}, {"script", scripts / "Huecraft_Vireo.py"}, {"lutDirectory", support / "Huecraft/LUT"},
        {"lutFolderRegistrationMayBeRequired", true}};
    nlohmann::json first = install("huecraft");
    const fs::path backup = first.at("backupDirectory").get<std::string>();
    EXPECT_EQ(backup.parent_path(), support / "Huecraft Vireo/Installer-Backups");
    expected["backupDirectory"] = backup;
    EXPECT_EQ(first, expected);
    EXPECT_EQ(readText(backup / "INSTALLATION.json"), jsonData(first));
    EXPECT_EQ(picture(runtime), picture(payload("huecraft") / "Runtime"));
    for (const char* name : {"Huecraft_Vireo.py", "huecraft_ui_language.py", "huecraft_ui_catalog.json"})
        EXPECT_EQ(picture(scripts).at(name), picture(runtime / "resolve").at(name));
    const nlohmann::json defaults = {{"engine_dir", runtime}, {"python", runtime / "runtime/huecraft-engine"},
        {"lut_dir", support / "Huecraft/LUT"}, {"use_ai", true}, {"ai_backend", "api"}, {"ai_provider", "vireo"},
        {"use_vision", true}, {"node_index", 1}, {"strength", 0.65}, {"method", "banded"}, {"mode", "color"}};
    EXPECT_EQ(readText(settings), jsonData(defaults));
    EXPECT_EQ(modeOf(settings), 0600u);
    EXPECT_EQ(modeOf(support / "Huecraft/LUT"), 0755u);

    const std::string own = R"({"lut_dir": "~/my luts", "use_ai": false, "strength": null, "x": {"k": [1, 2.5e300, "ü"]}})";
    writeFile(settings, own, 0640);
    nlohmann::json second = install("huecraft");
    const fs::path secondBackup = second.at("backupDirectory").get<std::string>();
    EXPECT_EQ(second.at("lutDirectory"), (home / "my luts").native());
    nlohmann::json merged = defaults;
    merged.update(nlohmann::json::parse(own));
    merged["lut_dir"] = home / "my luts";
    EXPECT_EQ(readText(settings), jsonData(merged));
    EXPECT_EQ(readText(secondBackup / "huecraft-config.json"), own);
    EXPECT_EQ(modeOf(secondBackup / "huecraft-config.json"), 0600u);
    EXPECT_EQ(picture(secondBackup / "Runtime-1.2.0b2"), picture(payload("huecraft") / "Runtime"));
}

TEST_F(Products, HuecraftRefusesBeforeChangingAnything)
{
    struct Case { std::string settings; std::string_view message; bool lutWritable = true; };
    const Case cases[] = {
        {"[1]", messages::settingsUnreadable}, {R"({"a": 1)", messages::settingsUnreadable},
        {R"({"n": 18446744073709551616})", messages::settingsUnreadable},
        {"{\"x\":" + std::string(512, '[') + std::string(512, ']') + "}", messages::settingsUnreadable},
        {R"({"lut_dir": "luts"})", messages::lutNotAbsolute}, {R"({"lut_dir": "/a\u0000b"})", messages::lutNotAbsolute},
        {R"({"lut_dir": "~/luts"})", messages::lutNotWritable, false}, {"{}", messages::lutNotWritable, false},
    };
    struct ReadOnly : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        bool isWritable(const Path&) override { return false; }
    } readOnly(*disk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings.substr(0, 40));
        writeFile(home / ".huecraft_vireo.json", c.settings, 0640);
        const Tree before = homeNow();
        std::optional<ScopedService<FileManager>> useReadOnly;
        if (!c.lutWritable) useReadOnly.emplace(fm, readOnly);
        EXPECT_EQ(failure("huecraft"), c.message);
        EXPECT_EQ(changed(before, homeNow()), std::vector<std::string>{});
    }
    fs::remove(home / ".huecraft_vireo.json");
    fs::create_directory(home / ".huecraft_vireo.json");
    EXPECT_EQ(failure("huecraft"), messages::settingsUnreadable);
}

TEST(HuecraftSettings, ValuesSurviveTheRoundTripAndOnlyDefaultsAreFilledIn)
{
    const std::string text = R"({"b":[1,-2,3.5,1e-7,"\u00e9",null,true,{}],"a":{"a":18446744073709551615},"d":1,"d":2})";
    nlohmann::json settings = parseSettings(text);
    EXPECT_EQ(settings.dump(), R"({"a":{"a":18446744073709551615},"b":[1,-2,3.5,1e-07,"é",null,true,{}],"d":2})");
    settings["mode"] = nullptr;
    mergeSettings(settings, {"/e", "/p", "/l"});
    mergeSettings(settings, {"/e", "/p", "/l"});
    EXPECT_EQ(settings.size(), 14u);
    EXPECT_EQ(settings["mode"], nullptr);
    EXPECT_EQ(settings["lut_dir"], "/l");
    EXPECT_EQ(settings["node_index"].type(), nlohmann::json::value_t::number_integer);
    EXPECT_EQ(parseSettings("{\"x\":" + std::string(511, '[') + std::string(511, ']') + "}").size(), 1u);
}

TEST_F(Products, GeoweaveKeepsEveryEarlierFolderOnTheSearchPath)
{
    struct Case { std::optional<std::string> launchd, own, earlierAgent; std::string expected; bool testing = false; };
    const std::string ofxText = ofx.native();
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, ofxText},
        {" /V/OFX:/opt \n", "/opt:/env::/V/OFX", "/agent:/env:~/OFX", "/V/OFX:/opt:/env:/agent:~/OFX:" + ofxText},
        {"\n \t", std::nullopt, ofxText + ":/later", ofxText + ":/later"},
        {"/live", "/env", "/agent", "/agent:" + ofxText, true},  // a test run looks at the earlier agent only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        fs::remove_all(home), fs::create_directories(temp);
        launchctl({"unsetenv", "OFX_PLUGIN_PATH"});
        if (c.launchd) launchctl({"setenv", "OFX_PLUGIN_PATH", *c.launchd});
        if (c.earlierAgent) writeFile(agentFile, launchAgentPropertyList("de.geoweave.ofxpath", *c.earlierAgent));
        ScopedEnv own("OFX_PLUGIN_PATH", c.own);
        launchd.commands.clear();
        const nlohmann::json result = install("geoweave", c.testing);
        EXPECT_EQ(readText(agentFile), launchAgentPropertyList("de.geoweave.ofxpath", c.expected));
        EXPECT_EQ(modeOf(agentFile), 0644u);
        EXPECT_EQ(picture(ofx / "Geoweave.ofx.bundle"), picture(payload("geoweave") / "Geoweave.ofx.bundle"));
        EXPECT_EQ(result.at("plugin"), (ofx / "Geoweave.ofx.bundle").native());
        EXPECT_EQ(result.at("launchAgent"), agentFile.native());
        EXPECT_EQ(result.at("existingSearchPathsPreserved"), true);
        if (c.testing) {
            EXPECT_TRUE(launchd.commands.empty());
            continue;
        }
        EXPECT_EQ(launchd.commands, (std::vector<std::string>{"getenv", "bootout", "bootstrap", "setenv"}));
        EXPECT_EQ(launchctl({"getenv", "OFX_PLUGIN_PATH"}), c.expected + "\n");
    }
}

TEST_F(Products, GeoweaveRefusesASecondActiveCopy)
{
    struct SystemWide : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        FileAttributes attributes(const Path& path) override
        {
            if (path == "/Library/OFX/Plugins/Geoweave.ofx.bundle") return {FileType::directory, 0, 0755};
            return ForwardingFileManager::attributes(path);
        }
    } systemWide(*disk);
    writeFile(dir / "other/Geoweave.ofx.bundle/x", "x");
    makeLink(dir / "other", dir / "link-to-other");
    makeLink(ofx, dir / "link-to-ofx");
    makeLink(home, dir / "link-to-home");
    writeFile(ofx / "Geoweave.ofx.bundle/old", "old");
    struct Case { std::string searchPath; std::string_view message; bool systemWide = false; };
    const Case cases[] = {
        {"/none:" + (dir / "other").native(), messages::otherSearchFolderCopy},
        {(dir / "link-to-other").native(), messages::otherSearchFolderCopy},
        {(dir / "other").native(), messages::systemWideCopy, true},
        {(dir / "link-to-ofx").native() + ":~/OFX:" + (dir / "link-to-home/OFX").native(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.searchPath);
        launchctl({"setenv", "OFX_PLUGIN_PATH", c.searchPath});
        std::optional<ScopedService<FileManager>> useSystemWide;
        if (c.systemWide) useSystemWide.emplace(fm, systemWide);
        const Tree before = homeNow();
        if (c.message.empty()) {
            EXPECT_NO_THROW(install("geoweave", false));
            continue;
        }
        EXPECT_EQ(failure("geoweave", false), c.message);
        EXPECT_EQ(changed(before, homeNow()), std::vector<std::string>{});
        EXPECT_NO_THROW(install("geoweave", true));  // a test run looks at neither copy
    }
}

TEST_F(Products, GeoweaveRefusesASearchPathItCannotCarryAndLeavesLaunchdAlone)
{
    // launchd's value not UTF-8 (a Latin-1 volume name), a control character, a carriage return inside an entry.
    for (const auto& [launchdValue, own] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {"/Volumes/Caf\xe9", std::nullopt}, {"/ok", "/bad\x01"}, {"/ok:/c\rr", std::nullopt}}) {
        SCOPED_TRACE(launchdValue);
        launchctl({"setenv", "OFX_PLUGIN_PATH", launchdValue});
        ScopedEnv environment("OFX_PLUGIN_PATH", own);
        const Tree before = homeNow();
        EXPECT_EQ(failure("geoweave", false), messages::searchPathUnreadable);
        EXPECT_EQ(changed(before, homeNow()), std::vector<std::string>{});
    }
}

TEST_F(Products, GeoweavePutsLaunchdBackAfterAFailedLoad)
{
    struct Case { std::string verb; int status; std::string message; bool always = false; };
    const Case cases[] = {
        {"bootstrap", 1, messages::systemStepFailed("launchctl", 1)},  // 5 and 37 are tried again (below)
        {"bootstrap", 1, messages::systemStepFailed("launchctl", 1), true},  // the earlier agent loads at the next login
        {"setenv", 1, messages::systemStepFailed("launchctl", 1)},
        {"bootout", 0, "launchctl: " + std::system_error(ENOEXEC, std::generic_category()).code().message()},
        {"getenv", 0, "launchctl: " + std::system_error(ENOEXEC, std::generic_category()).code().message()},
    };
    for (bool earlier : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.verb + (earlier ? " over an earlier installation" : ""));
            fs::remove_all(home), fs::create_directories(temp);
            launchd.failing.clear();
            if (earlier) install("geoweave", false);
            const Tree before = homeNow();
            launchd.failing = c.verb, launchd.failStatus = c.status, launchd.always = c.always;
            const std::string note = c.always && earlier ? " " + std::string(messages::earlierAgentAtNextLogin) : "";
            EXPECT_EQ(failure("geoweave", false), c.message + note);
            launchd.always = false;
            EXPECT_EQ(changed(before, homeNow()), note.empty() ? std::vector<std::string>{} : std::vector<std::string>{"loaded"});
        }
    }
}

// launchd (the stand-in with its switch) refuses every bootstrap for a while after a bootout: a run waits that out for
// about ten seconds, then fails with the last status and puts everything back, waiting again to reload the old agent.
TEST_F(Products, GeoweaveTriesTheBootstrapAgainWhileLaunchdIsBusyAfterTheBootout)
{
    install("geoweave", false);
    for (const auto& [busy, failed] : std::vector<std::pair<std::string, std::string>>{
             {"2", "no failure"}, {"11.5", messages::systemStepFailed("launchctl", 5)}}) {
        SCOPED_TRACE(busy);
        ScopedEnv settling("KESTRELBAY_LAUNCHCTL_BUSY_AFTER_BOOTOUT", busy);
        const Tree before = homeNow();
        launchd.commands.clear();
        EXPECT_EQ(failure("geoweave", false), failed);
        EXPECT_GE(std::ranges::count(launchd.commands, "bootstrap"), busy == "2" ? 3 : 20);
        EXPECT_EQ(changed(before, homeNow()), std::vector<std::string>{});
    }
}

// Counts every file operation, fails the chosen one (and with `persistent`
// every later change, as a full disk would) or kills the process before it.
struct Faults : ForwardingFileManager {
    using ForwardingFileManager::ForwardingFileManager;
    std::size_t calls = 0, failAt = 0, killAt = 0;
    bool persistent = false;
    void before(FileOperation operation, const Path& path) override
    {
        if (++calls == killAt) ::kill(::getpid(), SIGKILL);
        if (calls == failAt || (persistent && failAt && calls > failAt && changesFiles(operation)))
            throw std::system_error(EIO, std::generic_category(), path);
    }
};

// Every installed item with its backup label, by product.
const std::map<std::string, std::vector<std::pair<std::string, std::string>>> installedItems = {
    {"huecraft", {{"Library/Application Support/Huecraft/Runtime-1.2.0b2", "Runtime-1.2.0b2"},
                  {".huecraft_vireo.json", "huecraft-config.json"},
                  {"Library/Application Support/Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color/Huecraft_Vireo.py", "Huecraft_Vireo.py"}}},
    {"geoweave", {{"OFX/Geoweave.ofx.bundle", "Geoweave.ofx.bundle"},
                  {"Library/LaunchAgents/de.geoweave.ofxpath.plist", "de.geoweave.ofxpath.plist"}}},
};

Tree below(const Tree& tree, const std::string& prefix)
{
    Tree part;
    for (const auto& [path, state] : tree)
        if (path == prefix || path.starts_with(prefix + "/")) part[path.substr(prefix.size())] = state;
    return part;
}

// Over an earlier installation, each file operation of the run (an
// installation, or a restore of the items the earlier one replaced) is failed
// once and for good, then the run is killed right before it: a failed run
// leaves the home as it was (or names the backup that holds what it could
// not put back), and a killed one leaves every item whole, old or new.
TEST_F(Products, NoFailedOrKilledRunLosesAnItem)
{
    for (const auto& [id, testing, restoring] : {std::tuple{"huecraft", true, false}, {"geoweave", true, false},
                                                 {"geoweave", false, false}, {"geoweave", false, true}}) {
        SCOPED_TRACE(std::string(id) + (testing ? " in test mode" : " with launchd") + (restoring ? ", restoring" : ""));
        fs::remove_all(home), fs::create_directories(support);
        if (restoring) {
            writeFile(ofx / "Geoweave.ofx.bundle/Contents/old", "old");
            writeFile(agentFile, launchAgentPropertyList("de.geoweave.ofxpath", "/Volumes/Old/OFX"));
        }
        install(id, testing);
        const auto change = [&, id = id, testing = testing, restoring = restoring] {
            if (restoring) restore(id, testing);
            else install(id, testing);
        };
        fs::remove_all(dir / "earlier");
        fs::copy(home, dir / "earlier", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        auto restart = [&] {
            fs::remove_all(home);
            fs::copy(dir / "earlier", home, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            return homeNow();
        };
        const Tree before = restart();
        Faults faults(*disk);
        ScopedService<FileManager> useFaults(fm, faults);
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        change();
        const Tree after = homeNow();
        const std::size_t calls = faults.calls;
        std::size_t failures = 0;
        for (std::size_t n = 1; n <= calls; ++n) {
            for (bool persistent : {false, true}) {
                SCOPED_TRACE("call " + std::to_string(n) + (persistent ? " and every later change" : ""));
                restart();
                faults.calls = 0, faults.failAt = n, faults.persistent = persistent;
                std::string error = "none";
                try {
                    change();
                } catch (const std::exception& e) {
                    error = e.what();
                }
                faults.failAt = 0;
                failures += error != "none";
                const Tree now = homeNow();
                if (error == "none") {
                    EXPECT_EQ(now, after);
                } else if (!error.starts_with(messages::notRestored(""))) {
                    EXPECT_EQ(changed(before, now, persistent), std::vector<std::string>{}) << error;
                } else {
                    const Tree all = picture(home);
                    const std::string backup = error.substr(messages::notRestored("").size() + home.native().size() + 1);
                    for (const auto& [item, label] : installedItems.at(id)) {
                        if (below(now, item) == below(before, item)) continue;
                        EXPECT_EQ(below(all, backup + "/" + label), below(before, item)) << item;
                    }
                }
            }
        }
        EXPECT_GT(failures, calls);
        if (restoring) continue;  // its items are swapped in by the same transaction as an installation's
        for (std::size_t n = 1; n <= calls; ++n) {
            restart();
            faults.calls = 0, faults.killAt = n;
            const pid_t child = ::fork();
            if (child == 0) {
                try {
                    change();
                } catch (...) {
                }
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            // A launchctl the killed run started finishes before the home is laid out again.
            while (::waitpid(-1, nullptr, 0) > 0) {
            }
            faults.killAt = 0;
            EXPECT_TRUE(WIFSIGNALED(status)) << n;
            const Tree now = homeNow();
            for (const auto& [item, label] : installedItems.at(id)) {
                bool whole = below(now, item) == below(before, item) || below(now, item) == below(after, item);
#ifdef KB_PORTABLE
                // Without a one-step swap the old item is removed before the new one is renamed into place: a
                // kill between the two leaves the place empty and the old item whole in the backup only.
                const Tree all = picture(home);
                for (const auto& [path, state] : all) {
                    if (below(now, item).empty() && path.ends_with("/" + label) && path.find("/Installer-Backups/") != std::string::npos)
                        whole = whole || below(all, path) == below(before, item);
                }
#endif
                EXPECT_TRUE(whole) << item << " after call " << n;
            }
            // A later installation installs over whatever the killed run left.
            install(id, testing);
            for (const auto& [item, label] : installedItems.at(id))
                EXPECT_EQ(below(homeNow(), item), below(restoring ? before : after, item));
        }
    }
}

// Another program swaps a folder of the test folder for a link to a copy of it outside, right before the chosen file
// operation of a test run over an earlier installation: whichever operation it is, nothing outside changes, and the
// run either installs inside or fails with the test folder's own line (the LUT folder's, found unwritable through the
// link), or names the backup of what it could not put back.
TEST_F(Products, ATestRunWritesNothingOutsideWhicheverFolderIsSwappedForALinkMidRun)
{
    struct Swapping : ForwardingFileManager {
        using ForwardingFileManager::ForwardingFileManager;
        std::size_t calls = 0, swapAt = 0;
        fs::path folder, outside;
        void before(FileOperation, const Path&) override
        {
            if (++calls != swapAt) return;
            fs::rename(folder, folder.native() + ".moved");
            fs::create_directory_symlink(outside, folder);
        }
    } swapping(*disk);
    for (const auto& [id, folder] : {std::pair{"huecraft", "Library"}, {"geoweave", "OFX"}, {"geoweave", "Library/LaunchAgents"}}) {
        SCOPED_TRACE(std::string(id) + ": " + folder);
        fs::remove_all(home), fs::remove_all(dir / "outside"), fs::remove_all(dir / "earlier"), fs::create_directories(support);
        install(id);
        fs::copy(home, dir / "earlier", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::copy(home / folder, dir / "outside", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        const Tree outside = picture(dir / "outside");
        swapping.folder = home / folder, swapping.outside = dir / "outside", swapping.calls = 0, swapping.swapAt = 0;
        ScopedService<FileManager> useSwapping(fm, swapping);
        install(id);
        for (std::size_t n = 1, calls = swapping.calls; n <= calls; ++n) {
            fs::remove_all(home), fs::remove_all(temp), fs::create_directories(temp);
            fs::copy(dir / "earlier", home, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
            swapping.calls = 0, swapping.swapAt = n;
            std::string failed;
            try {
                install(id);
            } catch (...) {
                failed = describeFailure(std::current_exception(), {});
            }
            EXPECT_EQ(picture(dir / "outside"), outside) << "swapped before call " << n;
            const bool known = failed.empty() || failed.starts_with(messages::notRestored(""))
                               || failed.starts_with(messages::outsideTestHome("")) || failed == messages::lutNotWritable;
            EXPECT_TRUE(known) << n << ": " << failed;
        }
    }
}

}  // namespace
}  // namespace kb::test
