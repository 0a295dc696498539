// The installer as its user meets it: the real program's command line (the
// rows of cases.json), a run without arguments in this process with a scripted
// desktop, and the real dialogs on an X server of the test's own.

#include "app/installer_main.h"
#include "app/interactive_flow.h"
#include "app/watched_run.h"
#include "core/messages.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "platform/launcher.h"
#include "platform/resource.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <future>
#include <regex>
#include <set>
#include <thread>

namespace kb::test {
namespace {

using nlohmann::json;
using Texts = std::vector<std::string>;
const json cases = json::parse(readText(sourceDir() / "tests/app/cases.json"));

// A run's whole outcome as one comparable text, and the line a failure leaves on standard error.
std::string outcome(const Run& ran) { return std::to_string(ran.status) + "\nout: " + ran.out + "\nerr: " + ran.err; }
std::string line(std::string_view failure) { return std::string(messages::failurePrefix).append(failure) + "\n"; }

TEST(CommandLine, TheVerifiedJsonThenEveryRowOfTheTable)
{
    const json& table = cases["commandLine"];
    TempDir dir;
    const fs::path root = fs::canonical(dir.path()), bundle = root / "Installer.app", resources = resourcesOf(bundle);
    auto expand = [&](std::string text) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, root.native());
        return text;
    };
    auto sandbox = [&](const std::string& cwd, const std::string& home) {
        return RunOptions{root / cwd, {{"HOME", (root / home).native()}, {"TMPDIR", (root / "tmp").native()},
                                       {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}};
    };
    for (const std::string file : table["scratch"]["files"]) writeFile(root / file, "");
    for (const std::string folder : table["scratch"]["folders"]) fs::create_directories(root / folder);
    for (const auto& [link, target] : table["scratch"]["links"].items()) makeLink(expand(target), root / link);
    makeProduct(root / "payload", bundle, "huecraft", "Huecraft Vireo", "1.2.0b2");
    for (const std::string copy : table["scratch"]["copies"]) fs::copy_file(programOf(bundle), root / copy);
    const std::string descriptor = readText(resources / "product.json");
    const auto verified = run(programOf(bundle), {"--verify-payload"}, sandbox(".", "home"));
    const std::string sha = json::parse(descriptor)["payloadSHA256"];
    EXPECT_EQ(outcome(verified), outcome({0, "{\n  \"payloadSHA256\": \"" + sha + "\",\n  \"product\": \"Huecraft "
                                             "Vireo\",\n  \"verified\": true,\n  \"version\": \"1.2.0b2\"\n}\n", ""}));
    EXPECT_TRUE(fs::is_empty(root / "tmp"));

    json manifest = json::parse(readText(resources / "payload-manifest.json"));
    manifest["files"]["Inhalt.txt"]["sha256"] = std::string(64, 'f');
    writeFile(resources / "payload-manifest.json", manifest.dump());
    const Tree home = picture(root / "home");
    const std::map<std::string, std::string> known{{"usage", std::string(messages::usage)},
        {"testHomeRefused", std::string(messages::testHomeRefused)}, {"noDisplay", std::string(messages::noDisplay)},
        {"installerDamaged", std::string(messages::installerDamaged)}, {"unknownProduct", std::string(messages::unknownProduct)}};
    for (const json& group : table["groups"]) {
        SCOPED_TRACE(group["why"].get<std::string>());
        for (const json& row : group["rows"]) {
            SCOPED_TRACE(row.dump());
            const json given = row.value("descriptor", json(descriptor));
            const std::string text = given.is_string() ? given.get<std::string>() : given.dump();
            fs::remove_all(resources / "product.json");
            if (text == "(folder)") fs::create_directory(resources / "product.json");
            else if (!given.is_null()) writeFile(resources / "product.json", text);
            std::string err = expand(row.value("err", group.value("err", "")));
#ifdef KB_PORTABLE
            if (err.starts_with("psn:")) err.erase(0, 4);  // the Finder's -psn_ argument is dropped, as on a Mac
#endif
            if (err.starts_with("psn:")) err = "usage";
            const std::string named = err.substr(err.find(':') + 1);
            if (err.starts_with("checkFailed:")) err = messages::checkFailed(named);
            if (err.starts_with("resourceFolderMissing:")) err = messages::resourceFolderMissing(root / named);
            if (known.contains(err)) err = known.at(err);
            Texts arguments;
            for (const std::string argument : row["args"]) arguments.push_back(expand(argument));
            const auto ran = run(root / row.value("program", "bin/installer"), arguments,
                                 sandbox(row.value("cwd", "decoy"), row.value("home", "home")));
            EXPECT_EQ(outcome(ran), outcome({1, "", line(err)}));
            EXPECT_TRUE(fs::is_empty(root / "tmp"));
            EXPECT_EQ(picture(root / "home"), home);
        }
    }
}

TEST(ResolveCheck, AnIdentifierContainingItOrANameEqualToItInAnyCase)
{
    for (const json& row : cases["resolve"]) {
        SCOPED_TRACE(row.dump());
        auto text = [&](int at) { return row[at].is_null() ? std::nullopt : std::optional<std::string>(row[at]); };
        const RunningApplication application{text(0), text(1)};
        EXPECT_EQ(resolveIsRunning({application}), row[2]);
        EXPECT_EQ(resolveIsRunning({{"com.apple.finder", "Finder"}, application, {}}), row[2]);
    }
    EXPECT_FALSE(resolveIsRunning({}));
}

// One dialog as the system desktop logs it to KESTRELBAY_DIALOG_LOG.
std::string dialog(std::string_view title, std::string_view body,
                   const Texts& buttons = {std::string(messages::okButton)})
{
    const std::string heading(title);
    std::string record = "dialog\ntitle: " + heading + "\nlabel: " + heading + "\nlabel: " + std::string(body) + "\n";
    for (const std::string& button : buttons) record += "button: " + button + "\n";
    return record + "end\n";
}

std::string confirmation(const std::string& id)
{
    return dialog(messages::confirmationTitle(id, "2.0"), messages::confirmationBody("Nachricht."),
                  {std::string(messages::installButton), std::string(messages::cancelButton)});
}

// The product `id`, named so too, made from its demo payload.
fs::path demoProduct(const std::string& id, const fs::path& bundle)
{
    const std::map<std::string, std::string> payloads{{"huecraft", "Huecraft-Payload"}, {"geoweave", "Geoweave-Payload"}};
    const fs::path payload = sourceDir() / "demo" / id / payloads.at(id);
    return makeProduct(payload, bundle, id, id, "2.0");
}

// Logs every call, answers every dialog with the button given for it (else the first) and holds the Option key
// while `option` is set.
class FakeDesktop final : public Desktop {
public:
    std::string log;
    bool option = false;
    std::deque<std::size_t> answers;
    void activate() override { log += "activate\n"; }
    bool optionKeyHeld() override { return log += "optionKeyHeld\n", option; }
    std::vector<RunningApplication> runningApplications() override { log += "runningApplications\n"; return {}; }
    std::size_t alert(const std::string& title, const std::string& body, const Texts& buttons) override
    {
        log += dialog(title, body, buttons);
        const std::size_t answer = answers.empty() ? 0 : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
};

// A double-click installs after the confirmation; opened with the Option key held, the installer offers a restore or
// an uninstall instead, and its closing dialog tells what to do next.
TEST(InteractiveFlow, ActivatedThenResolveLookedForThenConfirmedThenClosedPerProduct)
{
    for (const std::string id : {"huecraft", "geoweave"}) {
        SCOPED_TRACE(id);
        TempDir dir;
        const fs::path bundle = demoProduct(id, dir / "P.app"), support = dir / "home/Library/Application Support";
        fs::create_directories(dir / "tmp");
        ScopedEnv home("HOME", (dir / "home").native()), tmp("TMPDIR", (dir / "tmp").native());
        ScopedEnv searchPath("OFX_PLUGIN_PATH", std::nullopt);
        const std::unique_ptr<FileManager> files = makeSystemFileManager();
        const std::unique_ptr<Launcher> processes = makeSystemLauncher();
        FakeDesktop fake;
        ScopedService useFiles(fm, *files);
        ScopedService useProcesses(launcher, *processes);
        ScopedService useFake(desktop, fake);
        resource = resourcesOf(bundle);
        const std::string opened = "activate\noptionKeyHeld\nrunningApplications\n";
        const Texts choices{std::string(messages::restoreButton), std::string(messages::uninstallButton),
                            std::string(messages::cancelButton)};
        const std::string maintenance = dialog(messages::maintenanceTitle(id), messages::maintenanceBody(id), choices);
        auto newestBackup = [&] {
            std::set<fs::path> all;
            for (const auto& entry : fs::directory_iterator(support / id / "Installer-Backups")) all.insert(entry.path());
            return all.empty() ? fs::path() : *all.rbegin();
        };
        runInstaller({});
        const fs::path backup = newestBackup();
        const std::string next = std::map<std::string, std::string>{
            {"huecraft", messages::huecraftClosing(support / "Huecraft/LUT")},
            {"geoweave", std::string(messages::geoweaveClosing)}}.at(id);
        EXPECT_EQ(fake.log, opened + confirmation(id) + dialog(messages::installedTitle(id), next + messages::backupLine(backup)
                                                                                              + std::string(messages::goBackLine)));
        EXPECT_EQ(json::parse(readText(backup / "INSTALLATION.json"))["testHome"], false);
        auto withoutBackups = [&] {
            Tree tree = picture(dir / "home");
            // launchd's state without the stand-in's notes of when it last ran a job.
            std::erase_if(tree, [](const auto& entry) {
                return entry.first.find("/Installer-Backups/") != std::string::npos || entry.first.ends_with(".job");
            });
            return tree;
        };
        const Tree installed = withoutBackups();

        fake.option = true;
        for (const auto& [answer, title] : {std::pair{std::size_t{2}, std::string()}, {1, messages::uninstalledTitle(id)},
                                            {0, messages::restoredTitle(id)}}) {
            fake.log.clear(), fake.answers = {answer};
            runInstaller({});
            const std::string closing = dialog(title, std::string(messages::restartResolve) + messages::backupLine(newestBackup()));
            EXPECT_EQ(fake.log, opened + maintenance + (title.empty() ? "" : closing));
        }
        EXPECT_EQ(withoutBackups(), installed);
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    }
}

// The one stop decision, its interleavings forced around the real run of the work on its thread: a stop asked for
// before the work could be stopped is carried out once it can be; one accepted right before the last change rolls
// the run back at that change; after it, none is accepted and the window says so.
TEST(WatchedRun, AStopIsDecidedOnceAndNeverLost)
{
    struct Watching final : Desktop {
        std::function<void(const WatchedWork&)> script;
        void activate() override {}
        std::size_t alert(const std::string&, const std::string&, const Texts&) override { return 0; }
        std::vector<RunningApplication> runningApplications() override { return {}; }
        void watch(const WatchedWork& work) override
        {
            script(work);
            while (!work.finished()) std::this_thread::yield();
        }
    } watching;
    ScopedService useWatching(desktop, watching);
    for (const std::string when : {"before the work can be stopped", "right before the last change", "after it"}) {
        SCOPED_TRACE(when);
        std::promise<void> reached, answered;
        std::shared_future<void> reachedNow = reached.get_future(), answeredNow = answered.get_future();
        watching.script = [&](const WatchedWork& work) {
            if (when != "before the work can be stopped") reachedNow.wait();
            EXPECT_EQ(work.cancel(), when != "after it");
            const ProgressReport now = work.report();
            EXPECT_EQ(std::tie(now.line, now.cancellable), std::tuple(std::string(when == "after it" ? messages::progressFinishing
                                                                                   : messages::progressStopping), false));
            answered.set_value();
        };
        const auto work = [&](Progress& progress) {
            if (when == "before the work can be stopped") answeredNow.wait();
            InterruptionHandling interruptions;
            progress.stoppable();
            if (when == "before the work can be stopped") checkInterruption();
            if (when == "after it") progress.lastChangeDone();
            reached.set_value();
            answeredNow.wait();
            progress.lastChangeDone();
            return json(when);
        };
        if (when == "after it") EXPECT_EQ(runWatched("T", work), when);
        else EXPECT_THROW(runWatched("T", work), Interrupted);
        EXPECT_EQ(stoppedByUser(), when != "after it");
    }
}

// Runs the installer of `bundle` on an X server of its own as runOnDisplay does, with HOME, TMPDIR and the dialog
// log in `dir`.
Run onDisplay(const fs::path& bundle, const fs::path& dir, const Texts& titlesAndKeys, decltype(RunOptions::env) env = {})
{
    fs::create_directories(dir / "home"), fs::create_directories(dir / "tmp");
    env.insert({{"KESTRELBAY_DIALOG_LOG", (dir / "log").native()}, {"HOME", (dir / "home").native()},
                {"TMPDIR", (dir / "tmp").native()}});
    return runOnDisplay(programOf(bundle), titlesAndKeys, {.env = env});
}

TEST(RealDialogs, CancelledRefusedOrFailedAsTheUserSeesIt)
{
    // Abbrechen and Escape do nothing; only the user's own Resolve is refused (copies of sleep: Resolve as nobody,
    // its server as this user, whose name the kernel shortens to "DaVinci Resolve"); a failure after Installieren
    // is shown, but with arguments only reported.
    TempDir dir;
    const fs::path bundle = demoProduct("geoweave", dir / "P.app"), archive = resourcesOf(bundle) / "payload.zip";
    const std::string asking = messages::confirmationTitle("geoweave", "2.0");
    fs::create_directories(dir / "nobody/home"), fs::create_directories(dir / "nobody/tmp");
    std::string sleepers;
    for (const char* copy : {"DaVinci Resolve", "DaVinci Resolve Project Server"}) {
        fs::copy_file("/bin/sleep", dir / copy);
        giveToNobody(dir.path(), dir.path());
        sleepers += run("/bin/sh", {"-c", "\"$0\" 60 >/dev/null & echo $!", dir / copy},
                        {.unprivileged = sleepers.empty()}).out;
    }
    for (const char* keys : {"Tab Return", "Escape"}) {
        SCOPED_TRACE(keys);
        EXPECT_EQ(outcome(onDisplay(bundle, dir / keys, {asking, keys})), outcome({0, "", ""}));
        EXPECT_EQ(readText(dir / keys / "log"), confirmation("geoweave"));
        EXPECT_EQ(picture(dir / keys).size(), 3u);  // home, tmp and the log
    }
    const auto refused = onDisplay(bundle, dir / "nobody", {std::string(messages::resolveRunningTitle), "Return"},
                                   {{"AS", "setpriv --reuid=nobody --regid=nogroup --clear-groups"}});
    run("/bin/sh", {"-c", "kill $0", sleepers});
    EXPECT_EQ(outcome(refused), outcome({0, "", ""}));
    EXPECT_EQ(readText(dir / "nobody/log"), dialog(messages::resolveRunningTitle, messages::resolveRunningBody));

    writeFile(archive, readText(archive) + "x");
    const Texts answers{asking, "Return", std::string(messages::failureTitle), "Return"};
    const auto shown = onDisplay(bundle, dir / "failing", answers);
    const auto reported = onDisplay(bundle, dir / "failing", {}, {{"ARGS", "--verify-payload"}});
    EXPECT_EQ(outcome(shown), outcome({1, "", ""}));
    EXPECT_EQ(outcome(reported), outcome({1, "", line(messages::damagedArchive)}));
    const std::string failure = dialog(messages::failureTitle, messages::damagedArchive);
    EXPECT_EQ(readText(dir / "failing/log"), confirmation("geoweave") + failure);
    EXPECT_TRUE(picture(dir / "failing/home").empty() && fs::is_empty(dir / "failing/tmp"));
}

// The progress window as the user sees it while the real Installer works, slowed at a chosen step (ditto as it
// unpacks, the copy into place, launchctl as it sets the search path): left alone it goes when the run is done, its
// bar full. Abbrechen, and another program destroying the window, put everything back, launchd too, end the helper
// and the run (exit 1) and show the failure dialog of a run the user stopped; the display going away does the same
// with one line on standard error instead.
TEST(RealDialogs, TheProgressWindowWhileTheRunWorksAndWhenItOrItsDisplayGoes)
{
    struct Case { std::string id, slow, key, ended; };
    const Case rows[] = {{"huecraft", "ditto", "shift", "done"}, {"geoweave", "launchctl", "Return", "button"},
                          {"huecraft", "ditto", "CLOSE", "closed"}, {"geoweave", "copy", "CLOSE", "closed"},
                          {"geoweave", "ditto", "KILLX", ""}, {"huecraft", "copy", "KILLX", ""}};
    for (const Case& c : rows) {
        SCOPED_TRACE(c.id + " " + c.slow + " " + c.key);
        TempDir dir;
        const fs::path bundle = demoProduct(c.id, dir / "P.app"), helpers = bundle / "Contents/Helpers";
        writeFile(dir / "home/OFX/Geoweave.ofx.bundle/old.txt", "alt");
        writeFile(dir / "home/Library/Application Support/Huecraft/Runtime-1.2.0b2/old.txt", "alt");
        fs::create_directories(dir / "home/Library/LaunchAgents");
        run(helpers / "launchctl", {"setenv", "OFX_PLUGIN_PATH", "/alt"}, {.env = {{"HOME", (dir / "home").native()}}});
        decltype(RunOptions::env) env{{"OFX_PLUGIN_PATH", std::nullopt}};
        // Only the installer's own copies set times (utimensat), with the in-kernel copy or without it.
        if (c.slow == "copy") {
            env["AS"] = "strace -f -o /dev/null -e trace=utimensat -e inject=utimensat:delay_enter=200000";
            // LeakSanitizer cannot work under a tracer: a sanitizer build checks for leaks in the other runs.
            const char* sanitizer = std::getenv("ASAN_OPTIONS");
            env["ASAN_OPTIONS"] = std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0";
        }
        // The first setenv of the new search path waits; a rollback's of the earlier one (/alt) does not, wherever
        // a busy machine lets the stop land.
        for (const char* tool : {"ditto", "launchctl"}) {
            if (c.slow != tool) continue;
            fs::rename(helpers / tool, helpers / (std::string(tool) + ".real"));
            writeFile(helpers / tool, "#!/bin/sh\ncase $1 in --norsrc) sleep 2;; setenv) [ \"$3\" = /alt ] || [ -e \"$0.pid\" ] || "
                                      "{ echo $$ >\"$0.pid\"; exec sleep 30; };; esac\nexec \"$0.real\" \"$@\"\n", 0755);
        }
        const Tree before = picture(dir / "home");
        const bool left = c.ended == "done", gone = c.key == "KILLX";
        const std::string last = left ? messages::installedTitle(c.id) : std::string(messages::failureTitle);
        Texts answers{messages::confirmationTitle(c.id, "2.0"), "Return", c.id, c.key};
        if (!gone) answers.insert(answers.end(), {last, "Return"});
        const auto ran = onDisplay(bundle, dir.path(), answers, env);
        EXPECT_EQ(outcome(ran), outcome({left ? 0 : 1, "", gone ? line(messages::displayLost) : ""}));
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
        if (gone) {
            EXPECT_EQ(readText(dir / "log"), confirmation(c.id));
        } else {
            // The window shows the steps it catches, and its bar as it last showed it: full once the run is done.
            const std::string log = std::regex_replace(readText(dir / "log"), std::regex("(line: .*\n)+"), "");
            const std::string bar = left ? "100" : std::regex_replace(log, std::regex("[^]*\nbar: ([0-9]+)%[^]*"), "$1");
            EXPECT_EQ(log.substr(0, log.find(last)), confirmation(c.id) + "progress\ntitle: " + c.id + "\nbar: " + bar + "%\nbutton: "
                      + std::string(messages::cancelButton) + "\nended: " + c.ended + "\nend\ndialog\ntitle: ");
            if (!left) {
                EXPECT_LT(std::stoi(bar), 100);
                EXPECT_EQ(log.substr(log.rfind("dialog\n")), dialog(messages::failureTitle, messages::stoppedByUser));
            }
        }
        if (left) continue;
        const auto lasting = [](Tree tree) {  // but the backup folder and the LUT folder a stopped run leaves
            std::erase_if(tree, [](const auto& entry) { return entry.first.starts_with("Library/Application Support/")
                                                               && !entry.first.starts_with("Library/Application Support/Huecraft/Runtime"); });
            return tree;
        };
        EXPECT_EQ(lasting(picture(dir / "home")), lasting(before));
        const fs::path pid = helpers / "launchctl.pid";
        if (fs::exists(pid)) {
            EXPECT_NE(run("/bin/sh", {"-c", "kill -0 $(cat \"$0\")", pid}).status, 0) << "the helper outlived the run";
        }
    }
}

}  // namespace
}  // namespace kb::test
