#pragma once
// The per-user launch agent that puts the OFX folder on OFX_PLUGIN_PATH:
// whenever launchd loads it, it runs
// /bin/launchctl setenv OFX_PLUGIN_PATH <search path>.

#include "products/recipe.h"
#include "products/search_path.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kb {

// The agent as launchd knows it.
struct LaunchAgent {
    std::string domain;          // the user's launchd domain, "gui/<uid>"
    std::string label;           // "de.geoweave.ofxpath"
    std::filesystem::path file;  // home/Library/LaunchAgents/<label>.plist

    // "<domain>/<label>", the agent as launchctl names it.
    std::string serviceTarget() const { return domain + "/" + label; }
};

// The search-path agent of the current user for `home`.
LaunchAgent searchPathAgent(const std::filesystem::path& home);

struct PreparedAgent {
    std::string searchPathValue;          // the search path joined with ":"
    std::filesystem::path scratchFile;    // the agent's property list, written below temp
};

// The agent's property list as XML: "Label", "ProgramArguments" (the four
// strings of the setenv command) and "RunAtLoad" true.
std::string launchAgentPropertyList(const std::string& label, const std::string& searchPathValue);

// The search path an agent's property list sets, read as launchd reads it
// (core/property_list.h): the fourth of its "ProgramArguments" when those are
// at least four strings, the second "setenv" and the third "OFX_PLUGIN_PATH".
// Nothing for any other content. Refused with InstallError: a list holding
// text that no XML can carry (a NUL, a character reference to a character XML
// does not allow), which a reader would drop or cut short, and a list beyond
// the limits of core/property_list_limits.h, which no reader is given.
std::optional<std::string> agentSearchPath(std::string_view propertyList);

// Adds the OFX folder to the search path (keeping an earlier position of
// the same text) and writes the agent for it to temp/new-agent.plist, 0644.
// Refuses (InstallError) a search path with an entry an XML property list
// cannot carry as it is, and an OFX folder whose path holds a ":" or such a
// character.
PreparedAgent prepareLaunchAgent(SearchPath searchPath, const std::filesystem::path& ofxFolder,
                                 const std::string& label, const std::filesystem::path& temp);

// Puts the prepared agent in place through the run's transaction and,
// outside test mode, loads it into the user's launchd domain and sets the
// variable there at once. Sets `launchdChanged` before the first command.
// A bootstrap that launchd refuses as busy right after the bootout (status
// 5 or 37) is tried again for about ten seconds, here and in restoreLaunchd
// (but once only in a run that was asked to end).
void installAndLoadLaunchAgent(RunContext& ctx, const LaunchAgent& agent, const PreparedAgent& prepared,
                               bool& launchdChanged);

// After a restore or an uninstall has put the agent file back or taken it
// away: unloads the agent, loads the one now in place and sets
// OFX_PLUGIN_PATH to its search path, or, with none in place, to
// `withoutAgent` (or removes it when that is empty). Sets `launchdChanged`
// before the first command; the bootstrap is tried again as in
// installAndLoadLaunchAgent, and its failure, or setenv's, is the run's.
void reloadLaunchAgent(RunContext& ctx, const LaunchAgent& agent, const std::string& withoutAgent, bool& launchdChanged);

// `value` (a search path) without the entry `folder`.
std::string searchPathWithout(const std::string& value, const std::string& folder);

// Puts launchd back the way it was before a failed installation: unloads the
// agent, loads the agent file again if rollback left one in place, and sets
// OFX_PLUGIN_PATH back to `previousValue` (or removes it when that is empty).
// Every step is tried; none ever throws. False when the agent file is back
// but launchd could not load it (it does so at the next login).
bool restoreLaunchd(const LaunchAgent& agent, const std::string& previousValue) noexcept;

}  // namespace kb
