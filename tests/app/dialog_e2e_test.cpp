// Real GTK dialogs on a virtual X server: the dialog function through a
// small program, and the installer's own dialogs through the real program.

#include "core/product.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/unprivileged.h"
#include "tests/support/virtual_display.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const std::string confirmationTail =
    "\n\nVorhandene Dateien werden gesichert. Deine Einstellungen und eigenen Daten bleiben erhalten. Der "
    "Installer benötigt keine Administratorrechte.";

// What the GTK desktop logs for one dialog it showed.
std::string shownDialog(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    std::string record = "dialog\ntitle: " + title + "\nlabel: " + title + "\nlabel: " + body + "\n";
    for (const std::string& button : buttons) record += "button: " + button + "\n";
    return record + "end\n";
}

std::string textOf(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error)) return "";
    return readText(path);
}

class Dialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { display = std::make_unique<VirtualDisplay>(); }
    static void TearDownTestSuite() { display.reset(); }

    // On the virtual display, with HOME and TMPDIR in folders of the test's own.
    RunOptions onDisplay() const
    {
        fs::create_directories(home);
        fs::create_directories(tmp);
        RunOptions options;
        options.environment["DISPLAY"] = display->name();
        options.environment["WAYLAND_DISPLAY"] = std::nullopt;
        options.environment["KESTRELBAY_DIALOG_LOG"] = log.native();
        options.environment["HOME"] = home.native();
        options.environment["TMPDIR"] = tmp.native();
        return options;
    }

    // Waits for the dialog titled `title`, the `number`th of the run, to be
    // on screen and logged, then answers it.
    void answer(BackgroundProgram& program, const std::string& title, const std::vector<std::string>& keys,
                std::size_t number = 1) const
    {
        std::string window;
        try {
            window = display->waitForWindow(title, [&] { return program.running(); });
        } catch (const std::runtime_error& error) {
            const std::string windows = display->run("/usr/bin/xdotool", {"search", "--name", "."}).out;
            const bool stillRunning = program.running();
            if (stillRunning) ::kill(program.pid(), SIGKILL);
            ProgramRun ended = program.wait();
            FAIL() << error.what() << "\nwindows: " << windows << "\nrunning: " << stillRunning << "\nstatus " << ended.status << "\nout: " << ended.out << "\nerr: " << ended.err
                   << "\nlog: " << textOf(log);
        }
        ASSERT_TRUE(eventually([&] { return loggedDialogs() >= number; })) << textOf(log);
        display->pressKeys(window, keys);
    }

    std::size_t loggedDialogs() const
    {
        const std::string text = textOf(log);
        std::size_t count = 0;
        for (std::size_t at = text.find("end\n"); at != std::string::npos; at = text.find("end\n", at + 1)) {
            if (at == 0 || text[at - 1] == '\n') ++count;
        }
        return count;
    }

    // A copy of a demo installer in the test folder; returns its program.
    fs::path copyDemo(const std::string& app, const fs::path& to) const
    {
        const fs::path demo = builtBinaryDir() / "demo" / app;
        if (!fs::exists(demo / "Contents/Resources/payload.zip")) throw std::runtime_error("no demo bundle " + demo.native());
        fs::copy(demo, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return bundleProgram(to);
    }

    // show_alert with the given texts, answered with `keys`.
    ProgramRun alertAnsweredWith(const std::string& title, const std::string& body, bool install,
                                 const std::vector<std::string>& keys)
    {
        std::vector<std::string> arguments{title, body};
        if (install) arguments.push_back("install");
        BackgroundProgram shown(testProgram("show_alert"), arguments, onDisplay());
        answer(shown, title, keys);
        return shown.wait();
    }

    static std::unique_ptr<VirtualDisplay> display;
    TempDir dir;
    fs::path log = dir / "dialogs.log";
    fs::path home = dir / "home";
    fs::path tmp = dir / "tmp";
};

std::unique_ptr<VirtualDisplay> Dialogs::display;

