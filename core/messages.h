#pragma once
// Every text the installer shows or reports, in one place. The code and the
// tests both use these, so a text is changed here and nowhere else.

#include <cerrno>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kb::messages {

// The entry point and the command line.
inline constexpr std::string_view failureTitle = "Installation abgebrochen";
inline constexpr std::string_view failurePrefix = "Installation abgebrochen: ";
inline constexpr std::string_view usage = "Unterstützt: --verify-payload oder --test-home <markierter Testordner>.";
inline constexpr std::string_view testHomeRefused =
    "Der Test benötigt einen getrennten, ausdrücklich markierten Testordner.";
inline constexpr std::string_view unknownError = "Unbekannter Fehler.";

// Errors the installer does not make itself, told in German: each names the
// place it happened at (the home shown as "~"), where there is one, and what
// to do.
inline std::string at(const std::string& place) { return place.empty() ? "" : " (" + place + ")"; }
inline std::string noSpaceLeft(const std::string& place)
{
    return "Auf dem Laufwerk ist nicht genug Platz frei" + at(place)
           + ". Bitte schaffe Platz und starte den Installer danach erneut.";
}
inline std::string noPermission(const std::string& place)
{
    return "Der Installer hat keine Berechtigung für diese Stelle" + at(place)
           + ". Bitte prüfe die Zugriffsrechte und starte den Installer danach erneut.";
}
inline std::string readOnlyVolume(const std::string& place)
{
    return "Das Laufwerk ist schreibgeschützt" + at(place)
           + ". Bitte gib es zum Schreiben frei und starte den Installer danach erneut.";
}
inline std::string tooManyOpenFiles(const std::string& place)
{
    return "Es sind zu viele Dateien gleichzeitig geöffnet" + at(place)
           + ". Bitte beende andere Programme und starte den Installer danach erneut.";
}
inline std::string nameTooLong(const std::string& place)
{
    return "Ein Name oder Pfad ist zu lang" + at(place)
           + ". Bitte wähle kürzere Ordnernamen und starte den Installer danach erneut.";
}
// A part of the installer's own bundle (payload.zip, product.json, the
// manifest) is missing, unreadable or damaged.
inline constexpr std::string_view installerDamaged =
    "Das Installationspaket ist unvollständig oder beschädigt. Bitte lade es erneut herunter.";
inline constexpr std::string_view outOfMemory =
    "Der Arbeitsspeicher reicht nicht aus. Bitte beende andere Programme und starte den Installer danach erneut.";
// Any other error of the system: the German sentence, then the system's own words.
inline std::string systemFailure(const std::string& place, const std::string& words)
{
    return "Ein Systemfehler ist aufgetreten" + at(place) + ". Meldung des Systems: " + words;
}
inline std::string unexpectedFailure(const std::string& words)
{
    return "Ein unerwarteter Fehler ist aufgetreten. Meldung: " + words;
}
// The folder a run installs into: the test folder in test mode.
inline std::string homeNotUtf8(bool testFolder)
{
    return std::string("Der Pfad des ") + (testFolder ? "Testordners" : "Benutzerordners")
           + " ist kein gültiges UTF-8. Es wurden keine Dateien installiert.";
}
inline constexpr std::string_view invalidProductName =
    "Der Produktname im Installationspaket ist kein gültiger Ordnername. Es wurden keine Dateien installiert.";
inline constexpr std::string_view noDisplay =
    "Es ist keine Anzeige verfügbar, um die Dialoge des Installers zu zeigen.";
inline std::string resourceFolderMissing(const std::string& executable)
{
    return "Der Ressourcenordner des Installers fehlt (erwartet unter Contents/Resources im Programmpaket von \""
           + executable + "\").";
}

// The dialogs of an interactive run.
inline constexpr std::string_view okButton = "OK";
inline constexpr std::string_view installButton = "Installieren";
inline constexpr std::string_view cancelButton = "Abbrechen";
inline constexpr std::string_view resolveRunningTitle = "Resolve bitte beenden";
inline constexpr std::string_view resolveRunningBody =
    "Beende DaVinci Resolve regulär und öffne den Installer danach erneut. Es wurden keine Dateien installiert.";
