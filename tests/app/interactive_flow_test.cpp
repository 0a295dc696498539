// The interactive flow with dialogs answered from a script: the Resolve
// check, the confirmation, the closing text, and whole runs of the
// installer in this process.

#include "core/install_error.h"
#include "app/installer_main.h"
#include "app/interactive_flow.h"
#include "platform/launcher.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/run_program.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/unprivileged.h"
#include "tests/support/virtual_display.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <filesystem>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string refusalTitle = "Resolve bitte beenden";
const std::string refusalBody =
    "Beende DaVinci Resolve regulär und öffne den Installer danach erneut. Es wurden keine Dateien installiert.";
const std::string confirmationTail =
    "\n\nVorhandene Dateien werden gesichert. Deine Einstellungen und eigenen Daten bleiben erhalten. Der "
    "Installer benötigt keine Administratorrechte.";

Product product(const std::string& id)
{
    return {id, id == "huecraft" ? "Huecraft Vireo" : "Geoweave", "1.2.0b2", "Payload",
            std::string(64, '0'), "Farbwerkzeug für die Color-Seite."};
}

RunningApplication application(std::optional<std::string> bundleIdentifier, std::optional<std::string> name)
{
    return {std::move(bundleIdentifier), std::move(name)};
}

TEST(ResolveCheck, FindsTheBundleIdentifierInAnyCaseWithTextAround)
{
    for (const char* identifier : {"com.blackmagic-design.DaVinciResolve", "com.BlackMagic-Design.DaVinciResolve.helper",
                                   "COM.BLACKMAGIC-DESIGN.DAVINCIRESOLVE", "xblackmagic-design.davinciresolvex"}) {
        EXPECT_TRUE(resolveIsRunning({application(identifier, "Helper")})) << identifier;
        EXPECT_TRUE(resolveIsRunning({application(identifier, std::nullopt)})) << identifier;
    }
    for (const char* identifier : {"com.blackmagic-design.davinci-resolve", "com.blackmagicdesign.davinciresolve",
                                   "blackmagic-design", "com.blackmagic-design.Fusion"}) {
        EXPECT_FALSE(resolveIsRunning({application(identifier, "Helper")})) << identifier;
    }
}

TEST(ResolveCheck, FindsTheExactNameInAnyCase)
{
    for (const char* name : {"DaVinci Resolve", "DAVINCI RESOLVE", "davinci resolve", "dAvInCi rEsOlVe"}) {
        EXPECT_TRUE(resolveIsRunning({application("com.example.unrelated", name)})) << name;
        EXPECT_TRUE(resolveIsRunning({application(std::nullopt, name)})) << name;
    }
    for (const char* name : {"DaVinci Resolve Project Server", "DaVinci Resolve Studio", " DaVinci Resolve",
                             "DaVinci Resolve ", "DaVinci  Resolve", "Resolve", "DaVinci", ""}) {
        EXPECT_FALSE(resolveIsRunning({application("com.blackmagic-design.projectserver", name)})) << name;
    }
}

TEST(ResolveCheck, LooksAtEveryApplicationAndNeedsOneMatch)
{
    EXPECT_FALSE(resolveIsRunning({}));
    EXPECT_FALSE(resolveIsRunning({application(std::nullopt, std::nullopt)}));
    EXPECT_TRUE(resolveIsRunning({application("com.apple.finder", "Finder"), application(std::nullopt, std::nullopt),
                                  application("org.mozilla.firefox", "Firefox"),
                                  application(std::nullopt, "DaVinci Resolve")}));
    EXPECT_FALSE(resolveIsRunning({application("com.apple.finder", "Finder"),
                                   application("com.blackmagic-design.projectserver", "DaVinci Resolve Project Server")}));
}

