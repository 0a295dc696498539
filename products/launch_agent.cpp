#include "products/launch_agent.h"

#include "core/install_error.h"
#include "core/property_list_limits.h"
#include "core/messages.h"
#include "core/unicode.h"
#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "platform/system_tools.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace kb {

PreparedAgent prepareLaunchAgent(SearchPath searchPath, const std::filesystem::path& ofxFolder,
                                 const std::string& label, const std::filesystem::path& temp)
{
    // The agent written must be well-formed, and no folder may be lost on the
    // way: an entry it cannot carry, or an OFX folder that would split into
    // two or not be carried, refuses the run before anything is changed.
    for (const std::string& entry : searchPath.entries) {
        if (!fitsXmlText(entry)) throw InstallError(messages::searchPathUnreadable);
    }
    std::filesystem::path folder;
    for (const std::filesystem::path& name : ofxFolder) {
        folder /= name;
        if (name.native().find(':') != std::string::npos || !fitsXmlText(name.native()))
            throw InstallError(messages::ofxFolderUnfit(ofxFolder.native(), folder.native()));
    }
    addEntries(searchPath, ofxFolder.native());
    PreparedAgent agent;
    agent.searchPathValue = joinSearchPath(searchPath);
    agent.scratchFile = writeTemp(launchAgentPropertyList(label, agent.searchPathValue), temp / "new-agent.plist", 0644);
    return agent;
}

LaunchAgent searchPathAgent(const std::filesystem::path& home)
{
    const std::string label = "de.geoweave.ofxpath";
    return {"gui/" + std::to_string(::getuid()), label, home / "Library/LaunchAgents" / (label + ".plist")};
}

namespace {

// Right after a bootout, launchd refuses for a few seconds to load the same
// label again: bootstrap then fails with 5 (EIO) or 37 (EALREADY). Such a
// bootstrap is tried again after a short pause, for about ten seconds.
constexpr std::chrono::seconds bootstrapPatience{10};
constexpr std::chrono::milliseconds bootstrapPause{500};

// The status of the last bootstrap of `agent`, the first that launchd did not
// refuse for being busy, or the last one tried. A run that was asked to end
// tries once: whoever asked waits for no further ten seconds.
int bootstrap(const LaunchAgent& agent)
{
    const auto giveUp = std::chrono::steady_clock::now() + (interruptionNoted() ? std::chrono::seconds(0) : bootstrapPatience);
    for (;;) {
        const int status = process(systemTool("launchctl"), {"bootstrap", agent.domain, agent.file.native()}, false).status;
        if ((status != 5 && status != 37) || std::chrono::steady_clock::now() + bootstrapPause > giveUp) return status;
        pauseFor(bootstrapPause);
    }
}

}  // namespace

void installAndLoadLaunchAgent(RunContext& ctx, const LaunchAgent& agent, const PreparedAgent& prepared,
                               bool& launchdChanged)
{
    ctx.transaction.replace(prepared.scratchFile, agent.file, agent.label + ".plist", 0644);
    if (ctx.testing) return;

    // From here on a failure has to put launchd back the way it was.
    launchdChanged = true;
    ctx.progress.begin(Step::searchPath);
    const std::filesystem::path launchctl = systemTool("launchctl");
    // Unloads the agent of an earlier installation; one that is not loaded is fine.
    process(launchctl, {"bootout", agent.serviceTarget()}, false);
    // launchd loads the new agent and, as it runs at load, sets the variable.
    if (const int status = bootstrap(agent); status != 0) {
        throw InstallError(messages::systemStepFailed(launchctl.filename().native(), status));
    }
    process(launchctl, {"setenv", "OFX_PLUGIN_PATH", prepared.searchPathValue}, true);
}

void reloadLaunchAgent(RunContext& ctx, const LaunchAgent& agent, const std::string& withoutAgent, bool& launchdChanged)
{
    std::optional<std::string> value;
    if (itemAt(agent.file)) value = agentSearchPath(readFile(agent.file, maxPropertyListBytes));
    launchdChanged = true;
    ctx.progress.begin(Step::searchPath);
    const std::filesystem::path launchctl = systemTool("launchctl");
    process(launchctl, {"bootout", agent.serviceTarget()}, false);
    if (value) {
        if (const int status = bootstrap(agent); status != 0)
            throw InstallError(messages::systemStepFailed(launchctl.filename().native(), status));
        process(launchctl, {"setenv", "OFX_PLUGIN_PATH", *value}, true);
    } else if (!withoutAgent.empty()) {
        process(launchctl, {"setenv", "OFX_PLUGIN_PATH", withoutAgent}, true);
    } else {
        process(launchctl, {"unsetenv", "OFX_PLUGIN_PATH"}, true);
    }
}

std::string searchPathWithout(const std::string& value, const std::string& folder)
{
    SearchPath list;
    addEntries(list, value);
    std::erase(list.entries, folder);
    return joinSearchPath(list);
}

namespace {

// The restore is best effort: a command that cannot start or that fails
// must not keep the later ones from running.
void attempt(const std::vector<std::string>& arguments) noexcept
{
    try {
        process(systemTool("launchctl"), arguments, false);
    } catch (...) {
    }
}

}  // namespace

bool restoreLaunchd(const LaunchAgent& agent, const std::string& previousValue) noexcept
{
    attempt({"bootout", agent.serviceTarget()});
    bool loaded = true;
    try {
        if (kb::exists(agent.file)) loaded = bootstrap(agent) == 0;
    } catch (...) {
        loaded = false;
    }
    if (!previousValue.empty()) {
        attempt({"setenv", "OFX_PLUGIN_PATH", previousValue});
    } else {
        attempt({"unsetenv", "OFX_PLUGIN_PATH"});
    }
    return loaded;
}

}  // namespace kb
