#pragma once
// A home, a payload and a scratch folder in a fresh temporary folder, and the
// install frame run with the huecraft recipe on them, as the installer does.

#include "core/product.h"
#include "platform/posix_file_manager.h"
#include "products/huecraft.h"
#include "products/run_context.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kb::test {

namespace fs = std::filesystem;

inline const std::string unreadableSettings =
    "Die vorhandenen Huecraft-Einstellungen sind unlesbar. Sie wurden nicht verändert. "
    "Bitte die JSON-Datei zuerst reparieren.";
inline const std::string lutNotAbsolute =
    "Der vorhandene LUT-Ordner ist kein absoluter Pfad. Einstellungen wurden nicht verändert.";
inline const std::string lutNotWritable =
    "Der vorhandene LUT-Ordner ist nicht schreibbar. Bitte die Ordnerrechte prüfen oder einen eigenen "
    "LUT-Ordner in Huecraft einrichten. Bestehende Einstellungen bleiben erhalten.";

class HuecraftInstall : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager scope{real};
    TempDir dir;
    const fs::path home = dir / "home";
    const fs::path payload = dir / "payload";
    const fs::path temp = dir / "temp";
    const fs::path appSupport = home / "Library/Application Support";
    const fs::path backups = appSupport / "Huecraft/Installer-Backups";
    const fs::path runtime = appSupport / "Huecraft/Runtime-1.2.0b2";
    const fs::path colorScripts = appSupport / "Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color";
    const fs::path settingsFile = home / ".huecraft_vireo.json";
    const fs::path defaultLut = appSupport / "Huecraft/LUT";
    const Product product{"huecraft", "Huecraft", "1.2.0b2", "Payload", "", "Huecraft installieren?"};

    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(temp);
        writeFile(payload / "Runtime/runtime/huecraft-engine", "#!/bin/sh\necho engine 1.2.0b2\n", 0755);
        writeFile(payload / "Runtime/lib/grading.py", "STRENGTH = 0.65\n");
        writeFile(payload / "Runtime/resolve/Huecraft_Vireo.py", "print('Huecraft Vireo 1.2.0b2')\n");
        writeFile(payload / "Runtime/resolve/huecraft_ui_language.py", "LANGUAGE = 'de'\n");
        writeFile(payload / "Runtime/resolve/huecraft_ui_catalog.json", "{\"de\": {\"title\": \"Farbgebung\"}}\n");
    }

    nlohmann::json install()
    {
        return runInstallation(RecipeBook{{"huecraft", installHuecraft}}, product, payload, temp, home, true);
    }

    // The description of the error the run ends with.
    std::string failure()
    {
        try {
            install();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "installed";
    }

    // The backup folders of the runs so far, oldest first.
    std::vector<fs::path> backupFolders() const { return sortedEntries(backups); }

    void writeSettings(std::string_view text, unsigned mode = 0644) { writeFile(settingsFile, text, mode); }

    // What the home holds apart from the backup folders and the folders
    // that lead to them.
    TreeSnapshot homeWithoutBackups() const
    {
        TreeSnapshot tree = snapshot(home);
        const std::string backupPath = "Library/Application Support/Huecraft/Installer-Backups";
        std::erase_if(tree, [&](const auto& entry) {
            return entry.first.starts_with(backupPath) || backupPath.starts_with(entry.first + "/");
        });
        return tree;
    }

    // An older installation: every item the recipe replaces, with other content.
    void installOlderVersion()
    {
        writeFile(runtime / "runtime/huecraft-engine", "#!/bin/sh\necho engine 1.1\n", 0755);
        writeFile(runtime / "obsolete.py", "OLD = True\n");
        writeFile(colorScripts / "Huecraft_Vireo.py", "print('Huecraft Vireo 1.1')\n", 0640);
        writeFile(colorScripts / "huecraft_ui_language.py", "LANGUAGE = 'en'\n");
        writeFile(colorScripts / "huecraft_ui_catalog.json", "{}\n");
    }
};

}  // namespace kb::test