// The names linuxRunningApplications() reports to a process of the user
// nobody: a child of this test that has become nobody asks.
std::vector<std::string> namesSeenByNobody()
{
    passwd* nobody = ::getpwnam("nobody");
    if (!nobody) throw std::runtime_error("the user nobody does not exist");
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    pid_t child = ::fork();
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (child == 0) {
        ::close(ends[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(3);
        std::string names;
        for (const RunningApplication& running : linuxRunningApplications()) {
            if (running.bundleIdentifier) ::_exit(4);
            names += running.localizedName.value_or("") + '\0';
        }
        std::string_view rest = names;
        while (!rest.empty()) {
            ssize_t written = ::write(ends[1], rest.data(), rest.size());
            if (written <= 0) ::_exit(5);
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string text;
    std::array<char, 4096> buffer{};
    for (ssize_t got; (got = ::read(ends[0], buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), static_cast<std::size_t>(got));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the listing as nobody failed");
    std::vector<std::string> names;
    for (std::size_t from = 0, to; (to = text.find('\0', from)) != std::string::npos; from = to + 1)
        names.push_back(text.substr(from, to - from));
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(ResolveCheck, FindsAProgramRunningUnderTheNameDaVinciResolve)
{
    // Named by the program file's full name, not the kernel's 15 characters:
    // "DaVinci Resolve Project Server" must not be taken for Resolve. The
    // stand-ins run as nobody and are looked for as nobody, so installers that
    // other tests start as root meanwhile never see them.
    TempDir dir;
    fs::create_directories(dir / "bin");
    fs::copy_file("/bin/sleep", dir / "bin" / "DaVinci Resolve");
    fs::copy_file("/bin/sleep", dir / "bin" / "DaVinci Resolve Project Server");
    giveToNobody(dir / "bin", dir.path());
    const std::vector<std::string> asNobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    auto startAsNobody = [&](const std::string& name) {
        std::vector<std::string> arguments = asNobody;
        arguments.push_back((dir / "bin" / name).native());
        arguments.push_back("600");
        return std::make_unique<BackgroundProgram>("/usr/bin/setpriv", arguments);
    };

    EXPECT_FALSE(contains(namesSeenByNobody(), "DaVinci Resolve"));
    auto server = startAsNobody("DaVinci Resolve Project Server");
    ASSERT_TRUE(eventually([&] { return contains(namesSeenByNobody(), "DaVinci Resolve Project Server"); }));
    EXPECT_FALSE(contains(namesSeenByNobody(), "DaVinci Resolve"));
    // This process (root) does not list nobody's programs.
    for (const RunningApplication& running : linuxRunningApplications())
        EXPECT_NE(running.localizedName.value_or(""), "DaVinci Resolve Project Server");

    auto resolve = startAsNobody("DaVinci Resolve");
    ASSERT_TRUE(eventually([&] { return contains(namesSeenByNobody(), "DaVinci Resolve"); }));
    std::vector<RunningApplication> seen;
    for (const std::string& name : namesSeenByNobody()) seen.push_back(application(std::nullopt, name));
    EXPECT_TRUE(resolveIsRunning(seen));
    resolve.reset();
    EXPECT_FALSE(contains(namesSeenByNobody(), "DaVinci Resolve"));
    EXPECT_TRUE(contains(namesSeenByNobody(), "DaVinci Resolve Project Server"));
}

class Flow : public ::testing::Test {
protected:
    FakeDesktop fake;
    ScopedDesktop useFake{fake};
};

TEST_F(Flow, RefusesWhileResolveRunsAfterActivatingAndBeforeAnyOtherDialog)
{
    fake.setRunningApplications({application("com.apple.finder", "Finder"),
                                 application("com.BlackMagic-Design.DaVinciResolve.helper", "Helper")});
    fake.answer({true});
    EXPECT_FALSE(confirmInstallation(product("huecraft")));
    EXPECT_EQ(fake.alerts(), (std::vector<ShownAlert>{{refusalTitle, refusalBody, false}}));
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"activate", "runningApplications", "alert: " + refusalTitle}));
}

TEST_F(Flow, RefusesByNameWhateverTheRefusalIsAnsweredWith)
{
    fake.setRunningApplications({application("org.example.other", "DAVINCI RESOLVE")});
    fake.answer({false});
    EXPECT_FALSE(confirmInstallation(product("geoweave")));
    EXPECT_EQ(fake.alerts(), (std::vector<ShownAlert>{{refusalTitle, refusalBody, false}}));
    EXPECT_EQ(fake.unusedAnswers(), 0u);
}

TEST_F(Flow, AsksForConfirmationWithTheProductTexts)
{
    fake.setRunningApplications({application("com.blackmagic-design.projectserver", "DaVinci Resolve Project Server")});
    fake.answer({true});
    EXPECT_TRUE(confirmInstallation(product("huecraft")));
    EXPECT_EQ(fake.alerts(),
              (std::vector<ShownAlert>{{"Huecraft Vireo 1.2.0b2 installieren",
                                        "Farbwerkzeug für die Color-Seite.\n\nVorhandene Dateien werden gesichert. "
                                        "Deine Einstellungen und eigenen Daten bleiben erhalten. Der Installer "
                                        "benötigt keine Administratorrechte.",
                                        true}}));
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"activate", "runningApplications",
                                                      "alert: Huecraft Vireo 1.2.0b2 installieren"}));
}