inline std::string confirmationTitle(const std::string& name, const std::string& version)
{
    return name + " " + version + " installieren";
}
inline std::string confirmationBody(const std::string& productMessage)
{
    return productMessage
           + "\n\nVorhandene Dateien werden gesichert. Deine Einstellungen und eigenen Daten bleiben erhalten. "
             "Der Installer benötigt keine Administratorrechte.";
}
inline std::string installedTitle(const std::string& name) { return name + " ist installiert"; }
inline std::string backupLine(const std::string& backupDirectory) { return "\n\nSicherung: " + backupDirectory; }
inline constexpr std::string_view goBackLine =
    "\n\nZurück zur vorigen Version oder deinstallieren: den Installer mit gedrückter Wahltaste (⌥) öffnen.";
// Opened with the Option key held: a restore or an uninstall instead.
inline constexpr std::string_view restoreButton = "Wiederherstellen";
inline constexpr std::string_view uninstallButton = "Deinstallieren";
inline std::string maintenanceTitle(const std::string& name) { return name + " wiederherstellen oder deinstallieren"; }
inline std::string maintenanceBody(const std::string& name)
{
    return "„Wiederherstellen“ spielt die letzte Sicherung zurück, die der Installer angelegt hat. „Deinstallieren“ "
           "entfernt " + name + "; deine Einstellungen und eigenen Daten bleiben erhalten.\n\nWas dabei ersetzt oder "
           "entfernt wird, wird zuvor gesichert.";
}
inline std::string restoredTitle(const std::string& name) { return name + " ist wiederhergestellt"; }
inline std::string uninstalledTitle(const std::string& name) { return name + " ist deinstalliert"; }
inline constexpr std::string_view restartResolve = "Starte DaVinci Resolve neu, damit die Änderung wirkt.";

// Checking the payload.
inline constexpr std::string_view damagedArchive =
    "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.";
inline constexpr std::string_view contentMissing = "Paketinhalt fehlt.";
inline constexpr std::string_view invalidPath = "Ungültiger Paketpfad.";
inline constexpr std::string_view invalidLink = "Ungültige Dateiverknüpfung im Paket.";
inline constexpr std::string_view incomplete = "Das Paket ist unvollständig.";
inline std::string checkFailed(const std::string& relative)
{
    return "Die Paketprüfung ist fehlgeschlagen: " + relative;
}

// Running a system tool.
inline std::string systemStepFailed(const std::string& tool, int status)
{
    return "Ein Systemschritt ist fehlgeschlagen (" + tool + ", Code " + std::to_string(status)
           + "). Die Installation wird zurückgesetzt.";
}

// The install frame.
inline constexpr std::string_view unknownProduct = "Unbekanntes Produkt.";
// A rollback that could not put everything back: the backup folder holds it.
inline std::string notRestored(const std::string& backupFolder)
{
    return "Installation abgebrochen. Einige Dateien konnten nicht automatisch wiederhergestellt werden. Die "
           "Sicherung liegt hier: "
           + backupFolder;
}
// Told after a failure's own text when launchd was put back but could not
// load the earlier agent again at once.
inline constexpr std::string_view earlierAgentAtNextLogin =
    "Die bisherige Einstellung des OFX-Suchpfads ist wiederhergestellt und wird bei der nächsten Anmeldung wieder "
    "geladen.";
// Another run holds the home's lock; this one changed nothing.
inline std::string anotherRunActive(bool testFolder)
{
    return std::string("In diesem ") + (testFolder ? "Testordner" : "Benutzerordner")
           + " läuft bereits eine andere Installation. Bitte warte, bis sie beendet ist, und starte den Installer "
             "danach erneut. Es wurde nichts verändert.";
}
// A test-mode run would change `path`, which lies outside the test folder
// once links are resolved (also when a link that leads out appears while the
// run works).
inline std::string outsideTestHome(const std::string& path)
{
    return "Im Testmodus ändert der Installer nur Dateien innerhalb des Testordners, doch dieses Ziel liegt "
           "(Verknüpfungen aufgelöst) außerhalb: "
           + path;
}

