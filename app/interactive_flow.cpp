#include "app/interactive_flow.h"

#include "app/dialogs.h"
#include "app/unicode_lowercase.h"

namespace kb {

bool resolveIsRunning(const std::vector<RunningApplication>& applications)
{
    for (const RunningApplication& application : applications) {
        if (unicodeLowercase(application.bundleIdentifier.value_or("")).find("blackmagic-design.davinciresolve")
            != std::string::npos)
            return true;
        if (unicodeLowercase(application.localizedName.value_or("")) == "davinci resolve") return true;
    }
    return false;
}

bool confirmInstallation(const Product& product)
{
    desktop->activate();
    if (resolveIsRunning(desktop->runningApplications())) {
        alert("Resolve bitte beenden",
              "Beende DaVinci Resolve regulär und öffne den Installer danach erneut. Es wurden keine Dateien "
              "installiert.");
        return false;
    }
    return alert(product.name + " " + product.version + " installieren",
                 product.message
                     + "\n\nVorhandene Dateien werden gesichert. Deine Einstellungen und eigenen Daten bleiben "
                       "erhalten. Der Installer benötigt keine Administratorrechte.",
                 true);
}

namespace {

std::string textOf(const nlohmann::json& result, const char* key)
{
    auto found = result.find(key);
    return found != result.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

std::string closingText(const Product& product, const nlohmann::json& result)
{
    std::string text;
    if (product.id == "huecraft") {
        text = "Resolve neu starten, dann Arbeitsbereich → Skripte → Color → Huecraft_Vireo.\n\n"
               "Prüfe in Resolve unter Einstellungen → Farbmanagement → Lookup Tables, ob dieser LUT-Ordner "
               "registriert ist:\n"
               + textOf(result, "lutDirectory")
               + "\n\nFalls nötig hinzufügen und die Listen aktualisieren. KI-Verbindungen richtest du im "
                 "Huecraft-Dialog mit deinem eigenen Konto ein. Für Video-Quelldateien werden zusätzlich ffmpeg "
                 "und ffprobe benötigt; Bilder und Resolve-Standbildexport funktionieren mit der mitgelieferten "
                 "Laufzeit.";
    } else {
        text = "Resolve neu starten. In Fusion Geoweave hinzufügen und mit MediaOut verbinden.\n\n"
               "Plugin, Karten, Schriften und Importlaufzeit sind vollständig enthalten. Neue Online-Suchen und "
               "Kartenabrufe benötigen Internet. Eigene Routen- und Kartenordner wurden nicht verändert.";
    }
    return text + "\n\nSicherung: " + textOf(result, "backupDirectory");
}

void showClosingDialog(const Product& product, const nlohmann::json& result)
{
    alert(product.name + " ist installiert", closingText(product, result));
}

}  // namespace kb