TEST_F(Flow, AbbrechenAnswersNo)
{
    fake.answer({false});
    Product odd{"geoweave", " Geo ", "", "P", "", "Zeile\n"};
    EXPECT_FALSE(confirmInstallation(odd));
    EXPECT_EQ(fake.alerts(), (std::vector<ShownAlert>{{" Geo   installieren", "Zeile\n" + confirmationTail, true}}));
}

TEST_F(Flow, ClosingTextForHuecraftPutsTheLutFolderOnItsOwnLine)
{
    const nlohmann::json result = {{"backupDirectory", "/Users/a b/Library/Application Support/Huecraft Vireo/"
                                                       "Installer-Backups/20240102-030405-006-ABCDEF"},
                                   {"lutDirectory", "/Users/a b/Library/Application Support/Huecraft/LUTs"},
                                   {"installed", {"x"}}};
    const std::string expected =
        "Resolve neu starten, dann Arbeitsbereich → Skripte → Color → Huecraft_Vireo.\n\n"
        "Prüfe in Resolve unter Einstellungen → Farbmanagement → Lookup Tables, ob dieser LUT-Ordner registriert "
        "ist:\n"
        "/Users/a b/Library/Application Support/Huecraft/LUTs\n\n"
        "Falls nötig hinzufügen und die Listen aktualisieren. KI-Verbindungen richtest du im Huecraft-Dialog mit "
        "deinem eigenen Konto ein. Für Video-Quelldateien werden zusätzlich ffmpeg und ffprobe benötigt; Bilder und "
        "Resolve-Standbildexport funktionieren mit der mitgelieferten Laufzeit.\n\n"
        "Sicherung: /Users/a b/Library/Application Support/Huecraft Vireo/Installer-Backups/"
        "20240102-030405-006-ABCDEF";
    EXPECT_EQ(closingText(product("huecraft"), result), expected);

    fake.answer({true});
    showClosingDialog(product("huecraft"), result);
    EXPECT_EQ(fake.alerts(), (std::vector<ShownAlert>{{"Huecraft Vireo ist installiert", expected, false}}));
    EXPECT_EQ(fake.calls(), std::vector<std::string>{"alert: Huecraft Vireo ist installiert"});
}

TEST_F(Flow, ClosingTextForGeoweaveIsTheFixedTextAndTheBackupLine)
{
    const nlohmann::json result = {{"backupDirectory", "/home/u/Library/Application Support/Geoweave/"
                                                       "Installer-Backups/20240102-030405-006-012345"},
                                   {"lutDirectory", "/not/shown"}};
    const std::string expected =
        "Resolve neu starten. In Fusion Geoweave hinzufügen und mit MediaOut verbinden.\n\n"
        "Plugin, Karten, Schriften und Importlaufzeit sind vollständig enthalten. Neue Online-Suchen und "
        "Kartenabrufe benötigen Internet. Eigene Routen- und Kartenordner wurden nicht verändert.\n\n"
        "Sicherung: /home/u/Library/Application Support/Geoweave/Installer-Backups/20240102-030405-006-012345";
    EXPECT_EQ(closingText(product("geoweave"), result), expected);
    // The id is compared exactly: any other spelling gets the second text.
    EXPECT_EQ(closingText(product("Huecraft"), result), expected);

    fake.answer({false});
    showClosingDialog(product("geoweave"), result);
    EXPECT_EQ(fake.alerts(), (std::vector<ShownAlert>{{"Geoweave ist installiert", expected, false}}));
}

// Whole interactive runs in this process: the home and the temporary folder
// in a fresh folder, the real file manager and launcher, scripted dialogs.
class InProcessRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(tmp);
        writeFile(home / "Documents" / "eigene.txt", "eigene Daten");
        previousResource = kb::resource;
    }
    void TearDown() override { kb::resource = previousResource; }

    TempDir dir;
    fs::path resources;
    fs::path home = dir / "home";
    fs::path tmp = dir / "tmp";
    ScopedEnvironment homeVariable{"HOME", home.native()};
    ScopedEnvironment tmpVariable{"TMPDIR", tmp.native()};
    ScopedEnvironment searchPath{"OFX_PLUGIN_PATH", std::nullopt};
    PosixFileManager real;
    ScopedFileManager useReal{real};
    PosixLauncher realLauncher;
    ScopedLauncher useRealLauncher{realLauncher};
    FakeDesktop fake;
    ScopedDesktop useFake{fake};
    fs::path previousResource;
};