// The texts of the system's errors by their errno; any other errno gets
// systemFailure.
struct SystemErrorText {
    std::initializer_list<int> errors;
    std::string (*text)(const std::string& place);
};
inline const SystemErrorText systemErrorTexts[] = {
    {{ENOSPC, EDQUOT}, noSpaceLeft},       {{EACCES, EPERM}, noPermission}, {{EROFS}, readOnlyVolume},
    {{EMFILE, ENFILE}, tooManyOpenFiles}, {{ENAMETOOLONG}, nameTooLong},   {{EXDEV}, outsideTestHome},
};
// Restoring a backup and uninstalling; each refusal comes before anything is changed.
inline std::string nothingToRestore(const std::string& product)
{
    return "Es gibt keine Sicherung von " + product
           + ", die der Installer zurückspielen könnte. Es wurde nichts verändert.";
}
inline std::string notThisProductsBackup(const std::string& folder, const std::string& product)
{
    return "Der Ordner " + folder + " ist keine Sicherung von " + product
           + " in diesem Benutzerordner. Es wurde nichts verändert.";
}
inline std::string backupNotUsable(const std::string& folder)
{
    return "Die Sicherung " + folder
           + " enthält anderes, als der Installer zurückspielen kann, oder wurde nach dem Sichern verändert. Es wurde "
             "nichts verändert.";
}
inline constexpr std::string_view resolveRunningNothingChanged =
    "DaVinci Resolve läuft. Beende es regulär und starte den Installer danach erneut. Es wurde nichts verändert.";

// The lines of the progress window, one for each step of a run.
inline constexpr std::string_view progressDigest = "Installationspaket wird geprüft …";
inline constexpr std::string_view progressUnpacking = "Dateien werden entpackt …";
inline constexpr std::string_view progressChecking = "Dateien werden geprüft …";
inline constexpr std::string_view progressInstalling = "Dateien werden installiert …";
inline constexpr std::string_view progressRestoring = "Sicherung wird zurückgespielt …";
inline constexpr std::string_view progressUninstalling = "Dateien werden entfernt …";
inline constexpr std::string_view progressLaunchd = "Suchpfad für Resolve wird eingerichtet …";
inline constexpr std::string_view progressFinishing = "Installation wird abgeschlossen – Abbrechen ist nicht mehr möglich …";
inline constexpr std::string_view progressStopping = "Änderungen werden zurückgesetzt …";
// The user stopped the run with "Abbrechen" (or by closing its window), and
// everything it had changed was put back.
inline constexpr std::string_view stoppedByUser =
    "Du hast die Installation abgebrochen. Alle bereits vorgenommenen Änderungen wurden zurückgesetzt.";
// The display went away while the run worked: it was stopped, and everything
// it had changed was put back.
inline constexpr std::string_view displayLost =
    "Die Verbindung zur Anzeige ist abgebrochen. Bereits vorgenommene Änderungen wurden zurückgesetzt.";
// A signal that ends a process (or the system's Quit) ended the run, after
// everything it had changed was put back.
inline constexpr std::string_view interrupted =
    "Der Installer wurde zum Beenden aufgefordert. Bereits vorgenommene Änderungen wurden zurückgesetzt.";

// The colour-script product.
inline constexpr std::string_view settingsUnreadable =
    "Die vorhandenen Huecraft-Einstellungen sind unlesbar. Sie wurden nicht verändert. "
    "Bitte die JSON-Datei zuerst reparieren.";
inline constexpr std::string_view lutNotAbsolute =
    "Der vorhandene LUT-Ordner ist kein absoluter Pfad. Einstellungen wurden nicht verändert.";
