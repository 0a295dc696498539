#include "products/huecraft.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"
#include "products/huecraft_settings.h"

#include <array>
#include <string>
#include <vector>

namespace kb {

namespace {

using std::filesystem::path;

// The script and the two language files, installed side by side from the
// runtime's "resolve" folder, in this order.
const std::array<const char*, 3> scriptFiles = {"Huecraft_Vireo.py", "huecraft_ui_language.py",
                                                "huecraft_ui_catalog.json"};

// The LUT folder named in the settings, or the default one below
// Application Support. A configured folder must be absolute once "~" is
// expanded; a path with a NUL byte cannot name any folder and would be cut
// short by the system, so it is refused the same way.
path chooseLutFolder(const nlohmann::json& settings, const RunContext& ctx)
{
    auto configured = settings.find("lut_dir");
    if (configured != settings.end() && configured->is_string()) {
        const std::string& value = configured->get_ref<const std::string&>();
        if (!value.empty()) {
            std::string expanded = expand(value, ctx.home);
            if (!expanded.starts_with('/') || expanded.find('\0') != std::string::npos) {
                throw InstallError(messages::lutNotAbsolute);
            }
            return expanded;
        }
    }
    return ctx.applicationSupport / "Huecraft" / "LUT";
}

// Where the recipe's items lie in the run's home.
struct Places {
    explicit Places(const RunContext& ctx)
        : runtime(ctx.applicationSupport / "Huecraft" / "Runtime-1.2.0b2"), settings(ctx.home / ".huecraft_vireo.json"),
          script(ctx.applicationSupport / "Blackmagic Design" / "DaVinci Resolve" / "Fusion" / "Scripts" / "Color" /
                 "Huecraft_Vireo.py"),
          colorScripts(script.parent_path())
    {
    }
    path runtime, settings, script, colorScripts;
};

// Checks the existing settings and the LUT folder before changing anything,
// then installs every item through the run's transaction and adds the
// recipe's keys to the result record.
class HuecraftRecipe final : public Recipe {
public:
    // The runtime, the script and its language files, and the settings file,
    // which is the user's own once there.
    std::vector<RecipeItem> items(const RunContext& ctx) const override
    {
        const Places at(ctx);
        std::vector<RecipeItem> list{{at.runtime, "Runtime-1.2.0b2", std::nullopt, false}};
        for (const char* name : scriptFiles) list.push_back({at.colorScripts / name, name, std::nullopt, false});
        list.push_back({at.settings, "huecraft-config.json", 0600, true});
        return list;
    }

    std::vector<std::string> payloadItems() const override
    {
        std::vector<std::string> items{"Runtime"};
        for (const char* name : scriptFiles) items.push_back(std::string("Runtime/resolve/") + name);
        return items;
    }

    void install(RunContext& ctx) override
    {
        const Places at(ctx);
        const path& runtime = at.runtime;
        const path& settingsFile = at.settings;

        // Nothing below changes anything until every check has passed.
        nlohmann::json settings = readSettings(settingsFile);
        const path lutFolder = chooseLutFolder(settings, ctx);
        if (!writableAncestor(lutFolder)) throw InstallError(messages::lutNotWritable);

        const path& script = at.script;
        const path& colorScripts = at.colorScripts;
        std::vector<path> changed{runtime, settingsFile};
        for (const char* name : scriptFiles) changed.push_back(colorScripts / name);
        // The LUTs would go away with an item the run replaces.
        for (const path& replaced : changed) {
            if (inside(resolvedPlace(lutFolder), resolvedPlace(replaced)))
                throw InstallError(messages::lutInsideReplacedItem(lutFolder.string()));
        }
        changed.push_back(lutFolder);
        declareChanges(ctx, changed);

        mergeSettings(settings, {runtime.string(), (runtime / "runtime" / "huecraft-engine").string(),
                                 lutFolder.string()});
        const path newSettings = writeTemp(jsonData(settings), ctx.temp / "new-config.json", 0600);

        // The one change outside the transaction: a rollback leaves the LUT
        // folder in place, and an existing one is never emptied.
        fm->createDirectory(lutFolder);

        ctx.transaction.replace(ctx.payload / "Runtime", runtime, "Runtime-1.2.0b2");
        for (const char* name : scriptFiles) {
            ctx.transaction.replace(ctx.payload / "Runtime" / "resolve" / name, colorScripts / name, name);
        }
        ctx.transaction.replace(newSettings, settingsFile, "huecraft-config.json", 0600);

        ctx.result["languageFiles"] = nlohmann::json::array({(colorScripts / "huecraft_ui_language.py").string(),
                                                             (colorScripts / "huecraft_ui_catalog.json").string()});
        ctx.result["runtime"] = runtime.string();
        ctx.result["script"] = script.string();
        ctx.result["lutDirectory"] = lutFolder.string();
        ctx.result["lutFolderRegistrationMayBeRequired"] = true;
        lutFolder_ = lutFolder;
    }

    std::string closingText() const override { return messages::huecraftClosing(lutFolder_.string()); }

private:
    path lutFolder_;  // the LUT folder the run used, which the user is asked to register
};

}  // namespace

std::unique_ptr<Recipe> makeHuecraftRecipe()
{
    return std::make_unique<HuecraftRecipe>();
}

}  // namespace kb