// A bundle of the test's own whose payload is never reached.
class InteractiveRun : public InProcessRun {
protected:
    void SetUp() override
    {
        InProcessRun::SetUp();
        resources = dir / "Installer.app" / "Contents" / "Resources";
        fs::create_directories(resources);
        writeFile(resources / "product.json",
                  R"({"id": "huecraft", "name": "Huecraft Vireo", "version": "1.2.0b2", "payloadRoot": "Payload",
                      "payloadSHA256": ")" + std::string(64, '0') + R"(", "message": "Farbwerkzeug."})");
        homeBefore = snapshot(home);
        kb::resource = resources;
    }

    std::vector<std::string> homeChanges() const { return differences(homeBefore, snapshot(home)); }

    TreeSnapshot homeBefore;
};

TEST_F(InteractiveRun, RefusalEndsTheRunBeforeAnythingIsRead)
{
    writeFile(resources / "payload.zip", "kein Archiv");
    fake.setRunningApplications({application(std::nullopt, "DaVinci Resolve")});
    fake.answer({true});
    runInstaller({});
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"activate", "runningApplications", "alert: " + refusalTitle}));
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(homeChanges(), std::vector<std::string>{});
}

TEST_F(InteractiveRun, AbbrechenLeavesNoTemporaryFolderNoBackupAndNoChange)
{
    writeFile(resources / "payload.zip", "kein Archiv");
    fake.answer({false});
    runInstaller({});
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"activate", "runningApplications",
                                                      "alert: Huecraft Vireo 1.2.0b2 installieren"}));
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(homeChanges(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(home / "Library"));
}

TEST_F(InteractiveRun, ADamagedPayloadIsReportedOnlyAfterInstallieren)
{
    writeFile(resources / "payload.zip", "kein Archiv");
    fake.answer({true});
    try {
        runInstaller({});
        FAIL() << "the damaged payload was accepted";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.");
    }
    EXPECT_EQ(fake.calls(), (std::vector<std::string>{"activate", "runningApplications",
                                                      "alert: Huecraft Vireo 1.2.0b2 installieren"}));
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(homeChanges(), std::vector<std::string>{});
}