TEST_F(Dialogs, OneOkButtonAnswersTrue)
{
    const std::string body = "Erster Absatz mit Ümlauten → Pfeil.\n\nZweiter Absatz.";
    ProgramRun run = alertAnsweredWith("Installation abgebrochen", body, false, {"Return"});
    EXPECT_EQ(run.out, "true\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(textOf(log), shownDialog("Installation abgebrochen", body, {"OK"}));
}

TEST_F(Dialogs, InstallierenIsTheFirstButtonAndAnswersTrue)
{
    const std::string title = "Huecraft 1.2.0 installieren";
    const std::string body = "Farbwerkzeug." + confirmationTail;
    ProgramRun run = alertAnsweredWith(title, body, true, {"Return"});
    EXPECT_EQ(run.out, "true\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(textOf(log), shownDialog(title, body, {"Installieren", "Abbrechen"}));
}

TEST_F(Dialogs, AbbrechenAnswersFalse)
{
    ProgramRun run = alertAnsweredWith("Geoweave 3 installieren", "Text", true, {"Tab", "Return"});
    EXPECT_EQ(run.out, "false\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(textOf(log), shownDialog("Geoweave 3 installieren", "Text", {"Installieren", "Abbrechen"}));
}

TEST_F(Dialogs, EscapeCountsAsAbbrechen)
{
    ProgramRun run = alertAnsweredWith("Geoweave 3 installieren", "Text", true, {"Escape"});
    EXPECT_EQ(run.out, "false\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(Dialogs, TheInstallerShowsItsFailureInADialogWhenStartedWithoutArguments)
{
    const fs::path bundle = dir / "Installer.app";
    const fs::path program = copyBundle(bundle);
    const std::string broken = "{\"id\": \"huecraft\", \"name\": 5}";
    writeFile(bundleResources(bundle) / "product.json", broken);
    std::string description;
    try {
        decodeProduct(broken);
    } catch (const nlohmann::json::exception& error) {
        description = error.what();
    }
    ASSERT_EQ(description, "[json.exception.type_error.302] (/name) type must be string, but is number");

    BackgroundProgram installer(program, {}, onDisplay());
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Installation abgebrochen", {"Return"}));
    ProgramRun run = installer.wait();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(textOf(log), shownDialog("Installation abgebrochen", description, {"OK"}));
}

TEST_F(Dialogs, CancellingTheConfirmationEndsWithNothingDone)
{
    const fs::path bundle = dir / "Installer.app";
    const fs::path program = copyBundle(bundle);
    writeFile(bundleResources(bundle) / "product.json",
              R"({"id": "huecraft", "name": "Huecraft", "version": "1.2.0", "payloadRoot": "Payload",
                  "payloadSHA256": "00", "message": "Farbwerkzeug für Resolve."})");
    writeFile(dir / "home" / "Documents" / "notes.txt", "eigene Daten");
    const TreeSnapshot homeBefore = snapshot(dir / "home");

    BackgroundProgram installer(program, {}, onDisplay());
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Huecraft 1.2.0 installieren", {"Tab", "Return"}));
    ProgramRun run = installer.wait();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(textOf(log), shownDialog("Huecraft 1.2.0 installieren", "Farbwerkzeug für Resolve." + confirmationTail,
                                       {"Installieren", "Abbrechen"}));
    EXPECT_EQ(differences(homeBefore, snapshot(dir / "home")), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(Dialogs, TheInstallerRefusesWhileResolveRuns)
{
    // Both run as nobody, so installers that other tests start as root at the
    // same time never see this stand-in for Resolve.
    const fs::path work = dir / "work";
    fs::create_directories(work / "home");
    fs::create_directories(work / "tmp");
    const fs::path bundle = work / "Installer.app";
    const fs::path program = copyBundle(bundle);
    writeFile(bundleResources(bundle) / "product.json",
              R"({"id": "geoweave", "name": "Geoweave", "version": "3.0", "payloadRoot": "Payload",
                  "payloadSHA256": "00", "message": "Karten."})");
    fs::copy_file("/bin/sleep", work / "DaVinci Resolve");
    writeFile(log, "");
    giveToNobody(work, dir.path());
    giveToNobody(log, dir.path());

    BackgroundProgram resolve("/usr/bin/setpriv",
                              {"--reuid=nobody", "--regid=nogroup", "--clear-groups", (work / "DaVinci Resolve").native(), "600"});
    RunOptions options = onDisplay();
    options.environment["HOME"] = (work / "home").native();
    options.environment["TMPDIR"] = (work / "tmp").native();
    options.environment["XDG_RUNTIME_DIR"] = std::nullopt;
    BackgroundProgram installer("/usr/bin/setpriv",
                                {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program.native()}, options);
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Resolve bitte beenden", {"Return"}));
    ProgramRun run = installer.wait();
    ::kill(resolve.pid(), SIGKILL);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(textOf(log), shownDialog("Resolve bitte beenden",
                                       "Beende DaVinci Resolve regulär und öffne den Installer danach erneut. Es "
                                       "wurden keine Dateien installiert.",
                                       {"OK"}));
    EXPECT_TRUE(fs::is_empty(work / "tmp"));
}

TEST_F(Dialogs, TheDemoInstallerInstallsThroughItsDialogs)
{
    const fs::path program = copyDemo("Huecraft.app", dir / "Huecraft.app");
    const std::string message =
        nlohmann::json::parse(readText(bundleResources(dir / "Huecraft.app") / "product.json"))["message"];
    BackgroundProgram installer(program, {}, onDisplay());
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Huecraft Vireo 1.2.0b2 installieren", {"Return"}));
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Huecraft Vireo ist installiert", {"Return"}, 2));
    ProgramRun run = installer.wait();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");

    const fs::path backups = dir / "home/Library/Application Support/Huecraft Vireo/Installer-Backups";
    ASSERT_TRUE(fs::is_directory(backups));
    const fs::path backup = fs::directory_iterator(backups)->path();
    const fs::path lut = dir / "home/Library/Application Support/Huecraft/LUT";
    EXPECT_TRUE(fs::is_directory(lut));
    EXPECT_EQ(textOf(log),
              shownDialog("Huecraft Vireo 1.2.0b2 installieren", message + confirmationTail, {"Installieren", "Abbrechen"})
                  + shownDialog("Huecraft Vireo ist installiert",
                                "Resolve neu starten, dann Arbeitsbereich → Skripte → Color → Huecraft_Vireo.\n\n"
                                "Prüfe in Resolve unter Einstellungen → Farbmanagement → Lookup Tables, ob dieser "
                                "LUT-Ordner registriert ist:\n" + lut.native() + "\n\n"
                                "Falls nötig hinzufügen und die Listen aktualisieren. KI-Verbindungen richtest du im "
                                "Huecraft-Dialog mit deinem eigenen Konto ein. Für Video-Quelldateien werden "
                                "zusätzlich ffmpeg und ffprobe benötigt; Bilder und Resolve-Standbildexport "
                                "funktionieren mit der mitgelieferten Laufzeit.\n\nSicherung: " + backup.native(),
                                {"OK"}));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(Dialogs, ADamagedPayloadIsShownAfterInstallierenAndTheHomeStaysAsItWas)
{
    const fs::path program = copyDemo("Geoweave.app", dir / "Geoweave.app");
    const fs::path archive = bundleResources(dir / "Geoweave.app") / "payload.zip";
    writeFile(archive, readText(archive) + "x");
    writeFile(dir / "home" / "OFX" / "eigenes.txt", "eigene Daten");
    const TreeSnapshot homeBefore = snapshot(dir / "home");
    BackgroundProgram installer(program, {}, onDisplay());
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Geoweave 2.4.1 installieren", {"Return"}));
    ASSERT_NO_FATAL_FAILURE(answer(installer, "Installation abgebrochen", {"Return"}, 2));
    ProgramRun run = installer.wait();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    const std::string shown = textOf(log);
    EXPECT_TRUE(shown.ends_with(shownDialog("Installation abgebrochen",
                                          "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.",
                                          {"OK"})))
        << shown;
    EXPECT_EQ(differences(homeBefore, snapshot(dir / "home")), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(Dialogs, AFailedRunWithArgumentsShowsNoDialog)
{
    const fs::path bundle = dir / "Installer.app";
    const fs::path program = copyBundle(bundle);
    writeFile(bundleResources(bundle) / "product.json", "{}");
    ProgramRun run = runProgram(program, {"--verify-payload"}, onDisplay());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Installation abgebrochen: [json.exception.out_of_range.403] key 'id' not found\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(textOf(log), "");
}

TEST(DialogsWithoutDisplay, TheInstallerReportsOnStandardErrorWhenNoDialogCanBeShown)
{
    TempDir dir;
    const fs::path bundle = dir / "Installer.app";
    const fs::path program = copyBundle(bundle);
    writeFile(bundleResources(bundle) / "product.json", "{\"id\": ");
    std::string description;
    try {
        decodeProduct("{\"id\": ");
    } catch (const nlohmann::json::exception& error) {
        description = error.what();
    }
    ASSERT_TRUE(description.starts_with("[json.exception.parse_error.101]")) << description;

    RunOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.environment["HOME"] = (dir / "home").native();
    options.environment["TMPDIR"] = dir.path().native();
    ProgramRun run = runProgram(program, {}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Installation abgebrochen: " + description + "\n");
    EXPECT_EQ(run.out, "");
}

TEST(DialogsWithoutDisplay, AnInteractiveRunWithoutDisplayStopsBeforeAnythingIsDone)
{
    TempDir dir;
    const fs::path bundle = dir / "Installer.app";
    const fs::path program = copyBundle(bundle);
    writeFile(bundleResources(bundle) / "product.json",
              R"({"id": "huecraft", "name": "Huecraft", "version": "1", "payloadRoot": "P", "payloadSHA256": "00",
                  "message": "M"})");
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "tmp");
    RunOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.environment["HOME"] = (dir / "home").native();
    options.environment["TMPDIR"] = (dir / "tmp").native();
    ProgramRun run = runProgram(program, {}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Installation abgebrochen: Es ist keine Anzeige verfügbar, um die Dialoge des Installers zu zeigen.\n");
    EXPECT_EQ(run.out, "");
    // (The toolkit may leave its cache folder; the installer itself writes nothing.)
    EXPECT_FALSE(fs::exists(dir / "home" / "Library"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

}  // namespace
}  // namespace kb::test
