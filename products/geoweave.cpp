#include "products/geoweave.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "core/property_list_limits.h"
#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "core/paths.h"
#include "platform/file_manager.h"
#include "platform/system_tools.h"
#include "products/launch_agent.h"

#include <cstdlib>
#include <optional>
#include <system_error>

namespace kb {

namespace {

constexpr const char* bundleName = "Geoweave.ofx.bundle";
constexpr const char* systemWideCopy = "/Library/OFX/Plugins/Geoweave.ofx.bundle";

// launchd's current OFX_PLUGIN_PATH, trimmed. A launchctl that fails prints
// a complaint, not a search path, so its text is not taken. A value that is
// not text cannot be kept, nor may it be replaced or unset: the run is
// refused before anything is changed.
std::string liveLaunchdValue()
{
    ProcessResult result = process(systemTool("launchctl"), {"getenv", "OFX_PLUGIN_PATH"}, false);
    if (result.status != 0) return {};
    if (!result.outputIsText) throw InstallError(messages::searchPathUnreadable);
    return trimWhitespace(result.output);
}

// The search path an agent file from an earlier installation sets; no file,
// a folder or a foreign file contributes nothing. An agent file that is there
// but cannot be read (a FIFO or a device among them, or one larger than any
// agent) stops the run: going on without it would drop the folders it names
// from OFX_PLUGIN_PATH while reporting them kept.
std::optional<std::string> earlierAgentSearchPath(const std::filesystem::path& agentFile)
{
    std::string bytes;
    try {
        bytes = readFile(agentFile, maxPropertyListBytes);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory || error.code() == std::errc::not_a_directory
            || error.code() == std::errc::is_a_directory) {
            return std::nullopt;
        }
        if (error.code() == std::errc::file_too_large) throw InstallError(messages::earlierAgentTooLarge);
        throw;
    }
    return agentSearchPath(bytes);
}

}  // namespace

SearchPath collectSearchPath(const RunContext& ctx, const std::filesystem::path& agentFile, std::string& launchdValue)
{
    SearchPath searchPath;
    launchdValue.clear();
    if (!ctx.testing) {
        launchdValue = liveLaunchdValue();
        addEntries(searchPath, launchdValue);
        if (const char* own = std::getenv("OFX_PLUGIN_PATH")) addEntries(searchPath, own);
        if (kb::exists(systemWideCopy)) {
            throw InstallError(messages::systemWideCopy);
        }
    }
    if (std::optional<std::string> earlier = earlierAgentSearchPath(agentFile)) addEntries(searchPath, *earlier);
    return searchPath;
}

void checkOtherCopies(const SearchPath& searchPath, const std::filesystem::path& home,
                      const std::filesystem::path& destination)
{
    for (const std::string& entry : searchPath.entries) {
        std::filesystem::path candidate = std::filesystem::path(expand(entry, home)) / bundleName;
        if (!kb::exists(candidate)) continue;
        if (canonicalPath(candidate) != canonicalPath(destination)) {
            throw InstallError(messages::otherSearchFolderCopy);
        }
    }
}

namespace {

class GeoweaveRecipe final : public Recipe {
public:
    std::vector<std::string> payloadItems() const override { return {bundleName}; }

    std::vector<RecipeItem> items(const RunContext& ctx) const override
    {
        const LaunchAgent agent = searchPathAgent(ctx.home);
        return {{ctx.home / "OFX" / bundleName, bundleName, std::nullopt, false},
                {agent.file, agent.label + ".plist", 0644, false}};
    }

    // The plug-in and the agent file put back; then launchd follows the agent
    // in place (outside test mode).
    void restore(RunContext& ctx, const BackupContents& backup) override
    {
        beginLaunchdChange(ctx);
        Recipe::restore(ctx, backup);
        if (!ctx.testing) reloadLaunchAgent(ctx, agent_, withoutOurs(ctx), launchdChanged_);
    }

    // The plug-in taken away, and the OFX folder out of the agent's search
    // path: the agent is written anew with the folders left in it, or taken
    // away when none is; launchd follows (outside test mode). The user's own
    // folders stay on the search path.
    void uninstall(RunContext& ctx) override
    {
        beginLaunchdChange(ctx);
        const std::filesystem::path destination = ctx.home / "OFX" / bundleName;
        nlohmann::json removed = nlohmann::json::array();
        if (itemAt(destination)) {
            checkChangesInside(ctx, {destination, agent_.file});
            ctx.transaction.remove(destination, bundleName);
            removed.push_back(destination.native());
        }
        if (itemAt(agent_.file)) {
            checkChangesInside(ctx, {agent_.file});
            const std::string left = searchPathWithout(earlierAgentSearchPath(agent_.file).value_or(""), ofxFolderOf(ctx));
            if (left.empty()) {
                ctx.transaction.remove(agent_.file, agent_.label + ".plist");
                removed.push_back(agent_.file.native());
            } else {
                const std::filesystem::path scratch =
                    writeTemp(launchAgentPropertyList(agent_.label, left), ctx.temp / "new-agent.plist", 0644);
                ctx.transaction.replace(scratch, agent_.file, agent_.label + ".plist", 0644);
            }
        }
        ctx.result["removed"] = removed;
        if (!ctx.testing) reloadLaunchAgent(ctx, agent_, withoutOurs(ctx), launchdChanged_);
    }

    void install(RunContext& ctx) override
    {
        agent_ = searchPathAgent(ctx.home);
        const std::filesystem::path ofxFolder = ctx.home / "OFX";
        const std::filesystem::path destination = ofxFolder / bundleName;

        SearchPath searchPath = collectSearchPath(ctx, agent_.file, previousLaunchdValue_);
        if (!ctx.testing) checkOtherCopies(searchPath, ctx.home, destination);
        declareChanges(ctx, {destination, agent_.file});
        PreparedAgent prepared = prepareLaunchAgent(std::move(searchPath), ofxFolder, agent_.label, ctx.temp);

        ctx.transaction.replace(ctx.payload / bundleName, destination, bundleName);
        installAndLoadLaunchAgent(ctx, agent_, prepared, launchdChanged_);

        ctx.result["plugin"] = destination.native();
        ctx.result["launchAgent"] = agent_.file.native();
        ctx.result["existingSearchPathsPreserved"] = true;
    }

    std::string restoreAfterFailure(const RunContext&) noexcept override
    {
        if (launchdChanged_ && !restoreLaunchd(agent_, previousLaunchdValue_))
            return std::string(messages::earlierAgentAtNextLogin);
        return {};
    }

    std::string closingText() const override { return std::string(messages::geoweaveClosing); }

private:
    static std::string ofxFolderOf(const RunContext& ctx) { return (ctx.home / "OFX").native(); }

    // The agent, and launchd's value before the run (outside test mode), read
    // before anything is changed, for the restore should the run fail.
    void beginLaunchdChange(const RunContext& ctx)
    {
        agent_ = searchPathAgent(ctx.home);
        if (!ctx.testing) previousLaunchdValue_ = liveLaunchdValue();
    }

    // launchd's search path without the OFX folder, for when no agent is left.
    std::string withoutOurs(const RunContext& ctx) const
    {
        return searchPathWithout(previousLaunchdValue_, ofxFolderOf(ctx));
    }

    LaunchAgent agent_;
    bool launchdChanged_ = false;        // set once launchd is changed outside test mode
    std::string previousLaunchdValue_;  // OFX_PLUGIN_PATH before the run; empty in test mode
};

}  // namespace

std::unique_ptr<Recipe> makeGeoweaveRecipe()
{
    return std::make_unique<GeoweaveRecipe>();
}

}  // namespace kb