TEST_F(InteractiveRun, TheModesWithArgumentsShowNoDialog)
{
    writeFile(home / "marked" / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
    homeBefore = snapshot(home);
    EXPECT_THROW(runInstaller({"--verify-payload"}), std::system_error);
    EXPECT_THROW(runInstaller({"--test-home", (home / "marked").native()}), std::system_error);
    EXPECT_THROW(runInstaller({"-h"}), InstallError);
    EXPECT_EQ(fake.calls(), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(homeChanges(), std::vector<std::string>{});
}

// A copy of a demo installer.
class DemoRun : public InProcessRun {
protected:
    void useDemo(const std::string& app)
    {
        const fs::path demo = builtBinaryDir() / "demo" / app;
        ASSERT_TRUE(fs::exists(demo / "Contents/Resources/payload.zip")) << demo;
        fs::copy(demo, dir / app, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        resources = fs::canonical(dir / app / "Contents/Resources");
        kb::resource = resources;
    }

    std::vector<fs::path> backupFolders(const std::string& name) const
    {
        return sortedEntries(home / "Library/Application Support" / name / "Installer-Backups");
    }
};

TEST_F(DemoRun, HuecraftInstallsAndClosesWithTheLutFolderAndTheBackup)
{
    useDemo("Huecraft.app");
    const std::string message = nlohmann::json::parse(readText(resources / "product.json"))["message"];
    fake.answer({true, true});
    runInstaller({});

    const std::vector<fs::path> backups = backupFolders("Huecraft Vireo");
    ASSERT_EQ(backups.size(), 1u);
    const std::string lut = (home / "Library/Application Support/Huecraft/LUT").native();
    ASSERT_EQ(fake.alerts().size(), 2u);
    EXPECT_EQ(fake.alerts()[0], (ShownAlert{"Huecraft Vireo 1.2.0b2 installieren", message + confirmationTail, true}));
    EXPECT_EQ(fake.alerts()[1],
              (ShownAlert{"Huecraft Vireo ist installiert",
                          "Resolve neu starten, dann Arbeitsbereich → Skripte → Color → Huecraft_Vireo.\n\n"
                          "Prüfe in Resolve unter Einstellungen → Farbmanagement → Lookup Tables, ob dieser "
                          "LUT-Ordner registriert ist:\n" + lut + "\n\n"
                          "Falls nötig hinzufügen und die Listen aktualisieren. KI-Verbindungen richtest du im "
                          "Huecraft-Dialog mit deinem eigenen Konto ein. Für Video-Quelldateien werden zusätzlich "
                          "ffmpeg und ffprobe benötigt; Bilder und Resolve-Standbildexport funktionieren mit der "
                          "mitgelieferten Laufzeit.\n\nSicherung: " + backups[0].native(),
                          false}));
    EXPECT_EQ(fake.calls()[0], "activate");
    EXPECT_EQ(fake.calls()[1], "runningApplications");
    EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "runningApplications"), 1);
    EXPECT_TRUE(fs::is_directory(lut));
    EXPECT_TRUE(fs::exists(backups[0] / "INSTALLATION.json"));
    const nlohmann::json record = nlohmann::json::parse(readText(backups[0] / "INSTALLATION.json"));
    EXPECT_EQ(record["testHome"], false);
    EXPECT_EQ(record["backupDirectory"], backups[0].native());
    EXPECT_EQ(readText(home / "Documents" / "eigene.txt"), "eigene Daten");
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(DemoRun, GeoweaveClosesWithTheFixedTextAndTheBackup)
{
    useDemo("Geoweave.app");
    fake.answer({true, true});
    runInstaller({});
    const std::vector<fs::path> backups = backupFolders("Geoweave");
    ASSERT_EQ(backups.size(), 1u);
    ASSERT_EQ(fake.alerts().size(), 2u);
    EXPECT_EQ(fake.alerts()[0].title, "Geoweave 2.4.1 installieren");
    EXPECT_EQ(fake.alerts()[1],
              (ShownAlert{"Geoweave ist installiert",
                          "Resolve neu starten. In Fusion Geoweave hinzufügen und mit MediaOut verbinden.\n\n"
                          "Plugin, Karten, Schriften und Importlaufzeit sind vollständig enthalten. Neue "
                          "Online-Suchen und Kartenabrufe benötigen Internet. Eigene Routen- und Kartenordner "
                          "wurden nicht verändert.\n\nSicherung: " + backups[0].native(),
                          false}));
    EXPECT_TRUE(fs::exists(home / "Library/LaunchAgents/de.geoweave.ofxpath.plist"));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(DemoRun, AbbrechenChangesNothing)
{
    useDemo("Huecraft.app");
    const TreeSnapshot before = snapshot(home);
    fake.answer({false});
    runInstaller({});
    EXPECT_EQ(fake.alerts().size(), 1u);
    EXPECT_EQ(differences(before, snapshot(home)), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(DemoRun, ADamagedArchiveIsReportedAfterInstallierenAndChangesNothing)
{
    useDemo("Huecraft.app");
    std::string archive = readText(resources / "payload.zip");
    archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 0x01);
    writeFile(resources / "payload.zip", archive);
    const TreeSnapshot before = snapshot(home);
    fake.answer({true});
    try {
        runInstaller({});
        FAIL() << "the damaged archive was accepted";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.");
    }
    EXPECT_EQ(fake.alerts().size(), 1u);
    EXPECT_EQ(differences(before, snapshot(home)), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(DemoRun, APayloadThatDisagreesWithItsManifestIsReportedAndTheUnpackedTreeRemoved)
{
    useDemo("Huecraft.app");
    nlohmann::json manifest = nlohmann::json::parse(readText(resources / "payload-manifest.json"));
    ASSERT_FALSE(manifest["files"].empty());
    const std::string first = manifest["files"].begin().key();
    manifest["files"][first]["size"] = manifest["files"][first]["size"].get<std::uint64_t>() + 1;
    writeFile(resources / "payload-manifest.json", manifest.dump());
    const TreeSnapshot before = snapshot(home);
    fake.answer({true});
    try {
        runInstaller({});
        FAIL() << "the payload was accepted";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), "Die Paketprüfung ist fehlgeschlagen: " + first);
    }
    EXPECT_EQ(differences(before, snapshot(home)), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(tmp));
}

}  // namespace
}  // namespace kb::test
