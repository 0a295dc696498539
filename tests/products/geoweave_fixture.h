#pragma once
// A home, a payload holding Geoweave.ofx.bundle and a scratch folder in a
// fresh temporary folder; the install frame run with the geoweave recipe on
// them, with a recording launcher answering in place of launchctl.

#include "core/product.h"
#include "platform/launcher.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "products/geoweave.h"
#include "products/launch_agent.h"
#include "products/run_context.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace kb::test {

namespace fs = std::filesystem;

using Command = std::vector<std::string>;

inline const std::string systemStepFailed5 =
    "Ein Systemschritt ist fehlgeschlagen (launchctl, Code 5). Die Installation wird zurückgesetzt.";
inline const std::string systemWideCopyMessage =
    "Es gibt bereits eine Geoweave-Kopie unter /Library/OFX/Plugins. Dieser Benutzer-Installer legt keine zweite "
    "aktive Kopie daneben an. Bitte die bestehende Installation zuerst sichern und ihre Verwendung klären.";
inline const std::string otherFolderMessage =
    "Ein anderer OFX-Suchordner enthält bereits Geoweave. Bitte nur eine aktive Geoweave-Kopie behalten und die "
    "bisherige Installation sichern.";

inline std::string uidDomain()
{
    return "gui/" + std::to_string(::getuid());
}

// Records every program the installer starts and answers by the first
// argument (the launchctl subcommand): a scripted status and output, or a
// launch error for a subcommand marked unstartable.
class RecordingLauncher final : public Launcher {
public:
    std::vector<fs::path> executables;
    std::vector<Command> commands;
    std::map<std::string, LaunchResult> answers;
    std::set<std::string> unstartable;

    LaunchResult run(const fs::path& executable, const std::vector<std::string>& arguments) override
    {
        executables.push_back(executable);
        commands.push_back(arguments);
        std::string verb = arguments.empty() ? std::string() : arguments.front();
        if (unstartable.contains(verb)) {
            throw std::system_error(ENOENT, std::generic_category(), "posix_spawn " + executable.native());
        }
        auto answer = answers.find(verb);
        return answer == answers.end() ? LaunchResult{} : answer->second;
    }
};

// Points kb::resource at a bundle's resource folder for the lifetime of the guard.
class ScopedResource {
public:
    explicit ScopedResource(fs::path folder) : previous_(resource) { resource = std::move(folder); }
    ~ScopedResource() { resource = previous_; }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;

private:
    fs::path previous_;
};

// An agent property list read back independently of the installer's reader.
struct AgentContent {
    std::vector<std::string> keys;  // in the file's order
    std::string label;
    std::vector<std::string> programArguments;
    std::optional<bool> runAtLoad;
};

inline AgentContent readAgentContent(const std::string& bytes)
{
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    AgentContent content;
    if (root == nullptr) return content;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(root, &iterator);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(root, iterator, &key, &value);
            if (key == nullptr) break;
            content.keys.emplace_back(key);
            std::string name = key;
            std::free(key);
            if (name == "Label" && plist_get_node_type(value) == PLIST_STRING) {
                char* text = nullptr;
                plist_get_string_val(value, &text);
                content.label = text;
                std::free(text);
            } else if (name == "ProgramArguments" && plist_get_node_type(value) == PLIST_ARRAY) {
                for (std::uint32_t i = 0; i < plist_array_get_size(value); ++i) {
                    plist_t item = plist_array_get_item(value, i);
                    if (plist_get_node_type(item) != PLIST_STRING) {
                        content.programArguments.emplace_back("<not a string>");
                        continue;
                    }
                    char* text = nullptr;
                    plist_get_string_val(item, &text);
                    content.programArguments.emplace_back(text);
                    std::free(text);
                }
            } else if (name == "RunAtLoad" && plist_get_node_type(value) == PLIST_BOOLEAN) {
                std::uint8_t flag = 0;
                plist_get_bool_val(value, &flag);
                content.runAtLoad = flag != 0;
            }
        }
        std::free(iterator);
    }
    plist_free(root);
    return content;
}

class GeoweaveInstall : public ::testing::Test {
protected:
    PosixFileManager real;
    ScopedFileManager scope{real};
    RecordingLauncher recorder;
    ScopedLauncher launcherScope{recorder};
    ScopedEnvironment ownSearchPath{"OFX_PLUGIN_PATH", std::nullopt};
    TempDir dir;
    const fs::path bundle = dir / "Installer.app";
    ScopedResource resourceScope{bundle / "Contents/Resources"};
    const fs::path launchctl = bundle / "Contents/Helpers/launchctl";
    const fs::path home = dir / "home";
    const fs::path payload = dir / "payload";
    const fs::path temp = dir / "temp";
    const fs::path ofx = home / "OFX";
    const fs::path plugin = ofx / "Geoweave.ofx.bundle";
    const fs::path agentFile = home / "Library/LaunchAgents/de.geoweave.ofxpath.plist";
    const fs::path backups = home / "Library/Application Support/Geoweave/Installer-Backups";
    const Product product{"geoweave", "Geoweave", "2.0", "Payload", "", "Geoweave installieren?"};
    const std::string domain = uidDomain();
    const std::string target = uidDomain() + "/de.geoweave.ofxpath";

    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(temp);
        writeFile(payload / "Geoweave.ofx.bundle/Contents/Info.plist", "<plist>Geoweave 2.0</plist>\n");
        writeFile(payload / "Geoweave.ofx.bundle/Contents/Linux-x86-64/Geoweave.ofx", "geoweave 2.0\n", 0755);
    }

    nlohmann::json install(bool testing)
    {
        return runInstallation(RecipeBook{{"geoweave", installGeoweave}}, product, payload, temp, home, testing);
    }

    // The description of the error the run ends with.
    std::string failure(bool testing)
    {
        try {
            install(testing);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "installed";
    }

    // What an earlier installation left: its bundle and its agent.
    void earlierInstallation(const std::string& searchPath)
    {
        writeFile(plugin / "Contents/Info.plist", "<plist>Geoweave 1.0</plist>\n");
        writeFile(agentFile, launchAgentPropertyList("de.geoweave.ofxpath", searchPath), 0600);
    }

    void answer(const std::string& verb, int status, const std::string& output = {})
    {
        recorder.answers[verb] = LaunchResult{status, output};
    }

    AgentContent agent() const { return readAgentContent(readText(agentFile)); }

    std::vector<fs::path> backupFolders() const { return sortedEntries(backups); }

    // The differences a run made below home apart from its backup folder.
    std::vector<std::string> changesOutsideBackups(const TreeSnapshot& before) const
    {
        std::vector<std::string> changes;
        for (const std::string& line : differences(before, snapshot(home))) {
            bool backupFolder = line == "added Library" || line.starts_with("added Library/Application Support");
            if (!backupFolder) changes.push_back(line);
        }
        return changes;
    }

    Command getenv() const { return {"getenv", "OFX_PLUGIN_PATH"}; }
    Command bootout() const { return {"bootout", target}; }
    Command bootstrap() const { return {"bootstrap", domain, agentFile.native()}; }
    Command setenv(const std::string& value) const { return {"setenv", "OFX_PLUGIN_PATH", value}; }
    Command unsetenv() const { return {"unsetenv", "OFX_PLUGIN_PATH"}; }
};

}  // namespace kb::test