inline constexpr std::string_view lutNotWritable =
    "Der vorhandene LUT-Ordner ist nicht schreibbar. Bitte die Ordnerrechte prüfen oder einen eigenen "
    "LUT-Ordner in Huecraft einrichten. Bestehende Einstellungen bleiben erhalten.";
// The LUT folder named in the settings lies inside an item the run replaces,
// which would take the user's LUTs away with it.
inline std::string lutInsideReplacedItem(const std::string& lutFolder)
{
    return "Der LUT-Ordner liegt in einem Ordner, den der Installer ersetzt: " + lutFolder
           + ". Bitte wähle in Huecraft einen LUT-Ordner außerhalb davon und starte den Installer danach erneut. Es "
             "wurde nichts verändert.";
}
inline std::string huecraftClosing(const std::string& lutDirectory)
{
    return "Resolve neu starten, dann Arbeitsbereich → Skripte → Color → Huecraft_Vireo.\n\n"
           "Prüfe in Resolve unter Einstellungen → Farbmanagement → Lookup Tables, ob dieser LUT-Ordner "
           "registriert ist:\n"
           + lutDirectory
           + "\n\nFalls nötig hinzufügen und die Listen aktualisieren. KI-Verbindungen richtest du im "
             "Huecraft-Dialog mit deinem eigenen Konto ein. Für Video-Quelldateien werden zusätzlich ffmpeg "
             "und ffprobe benötigt; Bilder und Resolve-Standbildexport funktionieren mit der mitgelieferten "
             "Laufzeit.";
}

// The OFX plug-in product.
inline constexpr std::string_view systemWideCopy =
    "Es gibt bereits eine Geoweave-Kopie unter /Library/OFX/Plugins. Dieser Benutzer-Installer legt keine "
    "zweite aktive Kopie daneben an. Bitte die bestehende Installation zuerst sichern und ihre Verwendung klären.";
inline constexpr std::string_view otherSearchFolderCopy =
    "Ein anderer OFX-Suchordner enthält bereits Geoweave. Bitte nur eine aktive Geoweave-Kopie behalten und "
    "die bisherige Installation sichern.";
// A folder already on the OFX search path (from launchd, the installer's own
// environment or an earlier agent) holds what a launch agent cannot carry.
inline constexpr std::string_view searchPathUnreadable =
    "Der bisherige OFX-Suchpfad (OFX_PLUGIN_PATH) enthält Zeichen, die der Installer nicht unverändert übernehmen "
    "kann: ungültiges UTF-8 oder Steuerzeichen. Bitte bereinige den Suchpfad und starte den Installer danach erneut. "
    "Es wurde nichts verändert.";
// An earlier agent file too large or too deeply nested to be read safely:
// the folders it names cannot be taken over.
inline constexpr std::string_view earlierAgentTooLarge =
    "Die vorhandene Startdatei des OFX-Suchpfads (de.geoweave.ofxpath.plist) ist zu groß oder zu tief verschachtelt, "
    "als dass der Installer sie sicher lesen könnte. Bitte prüfe sie und starte den Installer danach erneut. Es wurde "
    "nichts verändert.";
// The OFX folder's own path cannot stand in the search path: `folder` is
// the folder on its path whose name holds the character.
inline std::string ofxFolderUnfit(const std::string& ofxFolder, const std::string& folder)
{
    return "Der Pfad des OFX-Ordners kann nicht in OFX_PLUGIN_PATH stehen, weil er einen Doppelpunkt oder ein "
           "Steuerzeichen enthält: "
           + ofxFolder + ". Bitte benenne den Ordner " + folder
           + " um und starte den Installer danach erneut. Es wurde nichts verändert.";
}
inline constexpr std::string_view geoweaveClosing =
    "Resolve neu starten. In Fusion Geoweave hinzufügen und mit MediaOut verbinden.\n\n"
    "Plugin, Karten, Schriften und Importlaufzeit sind vollständig enthalten. Neue Online-Suchen und "
    "Kartenabrufe benötigen Internet. Eigene Routen- und Kartenordner wurden nicht verändert.";

}  // namespace kb::messages
