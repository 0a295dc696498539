#pragma once
// The items each product installs below the home, an earlier installation
// of them with other content, and a picture of one item with everything in
// it, for tests that compare an item against its old and its new state.

#include "products/launch_agent.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {

// One installed item, relative to the home, and the name of its backup; a
// private backup is made 0600.
struct InstalledItem {
    std::string relative;
    std::string label;
    bool privateBackup = false;
};

inline const std::string applicationSupport = "Library/Application Support/";
inline const std::string colorScripts =
    applicationSupport + "Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color/";
inline const std::string huecraftSettings = ".huecraft_vireo.json";
inline const std::string huecraftLut = applicationSupport + "Huecraft/LUT";
inline const std::string geoweaveAgent = "Library/LaunchAgents/de.geoweave.ofxpath.plist";

inline std::vector<InstalledItem> huecraftItems()
{
    return {{applicationSupport + "Huecraft/Runtime-1.2.0b2", "Runtime-1.2.0b2"},
            {colorScripts + "Huecraft_Vireo.py", "Huecraft_Vireo.py"},
            {colorScripts + "huecraft_ui_language.py", "huecraft_ui_language.py"},
            {colorScripts + "huecraft_ui_catalog.json", "huecraft_ui_catalog.json"},
            {huecraftSettings, "huecraft-config.json", true}};
}

inline std::vector<InstalledItem> geoweaveItems()
{
    return {{"OFX/Geoweave.ofx.bundle", "Geoweave.ofx.bundle"}, {geoweaveAgent, "de.geoweave.ofxpath.plist"}};
}

// An older runtime, script, language files and a settings file with keys
// of the user's own.
inline void writeEarlierHuecraft(const std::filesystem::path& home)
{
    const std::filesystem::path runtime = home / applicationSupport / "Huecraft/Runtime-1.2.0b2";
    writeFile(runtime / "runtime/huecraft-engine", "#!/bin/sh\necho engine 1.1\n", 0755);
    writeFile(runtime / "obsolete.py", "OLD = True\n");
    writeFile(home / colorScripts / "Huecraft_Vireo.py", "print('Huecraft Vireo 1.1')\n", 0640);
    writeFile(home / colorScripts / "huecraft_ui_language.py", "LANGUAGE = 'en'\n");
    writeFile(home / colorScripts / "huecraft_ui_catalog.json", "{}\n");
    writeFile(home / huecraftSettings, R"({"strength": 0.25, "favourite": "teal"})", 0644);
}

// An older bundle and an agent that sets the search path "/x:/y".
inline void writeEarlierGeoweave(const std::filesystem::path& home)
{
    writeFile(home / "OFX/Geoweave.ofx.bundle/Contents/Info.plist", "<plist>Geoweave 1.0</plist>\n");
    writeFile(home / "OFX/Geoweave.ofx.bundle/Contents/Linux-x86-64/old.so", "old\n", 0755);
    writeFile(home / geoweaveAgent, launchAgentPropertyList("de.geoweave.ofxpath", "/x:/y"), 0600);
}

// The item at `path` and everything below it, keyed "." and "./<relative>";
// empty when nothing is there.
inline TreeSnapshot itemSnapshot(const std::filesystem::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    EntryState self;
    self.mode = st.st_mode & 07777;
    if (S_ISDIR(st.st_mode)) {
        self.type = 'd';
    } else if (S_ISREG(st.st_mode)) {
        self.type = 'f';
        self.content = sha256Hex(readText(path));
    } else if (S_ISLNK(st.st_mode)) {
        self.type = 'l';
        self.mode = 0;
        self.content = std::filesystem::read_symlink(path).native();
    } else {
        self.type = 'o';
    }
    TreeSnapshot item;
    if (self.type == 'd') {
        for (auto& [relative, state] : snapshot(path)) item["./" + relative] = state;
    }
    item["."] = self;
    return item;
}

// What the backup of `old` must look like.
inline TreeSnapshot expectedBackup(TreeSnapshot old, const InstalledItem& item)
{
    if (item.privateBackup && old.contains(".")) old["."].mode = 0600;
    return old;
}

// Whether a path relative to the home is or lies inside a scratch item.
inline bool inScratchItem(const std::string& relative)
{
    return relative.starts_with(".kestrelbay-install-") || relative.find("/.kestrelbay-install-") != std::string::npos;
}

// The outermost scratch items below the home, relative to it.
inline std::vector<std::string> scratchItemsBelow(const std::filesystem::path& home)
{
    std::vector<std::string> found;
    for (const auto& [path, state] : snapshot(home)) {
        if (inScratchItem(path) && !inScratchItem(std::filesystem::path(path).parent_path())) found.push_back(path);
    }
    return found;
}

}  // namespace kb::test
